#include "app/scan.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "sys/utils.h"

namespace app {
namespace {

constexpr const char* kForm =
    "A scan is -scan=name:values, e.g. -scan=threads:1,2,4,8 or -scan=threads:1..8 or "
    "-scan=size:8..64:8";

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool IsWordChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

bool IsDigits(const std::string& text, size_t from, size_t to) {
    if (from >= to) return false;
    for (size_t i = from; i < to; ++i)
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return false;
    return true;
}

// "-12", "+3", "40": a whole number that fits an int.
bool ParseWhole(const std::string& text, int64_t& value) {
    const size_t digits = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (!IsDigits(text, digits, text.size()) || text.size() - digits > 10) return false;
    value = std::strtoll(text.c_str(), nullptr, 10);
    return value >= INT32_MIN && value <= INT32_MAX;
}

// "0.5", "-1.25", ".5", "2.": digits with one point.
bool ParseDecimal(const std::string& text, double& value) {
    const size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    const size_t point = text.find('.', start);
    if (point == std::string::npos || text.find('.', point + 1) != std::string::npos) return false;
    const bool before = point == start || IsDigits(text, start, point);
    const bool after = point + 1 == text.size() || IsDigits(text, point + 1, text.size());
    if (!before || !after || text.size() - start < 2) return false;
    value = std::strtod(text.c_str(), nullptr);
    return std::isfinite(value) && std::fabs(value) <= 3.4e38;  // a float's range
}

bool IsReservedWord(const std::string& lowered) {
    static const char* const kWords[] = {"true",   "false",    "yes", "no",    "global",
                                         "return", "function", "try", "catch", "last"};
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&](const char* w) { return lowered == w; });
}

std::string Trimmed(std::string text) {
    CUtils::Trim(text);
    return text;
}

// The items between commas, blanks around them dropped; an empty item stays.
std::vector<std::string> CommaSeparated(const std::string& text) {
    std::vector<std::string> items;
    for (size_t from = 0;;) {
        const size_t comma = text.find(',', from);
        items.push_back(Trimmed(text.substr(from, comma - from)));
        if (comma == std::string::npos) return items;
        from = comma + 1;
    }
}

bool ParseRange(const std::string& name, const std::string& text,
                std::vector<avs::ScriptVariable>& values, std::string& reason) {
    const size_t dots = text.find("..");
    const size_t colon = text.find(':', dots);
    const std::string first = Trimmed(text.substr(0, dots));
    const std::string last = Trimmed(text.substr(dots + 2, colon - (dots + 2)));
    const std::string step = colon == std::string::npos ? "1" : Trimmed(text.substr(colon + 1));
    int64_t a = 0, b = 0, s = 0;
    if (!ParseWhole(first, a) || !ParseWhole(last, b) || !ParseWhole(step, s)) {
        reason =
            "A range is first..last or first..last:step, in whole numbers (e.g. 1..8, "
            "8..64:8)";
        return false;
    }
    if (s <= 0) {
        reason = "The step of a range must be 1 or more";
        return false;
    }
    if (a > b) {
        reason = "The range runs backwards: write it from the lowest value up (" + last + ".." +
                 first + ")";
        return false;
    }
    if ((b - a) / s + 1 > static_cast<int64_t>(kMostScanValues)) {
        reason = CUtils::FormatString("A scan takes at most %zu values; this range has %lld",
                                      kMostScanValues, static_cast<long long>((b - a) / s + 1));
        return false;
    }
    for (int64_t v = a; v <= b; v += s) {
        avs::ScriptVariable one;
        one.name = name;
        one.kind = avs::ScriptVariable::Kind::kInt;
        one.integer = static_cast<int>(v);
        one.text = std::to_string(v);
        values.push_back(std::move(one));
    }
    return true;
}

bool ParseList(const std::string& name, const std::string& text,
               std::vector<avs::ScriptVariable>& values, std::string& reason) {
    const std::vector<std::string> items = CommaSeparated(text);
    if (items.size() > kMostScanValues) {
        reason = CUtils::FormatString("A scan takes at most %zu values; this list has %zu",
                                      kMostScanValues, items.size());
        return false;
    }
    bool anyDecimal = false;
    for (const std::string& item : items) {
        if (item.empty()) {
            reason = "A value of the list is empty: separate the values by single commas";
            return false;
        }
        if (std::any_of(item.begin(), item.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
            reason = "A value holds a control character";
            return false;
        }
        avs::ScriptVariable one;
        one.name = name;
        one.text = item;
        int64_t whole = 0;
        if (ParseWhole(item, whole)) {
            one.kind = avs::ScriptVariable::Kind::kInt;
            one.integer = static_cast<int>(whole);
            one.decimal = static_cast<double>(whole);
        } else if (ParseDecimal(item, one.decimal)) {
            one.kind = avs::ScriptVariable::Kind::kFloat;
            anyDecimal = true;
        } else {
            one.kind = avs::ScriptVariable::Kind::kString;
        }
        values.push_back(std::move(one));
    }
    for (avs::ScriptVariable& v : values) {
        if (anyDecimal && v.kind == avs::ScriptVariable::Kind::kInt)
            v.kind = avs::ScriptVariable::Kind::kFloat;
    }
    // The same value twice would measure one variant against itself.
    for (size_t i = 0; i < values.size(); ++i) {
        for (size_t j = 0; j < i; ++j) {
            const avs::ScriptVariable &a = values[j], &b = values[i];
            const bool same = a.kind == b.kind && (a.kind == avs::ScriptVariable::Kind::kString
                                                       ? a.text == b.text
                                                       : a.decimal == b.decimal);
            if (same) {
                reason = "The value " + b.text + " is given twice";
                return false;
            }
        }
    }
    return true;
}

// Where the script's code is: comments and strings blanked out, ends of lines kept.
std::string CodeOf(const std::string& text) {
    std::string code = text;
    for (size_t i = 0; i < code.size();) {
        if (code[i] == '#') {
            while (i < code.size() && code[i] != '\n')
                code[i++] = ' ';
        } else if (code.compare(i, 2, "/*") == 0) {
            const size_t end = code.find("*/", i + 2);
            const size_t stop = end == std::string::npos ? code.size() : end + 2;
            for (; i < stop; ++i)
                if (code[i] != '\n') code[i] = ' ';
        } else if (code.compare(i, 3, "\"\"\"") == 0 || code[i] == '"') {
            const std::string quote = code.compare(i, 3, "\"\"\"") == 0 ? "\"\"\"" : "\"";
            const size_t end = code.find(quote, i + quote.size());
            const size_t stop = end == std::string::npos ? code.size() : end + quote.size();
            for (; i < stop; ++i)
                if (code[i] != '\n') code[i] = ' ';
        } else {
            ++i;
        }
    }
    return Lower(code);
}

// Positions where the word stands whole in the code.
std::vector<size_t> WordsAt(const std::string& code, const std::string& word) {
    std::vector<size_t> at;
    for (size_t i = code.find(word); i != std::string::npos; i = code.find(word, i + 1)) {
        const bool startsWord = i == 0 || !IsWordChar(code[i - 1]);
        const size_t end = i + word.size();
        if (startsWord && (end == code.size() || !IsWordChar(code[end]))) at.push_back(i);
    }
    return at;
}

size_t SkipBlanks(const std::string& code, size_t i) {
    while (i < code.size() && (code[i] == ' ' || code[i] == '\t' || code[i] == '\\' ||
                               code[i] == '\r' || code[i] == '\n'))
        ++i;
    return i;
}

}  // namespace

bool ParseScan(const std::string& scanText, std::vector<avs::ScriptVariable>& values,
               std::string& reason) {
    values.clear();
    reason.clear();
    const size_t colon = scanText.find(':');
    const std::string name = Trimmed(scanText.substr(0, colon));
    const std::string list = colon == std::string::npos ? "" : Trimmed(scanText.substr(colon + 1));
    if (colon == std::string::npos || name.empty() || list.empty()) {
        reason = kForm;
        return false;
    }
    const bool identifier = (std::isalpha(static_cast<unsigned char>(name[0])) || name[0] == '_') &&
                            std::all_of(name.begin(), name.end(), IsWordChar) && name.size() <= 64;
    if (!identifier) {
        reason = "\"" + name +
                 "\" is not a script variable name: letters, digits and _, not starting with a "
                 "digit";
        return false;
    }
    if (IsReservedWord(Lower(name))) {
        reason = "\"" + name + "\" is a word of the script language, not a variable of its own";
        return false;
    }
    const bool ok = list.find("..") != std::string::npos ? ParseRange(name, list, values, reason)
                                                         : ParseList(name, list, values, reason);
    if (!ok) values.clear();
    return ok;
}

bool ScriptNamesVariable(const std::string& scriptText, const std::string& name) {
    return !WordsAt(CodeOf(scriptText), Lower(name)).empty();
}

bool PassesToPrefetch(const std::string& scriptText, const std::string& name) {
    const std::string code = CodeOf(scriptText);
    const std::string variable = Lower(name);
    for (const size_t call : WordsAt(code, "prefetch")) {
        size_t i = SkipBlanks(code, call + 8);
        if (i >= code.size() || code[i] != '(') continue;
        // The thread count is the first argument after the clip, or the one named threads.
        const size_t close = code.find(')', i);
        const std::string args =
            code.substr(i + 1, close == std::string::npos ? std::string::npos : close - i - 1);
        for (std::string part : CommaSeparated(args)) {
            if (part.compare(0, 7, "threads") == 0 && part.find('=') != std::string::npos)
                part = Trimmed(part.substr(part.find('=') + 1));
            if (part == variable) return true;
        }
    }
    return false;
}

}  // namespace app
