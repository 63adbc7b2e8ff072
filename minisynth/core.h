// minisynth's internal model: values, frames, clips and the function table.
// Shared by the script language (script.*, env.*, capi.cpp) and the filters (filters/*).
// Nothing outside minisynth/ includes this file: the tool sees only the C interface.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "avs/c_interface.h"

namespace ms {

// A script or frame error; its text reaches the host verbatim.
class Error : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

using VideoInfo = AVS_VideoInfo;

// One video frame: up to three planes in the clip's format. Packed formats (RGB24,
// RGB32, YUY2) use plane 0 only, with rowSize bytes per row.
class Frame {
  public:
    explicit Frame(const VideoInfo& vi);

    int PlaneCount() const { return planeCount_; }
    uint8_t* Data(int plane) { return data_[plane]; }
    const uint8_t* Data(int plane) const { return data_[plane]; }
    int Pitch(int plane) const { return pitch_[plane]; }
    int RowSize(int plane) const { return rowSize_[plane]; }  // bytes per row
    int Height(int plane) const { return height_[plane]; }
    int BytesPerSample() const { return bytesPerSample_; }

  private:
    std::vector<uint8_t> buffer_;
    int planeCount_ = 0;
    int bytesPerSample_ = 1;
    uint8_t* data_[3] = {nullptr, nullptr, nullptr};
    int pitch_[3] = {0, 0, 0};
    int rowSize_[3] = {0, 0, 0};
    int height_[3] = {0, 0, 0};
};

using PFrame = std::shared_ptr<const Frame>;

// A source or filter. GetFrame may be called from several threads at once (Prefetch);
// it throws ms::Error for a frame that cannot be rendered.
class Clip {
  public:
    explicit Clip(const VideoInfo& vi) : vi_(vi) {}
    virtual ~Clip() = default;
    const VideoInfo& GetVideoInfo() const { return vi_; }
    virtual PFrame GetFrame(int n) = 0;

  protected:
    VideoInfo vi_;
};

using PClip = std::shared_ptr<Clip>;

// A script value. Floats are kept in double precision inside minisynth and handed to the
// host as 'f' (single precision), as the C interface requires.
class Value {
  public:
    enum class Type { Void, Bool, Int, Float, String, Clip, Array };

    Value() = default;
    static Value Bool(bool b);
    static Value Int(int i);
    static Value Float(double f);
    static Value String(std::string s);
    static Value FromClip(PClip c);
    static Value Array(std::vector<Value> items);

    Type GetType() const { return type_; }
    bool IsVoid() const { return type_ == Type::Void; }
    bool IsBool() const { return type_ == Type::Bool; }
    bool IsInt() const { return type_ == Type::Int; }
    bool IsFloat() const { return type_ == Type::Float || type_ == Type::Int; }  // ints widen
    bool IsString() const { return type_ == Type::String; }
    bool IsClip() const { return type_ == Type::Clip; }
    bool IsArray() const { return type_ == Type::Array; }

    bool AsBool() const { return b_; }
    int AsInt() const { return i_; }
    double AsFloat() const { return type_ == Type::Int ? static_cast<double>(i_) : f_; }
    const std::string& AsString() const { return s_; }
    const PClip& AsClip() const { return clip_; }
    const std::vector<Value>& AsArray() const { return items_; }

    // Defaults for optional arguments that were not given (Void).
    bool AsBool(bool dflt) const { return IsVoid() ? dflt : b_; }
    int AsInt(int dflt) const { return IsVoid() ? dflt : i_; }
    double AsFloat(double dflt) const { return IsVoid() ? dflt : AsFloat(); }
    std::string AsString(const std::string& dflt) const { return IsVoid() ? dflt : s_; }

  private:
    Type type_ = Type::Void;
    bool b_ = false;
    int i_ = 0;
    double f_ = 0.0;
    std::string s_;
    PClip clip_;
    std::vector<Value> items_;
};

class Env;

// A script function. The parameter list uses AviSynth's signature notation: one type
// letter per parameter (c clip, i int, f float, b bool, s string, . any), a name in
// brackets before the letter makes it a named optional parameter, '*' after a letter
// takes any number of that type (collected into an Array), e.g. "c[radius]f".
// args holds one Value per parameter, Void for an optional one not given.
struct Function {
    std::string name;
    std::string params;
    std::function<Value(Env& env, const std::vector<Value>& args)> call;
};

// What the filters register; the environment adds its own functions and leaves out
// those that the built variant does not have.
void RegisterFilters(std::vector<Function>& table);

// Multi-threading state of the older MT style, read by Distributor.
struct MtState {
    int mode = 0;     // SetMTMode's mode, 0 = off
    int threads = 0;  // SetMTMode's thread count, 0 = one per processor
};

// Renders frames ahead on worker threads: Prefetch(threads) and Distributor() both use it.
PClip MakePrefetcher(PClip child, int threads);

}  // namespace ms
