// Invert: each chosen channel becomes maximum - value.
#include <cctype>

#include "filters.h"

namespace ms {

namespace {

// byteMask_ picks the bytes of a packed pixel group to invert, planeMask_ the planes.
class Invert final : public Filter {
  public:
    Invert(PClip child, const PixelFormat& format, const std::string& channels)
        : Filter(child, child->GetVideoInfo()), format_(format) {
        auto has = [&](char c) { return channels.find(c) != std::string::npos; };
        if (format.rgb) {  // bytes B, G, R, A
            byteMask_[0] = has('B');
            byteMask_[1] = has('G');
            byteMask_[2] = has('R');
            byteMask_[3] = format.bytesPerPixel == 4 && has('A');
            pattern_ = format.bytesPerPixel;
        } else if (format.yuy2) {  // bytes Y, U, Y, V
            byteMask_[0] = byteMask_[2] = has('Y');
            byteMask_[1] = has('U');
            byteMask_[3] = has('V');
            pattern_ = 4;
        } else {
            planeMask_[0] = has('Y');
            planeMask_[1] = has('U');
            planeMask_[2] = has('V');
        }
    }

    PFrame GetFrame(int n) override {
        const PFrame src = child_->GetFrame(n);
        auto dst = std::make_shared<Frame>(vi_);
        const int maxValue = (1 << format_.bitsPerSample) - 1;
        for (int p = 0; p < src->PlaneCount(); ++p) {
            for (int y = 0; y < src->Height(p); ++y) {
                const uint8_t* in = src->Data(p) + static_cast<ptrdiff_t>(y) * src->Pitch(p);
                uint8_t* out = dst->Data(p) + static_cast<ptrdiff_t>(y) * dst->Pitch(p);
                if (pattern_ > 0) {
                    for (int x = 0; x < src->RowSize(p); ++x) {
                        out[x] =
                            byteMask_[x % pattern_] ? static_cast<uint8_t>(255 - in[x]) : in[x];
                    }
                } else if (src->BytesPerSample() == 2) {
                    const auto* in16 = reinterpret_cast<const uint16_t*>(in);
                    auto* out16 = reinterpret_cast<uint16_t*>(out);
                    for (int x = 0; x < src->RowSize(p) / 2; ++x) {
                        out16[x] =
                            planeMask_[p] ? static_cast<uint16_t>(maxValue - in16[x]) : in16[x];
                    }
                } else {
                    for (int x = 0; x < src->RowSize(p); ++x) {
                        out[x] = planeMask_[p] ? static_cast<uint8_t>(255 - in[x]) : in[x];
                    }
                }
            }
        }
        return dst;
    }

  private:
    const PixelFormat& format_;
    bool byteMask_[4] = {false, false, false, false};
    bool planeMask_[3] = {false, false, false};
    int pattern_ = 0;  // packed formats: bytes per repeating group
};

Value Create(const std::vector<Value>& args) {
    const PClip& child = args[0].AsClip();
    const VideoInfo& vi = child->GetVideoInfo();
    if (!HasVideo(vi)) throw Error("Invert: clip has no video");
    const PixelFormat* format = FindFormat(vi.pixel_type);
    if (format == nullptr) throw Error("Invert: unsupported colour space");

    std::string channels = args[1].AsString(format->rgb ? "RGBA" : "YUV");
    for (char& c : channels) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (std::string("RGBAYUV").find(c) == std::string::npos) {
            throw Error("Invert: channels must be made of the letters R, G, B, A, Y, U and V");
        }
    }
    return Value::FromClip(std::make_shared<Invert>(child, *format, channels));
}

}  // namespace

void RegisterInvert(std::vector<Function>& table) {
    table.push_back({"Invert", "c[channels]s",
                     [](Env&, const std::vector<Value>& args) { return Create(args); }});
}

}  // namespace ms
