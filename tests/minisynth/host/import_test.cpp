// Script files through "Import", as the tool loads them: values, errors with their
// locations, the implicit last, nested imports, and the examples shipped with the project.
#include <filesystem>
#include <string>

#include "host.h"
#include "support/process.h"

namespace {

using host::Host;
namespace fs = std::filesystem;

// Runs the test body with the current directory set to dir, and restores it.
class InDirectory {
  public:
    explicit InDirectory(const std::string& dir) : old_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~InDirectory() { fs::current_path(old_); }

  private:
    fs::path old_;
};

class ImportTest : public ::testing::Test {
  protected:
    // Writes a script and imports it by its full path.
    AVS_Value Run(const std::string& text, const std::string& name = "t.avs") {
        dir.Write(name, text);
        return h.Import(dir.File(name));
    }
    testsupport::TempDir dir;
    Host h;
};

TEST_F(ImportTest, ScriptValuesOfEveryKind) {
    ASSERT_TRUE(h.Ready());
    AVS_Value i = Run("# the answer\n42\n");
    ASSERT_EQ(i.type, avs::kTypeInt) << Host::ErrorText(i);
    EXPECT_EQ(i.d.integer, 42);
    AVS_Value b = Run("1 < 2");
    ASSERT_EQ(b.type, avs::kTypeBool);
    EXPECT_NE(b.d.boolean, 0);
    AVS_Value s = Run("\"a\" + \"\"\"b\"\"\"");
    ASSERT_EQ(s.type, avs::kTypeString);
    EXPECT_STREQ(s.d.string, "ab");
    AVS_Value f = Run("x = 3\nreturn x / 2.0\nFoo()");
    ASSERT_EQ(f.type, avs::kTypeFloat);
    EXPECT_FLOAT_EQ(f.d.floating_pt, 1.5f);
    EXPECT_EQ(Run("").type, avs::kTypeVoid);
}

TEST_F(ImportTest, ImplicitLastBuildsTheClip) {
    ASSERT_TRUE(h.Ready());
    AVS_Value v =
        Run("BlankClip(length=100, width=64, height=64, pixel_type=\"YV12\")\n"
            "Trim(10, 59) \\\n"
            "  .Invert\n"
            "  \\ .AssumeTFF()\n"
            "unused = 1\n");
    ASSERT_EQ(v.type, avs::kTypeClip) << Host::ErrorText(v);
    host::ClipHandle c(h.api, v, h.env);
    EXPECT_EQ(c.Info().num_frames, 50);
    EXPECT_EQ(c.Info().image_type & avs::kItTFF, avs::kItTFF);
    for (int n = 0; n < 50; ++n)
        ASSERT_TRUE(c.Render(n)) << n;
}

TEST_F(ImportTest, ErrorsCarryFileAndLine) {
    ASSERT_TRUE(h.Ready());
    {
        InDirectory in(dir.Path());
        dir.Write("bad.avs", ")\n");
        EXPECT_EQ(Host::ErrorText(h.Import("bad.avs")),
                  "Script error: syntax error\n(bad.avs, line 1, column 0)");
        EXPECT_EQ(Host::ErrorText(h.Import("nonexist.avs")),
                  "Import: couldn't open \"nonexist.avs\"");
    }
    const std::string path = dir.File("t.avs");
    EXPECT_EQ(Host::ErrorText(Run("BlankClip()\n\nFoo(1)")),
              "Script error: There is no function named \"Foo\".\n(" + path + ", line 3)");
    EXPECT_EQ(Host::ErrorText(Run("BlankClip()\nTrim(\"a\", 2)")),
              "Script error: Invalid arguments to function \"Trim\"\n(" + path + ", line 2)");
    EXPECT_EQ(Host::ErrorText(Run("x = 1\n  Clip(")),
              "Script error: syntax error\n(" + path + ", line 2, column 7)");
    EXPECT_EQ(Host::ErrorText(Run("Assert(false, \"stop here\")")),
              "stop here\n(" + path + ", line 1)");
    // The error value's message is also the environment's last error.
    ASSERT_NE(h.api.getError(h.env), nullptr);
    EXPECT_EQ(std::string(h.api.getError(h.env)), "stop here\n(" + path + ", line 1)");
}

TEST_F(ImportTest, NestedImportsAreRelativeToTheirScript) {
    ASSERT_TRUE(h.Ready());
    fs::create_directories(dir.File("lib"));
    dir.Write("lib/source.avs", "size = 32\nBlankClip(length=20, width=size, height=size)\n");
    dir.Write("lib/chain.avs", "Import(\"source.avs\").Trim(0, 9)\n");
    dir.Write("broken.avs", "\n\nImport(\"lib/missing.avs\")\n");
    AVS_Value v = Run("Import(\"lib/chain.avs\")\nInvert()\nAssert(Width == size)\n");
    ASSERT_EQ(v.type, avs::kTypeVoid) << Host::ErrorText(v);  // the last statement's value
    AVS_Value clip = Run("Import(\"lib/chain.avs\")\nInvert()\n");
    ASSERT_EQ(clip.type, avs::kTypeClip) << Host::ErrorText(clip);
    host::ClipHandle c(h.api, clip, h.env);
    EXPECT_EQ(c.Info().num_frames, 10);
    EXPECT_EQ(c.Info().width, 32);

    EXPECT_EQ(Host::ErrorText(Run("x = 0\nImport(\"broken.avs\")")),
              "Import: couldn't open \"lib/missing.avs\"\n(broken.avs, line 3)\n(" +
                  dir.File("t.avs") + ", line 2)");  // each file named as its Import gave it
}

// What the C interface facts page records of AviSynth+ 3.7.5 holds for minisynth too.
TEST_F(ImportTest, BehavesAsAviSynthPlusWasObserved) {
    ASSERT_TRUE(h.Ready());
    struct Case {
        const char* script;
        int width, frames, imageType;
        uint32_t pixelType;
        int audioRate;
    } cases[] = {
        {"BlankClip(length=100).KillVideo()", 0, 0, 0, 0, 44100},
        {"BlankClip(length=100, pixel_type=\"YUY2\").AssumeFieldBased().AssumeTFF()", 640, 100, 6,
         avs::kCsYUY2, 44100},
        {"BlankClip(length=2000, width=1920, height=1080, pixel_type=\"YV12\", fps=25)", 1920, 2000,
         0, avs::kCsYV12, 44100},
    };
    for (const auto& k : cases) {
        AVS_Value v = Run(k.script);
        ASSERT_EQ(v.type, avs::kTypeClip) << k.script << ": " << Host::ErrorText(v);
        host::ClipHandle c(h.api, v, h.env);
        const AVS_VideoInfo& vi = c.Info();
        EXPECT_EQ(vi.width, k.width) << k.script;
        EXPECT_EQ(vi.num_frames, k.frames) << k.script;
        EXPECT_EQ(vi.image_type, k.imageType) << k.script;
        if (k.width) {
            EXPECT_EQ(static_cast<uint32_t>(vi.pixel_type), k.pixelType) << k.script;
        }
        EXPECT_EQ(vi.audio_samples_per_second, k.audioRate) << k.script;
    }
    host::ClipHandle big(h.api, Run(cases[2].script), h.env);
    const AVS_VideoInfo& vi = big.Info();
    EXPECT_EQ(vi.fps_numerator, 25u);
    EXPECT_EQ(vi.fps_denominator, 1u);
    EXPECT_EQ(vi.nchannels, 1);
    EXPECT_EQ(vi.sample_type, avs::kSampleInt16);
    EXPECT_EQ(vi.num_audio_samples, int64_t{2000} * 44100 / 25);
}

TEST_F(ImportTest, ExamplesLoad) {
    ASSERT_TRUE(h.Ready());
    for (const auto& entry : fs::directory_iterator(EXAMPLES_DIR)) {
        if (entry.path().extension() != ".avs") continue;
        AVS_Value v = h.Import(entry.path().string());
        ASSERT_EQ(v.type, avs::kTypeClip) << entry.path() << ": " << Host::ErrorText(v);
        host::ClipHandle c(h.api, v, h.env);
        if (c.Info().width != 0) {
            EXPECT_TRUE(c.Render(0)) << entry.path();
        }
    }
}

}  // namespace
