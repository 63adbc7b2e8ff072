// A minimal host: loads a built library by path and reaches it through the C interface only.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "avs/c_interface.h"

namespace host {

// Values the host builds itself; never released.
inline AVS_Value Val(short type) {
    AVS_Value v{};
    v.type = type;
    return v;
}
inline AVS_Value Int(int i) {
    AVS_Value v = Val(avs::kTypeInt);
    v.d.integer = i;
    return v;
}
inline AVS_Value Str(const char* s) {
    AVS_Value v = Val(avs::kTypeString);
    v.d.string = s;
    return v;
}
inline AVS_Value Array(const std::vector<AVS_Value>& items) {
    AVS_Value v = Val(avs::kTypeArray);
    v.array_size = static_cast<short>(items.size());
    v.d.array = items.data();
    return v;
}

// A loaded library, its functions and an environment; values from Call are released at the end.
class Host {
  public:
    explicit Host(const std::string& path = MINISYNTH_LIB, int version = 12)
        : handle_(dlopen(path.c_str(), RTLD_NOW)), env(create ? create(version) : nullptr) {}
    ~Host() {
        for (const AVS_Value& v : held_)
            releaseValue(v);
        if (env) deleteEnv(env);
        if (handle_) dlclose(handle_);
    }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void* Symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

    AVS_Value Call(const char* name, AVS_Value args, const char** names = nullptr) {
        const AVS_Value v = invoke(env, name, args, names);
        if (v.type != avs::kTypeError) held_.push_back(v);
        return v;
    }

    // A value as text: "int 3", "float 2.5", "string abc", "void", "error <text>", and for
    // a clip its size, pixel type, frame count and rate: "clip 64x48 50000002 10 25/1".
    std::string Show(const AVS_Value& v) const {
        std::ostringstream out;
        const short t = v.type;
        if (t == avs::kTypeBool) out << "bool " << (v.d.boolean ? "true" : "false");
        if (t == avs::kTypeInt) out << "int " << v.d.integer;
        if (t == avs::kTypeFloat) out << "float " << v.d.floating_pt;
        if (t == avs::kTypeString) out << "string " << v.d.string;
        if (t == avs::kTypeError) out << "error " << v.d.string;
        if (t == avs::kTypeVoid) out << "void";
        if (t == avs::kTypeClip) {
            AVS_Clip* clip = takeClip(v, env);
            const AVS_VideoInfo& vi = *getVideoInfo(clip);
            out << "clip " << vi.width << "x" << vi.height << " " << std::hex << std::uppercase
                << vi.pixel_type << std::dec << " " << vi.num_frames << " " << vi.fps_numerator
                << "/" << vi.fps_denominator;
            releaseClip(clip);
        }
        return out.str();
    }

    // Requests frames first to last (or down to last) of a clip value: "n: error; " for each
    // that fails, "n: ?; " for a frame and an error text that disagree.
    std::string Errors(const AVS_Value& v, int first, int last) const {
        AVS_Clip* clip = takeClip(v, env);
        std::string errors;
        for (int n = first;; n += first < last ? 1 : -1) {
            AVS_VideoFrame* f = getFrame(clip, n);
            const char* error = clipGetError(clip);
            if (!f || error)
                errors += std::to_string(n) + ": " + (f ? "?" : error ? error : "?") + "; ";
            if (f) releaseFrame(f);
            if (n == last) break;
        }
        releaseClip(clip);
        return errors;
    }

  private:
    struct Resolved {
        void* address;
        template <class F>
        operator F() const {
            return reinterpret_cast<F>(address);
        }
    };
    Resolved Get(const char* name) const { return {Symbol(name)}; }
    void* const handle_;
    std::vector<AVS_Value> held_;

  public:
    const avs_create_script_environment_func create = Get(avs::kFnCreateScriptEnvironment);
    const avs_check_version_func checkVersion = Get(avs::kFnCheckVersion);
    const avs_function_exists_func functionExists = Get(avs::kFnFunctionExists);
    const avs_invoke_func invoke = Get(avs::kFnInvoke);
    const avs_get_error_func getError = Get(avs::kFnGetError);
    const avs_take_clip_func takeClip = Get(avs::kFnTakeClip);
    const avs_release_clip_func releaseClip = Get(avs::kFnReleaseClip);
    const avs_get_video_info_func getVideoInfo = Get(avs::kFnGetVideoInfo);
    const avs_get_frame_func getFrame = Get(avs::kFnGetFrame);
    const avs_clip_get_error_func clipGetError = Get(avs::kFnClipGetError);
    const avs_release_video_frame_func releaseFrame = Get(avs::kFnReleaseVideoFrame);
    const avs_release_value_func releaseValue = Get(avs::kFnReleaseValue);
    const avs_delete_script_environment_func deleteEnv = Get(avs::kFnDeleteScriptEnvironment);
    AVS_ScriptEnvironment* const env;
};

}  // namespace host
