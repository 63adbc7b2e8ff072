// The variant libraries, each standing in for an AviSynth build that the installation
// checks must tell apart.
#include <string>

#include "host.h"

namespace {

using host::Host;

struct Expected {
    const char* name;
    bool linkage = true;
    bool createEntry = true;
    int maxVersion = 12;  // 0: no environment at all
    bool versionString = true;
    bool prefetch = true;
    bool setMTMode = false;
    bool getMTMode = false;
    bool distributor = false;
};

std::vector<Expected> AllVariants() {
    std::vector<Expected> v(8);
    v[0].name = "if5";
    v[0].maxVersion = 5;
    v[1].name = "if6";
    v[1].maxVersion = 6;
    v[2].name = "no-versionstring";
    v[2].versionString = false;
    v[3].name = "mt-classic";
    v[3].prefetch = false;
    v[3].setMTMode = v[3].getMTMode = v[3].distributor = true;
    v[4].name = "no-getmtmode";
    v[4].prefetch = false;
    v[4].setMTMode = v[4].distributor = true;
    v[5].name = "env-refused";
    v[5].maxVersion = 0;
    v[6].name = "no-create-entry";
    v[6].createEntry = false;
    v[6].maxVersion = 0;
    v[7].name = "no-linkage";
    v[7].linkage = false;
    return v;
}

class VariantTest : public ::testing::TestWithParam<Expected> {};

TEST_P(VariantTest, ExportsAndBehavesAsItsNameSays) {
    const Expected& x = GetParam();
    host::Library lib(host::Variant(x.name));
    ASSERT_TRUE(lib.Loaded()) << host::Variant(x.name);
    host::Api api(lib);
    EXPECT_TRUE(api.Complete());
    EXPECT_EQ(lib.Symbol("AVS_linkage") != nullptr, x.linkage);
    EXPECT_EQ(api.create != nullptr, x.createEntry);
    EXPECT_EQ(lib.Symbol("CreateScriptEnvironment") != nullptr, x.createEntry);
    if (!api.create) return;

    // The tool's probe: create with 5, then CheckVersion(6) and (7).
    AVS_ScriptEnvironment* env = api.create(5);
    if (x.maxVersion == 0) {
        EXPECT_EQ(env, nullptr);
        EXPECT_EQ(api.create(12), nullptr);
        return;
    }
    ASSERT_NE(env, nullptr);
    for (int v = 5; v <= 13; ++v) {
        bool supported = v <= x.maxVersion;
        EXPECT_EQ(api.checkVersion(env, v) == 0, supported) << x.name << " " << v;
        EXPECT_EQ(api.getError(env) == nullptr, supported) << x.name << " " << v;
        AVS_ScriptEnvironment* other = api.create(v);
        EXPECT_EQ(other != nullptr, supported) << x.name << " " << v;
        if (other) api.deleteEnv(other);
    }

    EXPECT_EQ(api.functionExists(env, "VersionString") != 0, x.versionString);
    EXPECT_EQ(api.functionExists(env, "Prefetch") != 0, x.prefetch);
    EXPECT_EQ(api.functionExists(env, "SetMTMode") != 0, x.setMTMode);
    EXPECT_EQ(api.functionExists(env, "GetMTMode") != 0, x.getMTMode);
    EXPECT_EQ(api.functionExists(env, "Distributor") != 0, x.distributor);

    AVS_Value version = api.invoke(env, "VersionString", host::None(), nullptr);
    if (x.versionString) {
        ASSERT_EQ(version.type, avs::kTypeString);
        EXPECT_NE(std::string(version.d.string).find(x.name), std::string::npos)
            << version.d.string;
        api.releaseValue(version);
    } else {
        EXPECT_EQ(Host::ErrorText(version), "Function Not Found");
    }
    api.deleteEnv(env);
}

INSTANTIATE_TEST_SUITE_P(Variants, VariantTest, ::testing::ValuesIn(AllVariants()),
                         [](const ::testing::TestParamInfo<Expected>& param) {
                             std::string name = param.param.name;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

// The older MT style: SetMTMode's settings are read back by GetMTMode and used by
// Distributor, which renders every frame.
TEST(MtClassicTest, ModeAndDistributor) {
    Host h(host::Variant("mt-classic"), 6);
    ASSERT_TRUE(h.Ready());
    AVS_Value mode = h.Invoke("GetMTMode", host::Bool(false));
    ASSERT_EQ(mode.type, avs::kTypeInt);
    EXPECT_EQ(mode.d.integer, 0);
    EXPECT_EQ(h.Invoke("SetMTMode", host::Array({host::Int(2), host::Int(3)})).type,
              avs::kTypeVoid);
    EXPECT_EQ(h.Invoke("GetMTMode", host::Bool(false)).d.integer, 2);
    EXPECT_EQ(h.Invoke("GetMTMode", host::Bool(true)).d.integer, 3);
    EXPECT_EQ(h.Invoke("SetMTMode", host::Int(9)).type, avs::kTypeError);

    const char* names[] = {"length", "width", "height"};
    AVS_Value source =
        h.Invoke("BlankClip", host::Array({host::Int(40), host::Int(32), host::Int(32)}), names);
    AVS_Value distributed = h.Invoke("Distributor", source);
    ASSERT_EQ(distributed.type, avs::kTypeClip) << Host::ErrorText(distributed);
    host::ClipHandle c(h.api, distributed, h.env);
    EXPECT_EQ(c.Info().num_frames, 40);
    for (int n = 0; n < 40; ++n)
        EXPECT_TRUE(c.Render(n)) << n;
    EXPECT_EQ(Host::ErrorText(h.Invoke("Prefetch", source)), "Function Not Found");
}

TEST(MtClassicTest, WithoutGetMTMode) {
    Host h(host::Variant("no-getmtmode"), 6);
    ASSERT_TRUE(h.Ready());
    EXPECT_EQ(h.Invoke("SetMTMode", host::Int(2)).type, avs::kTypeVoid);
    EXPECT_EQ(Host::ErrorText(h.Invoke("GetMTMode", host::Bool(false))), "Function Not Found");
}

}  // namespace
