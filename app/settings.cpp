#include "app/settings.h"

RunSettings g_settings;

const char* IniSectionName(IniSection section) {
    switch (section) {
        case IniSection::kMain:
            return "Main";
        case IniSection::kMiscellaneous:
            return "Miscellaneous";
    }
    return "";
}

const IniKey* FindIniKey(const std::string& name) {
    for (const IniKey& key : kIniKeys) {
        if (name == key.name) return &key;
    }
    return nullptr;
}
