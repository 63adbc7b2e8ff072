// The figures alike wherever shown and against /proc, and the live block on a terminal.
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <thread>

#include "e2e/e2e.h"

namespace e2e {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testsupport::ProgramResult;
using testsupport::PtySession;

// A trial run of few slow frames: every frame of the measured run becomes a sample.
const char kSlowTrial[] = "BlankClip(length=30, width=64, height=64)\nMSBusy(21)\n";

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The rounded mean of CPU readings 0 to last, skipping the leading 0s before the first period.
unsigned CpuAverage(const json& cpu, size_t last) {
    size_t first = 0;
    while (first <= last && cpu[first].get<unsigned>() == 0)
        ++first;
    if (first > last) return 0;
    double sum = 0;
    for (size_t i = first; i <= last; ++i)
        sum += cpu[i].get<double>();
    return static_cast<unsigned>(std::floor(sum / static_cast<double>(last - first + 1) + 0.5));
}

// The runs of non-empty rows from one starting with first to one starting with last.
std::vector<std::vector<std::string>> Blocks(const std::vector<std::string>& rows,
                                             const std::string& first, const std::string& last) {
    std::vector<std::vector<std::string>> blocks;
    bool inside = false;
    for (const std::string& row : rows) {
        if (row.rfind(first, 0) == 0) {
            blocks.emplace_back();
            inside = true;
        }
        if (!inside || row.empty()) continue;
        blocks.back().push_back(row);
        if (row.rfind(last, 0) == 0) inside = false;
    }
    return blocks;
}

unsigned long ColumnMax(const std::vector<std::vector<std::string>>& csv,
                        const std::string& heading) {
    const auto column = std::find(csv.at(0).begin(), csv.at(0).end(), heading);
    if (column == csv[0].end()) return 0;
    const size_t at = static_cast<size_t>(column - csv[0].begin());
    unsigned long most = 0;
    for (size_t i = 1; i < csv.size(); ++i)
        most = std::max(most, std::stoul(csv[i].at(at)));
    return most;
}

// The MB the program shows for a /proc/<pid>/status field: bytes / 2^20, rounded.
long StatusMB(const std::string& status, const std::string& field) {
    const std::regex line("(^|\n)" + field + ":\\s+([0-9]+) kB");
    std::smatch m;
    if (!std::regex_search(status, m, line)) return -1;
    return static_cast<long>(std::floor(std::stod(m[2]) / 1024.0 + 0.5));
}

// Figures apart by design: each of 200 frames a sample; 16 Prefetch workers' 1 MB frames drain
// over the last 128 ms (freed to the system below the low mmap threshold), so memory peaks early.
TEST_F(Trevalo, EveryPlaceShowsTheSummaryFiguresOfTheSamples) {
    WriteIni({{"DisplayTPF", "1"}});
    TrialThenRun part(dir.Path(), "part.avsi", kSlowTrial,
                      "BlankClip(length=200, width=512, height=512, pixel_type=\"RGB32\")\n"
                      "Invert()\nPrefetch(16)\nMSBusy(4)\n");
    const std::string script = Script("run.avs", "Import(\"part.avsi\")\n");
    testsupport::ProgramOptions options = Options();
    options.setEnv["MALLOC_MMAP_THRESHOLD_"] = "65536";
    const ProgramResult r =
        testsupport::RunProgram(exe, {"-log", "-csv", "-json", "-chart", script}, options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json j = json::parse(dir.Read("run.json"));
    const json& s = j["summary"];
    const json& samples = j["samples"];
    const std::vector<double> fps = samples["fps"].get<std::vector<double>>();
    const size_t n = fps.size();
    ASSERT_GT(n, 0u);
    if (!OnWine()) {
        ASSERT_EQ(n, 200u) << "every frame a sample";
    }

    // The console's summary and the log's runtime section are the same lines.
    const auto summaries =
        Blocks(SplitLines(LastWrites(Lines(r.err))), "Frames processed:", "Time (elapsed");
    ASSERT_FALSE(summaries.empty()) << r.err;
    const std::vector<std::string>& summary = summaries.back();
    const std::string log = dir.Read("run.log");
    EXPECT_EQ(summary, SectionLines(log, "[Runtime info]")) << r.err;
    const auto row = [&](const std::string& label) {
        return FiguresOf(RowStarting(summary, label), label);
    };

    EXPECT_EQ(RowStarting(summary, "Frames processed:"),
              "Frames processed:               200 (0 - 199)");

    // Rates: the extremes of the stored interval rates, and all frames over all time.
    const double low = *std::min_element(fps.begin(), fps.end());
    const double high = *std::max_element(fps.begin(), fps.end());
    EXPECT_EQ(s["fpsMin"].get<double>(), low);
    EXPECT_EQ(s["fpsMax"].get<double>(), high);
    const double average = s["fpsAverage"];
    EXPECT_EQ(average, samples["averageFps"].back().get<double>()) << "the last frame is a sample";
    EXPECT_NEAR(average * s["elapsedMs"].get<double>() / 1000.0, 200.0, average * 0.0005 + 1e-9)
        << "all frames over all time";
    const std::vector<std::string> rates = row("FPS (min | max | average):");
    ASSERT_EQ(rates.size(), 3u) << r.err;
    EXPECT_TRUE(Shows(rates[0], low));
    EXPECT_TRUE(Shows(rates[1], high));
    EXPECT_TRUE(Shows(rates[2], average));

    // Times per frame: the longest is that of the lowest rate.
    const std::vector<std::string> times = row("TPF (max | min | average):");
    ASSERT_EQ(times.size(), 3u) << r.err;
    EXPECT_TRUE(Shows(times[0], 1000.0 / low));
    EXPECT_TRUE(Shows(times[1], 1000.0 / high));
    EXPECT_TRUE(Shows(times[2], 1000.0 / average));

    // Memory: the highest readings of the run, each of its own kind.
    const auto csv = ReadCsv(dir.Read("run.csv"));
    const auto highest = [&](const char* key) {
        const std::vector<unsigned> v = samples[key].get<std::vector<unsigned>>();
        return *std::max_element(v.begin(), v.end());
    };
    EXPECT_EQ(s["physicalMemoryPeakMB"], highest("physicalMB"));
    EXPECT_EQ(s["virtualMemoryPeakMB"], highest("virtualMB"));
    EXPECT_EQ(row("Memory usage (phys | virt):"),
              (std::vector<std::string>{std::to_string(highest("physicalMB")),
                                        std::to_string(highest("virtualMB"))}));

    // Threads at the last sampling: the main thread and sixteen workers.
    EXPECT_EQ(samples["threads"].back(), 17);
    EXPECT_EQ(row("Thread count:"), std::vector<std::string>{"17"});

    // CPU: the mean of the readings; the efficiency index the average rate per percent.
    const unsigned cpu = CpuAverage(samples["cpuPercent"], n - 1);
    EXPECT_EQ(s["cpuAveragePercent"], cpu);
    EXPECT_EQ(row("CPU usage (average):"), std::vector<std::string>{std::to_string(cpu)});
    ASSERT_GT(cpu, 0u) << "a busy program";
    EXPECT_DOUBLE_EQ(s["efficiencyIndex"].get<double>(), average / cpu);
    EXPECT_TRUE(Shows(row("Efficiency index:").at(0), average / cpu));
    EXPECT_EQ(DurationMs(row("Time (elapsed):").at(0)), s["elapsedMs"].get<int64_t>());

    // The samples: the CSV file's rows, the log's table with the same figures.
    ASSERT_EQ(csv.size(), n + 1);
    const unsigned interval = j["refreshInterval"];
    std::vector<std::string> table = SectionLines(log, "[Performance data]");
    ASSERT_EQ(table.size(), n + 1) << log;
    for (size_t i = 0; i < n; ++i) {
        SCOPED_TRACE("sample " + std::to_string(i));
        EXPECT_EQ(samples["frame"][i], (i + 1) * interval);
        const std::vector<std::string> expected = {
            std::to_string(samples["frame"][i].get<unsigned>()),
            Fixed(fps[i], 3),
            Fixed(samples["averageFps"][i], 3),
            Fixed(1000.0 / fps[i], 6),
            Fixed(1000.0 / samples["averageFps"][i].get<double>(), 6),
            std::to_string(samples["cpuPercent"][i].get<unsigned>()),
            std::to_string(samples["threads"][i].get<unsigned>()),
            std::to_string(samples["physicalMB"][i].get<unsigned>()),
            std::to_string(samples["virtualMB"][i].get<unsigned>())};
        EXPECT_EQ(csv[i + 1], expected);
        std::istringstream cells(table[i + 1]);
        std::vector<std::string> logged;
        for (std::string cell; cells >> cell;)
            logged.push_back(cell);
        EXPECT_EQ(logged,
                  (std::vector<std::string>{expected[0], expected[1], expected[3], expected[5],
                                            expected[6], expected[7], expected[8]}));
    }

    // The chart's legend: the summary's average, and the 1 % low of nearest rank.
    std::vector<double> sorted = fps;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(j["distribution"]["p1"].get<double>(), sorted[(n + 99) / 100 - 1]);
    const std::string svg = dir.Read("run.svg");
    std::smatch legend;
    ASSERT_TRUE(std::regex_search(svg, legend, std::regex(">Average ([0-9.]+) fps<"))) << svg;
    EXPECT_EQ(legend[1].str(), rates[2]) << "as the summary shows it";
    ASSERT_TRUE(std::regex_search(svg, legend, std::regex(">1 % low ([0-9.]+) fps<"))) << svg;
    EXPECT_TRUE(Shows(legend[1], sorted[(n + 99) / 100 - 1]));
}

TEST_F(Trevalo, TheLiveBlockShowsTheSampleJustTaken) {
    SKIP_PTY_ON_WINE();
    // 5 ms a frame: a sample every 10 frames, 250 frames in 1.25 s, a refresh every 0.25 s.
    TrialThenRun part(dir.Path(), "part.avsi",
                      "BlankClip(length=120, width=64, height=64)\nMSBusy(5)\n",
                      "BlankClip(length=300, width=64, height=64)\nMSBusy(5)\n");
    const std::string script = Script("run.avs", "Import(\"part.avsi\")\n");
    testsupport::PtySession pty(exe, {"-json", "-range=30,279", script}, Options());
    ASSERT_EQ(pty.Wait(60s).exitCode, 0) << pty.Output();
    const json j = json::parse(dir.Read("run.json"));
    const json& samples = j["samples"];
    const std::vector<double> fps = samples["fps"].get<std::vector<double>>();
    // The live blocks in drawing order, without colours, cursor moves and trailing blanks.
    std::vector<std::string> rows =
        SplitLines(std::regex_replace(pty.Output(), std::regex("\x1b\\[[0-9;]*[A-Za-z]"), ""));
    for (std::string& row : rows) {
        row.erase(0, row.find_last_of('\r') + 1);
        row.erase(row.find_last_not_of(' ') + 1);
    }
    const auto blocks = Blocks(rows, "Frame (current | last):", "Press 'Esc'");
    ASSERT_GE(blocks.size(), 1u) << pty.Output();
    for (const std::vector<std::string>& block : blocks) {
        const auto figures = [&](const std::string& label) {
            return FiguresOf(RowStarting(block, label), label);
        };
        const std::vector<std::string> frame = figures("Frame (current | last):");
        ASSERT_EQ(frame.size(), 2u) << testsupport::Joined(block);
        EXPECT_EQ(frame[1], "279") << "the range's last frame";
        const unsigned current = static_cast<unsigned>(std::stoul(frame[0]));
        const unsigned done = current + 1 - 30;  // frames of the range rendered
        size_t i = 0;
        while (i < fps.size() && samples["frame"][i] != current + 1)
            ++i;
        ASSERT_LT(i, fps.size()) << "a refresh follows a stored sample: frame " << current;
        SCOPED_TRACE(testsupport::Joined(block));
        const double low = *std::min_element(fps.begin(), fps.begin() + static_cast<long>(i) + 1);
        const double high = *std::max_element(fps.begin(), fps.begin() + static_cast<long>(i) + 1);
        const double average = samples["averageFps"][i];

        const std::vector<std::string> rates = figures("FPS (cur | min | max | avg):");
        ASSERT_EQ(rates.size(), 4u);
        EXPECT_TRUE(Shows(rates[0], fps[i]));
        EXPECT_TRUE(Shows(rates[1], low));
        EXPECT_TRUE(Shows(rates[2], high));
        EXPECT_TRUE(Shows(rates[3], average));

        EXPECT_EQ(
            figures("Memory usage (phys | virt):"),
            (std::vector<std::string>{std::to_string(samples["physicalMB"][i].get<unsigned>()),
                                      std::to_string(samples["virtualMB"][i].get<unsigned>())}));
        EXPECT_EQ(figures("Thread count:"), std::vector<std::string>{"1"});
        // One busy thread: one processor's share, plus a tick of the 100 ms reading.
        const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
        EXPECT_LE(samples["cpuPercent"][i].get<double>(), 110.0 / processors + 1.0);
        const unsigned cpu = CpuAverage(samples["cpuPercent"], i);
        EXPECT_EQ(
            figures("CPU usage (current | average):"),
            (std::vector<std::string>{std::to_string(samples["cpuPercent"][i].get<unsigned>()),
                                      std::to_string(cpu)}));
        const std::vector<std::string> efficiency = figures("Efficiency index:");
        ASSERT_EQ(efficiency.size(), 1u);
        if (cpu == 0) {
            EXPECT_EQ(efficiency[0], "n/a");
        } else {
            EXPECT_TRUE(Shows(efficiency[0], average / cpu));
        }

        // The time so far, which the frames' cost bounds, and the whole range's at this rate.
        const std::vector<std::string> time = figures("Time (elapsed | estimated):");
        ASSERT_EQ(time.size(), 2u);
        const int64_t elapsed = DurationMs(time[0]);
        EXPECT_GE(elapsed, int64_t{done} * 5);
        EXPECT_NEAR(static_cast<double>(elapsed), done * 1000.0 / average, 0.5 + 1e-6);
        EXPECT_NEAR(static_cast<double>(DurationMs(time[1])),
                    250.0 * static_cast<double>(elapsed) / done, 1.0);
    }
}

// Resident and private memory as shown, the summary's the run's highest, not the lifetime peak:
// the trial's 64 MB frame is gone; 4 MB frames and two workers' 8 MB stacks keep fields apart.
TEST_F(Trevalo, MemoryFiguresAreTheResidentAndPrivateMemoryOfTheRun) {
    SKIP_PTY_ON_WINE();
    TrialThenRun part(dir.Path(), "part.avsi",
                      "BlankClip(length=200, width=4096, height=4096, pixel_type=\"RGB32\")\n"
                      "MSBusy(3)\n",
                      "BlankClip(length=600, width=1024, height=1024, pixel_type=\"RGB32\")\n"
                      "Prefetch(2)\nMSBusy(3)\n");
    const std::string script = Script("run.avs", "Import(\"part.avsi\")\n");
    // A sanitizer's allocator would hold the trial's frame back after it is freed.
    testsupport::ProgramOptions options = Options();
    const char* asan = getenv("ASAN_OPTIONS");
    options.setEnv["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":quarantine_size_mb=0";
    testsupport::PtySession pty(exe, {"-csv", script}, options);
    ASSERT_TRUE(pty.WaitFor("Press 'Esc' to cancel", 30s)) << pty.Output();
    long peak = -1;
    int compared = 0;
    for (; compared < 3; ++compared) {
        pty.WaitFor("\x01 (never printed)", 300ms);  // the screen brought up to date
        const std::string status =
            ReadFile("/proc/" + std::to_string(MeasuringPid(pty.Pid())) + "/status");
        const std::vector<std::string> screen = pty.Screen();
        if (status.empty() || RowStarting(screen, "Press 'Esc'").empty()) break;  // done
        const std::vector<std::string> memory = FiguresOf(
            RowStarting(screen, "Memory usage (phys | virt):"), "Memory usage (phys | virt):");
        ASSERT_EQ(memory.size(), 2u) << testsupport::Joined(screen);
        const long resident = StatusMB(status, "VmRSS");
        peak = StatusMB(status, "VmHWM");
        ASSERT_GE(peak, resident + 48) << "the trial's frame is gone\n" << status;
        EXPECT_NEAR(std::stol(memory[0]), resident, 1) << status;
        EXPECT_NEAR(std::stol(memory[1]), StatusMB(status, "VmData"), 1) << status;
        EXPECT_EQ(FiguresOf(RowStarting(screen, "Thread count:"), "Thread count:"),
                  std::vector<std::string>{"3"});
    }
    ASSERT_GT(compared, 0) << "1.8 s of frames, a refresh every 0.25 s";
    ASSERT_EQ(pty.Wait(30s).exitCode, 0);
    const auto csv = ReadCsv(dir.Read("run.csv"));
    const std::string shown = RowStarting(pty.Screen(), "Memory usage (phys | virt):");
    EXPECT_EQ(FiguresOf(shown, "Memory usage (phys | virt):"),
              (std::vector<std::string>{std::to_string(ColumnMax(csv, "PhysMEM(MB)")),
                                        std::to_string(ColumnMax(csv, "VirtMEM(MB)"))}));
    EXPECT_LT(static_cast<long>(ColumnMax(csv, "PhysMEM(MB)")) + 48, peak);
}

// ---- The live block and the summary on a terminal ----

// 1500 frames at 2 ms: 3 s of measuring, after a trial run of 0.6 s at the same cost.
const char kThreeSeconds[] = "BlankClip(length=1500, width=64, height=64)\nMSBusy(2.0)\n";
const char kShortTrial[] = "BlankClip(length=300, width=64, height=64)\nMSBusy(2.0)\n";
const char kImport[] = "Import(\"part.avsi\")\n";

size_t RowsWith(const std::vector<std::string>& screen, const std::string& text) {
    return static_cast<size_t>(
        std::count_if(screen.begin(), screen.end(),
                      [&](const std::string& row) { return row.find(text) != std::string::npos; }));
}

size_t RowOf(const std::vector<std::string>& screen, const std::string& text) {
    for (size_t i = 0; i < screen.size(); ++i)
        if (screen[i].find(text) != std::string::npos) return i;
    return std::string::npos;
}

// The block is rewritten in place until the summary replaces it; Esc, Ctrl+C and the time
// limit end early with exit 0, the frames covered and the files.
TEST_F(Trevalo, TheLiveBlockIsReplacedByTheSummaryAtEveryEnd) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("run.avs", kImport);
    const struct {
        const char* key;  // typed after a second of refreshes
        std::vector<std::string> args;
        bool early;
    } cases[] = {{nullptr, {script}, false},
                 {"\x1b", {script}, true},
                 {"\x03", {"-log", "-csv", script}, true},
                 {nullptr, {"-timelimit=1", script}, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testsupport::Joined(c.args));
        TrialThenRun part(dir.Path(), "part.avsi", kShortTrial, kThreeSeconds);
        PtySession pty(exe, c.args, Options());
        ASSERT_TRUE(pty.WaitFor("Press 'Esc' to cancel", 30s)) << pty.Output();
        std::this_thread::sleep_for(500ms);  // several refreshes
        std::vector<std::string> screen = pty.Screen();
        EXPECT_EQ(RowsWith(screen, "Frame (current | last):"), 1u) << testsupport::Joined(screen);
        EXPECT_EQ(RowsWith(screen, "Press 'Esc' to cancel"), 1u);
        EXPECT_EQ(RowsWith(screen, "Reading frames"), 0u) << "the first refresh overwrote it";
        if (c.key != nullptr) pty.Type(c.key);

        ProgramResult r = pty.Wait(30s);
        const std::string shown = testsupport::Joined(pty.Screen());
        EXPECT_EQ(r.exitCode, 0) << shown;
        EXPECT_TRUE(pty.TerminalIsCooked());
        EXPECT_FALSE(Contains(shown, "Frame (current | last):"));
        EXPECT_FALSE(Contains(shown, "Press 'Esc'"));
        EXPECT_FALSE(Contains(shown, "^[")) << "Esc is not echoed";
        std::smatch summary;  // the rows between are report_test's
        const std::regex rows(
            "\nFrames processed: +([0-9]+) \\(0 - ([0-9]+)\\)\n"
            "FPS [\\s\\S]*\nTime \\(elapsed\\): +([0-9:.]+)\n$");
        ASSERT_TRUE(std::regex_search(shown, summary, rows)) << shown;
        const long frames = std::stol(summary[1]);
        EXPECT_EQ(frames, std::stol(summary[2]) + 1);
        EXPECT_EQ(frames < 1500, c.early) << shown;
        EXPECT_GE(DurationMs(summary[3]), frames * 2) << "2 ms a frame";
        if (c.key == nullptr && c.early) {
            EXPECT_GE(DurationMs(summary[3]), 1000) << "the limit passed";
        }
    }
    EXPECT_TRUE(dir.Exists("run.log"));
    EXPECT_TRUE(dir.Exists("run.csv"));
}

// Below the width of its lines the block is cut rather than wrapped, so that each refresh
// lands on the last; keys typed before the loop are not echoed, and an Esc among them stops
// the run at its first refresh.
TEST_F(Trevalo, TheBlockFitsANarrowTerminalAndEarlyKeysCount) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("run.avs", kImport);
    for (const bool early : {false, true}) {
        SCOPED_TRACE(early ? "keys during the trial run" : "40 columns");
        TrialThenRun part(dir.Path(), "part.avsi", kShortTrial, kThreeSeconds);
        PtySession pty(exe, {script}, Options(), early ? 100 : 40);
        if (early) {
            ASSERT_TRUE(pty.WaitFor("Analysing script", 30s)) << pty.Output();
            pty.Type("qz\x1b");
        } else {
            ASSERT_TRUE(pty.WaitFor("Press 'Esc' to cancel", 30s)) << pty.Output();
            std::this_thread::sleep_for(1s);  // several refreshes
            const std::vector<std::string> screen = pty.Screen();
            EXPECT_EQ(RowsWith(screen, "Frame (current"), 1u) << testsupport::Joined(screen);
            EXPECT_EQ(RowsWith(screen, "Time (elapsed"), 1u);
            pty.Type("\x1b");
        }
        const ProgramResult r = pty.Wait(30s);
        const std::vector<std::string> screen = pty.Screen();
        EXPECT_EQ(r.exitCode, 0) << testsupport::Joined(screen);
        EXPECT_TRUE(pty.TerminalIsCooked());
        EXPECT_EQ(RowsWith(screen, "Frame (current"), 0u) << testsupport::Joined(screen);
        // Not even for a moment, before a status line's blanks cover it.
        EXPECT_FALSE(Contains(pty.Output(), "qz")) << "no echo";
        EXPECT_FALSE(Contains(pty.Output(), "^[")) << "no echo";
        const std::string frames = RowStarting(screen, "Frames processed:");
        ASSERT_FALSE(frames.empty()) << testsupport::Joined(screen);
        EXPECT_LT(std::stol(frames.substr(17)), 1500) << "stopped early";
    }
    // A status line names a single frame as one.
    PtySession one(exe, {"-range=5,5", Script("one.avs", kShortTrial)}, Options());
    EXPECT_EQ(one.Wait(30s).exitCode, 0);
    EXPECT_TRUE(Contains(one.Output(), "\rReading frame... "));
}

// Text that reads as written: no line starts with a carriage return or ends in blanks, no
// status line, no live block, and the summary's lines where grep '^FPS' finds them.
::testing::AssertionResult PlainText(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // a terminal's own CR LF
        if ((!line.empty() && (line[0] == '\r' || line.back() == ' ')) ||
            line.find("...") != std::string::npos || line.rfind("Frame (current", 0) == 0) {
            return ::testing::AssertionFailure()
                   << "line " << lines.size() + 1 << ": \"" << line << "\" in\n"
                   << text;
        }
        lines.push_back(line);
    }
    if (RowStarting(lines, "FPS (min | max | average):").empty() ||
        RowStarting(lines, "Frames processed:               300 (0 - 299)").empty()) {
        return ::testing::AssertionFailure() << "no summary in\n" << text;
    }
    return ::testing::AssertionSuccess();
}

// Into a pipe, a file or a dumb terminal only plain lines are written.
TEST_F(Trevalo, ARedirectedRunWritesPlainLines) {
    const std::string script = Script("run.avs", kShortTrial);
    const ProgramResult piped = Run({"-range=0,299", script});
    EXPECT_EQ(piped.exitCode, 0);
    EXPECT_TRUE(PlainText(piped.err));

    WriteIni({{"ConUseSTDOUT", "1"}});
    testsupport::ProgramOptions options = Options();
    options.stdoutFile = dir.Write("out.txt", "");
    EXPECT_EQ(testsupport::RunProgram(exe, {"-range=0,299", script}, options).exitCode, 0);
    EXPECT_TRUE(PlainText(Lines(dir.Read("out.txt"))));

    SKIP_PTY_ON_WINE();
    options = Options();
    options.setEnv["TERM"] = "dumb";
    PtySession dumb(exe, {"-range=0,299", script}, options);
    EXPECT_EQ(dumb.Wait(30s).exitCode, 0);
    EXPECT_TRUE(PlainText(dumb.Output()));
    EXPECT_FALSE(Contains(dumb.Output(), "\x1b")) << "no colour, no cursor moves";
}

// An error blanks the block's last two lines and takes the Esc hint's place (a fault one lower,
// a worker's alike); the log keeps the samples and ends with the message.
TEST_F(Trevalo, AnErrorDuringTheRunIsPrintedOverTheBlocksLowerEnd) {
    SKIP_PTY_ON_WINE();
    // 5 ms a frame (10 ms on two workers): the fault comes at 1.5 s, after the block shows.
    const std::string plain = "BlankClip(length=1300, width=64, height=64)\nMSBusy(5.0)\n";
    const std::string workers = "BlankClip(length=1300, width=64, height=64)\nMSBusy(10.0)\n";
    const struct {
        const char* name;
        std::string script;
        const char* message;
        size_t rowsBelowTime;
    } cases[] = {
        {"error", plain + "MSFault(300, \"error\", \"boom at 300\")\n", "boom at 300", 2},
        {"access", plain + "MSFault(300, \"access\")\n", "Exception 0xC0000005", 3},
        {"divide", plain + "MSFault(300, \"divide\")\n", "Exception 0xC0000094", 3},
        {"worker", workers + "MSFault(300, \"error\", \"boom at 300\")\nPrefetch(2)\n",
         "boom at 300", 2},
    };
    for (const auto& c : cases) {
        TrialThenRun part(dir.Path(), std::string(c.name) + ".avsi",
                          "BlankClip(length=120, width=64, height=64)\nMSBusy(5.0)\n", c.script);
        const std::string script =
            Script(std::string(c.name) + ".avs", "Import(\"" + std::string(c.name) + ".avsi\")\n");
        PtySession pty(exe, {script}, Options());
        ASSERT_TRUE(pty.WaitFor("Press 'Esc' to cancel", 30s)) << pty.Output();
        ProgramResult r = pty.Wait(30s);
        EXPECT_TRUE(r.exited) << c.name << " killed by signal " << r.termSignal;
        EXPECT_EQ(r.exitCode, kErrorStatus) << c.name;
        EXPECT_TRUE(pty.TerminalIsCooked());
        const std::vector<std::string> screen = pty.Screen();
        const size_t time = RowOf(screen, "Time (elapsed | estimated):");
        ASSERT_NE(time, std::string::npos) << testsupport::Joined(screen);
        EXPECT_EQ(RowOf(screen, c.message), time + c.rowsBelowTime) << testsupport::Joined(screen);
        for (size_t row = time + 1; row < time + c.rowsBelowTime; ++row)
            EXPECT_EQ(screen[row], "") << c.name << " row " << row << "\n"
                                       << testsupport::Joined(screen);
        EXPECT_EQ(RowsWith(screen, "Press 'Esc'"), 0u) << testsupport::Joined(screen);
        const std::string log = dir.Read(std::string(c.name) + ".log");
        EXPECT_NE(log.find("[Performance data]"), std::string::npos) << c.name << " keeps samples";
        EXPECT_NE(log.find("[AviSynth error]\r\n" + std::string(c.message)), std::string::npos)
            << log;
    }
}

// Before the measurement an error starts on a new line below the cleared status line.
TEST_F(Trevalo, AnErrorBeforeTheRunStartsOnANewLine) {
    SKIP_PTY_ON_WINE();
    const std::string script = Script("bad.avs", "BlankClip(\n");
    PtySession pty(exe, {"-info", script}, Options());
    ProgramResult r = pty.Wait(30s);
    EXPECT_EQ(r.exitCode, kErrorStatus);
    const std::vector<std::string> screen = pty.Screen();
    const size_t version = RowOf(screen, "(0.9.0.0)");
    ASSERT_NE(version, std::string::npos);
    EXPECT_EQ(screen.at(version + 1), "") << testsupport::Joined(screen);
    EXPECT_EQ(screen.at(version + 2).rfind("Script error: syntax error", 0), 0u)
        << testsupport::Joined(screen);
}

}  // namespace
}  // namespace e2e
