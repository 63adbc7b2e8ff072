// The machine's facts from the system's texts, as Linux kernels and distributions write them.
#include <gtest/gtest.h>

#include "sys/machine.h"

namespace sys {
namespace {

TEST(MachineText, ProcessorMemoryAndSystem) {
    const std::pair<const char*, const char*> processors[] = {
        // x86: "model" is a number, "model name" the name.
        {"processor\t: 0\nvendor_id\t: AuthenticAMD\nmodel\t\t: 1\nmodel name\t: AMD EPYC 7B13\n"
         "\nprocessor\t: 1\nmodel name\t: AMD EPYC 7B13\n",
         "AMD EPYC 7B13"},
        {"model name\t:   Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz  \r\n",
         "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"},
        // ARM: the SoC and the board after every processor's lines; the SoC first.
        {"processor\t: 0\nBogoMIPS\t: 108.00\nCPU part\t: 0xd08\n\nHardware\t: BCM2835\n"
         "Revision\t: c03111\nModel\t\t: Raspberry Pi 4 Model B Rev 1.1\n",
         "BCM2835"},
        {"processor\t: 0\nCPU part\t: 0xd0b\n\nModel\t\t: Raspberry Pi 5 Model B Rev 1.0",
         "Raspberry Pi 5 Model B Rev 1.0"},
        {"system type\t\t: MediaTek MT7621 ver:1 eco:3\nprocessor\t\t: 0\n"
         "cpu model\t\t: MIPS 1004Kc V2.15\n",
         "MIPS 1004Kc V2.15"},
        {"model name\t:\nHardware\t: Qualcomm SM8150\n", "Qualcomm SM8150"},
        {"processor\t: 0\nflags\t\t: fpu vme\n", ""},
        {"", ""},
    };
    for (const auto& [text, model] : processors)
        EXPECT_EQ(ProcessorModelFromCpuInfo(text), model) << text;

    const std::pair<const char*, uint64_t> memories[] = {
        {"MemTotal:       16303488 kB\nMemFree:         1000000 kB\n", 15921},
        {"SwapTotal:       2097148 kB\nMemTotal:        1048576 kB\n", 1024},
        {"MemTotal:           1023 kB\n", 0},
        {"MemFree:         1000000 kB\n", 0},
    };
    for (const auto& [text, mb] : memories)
        EXPECT_EQ(MemoryMBFromMemInfo(text), mb) << text;

    const std::pair<const char*, const char*> systems[] = {
        {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\n"
         "VERSION=\"12 (bookworm)\"\n",
         "Debian GNU/Linux 12 (bookworm)"},
        {"NAME=\"Alpine Linux\"\nPRETTY_NAME='Alpine Linux v3.19'\n", "Alpine Linux v3.19"},
        {"PRETTY_NAME=\"Ubuntu 22.04.4 LTS\"\r\n", "Ubuntu 22.04.4 LTS"},
        {"PRETTY_NAME=\"My \\\"Best\\\" OS \\\\ \\$1 \\x\"\n", "My \"Best\" OS \\ $1 \\x"},
        {"PRETTY_NAME=Gentoo\\ Linux\n", "Gentoo Linux"},
        {"PRETTY_NAME='It'\\''s \\n'\n", "It's \\n"},
        // No PRETTY_NAME: NAME and VERSION; VERSION_ID is another key; comments are no values.
        {"# PRETTY_NAME=\"Commented\"\n\nNAME=Gentoo\nVERSION_ID=2.15\nVERSION=2.15\n",
         "Gentoo 2.15"},
        {"PRETTY_NAME=\"\"\nNAME=\"Fedora Linux\"\nVERSION_ID=39\n", "Fedora Linux"},
        {"ID=debian\n", ""},
    };
    for (const auto& [text, system] : systems)
        EXPECT_EQ(SystemFromOsRelease(text), system) << text;
}

}  // namespace
}  // namespace sys
