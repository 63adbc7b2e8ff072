// The exported C interface. Compiled once per library variant: the MINISYNTH_* definitions
// are read here only and handed to the environment as an ms::Variant.
//
// Ownership across the boundary: a clip value ('c') holds its own reference, released by
// avs_release_value; clip and frame handles hold theirs until released, and outlive the
// environment if the host keeps them. Strings and error messages handed out belong to the
// environment. No C++ exception leaves a function here; faults raised by the operating
// system (an invalid access inside a filter) are not exceptions and pass through untouched.
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "avs/c_interface.h"
#include "env.h"

#if defined(_WIN32)
#define MS_EXPORT __declspec(dllexport)
#else
#define MS_EXPORT __attribute__((visibility("default")))
#endif

#ifndef MINISYNTH_VARIANT
#define MINISYNTH_VARIANT "default"
#endif
#ifndef MINISYNTH_MAX_INTERFACE
#define MINISYNTH_MAX_INTERFACE 12
#endif

extern "C" MS_EXPORT void AVSC_CC avs_release_value(AVS_Value value);

namespace {

[[maybe_unused]] ms::Variant BuiltVariant() {
    ms::Variant v;
    v.name = MINISYNTH_VARIANT;
    v.maxInterface = MINISYNTH_MAX_INTERFACE;
#ifdef MINISYNTH_NO_VERSIONSTRING
    v.versionString = false;
#endif
#ifdef MINISYNTH_MT_CLASSIC  // the older MT style instead of Prefetch
    v.prefetch = false;
    v.setMTMode = true;
    v.getMTMode = true;
    v.distributor = true;
#endif
#ifdef MINISYNTH_NO_GETMTMODE
    v.getMTMode = false;
#endif
    return v;
}

// The payload of a clip value: one reference.
struct ClipRef {
    ms::PClip clip;
};

}  // namespace

struct AVS_ScriptEnvironment {
    explicit AVS_ScriptEnvironment(const ms::Variant& variant) : env(variant) {}

    // Strings handed to the host live as long as the environment.
    const char* Keep(const std::string& s) {
        std::lock_guard<std::mutex> lock(mutex);
        return strings.insert(s).first->c_str();
    }
    void SetError(const std::string& message) { error = Keep(message); }

    ms::Env env;
    const char* error = nullptr;
    std::mutex mutex;
    std::unordered_set<std::string> strings;
};

struct AVS_Clip {
    ms::PClip clip;
    AVS_VideoInfo vi;
    std::string error;
    bool failed = false;
};

struct AVS_VideoFrame {
    ms::PFrame frame;
};

namespace {

AVS_Value Void() {
    AVS_Value v{};
    v.type = avs::kTypeVoid;
    return v;
}

AVS_Value ErrorValue(AVS_ScriptEnvironment* env, const std::string& message) {
    env->SetError(message);
    AVS_Value v{};
    v.type = avs::kTypeError;
    v.d.string = env->error;
    return v;
}

// Host value to script value. Throws ms::Error for a type the script language lacks.
ms::Value FromHost(const AVS_Value& v) {
    switch (v.type) {
        case avs::kTypeVoid:
            return ms::Value();
        case avs::kTypeBool:
            return ms::Value::Bool(v.d.boolean != 0);
        case avs::kTypeInt:
            return ms::Value::Int(v.d.integer);
        case avs::kTypeFloat:
            return ms::Value::Float(v.d.floating_pt);
        case avs::kTypeString:
            return ms::Value::String(v.d.string ? v.d.string : "");
        case avs::kTypeClip:
            if (!v.d.clip) break;
            return ms::Value::FromClip(static_cast<const ClipRef*>(v.d.clip)->clip);
        case avs::kTypeArray: {
            std::vector<ms::Value> items;
            for (int i = 0; i < v.array_size; ++i)
                items.push_back(FromHost(v.d.array[i]));
            return ms::Value::Array(std::move(items));
        }
        default:
            break;
    }
    throw ms::Error(std::string("Unsupported argument type '") + static_cast<char>(v.type) + "'");
}

// Script value to host value; the host releases it with avs_release_value.
AVS_Value ToHost(AVS_ScriptEnvironment* env, const ms::Value& v) {
    AVS_Value out = Void();
    switch (v.GetType()) {
        case ms::Value::Type::Void:
            break;
        case ms::Value::Type::Bool:
            out.type = avs::kTypeBool;
            out.d.boolean = v.AsBool() ? 1 : 0;
            break;
        case ms::Value::Type::Int:
            out.type = avs::kTypeInt;
            out.d.integer = v.AsInt();
            break;
        case ms::Value::Type::Float:
            out.type = avs::kTypeFloat;
            out.d.floating_pt = static_cast<float>(v.AsFloat());
            break;
        case ms::Value::Type::String:
            out.type = avs::kTypeString;
            out.d.string = env->Keep(v.AsString());
            break;
        case ms::Value::Type::Clip:
            out.type = avs::kTypeClip;
            out.d.clip = new ClipRef{v.AsClip()};
            break;
        case ms::Value::Type::Array: {
            const auto& items = v.AsArray();
            if (items.size() > 0x7FFF) throw ms::Error("Array too large for the C interface");
            auto* array = new AVS_Value[items.size()];
            for (size_t i = 0; i < items.size(); ++i) {
                try {
                    array[i] = ToHost(env, items[i]);
                } catch (...) {
                    for (size_t j = 0; j < i; ++j)
                        avs_release_value(array[j]);
                    delete[] array;
                    throw;
                }
            }
            out.type = avs::kTypeArray;
            out.array_size = static_cast<short>(items.size());
            out.d.array = array;
            break;
        }
    }
    return out;
}

}  // namespace

extern "C" {

#ifndef MINISYNTH_NO_CREATE_ENTRY
MS_EXPORT AVS_ScriptEnvironment* AVSC_CC avs_create_script_environment(int version) {
#ifdef MINISYNTH_ENV_REFUSED
    constexpr bool kRefused = true;  // a library that will not make any environment
#else
    constexpr bool kRefused = false;
#endif
    const ms::Variant variant = BuiltVariant();
    if (kRefused || version < 1 || version > variant.maxInterface) return nullptr;
    try {
        return new AVS_ScriptEnvironment(variant);
    } catch (...) {
        return nullptr;
    }
}

// The C++ entry point's name, as the loaders look it up; here it makes the same environment.
MS_EXPORT AVS_ScriptEnvironment* AVSC_CC CreateScriptEnvironment(int version) {
    return avs_create_script_environment(version);
}
#endif

MS_EXPORT void AVSC_CC avs_delete_script_environment(AVS_ScriptEnvironment* env) {
    delete env;
}

MS_EXPORT int AVSC_CC avs_check_version(AVS_ScriptEnvironment* env, int version) {
    if (!env) return -1;
    env->error = nullptr;
    if (version <= env->env.GetVariant().maxInterface) return 0;
    try {
        env->SetError("Plugin was designed for a later version of Avisynth (" +
                      std::to_string(version) + ")");
    } catch (...) {
    }
    return -1;
}

MS_EXPORT int AVSC_CC avs_function_exists(AVS_ScriptEnvironment* env, const char* name) {
    if (!env || !name) return 0;
    try {
        return env->env.FunctionExists(name) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

MS_EXPORT AVS_Value AVSC_CC avs_invoke(AVS_ScriptEnvironment* env, const char* name, AVS_Value args,
                                       const char** arg_names) {
    if (!env) return Void();
    env->error = nullptr;
    try {
        if (!name || !env->env.FunctionExists(name)) return ErrorValue(env, "Function Not Found");
        std::vector<ms::Value> values;
        std::vector<std::string> names;
        if (args.type == avs::kTypeArray) {
            for (int i = 0; i < args.array_size; ++i)
                values.push_back(FromHost(args.d.array[i]));
        } else if (args.type != avs::kTypeVoid) {  // a lone void means no arguments
            values.push_back(FromHost(args));
        }
        for (size_t i = 0; i < values.size(); ++i)
            names.push_back(arg_names && arg_names[i] ? arg_names[i] : "");
        return ToHost(env, env->env.Invoke(name, values, names));
    } catch (const std::exception& e) {
        try {
            return ErrorValue(env, e.what());
        } catch (...) {
        }
    } catch (...) {
    }
    AVS_Value v = Void();
    v.type = avs::kTypeError;
    v.d.string = "Unknown error";
    return v;
}

}  // extern "C"

namespace {

// One scope: a global and a local variable are the same. 1 when new, 0 when replaced.
int SetVariable(AVS_ScriptEnvironment* env, const char* name, const AVS_Value& value) {
    if (!env) return -1;
    env->error = nullptr;
    try {
        if (!name || !*name) {
            env->SetError("avs_set_var: no variable name");
            return -1;
        }
        ms::Value existing;
        const bool known = env->env.GetVar(name, existing);
        env->env.SetVar(name, FromHost(value));
        return known ? 0 : 1;
    } catch (const std::exception& e) {
        try {
            env->SetError(e.what());
        } catch (...) {
        }
    } catch (...) {
    }
    return -1;
}

}  // namespace

extern "C" {

MS_EXPORT int AVSC_CC avs_set_global_var(AVS_ScriptEnvironment* env, const char* name,
                                         AVS_Value value) {
    return SetVariable(env, name, value);
}

MS_EXPORT int AVSC_CC avs_set_var(AVS_ScriptEnvironment* env, const char* name, AVS_Value value) {
    return SetVariable(env, name, value);
}

MS_EXPORT char* AVSC_CC avs_save_string(AVS_ScriptEnvironment* env, const char* s, int length) {
    if (!env || !s) return nullptr;
    try {
        const std::string text = length < 0 ? std::string(s) : std::string(s, size_t(length));
        return const_cast<char*>(env->Keep(text));
    } catch (...) {
        return nullptr;
    }
}

MS_EXPORT const char* AVSC_CC avs_get_error(AVS_ScriptEnvironment* env) {
    return env ? env->error : nullptr;
}

MS_EXPORT AVS_Clip* AVSC_CC avs_take_clip(AVS_Value value, AVS_ScriptEnvironment* env) {
    if (value.type != avs::kTypeClip || !value.d.clip) {
        if (env) env->error = "avs_take_clip: the value is not a clip";
        return nullptr;
    }
    try {
        const ms::PClip& clip = static_cast<const ClipRef*>(value.d.clip)->clip;
        auto* handle = new AVS_Clip{clip, clip->GetVideoInfo(), {}, false};
        return handle;
    } catch (...) {
        return nullptr;
    }
}

MS_EXPORT void AVSC_CC avs_release_clip(AVS_Clip* clip) {
    delete clip;
}

MS_EXPORT const AVS_VideoInfo* AVSC_CC avs_get_video_info(AVS_Clip* clip) {
    return clip ? &clip->vi : nullptr;
}

MS_EXPORT AVS_VideoFrame* AVSC_CC avs_get_frame(AVS_Clip* clip, int n) {
    if (!clip) return nullptr;
    clip->failed = false;
    try {
        ms::PFrame frame = clip->clip->GetFrame(n);
        if (frame) return new AVS_VideoFrame{std::move(frame)};
        clip->error = "GetFrame: no frame " + std::to_string(n);
    } catch (const std::exception& e) {
        try {
            clip->error = e.what();
        } catch (...) {
            clip->error.clear();
        }
    } catch (...) {
        clip->error = "GetFrame: unknown error";
    }
    clip->failed = true;
    return nullptr;
}

MS_EXPORT const char* AVSC_CC avs_clip_get_error(AVS_Clip* clip) {
    return clip && clip->failed ? clip->error.c_str() : nullptr;
}

MS_EXPORT void AVSC_CC avs_release_video_frame(AVS_VideoFrame* frame) {
    delete frame;
}

MS_EXPORT void AVSC_CC avs_release_value(AVS_Value value) {
    if (value.type == avs::kTypeClip) {
        delete static_cast<ClipRef*>(value.d.clip);
    } else if (value.type == avs::kTypeArray && value.d.array) {
        for (int i = 0; i < value.array_size; ++i)
            avs_release_value(value.d.array[i]);
        delete[] value.d.array;
    }
}

#ifndef MINISYNTH_NO_LINKAGE
// AviSynth 2.6 and later export this table; hosts look for the symbol to tell them from 2.5.
struct MinisynthLinkage {
    int size;
    const char* name;
};
static const MinisynthLinkage kLinkage = {sizeof(MinisynthLinkage), "minisynth"};
MS_EXPORT extern const MinisynthLinkage* const AVS_linkage;
const MinisynthLinkage* const AVS_linkage = &kLinkage;
#endif

}  // extern "C"

// Every export has exactly the type the host's declarations give it.
#define MS_CHECK_TYPE(fn) \
    static_assert(std::is_same<decltype(&fn), fn##_func>::value, #fn " has the wrong type")
#ifndef MINISYNTH_NO_CREATE_ENTRY
MS_CHECK_TYPE(avs_create_script_environment);
#endif
MS_CHECK_TYPE(avs_check_version);
MS_CHECK_TYPE(avs_function_exists);
MS_CHECK_TYPE(avs_invoke);
MS_CHECK_TYPE(avs_get_error);
MS_CHECK_TYPE(avs_take_clip);
MS_CHECK_TYPE(avs_release_clip);
MS_CHECK_TYPE(avs_get_video_info);
MS_CHECK_TYPE(avs_get_frame);
MS_CHECK_TYPE(avs_clip_get_error);
MS_CHECK_TYPE(avs_release_video_frame);
MS_CHECK_TYPE(avs_release_value);
MS_CHECK_TYPE(avs_delete_script_environment);
MS_CHECK_TYPE(avs_set_global_var);
MS_CHECK_TYPE(avs_set_var);
MS_CHECK_TYPE(avs_save_string);
