// The frame server's C interface: the binary contract shared by every AviSynth since 2.5
// and by the stand-in frame server. Types and function types only; the tool resolves the
// functions at run time by name.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define AVSC_CC __stdcall
#else
#define AVSC_CC
#endif

extern "C" {

struct AVS_ScriptEnvironment;  // opaque
struct AVS_Clip;               // opaque
struct AVS_VideoFrame;         // opaque

struct AVS_Value {
    short type;  // one of the avs_type_* codes
    short array_size;
    union {
        void* clip;
        char boolean;
        int integer;
        float floating_pt;
        const char* string;
        const AVS_Value* array;
    } d;  // no 64-bit members: they would widen the value on 32-bit targets
};

struct AVS_VideoInfo {
    int width;
    int height;
    unsigned fps_numerator;
    unsigned fps_denominator;
    int num_frames;
    int pixel_type;
    int audio_samples_per_second;
    int sample_type;
    int64_t num_audio_samples;
    int nchannels;
    int image_type;
};

typedef AVS_ScriptEnvironment*(AVSC_CC* avs_create_script_environment_func)(int version);
typedef int(AVSC_CC* avs_check_version_func)(AVS_ScriptEnvironment*, int version);
typedef int(AVSC_CC* avs_function_exists_func)(AVS_ScriptEnvironment*, const char* name);
typedef AVS_Value(AVSC_CC* avs_invoke_func)(AVS_ScriptEnvironment*, const char* name,
                                            AVS_Value args, const char** arg_names);
typedef const char*(AVSC_CC* avs_get_error_func)(AVS_ScriptEnvironment*);
typedef AVS_Clip*(AVSC_CC* avs_take_clip_func)(AVS_Value, AVS_ScriptEnvironment*);
typedef void(AVSC_CC* avs_release_clip_func)(AVS_Clip*);
typedef const AVS_VideoInfo*(AVSC_CC* avs_get_video_info_func)(AVS_Clip*);
typedef AVS_VideoFrame*(AVSC_CC* avs_get_frame_func)(AVS_Clip*, int n);
typedef const char*(AVSC_CC* avs_clip_get_error_func)(AVS_Clip*);
typedef void(AVSC_CC* avs_release_video_frame_func)(AVS_VideoFrame*);
typedef void(AVSC_CC* avs_release_value_func)(AVS_Value);
typedef void(AVSC_CC* avs_delete_script_environment_func)(AVS_ScriptEnvironment*);
typedef int(AVSC_CC* avs_set_global_var_func)(AVS_ScriptEnvironment*, const char* name,
                                              AVS_Value val);
typedef int(AVSC_CC* avs_set_var_func)(AVS_ScriptEnvironment*, const char* name, AVS_Value val);
typedef char*(AVSC_CC* avs_save_string_func)(AVS_ScriptEnvironment*, const char* s, int length);

}  // extern "C"

namespace avs {

// Value type codes.
constexpr short kTypeVoid = 'v';
constexpr short kTypeClip = 'c';
constexpr short kTypeBool = 'b';
constexpr short kTypeInt = 'i';
constexpr short kTypeFloat = 'f';
constexpr short kTypeString = 's';
constexpr short kTypeArray = 'a';
constexpr short kTypeError = 'e';
constexpr short kTypeLong = 'l';
constexpr short kTypeDouble = 'd';

// Colour spaces (pixel_type), as unsigned 32-bit patterns.
constexpr uint32_t kCsBGR24 = 0x50000001u;
constexpr uint32_t kCsBGR32 = 0x50000002u;
constexpr uint32_t kCsYUY2 = 0x60000004u;
constexpr uint32_t kCsYV12 = 0xA0000008u;
constexpr uint32_t kCsI420 = 0xA0000010u;
constexpr uint32_t kCsYV16 = 0xA0000308u;
constexpr uint32_t kCsYV24 = 0xA000030Bu;
constexpr uint32_t kCsYV411 = 0xA0000309u;
constexpr uint32_t kCsY8 = 0xE0000000u;
constexpr uint32_t kCsPlanarMask = 0xF8070707u;
constexpr uint32_t kCsPlanarFilter = 0xFFFFFFE7u;
constexpr uint32_t kCsSampleBitsMask = 0x00070000u;

// image_type bits.
constexpr int kItBFF = 1;
constexpr int kItTFF = 2;
constexpr int kItFieldBased = 4;

// sample_type values.
constexpr int kSampleInt8 = 1;
constexpr int kSampleInt16 = 2;
constexpr int kSampleInt24 = 4;
constexpr int kSampleInt32 = 8;
constexpr int kSampleFloat = 16;

// Names of the exported functions, in one place for the loader and the stand-in's checks.
constexpr const char* kFnCreateScriptEnvironment = "avs_create_script_environment";
constexpr const char* kFnCheckVersion = "avs_check_version";
constexpr const char* kFnFunctionExists = "avs_function_exists";
constexpr const char* kFnInvoke = "avs_invoke";
constexpr const char* kFnGetError = "avs_get_error";
constexpr const char* kFnTakeClip = "avs_take_clip";
constexpr const char* kFnReleaseClip = "avs_release_clip";
constexpr const char* kFnGetVideoInfo = "avs_get_video_info";
constexpr const char* kFnGetFrame = "avs_get_frame";
constexpr const char* kFnClipGetError = "avs_clip_get_error";
constexpr const char* kFnReleaseVideoFrame = "avs_release_video_frame";
constexpr const char* kFnReleaseValue = "avs_release_value";
constexpr const char* kFnDeleteScriptEnvironment = "avs_delete_script_environment";
// Needed only to set script variables.
constexpr const char* kFnSetGlobalVar = "avs_set_global_var";
constexpr const char* kFnSaveString = "avs_save_string";

}  // namespace avs

// The layout is fixed by the frame server's binary interface.
static_assert(offsetof(AVS_Value, array_size) == 2, "AVS_Value layout");
static_assert(offsetof(AVS_Value, d) == sizeof(void*), "AVS_Value layout");
static_assert(sizeof(void*) == 8 || sizeof(AVS_Value) == 8, "AVS_Value is 8 bytes on 32-bit");
static_assert(sizeof(void*) == 4 || sizeof(AVS_Value) == 16, "AVS_Value is 16 bytes on 64-bit");
static_assert(sizeof(AVS_VideoInfo) == 48, "AVS_VideoInfo is 48 bytes");
static_assert(offsetof(AVS_VideoInfo, num_audio_samples) == 32, "AVS_VideoInfo layout");
static_assert(offsetof(AVS_VideoInfo, image_type) == 44, "AVS_VideoInfo layout");
