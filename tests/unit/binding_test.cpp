// The binding against the stand-in frame server, loaded in this process as the tool loads
// AviSynth.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "avs/host.h"
#include "avs/script.h"
#include "sys/utils.h"

namespace {

std::string WriteScript(const std::string& name, const std::string& text) {
    auto path = std::filesystem::temp_directory_path() / ("trevalo-binding-" + name);
    std::ofstream(path) << text;
    return path.string();
}

std::string Variant(const std::string& name) {
    return std::string(MINISYNTH_VARIANTS_DIR) + "/" + name + "/libavisynth.so";
}

class Binding : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.Load(MINISYNTH_LIB)) << CUtils::GetLastErrorText();
        std::string error;
        ASSERT_TRUE(library.Resolve(error)) << error;
        ASSERT_TRUE(env.Create(library, 6));
    }
    void TearDown() override {
        env.Delete();
        EXPECT_TRUE(library.Unload());
    }

    avs::AvsLibrary library;
    avs::ScriptEnvironment env;
};

TEST_F(Binding, InvokeDistinguishesMissingFunctionsFromScriptErrors) {
    EXPECT_THROW(env.Invoke("NoSuchFunction", std::string("x")), avs::NotFound);
    try {
        env.Invoke("Import", std::string("/nonexistent/nonexist.avs"));
        FAIL() << "a missing script must raise";
    } catch (const avs::AvisynthError& e) {
        EXPECT_NE(std::string(e.what()).find("Import: couldn't open"), std::string::npos)
            << e.what();
    }
}

TEST_F(Binding, ImportGivesAClipWhoseFramesCanBeRequested) {
    avs::Value value =
        env.Invoke("Import", WriteScript("ok.avs", "BlankClip(length=10, width=32, height=16)\n"));
    ASSERT_TRUE(value.IsClip());
    avs::Clip clip = env.TakeClip(value);
    avs::VideoInfo vi = clip.GetVideoInfo();
    EXPECT_EQ(vi.raw.width, 32);
    EXPECT_EQ(vi.raw.num_frames, 10);
    EXPECT_TRUE(vi.IsRGB32());
    for (int n = 0; n < 10; ++n)
        clip.GetFrame(n);
}

TEST_F(Binding, FrameErrorsArriveAsAvisynthErrorWithTheFrameServersText) {
    avs::Value value = env.Invoke(
        "Import",
        WriteScript("err.avs", "BlankClip(length=10)\nMSFault(4, \"error\", \"broken\")\n"));
    avs::Clip clip = env.TakeClip(value);
    clip.GetFrame(3);
    try {
        clip.GetFrame(4);
        FAIL() << "frame 4 must fail";
    } catch (const avs::AvisynthError& e) {
        EXPECT_STREQ(e.what(), "broken");
    }
}

TEST_F(Binding, VersionStringNeedsNoArguments) {
    avs::Value v = env.InvokeWithoutArguments("VersionString");
    ASSERT_TRUE(v.IsString());
    EXPECT_FALSE(v.AsString().empty());
}

TEST_F(Binding, ThrowErrorFormatsItsMessage) {
    try {
        env.ThrowError("\"%s\":\nScript did not return a clip", "a.avs");
        FAIL();
    } catch (const avs::AvisynthError& e) {
        EXPECT_STREQ(e.what(), "\"a.avs\":\nScript did not return a clip");
    }
}

TEST(BindingLoad, MissingEntryPointIsNamed) {
    avs::AvsLibrary library;
    ASSERT_TRUE(library.Load(Variant("no-create-entry")));
    std::string error;
    EXPECT_FALSE(library.Resolve(error));
    EXPECT_EQ(error, "Failed to load CreateScriptEnvironment()");
}

TEST(BindingLoad, CheckVersionRaisesForAnOlderEnvironment) {
    avs::AvsLibrary library;
    ASSERT_TRUE(library.Load(Variant("if5")));
    std::string error;
    ASSERT_TRUE(library.Resolve(error)) << error;
    avs::ScriptEnvironment env;
    ASSERT_TRUE(env.Create(library, 5));
    EXPECT_THROW(env.CheckVersion(6), avs::AvisynthError);
    env.Delete();
}

TEST(BindingLoad, RefusedEnvironmentIsNull) {
    avs::AvsLibrary library;
    ASSERT_TRUE(library.Load(Variant("env-refused")));
    std::string error;
    ASSERT_TRUE(library.Resolve(error)) << error;
    avs::ScriptEnvironment env;
    EXPECT_FALSE(env.Create(library, 6));
}

TEST(VideoInfoPredicates, FollowTheColourSpaceBits) {
    avs::VideoInfo vi;
    vi.raw.pixel_type = static_cast<int>(avs::kCsI420);
    EXPECT_TRUE(vi.IsYV12()) << "I420 counts as YV12";
    EXPECT_FALSE(vi.IsYV16());
    vi.raw.pixel_type = static_cast<int>(0xA0050008u);  // 4:2:0, 10 bits
    EXPECT_FALSE(vi.IsYV12() || vi.IsYV16() || vi.IsYV24() || vi.IsYV411() || vi.IsY8());
    vi.raw.pixel_type = static_cast<int>(avs::kCsBGR32);
    EXPECT_TRUE(vi.IsRGB32());
    EXPECT_FALSE(vi.IsRGB24());
    vi.raw.pixel_type = static_cast<int>(avs::kCsBGR24 | 0x00010000u);
    EXPECT_FALSE(vi.IsRGB24()) << "more than 8 bits per sample";
    vi.raw.audio_samples_per_second = 0;
    vi.raw.nchannels = 2;
    EXPECT_EQ(vi.AudioChannels(), 0);
    vi.raw.image_type = avs::kItFieldBased | avs::kItTFF;
    EXPECT_TRUE(vi.IsFieldBased() && vi.IsTFF() && !vi.IsBFF());
}

TEST(RefreshInterval, BoundsBelongToTheRowTheyClose) {
    EXPECT_EQ(avs::RefreshIntervalFor(0.0), 50000u);
    EXPECT_EQ(avs::RefreshIntervalFor(0.001), 50000u);
    EXPECT_EQ(avs::RefreshIntervalFor(0.0011), 20000u);
    EXPECT_EQ(avs::RefreshIntervalFor(0.01), 5000u);
    EXPECT_EQ(avs::RefreshIntervalFor(0.0100001), 2000u);
    EXPECT_EQ(avs::RefreshIntervalFor(1.0), 50u);
    EXPECT_EQ(avs::RefreshIntervalFor(2.0), 20u);
    EXPECT_EQ(avs::RefreshIntervalFor(20.0), 10u);
    EXPECT_EQ(avs::RefreshIntervalFor(20.0001), 1u);
    EXPECT_EQ(avs::RefreshIntervalFor(1e9), 1u);
}

class PreRun : public ::testing::Test {
  protected:
    avs::LoadSettings settings{MINISYNTH_LIB, 6, true};
    std::string error;
};

TEST_F(PreRun, AScriptThatRendersTooFastIsRefused) {
    uint32_t interval = avs::EstimateRefreshInterval(
        settings, WriteScript("fast.avs", "BlankClip(length=50, width=16, height=16)\n"), error);
    EXPECT_EQ(error, "Script runtime is too short for accurate measurements");
    EXPECT_NE(interval, 0u) << "the interval of a zero time per frame";
}

TEST_F(PreRun, ASlowScriptGetsTheIntervalOfItsTimePerFrame) {
    // 40 frames of 20 ms: 0.8 s of rendering, about 20 ms a frame.
    uint32_t interval = avs::EstimateRefreshInterval(
        settings,
        WriteScript("slow.avs", "BlankClip(length=40, width=16, height=16).MSBusy(25.0)\n"), error);
    EXPECT_EQ(error, "");
    EXPECT_EQ(interval, 1u);
}

TEST_F(PreRun, AudioOnlyAndNonClipValuesAreNotVideo) {
    std::string audio = WriteScript("audio.avs", "BlankClip(length=100).KillVideo()\n");
    EXPECT_EQ(avs::EstimateRefreshInterval(settings, audio, error), 0u);
    EXPECT_EQ(error, "Script did not return a video clip:\n(" + audio + ")");
    std::string number = WriteScript("number.avs", "42\n");
    EXPECT_EQ(avs::EstimateRefreshInterval(settings, number, error), 0u);
    EXPECT_EQ(error, "Script did not return a video clip:\n(" + number + ")");
}

TEST_F(PreRun, AFaultInAFilterBecomesItsExceptionText) {
    std::string script =
        WriteScript("fault.avs", "BlankClip(length=100)\nMSFault(2, \"access\")\n");
    EXPECT_EQ(avs::EstimateRefreshInterval(settings, script, error), 0u);
    EXPECT_EQ(error, "Exception 0xC0000005\nSTATUS_ACCESS_VIOLATION");
}

TEST_F(PreRun, ALongAviSynthMessageArrivesWhole) {
    const std::string message(5000, 'm');
    std::string script = WriteScript(
        "long.avs", "BlankClip(length=100)\nMSFault(2, \"error\", \"" + message + "\")\n");
    EXPECT_EQ(avs::EstimateRefreshInterval(settings, script, error), 0u);
    EXPECT_EQ(error, message);
}

TEST_F(PreRun, AMissingLibraryFailsToLoad) {
    settings.dllPath = "/nonexistent/libavisynth.so";
    EXPECT_EQ(avs::EstimateRefreshInterval(settings, "x.avs", error), 0u);
    EXPECT_EQ(error, "Failed to load avisynth.dll");
}

}  // namespace
