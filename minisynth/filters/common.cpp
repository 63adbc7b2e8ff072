// The filter table and the arithmetic that several filters share.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <limits>

#include "filters.h"

namespace ms {

void RegisterFilters(std::vector<Function>& table) {
    RegisterSources(table);
    RegisterConvolution(table);
    RegisterInvert(table);
    RegisterEditing(table);
    RegisterConversions(table);
    RegisterTestHelpers(table);
}

int64_t AudioSamplesForFrames(const VideoInfo& vi, int64_t frames) {
    if (vi.fps_numerator == 0 || frames <= 0 || vi.audio_samples_per_second <= 0) return 0;
    // frames * rate * den / num without overflowing: frames and rate are below 2^31, so
    // their product fits; the rest is split so that no step exceeds 64 bits.
    const uint64_t q =
        static_cast<uint64_t>(frames) * static_cast<uint64_t>(vi.audio_samples_per_second);
    const uint64_t num = vi.fps_numerator;
    const uint64_t den = vi.fps_denominator;
    if (static_cast<double>(q) * static_cast<double>(den) / static_cast<double>(num) > 9e18) {
        return std::numeric_limits<int64_t>::max();
    }
    return static_cast<int64_t>(q / num * den + q % num * den / num);
}

namespace {

uint64_t Gcd(uint64_t a, uint64_t b) {
    while (b != 0) {
        const uint64_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}

}  // namespace

void ReduceFraction(unsigned& numerator, unsigned& denominator) {
    const uint64_t g = Gcd(numerator, denominator);
    if (g > 1) {
        numerator = static_cast<unsigned>(numerator / g);
        denominator = static_cast<unsigned>(denominator / g);
    }
}

bool FloatToFps(double fps, unsigned& numerator, unsigned& denominator) {
    if (!(fps > 0.0) || fps > 1e6) return false;  // also refuses NaN
    // The simplest fraction within single-precision accuracy (half a unit in the last place,
    // 2^-24 relative): script floats may have passed through a C float on their way here.
    const double tolerance = fps * 6e-8;
    uint64_t h1 = 1, h2 = 0, k1 = 0, k2 = 1;  // previous two convergents
    double x = fps;
    for (int i = 0; i < 32; ++i) {
        const double a = std::floor(x);
        const uint64_t h = static_cast<uint64_t>(a) * h1 + h2;
        const uint64_t k = static_cast<uint64_t>(a) * k1 + k2;
        if (h > std::numeric_limits<unsigned>::max() || k > 1000000) break;
        h2 = h1;
        h1 = h;
        k2 = k1;
        k1 = k;
        if (std::fabs(static_cast<double>(h) / static_cast<double>(k) - fps) <= tolerance) break;
        const double fraction = x - a;
        if (fraction < 1e-12) break;
        x = 1.0 / fraction;
    }
    if (h1 == 0 || k1 == 0) return false;
    numerator = static_cast<unsigned>(h1);
    denominator = static_cast<unsigned>(k1);
    return true;
}

bool ParseMatrix(const std::string& name, Matrix& matrix) {
    std::string key;
    for (char c : name) {
        if (c != '.') key += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (key == "rec601") {
        matrix = Matrix::Rec601;
    } else if (key == "pc601") {
        matrix = Matrix::PC601;
    } else if (key == "rec709") {
        matrix = Matrix::Rec709;
    } else if (key == "pc709") {
        matrix = Matrix::PC709;
    } else {
        return false;
    }
    return true;
}

}  // namespace ms
