// The benchmark of the tool itself: what Trevalo's measuring costs against a bare loop,
// whether its figures match clips of known cost, whether its CPU figure matches the load,
// and whether its comparisons of scripts find real differences and only those. Runs both programs
// side by side on this machine and prints the ratios.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct Paths {
    std::string trevalo, bare, library, work;
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Runs a shell command and returns what it printed on both streams.
std::string Capture(const std::string& command) {
    std::string output;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) return output;
    std::array<char, 4096> buffer;
    size_t got;
    while ((got = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        output.append(buffer.data(), got);
    pclose(pipe);
    return output;
}

std::string WriteScript(const Paths& paths, const std::string& name, const std::string& text) {
    const std::string path = paths.work + "/" + name;
    std::ofstream(path) << text;
    return path;
}

double BareFps(const Paths& paths, const std::string& script, long frames) {
    const std::string out = Capture(Quoted(paths.bare) + " " + Quoted(paths.library) + " " +
                                    Quoted(script) + " " + std::to_string(frames));
    return std::atof(out.c_str());
}

struct TrevaloFigures {
    double averageFps = 0;
    int cpuAverage = -1;
    std::string output;
};

// One measured run of the tool, its figures read from the summary it prints.
TrevaloFigures Trevalo(const Paths& paths, const std::string& script) {
    TrevaloFigures figures;
    figures.output = Capture("cd " + Quoted(paths.work) + " && ./trevalo " + Quoted(script));
    std::smatch m;
    if (std::regex_search(
            figures.output, m,
            std::regex("FPS \\(min \\| max \\| average\\): +\\S+ \\| \\S+ \\| (\\S+)"))) {
        figures.averageFps = std::atof(m[1].str().c_str());
    }
    if (std::regex_search(figures.output, m, std::regex("CPU usage \\(average\\): +([0-9]+)%"))) {
        figures.cpuAverage = std::atoi(m[1].str().c_str());
    }
    return figures;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool Check(bool holds, const char* bound) {
    std::printf("  %-6s %s\n", holds ? "ok" : "FAILED", bound);
    return holds;
}

// The verdict of one comparison: equal within the noise, or the ratio and its interval.
struct Verdict {
    bool equal = false;
    double ratio = 0, low = 0, high = 0;
};

Verdict Compare(const Paths& paths, const std::string& a, const std::string& b) {
    const std::string out = Capture("cd " + Quoted(paths.work) + " && ./trevalo -compare " +
                                    Quoted(a) + " " + Quoted(b));
    Verdict v;
    std::smatch m;
    if (std::regex_search(out, m,
                          std::regex("rendered ([0-9.]+) times as fast as \\S+ \\(95 % interval "
                                     "([0-9.]+) to ([0-9.]+);"))) {
    } else if (std::regex_search(
                   out, m,
                   std::regex("equally fast within the noise of these runs \\(ratio "
                              "([0-9.]+), 95 % interval ([0-9.]+) to ([0-9.]+)\\)"))) {
        v.equal = true;
    } else {
        std::fprintf(stderr, "%s\n", out.c_str());
        return v;
    }
    v.ratio = std::atof(m[1].str().c_str());
    v.low = std::atof(m[2].str().c_str());
    v.high = std::atof(m[3].str().c_str());
    return v;
}

// Ten comparisons of identical scripts and ten of scripts 1.25 times apart, the cost counted
// in the thread's own time so that it stays known beside other load. strict: every verdict
// must find the difference; else an interval may be wider, but none may miss the truth in
// more than one comparison of ten, nor claim the wrong direction.
bool CheckComparisons(const Paths& paths, const char* title, bool strict) {
    const std::string clip = "BlankClip(length=150, width=64, height=64)\n";
    const std::string same1 = WriteScript(paths, "same1.avs", clip + "MSBusy(4, cpu=true)\n");
    const std::string same2 = WriteScript(paths, "same2.avs", clip + "MSBusy(4, cpu=true)\n");
    const std::string slow = WriteScript(paths, "slow.avs", clip + "MSBusy(5, cpu=true)\n");
    int equal = 0, found = 0, held = 0, wrongWay = 0;
    std::printf("%s\n", title);
    for (int i = 0; i < 10; ++i) {
        const Verdict same = Compare(paths, same1, same2);
        const Verdict apart = Compare(paths, slow, same1);
        equal += same.equal ? 1 : 0;
        const bool holds = apart.low <= 1.25 && apart.high >= 1.25;
        held += holds ? 1 : 0;
        found += holds && apart.low > 1 ? 1 : 0;
        wrongWay += apart.high < 1 ? 1 : 0;
        std::printf("  %2d: same %s %.3f (%.3f to %.3f); 1.25 apart: %s %.3f (%.3f to %.3f)\n",
                    i + 1, same.equal ? "equal" : "DIFFERENT", same.ratio, same.low, same.high,
                    apart.equal ? "equal" : "faster", apart.ratio, apart.low, apart.high);
    }
    std::printf(
        "  identical: equally fast in %d of 10; 1.25 apart: interval holds 1.25 in %d, "
        "and excludes 1 too in %d, wrong way in %d\n",
        equal, held, found, wrongWay);
    bool ok = Check(equal >= 9, "identical scripts equally fast in at least 9 of 10");
    if (strict)
        return ok & Check(found == 10, "the interval holds 1.25 and excludes 1 in 10 of 10");
    ok &= Check(held >= 9, "the interval holds 1.25 in at least 9 of 10");
    return ok & Check(wrongWay == 0, "no verdict the wrong way");
}

// The speed column of a scan's row for the value: its ratio and interval; all 0 when missing.
Verdict ScanRow(const std::string& out, const std::string& value) {
    Verdict v;
    std::smatch m;
    if (std::regex_search(out, m,
                          std::regex("\n" + value +
                                     " +[0-9]+ +[^\n]*? ([0-9.]+) \\(([0-9.]+) to ([0-9.]+)\\)"))) {
        v.ratio = std::atof(m[1].str().c_str());
        v.low = std::atof(m[2].str().c_str());
        v.high = std::atof(m[3].str().c_str());
    }
    return v;
}

// Scans: the cost of a frame as the variable, whose speeds are known in advance; the thread
// count of a clip of fixed cost a frame, which two threads on two cores render twice as fast.
bool CheckScans(const Paths& paths) {
    // 0.6 s a run at 2 ms a frame: long enough for the trial run.
    WriteScript(paths, "cost.avs",
                "BlankClip(length=300, width=64, height=64)\nMSBusy(cost, cpu=true)\n");
    std::string out =
        Capture("cd " + Quoted(paths.work) + " && ./trevalo cost.avs -scan=cost:2,4,8");
    std::printf("Scans: MSBusy(cost) for cost 2, 4 and 8 ms, 5 runs each\n");
    bool ok = true;
    for (const auto& [value, expected] : {std::pair{"4", 0.5}, std::pair{"8", 0.25}}) {
        const Verdict v = ScanRow(out, value);
        std::printf("  cost=%s: speed %.3f (%.3f to %.3f), expected %.2f\n", value, v.ratio, v.low,
                    v.high, expected);
        if (v.ratio == 0) std::fprintf(stderr, "%s\n", out.c_str());
        ok &= Check(v.low <= expected && v.high >= expected, "the interval holds it");
    }
    WriteScript(paths, "threads.avs",
                "BlankClip(length=400, width=64, height=64)\nMSBusy(4, cpu=true)\n"
                "Prefetch(threads)\n");
    out = Capture("cd " + Quoted(paths.work) + " && ./trevalo threads.avs -scan=threads:1,2");
    const Verdict v = ScanRow(out, "2");
    std::printf("  Prefetch(threads), 4 ms a frame: threads=2 speed-up %.3f (%.3f to %.3f)\n",
                v.ratio, v.low, v.high);
    if (v.ratio == 0) std::fprintf(stderr, "%s\n", out.c_str());
    return ok & Check(v.ratio >= 1.8 && v.ratio <= 2.05, "speed-up between 1.8 and 2.05");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s trevalo bare_loop libavisynth.so\n", argv[0]);
        return 2;
    }
    const fs::path work =
        fs::temp_directory_path() / ("trevalo-selfbench-" + std::to_string(getpid()));
    fs::create_directories(work);
    const Paths paths{fs::absolute(argv[1]).string(), fs::absolute(argv[2]).string(),
                      fs::absolute(argv[3]).string(), work.string()};
    // A copy of its own, so that its INI file is the defaults and nobody else's.
    fs::copy_file(paths.trevalo, work / "trevalo", fs::copy_options::overwrite_existing);
    setenv("LD_LIBRARY_PATH", fs::path(paths.library).parent_path().c_str(), 1);
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    bool ok = true;

    // Overhead: a clip long enough that the tool's trial run takes about two seconds.
    const std::string probe =
        WriteScript(paths, "probe.avs", "BlankClip(length=2000000000, width=64, height=64)\n");
    const double roughFps = BareFps(paths, probe, 20000000);
    const long frames = std::min(2000000000L, std::max(2000000L, static_cast<long>(roughFps * 2)));
    const std::string cached =
        WriteScript(paths, "cached.avs",
                    "BlankClip(length=" + std::to_string(frames) + ", width=64, height=64)\n");
    std::vector<double> bare, tool;
    std::printf("Overhead: %ld cached 64x64 frames, alternated five times\n", frames);
    // Both on the same processor, so that neither gains from where the scheduler puts it.
    cpu_set_t allowed;
    sched_getaffinity(0, sizeof allowed, &allowed);
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cores > 1 ? 1 : 0, &one);
    sched_setaffinity(0, sizeof one, &one);
    for (int round = 0; round < 5; ++round) {
        bare.push_back(BareFps(paths, cached, frames));
        const TrevaloFigures figures = Trevalo(paths, cached);
        if (figures.averageFps <= 0) std::fprintf(stderr, "%s\n", figures.output.c_str());
        tool.push_back(figures.averageFps);
        std::printf("  round %d: bare %.0f fps, Trevalo %.0f fps\n", round + 1, bare.back(),
                    tool.back());
    }
    sched_setaffinity(0, sizeof allowed, &allowed);
    const double bareMedian = Median(bare);
    const double toolMedian = Median(tool);
    const double ratio = toolMedian / bareMedian;
    const double addedNs = 1e9 / toolMedian - 1e9 / bareMedian;
    std::printf("  median: bare %.0f fps, Trevalo %.0f fps, ratio %.4f, added %.2f ns a frame\n",
                bareMedian, toolMedian, ratio, addedNs);
    ok &= Check(ratio >= 0.98, "ratio at least 0.98");
    ok &= Check(addedNs <= 1.0, "at most 1 ns added a frame");

    // Accuracy: 2 ms a frame is 500 frames per second.
    const std::string busy =
        WriteScript(paths, "busy.avs", "BlankClip(length=1000, width=64, height=64)\nMSBusy(2)\n");
    const TrevaloFigures known = Trevalo(paths, busy);
    std::printf("Accuracy: MSBusy(2), 500 fps expected\n  Trevalo %.1f fps, ratio %.4f\n",
                known.averageFps, known.averageFps / 500.0);
    ok &= Check(known.averageFps / 500.0 >= 0.99 && known.averageFps / 500.0 <= 1.01,
                "ratio between 0.99 and 1.01");

    // CPU: one busy thread is one core's share; Prefetch on every core is the whole machine.
    const double oneCore = 100.0 / cores;
    std::printf("CPU: %u cores\n  MSBusy without Prefetch: %d %% (expected %.1f)\n", cores,
                known.cpuAverage, oneCore);
    ok &= Check(std::abs(known.cpuAverage - oneCore) <= 3.0, "within 3 points");
    const std::string parallel = WriteScript(paths, "prefetch.avs",
                                             "BlankClip(length=" + std::to_string(1000 * cores) +
                                                 ", width=64, height=64)\nMSBusy(2)\n" +
                                                 "Prefetch(" + std::to_string(cores) + ")\n");
    const TrevaloFigures all = Trevalo(paths, parallel);
    std::printf("  MSBusy with Prefetch(%u): %d %% (expected 100)\n", cores, all.cpuAverage);
    ok &= Check(std::abs(all.cpuAverage - 100) <= 5, "within 5 points");

    ok &= CheckScans(paths);

    // The comparison's power and honesty, on a quiet machine and beside two busy loops a core.
    ok &= CheckComparisons(
        paths, "Comparisons: MSBusy(4) against MSBusy(4) and MSBusy(5), 5 runs each", true);
    {
        std::atomic<bool> stop{false};
        std::vector<std::thread> loops;
        for (unsigned i = 0; i < 2 * cores; ++i) {
            loops.emplace_back([&stop] {
                volatile unsigned long spin = 0;
                while (!stop.load(std::memory_order_relaxed))
                    spin = spin + 1;
            });
        }
        ok &= CheckComparisons(paths, "The same beside two busy loops a core", false);
        stop = true;
        for (std::thread& t : loops)
            t.join();
    }

    fs::remove_all(work);
    std::printf("%s\n", ok ? "All bounds hold." : "Some bounds do not hold.");
    return ok ? 0 : 1;
}
