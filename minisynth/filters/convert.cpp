// Colour conversion: ConvertToYV12, ConvertToYV24, ConvertToYUY2, ConvertToRGB24,
// ConvertToRGB32, ConvertToY8. Every conversion goes through full-resolution 8-bit planes
// (R,G,B or Y,U,V), so each pair of colour spaces needs only an unpack, an optional matrix
// step and a pack.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "filters.h"

namespace ms {

namespace {

struct MatrixCoefficients {
    double kr, kb;
    double yScale, yOffset, cScale;
};

MatrixCoefficients Coefficients(Matrix matrix) {
    const double limitedY = 219.0 / 255.0;
    const double limitedC = 224.0 / 255.0;
    switch (matrix) {
        case Matrix::PC601:
            return {0.299, 0.114, 1.0, 0.0, 1.0};
        case Matrix::Rec709:
            return {0.2126, 0.0722, limitedY, 16.0, limitedC};
        case Matrix::PC709:
            return {0.2126, 0.0722, 1.0, 0.0, 1.0};
        case Matrix::Rec601:
            break;
    }
    return {0.299, 0.114, limitedY, 16.0, limitedC};
}

// out = M * (in - inOffset) + outOffset, in 16.16 fixed point: the per-pixel work of a
// conversion is then a few integer multiply-adds.
struct Affine {
    int m[3][3];
    int inOffset[3];
    int outOffset[3];  // already shifted, with the rounding half added

    void Apply(const int in[3], int out[3]) const {
        const int a = in[0] - inOffset[0], b = in[1] - inOffset[1], c = in[2] - inOffset[2];
        for (int i = 0; i < 3; ++i) {
            const int v = m[i][0] * a + m[i][1] * b + m[i][2] * c + outOffset[i];
            out[i] = v <= 0 ? 0 : (v >> 16) > 255 ? 255 : v >> 16;
        }
    }
};

int Fixed(double v) {
    return static_cast<int>(std::lround(v * 65536.0));
}

// R,G,B to Y,U,V.
Affine RgbToYuvMatrix(const MatrixCoefficients& k) {
    const double kg = 1.0 - k.kr - k.kb;
    const double cu = k.cScale / (2.0 * (1.0 - k.kb));
    const double cv = k.cScale / (2.0 * (1.0 - k.kr));
    Affine a{};
    const double rows[3][3] = {{k.yScale * k.kr, k.yScale * kg, k.yScale * k.kb},
                               {-cu * k.kr, -cu * kg, cu * (1.0 - k.kb)},
                               {cv * (1.0 - k.kr), -cv * kg, -cv * k.kb}};
    const double out[3] = {k.yOffset, 128.0, 128.0};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            a.m[i][j] = Fixed(rows[i][j]);
        a.outOffset[i] = Fixed(out[i] + 0.5);
    }
    return a;
}

// Y,U,V to R,G,B.
Affine YuvToRgbMatrix(const MatrixCoefficients& k) {
    const double kg = 1.0 - k.kr - k.kb;
    const double y = 1.0 / k.yScale;
    const double bu = 2.0 * (1.0 - k.kb) / k.cScale;
    const double rv = 2.0 * (1.0 - k.kr) / k.cScale;
    Affine a{};
    const double rows[3][3] = {{y, 0.0, rv}, {y, -k.kb * bu / kg, -k.kr * rv / kg}, {y, bu, 0.0}};
    const int in[3] = {static_cast<int>(k.yOffset), 128, 128};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j)
            a.m[i][j] = Fixed(rows[i][j]);
        a.inOffset[i] = in[i];
        a.outOffset[i] = Fixed(0.5);
    }
    return a;
}

// A picture at full resolution, 8 bits per sample: R,G,B or Y,U,V, plus alpha.
struct FullPlanes {
    int width = 0;
    int height = 0;
    bool rgb = false;
    std::vector<uint8_t> c[3];
    std::vector<uint8_t> alpha;  // empty: opaque
};

// Luma row y of interlaced 4:2:0 takes its chroma from the same field.
int ChromaRow(int y, int log2SubH, bool interlaced) {
    if (log2SubH == 0) return y;
    return interlaced ? (y >> 2) * 2 + (y & 1) : y >> 1;
}

int Sample8(const uint8_t* row, int x, int bytesPerSample, int bits) {
    if (bytesPerSample == 1) return row[x];
    uint16_t v;
    std::memcpy(&v, row + 2 * x, 2);
    const int shift = bits - 8;
    return std::min(255, (v + (1 << (shift - 1))) >> shift);
}

FullPlanes Unpack(const Frame& src, const PixelFormat& f, int width, int height, bool interlaced) {
    FullPlanes out;
    out.width = width;
    out.height = height;
    out.rgb = f.rgb;
    const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (auto& plane : out.c)
        plane.resize(n);
    if (f.rgb && f.bytesPerPixel == 4) out.alpha.resize(n);

    for (int y = 0; y < height; ++y) {
        const uint8_t* row = src.Data(0) + static_cast<ptrdiff_t>(y) * src.Pitch(0);
        const size_t o = static_cast<size_t>(y) * width;
        if (f.rgb) {
            for (int x = 0; x < width; ++x) {
                const uint8_t* px = row + x * f.bytesPerPixel;
                out.c[0][o + x] = px[2];
                out.c[1][o + x] = px[1];
                out.c[2][o + x] = px[0];
                if (!out.alpha.empty()) out.alpha[o + x] = px[3];
            }
        } else if (f.yuy2) {
            for (int x = 0; x < width; ++x) {
                out.c[0][o + x] = row[2 * x];
                out.c[1][o + x] = row[4 * (x / 2) + 1];
                out.c[2][o + x] = row[4 * (x / 2) + 3];
            }
        } else {
            for (int x = 0; x < width; ++x) {
                out.c[0][o + x] =
                    static_cast<uint8_t>(Sample8(row, x, f.bytesPerPixel, f.bitsPerSample));
            }
            if (f.planes == 1) {  // Y8: no colour
                std::fill(out.c[1].begin() + o, out.c[1].begin() + o + width, 128);
                std::fill(out.c[2].begin() + o, out.c[2].begin() + o + width, 128);
                continue;
            }
            for (int p = 1; p < 3; ++p) {
                const int cy = std::min(ChromaRow(y, f.log2SubH, interlaced), src.Height(p) - 1);
                const uint8_t* crow = src.Data(p) + static_cast<ptrdiff_t>(cy) * src.Pitch(p);
                for (int x = 0; x < width; ++x) {
                    out.c[p][o + x] = static_cast<uint8_t>(
                        Sample8(crow, x >> f.log2SubW, f.bytesPerPixel, f.bitsPerSample));
                }
            }
        }
    }
    return out;
}

// Replaces R,G,B by Y,U,V or the other way round.
void Transform(FullPlanes& pic, const Affine& a, bool toRgb) {
    for (size_t i = 0; i < pic.c[0].size(); ++i) {
        const int in[3] = {pic.c[0][i], pic.c[1][i], pic.c[2][i]};
        int out[3];
        a.Apply(in, out);
        for (int p = 0; p < 3; ++p)
            pic.c[p][i] = static_cast<uint8_t>(out[p]);
    }
    pic.rgb = toRgb;
}

void PutSample(uint8_t* row, int x, int bytesPerSample, int bits, int sum, int count) {
    if (bytesPerSample == 1) {
        row[x] = static_cast<uint8_t>((sum + count / 2) / count);
        return;
    }
    const int scale = 1 << (bits - 8);
    const uint16_t v = static_cast<uint16_t>((sum * scale + count / 2) / count);
    std::memcpy(row + 2 * x, &v, 2);
}

void Pack(const FullPlanes& pic, const PixelFormat& f, Frame& dst, bool interlaced) {
    const int width = pic.width;
    const int height = pic.height;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = dst.Data(0) + static_cast<ptrdiff_t>(y) * dst.Pitch(0);
        const size_t o = static_cast<size_t>(y) * width;
        if (f.rgb) {
            for (int x = 0; x < width; ++x) {
                uint8_t* px = row + x * f.bytesPerPixel;
                px[0] = pic.c[2][o + x];
                px[1] = pic.c[1][o + x];
                px[2] = pic.c[0][o + x];
                if (f.bytesPerPixel == 4) px[3] = pic.alpha.empty() ? 255 : pic.alpha[o + x];
            }
        } else if (f.yuy2) {
            for (int x = 0; x + 1 < width; x += 2) {
                row[2 * x] = pic.c[0][o + x];
                row[2 * x + 1] =
                    static_cast<uint8_t>((pic.c[1][o + x] + pic.c[1][o + x + 1] + 1) / 2);
                row[2 * x + 2] = pic.c[0][o + x + 1];
                row[2 * x + 3] =
                    static_cast<uint8_t>((pic.c[2][o + x] + pic.c[2][o + x + 1] + 1) / 2);
            }
        } else {
            for (int x = 0; x < width; ++x) {
                PutSample(row, x, f.bytesPerPixel, f.bitsPerSample, pic.c[0][o + x], 1);
            }
        }
    }
    if (f.planes == 1) return;

    // Chroma: the average of the luma positions that each chroma sample covers.
    const int bw = 1 << f.log2SubW;
    const int bh = 1 << f.log2SubH;
    for (int p = 1; p < 3; ++p) {
        for (int cy = 0; cy < dst.Height(p); ++cy) {
            int rows[2] = {cy, cy};
            int rowCount = 1;
            if (bh == 2) {
                rows[0] = interlaced ? (cy >> 1) * 4 + (cy & 1) : cy * 2;
                rows[1] = rows[0] + (interlaced ? 2 : 1);
                rowCount = rows[1] < height ? 2 : 1;
            }
            uint8_t* crow = dst.Data(p) + static_cast<ptrdiff_t>(cy) * dst.Pitch(p);
            const int chromaWidth = dst.RowSize(p) / f.bytesPerPixel;
            for (int cx = 0; cx < chromaWidth; ++cx) {
                int sum = 0;
                int count = 0;
                for (int r = 0; r < rowCount; ++r) {
                    const size_t o = static_cast<size_t>(rows[r]) * width;
                    for (int x = cx * bw; x < std::min(width, cx * bw + bw); ++x) {
                        sum += pic.c[p][o + x];
                        ++count;
                    }
                }
                PutSample(crow, cx, f.bytesPerPixel, f.bitsPerSample, sum, std::max(count, 1));
            }
        }
    }
}

class Convert final : public Filter {
  public:
    Convert(PClip child, const VideoInfo& vi, Matrix matrix, bool interlaced)
        : Filter(std::move(child), vi), matrix_(matrix), interlaced_(interlaced) {}

    PFrame GetFrame(int n) override {
        const PFrame src = child_->GetFrame(n);
        return ConvertFrame(*src, child_->GetVideoInfo(), vi_, matrix_, interlaced_);
    }

  private:
    Matrix matrix_;
    bool interlaced_;
};

Function MakeConverter(const std::string& name, uint32_t target, bool hasInterlaced) {
    const std::string params = hasInterlaced ? "c[interlaced]b[matrix]s" : "c[matrix]s";
    return {name, params, [name, target, hasInterlaced](Env&, const std::vector<Value>& args) {
                const PClip& child = args[0].AsClip();
                const VideoInfo& in = child->GetVideoInfo();
                const bool interlaced = hasInterlaced && args[1].AsBool(false);
                const Value& matrixArg = args[hasInterlaced ? 2 : 1];
                Matrix matrix = Matrix::Rec601;
                if (!ParseMatrix(matrixArg.AsString("Rec601"), matrix)) {
                    throw Error(name +
                                ": invalid \"matrix\" parameter (use Rec601, PC.601, Rec709 or "
                                "PC.709)");
                }
                if (!HasVideo(in)) throw Error(name + ": clip has no video");
                const PixelFormat* from = FindFormat(in.pixel_type);
                if (from == nullptr) throw Error(name + ": unsupported source colour space");
                const PixelFormat* to = FindFormat(static_cast<int>(target));

                // Same family already (I420 counts as YV12): nothing to do.
                const bool same = (from->pixelType == target) ||
                                  (target == avs::kCsYV12 && from->pixelType == avs::kCsI420);
                if (same) return Value::FromClip(child);

                // Interlaced 4:2:0 pairs rows of one field, on either side of the conversion.
                const bool fieldChroma = interlaced && (from->log2SubH > 0 || to->log2SubH > 0);
                const int wMultiple = 1 << to->log2SubW;
                const int hMultiple = fieldChroma ? 4 : 1 << to->log2SubH;
                if (in.width % wMultiple != 0) {
                    throw Error(name + ": Image width must be multiple of " +
                                std::to_string(wMultiple));
                }
                if (in.height % hMultiple != 0) {
                    throw Error(name + ": Image height must be multiple of " +
                                std::to_string(hMultiple));
                }
                VideoInfo out = in;
                out.pixel_type = static_cast<int>(target);
                return Value::FromClip(std::make_shared<Convert>(child, out, matrix, interlaced));
            }};
}

}  // namespace

Yuv RgbToYuv(int r, int g, int b, Matrix matrix) {
    const int in[3] = {r, g, b};
    int out[3];
    RgbToYuvMatrix(Coefficients(matrix)).Apply(in, out);
    return {out[0], out[1], out[2]};
}

std::shared_ptr<Frame> ConvertFrame(const Frame& src, const VideoInfo& srcVi,
                                    const VideoInfo& dstVi, Matrix matrix, bool interlaced) {
    const PixelFormat* from = FindFormat(srcVi.pixel_type);
    const PixelFormat* to = FindFormat(dstVi.pixel_type);
    auto dst = std::make_shared<Frame>(dstVi);
    if (from == nullptr || to == nullptr || !HasVideo(srcVi)) return dst;

    FullPlanes pic = Unpack(src, *from, srcVi.width, srcVi.height, interlaced);
    const MatrixCoefficients k = Coefficients(matrix);
    if (pic.rgb && !to->rgb) Transform(pic, RgbToYuvMatrix(k), false);
    if (!pic.rgb && to->rgb) Transform(pic, YuvToRgbMatrix(k), true);
    Pack(pic, *to, *dst, interlaced);
    return dst;
}

void RegisterConversions(std::vector<Function>& table) {
    table.push_back(MakeConverter("ConvertToYV12", avs::kCsYV12, true));
    table.push_back(MakeConverter("ConvertToYV24", avs::kCsYV24, true));
    table.push_back(MakeConverter("ConvertToYUY2", avs::kCsYUY2, true));
    table.push_back(MakeConverter("ConvertToRGB24", avs::kCsBGR24, true));
    table.push_back(MakeConverter("ConvertToRGB32", avs::kCsBGR32, true));
    table.push_back(MakeConverter("ConvertToY8", avs::kCsY8, false));
}

}  // namespace ms
