// The default library through its C interface: exports, environments, values, invoke,
// clips, frames and who owns what.
#include <cstring>
#include <string>

#include "host.h"

namespace {

using host::Host;

TEST(CApiTest, ExportsTheWholeInterface) {
    host::Library lib;
    ASSERT_TRUE(lib.Loaded()) << MINISYNTH_LIB;
    host::Api api(lib);
    EXPECT_TRUE(api.Complete());
    EXPECT_NE(api.create, nullptr);
    EXPECT_NE(lib.Symbol("CreateScriptEnvironment"), nullptr);
    EXPECT_NE(lib.Symbol("AVS_linkage"), nullptr);
    // Internals stay hidden.
    EXPECT_EQ(lib.Symbol("_ZN2ms5Value3IntEi"), nullptr);
}

TEST(CApiTest, EnvironmentsOfEveryInterfaceVersion) {
    host::Library lib;
    host::Api api(lib);
    ASSERT_TRUE(api.Complete() && api.create);
    for (int v = 1; v <= 12; ++v) {
        AVS_ScriptEnvironment* env = api.create(v);
        ASSERT_NE(env, nullptr) << v;
        api.deleteEnv(env);
    }
    EXPECT_EQ(api.create(0), nullptr);
    EXPECT_EQ(api.create(13), nullptr);

    auto entry = lib.Function<avs_create_script_environment_func>("CreateScriptEnvironment");
    ASSERT_NE(entry, nullptr);
    AVS_ScriptEnvironment* env = entry(6);
    ASSERT_NE(env, nullptr);
    for (int v = 5; v <= 12; ++v) {
        EXPECT_EQ(api.checkVersion(env, v), 0) << v;
        EXPECT_EQ(api.getError(env), nullptr);
    }
    EXPECT_NE(api.checkVersion(env, 13), 0);
    ASSERT_NE(api.getError(env), nullptr);
    EXPECT_NE(std::string(api.getError(env)).find("13"), std::string::npos);
    EXPECT_EQ(api.checkVersion(env, 7), 0);
    EXPECT_EQ(api.getError(env), nullptr);  // a success clears the last error
    api.deleteEnv(env);
}

TEST(CApiTest, FunctionExistsLikeAviSynthPlus) {
    Host h;
    ASSERT_TRUE(h.Ready());
    for (const char* name : {"VersionString", "versionstring", "Prefetch", "Import", "BlankClip"})
        EXPECT_NE(h.api.functionExists(h.env, name), 0) << name;
    for (const char* name : {"SetMTMode", "GetMTMode", "Distributor", "NoSuchFunction", ""})
        EXPECT_EQ(h.api.functionExists(h.env, name), 0) << name;
    EXPECT_EQ(h.api.functionExists(h.env, nullptr), 0);
}

TEST(CApiTest, InvokeConvertsValuesBothWays) {
    Host h;
    ASSERT_TRUE(h.Ready());
    AVS_Value s = h.Invoke("VersionString", host::None());
    ASSERT_EQ(s.type, avs::kTypeString);
    EXPECT_EQ(std::string(s.d.string).rfind("minisynth ", 0), 0u) << s.d.string;

    AVS_Value f = h.Invoke("VersionNumber", host::None());
    ASSERT_EQ(f.type, avs::kTypeFloat);
    EXPECT_FLOAT_EQ(f.d.floating_pt, 2.6f);

    // A lone void is no argument at all.
    AVS_Value none{};
    none.type = avs::kTypeVoid;
    EXPECT_EQ(h.Invoke("VersionNumber", none).type, avs::kTypeFloat);

    AVS_Value v = h.Invoke("Assert", host::Bool(true));
    EXPECT_EQ(v.type, avs::kTypeVoid);

    // Positional and named arguments; the int given for fps becomes a float.
    const char* names[] = {"length", "width", "height", "pixel_type", "fps"};
    AVS_Value clip = h.Invoke("BlankClip",
                              host::Array({host::Int(30), host::Int(320), host::Int(240),
                                           host::Str("YUY2"), host::Int(50)}),
                              names);
    ASSERT_EQ(clip.type, avs::kTypeClip) << Host::ErrorText(clip);
    // A clip value goes back in, alone or in an array.
    AVS_Value frames = h.Invoke("FrameCount", clip);
    ASSERT_EQ(frames.type, avs::kTypeInt);
    EXPECT_EQ(frames.d.integer, 30);
    AVS_Value trimmed = h.Invoke("Trim", host::Array({clip, host::Int(10), host::Int(19)}));
    ASSERT_EQ(trimmed.type, avs::kTypeClip) << Host::ErrorText(trimmed);
    host::ClipHandle c(h.api, trimmed, h.env);
    ASSERT_NE(c.get(), nullptr);
    EXPECT_EQ(c.Info().num_frames, 10);
    EXPECT_EQ(c.Info().width, 320);
    EXPECT_EQ(static_cast<uint32_t>(c.Info().pixel_type), avs::kCsYUY2);
    EXPECT_EQ(c.Info().fps_numerator / c.Info().fps_denominator, 50u);

    // Named arguments may come with positional ones, null names marking the latter.
    const char* mixed[] = {nullptr, "message"};
    AVS_Value e = h.Invoke("Assert", host::Array({host::Bool(false), host::Str("boom")}), mixed);
    EXPECT_EQ(Host::ErrorText(e), "boom");
    // A float argument arrives as a float.
    AVS_Value blur = h.Invoke("Blur", host::Array({clip, host::Float(0.5f)}));
    EXPECT_EQ(blur.type, avs::kTypeClip) << Host::ErrorText(blur);
}

TEST(CApiTest, InvokeErrorsAreErrorValues) {
    Host h;
    ASSERT_TRUE(h.Ready());
    AVS_Value missing = h.Invoke("NoSuchFunction", host::None());
    EXPECT_EQ(Host::ErrorText(missing), "Function Not Found");
    ASSERT_NE(h.api.getError(h.env), nullptr);
    EXPECT_STREQ(h.api.getError(h.env), "Function Not Found");

    struct Case {
        const char* fn;
        std::vector<AVS_Value> args;
        std::vector<const char*> names;
        std::string message;
    } cases[] = {
        {"Trim", {host::Int(1)}, {nullptr}, "Script error: Invalid arguments to function \"Trim\""},
        {"BlankClip",
         {host::Int(1)},
         {"nonsense"},
         "Script error: Invalid arguments to function \"BlankClip\""},
        {"Assert",
         {host::Bool(true), host::Int(1), host::Int(2)},
         {nullptr, nullptr, nullptr},
         "Script error: Invalid arguments to function \"Assert\""},
        {"Assert", {host::Bool(false)}, {nullptr}, "Assert: assertion failed"},
        {"Import",
         {host::Str("nonexist.avs")},
         {nullptr},
         "Import: couldn't open \"nonexist.avs\""},
    };
    for (auto& c : cases) {
        AVS_Value e = h.Invoke(c.fn, host::Array(c.args), c.names.data());
        EXPECT_EQ(Host::ErrorText(e), c.message) << c.fn;
        EXPECT_STREQ(h.api.getError(h.env), c.message.c_str());
    }
    // A type the script language lacks.
    AVS_Value wide{};
    wide.type = avs::kTypeLong;
    EXPECT_EQ(h.Invoke("Assert", wide).type, avs::kTypeError);

    // The message of an error value stays readable after later calls.
    AVS_Value first = h.Invoke("Nope1", host::None());
    h.Invoke("VersionString", host::None());
    EXPECT_EQ(h.api.getError(h.env), nullptr);
    h.Invoke("Assert", host::Bool(false));
    EXPECT_EQ(Host::ErrorText(first), "Function Not Found");
}

TEST(CApiTest, ReturnedValuesStayValidUntilReleased) {
    Host h;
    ASSERT_TRUE(h.Ready());
    AVS_Value a = h.api.invoke(h.env, "VersionString", host::None(), nullptr);
    const char* length[] = {"length"};
    AVS_Value clip = h.api.invoke(h.env, "BlankClip", host::Int(1), length);
    ASSERT_EQ(a.type, avs::kTypeString);
    ASSERT_EQ(clip.type, avs::kTypeClip);
    for (int i = 0; i < 10; ++i)
        h.Invoke("VersionNumber", host::None());
    EXPECT_EQ(std::string(a.d.string).rfind("minisynth", 0), 0u);

    // take_clip gives references of its own: the value can go first.
    AVS_Clip* c1 = h.api.takeClip(clip, h.env);
    AVS_Clip* c2 = h.api.takeClip(clip, h.env);
    ASSERT_TRUE(c1 && c2);
    h.api.releaseValue(clip);
    h.api.releaseValue(a);
    AVS_VideoFrame* f = h.api.getFrame(c1, 0);
    ASSERT_NE(f, nullptr);
    h.api.releaseClip(c1);
    EXPECT_EQ(h.api.getVideoInfo(c2)->num_frames, 1);
    h.api.releaseFrame(f);
    h.api.releaseClip(c2);

    // Only clips can be taken.
    EXPECT_EQ(h.api.takeClip(host::Int(3), h.env), nullptr);
    EXPECT_NE(h.api.getError(h.env), nullptr);
}

TEST(CApiTest, HandlesOutliveTheirEnvironment) {
    host::Library lib;
    host::Api api(lib);
    ASSERT_TRUE(api.Complete() && api.create);
    AVS_ScriptEnvironment* env = api.create(6);
    ASSERT_NE(env, nullptr);
    const char* names[] = {"length", "width", "height"};
    AVS_Value v = api.invoke(env, "BlankClip",
                             host::Array({host::Int(5), host::Int(64), host::Int(48)}), names);
    ASSERT_EQ(v.type, avs::kTypeClip);
    AVS_Value inverted = api.invoke(env, "Invert", v, nullptr);
    ASSERT_EQ(inverted.type, avs::kTypeClip);
    AVS_Clip* clip = api.takeClip(inverted, env);
    AVS_VideoFrame* frame = api.getFrame(clip, 2);
    ASSERT_NE(frame, nullptr);

    api.deleteEnv(env);  // the host still holds a value, a clip and a frame
    api.releaseValue(v);
    api.releaseFrame(frame);
    EXPECT_EQ(api.getVideoInfo(clip)->height, 48);
    for (int n = 0; n < 5; ++n) {
        AVS_VideoFrame* f = api.getFrame(clip, n);
        EXPECT_NE(f, nullptr);
        if (f) api.releaseFrame(f);
    }
    api.releaseClip(clip);
    api.releaseValue(inverted);
}

TEST(CApiTest, FrameErrorsArriveThroughTheClip) {
    Host h;
    ASSERT_TRUE(h.Ready());
    const char* length[] = {"length"};
    AVS_Value source = h.Invoke("BlankClip", host::Int(10), length);
    AVS_Value faulty =
        h.Invoke("MSFault",
                 host::Array({source, host::Int(3), host::Str("error"), host::Str("bad frame 3")}));
    ASSERT_EQ(faulty.type, avs::kTypeClip) << Host::ErrorText(faulty);
    host::ClipHandle c(h.api, faulty, h.env);
    EXPECT_TRUE(c.Render(2));
    EXPECT_EQ(h.api.clipGetError(c.get()), nullptr);
    EXPECT_EQ(h.api.getFrame(c.get(), 3), nullptr);
    ASSERT_NE(h.api.clipGetError(c.get()), nullptr);
    EXPECT_STREQ(h.api.clipGetError(c.get()), "bad frame 3");
    EXPECT_TRUE(c.Render(4));
    EXPECT_EQ(h.api.clipGetError(c.get()), nullptr);  // cleared by the next success
}

}  // namespace
