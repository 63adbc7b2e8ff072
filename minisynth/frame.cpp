// Frame buffers in the clip's colour space, and the table of colour spaces minisynth knows.
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core.h"
#include "filters/filters.h"

namespace ms {

namespace {

// Rows start on a cache-line boundary, as in AviSynth, so that row loops stay aligned.
constexpr int kAlign = 64;

constexpr uint32_t kYuv420P10 = 0xA0050008u;  // 4:2:0, 10-bit samples in 16-bit words

// name, planes, rgb, yuy2, bytes, bits, log2 chroma subsampling w/h
constexpr PixelFormat kFormats[] = {
    {avs::kCsBGR24, "RGB24", 1, true, false, 3, 8, 0, 0},
    {avs::kCsBGR32, "RGB32", 1, true, false, 4, 8, 0, 0},
    {avs::kCsYUY2, "YUY2", 1, false, true, 2, 8, 1, 0},
    {avs::kCsYV12, "YV12", 3, false, false, 1, 8, 1, 1},
    {avs::kCsI420, "I420", 3, false, false, 1, 8, 1, 1},
    {avs::kCsYV16, "YV16", 3, false, false, 1, 8, 1, 0},
    {avs::kCsYV24, "YV24", 3, false, false, 1, 8, 0, 0},
    {avs::kCsYV411, "YV411", 3, false, false, 1, 8, 2, 0},
    {avs::kCsY8, "Y8", 1, false, false, 1, 8, 0, 0},
    {kYuv420P10, "YUV420P10", 3, false, false, 2, 10, 1, 1},
};

// Far beyond any real video; keeps the size arithmetic in range and refuses absurd requests
// with a message instead of failing an allocation.
constexpr int kMaxDimension = 1 << 16;
constexpr size_t kMaxFrameBytes = size_t{1} << 30;

int AlignUp(int bytes) {
    return (bytes + kAlign - 1) / kAlign * kAlign;
}

}  // namespace

const PixelFormat* FindFormat(int pixelType) {
    for (const PixelFormat& f : kFormats) {
        if (f.pixelType == static_cast<uint32_t>(pixelType)) return &f;
    }
    return nullptr;
}

const PixelFormat* FindFormatByName(const std::string& name) {
    for (const PixelFormat& f : kFormats) {
        const std::string candidate = f.name;
        if (candidate.size() == name.size() &&
            std::equal(name.begin(), name.end(), candidate.begin(), [](char a, char b) {
                return std::toupper(static_cast<unsigned char>(a)) ==
                       std::toupper(static_cast<unsigned char>(b));
            })) {
            return &f;
        }
    }
    return nullptr;
}

std::string FormatNameList() {
    std::string list;
    const size_t count = sizeof(kFormats) / sizeof(kFormats[0]);
    for (size_t i = 0; i < count; ++i) {
        if (i > 0) list += i + 1 == count ? " or " : ", ";
        list += '"';
        list += kFormats[i].name;
        list += '"';
    }
    return list;
}

Frame::Frame(const VideoInfo& vi) {
    if (vi.width <= 0 || vi.height <= 0) return;  // no video: no planes
    const PixelFormat* format = FindFormat(vi.pixel_type);
    if (format == nullptr) {
        char text[64];
        std::snprintf(text, sizeof text, "unsupported pixel_type 0x%08X",
                      static_cast<unsigned>(vi.pixel_type));
        throw Error(text);
    }
    if (vi.width > kMaxDimension || vi.height > kMaxDimension) {
        throw Error("frame size " + std::to_string(vi.width) + "x" + std::to_string(vi.height) +
                    " is too large");
    }
    planeCount_ = format->planes;
    bytesPerSample_ = format->rgb || format->yuy2 ? 1 : format->bytesPerPixel;

    size_t offsets[3] = {0, 0, 0};
    size_t total = 0;
    for (int p = 0; p < planeCount_; ++p) {
        int width = vi.width;
        int height = vi.height;
        if (p > 0) {  // chroma planes; sizes that do not divide are rounded up
            width = (width + (1 << format->log2SubW) - 1) >> format->log2SubW;
            height = (height + (1 << format->log2SubH) - 1) >> format->log2SubH;
        }
        rowSize_[p] = width * format->bytesPerPixel;
        pitch_[p] = AlignUp(rowSize_[p]);
        height_[p] = height;
        offsets[p] = total;
        total += static_cast<size_t>(pitch_[p]) * static_cast<size_t>(height);
    }
    if (total > kMaxFrameBytes) {
        throw Error("frame size " + std::to_string(vi.width) + "x" + std::to_string(vi.height) +
                    " is too large");
    }
    buffer_.resize(total + kAlign);
    const uintptr_t base = reinterpret_cast<uintptr_t>(buffer_.data());
    const size_t skip = (kAlign - base % kAlign) % kAlign;
    for (int p = 0; p < planeCount_; ++p)
        data_[p] = buffer_.data() + skip + offsets[p];
}

}  // namespace ms
