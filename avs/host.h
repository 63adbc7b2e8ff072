// The tool's binding to the frame server: the library, its environment, values, clips and
// frames, each owned by one object. Everything the tool asks of AviSynth goes through here.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>

#include "avs/c_interface.h"
#include "avs/script_variable.h"
#include "sys/library.h"

namespace avs {

// A failure inside AviSynth or the script, or one of the tool's own checks on the script.
class AvisynthError : public std::runtime_error {
  public:
    explicit AvisynthError(const std::string& message) : std::runtime_error(message) {}
};

// An optional script function that this AviSynth does not have.
class NotFound : public std::runtime_error {
  public:
    explicit NotFound(const std::string& name) : std::runtime_error(name) {}
};

// The C interface's functions, resolved by name from the loaded library.
struct Api {
    avs_create_script_environment_func create_script_environment = nullptr;
    avs_check_version_func check_version = nullptr;
    avs_function_exists_func function_exists = nullptr;
    avs_invoke_func invoke = nullptr;
    avs_get_error_func get_error = nullptr;
    avs_take_clip_func take_clip = nullptr;
    avs_release_clip_func release_clip = nullptr;
    avs_get_video_info_func get_video_info = nullptr;
    avs_get_frame_func get_frame = nullptr;
    avs_clip_get_error_func clip_get_error = nullptr;
    avs_release_video_frame_func release_video_frame = nullptr;
    avs_release_value_func release_value = nullptr;
    avs_delete_script_environment_func delete_script_environment = nullptr;
    // Optional: null where the library cannot set script variables.
    avs_set_global_var_func set_global_var = nullptr;
    avs_save_string_func save_string = nullptr;
};

// The loaded frame server library and its resolved functions.
class AvsLibrary {
  public:
    AvsLibrary() = default;
    ~AvsLibrary() = default;  // the library closes with its sys::Library
    AvsLibrary(AvsLibrary&&) noexcept = default;
    AvsLibrary& operator=(AvsLibrary&&) noexcept = default;

    // Loads the configured path, or the platform's default name when it is empty.
    // On failure the system's text is the last error.
    bool Load(const std::string& dllPath);
    // Resolves every function. On failure errorText names the first one missing:
    // "Failed to load CreateScriptEnvironment()" for the entry point.
    bool Resolve(std::string& errorText);
    // Frees the library; false when the system refused (its text is the last error).
    bool Unload();
    // Gives up the library without unloading it: code from it may still be running.
    void Abandon();
    bool IsLoaded() const { return library_.IsOpen(); }
    const Api& Functions() const { return api_; }

  private:
    sys::Library library_;
    Api api_;
};

// The unload text shared by the installation report and the pre-run.
std::string UnloadErrorText();

// Copy of the clip's properties with the predicates the tool uses.
struct VideoInfo {
    AVS_VideoInfo raw{};

    bool HasVideo() const { return raw.width != 0; }
    bool HasAudio() const { return raw.audio_samples_per_second != 0; }
    bool IsRGB24() const { return Is(kCsBGR24) && (Pixel() & kCsSampleBitsMask) == 0; }
    bool IsRGB32() const { return Is(kCsBGR32) && (Pixel() & kCsSampleBitsMask) == 0; }
    bool IsYUY2() const { return Is(kCsYUY2); }
    bool IsYV12() const { return IsPlanar(kCsYV12); }
    bool IsYV16() const { return IsPlanar(kCsYV16); }
    bool IsYV24() const { return IsPlanar(kCsYV24); }
    bool IsYV411() const { return IsPlanar(kCsYV411); }
    bool IsY8() const { return IsPlanar(kCsY8); }
    bool IsFieldBased() const { return (raw.image_type & kItFieldBased) != 0; }
    bool IsBFF() const { return (raw.image_type & kItBFF) != 0; }
    bool IsTFF() const { return (raw.image_type & kItTFF) != 0; }
    int AudioChannels() const { return HasAudio() ? raw.nchannels : 0; }
    int SampleType() const { return raw.sample_type; }
    int SamplesPerSecond() const { return raw.audio_samples_per_second; }

  private:
    uint32_t Pixel() const { return static_cast<uint32_t>(raw.pixel_type); }
    bool Is(uint32_t cs) const { return (Pixel() & cs) == cs; }
    bool IsPlanar(uint32_t cs) const { return (Pixel() & kCsPlanarMask) == (cs & kCsPlanarFilter); }
};

class ScriptEnvironment;

// A value that AviSynth returned; released when the holder lets go of it. An error value
// is never released (its text belongs to the environment).
class Value {
  public:
    Value() = default;
    Value(const Api* api, AVS_Value raw) : api_(api), raw_(raw) {}
    ~Value() { Reset(); }
    Value(Value&& other) noexcept;
    Value& operator=(Value&& other) noexcept;
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;

    bool IsClip() const { return raw_.type == kTypeClip; }
    bool IsInt() const { return raw_.type == kTypeInt; }
    bool IsString() const { return raw_.type == kTypeString; }
    int AsInt() const { return raw_.d.integer; }
    std::string AsString() const { return raw_.d.string ? raw_.d.string : ""; }
    const AVS_Value& Raw() const { return raw_; }
    // Sets the value to the integer 0, releasing what it held.
    void Reset();
    // Forgets what it holds without calling into the library.
    void Abandon() { raw_ = Void(); }

    static AVS_Value Void();

  private:
    const Api* api_ = nullptr;
    AVS_Value raw_ = Void();
};

[[noreturn]] void ThrowFrameError(avs_clip_get_error_func getError, AVS_Clip* clip, int n);

// A clip's frame requests with the library's functions held by value: a loop that keeps
// one in a local keeps them in registers instead of reloading them around every call.
struct FrameRequester {
    AVS_Clip* clip;
    avs_get_frame_func getFrame;
    avs_release_video_frame_func releaseFrame;
    avs_clip_get_error_func getError;

    // Renders frame n and releases it unread; AvisynthError when AviSynth cannot.
    void operator()(int n) const {
        AVS_VideoFrame* frame = getFrame(clip, n);
        if (!frame) ThrowFrameError(getError, clip, n);
        releaseFrame(frame);
    }
};

// A reference to a clip.
class Clip {
  public:
    Clip() = default;
    Clip(const Api* api, AVS_Clip* clip) : api_(api), clip_(clip) {}
    ~Clip() { Reset(); }
    Clip(Clip&& other) noexcept : api_(other.api_), clip_(std::exchange(other.clip_, nullptr)) {}
    Clip& operator=(Clip&& other) noexcept;
    Clip(const Clip&) = delete;
    Clip& operator=(const Clip&) = delete;

    explicit operator bool() const { return clip_ != nullptr; }
    VideoInfo GetVideoInfo() const;
    // Renders frame n and releases it unread; AvisynthError when AviSynth cannot.
    void GetFrame(int n) const { Requester()(n); }
    FrameRequester Requester() const {
        return {clip_, api_->get_frame, api_->release_video_frame, api_->clip_get_error};
    }
    void Reset();
    void Abandon() { clip_ = nullptr; }

  private:
    const Api* api_ = nullptr;
    AVS_Clip* clip_ = nullptr;
};

// A scripting environment of the loaded library.
class ScriptEnvironment {
  public:
    ScriptEnvironment() = default;
    ~ScriptEnvironment() { Delete(); }
    ScriptEnvironment(ScriptEnvironment&& other) noexcept
        : api_(other.api_), env_(std::exchange(other.env_, nullptr)) {}
    ScriptEnvironment& operator=(ScriptEnvironment&& other) noexcept;
    ScriptEnvironment(const ScriptEnvironment&) = delete;
    ScriptEnvironment& operator=(const ScriptEnvironment&) = delete;

    // False when the library refuses the interface version.
    bool Create(const AvsLibrary& library, int interfaceVersion);
    explicit operator bool() const { return env_ != nullptr; }

    // AvisynthError when the environment is older than the version.
    void CheckVersion(int version) const;
    bool FunctionExists(const char* name) const;
    // NotFound for a missing function, AvisynthError for a failure inside AviSynth.
    Value Invoke(const char* name, const AVS_Value& args) const;
    Value Invoke(const char* name, const std::string& text) const;
    Value Invoke(const char* name, bool flag) const;
    Value Invoke(const char* name, const Value& value) const;
    Value InvokeWithoutArguments(const char* name) const;
    Clip TakeClip(const Value& value) const;
    // Sets a global variable for the scripts imported afterwards; AvisynthError when the
    // library refuses it or has no such call.
    void SetGlobalVariable(const ScriptVariable& variable) const;
    [[noreturn]] void ThrowError(const char* format, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    void Delete();
    void Abandon() {
        env_ = nullptr;
    }

  private:
    const Api* api_ = nullptr;
    AVS_ScriptEnvironment* env_ = nullptr;
};

}  // namespace avs
