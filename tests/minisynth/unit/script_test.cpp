// minisynth as a script author sees it, driven through ms::Env: the language with its
// values and error texts, the clips and pixels the filters make, the test helpers, and
// Prefetch rendering ahead on worker threads.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "env.h"

namespace {

using ms::PClip;
using ms::PFrame;

// Sample x of row y (bytes in packed formats, 16-bit words above 8 bits).
int At(const PFrame& f, int plane, int x, int y) {
    const uint8_t* row = f->Data(plane) + static_cast<ptrdiff_t>(y) * f->Pitch(plane);
    if (f->BytesPerSample() == 1) return row[x];
    uint16_t v;
    std::memcpy(&v, row + 2 * x, 2);
    return v;
}

using Paint = std::function<int(int n, int plane, int x, int y)>;

// Frame n holds paint(n, plane, x, y) at every sample; 25 fps, with 48 kHz stereo audio that
// ends five frames before the video. Counts its renders.
class Painted : public ms::Clip {
  public:
    Painted(uint32_t type, int width, int height, int frames, Paint paint)
        : Clip({width, height, 25, 1, frames, static_cast<int>(type), 48000, avs::kSampleInt16,
                int64_t{frames - 5} * 1920, 2, 0}),
          paint_(std::move(paint)) {}

    PFrame GetFrame(int n) override {
        n = std::clamp(n, 0, vi_.num_frames - 1);  // as every source does
        ++renders;
        auto f = std::make_shared<ms::Frame>(vi_);
        const int size = f->BytesPerSample();
        for (int p = 0; p < f->PlaneCount(); ++p) {
            for (int y = 0; y < f->Height(p); ++y) {
                for (int x = 0; x < f->RowSize(p) / size; ++x) {
                    const int v = paint_(n, p, x, y);
                    std::memcpy(f->Data(p) + static_cast<ptrdiff_t>(y) * f->Pitch(p) + x * size, &v,
                                static_cast<size_t>(size));
                }
            }
        }
        return f;
    }

    std::atomic<int> renders{0};

  private:
    Paint paint_;
};

std::shared_ptr<Painted> Make(uint32_t type, int w, int h, int frames, Paint paint) {
    return std::make_shared<Painted>(type, w, h, frames, std::move(paint));
}

// Clips the scripts read: frame n of num is filled with n.
const std::map<std::string, PClip>& TestClips() {
    static const std::map<std::string, PClip> clips = {
        {"num", Make(avs::kCsY8, 8, 2, 100, [](int n, int, int, int) { return n; })},
        {"impulse", Make(avs::kCsY8, 7, 7, 1,
                         [](int, int, int x, int y) { return x == 3 && y == 3 ? 255 : 0; })},
        {"edge", Make(avs::kCsY8, 8, 4, 1, [](int, int, int x, int) { return x < 4 ? 50 : 200; })},
        // luma 60, U 228 in the second pixel pair, else 128
        {"yuy2dot", Make(avs::kCsYUY2, 8, 1, 1,
                         [](int, int, int x, int) {
                             return x % 2 == 0 ? 60 : x == 5 ? 228 : 128;
                         })},
        // U 100 on even rows and 200 on odd rows: each field has its own colour
        {"stripes",
         Make(avs::kCsYV24, 4, 8, 1,
              [](int, int p, int, int y) { return p != 1 ? 128 : (y % 2 ? 200 : 100); })},
    };
    return clips;
}

// Evaluates a script that may read the test clips and src.
ms::Value Eval(const std::string& script, const PClip& src = nullptr) {
    ms::Env env;
    for (const auto& [name, clip] : TestClips())
        env.SetVar(name, ms::Value::FromClip(clip));
    if (src) env.SetVar("src", ms::Value::FromClip(src));
    return env.Evaluate(script, "t.avs");
}

PClip ClipOf(const std::string& script, const PClip& src = nullptr) {
    const ms::Value v = Eval(script, src);
    EXPECT_TRUE(v.IsClip()) << script;
    return v.AsClip();
}

// The script's value in short (1, 0.5f, "text", clip 5, void, true) or the text of its error.
std::string Result(const std::string& script) {
    try {
        const ms::Value v = Eval(script);
        std::ostringstream out;
        if (v.IsVoid()) out << "void";
        if (v.IsBool()) out << (v.AsBool() ? "true" : "false");
        if (v.IsInt()) out << v.AsInt();
        if (v.GetType() == ms::Value::Type::Float) out << v.AsFloat() << "f";
        if (v.IsString()) out << '"' << v.AsString() << '"';
        if (v.IsClip()) out << "clip " << v.AsClip()->GetVideoInfo().num_frames;
        return out.str();
    } catch (const ms::Error& e) {
        return e.what();
    }
}

// The first sample of frames first to last, or [the error] for a frame that fails.
std::string Frames(const PClip& clip, int first, int last) {
    std::string sources;
    for (int n = first; n <= last; ++n) {
        sources += n > first ? " " : "";
        try {
            sources += std::to_string(At(clip->GetFrame(n), 0, 0, 0));
        } catch (const ms::Error& e) {
            sources += std::string("[") + e.what() + "]";
        }
    }
    return sources;
}

std::string Syntax(int line, int column) {
    return "Script error: syntax error\n(t.avs, line " + std::to_string(line) + ", column " +
           std::to_string(column) + ")";
}

std::string Located(const std::string& message, int line = 1) {
    return message + "\n(t.avs, line " + std::to_string(line) + ")";
}

TEST(Script, ValuesAndErrors) {
    const std::string noFunction = "Script error: There is no function named ";
    const std::string badArgs = "Script error: Invalid arguments to function ";
    const struct {
        std::string script;
        std::string expected;
    } cases[] = {
        // Literals and operators; integers wrap around at 32 bits.
        {"1 + 2 * 3 - 4 / 2", "5"},
        {"(1 + 2) * 3 % 4", "1"},
        {"-7 / 2 + - -3", "0"},
        {"2147483647 + 1", "-2147483648"},
        {"(-2147483647 - 1) / -1", "-2147483648"},
        {"$FFFFFFFF + $10", "15"},
        {"1 / 2.0 + .5", "1f"},
        {"5.5 % 2", "1.5f"},
        {"\"ab\" + \"\"\"q\n\"r\"\"\"", "\"abq\n\"r\""},
        {"1 < 2 && 2 <= 2 && 3 > 2 && 3 >= 3 && 1 == 1.0 && 1 != 2 && 1 <> 2", "true"},
        {"\"ABC\" == \"abc\" && \"abc\" < \"ABD\"", "true"},
        {"!true || false", "false"},
        {"false && NoSuchFunction() || true || NoSuchFunction()", "true"},
        {"1 > 2 ? NoSuchFunction() : \"no\"", "\"no\""},
        // Lines, comments and continuations.
        {"", "void"},
        {"# only a comment\n/* a block\n */\n", "void"},
        {"\r\n\n 1 + \\\n 2 \r\n", "3"},
        {"x = 1\n  \\ + 2\nx", "3"},
        {"x = 1 # a comment ends at its line \\\nx + 2", "3"},
        // The script's value, the implicit last and the method form.
        {"BlankClip(length=5)\n7\nz = 1", "clip 5"},
        {"return 1\nNoSuchFunction()", "1"},
        {"BlankClip(length=5)\nLoop(2)\nKillAudio\nTrim(1, 0)", "clip 9"},
        {"BlankClip(length=5).Loop(times=3).KillAudio.Trim(1, 0)", "clip 14"},
        {"BlankClip(length=5)\nTrim(BlankClip(length=9), 1, 0)", "clip 8"},
        // Names are case-insensitive, there is one scope, clips tell their properties.
        {"Foo = 3\nfOO + FOO", "6"},
        {"BLANKCLIP(LENGTH=4).loop(2)", "clip 8"},
        {"global g = 2\nTRUE && G == 2", "true"},
        {"c = BlankClip(length=7, width=16, height=16)\nFrameCount(c) * 100 + Width(c) + Height(c)",
         "732"},
        {"BlankClip().FrameRate", "24f"},
        // Errors, located at the line of the failing call or operator, once.
        {"1 / 0", Located("Evaluate: division by zero")},
        {"\"a\" + 1", Located("Evaluate: operands of \"+\" must both be numbers or strings")},
        {"\"a\" * \"b\"", Located("Evaluate: operands of \"*\" must be numbers")},
        {"-\"a\"", Located("Evaluate: operand of \"-\" must be a number")},
        {"1 && true", Located("Evaluate: operands of \"&&\" must be boolean")},
        {"1 ? 2 : 3", Located("Evaluate: operands of \"?:\" must be boolean")},
        {"true < false", Located("Evaluate: operands of \"<\" cannot be compared")},
        {"a = 1\n\nFoo(1)", Located(noFunction + "\"Foo\".", 3)},
        {"BlankClip.Loop(2) \\\n  .Bad()", Located(noFunction + "\"Bad\".", 2)},
        {"KillAudio(KillAudio(Foo()))", Located(noFunction + "\"Foo\".")},
        {"BlankClip(length=\"x\")", Located(badArgs + "\"BlankClip\"")},
        {"BlankClip.Invert(\"Y\", 2)", Located(badArgs + "\"Invert\"")},
        {"BlankClip(size=2)", Located(badArgs + "\"BlankClip\"")},
        {"BlankClip(length=1, length=2)", Located(badArgs + "\"BlankClip\"")},
        {"\n\nTrim(0, 1)", Located(badArgs + "\"Trim\"", 3)},  // no last to fill in
        {"x = nothing", Located("Script error: I don't know what \"nothing\" means.")},
        {"Assert(false)", Located("Assert: assertion failed")},
        {"\nAssert(1 > 2, \"too small\")", Located("too small", 2)},
        // Filters check their arguments.
        {"BlankClip(pixel_type=\"RGB48\")",
         Located(
             "BlankClip: pixel_type must be \"RGB24\", \"RGB32\", \"YUY2\", \"YV12\", \"I420\", "
             "\"YV16\", \"YV24\", \"YV411\", \"Y8\" or \"YUV420P10\"")},
        {"BlankClip(width=6, height=8, pixel_type=\"YV411\")",
         Located("BlankClip: width must be a multiple of 4 for YV411")},
        {"BlankClip(sample_type=\"12bit\")",
         Located("BlankClip: sample_type must be \"8bit\", "
                 "\"16bit\", \"24bit\", \"32bit\" or \"float\"")},
        {"BlankClip(fps=-1.0)", Located("BlankClip: fps must be positive")},
        {"BlankClip(color=0, color_yuv=0)",
         Located("BlankClip: color and color_yuv are mutually exclusive")},
        {"BlankClip(width=100000, height=100000)",
         Located("BlankClip: frame size 100000x100000 is too large")},
        {"BlankClip.Blur(0.5, -1.5)", Located("Blur: arguments must be in the range -1.0 to 1.58")},
        {"num.Trim(20, 10)", Located("Trim: last frame is before the first frame")},
        {"BlankClip.AssumeFPS(25, 0)",
         Located("AssumeFPS: numerator and denominator must be positive")},
        {"AudioDub(num.KillAudio, num.KillAudio)",
         Located("AudioDub: need an audio and a video track")},
        {"BlankClip(width=64, height=30).ConvertToYV12(interlaced=true)",
         Located("ConvertToYV12: Image height must be multiple of 4")},
        {"BlankClip.ConvertToYV24(matrix=\"Rec2020\")",
         Located(
             "ConvertToYV24: invalid \"matrix\" parameter (use Rec601, PC.601, Rec709 or PC.709)")},
        {"BlankClip.MSFault(3, \"explode\")",
         Located("MSFault: kind must be \"error\", \"access\" or \"divide\"")},
        {"BlankClip.Prefetch(-1)", Located("Prefetch: threads cannot be negative")},
        // Syntax errors: line and column of the offending token, before anything runs.
        {"a = @", Syntax(1, 4)},
        {"x\n  \"open", Syntax(2, 2)},
        {"\"\"\"never closed", Syntax(1, 0)},
        {"a = 99999999999", Syntax(1, 4)},
        {"/* open", Syntax(1, 0)},
        {std::string("a\0b", 3), Syntax(1, 1)},
        {"\"\"\"a\nb\"\"\" )", Syntax(2, 5)},
        {"1 \\\n  )", Syntax(2, 2)},
        {"a = 1\nb = (2 +\n", Syntax(2, 8)},
        {"BlankClip() Loop()", Syntax(1, 12)},
        {"c = BlankClip\nc.\n", Syntax(2, 2)},
        {"return", Syntax(1, 6)},
        {"Assert(false)\n)", Syntax(2, 0)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Result(c.script), c.expected) << c.script;
}

TEST(Script, DeepNestingIsRefusedNotOverflowed) {
    std::string parens(5000, '('), sum = "1", methods = "BlankClip";
    for (int i = 0; i < 5000; ++i) {
        sum += "+1";
        methods += ".KillAudio";
    }
    for (const std::string& deep : {parens + "1", sum, methods})
        EXPECT_EQ(Result(deep).rfind("Script error: syntax error\n", 0), 0u);
    EXPECT_EQ(Result(std::string(50, '(') + "7" + std::string(50, ')')), "7");
}

// Size, pixel type, frames, rate, image type | audio rate x channels, sample type, samples.
std::string Describe(const std::string& script) {
    const ms::VideoInfo vi = ClipOf(script)->GetVideoInfo();
    std::ostringstream out;
    out << vi.width << "x" << vi.height << " " << std::hex << std::uppercase << vi.pixel_type
        << std::dec << " " << vi.num_frames << " " << vi.fps_numerator << "/" << vi.fps_denominator
        << " it" << vi.image_type << " | " << vi.audio_samples_per_second << "x" << vi.nchannels
        << " t" << vi.sample_type << " " << vi.num_audio_samples;
    return out.str();
}

TEST(Filters, DescribeTheirClips) {
    const std::string blank = "640x480 50000002 240 ";
    const struct {
        const char* script;
        std::string expected;
    } cases[] = {
        {"BlankClip", blank + "24/1 it0 | 44100x1 t2 441000"},
        {"BlankClip(length=2000, width=1920, height=1080, pixel_type=\"YV12\", fps=25)",
         "1920x1080 A0000008 2000 25/1 it0 | 44100x1 t2 3528000"},
        {"BlankClip(fps=29.97)", blank + "2997/100 it0 | 44100x1 t2 353153"},
        {"BlankClip(fps=24000.0 / 1001, audio_rate=0)", blank + "24000/1001 it0 | 0x1 t2 0"},
        {"BlankClip(fps=50, fps_denominator=2, channels=2, sample_type=\"float\")",
         blank + "25/1 it0 | 44100x2 t16 423360"},
        {"BlankClip(BlankClip(length=10, height=16, pixel_type=\"YV24\", fps=50), width=64)",
         "64x16 A000030B 10 50/1 it0 | 44100x1 t2 8820"},
        {"ColorBars", "640x480 50000002 107892 30000/1001 it0 | 48000x2 t2 172799827"},
        {"num.Trim(10, 19)", "8x2 E0000000 10 25/1 it0 | 48000x2 t2 19200"},
        {"num.Trim(90, 0)", "8x2 E0000000 10 25/1 it0 | 48000x2 t2 19200"},
        {"num.Trim(30, -5)", "8x2 E0000000 5 25/1 it0 | 48000x2 t2 9600"},
        {"num.Trim(90, 0, pad=false)", "8x2 E0000000 10 25/1 it0 | 48000x2 t2 9600"},
        {"num.Trim(0, 9).Loop(3, 2, 4)", "8x2 E0000000 16 25/1 it0 | 48000x2 t2 30720"},
        {"num.Trim(0, 9).Loop(0, 2, 4)", "8x2 E0000000 7 25/1 it0 | 48000x2 t2 13440"},
        {"num.Trim(0, 9).Loop", "8x2 E0000000 10000000 25/1 it0 | 48000x2 t2 19200000000"},
        {"BlankClip.AssumeFieldBased.AssumeTFF", blank + "24/1 it6 | 44100x1 t2 441000"},
        {"BlankClip.AssumeFieldBased.AssumeTFF.AssumeBFF", blank + "24/1 it5 | 44100x1 t2 441000"},
        {"BlankClip.AssumeFPS(50, 2)", blank + "25/1 it0 | 44100x1 t2 441000"},
        {"BlankClip.AssumeFPS(29.97)", blank + "2997/100 it0 | 44100x1 t2 441000"},
        {"BlankClip.AssumeFPS(48, sync_audio=true)", blank + "48/1 it0 | 88200x1 t2 441000"},
        {"BlankClip(length=100).KillVideo", "0x0 0 0 24/1 it0 | 44100x1 t2 183750"},
        {"BlankClip(length=100).KillAudio", "640x480 50000002 100 24/1 it0 | 0x0 t2 0"},
        {"AudioDub(num.KillAudio, ColorBars)", "8x2 E0000000 100 25/1 it0 | 48000x2 t2 172799827"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Describe(c.script), c.expected) << c.script;
}

// Every pixel type has its code, and its frames are filled to the end of each plane: the
// last row holds what the first does (twelve bytes or samples on, in the same channel).
TEST(Filters, EveryPixelTypeRendersWhole) {
    const std::pair<std::string, uint32_t> types[] = {
        {"RGB24", 0x50000001u},    {"RGB32", 0x50000002u}, {"YUY2", 0x60000004u},
        {"YV12", 0xA0000008u},     {"I420", 0xA0000010u},  {"YV16", 0xA0000308u},
        {"yv24", 0xA000030Bu},     {"YV411", 0xA0000309u}, {"Y8", 0xE0000000u},
        {"YUV420P10", 0xA0050008u}};
    for (const auto& [name, code] : types) {
        const PClip clip =
            ClipOf("BlankClip(width=64, height=32, color=$204080, pixel_type=\"" + name + "\")");
        EXPECT_EQ(static_cast<uint32_t>(clip->GetVideoInfo().pixel_type), code) << name;
        const PFrame f = clip->GetFrame(0);
        for (int p = 0; p < f->PlaneCount(); ++p) {
            const int w = f->RowSize(p) / f->BytesPerSample(), first = At(f, p, w - 14, 0);
            EXPECT_NE(first, 0) << name << " plane " << p;
            EXPECT_EQ(At(f, p, w - 2, f->Height(p) - 1), first) << name << " plane " << p;
        }
    }
}

// Samples from (x, y) on along a row of one frame of a script's clip.
struct Probe {
    std::string script;
    int frame, plane, x, y;
    std::vector<int> expected;
};

void CheckProbes(const std::vector<Probe>& probes) {
    for (const Probe& p : probes) {
        const PFrame f = ClipOf(p.script)->GetFrame(p.frame);
        std::vector<int> found;
        for (size_t i = 0; i < p.expected.size(); ++i)
            found.push_back(At(f, p.plane, p.x + static_cast<int>(i), p.y));
        EXPECT_EQ(found, p.expected) << p.script << ": frame " << p.frame << ", plane " << p.plane
                                     << " from " << p.x << "," << p.y;
    }
}

TEST(Filters, ComputeTheirPixels) {
    const std::string small = "BlankClip(width=4, height=2, ";
    const std::string rgb = "BlankClip(width=2, height=2, color=$281E140A)";  // A 40 R 30 G 20 B 10
    const std::string yuv = "BlankClip(width=4, height=4, pixel_type=";
    const std::string white = "BlankClip(width=4, height=4, color=$FFFFFF)";
    const std::string grey = "BlankClip(width=16, height=8, color=$808080).ConvertTo";
    const std::string i420 = "BlankClip(width=8, height=8, pixel_type=\"I420\")";
    const std::string fields = "stripes.ConvertToYV12(interlaced=true)";
    CheckProbes({
        // Sources
        {small + "color=$40FF8020)", 0, 0, 12, 1, {0x20, 0x80, 0xFF, 0x40}},
        {small + "pixel_type=\"YUY2\", color_yuv=$5060A0)", 0, 0, 4, 1, {0x50, 0x60, 0x50, 0xA0}},
        // Bars 640 / 7 pixels wide, B G R A: grey first.
        {"ColorBars", 5000, 0, 4 * 10, 10, {180, 180, 180, 255}},
        // Blur and Sharpen: Blur(1.0) is 1-2-1 in both directions.
        {"impulse.Blur(1.0)", 0, 0, 1, 3, {0, 32, 64, 32, 0}},
        {"edge.Sharpen(0.5)", 0, 0, 0, 1, {50, 50, 50, 19, 231, 200, 200, 200}},
        // Packed formats keep their channels apart.
        {"yuy2dot.Blur(1.0)", 0, 0, 0, 0, {60, 153, 60, 128, 60, 178, 60, 128, 60, 153, 60, 128}},
        // Invert
        {rgb + ".Invert", 0, 0, 4, 1, {245, 235, 225, 215}},
        {yuv + "\"YUV420P10\").Invert", 0, 0, 1, 1, {1023 - 64}},
        // Colour conversions
        {white + ".ConvertToYV12", 0, 0, 0, 0, {235}},  // studio range
        {grey + "YV12.ConvertToRGB32", 0, 0, 60, 7, {128, 128, 128, 255}},
        {i420 + ".ConvertToYUY2", 0, 0, 12, 7, {16, 128, 16, 128}},
        // Interlaced 4:2:0 keeps each field's chroma apart, progressive mixes the rows.
        {fields, 0, 1, 0, 0, {100, 100}},
        {"stripes.ConvertToYV12", 0, 1, 1, 1, {150}},
    });
}

TEST(Filters, EditingPicksTheRightFrames) {
    EXPECT_EQ(Frames(ClipOf("num.Trim(10, 19)"), -2, 11),
              "10 10 10 11 12 13 14 15 16 17 18 19 19 19");
    EXPECT_EQ(Frames(ClipOf("num.Trim(30, -5)"), 0, 4), "30 31 32 33 34");
    EXPECT_EQ(Frames(ClipOf("num.Trim(0, 9).Loop(3, 2, 4)"), 0, 15),
              "0 1 2 3 4 2 3 4 2 3 4 5 6 7 8 9");
    EXPECT_EQ(Frames(ClipOf("num.Trim(0, 9).Loop(0, 2, 4)"), 0, 6), "0 1 5 6 7 8 9");
    EXPECT_EQ(Frames(ClipOf("num.Trim(0, 9).Loop"), 1234567, 1234569), "7 8 9");
    EXPECT_EQ(Frames(ClipOf("AudioDub(ColorBars, num.KillAudio)"), 5, 7), "5 6 7");
    EXPECT_EQ(Frames(ClipOf("BlankClip.KillVideo"), 0, 0), "[KillVideo: clip has no video]");
}

// The signal that ends a process requesting the frames; 0 when none does.
int Signal(const std::string& script, const std::vector<int>& frames) {
    const PClip clip = ClipOf(script);
    const pid_t pid = fork();
    if (pid == 0) {
        // Let the fault end the process as it would without a sanitizer watching; the alarm
        // ends a fault that repeats, so the wait below has a limit.
        alarm(10);
        signal(SIGSEGV, SIG_DFL);
        signal(SIGFPE, SIG_DFL);
        for (int n : frames)
            clip->GetFrame(n);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

TEST(TestHelpers, MSBusyAndMSFault) {
    const PClip busy = ClipOf("BlankClip.MSBusy(15)");  // a busy wait of 15 ms per frame
    const auto start = std::chrono::steady_clock::now();
    Frames(busy, 0, 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_EQ(Frames(ClipOf("num.MSFault(3, \"error\")"), 2, 4),
              "2 [MSFault: injected error at frame 3] 4");
    // The request is clamped to the last frame before it meets the fault.
    EXPECT_EQ(Frames(ClipOf("num.MSFault(99, \"error\", \"disk on fire\")"), 200, 200),
              "[disk on fire]");
    // The crash kinds are real faults on the calling thread, at their frame only.
    EXPECT_EQ(Signal("num.MSFault(5, \"access\")", {0, 4, 6}), 0);
    EXPECT_EQ(Signal("num.MSFault(5, \"access\")", {4, 5}), SIGSEGV);
    EXPECT_EQ(Signal("num.MSFault(5, \"divide\")", {5}), SIGFPE);
}

// Frame n is a 32x16 picture that depends on n.
std::shared_ptr<Painted> Source(int frames) {
    return Make(avs::kCsY8, 32, 16, frames,
                [](int n, int, int x, int y) { return (n * 7 + x * 3 + y * 11) & 255; });
}

bool SameFrame(const PFrame& a, const PFrame& b) {
    for (int y = 0; y < a->Height(0); ++y) {
        if (std::memcmp(a->Data(0) + y * a->Pitch(0), b->Data(0) + y * b->Pitch(0),
                        static_cast<size_t>(a->RowSize(0))) != 0) {
            return false;
        }
    }
    return true;
}

bool WaitFor(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
}

// Three readers at once, each in order, then at random with repeats, jumps back and
// numbers out of range.
TEST(Prefetch, EveryFrameEqualsTheUnprefetchedOne) {
    const PClip plain = ClipOf("src.Blur(1.0)", Source(60));
    std::mt19937 random(12345);
    std::vector<int> order;
    for (int i = 0; i < 240; ++i)
        order.push_back(i < 60 ? i : std::uniform_int_distribution<int>(-3, 63)(random));
    for (const char* threads : {"0", "1", "2", "4"}) {
        const PClip ahead =
            ClipOf(std::string("src.Blur(1.0).Prefetch(") + threads + ")", Source(60));
        std::atomic<int> mismatches{0};
        std::vector<std::thread> readers;
        for (int r = 0; r < 3; ++r) {
            readers.emplace_back([&] {
                for (int n : order)
                    mismatches += !SameFrame(ahead->GetFrame(n), plain->GetFrame(n));
            });
        }
        for (std::thread& t : readers)
            t.join();
        EXPECT_EQ(mismatches, 0) << threads;
    }
}

TEST(Prefetch, RendersAheadOnWorkerThreadsAndEachFrameOnce) {
    const auto src = Source(40);
    const PClip ahead = ClipOf("src.Prefetch(2)", src);
    ahead->GetFrame(0);
    // This thread asks for nothing more, yet frames 1 to 4 get rendered.
    ASSERT_TRUE(WaitFor([&] { return src->renders >= 5; }));
    for (int n = 0; n < 40; ++n)
        ahead->GetFrame(n);
    EXPECT_EQ(src->renders, 40);
}

TEST(Prefetch, DestructionWhileWorkIsInFlightStopsEveryWorker) {
    const auto src = Source(1000);
    ClipOf("src.MSBusy(5).Prefetch(4)", src)->GetFrame(0);
    // The prefetcher is gone: its workers were joined and start nothing more.
    const int renders = src->renders;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(src->renders, renders);
}

}  // namespace
