// Blur and Sharpen: AviSynth's separable 3-tap kernel (side, centre, side). Blur(amount)
// gives the centre the weight 2^-amount and splits the rest between the two neighbours:
// Blur(1.0) is 1-2-1, Blur(1.58) nearly 1-1-1, negative amounts sharpen. Sharpen(a) is
// Blur(-a). Every plane is filtered, edges repeat their outer samples, and each call writes
// a new frame, so the cost grows with the frame size as in a real filter chain.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "filters.h"

namespace ms {

namespace {

constexpr int kOne = 1 << 16;  // weights in 16.16 fixed point

struct Kernel {
    int centre = kOne;
    int side = 0;
    bool Identity() const { return side == 0; }
};

Kernel MakeKernel(double blurAmount) {
    Kernel k;
    // Below this the weights round to the identity; AviSynth skips the pass as well.
    if (std::fabs(blurAmount) < 0.00002201361136) return k;
    const double centre = std::pow(2.0, -blurAmount);
    k.side = static_cast<int>(std::lround((1.0 - centre) / 2.0 * kOne));
    k.centre = kOne - 2 * k.side;
    return k;
}

// Samples have at most 10 bits and weights stay within +-2^17, so sums fit in 32 bits.
template <typename T>
T Apply(const Kernel& k, int a, int b, int c, int maxValue) {
    const int sum = k.side * (a + c) + k.centre * b + kOne / 2;
    if (sum <= 0) return 0;
    const int v = sum >> 16;
    return static_cast<T>(v > maxValue ? maxValue : v);
}

// Distance in samples to the horizontal neighbour of the same channel: planar 1, RGB 3 or
// 4, YUY2 2 for luma (even bytes) and 4 for chroma (odd bytes).
struct Neighbour {
    int even;
    int odd;
};

template <typename T>
void FilterRow(const Kernel& k, const T* in, T* out, int count, Neighbour step, int maxValue) {
    auto edgeSafe = [&](int x) {
        const int d = (x & 1) ? step.odd : step.even;
        const int left = x - d >= 0 ? x - d : x;
        const int right = x + d < count ? x + d : x;
        out[x] = Apply<T>(k, in[left], in[x], in[right], maxValue);
    };
    if (step.even != step.odd) {
        for (int x = 0; x < count; ++x)
            edgeSafe(x);
        return;
    }
    // One distance: only the ends need the edge rule, the middle is a plain loop.
    const int d = step.even;
    const int head = std::min(d, count);
    const int tail = std::max(head, count - d);
    for (int x = 0; x < head; ++x)
        edgeSafe(x);
    for (int x = head; x < tail; ++x)
        out[x] = Apply<T>(k, in[x - d], in[x], in[x + d], maxValue);
    for (int x = tail; x < count; ++x)
        edgeSafe(x);
}

template <typename T>
void FilterPlane(const Frame& src, Frame& dst, int p, const Kernel& h, const Kernel& v,
                 Neighbour step, int maxValue, std::vector<T>& tmp) {
    const int count = src.RowSize(p) / static_cast<int>(sizeof(T));
    const int height = src.Height(p);
    tmp.resize(static_cast<size_t>(count));
    auto rowAt = [&](int y) {
        return reinterpret_cast<const T*>(src.Data(p) + static_cast<ptrdiff_t>(y) * src.Pitch(p));
    };
    for (int y = 0; y < height; ++y) {
        const T* above = rowAt(y > 0 ? y - 1 : y);
        const T* here = rowAt(y);
        const T* below = rowAt(y + 1 < height ? y + 1 : y);
        T* out = reinterpret_cast<T*>(dst.Data(p) + static_cast<ptrdiff_t>(y) * dst.Pitch(p));
        // Vertical pass into tmp (or straight out when there is no horizontal one).
        T* vertical = h.Identity() ? out : tmp.data();
        if (v.Identity()) {
            std::memcpy(vertical, here, static_cast<size_t>(count) * sizeof(T));
        } else {
            for (int x = 0; x < count; ++x) {
                vertical[x] = Apply<T>(v, above[x], here[x], below[x], maxValue);
            }
        }
        if (!h.Identity()) FilterRow<T>(h, tmp.data(), out, count, step, maxValue);
    }
}

class Convolution final : public Filter {
  public:
    Convolution(PClip child, const PixelFormat& format, Kernel h, Kernel v)
        : Filter(child, child->GetVideoInfo()), format_(format), h_(h), v_(v) {
        if (format.rgb) {
            step_ = {format.bytesPerPixel, format.bytesPerPixel};
        } else if (format.yuy2) {
            step_ = {2, 4};
        }
    }

    PFrame GetFrame(int n) override {
        const PFrame src = child_->GetFrame(n);
        auto dst = std::make_shared<Frame>(vi_);
        const int maxValue = (1 << format_.bitsPerSample) - 1;
        if (format_.bytesPerPixel == 2 && !format_.rgb && !format_.yuy2) {
            std::vector<uint16_t> tmp;
            for (int p = 0; p < src->PlaneCount(); ++p) {
                FilterPlane<uint16_t>(*src, *dst, p, h_, v_, step_, maxValue, tmp);
            }
        } else {
            std::vector<uint8_t> tmp;
            for (int p = 0; p < src->PlaneCount(); ++p) {
                FilterPlane<uint8_t>(*src, *dst, p, h_, v_, step_, maxValue, tmp);
            }
        }
        return dst;
    }

  private:
    const PixelFormat& format_;
    Kernel h_;
    Kernel v_;
    Neighbour step_{1, 1};
};

// sign +1 for Blur, -1 for Sharpen (whose amount sharpens when positive). The bound
// log2(3) makes the strongest blur exactly 1-1-1.
constexpr double kStrongest = 1.5849625;

Value Create(const std::string& name, double low, double high, const char* rangeText, int sign,
             const std::vector<Value>& args) {
    const PClip& child = args[0].AsClip();
    const double amount = args[1].AsFloat();
    const double amountV = args[2].AsFloat(amount);
    if (!(amount >= low && amount <= high && amountV >= low && amountV <= high)) {
        throw Error(name + ": arguments must be in the range " + rangeText);
    }
    const VideoInfo& vi = child->GetVideoInfo();
    if (!HasVideo(vi)) throw Error(name + ": clip has no video");
    const PixelFormat* format = FindFormat(vi.pixel_type);
    if (format == nullptr) throw Error(name + ": unsupported colour space");
    const Kernel h = MakeKernel(sign * amount);
    const Kernel v = MakeKernel(sign * amountV);
    if (h.Identity() && v.Identity()) return Value::FromClip(child);
    return Value::FromClip(std::make_shared<Convolution>(child, *format, h, v));
}

}  // namespace

void RegisterConvolution(std::vector<Function>& table) {
    table.push_back({"Blur", "cf[amountV]f[MMX]b", [](Env&, const std::vector<Value>& args) {
                         return Create("Blur", -1.0, kStrongest, "-1.0 to 1.58", 1, args);
                     }});
    table.push_back({"Sharpen", "cf[amountV]f[MMX]b", [](Env&, const std::vector<Value>& args) {
                         return Create("Sharpen", -kStrongest, 1.0, "-1.58 to 1.0", -1, args);
                     }});
}

}  // namespace ms
