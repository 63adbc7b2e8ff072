// Filters that change a clip's timing or description without touching pixels: Trim, Loop,
// AssumeFPS, the field-order filters, KillAudio, KillVideo and AudioDub.
#include <climits>
#include <cmath>

#include "filters.h"

namespace ms {

namespace {

// Hands out the child's frames under a new description.
class Retag final : public Filter {
  public:
    using Filter::Filter;
    PFrame GetFrame(int n) override { return child_->GetFrame(n); }
};

class Trim final : public Filter {
  public:
    Trim(PClip child, const VideoInfo& vi, int first)
        : Filter(std::move(child), vi), first_(first) {}
    PFrame GetFrame(int n) override {
        return child_->GetFrame(first_ + ClampFrame(n, vi_.num_frames));
    }

  private:
    int first_;
};

// Frames before start as they are, start..end repeated times times, then the rest.
class Loop final : public Filter {
  public:
    Loop(PClip child, const VideoInfo& vi, int times, int start, int end)
        : Filter(std::move(child), vi), times_(times), start_(start), length_(end - start + 1) {}

    PFrame GetFrame(int n) override {
        n = ClampFrame(n, vi_.num_frames);
        if (n < start_) return child_->GetFrame(n);
        const int64_t offset = int64_t{n} - start_;
        if (times_ < 0 || offset < int64_t{times_} * length_) {
            return child_->GetFrame(start_ + static_cast<int>(offset % length_));
        }
        return child_->GetFrame(static_cast<int>(n - int64_t{times_ - 1} * length_));
    }

  private:
    int times_;
    int start_;
    int length_;
};

class NoVideo final : public Clip {
  public:
    using Clip::Clip;
    PFrame GetFrame(int) override { throw Error("KillVideo: clip has no video"); }
};

Value MakeTrim(const std::vector<Value>& args) {
    const PClip& child = args[0].AsClip();
    VideoInfo vi = child->GetVideoInfo();
    const int frames = vi.num_frames;
    if (frames <= 0) return Value::FromClip(child);

    const int first = ClampFrame(args[1].AsInt(), frames);
    int64_t last = args[2].AsInt();
    if (last == 0) {
        last = frames - 1;  // to the end
    } else if (last < 0) {
        last = first - last - 1;  // a frame count
    }
    if (last > frames - 1) last = frames - 1;
    if (last < first) throw Error("Trim: last frame is before the first frame");

    vi.num_frames = static_cast<int>(last - first + 1);
    if (HasAudio(vi)) {
        const int64_t start = AudioSamplesForFrames(vi, first);
        const int64_t wanted = AudioSamplesForFrames(vi, vi.num_frames);
        const int64_t left = vi.num_audio_samples > start ? vi.num_audio_samples - start : 0;
        // pad_audio: the audio is exactly as long as the video, padded with silence.
        vi.num_audio_samples = args[3].AsBool(true) ? wanted : std::min(left, wanted);
    }
    return Value::FromClip(std::make_shared<Trim>(child, vi, first));
}

Value MakeLoop(const std::vector<Value>& args) {
    const PClip& child = args[0].AsClip();
    VideoInfo vi = child->GetVideoInfo();
    const int frames = vi.num_frames;
    if (frames <= 0) return Value::FromClip(child);

    const int times = args[1].AsInt(-1);
    const int start = ClampFrame(args[2].AsInt(0), frames);
    const int end = std::max(start, ClampFrame(args[3].AsInt(frames), frames));
    const int length = end - start + 1;
    int64_t total;
    if (times < 0) {
        total = std::max<int64_t>(10000000, int64_t{start} + length);  // "very large"
    } else {
        total = int64_t{frames} + (int64_t{times} - 1) * length;
    }
    if (total > INT_MAX) throw Error("Loop: the looped clip would be too long");
    if (total <= 0) throw Error("Loop: the looped clip would have no frames");
    vi.num_frames = static_cast<int>(total);
    if (HasAudio(vi)) vi.num_audio_samples = AudioSamplesForFrames(vi, vi.num_frames);
    return Value::FromClip(std::make_shared<Loop>(child, vi, times, start, end));
}

Value MakeAssumeFps(const std::vector<Value>& args) {
    const PClip& child = args[0].AsClip();
    VideoInfo vi = child->GetVideoInfo();
    const Value& rate = args[1];
    unsigned numerator = 0;
    unsigned denominator = 1;
    if (rate.IsInt()) {
        const int den = args[2].AsInt(1);
        if (rate.AsInt() <= 0 || den <= 0) {
            throw Error("AssumeFPS: numerator and denominator must be positive");
        }
        numerator = static_cast<unsigned>(rate.AsInt());
        denominator = static_cast<unsigned>(den);
        ReduceFraction(numerator, denominator);
    } else if (rate.IsFloat()) {
        if (!args[2].IsVoid()) throw Error("AssumeFPS: a denominator needs an integer numerator");
        if (!FloatToFps(rate.AsFloat(), numerator, denominator)) {
            throw Error("AssumeFPS: the frame rate must be positive");
        }
    } else if (rate.IsClip()) {
        numerator = rate.AsClip()->GetVideoInfo().fps_numerator;
        denominator = rate.AsClip()->GetVideoInfo().fps_denominator;
    } else {
        throw Error("AssumeFPS: the frame rate must be a number or a clip");
    }

    if (args[3].AsBool(false) && HasAudio(vi) && vi.fps_numerator != 0) {
        // The same samples over the new duration.
        const double scaled = static_cast<double>(vi.audio_samples_per_second) * numerator *
                              vi.fps_denominator /
                              (static_cast<double>(denominator) * vi.fps_numerator);
        if (scaled < 1.0 || scaled > INT_MAX) throw Error("AssumeFPS: audio rate out of range");
        vi.audio_samples_per_second = static_cast<int>(std::lround(scaled));
    }
    vi.fps_numerator = numerator;
    vi.fps_denominator = denominator;
    return Value::FromClip(std::make_shared<Retag>(child, vi));
}

Function FieldFilter(const char* name, int set, int clear) {
    return {name, "c", [set, clear](Env&, const std::vector<Value>& args) {
                const PClip& child = args[0].AsClip();
                VideoInfo vi = child->GetVideoInfo();
                vi.image_type = (vi.image_type & ~clear) | set;
                return Value::FromClip(std::make_shared<Retag>(child, vi));
            }};
}

Value MakeAudioDub(const std::vector<Value>& args) {
    PClip video = args[0].AsClip();
    PClip audio = args[1].AsClip();
    const auto hasVideo = [](const PClip& c) { return HasVideo(c->GetVideoInfo()); };
    const auto hasAudio = [](const PClip& c) { return HasAudio(c->GetVideoInfo()); };
    if (!(hasVideo(video) && hasAudio(audio))) {
        if (hasVideo(audio) && hasAudio(video)) {
            std::swap(video, audio);  // as AviSynth, either order works
        } else {
            throw Error("AudioDub: need an audio and a video track");
        }
    }
    VideoInfo vi = video->GetVideoInfo();
    const VideoInfo& a = audio->GetVideoInfo();
    vi.audio_samples_per_second = a.audio_samples_per_second;
    vi.sample_type = a.sample_type;
    vi.num_audio_samples = a.num_audio_samples;
    vi.nchannels = a.nchannels;
    return Value::FromClip(std::make_shared<Retag>(video, vi));
}

}  // namespace

void RegisterEditing(std::vector<Function>& table) {
    table.push_back(
        {"Trim", "cii[pad]b", [](Env&, const std::vector<Value>& args) { return MakeTrim(args); }});
    table.push_back({"Loop", "c[times]i[start]i[end]i",
                     [](Env&, const std::vector<Value>& args) { return MakeLoop(args); }});
    table.push_back({"AssumeFPS", "c.[denominator]i[sync_audio]b",
                     [](Env&, const std::vector<Value>& args) { return MakeAssumeFps(args); }});
    table.push_back(FieldFilter("AssumeFieldBased", avs::kItFieldBased, 0));
    table.push_back(
        FieldFilter("AssumeFrameBased", 0, avs::kItFieldBased | avs::kItTFF | avs::kItBFF));
    table.push_back(FieldFilter("AssumeTFF", avs::kItTFF, avs::kItBFF));
    table.push_back(FieldFilter("AssumeBFF", avs::kItBFF, avs::kItTFF));
    table.push_back({"KillAudio", "c", [](Env&, const std::vector<Value>& args) {
                         const PClip& child = args[0].AsClip();
                         VideoInfo vi = child->GetVideoInfo();
                         vi.audio_samples_per_second = 0;
                         vi.num_audio_samples = 0;
                         vi.nchannels = 0;
                         return Value::FromClip(std::make_shared<Retag>(child, vi));
                     }});
    table.push_back({"KillVideo", "c", [](Env&, const std::vector<Value>& args) {
                         VideoInfo vi = args[0].AsClip()->GetVideoInfo();
                         vi.width = 0;
                         vi.height = 0;
                         vi.num_frames = 0;
                         vi.pixel_type = 0;
                         vi.image_type = 0;
                         return Value::FromClip(std::make_shared<NoVideo>(vi));
                     }});
    table.push_back({"AudioDub", "cc",
                     [](Env&, const std::vector<Value>& args) { return MakeAudioDub(args); }});
}

}  // namespace ms
