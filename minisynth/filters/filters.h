// Shared parts of minisynth's filters: colour-space descriptions, frame-number and audio
// arithmetic, the colour conversion used by sources and ConvertTo*, and one registration
// hook per filter family.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core.h"

namespace ms {

// How a pixel_type lays out its samples in a Frame.
struct PixelFormat {
    uint32_t pixelType;
    const char* name;   // as BlankClip's pixel_type names it
    int planes;         // 1 for packed formats and Y8, else 3 (Y, U, V)
    bool rgb;           // packed B,G,R[,A] bytes
    bool yuy2;          // packed Y0 U Y1 V
    int bytesPerPixel;  // packed: bytes per pixel; planar: bytes per sample
    int bitsPerSample;
    int log2SubW;  // chroma subsampling (YUY2: horizontal 2)
    int log2SubH;
};

// Null for a pixel_type minisynth cannot render.
const PixelFormat* FindFormat(int pixelType);
// Case-insensitive; null for an unknown name.
const PixelFormat* FindFormatByName(const std::string& name);
// The accepted names for an error message: "RGB24", "RGB32", ... or "YUV420P10".
std::string FormatNameList();

inline bool HasVideo(const VideoInfo& vi) {
    return vi.width != 0;
}
inline bool HasAudio(const VideoInfo& vi) {
    return vi.audio_samples_per_second != 0;
}

// AviSynth's rule: n < 0 gives frame 0, n past the end gives the last frame.
inline int ClampFrame(int n, int numFrames) {
    if (n >= numFrames) n = numFrames - 1;
    return n < 0 ? 0 : n;
}

// Audio samples that cover the given number of frames at the clip's frame rate.
int64_t AudioSamplesForFrames(const VideoInfo& vi, int64_t frames);

// A frame rate given as a float turned into a reduced fraction: integers give n/1,
// 29.97 gives 2997/100, 30000/1001 in float precision gives 30000/1001 back.
// False for a rate that is not positive or too large.
bool FloatToFps(double fps, unsigned& numerator, unsigned& denominator);

// Shortens a fraction.
void ReduceFraction(unsigned& numerator, unsigned& denominator);

// Colour matrices of ConvertTo* ("Rec601" and "Rec709" use the 16..235 range, "PC.601" and
// "PC.709" the full range).
enum class Matrix { Rec601, PC601, Rec709, PC709 };
bool ParseMatrix(const std::string& name, Matrix& matrix);

struct Yuv {
    int y, u, v;
};
// 8-bit RGB to 8-bit YUV, rounded and clipped.
Yuv RgbToYuv(int r, int g, int b, Matrix matrix);

// Renders src (in srcVi's format) as a new frame in dstVi's format; both have the same
// size. Chroma is averaged when subsampling and repeated when upsampling; interlaced
// 4:2:0 keeps the two fields' chroma apart.
std::shared_ptr<Frame> ConvertFrame(const Frame& src, const VideoInfo& srcVi,
                                    const VideoInfo& dstVi, Matrix matrix, bool interlaced);

// A filter with one input clip.
class Filter : public Clip {
  public:
    Filter(PClip child, const VideoInfo& vi) : Clip(vi), child_(std::move(child)) {}

  protected:
    PClip child_;
};

// The filter families, each in its own file.
void RegisterSources(std::vector<Function>& table);      // BlankClip, ColorBars
void RegisterConvolution(std::vector<Function>& table);  // Blur, Sharpen
void RegisterInvert(std::vector<Function>& table);       // Invert
void RegisterEditing(std::vector<Function>& table);      // Trim, Loop, Assume*, audio
void RegisterConversions(std::vector<Function>& table);  // ConvertTo*
void RegisterTestHelpers(std::vector<Function>& table);  // MSBusy, MSFault

}  // namespace ms
