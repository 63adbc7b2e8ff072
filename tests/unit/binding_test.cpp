// The trial run against the stand-in frame server, loaded in this process as the tool does.
#include <gtest/gtest.h>

#include <cstdlib>

#include "avs/host.h"
#include "avs/script.h"
#include "support/process.h"

namespace {

TEST(RefreshInterval, BoundsBelongToTheRowTheyClose) {
    const std::pair<double, uint32_t> cases[] = {
        {0.0, 50000}, {0.001, 50000}, {0.0011, 20000}, {0.01, 5000}, {0.0100001, 2000},
        {1.0, 50},    {2.0, 20},      {20.0, 10},      {20.0001, 1}, {1e9, 1}};
    for (const auto& [timePerFrame, interval] : cases)
        EXPECT_EQ(avs::RefreshIntervalFor(timePerFrame), interval) << timePerFrame;
}

TEST(PreRun, IntervalOrTheReasonThereIsNone) {
    const testsupport::SignalStateKept signalsKept;  // the pre-run installs fault handlers
    const testsupport::TempDir dir;
    const std::string message(5000, 'm');
    const std::string audio = dir.Write("audio.avs", "BlankClip(length=100).KillVideo()\n");
    const struct {
        std::string script, error;
        uint32_t interval;
    } cases[] = {
        // Too fast to measure: the interval of a zero time per frame, with a warning.
        {dir.Write("fast.avs", "BlankClip(length=50, width=16, height=16)\n"),
         "Script runtime is too short for accurate measurements", 50000},
        // 40 frames of at least 25 ms: more than 20 ms a frame.
        {dir.Write("slow.avs", "BlankClip(length=40, width=16, height=16).MSBusy(25.0)\n"), "", 1},
        {audio, "Script did not return a video clip:\n(" + audio + ")", 0},
        {dir.Write("long.avs",
                   "BlankClip(length=100)\nMSFault(2, \"error\", \"" + message + "\")\n"),
         message, 0},  // a long AviSynth message arrives whole
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        avs::LoadSettings settings{MINISYNTH_LIB, 6, true, {}};
        std::string error;
        EXPECT_EQ(avs::EstimateRefreshInterval(settings, c.script, error), c.interval);
        EXPECT_EQ(error, c.error);
    }
    // Variables reach the script with their kinds: 3 / 2 is whole, 0.5 * 2 is not.
    const std::string typed =
        dir.Write("typed.avs",
                  "Assert(n / 2 == 1 && f * 2 == 1.0 && s == \"Fast\", \"not the values set\")\n"
                  "BlankClip(length=50, width=16, height=16)\n");
    avs::LoadSettings withVariables{MINISYNTH_LIB, 6, true, {}};
    std::string error;
    const auto variable = [](const char* name, avs::ScriptVariable::Kind kind, const char* text) {
        avs::ScriptVariable v;
        v.name = name;
        v.kind = kind;
        v.text = text;
        v.integer = std::atoi(text);
        v.decimal = std::atof(text);
        return v;
    };
    EXPECT_EQ(avs::EstimateRefreshInterval(withVariables, typed, error), 0u);
    EXPECT_NE(error.find("I don't know what 'n' means."), std::string::npos) << error;
    withVariables.globals = {variable("n", avs::ScriptVariable::Kind::kInt, "3"),
                             variable("f", avs::ScriptVariable::Kind::kFloat, "0.5"),
                             variable("s", avs::ScriptVariable::Kind::kString, "fast")};
    EXPECT_EQ(avs::EstimateRefreshInterval(withVariables, typed, error), 50000u);
    EXPECT_EQ(error, "Script runtime is too short for accurate measurements");

    avs::LoadSettings missing{"/nonexistent/libavisynth.so", 6, true, {}};
    EXPECT_EQ(avs::EstimateRefreshInterval(missing, "x.avs", error), 0u);
    EXPECT_EQ(error, "Failed to load libavisynth.so");
}

}  // namespace
