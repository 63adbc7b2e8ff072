// A value the tool gives a script variable before the script is imported.
#pragma once

#include <string>

namespace avs {

struct ScriptVariable {
    enum class Kind { kInt, kFloat, kString };
    std::string name;
    Kind kind = Kind::kInt;
    int integer = 0;
    double decimal = 0;
    std::string text;  // as typed: a string's value, and how any value is shown

    // "threads=4"
    std::string Shown() const { return name + "=" + text; }
};

}  // namespace avs
