// Sources: BlankClip and ColorBars. Both render one frame when created and hand out that
// same frame for every frame number, as AviSynth does; the cost of a chain built on them
// lies in the filters that follow.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "filters.h"

namespace ms {

namespace {

class StaticSource final : public Clip {
  public:
    StaticSource(const VideoInfo& vi, PFrame frame, std::string name)
        : Clip(vi), frame_(std::move(frame)), name_(std::move(name)) {}

    PFrame GetFrame(int) override {
        if (!frame_) throw Error(name_ + ": clip has no video");
        return frame_;
    }

  private:
    PFrame frame_;
    std::string name_;
};

// Width and height that the colour space can hold without a partial chroma sample.
void CheckFrameSize(const std::string& name, const PixelFormat& f, int width, int height) {
    const int wMultiple = 1 << f.log2SubW;
    const int hMultiple = 1 << f.log2SubH;
    if (width % wMultiple != 0) {
        throw Error(name + ": width must be a multiple of " + std::to_string(wMultiple) + " for " +
                    f.name);
    }
    if (height % hMultiple != 0) {
        throw Error(name + ": height must be a multiple of " + std::to_string(hMultiple) + " for " +
                    f.name);
    }
}

template <typename T>
void FillRows(uint8_t* data, int pitch, int height, int rowSize, const T* pattern,
              int patternLength) {
    for (int y = 0; y < height; ++y) {
        uint8_t* row = data + static_cast<ptrdiff_t>(y) * pitch;
        const int count = rowSize / static_cast<int>(sizeof(T));
        for (int x = 0; x < count; ++x) {
            std::memcpy(row + x * sizeof(T), &pattern[x % patternLength], sizeof(T));
        }
    }
}

// A frame of one colour: rgb is $AARRGGBB; yuv is $YYUUVV (8-bit values).
std::shared_ptr<Frame> SolidFrame(const VideoInfo& vi, const PixelFormat& f, uint32_t rgb,
                                  uint32_t yuv) {
    auto frame = std::make_shared<Frame>(vi);
    const uint8_t y = static_cast<uint8_t>(yuv >> 16), u = static_cast<uint8_t>(yuv >> 8),
                  v = static_cast<uint8_t>(yuv);
    if (f.rgb) {
        const uint8_t px[4] = {static_cast<uint8_t>(rgb), static_cast<uint8_t>(rgb >> 8),
                               static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 24)};
        // One pixel as bytes, repeated along the row.
        std::vector<uint8_t> pattern(px, px + f.bytesPerPixel);
        FillRows(frame->Data(0), frame->Pitch(0), frame->Height(0), frame->RowSize(0),
                 pattern.data(), f.bytesPerPixel);
    } else if (f.yuy2) {
        const uint8_t pattern[4] = {y, u, y, v};
        FillRows(frame->Data(0), frame->Pitch(0), frame->Height(0), frame->RowSize(0), pattern, 4);
    } else {
        const uint8_t values[3] = {y, u, v};
        for (int p = 0; p < frame->PlaneCount(); ++p) {
            if (f.bytesPerPixel == 2) {
                const uint16_t wide = static_cast<uint16_t>(values[p] << (f.bitsPerSample - 8));
                FillRows(frame->Data(p), frame->Pitch(p), frame->Height(p), frame->RowSize(p),
                         &wide, 1);
            } else {
                FillRows(frame->Data(p), frame->Pitch(p), frame->Height(p), frame->RowSize(p),
                         &values[p], 1);
            }
        }
    }
    return frame;
}

int ParseSampleType(const std::string& name) {
    static const struct {
        const char* name;
        int type;
    } kTypes[] = {{"8bit", avs::kSampleInt8},
                  {"16bit", avs::kSampleInt16},
                  {"24bit", avs::kSampleInt24},
                  {"32bit", avs::kSampleInt32},
                  {"float", avs::kSampleFloat}};
    for (const auto& t : kTypes) {
        if (name.size() == std::strlen(t.name) &&
            std::equal(name.begin(), name.end(), t.name, [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == b;
            })) {
            return t.type;
        }
    }
    return 0;
}

Value BlankClip(const std::vector<Value>& args) {
    VideoInfo vi{};
    if (args[0].IsClip()) {
        vi = args[0].AsClip()->GetVideoInfo();
    } else {
        vi.width = 640;
        vi.height = 480;
        vi.fps_numerator = 24;
        vi.fps_denominator = 1;
        vi.num_frames = 240;
        vi.pixel_type = static_cast<int>(avs::kCsBGR32);
        vi.audio_samples_per_second = 44100;
        vi.sample_type = avs::kSampleInt16;
        vi.nchannels = 1;
    }
    vi.num_frames = args[1].AsInt(vi.num_frames);
    vi.width = args[2].AsInt(vi.width);
    vi.height = args[3].AsInt(vi.height);
    if (vi.num_frames < 0) throw Error("BlankClip: length must not be negative");
    if (vi.width < 0 || vi.height < 0) {
        throw Error("BlankClip: width and height must not be negative");
    }
    if (vi.width == 0 || vi.height == 0) vi.width = vi.height = 0;

    const PixelFormat* format = nullptr;
    if (!args[4].IsVoid()) {
        format = FindFormatByName(args[4].AsString());
        if (format == nullptr) {
            throw Error("BlankClip: pixel_type must be " + FormatNameList());
        }
        vi.pixel_type = static_cast<int>(format->pixelType);
    } else {
        format = FindFormat(vi.pixel_type);
    }
    if (vi.width != 0) {
        if (format == nullptr)
            throw Error("BlankClip: the template clip's colour space is unsupported");
        CheckFrameSize("BlankClip", *format, vi.width, vi.height);
    }

    if (!args[6].IsVoid()) {  // fps given as a ratio: fps is the numerator
        const int denominator = args[6].AsInt();
        const double numerator = args[5].AsFloat(vi.fps_numerator);
        if (denominator <= 0 || numerator < 1.0 || numerator > 4294967295.0) {
            throw Error("BlankClip: fps and fps_denominator must be positive");
        }
        vi.fps_numerator = static_cast<unsigned>(numerator + 0.5);
        vi.fps_denominator = static_cast<unsigned>(denominator);
        ReduceFraction(vi.fps_numerator, vi.fps_denominator);
    } else if (!args[5].IsVoid()) {
        if (!FloatToFps(args[5].AsFloat(), vi.fps_numerator, vi.fps_denominator)) {
            throw Error("BlankClip: fps must be positive");
        }
    }

    vi.audio_samples_per_second = args[7].AsInt(vi.audio_samples_per_second);
    vi.nchannels = args[8].AsInt(vi.nchannels);
    if (vi.audio_samples_per_second < 0) throw Error("BlankClip: audio_rate must not be negative");
    if (vi.nchannels < 0) throw Error("BlankClip: channels must not be negative");
    if (!args[9].IsVoid()) {
        vi.sample_type = ParseSampleType(args[9].AsString());
        if (vi.sample_type == 0) {
            throw Error(
                "BlankClip: sample_type must be \"8bit\", \"16bit\", \"24bit\", \"32bit\" or "
                "\"float\"");
        }
    }
    if (vi.nchannels == 0) vi.audio_samples_per_second = 0;
    vi.num_audio_samples = AudioSamplesForFrames(vi, vi.num_frames);

    if (!args[10].IsVoid() && !args[11].IsVoid()) {
        throw Error("BlankClip: color and color_yuv are mutually exclusive");
    }
    const uint32_t rgb = static_cast<uint32_t>(args[10].AsInt(0));
    uint32_t yuv = 0;
    if (!args[11].IsVoid()) {
        yuv = static_cast<uint32_t>(args[11].AsInt());
    } else {
        const Yuv c = RgbToYuv((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255, Matrix::Rec601);
        yuv = static_cast<uint32_t>(c.y << 16 | c.u << 8 | c.v);
    }
    PFrame frame;
    if (vi.width != 0) {
        try {
            frame = SolidFrame(vi, *format, rgb, yuv);
        } catch (const Error& e) {
            throw Error(std::string("BlankClip: ") + e.what());
        }
    }
    return Value::FromClip(std::make_shared<StaticSource>(vi, frame, "BlankClip"));
}

// SMPTE-style bars in studio-range RGB (16..235), opaque.
std::shared_ptr<Frame> BarsFrame(const VideoInfo& vi) {
    struct Rgb {
        uint8_t r, g, b;
    };
    static const Rgb kTop[7] = {{180, 180, 180}, {180, 180, 16}, {16, 180, 180}, {16, 180, 16},
                                {180, 16, 180},  {180, 16, 16},  {16, 16, 180}};
    static const Rgb kMiddle[7] = {{16, 16, 180},  {16, 16, 16}, {180, 16, 180}, {16, 16, 16},
                                   {16, 180, 180}, {16, 16, 16}, {180, 180, 180}};
    const Rgb minusI{16, 70, 106}, white{235, 235, 235}, plusQ{72, 16, 118}, black{16, 16, 16};
    const Rgb pluge[3] = {{7, 7, 7}, {16, 16, 16}, {25, 25, 25}};

    auto frame = std::make_shared<Frame>(vi);
    const int w = vi.width;
    const int h = vi.height;
    for (int y = 0; y < h; ++y) {
        uint8_t* row = frame->Data(0) + static_cast<ptrdiff_t>(y) * frame->Pitch(0);
        for (int x = 0; x < w; ++x) {
            const int bar = static_cast<int>(static_cast<int64_t>(x) * 7 / w);
            Rgb c;
            if (y < h * 2 / 3) {
                c = kTop[bar];
            } else if (y < h * 3 / 4) {
                c = kMiddle[bar];
            } else {
                // Four wide blocks over five bars, then the pluge, then black.
                const int block = static_cast<int>(static_cast<int64_t>(x) * 28 / (5 * w));
                const Rgb bottom[4] = {minusI, white, plusQ, black};
                if (block < 4) {
                    c = bottom[block];
                } else if (bar == 5) {
                    c = pluge[std::min(2,
                                       static_cast<int>((static_cast<int64_t>(x) * 21 / w) - 15))];
                } else {
                    c = black;
                }
            }
            uint8_t* px = row + 4 * x;
            px[0] = c.b;
            px[1] = c.g;
            px[2] = c.r;
            px[3] = 255;
        }
    }
    return frame;
}

Value ColorBars(const std::vector<Value>& args) {
    VideoInfo vi{};
    vi.width = args[0].AsInt(640);
    vi.height = args[1].AsInt(480);
    if (vi.width <= 0 || vi.height <= 0)
        throw Error("ColorBars: width and height must be positive");
    const PixelFormat* format = FindFormatByName(args[2].AsString("RGB32"));
    if (format == nullptr) throw Error("ColorBars: pixel_type must be " + FormatNameList());
    CheckFrameSize("ColorBars", *format, vi.width, vi.height);
    vi.pixel_type = static_cast<int>(format->pixelType);
    vi.num_frames = 107892;  // one hour
    vi.fps_numerator = 30000;
    vi.fps_denominator = 1001;
    vi.audio_samples_per_second = 48000;
    vi.sample_type = avs::kSampleInt16;
    vi.nchannels = 2;
    vi.num_audio_samples = AudioSamplesForFrames(vi, vi.num_frames);

    VideoInfo rgbVi = vi;
    rgbVi.pixel_type = static_cast<int>(avs::kCsBGR32);
    PFrame frame;
    try {
        frame = BarsFrame(rgbVi);
        // The YUV forms keep the studio range as it is (AviSynth converts with PC.601).
        if (format->pixelType != avs::kCsBGR32) {
            frame = ConvertFrame(*frame, rgbVi, vi, Matrix::PC601, false);
        }
    } catch (const Error& e) {
        throw Error(std::string("ColorBars: ") + e.what());
    }
    return Value::FromClip(std::make_shared<StaticSource>(vi, frame, "ColorBars"));
}

}  // namespace

void RegisterSources(std::vector<Function>& table) {
    table.push_back({"BlankClip",
                     "[clip]c[length]i[width]i[height]i[pixel_type]s[fps]f[fps_denominator]i"
                     "[audio_rate]i[channels]i[sample_type]s[color]i[color_yuv]i",
                     [](Env&, const std::vector<Value>& args) { return BlankClip(args); }});
    table.push_back({"ColorBars", "[width]i[height]i[pixel_type]s",
                     [](Env&, const std::vector<Value>& args) { return ColorBars(args); }});
}

}  // namespace ms
