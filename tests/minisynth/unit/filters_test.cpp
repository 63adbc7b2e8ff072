// minisynth's filters, called through the function table with ready-made arguments.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>

#include "core.h"
#include "env.h"

namespace {

using ms::PClip;
using ms::PFrame;
using ms::Value;

struct Arg {
    std::string name;  // empty: positional
    Value value;
};

// Index of each parameter in a signature such as "c[times]i[start]i".
std::vector<std::string> ParamNames(const std::string& params) {
    std::vector<std::string> names;
    for (size_t i = 0; i < params.size(); ++i) {
        std::string name;
        if (params[i] == '[') {
            const size_t close = params.find(']', i);
            name = params.substr(i + 1, close - i - 1);
            i = close + 1;
        }
        names.push_back(name);
    }
    return names;
}

Value Call(const std::string& function, const std::vector<Arg>& args) {
    static std::vector<ms::Function> table = [] {
        std::vector<ms::Function> t;
        ms::RegisterFilters(t);
        return t;
    }();
    for (const ms::Function& f : table) {
        if (f.name != function) continue;
        const std::vector<std::string> names = ParamNames(f.params);
        std::vector<Value> bound(names.size());
        size_t position = 0;
        for (const Arg& a : args) {
            size_t index = position++;
            if (!a.name.empty()) {
                index = 0;
                while (index < names.size() && names[index] != a.name)
                    ++index;
            }
            EXPECT_LT(index, names.size()) << function << ": no parameter " << a.name;
            if (index < names.size()) bound[index] = a.value;
        }
        ms::Env env;
        return f.call(env, bound);
    }
    ADD_FAILURE() << "no function " << function;
    return Value();
}

PClip CallClip(const std::string& function, const std::vector<Arg>& args) {
    const Value v = Call(function, args);
    EXPECT_TRUE(v.IsClip()) << function;
    return v.AsClip();
}

// The error text of a call that must fail.
std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ms::Error& e) {
        return e.what();
    }
    return "(no error)";
}

Arg A(Value v) {
    return {"", std::move(v)};
}
Arg A(const std::string& name, Value v) {
    return {name, std::move(v)};
}
Value I(int i) {
    return Value::Int(i);
}
Value F(double f) {
    return Value::Float(f);
}
Value S(const std::string& s) {
    return Value::String(s);
}
Value C(PClip c) {
    return Value::FromClip(std::move(c));
}

PClip Blank(const std::string& pixelType, int width, int height, std::vector<Arg> more = {}) {
    more.push_back(A("pixel_type", S(pixelType)));
    more.push_back(A("width", I(width)));
    more.push_back(A("height", I(height)));
    return CallClip("BlankClip", more);
}

int At(const PFrame& f, int plane, int x, int y) {
    return f->Data(plane)[static_cast<ptrdiff_t>(y) * f->Pitch(plane) + x];
}

int At16(const PFrame& f, int plane, int x, int y) {
    uint16_t v;
    std::memcpy(&v, f->Data(plane) + static_cast<ptrdiff_t>(y) * f->Pitch(plane) + 2 * x, 2);
    return v;
}

// A clip of one frame that the test paints, in any colour space.
class Painted : public ms::Clip {
  public:
    Painted(const ms::VideoInfo& vi, const std::function<void(ms::Frame&)>& paint) : Clip(vi) {
        auto f = std::make_shared<ms::Frame>(vi);
        paint(*f);
        frame_ = f;
    }
    PFrame GetFrame(int) override { return frame_; }

  private:
    PFrame frame_;
};

ms::VideoInfo Info(uint32_t pixelType, int width, int height, int frames = 1) {
    ms::VideoInfo vi{};
    vi.width = width;
    vi.height = height;
    vi.pixel_type = static_cast<int>(pixelType);
    vi.fps_numerator = 25;
    vi.fps_denominator = 1;
    vi.num_frames = frames;
    return vi;
}

void Fill(ms::Frame& f, int plane, int value) {
    for (int y = 0; y < f.Height(plane); ++y) {
        std::memset(f.Data(plane) + static_cast<ptrdiff_t>(y) * f.Pitch(plane), value,
                    static_cast<size_t>(f.RowSize(plane)));
    }
}

void Set(ms::Frame& f, int plane, int x, int y, int value) {
    f.Data(plane)[static_cast<ptrdiff_t>(y) * f.Pitch(plane) + x] = static_cast<uint8_t>(value);
}

// Frame n carries n in its first byte: for checking which source frame a filter hands out.
class Numbered : public ms::Clip {
  public:
    // Audio for audioFrames frames at 25 fps, 48 kHz.
    explicit Numbered(int frames, int audioFrames = -1) : Clip(Info(avs::kCsY8, 8, 2, frames)) {
        vi_.audio_samples_per_second = 48000;
        vi_.nchannels = 2;
        vi_.sample_type = avs::kSampleInt16;
        vi_.num_audio_samples = int64_t{audioFrames < 0 ? frames : audioFrames} * 48000 / 25;
    }
    PFrame GetFrame(int n) override {
        auto f = std::make_shared<ms::Frame>(vi_);
        Set(*f, 0, 0, 0, n);
        return f;
    }
};

int SourceOf(const PClip& clip, int n) {
    return At(clip->GetFrame(n), 0, 0, 0);
}

// ---------------------------------------------------------------------------------------
// Sources

TEST(BlankClip, DefaultsMatchAviSynth) {
    const ms::VideoInfo vi = CallClip("BlankClip", {})->GetVideoInfo();
    EXPECT_EQ(vi.width, 640);
    EXPECT_EQ(vi.height, 480);
    EXPECT_EQ(static_cast<uint32_t>(vi.pixel_type), 0x50000002u);
    EXPECT_EQ(vi.num_frames, 240);
    EXPECT_EQ(vi.fps_numerator, 24u);
    EXPECT_EQ(vi.fps_denominator, 1u);
    EXPECT_EQ(vi.audio_samples_per_second, 44100);
    EXPECT_EQ(vi.nchannels, 1);
    EXPECT_EQ(vi.sample_type, avs::kSampleInt16);
    EXPECT_EQ(vi.num_audio_samples, 240 * 44100 / 24);
    EXPECT_EQ(vi.image_type, 0);
}

TEST(BlankClip, FullHdYv12AsObservedOnAviSynthPlus) {
    const ms::VideoInfo vi =
        CallClip("BlankClip", {A("length", I(2000)), A("width", I(1920)), A("height", I(1080)),
                               A("pixel_type", S("YV12")), A("fps", I(25))})
            ->GetVideoInfo();
    EXPECT_EQ(static_cast<uint32_t>(vi.pixel_type), 0xA0000008u);
    EXPECT_EQ(vi.fps_numerator, 25u);
    EXPECT_EQ(vi.fps_denominator, 1u);
    EXPECT_EQ(vi.num_audio_samples, 3528000);
}

TEST(BlankClip, EveryPixelTypeHasItsCodeAndLayout) {
    struct Case {
        const char* name;
        uint32_t code;
        int planes;
        int rowBytes[3];  // for 64x32
        int heights[3];
        int bytesPerSample;
    };
    const Case cases[] = {
        {"RGB24", 0x50000001u, 1, {192}, {32}, 1},
        {"RGB32", 0x50000002u, 1, {256}, {32}, 1},
        {"YUY2", 0x60000004u, 1, {128}, {32}, 1},
        {"YV12", 0xA0000008u, 3, {64, 32, 32}, {32, 16, 16}, 1},
        {"I420", 0xA0000010u, 3, {64, 32, 32}, {32, 16, 16}, 1},
        {"YV16", 0xA0000308u, 3, {64, 32, 32}, {32, 32, 32}, 1},
        {"YV24", 0xA000030Bu, 3, {64, 64, 64}, {32, 32, 32}, 1},
        {"YV411", 0xA0000309u, 3, {64, 16, 16}, {32, 32, 32}, 1},
        {"Y8", 0xE0000000u, 1, {64}, {32}, 1},
        {"YUV420P10", 0xA0050008u, 3, {128, 64, 64}, {32, 16, 16}, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PClip clip = Blank(c.name, 64, 32);
        EXPECT_EQ(static_cast<uint32_t>(clip->GetVideoInfo().pixel_type), c.code);
        const PFrame f = clip->GetFrame(0);
        ASSERT_EQ(f->PlaneCount(), c.planes);
        EXPECT_EQ(f->BytesPerSample(), c.bytesPerSample);
        for (int p = 0; p < c.planes; ++p) {
            EXPECT_EQ(f->RowSize(p), c.rowBytes[p]);
            EXPECT_EQ(f->Height(p), c.heights[p]);
            EXPECT_GE(f->Pitch(p), f->RowSize(p));
            EXPECT_EQ(f->Pitch(p) % 64, 0);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(f->Data(p)) % 64, 0u);
        }
    }
    // Names are case-insensitive, as in AviSynth.
    EXPECT_EQ(static_cast<uint32_t>(Blank("yv24", 8, 8)->GetVideoInfo().pixel_type), 0xA000030Bu);
}

TEST(BlankClip, HandsOutOneCachedFrame) {
    const PClip clip = CallClip("BlankClip", {});
    const PFrame first = clip->GetFrame(0);
    EXPECT_EQ(clip->GetFrame(100).get(), first.get());
    EXPECT_EQ(clip->GetFrame(-5).get(), first.get());
    EXPECT_EQ(clip->GetFrame(1000000).get(), first.get());
}

TEST(BlankClip, FillsTheColourInEveryColourSpace) {
    const PFrame rgb = Blank("RGB32", 4, 2, {A("color", I(0x40FF8020))})->GetFrame(0);
    EXPECT_EQ(At(rgb, 0, 4 * 3 + 0, 1), 0x20);  // B
    EXPECT_EQ(At(rgb, 0, 4 * 3 + 1, 1), 0x80);  // G
    EXPECT_EQ(At(rgb, 0, 4 * 3 + 2, 1), 0xFF);  // R
    EXPECT_EQ(At(rgb, 0, 4 * 3 + 3, 1), 0x40);  // A
    const PFrame rgb24 = Blank("RGB24", 4, 2, {A("color", I(0x102030))})->GetFrame(0);
    EXPECT_EQ(At(rgb24, 0, 3 * 3 + 0, 1), 0x30);
    EXPECT_EQ(At(rgb24, 0, 3 * 3 + 2, 1), 0x10);

    // Black is Y 16, U and V 128 in YUV; 10-bit samples are four times larger.
    const PFrame yv12 = Blank("YV12", 8, 4)->GetFrame(0);
    EXPECT_EQ(At(yv12, 0, 7, 3), 16);
    EXPECT_EQ(At(yv12, 1, 3, 1), 128);
    EXPECT_EQ(At(yv12, 2, 3, 1), 128);
    const PFrame p10 = Blank("YUV420P10", 8, 4)->GetFrame(0);
    EXPECT_EQ(At16(p10, 0, 7, 3), 64);
    EXPECT_EQ(At16(p10, 2, 3, 1), 512);

    // White through the Rec.601 matrix, and an explicit YUV colour.
    const PFrame white = Blank("YV24", 4, 4, {A("color", I(0xFFFFFF))})->GetFrame(0);
    EXPECT_EQ(At(white, 0, 0, 0), 235);
    const PFrame yuy2 = Blank("YUY2", 4, 2, {A("color_yuv", I(0x5060A0))})->GetFrame(0);
    const int expected[8] = {0x50, 0x60, 0x50, 0xA0, 0x50, 0x60, 0x50, 0xA0};
    for (int x = 0; x < 8; ++x)
        EXPECT_EQ(At(yuy2, 0, x, 1), expected[x]) << x;
}

TEST(BlankClip, FrameRatesAndTemplates) {
    auto fps = [](std::vector<Arg> args) {
        const ms::VideoInfo vi = CallClip("BlankClip", args)->GetVideoInfo();
        return std::to_string(vi.fps_numerator) + "/" + std::to_string(vi.fps_denominator);
    };
    EXPECT_EQ(fps({A("fps", F(29.97))}), "2997/100");
    EXPECT_EQ(fps({A("fps", F(23.976))}), "2997/125");
    EXPECT_EQ(fps({A("fps", F(static_cast<float>(30000.0 / 1001.0)))}), "30000/1001");
    EXPECT_EQ(fps({A("fps", F(30000.0 / 1001.0))}), "30000/1001");
    EXPECT_EQ(fps({A("fps", F(static_cast<float>(29.97)))}), "2997/100");
    EXPECT_EQ(fps({A("fps", F(24000.0 / 1001.0))}), "24000/1001");
    EXPECT_EQ(fps({A("fps", I(30000)), A("fps_denominator", I(1001))}), "30000/1001");
    EXPECT_EQ(fps({A("fps", I(50)), A("fps_denominator", I(2))}), "25/1");

    const PClip model =
        CallClip("BlankClip", {A("length", I(10)), A("width", I(32)), A("height", I(16)),
                               A("pixel_type", S("YV24")), A("fps", I(50))});
    const ms::VideoInfo vi =
        CallClip("BlankClip", {A(C(model)), A("width", I(64))})->GetVideoInfo();
    EXPECT_EQ(vi.num_frames, 10);
    EXPECT_EQ(vi.width, 64);
    EXPECT_EQ(vi.height, 16);
    EXPECT_EQ(static_cast<uint32_t>(vi.pixel_type), 0xA000030Bu);
    EXPECT_EQ(vi.fps_numerator, 50u);

    const ms::VideoInfo silent = CallClip("BlankClip", {A("audio_rate", I(0))})->GetVideoInfo();
    EXPECT_EQ(silent.audio_samples_per_second, 0);
    EXPECT_EQ(silent.num_audio_samples, 0);
    const ms::VideoInfo stereo =
        CallClip("BlankClip", {A("channels", I(2)), A("sample_type", S("float"))})->GetVideoInfo();
    EXPECT_EQ(stereo.nchannels, 2);
    EXPECT_EQ(stereo.sample_type, avs::kSampleFloat);
}

TEST(BlankClip, RefusesBadArguments) {
    EXPECT_EQ(ErrorOf([] { Call("BlankClip", {A("length", I(-1))}); }),
              "BlankClip: length must not be negative");
    EXPECT_EQ(ErrorOf([] { Call("BlankClip", {A("width", I(-640))}); }),
              "BlankClip: width and height must not be negative");
    const std::string type = ErrorOf([] { Blank("RGB48", 8, 8); });
    EXPECT_EQ(type.rfind("BlankClip: pixel_type must be \"RGB24\", \"RGB32\"", 0), 0u) << type;
    EXPECT_NE(type.find("or \"YUV420P10\""), std::string::npos) << type;
    EXPECT_EQ(ErrorOf([] { Blank("YV12", 7, 8); }),
              "BlankClip: width must be a multiple of 2 for YV12");
    EXPECT_EQ(ErrorOf([] { Blank("YV411", 6, 8); }),
              "BlankClip: width must be a multiple of 4 for YV411");
    EXPECT_EQ(ErrorOf([] { Blank("YV12", 8, 5); }),
              "BlankClip: height must be a multiple of 2 for YV12");
    EXPECT_NE(ErrorOf([] {
                  Call("BlankClip", {A("sample_type", S("12bit"))});
              }).find("BlankClip: sample_type must be"),
              std::string::npos);
    EXPECT_NE(ErrorOf([] { Call("BlankClip", {A("fps", F(-1.0))}); }), "(no error)");
    EXPECT_NE(ErrorOf([] {
                  Call("BlankClip", {A("color", I(0)), A("color_yuv", I(0))});
              }),
              "(no error)");
    EXPECT_NE(ErrorOf([] { Blank("RGB32", 100000, 100000); }).find("too large"), std::string::npos);
}

TEST(ColorBars, DescriptionPatternAndCache) {
    const PClip bars = CallClip("ColorBars", {});
    const ms::VideoInfo& vi = bars->GetVideoInfo();
    EXPECT_EQ(vi.width, 640);
    EXPECT_EQ(vi.height, 480);
    EXPECT_EQ(static_cast<uint32_t>(vi.pixel_type), 0x50000002u);
    EXPECT_EQ(vi.num_frames, 107892);
    EXPECT_EQ(vi.fps_numerator, 30000u);
    EXPECT_EQ(vi.fps_denominator, 1001u);
    EXPECT_EQ(vi.audio_samples_per_second, 48000);
    EXPECT_EQ(vi.nchannels, 2);

    const PFrame f = bars->GetFrame(0);
    EXPECT_EQ(bars->GetFrame(5000).get(), f.get());
    auto rgb = [&](int x, int y) {
        const uint8_t* px = f->Data(0) + static_cast<ptrdiff_t>(y) * f->Pitch(0) + 4 * x;
        return std::vector<int>{px[2], px[1], px[0], px[3]};
    };
    const int barWidth = 640 / 7;
    EXPECT_EQ(rgb(10, 10), (std::vector<int>{180, 180, 180, 255}));                 // grey
    EXPECT_EQ(rgb(barWidth + 10, 10), (std::vector<int>{180, 180, 16, 255}));       // yellow
    EXPECT_EQ(rgb(6 * barWidth + 10, 10), (std::vector<int>{16, 16, 180, 255}));    // blue
    EXPECT_EQ(rgb(barWidth * 3 / 2, 470), (std::vector<int>{235, 235, 235, 255}));  // white

    // YUV bars keep the studio range: the grey bar has luma 180 and no colour.
    const PFrame yuv = CallClip("ColorBars", {A("pixel_type", S("YV12"))})->GetFrame(0);
    EXPECT_EQ(At(yuv, 0, 10, 10), 180);
    EXPECT_EQ(At(yuv, 1, 5, 5), 128);
    EXPECT_EQ(At(yuv, 2, 5, 5), 128);
    EXPECT_NE(ErrorOf([] { Call("ColorBars", {A("pixel_type", S("YV13"))}); }), "(no error)");
}

// ---------------------------------------------------------------------------------------
// Pixel filters

// A black Y8 picture with one white sample in the middle.
PClip Impulse(int size) {
    return std::make_shared<Painted>(Info(avs::kCsY8, size, size), [size](ms::Frame& f) {
        Fill(f, 0, 0);
        Set(f, 0, size / 2, size / 2, 255);
    });
}

TEST(Blur, SpreadsAnImpulseOverTheThreeByThreeNeighbourhood) {
    const PFrame out = CallClip("Blur", {A(C(Impulse(7))), A(F(1.0))})->GetFrame(0);
    // 1-2-1 in both directions: 4/16, 2/16, 1/16 of 255.
    EXPECT_NEAR(At(out, 0, 3, 3), 64, 1);
    for (auto [x, y] : {std::pair{2, 3}, {4, 3}, {3, 2}, {3, 4}})
        EXPECT_NEAR(At(out, 0, x, y), 32, 1);
    for (auto [x, y] : {std::pair{2, 2}, {4, 4}, {2, 4}, {4, 2}})
        EXPECT_NEAR(At(out, 0, x, y), 16, 1);
    EXPECT_EQ(At(out, 0, 1, 3), 0);
    EXPECT_EQ(At(out, 0, 3, 5), 0);

    // amountV 0 blurs along rows only.
    const PFrame rows =
        CallClip("Blur", {A(C(Impulse(7))), A(F(1.0)), A("amountV", F(0.0))})->GetFrame(0);
    EXPECT_NEAR(At(rows, 0, 2, 3), 64, 1);
    EXPECT_EQ(At(rows, 0, 3, 2), 0);
}

TEST(Blur, LeavesFlatAreasAloneAndWritesNewFrames) {
    const PClip flat = std::make_shared<Painted>(Info(avs::kCsYV12, 16, 8), [](ms::Frame& f) {
        Fill(f, 0, 90);
        Fill(f, 1, 100);
        Fill(f, 2, 150);
    });
    for (const char* name : {"Blur", "Sharpen"}) {
        SCOPED_TRACE(name);
        const PClip filtered = CallClip(name, {A(C(flat)), A(F(1.0))});
        const PFrame a = filtered->GetFrame(0);
        const PFrame b = filtered->GetFrame(0);
        EXPECT_NE(a.get(), b.get());
        EXPECT_NE(a.get(), flat->GetFrame(0).get());
        for (int x = 0; x < 16; ++x)
            EXPECT_EQ(At(a, 0, x, x % 8), 90);
        EXPECT_EQ(At(a, 1, 7, 3), 100);
        EXPECT_EQ(At(a, 2, 0, 0), 150);
    }
}

TEST(Sharpen, SteepensAnEdge) {
    const PClip edge = std::make_shared<Painted>(Info(avs::kCsY8, 8, 4), [](ms::Frame& f) {
        for (int y = 0; y < 4; ++y) {
            for (int x = 0; x < 8; ++x)
                Set(f, 0, x, y, x < 4 ? 50 : 200);
        }
    });
    const PFrame out = CallClip("Sharpen", {A(C(edge)), A(F(0.5))})->GetFrame(0);
    EXPECT_LT(At(out, 0, 3, 1), 50);
    EXPECT_GT(At(out, 0, 4, 1), 200);
    EXPECT_EQ(At(out, 0, 1, 1), 50);
    EXPECT_EQ(At(out, 0, 6, 1), 200);
    // Blur does the opposite.
    const PFrame soft = CallClip("Blur", {A(C(edge)), A(F(1.0))})->GetFrame(0);
    EXPECT_GT(At(soft, 0, 3, 1), 50);
    EXPECT_LT(At(soft, 0, 4, 1), 200);
}

TEST(Blur, KeepsTheChannelsOfPackedFormatsApart) {
    // RGB32: a red impulse in pixel 2 of a green picture.
    const PClip rgb = std::make_shared<Painted>(Info(avs::kCsBGR32, 5, 3), [](ms::Frame& f) {
        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 5; ++x) {
                uint8_t* px = f.Data(0) + y * f.Pitch(0) + 4 * x;
                px[0] = 0;
                px[1] = 120;
                px[2] = (x == 2 && y == 1) ? 200 : 0;
                px[3] = 255;
            }
        }
    });
    const PFrame out = CallClip("Blur", {A(C(rgb)), A(F(1.0))})->GetFrame(0);
    auto px = [&](int x, int y, int c) { return At(out, 0, 4 * x + c, y); };
    EXPECT_NEAR(px(2, 1, 2), 50, 1);  // red spread over the neighbouring pixels
    EXPECT_NEAR(px(1, 1, 2), 25, 1);
    EXPECT_NEAR(px(3, 0, 2), 12, 1);
    EXPECT_EQ(px(0, 1, 2), 0);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(px(x, 1, 0), 0);    // blue untouched
        EXPECT_EQ(px(x, 1, 1), 120);  // green flat
        EXPECT_EQ(px(x, 1, 3), 255);
    }

    // YUY2: a U impulse must not leak into luma, and spreads to the next U two pixels on.
    const PClip yuy2 = std::make_shared<Painted>(Info(avs::kCsYUY2, 8, 1), [](ms::Frame& f) {
        const uint8_t row[16] = {60, 128, 60, 128, 60, 228, 60, 128,
                                 60, 128, 60, 128, 60, 128, 60, 128};
        std::memcpy(f.Data(0), row, sizeof row);
    });
    const PFrame y2 = CallClip("Blur", {A(C(yuy2)), A(F(1.0))})->GetFrame(0);
    for (int x = 0; x < 16; x += 2)
        EXPECT_EQ(At(y2, 0, x, 0), 60) << x;
    EXPECT_EQ(At(y2, 0, 5, 0), 178);
    EXPECT_EQ(At(y2, 0, 1, 0), 153);
    EXPECT_EQ(At(y2, 0, 9, 0), 153);
    EXPECT_EQ(At(y2, 0, 3, 0), 128);  // V untouched
}

TEST(Blur, WorksOnTenBitSamples) {
    const PClip src = std::make_shared<Painted>(Info(0xA0050008u, 8, 8), [](ms::Frame& f) {
        for (int p = 0; p < 3; ++p) {
            for (int y = 0; y < f.Height(p); ++y) {
                auto* row = reinterpret_cast<uint16_t*>(f.Data(p) + y * f.Pitch(p));
                for (int x = 0; x < f.RowSize(p) / 2; ++x)
                    row[x] = p == 0 && x >= 4 ? 1000 : 512;
            }
        }
    });
    const PFrame out = CallClip("Blur", {A(C(src)), A(F(1.0))})->GetFrame(0);
    EXPECT_EQ(At16(out, 0, 7, 2), 1000);  // above 8-bit range, not clipped
    EXPECT_EQ(At16(out, 0, 0, 2), 512);
    EXPECT_NEAR(At16(out, 0, 3, 2), (512 * 3 + 1000) / 4, 1);
    EXPECT_NEAR(At16(out, 0, 4, 2), (512 + 1000 * 3) / 4, 1);
    EXPECT_EQ(At16(out, 1, 2, 2), 512);
}

TEST(Blur, ChecksItsArguments) {
    const PClip c = Blank("YV12", 16, 16);
    EXPECT_EQ(ErrorOf([&] {
                  Call("Blur", {A(C(c)), A(F(1.6))});
              }),
              "Blur: arguments must be in the range -1.0 to 1.58");
    EXPECT_EQ(ErrorOf([&] {
                  Call("Blur", {A(C(c)), A(F(0.5)), A(F(-1.5))});
              }),
              "Blur: arguments must be in the range -1.0 to 1.58");
    EXPECT_EQ(ErrorOf([&] {
                  Call("Sharpen", {A(C(c)), A(F(1.01))});
              }),
              "Sharpen: arguments must be in the range -1.58 to 1.0");
    EXPECT_EQ(ErrorOf([&] { Call("Blur", {A(C(c)), A(F(1.58))}); }), "(no error)");
    EXPECT_EQ(ErrorOf([&] { Call("Sharpen", {A(C(c)), A(F(-1.58))}); }), "(no error)");
    // Nothing to do: the clip itself comes back, as in AviSynth.
    EXPECT_EQ(CallClip("Blur", {A(C(c)), A(F(0.0))}).get(), c.get());
    const PClip noVideo = CallClip("KillVideo", {A(C(c))});
    EXPECT_EQ(ErrorOf([&] {
                  Call("Blur", {A(C(noVideo)), A(F(1.0))});
              }),
              "Blur: clip has no video");
}

TEST(Invert, InvertsTheChosenChannels) {
    const PClip rgb = Blank("RGB32", 2, 2, {A("color", I(0x281E140A))});  // A 40 R 30 G 20 B 10
    const PFrame all = CallClip("Invert", {A(C(rgb))})->GetFrame(0);
    EXPECT_EQ(At(all, 0, 4, 1), 245);
    EXPECT_EQ(At(all, 0, 5, 1), 235);
    EXPECT_EQ(At(all, 0, 6, 1), 225);
    EXPECT_EQ(At(all, 0, 7, 1), 215);
    const PFrame red = CallClip("Invert", {A(C(rgb)), A("channels", S("r"))})->GetFrame(0);
    EXPECT_EQ(At(red, 0, 4, 1), 10);
    EXPECT_EQ(At(red, 0, 6, 1), 225);
    EXPECT_EQ(At(red, 0, 7, 1), 40);

    const PFrame yuv = CallClip("Invert", {A(C(Blank("YV12", 4, 4)))})->GetFrame(0);
    EXPECT_EQ(At(yuv, 0, 3, 3), 255 - 16);
    EXPECT_EQ(At(yuv, 1, 1, 1), 127);
    const PFrame luma =
        CallClip("Invert", {A(C(Blank("YUY2", 4, 2))), A("channels", S("Y"))})->GetFrame(0);
    EXPECT_EQ(At(luma, 0, 0, 0), 239);
    EXPECT_EQ(At(luma, 0, 1, 0), 128);
    EXPECT_EQ(At(luma, 0, 2, 0), 239);
    const PFrame deep = CallClip("Invert", {A(C(Blank("YUV420P10", 4, 4)))})->GetFrame(0);
    EXPECT_EQ(At16(deep, 0, 1, 1), 1023 - 64);
    EXPECT_EQ(At16(deep, 2, 1, 1), 1023 - 512);

    EXPECT_NE(ErrorOf([&] { Call("Invert", {A(C(rgb)), A(S("RGX"))}); }), "(no error)");
}

// ---------------------------------------------------------------------------------------
// Timing, fields, audio

TEST(Trim, FollowsAviSynthsRules) {
    const PClip src = std::make_shared<Numbered>(100);
    auto trim = [&](int first, int last) {
        return CallClip("Trim", {A(C(src)), A(I(first)), A(I(last))});
    };

    const PClip mid = trim(10, 19);
    EXPECT_EQ(mid->GetVideoInfo().num_frames, 10);
    EXPECT_EQ(SourceOf(mid, 0), 10);
    EXPECT_EQ(SourceOf(mid, 9), 19);
    EXPECT_EQ(SourceOf(mid, 50), 19);  // past the end: the last frame
    EXPECT_EQ(SourceOf(mid, -3), 10);
    EXPECT_EQ(mid->GetVideoInfo().num_audio_samples, 10 * 48000 / 25);

    EXPECT_EQ(trim(90, 0)->GetVideoInfo().num_frames, 10);  // 0: to the end
    const PClip counted = trim(30, -5);                     // negative: a frame count
    EXPECT_EQ(counted->GetVideoInfo().num_frames, 5);
    EXPECT_EQ(SourceOf(counted, 4), 34);
    EXPECT_EQ(trim(0, -1)->GetVideoInfo().num_frames, 1);
    EXPECT_EQ(trim(95, 200)->GetVideoInfo().num_frames, 5);
    EXPECT_NE(ErrorOf([&] { trim(20, 10); }), "(no error)");

    // The audio ends 5 frames before the video: padding makes up for it, pad=false not.
    const PClip shortAudio = std::make_shared<Numbered>(100, 95);
    auto tail = [&](bool pad) {
        return CallClip("Trim", {A(C(shortAudio)), A(I(90)), A(I(0)), A("pad", Value::Bool(pad))})
            ->GetVideoInfo()
            .num_audio_samples;
    };
    EXPECT_EQ(tail(true), 10 * 48000 / 25);
    EXPECT_EQ(tail(false), 5 * 48000 / 25);
}

TEST(Loop, RepeatsDeletesAndLoopsAlmostForever) {
    const PClip src = std::make_shared<Numbered>(10);
    const PClip thrice = CallClip("Loop", {A(C(src)), A(I(3)), A(I(2)), A(I(4))});
    ASSERT_EQ(thrice->GetVideoInfo().num_frames, 16);
    const int expected[16] = {0, 1, 2, 3, 4, 2, 3, 4, 2, 3, 4, 5, 6, 7, 8, 9};
    for (int n = 0; n < 16; ++n)
        EXPECT_EQ(SourceOf(thrice, n), expected[n]) << n;

    const PClip deleted = CallClip("Loop", {A(C(src)), A(I(0)), A(I(2)), A(I(4))});
    ASSERT_EQ(deleted->GetVideoInfo().num_frames, 7);
    EXPECT_EQ(SourceOf(deleted, 1), 1);
    EXPECT_EQ(SourceOf(deleted, 2), 5);

    const PClip endless = CallClip("Loop", {A(C(src))});
    EXPECT_EQ(endless->GetVideoInfo().num_frames, 10000000);
    EXPECT_EQ(SourceOf(endless, 1234567), 7);
    EXPECT_EQ(endless->GetVideoInfo().num_audio_samples, int64_t{10000000} * 48000 / 25);
    EXPECT_NE(ErrorOf([&] { Call("Loop", {A(C(src)), A(I(1000000000))}); }), "(no error)");
}

TEST(FieldOrder, SetsAndClearsTheImageTypeBits) {
    const PClip c = Blank("YUY2", 8, 8);
    auto type = [](const PClip& clip) { return clip->GetVideoInfo().image_type; };
    const PClip fields = CallClip("AssumeFieldBased", {A(C(c))});
    EXPECT_EQ(type(fields), 4);
    const PClip tff = CallClip("AssumeTFF", {A(C(fields))});
    EXPECT_EQ(type(tff), 6);
    const PClip bff = CallClip("AssumeBFF", {A(C(tff))});
    EXPECT_EQ(type(bff), 5);
    EXPECT_EQ(type(CallClip("AssumeTFF", {A(C(bff))})), 6);
    EXPECT_EQ(type(CallClip("AssumeFrameBased", {A(C(bff))})), 0);
    EXPECT_EQ(tff->GetFrame(3).get(), c->GetFrame(3).get());
}

TEST(AssumeFPS, TakesIntegersFloatsAndClips) {
    const PClip c = CallClip("BlankClip", {});
    auto rate = [](const PClip& clip) {
        const ms::VideoInfo& vi = clip->GetVideoInfo();
        return std::to_string(vi.fps_numerator) + "/" + std::to_string(vi.fps_denominator);
    };
    EXPECT_EQ(rate(CallClip("AssumeFPS", {A(C(c)), A(I(30000)), A(I(1001))})), "30000/1001");
    EXPECT_EQ(rate(CallClip("AssumeFPS", {A(C(c)), A(I(50)), A(I(2))})), "25/1");
    EXPECT_EQ(rate(CallClip("AssumeFPS", {A(C(c)), A(F(29.97))})), "2997/100");
    EXPECT_EQ(rate(CallClip("AssumeFPS", {A(C(c)), A(C(CallClip("ColorBars", {})))})),
              "30000/1001");

    const PClip fast = CallClip("AssumeFPS", {A(C(c)), A(I(48))});
    EXPECT_EQ(fast->GetVideoInfo().audio_samples_per_second, 44100);
    const PClip synced =
        CallClip("AssumeFPS", {A(C(c)), A(I(48)), A("sync_audio", Value::Bool(true))});
    EXPECT_EQ(synced->GetVideoInfo().audio_samples_per_second, 88200);
    EXPECT_EQ(synced->GetVideoInfo().num_frames, 240);

    EXPECT_NE(ErrorOf([&] { Call("AssumeFPS", {A(C(c)), A(I(0))}); }), "(no error)");
    EXPECT_NE(ErrorOf([&] { Call("AssumeFPS", {A(C(c)), A(I(25)), A(I(0))}); }), "(no error)");
    EXPECT_NE(ErrorOf([&] { Call("AssumeFPS", {A(C(c)), A(S("ntsc"))}); }), "(no error)");
    EXPECT_NE(ErrorOf([&] { Call("AssumeFPS", {A(C(c)), A(F(-2.5))}); }), "(no error)");
}

TEST(Audio, KillVideoKillAudioAndAudioDub) {
    const PClip c = CallClip("BlankClip", {A("length", I(100))});
    const PClip audioOnly = CallClip("KillVideo", {A(C(c))});
    const ms::VideoInfo& a = audioOnly->GetVideoInfo();
    EXPECT_EQ(a.width, 0);
    EXPECT_EQ(a.height, 0);
    EXPECT_EQ(a.num_frames, 0);
    EXPECT_EQ(a.audio_samples_per_second, 44100);
    EXPECT_EQ(a.num_audio_samples, c->GetVideoInfo().num_audio_samples);
    EXPECT_EQ(ErrorOf([&] { audioOnly->GetFrame(0); }), "KillVideo: clip has no video");

    const PClip silent = CallClip("KillAudio", {A(C(c))});
    EXPECT_EQ(silent->GetVideoInfo().audio_samples_per_second, 0);
    EXPECT_EQ(silent->GetVideoInfo().nchannels, 0);
    EXPECT_EQ(silent->GetVideoInfo().num_frames, 100);

    const PClip bars = CallClip("ColorBars", {});
    for (bool swapped : {false, true}) {
        const PClip dubbed = swapped ? CallClip("AudioDub", {A(C(bars)), A(C(silent))})
                                     : CallClip("AudioDub", {A(C(silent)), A(C(bars))});
        const ms::VideoInfo& vi = dubbed->GetVideoInfo();
        EXPECT_EQ(vi.num_frames, 100);
        EXPECT_EQ(vi.width, 640);
        EXPECT_EQ(vi.audio_samples_per_second, 48000);
        EXPECT_EQ(vi.nchannels, 2);
        EXPECT_EQ(vi.num_audio_samples, bars->GetVideoInfo().num_audio_samples);
        EXPECT_EQ(dubbed->GetFrame(7).get(), silent->GetFrame(7).get());
    }
    EXPECT_EQ(ErrorOf([&] {
                  Call("AudioDub", {A(C(silent)), A(C(silent))});
              }),
              "AudioDub: need an audio and a video track");
}

// ---------------------------------------------------------------------------------------
// Colour conversion

TEST(Convert, GreyStaysGreyThroughEveryColourSpace) {
    const PClip grey = Blank("RGB32", 16, 8, {A("color", I(0x808080))});
    for (const char* to :
         {"ConvertToYV12", "ConvertToYV24", "ConvertToYUY2", "ConvertToY8", "ConvertToRGB24"}) {
        SCOPED_TRACE(to);
        const PClip there = CallClip(to, {A(C(grey))});
        EXPECT_EQ(there->GetVideoInfo().width, 16);
        EXPECT_EQ(there->GetVideoInfo().height, 8);
        const PFrame f = there->GetFrame(0);
        if (std::string(to) == "ConvertToYV12" || std::string(to) == "ConvertToYV24") {
            EXPECT_EQ(At(f, 1, 3, 3), 128);
            EXPECT_EQ(At(f, 2, 3, 3), 128);
            EXPECT_NEAR(At(f, 0, 5, 5), 126, 1);
        }
        const PFrame back = CallClip("ConvertToRGB32", {A(C(there))})->GetFrame(0);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(At(back, 0, 4 * 7 + c, 5), 128) << c;
        EXPECT_EQ(At(back, 0, 4 * 7 + 3, 5), 255);
    }
    const ms::VideoInfo y8 = CallClip("ConvertToY8", {A(C(grey))})->GetVideoInfo();
    EXPECT_EQ(static_cast<uint32_t>(y8.pixel_type), 0xE0000000u);
}

TEST(Convert, ColoursSurviveARoundTrip) {
    const PClip orange = Blank("RGB24", 8, 4, {A("color", I(0xE08030))});
    for (const char* matrix : {"Rec601", "PC.601", "Rec709", "PC.709"}) {
        SCOPED_TRACE(matrix);
        const PClip yuv = CallClip("ConvertToYV24", {A(C(orange)), A("matrix", S(matrix))});
        const PFrame f =
            CallClip("ConvertToRGB24", {A(C(yuv)), A("matrix", S(matrix))})->GetFrame(0);
        EXPECT_NEAR(At(f, 0, 3 * 5 + 2, 2), 0xE0, 2);
        EXPECT_NEAR(At(f, 0, 3 * 5 + 1, 2), 0x80, 2);
        EXPECT_NEAR(At(f, 0, 3 * 5 + 0, 2), 0x30, 2);
    }
    // The full-range matrix gives white luma 255, the studio one 235.
    const PClip white = Blank("RGB32", 4, 4, {A("color", I(0xFFFFFF))});
    EXPECT_EQ(At(CallClip("ConvertToY8", {A(C(white))})->GetFrame(0), 0, 0, 0), 235);
    EXPECT_EQ(
        At(CallClip("ConvertToY8", {A(C(white)), A("matrix", S("PC.601"))})->GetFrame(0), 0, 0, 0),
        255);
    // Ten-bit input is brought down to eight bits.
    const PFrame deep =
        CallClip("ConvertToYV12", {A(C(Blank("YUV420P10", 8, 8, {A("color_yuv", I(0x4080C0))})))})
            ->GetFrame(0);
    EXPECT_EQ(At(deep, 0, 1, 1), 0x40);
    EXPECT_EQ(At(deep, 1, 1, 1), 0x80);
    EXPECT_EQ(At(deep, 2, 1, 1), 0xC0);
}

TEST(Convert, InterlacedChromaStaysInItsField) {
    // U is 100 on even rows and 200 on odd rows: each field has its own colour.
    const PClip striped = std::make_shared<Painted>(Info(avs::kCsYV24, 4, 8), [](ms::Frame& f) {
        Fill(f, 0, 128);
        Fill(f, 2, 128);
        for (int y = 0; y < 8; ++y) {
            for (int x = 0; x < 4; ++x)
                Set(f, 1, x, y, y % 2 ? 200 : 100);
        }
    });
    const PFrame fields =
        CallClip("ConvertToYV12", {A(C(striped)), A("interlaced", Value::Bool(true))})->GetFrame(0);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(At(fields, 1, 1, y), y % 2 ? 200 : 100) << y;
    const PFrame frames = CallClip("ConvertToYV12", {A(C(striped))})->GetFrame(0);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(At(frames, 1, 1, y), 150) << y;
    // And back: each luma row gets its own field's chroma again.
    const PFrame back =
        CallClip(
            "ConvertToYV24",
            {A(C(CallClip("ConvertToYV12", {A(C(striped)), A("interlaced", Value::Bool(true))}))),
             A("interlaced", Value::Bool(true))})
            ->GetFrame(0);
    for (int y = 0; y < 8; ++y)
        EXPECT_EQ(At(back, 1, 2, y), y % 2 ? 200 : 100) << y;
}

TEST(Convert, ChecksSizesAndArguments) {
    const PClip odd = Blank("RGB32", 63, 32);
    EXPECT_EQ(ErrorOf([&] { Call("ConvertToYV12", {A(C(odd))}); }),
              "ConvertToYV12: Image width must be multiple of 2");
    EXPECT_EQ(ErrorOf([&] { Call("ConvertToYUY2", {A(C(odd))}); }),
              "ConvertToYUY2: Image width must be multiple of 2");
    EXPECT_EQ(ErrorOf([&] { Call("ConvertToYV12", {A(C(Blank("RGB32", 64, 31)))}); }),
              "ConvertToYV12: Image height must be multiple of 2");
    EXPECT_EQ(ErrorOf([&] {
                  Call("ConvertToYV12",
                       {A(C(Blank("RGB32", 64, 30))), A("interlaced", Value::Bool(true))});
              }),
              "ConvertToYV12: Image height must be multiple of 4");
    EXPECT_EQ(ErrorOf([&] { Call("ConvertToYV24", {A(C(odd))}); }), "(no error)");
    EXPECT_NE(ErrorOf([&] {
                  Call("ConvertToYV24", {A(C(odd)), A("matrix", S("Rec2020"))});
              }),
              "(no error)");

    // Already in the target colour space (I420 is a YV12): the clip itself.
    const PClip i420 = Blank("I420", 8, 8);
    EXPECT_EQ(CallClip("ConvertToYV12", {A(C(i420))}).get(), i420.get());
    const PClip yuy2 = CallClip("ConvertToYUY2", {A(C(i420))});
    EXPECT_EQ(static_cast<uint32_t>(yuy2->GetVideoInfo().pixel_type), 0x60000004u);
    EXPECT_EQ(yuy2->GetFrame(0)->RowSize(0), 16);
}

// ---------------------------------------------------------------------------------------
// Test helpers

TEST(MSBusy, SpendsAtLeastTheGivenTimePerFrame) {
    const PClip busy = CallClip("MSBusy", {A(C(Blank("Y8", 8, 8))), A(F(15.0))});
    const auto start = std::chrono::steady_clock::now();
    busy->GetFrame(0);
    busy->GetFrame(1);
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, std::chrono::milliseconds(30));
    EXPECT_NE(ErrorOf([] { Call("MSBusy", {A(C(Blank("Y8", 8, 8))), A(F(-1.0))}); }), "(no error)");
}

TEST(MSFault, ErrorKindFailsOnlyItsFrame) {
    const PClip src = std::make_shared<Numbered>(10);
    const PClip fault = CallClip("MSFault", {A(C(src)), A(I(3)), A(S("error"))});
    EXPECT_EQ(SourceOf(fault, 2), 2);
    EXPECT_EQ(SourceOf(fault, 4), 4);
    EXPECT_EQ(ErrorOf([&] { fault->GetFrame(3); }), "MSFault: injected error at frame 3");
    const PClip worded =
        CallClip("MSFault", {A(C(src)), A(I(9)), A(S("error")), A(S("disk on fire"))});
    EXPECT_EQ(ErrorOf([&] { worded->GetFrame(20); }), "disk on fire");  // clamped to 9
    EXPECT_EQ(ErrorOf([&] {
                  Call("MSFault", {A(C(src)), A(I(3)), A(S("explode"))});
              }),
              "MSFault: kind must be \"error\", \"access\" or \"divide\"");
}

// Requests the frames in a child process; returns its wait status.
int StatusOfChildRequesting(const PClip& clip, std::vector<int> frames) {
    const pid_t pid = fork();
    if (pid == 0) {
        // Let the fault end the process as it would without a sanitizer watching.
        signal(SIGSEGV, SIG_DFL);
        signal(SIGFPE, SIG_DFL);
        for (int n : frames)
            clip->GetFrame(n);
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST(MSFault, CrashKindsFaultOnTheCallingThread) {
    const PClip src = std::make_shared<Numbered>(10);
    const PClip access = CallClip("MSFault", {A(C(src)), A(I(5)), A(S("access"))});
    const PClip divide = CallClip("MSFault", {A(C(src)), A(I(5)), A(S("divide"))});

    int status = StatusOfChildRequesting(access, {0, 4, 6});
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    status = StatusOfChildRequesting(access, {4, 5});
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    status = StatusOfChildRequesting(divide, {5});
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    EXPECT_EQ(WTERMSIG(status), SIGFPE);
}

}  // namespace
