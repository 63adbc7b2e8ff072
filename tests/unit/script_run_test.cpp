// Measuring one script against the stand-in with fake instruments: exact figures, run after run.
#include <gtest/gtest.h>

#include "app/script_run.h"

#include <signal.h>

#include "app/watch.h"
#include "avs/cycle.h"
#include "support/process.h"
#include "sys/se_exception.h"
#include "terminal_test_pty.h"

namespace app {
namespace {

// 0.125 s per clock reading, one per 10-frame sampling: 80 fps throughout. The probe reads
// 50 % CPU, 3 threads, physical memory 1 MB more each time, virtual 250 MB at the fifth.
class KnownInstruments : public bench::Instruments {
  public:
    KnownInstruments(int& refreshes, int& alive) : refreshes_(refreshes), alive_(alive) {
        ++alive_;
    }
    ~KnownInstruments() override { --alive_; }
    double Seconds() override { return clock_ += 0.125; }
    bench::ProcessFigures Probe() override {
        ++probes_;
        return {50, 3, 100u + probes_, probes_ == 5 ? 250u : 200u, true};
    }
    bool Gpu(bench::GpuFigures&) override { return false; }
    void Refresh(bench::RunTotals&, uint32_t, const bench::ProcessFigures&,
                 const bench::GpuFigures*) override {
        ++refreshes_;
    }
    bool StopRequested() override { return false; }

  private:
    double clock_ = 0.0;
    uint32_t probes_ = 0;
    int& refreshes_;
    int& alive_;
};

struct Measured {
    std::optional<bench::RunRecord> record;
    std::vector<std::string> screen;  // the console stream as a terminal would show it
    int instruments = 0;              // how many the run made
    int refreshes = 0;
    int alive = 0;  // instruments not yet destroyed when the measuring returned
};

Measured Measure(const ScriptJob& job) {
    Measured m;
    const testpty::TempFile console;
    {
        const testpty::FdSwap swap(2, console.fd());
        m.record = MeasureScript(job, [&m] {
            ++m.instruments;
            return std::make_unique<KnownInstruments>(m.refreshes, m.alive);
        });
    }
    // As a terminal's driver passes it on: every line feed also returns the carriage.
    std::string shown;
    for (const char c : console.Content())
        shown += c == '\n' ? std::string("\r\n") : std::string(1, c);
    m.screen = testsupport::PlayOnScreen(shown, 200);
    return m;
}

ScriptJob JobFor(const std::string& script) {
    ScriptJob job;
    job.setup.scriptPath = script;
    job.setup.programVersion = "0.9.0";
    job.setup.date = "2026-12-07T10:00:00+00:00";
    job.dllPath = MINISYNTH_LIB;
    job.interfaceVersion = 6;
    job.refreshInterval = 10;
    return job;
}

const std::vector<std::string> kSummary = {
    "Frames processed:               100 (0 - 99)",
    "FPS (min | max | average):      80.00 | 80.00 | 80.00",
    "Memory usage (phys | virt):     111 | 250 MB",
    "Thread count:                   3",
    "CPU usage (average):            50%",
    "Efficiency index:               1.600",
    "",
    "Time (elapsed):                 00:00:01.250",
};

void ExpectMeasured(const Measured& m) {
    ASSERT_TRUE(m.record);
    const bench::RunRecord& r = *m.record;
    EXPECT_EQ(r.end, bench::RunEnd::kCompleted);
    EXPECT_EQ(r.errorText, "");
    ASSERT_TRUE(r.clip && r.range);
    EXPECT_EQ(r.clip->raw.num_frames, 100);
    EXPECT_EQ(r.range->last, 99u);
    EXPECT_EQ(r.refreshInterval, 10u);
    ASSERT_TRUE(r.totals);
    // The summary below shows the rates, time, CPU and peaks of these totals.
    EXPECT_EQ(r.totals->recordCount, 10u);
    EXPECT_EQ(r.totals->virtualMB, 200u) << "the latest reading, not the peak";
    ASSERT_EQ(r.samples.size(), 10u);
    for (size_t i = 0; i < r.samples.size(); ++i) {
        EXPECT_EQ(r.samples[i].frame, 10 * i + 9);
        EXPECT_EQ(r.samples[i].currentFps, 80.0);
        EXPECT_EQ(r.samples[i].physicalMB, 102 + i);
        EXPECT_EQ(r.samples[i].virtualMB, i == 3 ? 250u : 200u);
    }
    ASSERT_TRUE(r.rates && r.figures);
    EXPECT_EQ(r.rates->p1, 80.0);
    EXPECT_EQ(r.figures->tpfAverage, 12.5);
    EXPECT_EQ(r.figures->physicalPeakMB, 111.0) << "eleven readings: the primer and ten samplings";
    EXPECT_EQ(m.instruments, 1);
    EXPECT_EQ(m.refreshes, 5) << "every second sampling is at least 0.25 s after the last";
    // The summary's lines close the console's output, each figure in its place.
    ASSERT_GE(m.screen.size(), kSummary.size());
    EXPECT_EQ(std::vector<std::string>(m.screen.end() - kSummary.size(), m.screen.end()), kSummary)
        << testsupport::Joined(m.screen);
}

TEST(MeasureScript, KnownReadingsGiveKnownFiguresRunAfterRunInOneProcess) {
    const testsupport::SignalStateKept signalsKept;  // the cycle installs fault handlers
    const testsupport::TempDir dir;
    const ScriptJob plain = JobFor(dir.Write("plain.avs",
                                             "BlankClip(length=100, width=64, "
                                             "height=48, pixel_type=\"YV12\")\n"));
    const Measured first = Measure(plain);
    ExpectMeasured(first);

    // An error or a fault in the middle keeps the samples stored before it, says what
    // happened, and still gives the keyboard and the interrupt back: the instruments are gone.
    for (const auto& [fault, text] : {std::pair<const char*, const char*>{"error", "no frame 55"},
                                      {"access", "Exception 0xC0000005"}}) {
        ScriptJob failing = plain;
        failing.setup.scriptPath =
            dir.Write("fail.avs", "BlankClip(length=100, width=64, height=48)\nMSFault(55, \"" +
                                      std::string(fault) + "\", \"no frame 55\")\n");
        const Measured failed = Measure(failing);
        ASSERT_TRUE(failed.record);
        EXPECT_EQ(failed.record->end, bench::RunEnd::kError);
        EXPECT_EQ(failed.record->errorText.rfind(text, 0), 0u) << failed.record->errorText;
        EXPECT_EQ(failed.alive, 0) << fault;
        EXPECT_FALSE(failed.record->totals) << "no summary after an error";
        EXPECT_EQ(failed.record->samples.size(), 5u) << "frames 9 to 49";
        EXPECT_EQ(testsupport::Joined(failed.screen).find("Frames processed"), std::string::npos);
        EXPECT_NE(testsupport::Joined(failed.screen).find("\n" + std::string(text)),
                  std::string::npos)
            << testsupport::Joined(failed.screen);
    }

    // With a mirror, what a watching process would rescue matches the run's own record.
    auto mirror = std::make_unique<bench::RunMirror>();
    ScriptJob mirrored = plain;
    mirrored.mirror = mirror.get();
    mirrored.setup.scriptPath = dir.Write(
        "mirrored.avs", "BlankClip(length=100, width=64, height=48)\nMSFault(55, \"error\")\n");
    const Measured watched = Measure(mirrored);
    ASSERT_TRUE(watched.record);
    const bench::RunRecord rescued = RecordFromMirror(mirrored, *mirror, "gone");
    EXPECT_EQ(rescued.errorText, "gone");
    EXPECT_EQ(rescued.refreshInterval, 10u);
    ASSERT_TRUE(rescued.clip && rescued.range);
    EXPECT_EQ(rescued.clip->raw.num_frames, 100);
    EXPECT_EQ(rescued.range->last, 99u);
    ASSERT_EQ(rescued.samples.size(), 5u);
    for (size_t i = 0; i < 5; ++i)
        EXPECT_EQ(rescued.samples[i].physicalMB, watched.record->samples[i].physicalMB);
    mirror->stage = bench::RunMirror::kClipKnown;
    EXPECT_TRUE(RecordFromMirror(mirrored, *mirror, "").samples.empty()) << "not yet measuring";

    // Whatever ran before, the same script measures the same again.
    const Measured again = Measure(plain);
    ExpectMeasured(again);
    EXPECT_EQ(again.screen, first.screen);
}

// Why a measuring process ended before it finished, as the watcher says it.
TEST(DeathText, TheFaultTheSignalOrTheExitCode) {
    const struct {
        uint32_t fault;
        sys::ProcessEnd end;
        std::string text;
    } cases[] = {
        {0,
         {false, 0, SIGSEGV},
         "The frame server ended the process by signal 11 (Segmentation fault), probably a stack "
         "overflow in a filter"},
        {0, {false, 0, SIGABRT}, "The frame server ended the process by signal 6 (Aborted)"},
        {0, {true, 3, 0}, "The frame server ended the process with exit code 3"},
        {0xC00000FD, {false, 0, SIGKILL}, GetExceptionText(0xC00000FD)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DeathText(c.fault, c.end), c.text);
}

// The startup check stops these first; the cycle's test has each failure's text.
TEST(MeasureScript, AFrameServerThatCannotStartGivesNoRecord) {
    const testsupport::SignalStateKept signalsKept;
    const testsupport::TempDir dir;
    ScriptJob job = JobFor(dir.Write("a.avs", "BlankClip()\n"));
    job.dllPath = std::string(MINISYNTH_VARIANTS_DIR) + "/env-refused/libavisynth.so";
    const Measured m = Measure(job);
    EXPECT_FALSE(m.record);
    EXPECT_NE(testsupport::Joined(m.screen).find("\nCould not create IScriptenvironment\n"),
              std::string::npos)
        << testsupport::Joined(m.screen);
    EXPECT_EQ(m.instruments, 0);
}

// The cycle's outcomes, each with what the caller needs to word it.
TEST(FrameServerCycle, TellsWhereItStoppedAndRunsTheWorkOnlyWithAnEnvironment) {
    const testsupport::SignalStateKept signalsKept;
    const std::string variants = MINISYNTH_VARIANTS_DIR;
    const struct {
        std::string library;
        int version;
        const char* throwText;  // the work throws AviSynth's error with this text
        avs::CycleFailure failure;
        bool workRan;
        std::string text;
    } cases[] = {
        {MINISYNTH_LIB, 6, nullptr, avs::CycleFailure::kNone, true, ""},
        {"/nonexistent/libavisynth.so", 6, nullptr, avs::CycleFailure::kLoad, false, ""},
        {variants + "/no-create-entry/libavisynth.so", 6, nullptr, avs::CycleFailure::kEntryPoint,
         false, "Failed to load CreateScriptEnvironment()"},
        {variants + "/env-refused/libavisynth.so", 6, nullptr, avs::CycleFailure::kEnvironment,
         false, ""},
        {MINISYNTH_LIB, 99, nullptr, avs::CycleFailure::kEnvironment, false, ""},
        {MINISYNTH_LIB, 6, "bad script", avs::CycleFailure::kCaught, true, "bad script"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.library + " " + std::to_string(c.version));
        bool ran = false;
        const avs::CycleResult result =
            avs::RunCycle({c.library, c.version, false}, [&](avs::ScriptSession& session) {
                ran = true;
                EXPECT_TRUE(static_cast<bool>(session.env));
                if (c.throwText != nullptr) throw avs::AvisynthError(c.throwText);
            });
        EXPECT_EQ(result.failure, c.failure);
        EXPECT_EQ(ran, c.workRan);
        EXPECT_EQ(result.WorkStarted(), c.workRan);
        EXPECT_EQ(result.text, c.text);
        EXPECT_EQ(result.caught,
                  c.throwText != nullptr ? avs::Caught::kAvisynthError : avs::Caught::kNothing);
        if (c.failure == avs::CycleFailure::kLoad) {
            EXPECT_NE(result.systemText, "");
        }
    }
}

}  // namespace
}  // namespace app
