#include "avs/host.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "sys/library.h"
#include "sys/utils.h"

namespace avs {
namespace {

template <class F>
bool ResolveOne(const sys::Library& library, const char* name, F& slot) {
    slot = reinterpret_cast<F>(library.Symbol(name));
    return slot != nullptr;
}

AVS_Value StringValue(const char* text) {
    AVS_Value v = Value::Void();
    v.type = kTypeString;
    v.d.string = text;
    return v;
}

// Values that hold something of the library's and must be handed back to it.
bool NeedsRelease(short type) {
    return type == kTypeClip || type == kTypeString || type == kTypeArray;
}

}  // namespace

bool AvsLibrary::Load(const std::string& dllPath) {
    api_ = Api{};
    return library_.Open(dllPath.empty() ? sys::DefaultAvisynthLibraryName() : dllPath);
}

bool AvsLibrary::Resolve(std::string& errorText) {
    errorText.clear();
    // The entry point first: without it the library is not a frame server at all.
    if (!ResolveOne(library_, kFnCreateScriptEnvironment, api_.create_script_environment)) {
        errorText = "Failed to load CreateScriptEnvironment()";
        return false;
    }
    struct Entry {
        const char* name;
        bool ok;
    };
    const Entry entries[] = {
        {kFnCheckVersion, ResolveOne(library_, kFnCheckVersion, api_.check_version)},
        {kFnFunctionExists, ResolveOne(library_, kFnFunctionExists, api_.function_exists)},
        {kFnInvoke, ResolveOne(library_, kFnInvoke, api_.invoke)},
        {kFnGetError, ResolveOne(library_, kFnGetError, api_.get_error)},
        {kFnTakeClip, ResolveOne(library_, kFnTakeClip, api_.take_clip)},
        {kFnReleaseClip, ResolveOne(library_, kFnReleaseClip, api_.release_clip)},
        {kFnGetVideoInfo, ResolveOne(library_, kFnGetVideoInfo, api_.get_video_info)},
        {kFnGetFrame, ResolveOne(library_, kFnGetFrame, api_.get_frame)},
        {kFnClipGetError, ResolveOne(library_, kFnClipGetError, api_.clip_get_error)},
        {kFnReleaseVideoFrame,
         ResolveOne(library_, kFnReleaseVideoFrame, api_.release_video_frame)},
        {kFnReleaseValue, ResolveOne(library_, kFnReleaseValue, api_.release_value)},
        {kFnDeleteScriptEnvironment,
         ResolveOne(library_, kFnDeleteScriptEnvironment, api_.delete_script_environment)},
    };
    ResolveOne(library_, kFnSetGlobalVar, api_.set_global_var);
    ResolveOne(library_, kFnSaveString, api_.save_string);
    for (const auto& entry : entries) {
        if (!entry.ok) {
            errorText = CUtils::FormatString("Failed to load %s()", entry.name);
            return false;
        }
    }
    return true;
}

bool AvsLibrary::Unload() {
    api_ = Api{};
    return library_.Close();
}

void AvsLibrary::Abandon() {
    api_ = Api{};
    library_.Release();
}

std::string UnloadErrorText() {
    std::string system = CUtils::GetLastErrorText();
    const std::string text = "Cannot unload " + sys::AvisynthLibraryFileName();
    return system.empty() ? text : text + "\n" + system;
}

AVS_Value Value::Void() {
    AVS_Value v;
    v.type = kTypeVoid;
    v.array_size = 0;
    v.d.integer = 0;
    return v;
}

Value::Value(Value&& other) noexcept : api_(other.api_), raw_(other.raw_) {
    other.raw_ = Void();
}

Value& Value::operator=(Value&& other) noexcept {
    if (this != &other) {
        Reset();
        api_ = other.api_;
        raw_ = other.raw_;
        other.raw_ = Void();
    }
    return *this;
}

void Value::Reset() {
    if (api_ && NeedsRelease(raw_.type)) api_->release_value(raw_);
    raw_ = Void();
    raw_.type = kTypeInt;
}

Clip& Clip::operator=(Clip&& other) noexcept {
    if (this != &other) {
        Reset();
        api_ = other.api_;
        clip_ = std::exchange(other.clip_, nullptr);
    }
    return *this;
}

VideoInfo Clip::GetVideoInfo() const {
    VideoInfo vi;
    if (const AVS_VideoInfo* raw = api_->get_video_info(clip_)) vi.raw = *raw;
    return vi;
}

void Clip::Reset() {
    if (clip_) api_->release_clip(std::exchange(clip_, nullptr));
}

void ThrowFrameError(avs_clip_get_error_func getError, AVS_Clip* clip, int n) {
    const char* message = getError(clip);
    if (message == nullptr || message[0] == '\0') {
        throw AvisynthError(CUtils::FormatString(
            "Frame %d could not be rendered; the frame server gave no reason.", n));
    }
    throw AvisynthError(message);
}

ScriptEnvironment& ScriptEnvironment::operator=(ScriptEnvironment&& other) noexcept {
    if (this != &other) {
        Delete();
        api_ = other.api_;
        env_ = std::exchange(other.env_, nullptr);
    }
    return *this;
}

bool ScriptEnvironment::Create(const AvsLibrary& library, int interfaceVersion) {
    Delete();
    api_ = &library.Functions();
    env_ = api_->create_script_environment(interfaceVersion);
    return env_ != nullptr;
}

void ScriptEnvironment::CheckVersion(int version) const {
    if (api_->check_version(env_, version) != 0) {
        const char* message = api_->get_error(env_);
        throw AvisynthError(message ? message : "");
    }
}

bool ScriptEnvironment::FunctionExists(const char* name) const {
    return api_->function_exists(env_, name) != 0;
}

Value ScriptEnvironment::Invoke(const char* name, const AVS_Value& args) const {
    if (!FunctionExists(name)) throw NotFound(name);
    AVS_Value result = api_->invoke(env_, name, args, nullptr);
    if (result.type == kTypeError) throw AvisynthError(result.d.string ? result.d.string : "");
    return Value(api_, result);
}

Value ScriptEnvironment::Invoke(const char* name, const std::string& text) const {
    return Invoke(name, StringValue(text.c_str()));
}

Value ScriptEnvironment::Invoke(const char* name, bool flag) const {
    AVS_Value v = Value::Void();
    v.type = kTypeBool;
    v.d.boolean = flag ? 1 : 0;
    return Invoke(name, v);
}

Value ScriptEnvironment::Invoke(const char* name, const Value& value) const {
    return Invoke(name, value.Raw());
}

Value ScriptEnvironment::InvokeWithoutArguments(const char* name) const {
    AVS_Value none = Value::Void();
    none.type = kTypeArray;
    none.array_size = 0;
    none.d.array = nullptr;
    return Invoke(name, none);
}

Clip ScriptEnvironment::TakeClip(const Value& value) const {
    return Clip(api_, api_->take_clip(value.Raw(), env_));
}

void ScriptEnvironment::SetGlobalVariable(const ScriptVariable& variable) const {
    if (api_->set_global_var == nullptr || api_->save_string == nullptr) {
        ThrowError("This AviSynth cannot set the script variable \"%s\" (it lacks %s)",
                   variable.name.c_str(), kFnSetGlobalVar);
    }
    // The library must own every string it is handed; older ones keep even the name's pointer.
    const char* name = api_->save_string(env_, variable.name.c_str(), -1);
    AVS_Value value = Value::Void();
    switch (variable.kind) {
        case ScriptVariable::Kind::kInt:
            value.type = kTypeInt;
            value.d.integer = variable.integer;
            break;
        case ScriptVariable::Kind::kFloat:
            value.type = kTypeFloat;
            value.d.floating_pt = static_cast<float>(variable.decimal);
            break;
        case ScriptVariable::Kind::kString:
            value = StringValue(api_->save_string(env_, variable.text.c_str(), -1));
            if (value.d.string == nullptr) name = nullptr;
            break;
    }
    if (name == nullptr || api_->set_global_var(env_, name, value) < 0) {
        const char* error = api_->get_error(env_);
        ThrowError("Cannot set the script variable %s%s%s", variable.Shown().c_str(),
                   error != nullptr ? ":\n" : "", error != nullptr ? error : "");
    }
}

void ScriptEnvironment::ThrowError(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::vector<char> text(length > 0 ? static_cast<size_t>(length) + 1 : 1, '\0');
    if (length > 0) std::vsnprintf(text.data(), text.size(), format, args);
    va_end(args);
    throw AvisynthError(text.data());
}

void ScriptEnvironment::Delete() {
    if (env_) api_->delete_script_environment(std::exchange(env_, nullptr));
}

}  // namespace avs
