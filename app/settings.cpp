#include "app/settings.h"

RunSettings g_settings;
