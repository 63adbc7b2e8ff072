// GPU-Z's block read from synthetic memory: the card, the sensors, the window titles.
#include "sys/gpuz_block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

#include "sys/gpu.h"
#include "terminal_test_pty.h"

namespace sys {
namespace {

// A block as GPU-Z would publish it, filled record by record.
class Block {
  public:
    Block() : bytes_(kGpuzBlockBytes, 0) {}
    void Data(size_t r, const std::u16string& key, const std::u16string& value) {
        uint8_t* record = bytes_.data() + kGpuzDataOffset + r * kGpuzDataRecordBytes;
        Put(record, key);
        Put(record + 2 * kGpuzTextUnits, value);
    }
    void Sensor(size_t r, const std::u16string& name, double value) {
        uint8_t* record = bytes_.data() + kGpuzSensorOffset + r * kGpuzSensorRecordBytes;
        Put(record, name);
        std::memcpy(record + kGpuzSensorValueOffset, &value, sizeof value);
    }
    GpuzCard Card() const { return ReadGpuzCard(bytes_.data(), bytes_.size()); }
    GpuzSensors Sensors(bool cuda) const {
        return ReadGpuzSensors(bytes_.data(), bytes_.size(), cuda);
    }

  private:
    // At most a field's units; a text that long has no terminator.
    static void Put(uint8_t* field, const std::u16string& text) {
        for (size_t i = 0; i < kGpuzTextUnits; ++i) {
            const char16_t unit = i < text.size() ? text[i] : 0;
            field[2 * i] = static_cast<uint8_t>(unit & 0xFF);
            field[2 * i + 1] = static_cast<uint8_t>(unit >> 8);
        }
    }
    std::vector<uint8_t> bytes_;
};

TEST(GpuzCard, KeysExactLaterRecordsWinBlankValuesIgnored) {
    Block block;
    block.Data(0, u"CardName", u"  NVIDIA GeForce RTX 3060 \t");
    block.Data(1, u"cardname", u"lower-case key");
    block.Data(2, u"CardName", u"   ");
    block.Data(3, u"GPUName", u"GA106");
    block.Data(4, u"GPUName", u"GA106-300");
    block.Data(6, u"DriverVersion", u"31.0.15.3598 (NVIDIA 535.98) / Win11 64");
    block.Data(127, u"OpenCL_Version", u"OpenCL 3.0 \u00dc\u20ac");
    const GpuzCard card = block.Card();
    EXPECT_EQ(card.cardName, "NVIDIA GeForce RTX 3060");
    EXPECT_EQ(card.gpuName, "GA106-300");
    EXPECT_EQ(card.driverVersion, "31.0.15.3598 (NVIDIA 535.98) / Win11 64");
    EXPECT_EQ(card.openCLVersion, "OpenCL 3.0 \xC3\x9C\xE2\x82\xAC");

    // Unterminated texts end at their field; a lone surrogate reads as a blank.
    const std::u16string full(kGpuzTextUnits, u'x');
    block.Data(8, u"MemSize", full);
    block.Data(9, u"GPUName", std::u16string(u"A") + char16_t(0xD800) + u"B");
    EXPECT_EQ(block.Card().memSize, std::string(kGpuzTextUnits, 'x'));
    EXPECT_EQ(block.Card().gpuName, "A B");
}

TEST(GpuzCard, CudaNeedsTheMarkAndCapabilityOneOrMore) {
    const struct {
        const char16_t* mark;
        const char16_t* capability;
        bool capable;
    } cases[] = {{u"1", u"0.9", false}, {u"1", u"1.0", true},
                 {u"0", u"8.6", false}, {u"256", u"8.6", false},  // kept in 8 bits
                 {u"1", u"", false},    {u"1", u"8.6", true}};
    for (const auto& c : cases) {
        Block block;
        block.Data(10, u"CUDA", c.mark);
        block.Data(11, u"CUDA_Capability", c.capability);
        EXPECT_EQ(block.Card().cudaCapable, c.capable);
    }
}

TEST(GpuzSensors, RoundedLaterOnesWinAndOddValuesAreSafe) {
    Block block;
    block.Sensor(0, u"GPU Load", 37.49);
    block.Sensor(1, u"Video Engine Load", 12.5);
    block.Sensor(2, u"Memory Usage (Dedicated)", 1024.4);
    block.Sensor(3, u"gpu load", 99.0);
    block.Sensor(4, u"Memory Usage (Dynamic)", std::nan(""));
    GpuzSensors s = block.Sensors(true);
    EXPECT_EQ(s.gpuLoad, 37);
    EXPECT_EQ(s.vpuLoad, 13);
    EXPECT_EQ(s.memoryDedicated, 1024u);
    EXPECT_TRUE(s.memoryDedicatedSeen);
    EXPECT_TRUE(s.memoryDynamicSeen);
    EXPECT_EQ(s.memoryDynamic, 0u) << "not a number";
    EXPECT_FALSE(s.memoryUsedSeen) << "no Memory Used sensor";
    EXPECT_EQ(block.Sensors(false).vpuLoad, 0) << "only for a CUDA-capable card";

    block.Sensor(5, u"GPU Load", 37.5);
    block.Sensor(6, u"Memory Used", 1e300);
    block.Sensor(7, u"Memory Usage (Dedicated)", -5.0);
    s = block.Sensors(true);
    EXPECT_EQ(s.gpuLoad, 38);
    EXPECT_EQ(s.memoryUsed, std::numeric_limits<uint32_t>::max());
    EXPECT_EQ(s.memoryDedicated, 0u);
}

TEST(GpuzWindow, VersionFromTheLastMatchingTitle) {
    const struct {
        std::vector<std::string> titles;
        bool found;
        const char* version;
    } cases[] = {
        {{"Terminal", "TechPowerUp GPU-Z 2.1.0"}, true, "2.1.0"},
        {{"GPU-Z"}, true, "Unknown"},
        {{"GPU-Z 2.1.0", "gpu-z 2.55.0"}, true, ".55.0"},  // five characters, as read
        {{"Editor"}, false, "Unknown"},
        {{std::string(70, 'a') + "GPU-Z 2.1.0"}, false, "Unknown"},  // past 63 characters
    };
    for (const auto& c : cases) {
        bool found = false;
        EXPECT_EQ(GpuzVersionFromTitles(c.titles, found), c.version) << c.titles.back();
        EXPECT_EQ(found, c.found) << c.titles.back();
    }
}

uint64_t g_gpuTick = 1000;

// NVML through a stand-in: reads throttled to one in 300 ms, a failing call reads 0.
TEST(GpuMonitor, NvmlReadingsThrottledAndFailuresReadZero) {
    CGPUInfo absent(nullptr, "/nonexistent/libnvidia-ml.so.1");
    EXPECT_FALSE(absent.gpuzRunning);
    {
        const testpty::ScopedEnv noDevice("FAKE_NVML", "none");
        EXPECT_FALSE(CGPUInfo(nullptr, FAKE_NVML_LIB).gpuzRunning);
    }
    const testpty::ScopedEnv working("FAKE_NVML", nullptr);

    CGPUInfo gpu([] { return g_gpuTick; }, FAKE_NVML_LIB);
    ASSERT_TRUE(gpu.gpuzRunning);
    ASSERT_TRUE(gpu.Open());
    gpu.Update();  // the readings themselves are the end-to-end tests'
    EXPECT_EQ(gpu.gpuLoad, 37);
    EXPECT_FALSE(gpu.memoryDedicatedAvailable || gpu.memoryDynamicAvailable);

    const testpty::ScopedEnv failing("FAKE_NVML", "failing");
    g_gpuTick += 200;
    gpu.Update();
    EXPECT_EQ(gpu.gpuLoad, 37) << "within 300 ms nothing changes";
    g_gpuTick += 100;
    gpu.Update();
    EXPECT_EQ(gpu.gpuLoad, 0);
}

}  // namespace
}  // namespace sys
