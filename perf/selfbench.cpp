// The benchmark of the tool itself: what Trevalo's measuring costs against a bare loop,
// whether its figures match clips of known cost, and whether its CPU figure matches the
// load. Runs both programs side by side on this machine and prints the ratios.
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <array>
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

    fs::remove_all(work);
    std::printf("%s\n", ok ? "All bounds hold." : "Some bounds do not hold.");
    return ok ? 0 : 1;
}
