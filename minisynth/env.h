// The script environment: function table, variables, multi-threading state and the
// switches of the library variant being built. One per avs_create_script_environment.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core.h"

namespace ms {

// What a built library offers; capi.cpp fills it from its compile definitions so that
// everything else is compiled once for all variants.
struct Variant {
    std::string name = "default";
    int maxInterface = 12;  // highest interface version accepted
    bool versionString = true;
    bool prefetch = true;
    bool setMTMode = false;
    bool getMTMode = false;
    bool distributor = false;
};

// One parameter of a signature such as "c[radius]f".
struct Param {
    std::string name;       // empty: can only be given by position
    char type = '.';        // c i f b s .
    char repeat = 0;        // 0, '*' (any number) or '+' (at least one)
    bool optional = false;  // written in brackets: "[name]f" or "[]f"
};

// Throws std::invalid_argument for a malformed signature: a fault of the function table.
std::vector<Param> ParseSignature(const std::string& params);

// Fills bound with one Value per parameter (Void when not given, an Array for a repeated
// parameter). names holds one entry per argument, empty for a positional one.
// Returns false when the arguments do not fit.
bool BindArguments(const std::vector<Param>& params, const std::vector<Value>& args,
                   const std::vector<std::string>& names, std::vector<Value>& bound);

constexpr const char* kVersionString = "minisynth 0.9 (stand-in frame server)";
constexpr double kVersionNumber = 2.6;

class Env {
  public:
    explicit Env(const Variant& variant = Variant());
    Env(const Env&) = delete;
    Env& operator=(const Env&) = delete;

    const Variant& GetVariant() const { return variant_; }

    // Adds or replaces a function (names are case-insensitive).
    void AddFunction(Function fn);
    void RemoveFunction(const std::string& name);
    bool FunctionExists(const std::string& name) const { return Find(name) != nullptr; }
    std::vector<std::string> FunctionNames() const;  // as registered

    // Calls a function by name with the given arguments. Throws ms::Error with AviSynth's
    // wording for a missing function or arguments that do not fit.
    Value Invoke(const std::string& name, const std::vector<Value>& args,
                 const std::vector<std::string>& names = {});
    // As Invoke, but returns false instead of throwing when the arguments do not fit.
    bool TryInvoke(const std::string& name, const std::vector<Value>& args,
                   const std::vector<std::string>& names, Value& result);

    // Variables, case-insensitive; "last" is one of them.
    bool GetVar(const std::string& name, Value& value) const;
    void SetVar(const std::string& name, Value value);

    // Evaluates script text; fileName appears in error locations.
    Value Evaluate(const std::string& text, const std::string& fileName);
    // Reads and evaluates a script file. A relative path is taken from the directory of the
    // script being imported, or from the current directory at the outermost level.
    Value Import(const std::string& path);

    MtState& Mt() { return mt_; }

  private:
    struct Entry {
        Function fn;
        std::vector<Param> params;
    };
    const Entry* Find(const std::string& name) const;
    void RegisterOwnFunctions();

    Variant variant_;
    std::map<std::string, Entry> functions_;  // by lower-case name
    std::map<std::string, Value> vars_;       // by lower-case name
    std::vector<std::string> importDirs_;     // directories of the scripts being imported
    MtState mt_;
};

std::string ToLower(std::string s);

}  // namespace ms
