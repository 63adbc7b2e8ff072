// The questions the program asks take their answer in either case and ignore other keys:
// the offer of the whole clip after an invalid range, and going on without GPU monitoring.
// Answered through a pipe here, as a Windows build under Wine can be; the terminal's side
// (waiting, erasing) is run_sequence_test's.
#include <ostream>

#include "e2e/e2e.h"

namespace e2e {
namespace {

constexpr int kError = 255;

// 110 frames of 5 ms: a trial run of 0.55 s.
const char kQuick[] = "BlankClip(length=110, width=64, height=64)\nMSBusy(5)\n";

struct Answer {
    const char* name;
    const char* question;  // "range" or "gpu"
    const char* keys;      // typed before the input ends
    bool accepted;
};

void PrintTo(const Answer& a, std::ostream* os) {
    *os << a.name;
}

// The first answer counts: the key after it would answer the other way.
const Answer kAnswers[] = {
    {"RangeYes", "range", "yn", true},
    {"RangeYesInCapitals", "range", "Yn", true},
    {"RangeNo", "range", "ny", false},
    {"RangeNoInCapitals", "range", "Ny", false},
    {"RangeOtherKeysIgnored", "range", "x q1\rYn", true},
    {"RangeOtherKeysThenNo", "range", "x q1\rNy", false},
    {"RangeEndOfInputDeclines", "range", "x", false},
    {"GpuYes", "gpu", "yn", true},
    {"GpuYesInCapitals", "gpu", "Yn", true},
    {"GpuNo", "gpu", "ny", false},
    {"GpuNoInCapitals", "gpu", "Ny", false},
    {"GpuOtherKeysIgnored", "gpu", "x q1\rYn", true},
    {"GpuOtherKeysThenNo", "gpu", "x q1\rNy", false},
    {"GpuEndOfInputDeclines", "gpu", "x", false},
};

class Prompts : public Trevalo, public ::testing::WithParamInterface<Answer> {};

TEST_P(Prompts, TakeEitherCaseAndIgnoreOtherKeys) {
    const Answer& a = GetParam();
    const std::string script = Script("run.avs", kQuick);
    const bool range = a.question == std::string("range");
    const testsupport::ProgramResult r =
        range ? Run({"-range=5,200", script}, a.keys) : Run({"-gpu", "-info", script}, a.keys);
    EXPECT_TRUE(Contains(r.err, range ? "Proceed with default (0,109)? [y/n]"
                                      : "Continue without GPU monitoring? [y/n]"));
    EXPECT_EQ(r.exitCode, range || a.accepted ? 0 : kError) << r.err;
    // Accepted, the whole clip is measured or reported; declined, neither.
    const std::string shown = LastWrites(r.err);
    const char* result = range ? "\nFrames processed:               110 (0 - 109)\n"
                               : "\nNumber of frames:                  110\n";
    EXPECT_EQ(static_cast<bool>(Contains(shown, result)), a.accepted) << shown;
    EXPECT_EQ(static_cast<bool>(Contains(shown, "Frames processed")), range && a.accepted);
}

INSTANTIATE_TEST_SUITE_P(Trevalo, Prompts, ::testing::ValuesIn(kAnswers),
                         [](const ::testing::TestParamInfo<Answer>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
}  // namespace e2e
