// The built libraries through the C interface, as the tool uses them, and their variants.
#include <filesystem>
#include <string>

#include "host.h"
#include "support/process.h"

namespace {

using host::Host;

// Arguments by position or by name; an error value's text is also the last error.
TEST(CApi, Invoke) {
    Host h;
    ASSERT_NE(h.env, nullptr);
    AVS_Value fps = host::Val(avs::kTypeFloat);
    fps.d.floating_pt = 30000.0f / 1001;  // single precision, as the interface has it
    const char* names[] = {"length", "width", "height", "pixel_type", "fps"};
    const AVS_Value clip =
        h.Call("BlankClip",
               host::Array({host::Int(30), host::Int(320), host::Int(240), host::Str("YUY2"), fps}),
               names);
    EXPECT_EQ(h.Show(clip), "clip 320x240 60000004 30 30000/1001");
    const AVS_Value first = h.Call("Nope", host::Val(avs::kTypeVoid));
    const std::string badArgs = "error Script error: Invalid arguments to function ";
    struct {
        const char* fn;
        std::vector<AVS_Value> args;
        std::vector<const char*> names;
        std::string shown;
    } cases[] = {
        {"Trim", {clip, host::Int(10), host::Int(19)}, {}, "clip 320x240 60000004 10 30000/1001"},
        {"VersionNumber", {}, {}, "float 2.6"},
        {"NoSuchFunction", {}, {}, "error Function Not Found"},
        {"Trim", {host::Int(1)}, {}, badArgs + "\"Trim\""},
    };
    for (auto& c : cases) {
        c.names.resize(c.args.size());
        EXPECT_EQ(h.Show(h.Call(c.fn, host::Array(c.args), c.names.data())), c.shown) << c.fn;
        const char* error = h.getError(h.env);
        EXPECT_EQ(error ? "error " + std::string(error) : "",
                  c.shown.rfind("error", 0) ? "" : c.shown);
    }
    // A lone void is no argument either; an error value's text stays readable.
    EXPECT_EQ(h.Show(h.Call("VersionNumber", host::Val(avs::kTypeVoid))), "float 2.6");
    EXPECT_EQ(h.Show(first), "error Function Not Found");
}

// Variables set before an import are the script's, of the kind given; the library keeps its
// own copies of names and of the strings it saved.
TEST(CApi, GlobalVariablesReachTheScriptsImportedAfterThem) {
    Host h;
    const auto set = reinterpret_cast<avs_set_global_var_func>(h.Symbol(avs::kFnSetGlobalVar));
    const auto save = reinterpret_cast<avs_save_string_func>(h.Symbol(avs::kFnSaveString));
    ASSERT_NE(set, nullptr);
    ASSERT_NE(save, nullptr);
    const testsupport::TempDir dir;
    const std::string times = dir.Write("times.avs", "radius * 10\n");
    const std::string defaulted =
        dir.Write("default.avs", "r = VarExist(\"radius\") ? radius : 5\nr\n");
    const std::string joined = dir.Write("joined.avs", "mode + \"!\"\n");
    const auto import = [&h](const std::string& path) {
        return h.Show(h.Call("Import", host::Str(path.c_str())));
    };
    EXPECT_EQ(import(defaulted), "int 5");
    std::string name = "radius";
    EXPECT_EQ(set(h.env, name.c_str(), host::Int(3)), 1);
    name = "xxxxxx";
    EXPECT_EQ(import(times), "int 30");
    AVS_Value half = host::Val(avs::kTypeFloat);
    half.d.floating_pt = 0.5f;
    EXPECT_EQ(set(h.env, "RADIUS", half), 0);  // names are case-insensitive
    EXPECT_EQ(import(defaulted), "float 0.5");
    std::string text = "fast and more";
    char* kept = save(h.env, text.c_str(), 4);
    text = "xxxxxxxxxxxxx";
    EXPECT_EQ(set(h.env, "mode", host::Str(kept)), 1);
    EXPECT_EQ(import(joined), "string fast!");
    EXPECT_EQ(set(h.env, "", host::Int(1)), -1);
    EXPECT_NE(h.getError(h.env), nullptr);
}

// Handles hold references of their own: values and the environment may go first.
TEST(CApi, HandlesOutliveTheirValuesAndEnvironment) {
    const Host h;
    AVS_ScriptEnvironment* env = h.create(6);
    ASSERT_NE(env, nullptr);
    const char* length[] = {"length"};
    const AVS_Value source = h.invoke(env, "BlankClip", host::Int(100), length);
    const AVS_Value ahead = h.invoke(env, "Prefetch", host::Array({source, host::Int(2)}), nullptr);
    AVS_Clip* clip = h.takeClip(ahead, env);
    ASSERT_NE(clip, nullptr);
    EXPECT_EQ(h.takeClip(host::Int(3), env), nullptr);  // only clips can be taken
    h.releaseValue(source);
    AVS_VideoFrame* first = h.getFrame(clip, 0);  // the workers start
    h.deleteEnv(env);
    h.releaseClip(clip);
    ASSERT_NE(first, nullptr);
    h.releaseFrame(first);
    EXPECT_EQ(h.Errors(ahead, 1, 20), "");  // a new handle from the value
    h.releaseValue(ahead);
}

// Scripts written to files and imported by path, as the tool loads them.
class Scripts : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_NE(h.env, nullptr); }
    AVS_Value Run(const std::string& text, const std::string& name = "t.avs") {
        return h.Call("Import", host::Str(dir.Write(name, text).c_str()));
    }
    testsupport::TempDir dir;
    Host h;
};

TEST_F(Scripts, ExamplesLoadAndRender) {
    for (const auto& entry : std::filesystem::directory_iterator(EXAMPLES_DIR)) {
        if (entry.path().extension() != ".avs") continue;
        const AVS_Value v = h.Call("Import", host::Str(entry.path().c_str()));
        ASSERT_EQ(v.type, avs::kTypeClip) << entry.path() << ": " << h.Show(v);
        const bool video = h.Show(v).rfind("clip 0x0 ", 0) != 0;
        EXPECT_EQ(video ? h.Errors(v, 0, 9) : "", "") << entry.path();
    }
}

// A frame error arrives through the clip handle and is cleared by the next success.
TEST_F(Scripts, FrameErrorsThroughPrefetch) {
    const AVS_Value v = Run("BlankClip(length=30).MSFault(7, \"error\", \"no 7\").Prefetch(3)");
    ASSERT_EQ(v.type, avs::kTypeClip) << h.Show(v);
    EXPECT_EQ(h.Errors(v, 0, 29), "7: no 7; ");
    EXPECT_EQ(h.Errors(v, 29, 0), "7: no 7; ");
}

std::string Variant(const std::string& name) {
    return std::string(MINISYNTH_VARIANTS_DIR) + "/" + name + "/libavisynth.so";
}

TEST(Variants, ExportAndBehaveAsTheirNamesSay) {
    const struct {
        std::string name;
        int maxVersion;  // 0: no environment at all
        bool createEntry, linkage;
        std::string functions;  // which of the optional ones it has
    } libraries[] = {
        {"default", 12, true, true, " VersionString Prefetch"},
        {"if5", 5, true, true, " VersionString Prefetch"},
        {"if6", 6, true, true, " VersionString Prefetch"},
        {"no-versionstring", 12, true, true, " Prefetch"},
        {"mt-classic", 12, true, true, " VersionString SetMTMode GetMTMode Distributor"},
        {"no-getmtmode", 12, true, true, " VersionString SetMTMode Distributor"},
        {"env-refused", 0, true, true, ""},
        {"no-create-entry", 0, false, true, ""},
        {"no-linkage", 12, true, false, " VersionString Prefetch"},
    };
    for (const auto& x : libraries) {
        SCOPED_TRACE(x.name);
        // The tool's probe: an environment of version 5, then CheckVersion.
        Host h(x.name == "default" ? MINISYNTH_LIB : Variant(x.name), 5);
        ASSERT_TRUE(h.checkVersion && h.functionExists && h.invoke && h.getError && h.takeClip &&
                    h.releaseClip && h.getVideoInfo && h.getFrame && h.clipGetError &&
                    h.releaseFrame && h.releaseValue && h.deleteEnv);
        EXPECT_EQ(h.create != nullptr, x.createEntry);
        EXPECT_EQ(h.Symbol("CreateScriptEnvironment") != nullptr, x.createEntry);
        EXPECT_EQ(h.Symbol("AVS_linkage") != nullptr, x.linkage);
        EXPECT_EQ(h.Symbol("_ZN2ms5Value3IntEi"), nullptr);  // internals stay hidden
        for (int v = 0; x.createEntry && v <= 13; ++v) {
            AVS_ScriptEnvironment* env = h.create(v);
            EXPECT_EQ(env != nullptr, v >= 1 && v <= x.maxVersion) << v;
            if (env) h.deleteEnv(env);
        }
        if (!h.env) continue;

        for (int v = 5; v <= 13; ++v) {
            const bool supported = v <= x.maxVersion;
            EXPECT_EQ(h.checkVersion(h.env, v) == 0, supported) << v;
            const char* error = h.getError(h.env);
            EXPECT_EQ(error ? error : "",
                      supported ? ""
                                : "Plugin was designed for a later version of Avisynth (" +
                                      std::to_string(v) + ")");
        }
        EXPECT_EQ(h.checkVersion(h.env, 5), 0);
        EXPECT_EQ(h.getError(h.env), nullptr);  // a success clears the last error

        std::string functions;
        for (const char* fn :
             {"VersionString", "Prefetch", "SetMTMode", "GetMTMode", "Distributor", "Nope"})
            functions += h.functionExists(h.env, fn) ? std::string(" ") + fn : "";
        EXPECT_EQ(functions, x.functions);
        EXPECT_EQ(h.functionExists(h.env, nullptr), 0);
        const std::string variant = x.name == "default" ? "" : ", variant " + x.name;
        EXPECT_EQ(h.Show(h.Call("VersionString", host::Array({}))),
                  x.functions.find("VersionString") == std::string::npos
                      ? "error Function Not Found"
                      : "string minisynth 0.9 (stand-in frame server" + variant + ")");
        if (x.functions.find("Distributor") == std::string::npos) continue;
        // The older MT style: GetMTMode reads SetMTMode's mode, Distributor renders every frame.
        EXPECT_EQ(h.Show(h.Call("SetMTMode", host::Array({host::Int(2), host::Int(3)}))), "void");
        const bool getMTMode = x.functions.find("GetMTMode") != std::string::npos;
        EXPECT_EQ(getMTMode ? h.Show(h.Call("GetMTMode", host::Val(avs::kTypeBool))) : "int 2",
                  "int 2");
        const char* length[] = {"length"};
        const AVS_Value distributed =
            h.Call("Distributor", h.Call("BlankClip", host::Int(40), length));
        EXPECT_EQ(h.Show(distributed), "clip 640x480 50000002 40 24/1");
        EXPECT_EQ(h.Errors(distributed, 0, 39), "");
    }
}

}  // namespace
