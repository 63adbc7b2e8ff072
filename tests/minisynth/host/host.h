// A minimal host for the host tests: loads a built library by path and reaches it through
// the C interface only, as the tool does.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include "avs/c_interface.h"

namespace host {

inline std::string Variant(const std::string& name) {
#ifdef _WIN32
    return std::string(MINISYNTH_VARIANTS_DIR) + "/" + name + "/avisynth.dll";
#else
    return std::string(MINISYNTH_VARIANTS_DIR) + "/" + name + "/libavisynth.so";
#endif
}

class Library {
  public:
    explicit Library(const std::string& path = MINISYNTH_LIB) {
#ifdef _WIN32
        handle_ = LoadLibraryA(path.c_str());
#else
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
    }
    ~Library() {
        if (!handle_) return;
#ifdef _WIN32
        FreeLibrary(handle_);
#else
        dlclose(handle_);
#endif
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const {
        return handle_ != nullptr;
    }
    void* Symbol(const char* name) const {
        if (!handle_) return nullptr;
#ifdef _WIN32
        return reinterpret_cast<void*>(GetProcAddress(handle_, name));
#else
        return dlsym(handle_, name);
#endif
    }
    template <class F>
    F Function(const char* name) const {
        return reinterpret_cast<F>(Symbol(name));
    }

  private:
#ifdef _WIN32
    HMODULE handle_ = nullptr;
#else
    void* handle_ = nullptr;
#endif
};

// Every function of the interface, resolved by name.
struct Api {
    explicit Api(const Library& lib)
        : create(lib.Function<avs_create_script_environment_func>(avs::kFnCreateScriptEnvironment)),
          checkVersion(lib.Function<avs_check_version_func>(avs::kFnCheckVersion)),
          functionExists(lib.Function<avs_function_exists_func>(avs::kFnFunctionExists)),
          invoke(lib.Function<avs_invoke_func>(avs::kFnInvoke)),
          getError(lib.Function<avs_get_error_func>(avs::kFnGetError)),
          takeClip(lib.Function<avs_take_clip_func>(avs::kFnTakeClip)),
          releaseClip(lib.Function<avs_release_clip_func>(avs::kFnReleaseClip)),
          getVideoInfo(lib.Function<avs_get_video_info_func>(avs::kFnGetVideoInfo)),
          getFrame(lib.Function<avs_get_frame_func>(avs::kFnGetFrame)),
          clipGetError(lib.Function<avs_clip_get_error_func>(avs::kFnClipGetError)),
          releaseFrame(lib.Function<avs_release_video_frame_func>(avs::kFnReleaseVideoFrame)),
          releaseValue(lib.Function<avs_release_value_func>(avs::kFnReleaseValue)),
          deleteEnv(
              lib.Function<avs_delete_script_environment_func>(avs::kFnDeleteScriptEnvironment)) {}

    // All but the creation entry, which some variants lack on purpose.
    bool Complete() const {
        return checkVersion && functionExists && invoke && getError && takeClip && releaseClip &&
               getVideoInfo && getFrame && clipGetError && releaseFrame && releaseValue &&
               deleteEnv;
    }

    avs_create_script_environment_func create;
    avs_check_version_func checkVersion;
    avs_function_exists_func functionExists;
    avs_invoke_func invoke;
    avs_get_error_func getError;
    avs_take_clip_func takeClip;
    avs_release_clip_func releaseClip;
    avs_get_video_info_func getVideoInfo;
    avs_get_frame_func getFrame;
    avs_clip_get_error_func clipGetError;
    avs_release_video_frame_func releaseFrame;
    avs_release_value_func releaseValue;
    avs_delete_script_environment_func deleteEnv;
};

// Values the host builds itself; never released.
inline AVS_Value Int(int i) {
    AVS_Value v{};
    v.type = avs::kTypeInt;
    v.d.integer = i;
    return v;
}
inline AVS_Value Float(float f) {
    AVS_Value v{};
    v.type = avs::kTypeFloat;
    v.d.floating_pt = f;
    return v;
}
inline AVS_Value Bool(bool b) {
    AVS_Value v{};
    v.type = avs::kTypeBool;
    v.d.boolean = b ? 1 : 0;
    return v;
}
inline AVS_Value Str(const char* s) {
    AVS_Value v{};
    v.type = avs::kTypeString;
    v.d.string = s;
    return v;
}
inline AVS_Value Array(const std::vector<AVS_Value>& items) {
    AVS_Value v{};
    v.type = avs::kTypeArray;
    v.array_size = static_cast<short>(items.size());
    v.d.array = items.data();
    return v;
}
inline AVS_Value None() {
    return Array({});
}

// A loaded library with an environment of the highest version; everything is released
// at the end of the test.
class Host {
  public:
    explicit Host(const std::string& path = MINISYNTH_LIB, int version = 12)
        : lib_(path), api(lib_) {
        if (api.create) env = api.create(version);
    }
    ~Host() {
        for (AVS_Value& v : held_)
            api.releaseValue(v);
        if (env) api.deleteEnv(env);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    bool Ready() const { return lib_.Loaded() && api.Complete() && env; }
    const Library& Lib() const { return lib_; }

    // Invokes and keeps the result until the end of the test ('e' values are not released).
    AVS_Value Invoke(const char* name, AVS_Value args, const char** names = nullptr) {
        AVS_Value v = api.invoke(env, name, args, names);
        if (v.type != avs::kTypeError) held_.push_back(v);
        return v;
    }
    AVS_Value Import(const std::string& path) { return Invoke("Import", Str(path.c_str())); }

    // The error text of an 'e' value, or a note on what came instead.
    static std::string ErrorText(const AVS_Value& v) {
        if (v.type != avs::kTypeError)
            return std::string("(no error, type '") + char(v.type) + "')";
        return v.d.string ? v.d.string : "(null message)";
    }

  private:
    Library lib_;

  public:
    Api api;
    AVS_ScriptEnvironment* env = nullptr;

  private:
    std::vector<AVS_Value> held_;
};

// A clip handle taken from a value, released with the object.
class ClipHandle {
  public:
    ClipHandle(const Api& api, AVS_Value v, AVS_ScriptEnvironment* env)
        : api_(api), clip_(api.takeClip(v, env)) {}
    ~ClipHandle() {
        if (clip_) api_.releaseClip(clip_);
    }
    ClipHandle(const ClipHandle&) = delete;
    ClipHandle& operator=(const ClipHandle&) = delete;
    AVS_Clip* get() const { return clip_; }
    const AVS_VideoInfo& Info() const { return *api_.getVideoInfo(clip_); }
    // Requests frame n and releases it; false (with the clip's error) when it failed.
    bool Render(int n) const {
        AVS_VideoFrame* f = api_.getFrame(clip_, n);
        if (f) api_.releaseFrame(f);
        return f != nullptr;
    }

  private:
    const Api& api_;
    AVS_Clip* clip_;
};

}  // namespace host
