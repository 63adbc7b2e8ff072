#include "env.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "script/evaluator.h"
#include "script/parser.h"

namespace ms {

namespace fs = std::filesystem;

namespace {

// Deeper imports are taken for a script importing itself.
constexpr size_t kMaxImportDepth = 64;

bool Accepts(char type, const Value& v) {
    switch (type) {
        case 'c':
            return v.IsClip();
        case 'i':
            return v.IsInt();
        case 'f':
            return v.IsFloat();
        case 'b':
            return v.IsBool();
        case 's':
            return v.IsString();
        default:
            return !v.IsVoid();
    }
}

Value Converted(char type, const Value& v) {
    return type == 'f' && v.IsInt() ? Value::Float(v.AsInt()) : v;
}

int ThreadsOrProcessors(int threads) {
    if (threads > 0) return threads;
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace

std::string ToLower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<Param> ParseSignature(const std::string& params) {
    std::vector<Param> out;
    size_t i = 0;
    while (i < params.size()) {
        Param p;
        if (params[i] == '[') {
            size_t close = params.find(']', i);
            if (close == std::string::npos)
                throw std::invalid_argument("unclosed '[' in signature \"" + params + "\"");
            p.name = params.substr(i + 1, close - i - 1);
            p.optional = true;
            i = close + 1;
        }
        if (i >= params.size() || std::string("cifbs.").find(params[i]) == std::string::npos)
            throw std::invalid_argument("bad type in signature \"" + params + "\"");
        p.type = params[i++];
        if (i < params.size() && (params[i] == '*' || params[i] == '+')) p.repeat = params[i++];
        out.push_back(p);
    }
    return out;
}

bool BindArguments(const std::vector<Param>& params, const std::vector<Value>& args,
                   const std::vector<std::string>& names, std::vector<Value>& bound) {
    const size_t n = params.size();
    bound.assign(n, Value());
    std::vector<bool> given(n, false);
    std::vector<std::vector<Value>> lists(n);
    auto isNamed = [&](size_t a) { return a < names.size() && !names[a].empty(); };

    // Positional arguments fill the parameters in order; a repeated parameter takes as
    // many as match its type.
    size_t pi = 0;
    for (size_t a = 0; a < args.size(); ++a) {
        if (isNamed(a)) continue;
        const Value& v = args[a];
        for (;;) {
            if (pi >= n) return false;
            const Param& p = params[pi];
            if (p.repeat) {
                if (!v.IsVoid() && Accepts(p.type, v)) {
                    lists[pi].push_back(Converted(p.type, v));
                    given[pi] = true;
                    break;
                }
                ++pi;  // the list ends here; try the next parameter
                continue;
            }
            if (v.IsVoid()) {
                if (!p.optional) return false;  // Void leaves an optional parameter unset
            } else if (!Accepts(p.type, v)) {
                return false;
            } else {
                bound[pi] = Converted(p.type, v);
            }
            given[pi] = true;
            ++pi;
            break;
        }
    }

    // Named arguments fill named parameters not given yet.
    for (size_t a = 0; a < args.size(); ++a) {
        if (!isNamed(a)) continue;
        const std::string name = ToLower(names[a]);
        auto it = std::find_if(params.begin(), params.end(), [&](const Param& p) {
            return !p.name.empty() && ToLower(p.name) == name;
        });
        if (it == params.end()) return false;
        size_t j = static_cast<size_t>(it - params.begin());
        if (given[j]) return false;
        given[j] = true;
        const Value& v = args[a];
        if (v.IsVoid()) continue;
        if (it->repeat) {
            std::vector<Value> items = v.IsArray() ? v.AsArray() : std::vector<Value>{v};
            for (const Value& item : items) {
                if (!Accepts(it->type, item)) return false;
                lists[j].push_back(Converted(it->type, item));
            }
        } else if (Accepts(it->type, v)) {
            bound[j] = Converted(it->type, v);
        } else {
            return false;
        }
    }

    for (size_t j = 0; j < n; ++j) {
        const Param& p = params[j];
        if (p.repeat) {
            if (p.repeat == '+' && lists[j].empty()) return false;
            bound[j] = Value::Array(std::move(lists[j]));
        } else if (!p.optional && !given[j]) {
            return false;
        }
    }
    return true;
}

Env::Env(const Variant& variant) : variant_(variant) {
    std::vector<Function> table;
    RegisterFilters(table);
    for (Function& fn : table)
        AddFunction(std::move(fn));
    RegisterOwnFunctions();
}

void Env::AddFunction(Function fn) {
    Entry entry;
    entry.params = ParseSignature(fn.params);
    entry.fn = std::move(fn);
    std::string key = ToLower(entry.fn.name);
    functions_[key] = std::move(entry);
}

void Env::RemoveFunction(const std::string& name) {
    functions_.erase(ToLower(name));
}

std::vector<std::string> Env::FunctionNames() const {
    std::vector<std::string> names;
    for (const auto& f : functions_)
        names.push_back(f.second.fn.name);
    return names;
}

const Env::Entry* Env::Find(const std::string& name) const {
    auto it = functions_.find(ToLower(name));
    return it == functions_.end() ? nullptr : &it->second;
}

bool Env::TryInvoke(const std::string& name, const std::vector<Value>& args,
                    const std::vector<std::string>& names, Value& result) {
    const Entry* entry = Find(name);
    if (!entry) throw Error("Script error: There is no function named \"" + name + "\".");
    std::vector<Value> bound;
    if (!BindArguments(entry->params, args, names, bound)) return false;
    result = entry->fn.call(*this, bound);
    return true;
}

Value Env::Invoke(const std::string& name, const std::vector<Value>& args,
                  const std::vector<std::string>& names) {
    Value result;
    if (!TryInvoke(name, args, names, result))
        throw Error("Script error: Invalid arguments to function \"" + name + "\"");
    return result;
}

bool Env::GetVar(const std::string& name, Value& value) const {
    auto it = vars_.find(ToLower(name));
    if (it == vars_.end()) return false;
    value = it->second;
    return true;
}

void Env::SetVar(const std::string& name, Value value) {
    vars_[ToLower(name)] = std::move(value);
}

Value Env::Evaluate(const std::string& text, const std::string& fileName) {
    script::Program program = script::Parse(text, fileName);
    return script::Run(program, *this);
}

Value Env::Import(const std::string& path) {
    if (importDirs_.size() >= kMaxImportDepth)
        throw Error("Import: scripts nested too deeply at \"" + path + "\"");
    fs::path file(path);
    if (file.is_relative() && !importDirs_.empty()) file = fs::path(importDirs_.back()) / file;
    std::error_code ec;
    std::ifstream in;
    if (!path.empty() && !fs::is_directory(file, ec)) in.open(file, std::ios::binary);
    if (!in.is_open()) throw Error("Import: couldn't open \"" + path + "\"");
    std::ostringstream text;
    text << in.rdbuf();

    fs::path dir = fs::absolute(file, ec).parent_path();
    importDirs_.push_back(ec ? std::string() : dir.string());
    struct Pop {
        std::vector<std::string>& dirs;
        ~Pop() { dirs.pop_back(); }
    } pop{importDirs_};
    return Evaluate(text.str(), path);
}

void Env::RegisterOwnFunctions() {
    AddFunction({"Import", "s+", [](Env& env, const std::vector<Value>& a) {
                     Value result;
                     for (const Value& path : a[0].AsArray())
                         result = env.Import(path.AsString());
                     return result;
                 }});
    AddFunction({"Assert", "b[message]s", [](Env&, const std::vector<Value>& a) {
                     if (!a[0].AsBool()) throw Error(a[1].AsString("Assert: assertion failed"));
                     return Value();
                 }});
    AddFunction({"VersionNumber", "",
                 [](Env&, const std::vector<Value>&) { return Value::Float(kVersionNumber); }});
    AddFunction({"Width", "c", [](Env&, const std::vector<Value>& a) {
                     return Value::Int(a[0].AsClip()->GetVideoInfo().width);
                 }});
    AddFunction({"Height", "c", [](Env&, const std::vector<Value>& a) {
                     return Value::Int(a[0].AsClip()->GetVideoInfo().height);
                 }});
    AddFunction({"FrameCount", "c", [](Env&, const std::vector<Value>& a) {
                     return Value::Int(a[0].AsClip()->GetVideoInfo().num_frames);
                 }});
    AddFunction({"FrameRate", "c", [](Env&, const std::vector<Value>& a) {
                     const VideoInfo& vi = a[0].AsClip()->GetVideoInfo();
                     return Value::Float(vi.fps_denominator == 0
                                             ? 0.0
                                             : double(vi.fps_numerator) / vi.fps_denominator);
                 }});

    AddFunction({"VarExist", "s", [](Env& env, const std::vector<Value>& a) {
                     Value ignored;
                     return Value::Bool(env.GetVar(a[0].AsString(), ignored));
                 }});

    // The functions below tell AviSynth builds apart; a variant may lack any of them.
    const char* kOptional[] = {"VersionString", "Prefetch", "SetMTMode", "GetMTMode",
                               "Distributor"};
    for (const char* name : kOptional)
        RemoveFunction(name);

    if (variant_.versionString) {
        std::string version = kVersionString;
        if (variant_.name != "default")
            version.insert(version.size() - 1, ", variant " + variant_.name);
        AddFunction({"VersionString", "", [version](Env&, const std::vector<Value>&) {
                         return Value::String(version);
                     }});
    }
    if (variant_.prefetch) {
        AddFunction({"Prefetch", "c[threads]i", [](Env&, const std::vector<Value>& a) {
                         int threads = a[1].AsInt(ThreadsOrProcessors(0));
                         if (threads < 0) throw Error("Prefetch: threads cannot be negative");
                         return threads == 0
                                    ? a[0]  // no worker threads: the clip itself
                                    : Value::FromClip(MakePrefetcher(a[0].AsClip(), threads));
                     }});
    }
    if (variant_.setMTMode) {
        AddFunction({"SetMTMode", "i[threads]i", [](Env& env, const std::vector<Value>& a) {
                         int mode = a[0].AsInt();
                         int threads = a[1].AsInt(0);
                         if (mode < 0 || mode > 6)
                             throw Error("SetMTMode: mode must be between 0 and 6");
                         if (threads < 0) throw Error("SetMTMode: threads cannot be negative");
                         env.Mt().mode = mode;
                         env.Mt().threads = threads;
                         return Value();
                     }});
    }
    if (variant_.getMTMode) {
        AddFunction({"GetMTMode", "[threads]b", [](Env& env, const std::vector<Value>& a) {
                         return Value::Int(a[0].AsBool(false)
                                               ? ThreadsOrProcessors(env.Mt().threads)
                                               : env.Mt().mode);
                     }});
    }
    if (variant_.distributor) {
        AddFunction({"Distributor", "c", [](Env& env, const std::vector<Value>& a) {
                         return Value::FromClip(
                             MakePrefetcher(a[0].AsClip(), ThreadsOrProcessors(env.Mt().threads)));
                     }});
    }
}

}  // namespace ms
