// Captured register dumps: both line forms on a made-up two-processor capture, the first
// processor's block and processor headers, malformed leaf lines with their line numbers, dumps
// without a stored leaf, and the writer's exact form and round trip.
#include <algorithm>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "syskit/cpu.hpp"

namespace {

using syskit::CpuDumpError;
using syskit::CpuLeaves;
using syskit::format_cpu_dump;
using syskit::parse_cpu_dump;

// The message of the CpuDumpError that reading `text` raises, or "" when it is read.
std::string error_of(const std::string& text, std::string_view source_name) {
    try {
        (void)parse_cpu_dump(text, source_name);
    } catch (const CpuDumpError& e) {
        return e.what();
    }
    return {};
}

// CPU 0 of the captures below; leaves 3, 0x80000005 and 0x80000007 are absent, so zero.
const CpuLeaves kCpu0 = {{{0x0000000D, 0x756E6547, 0x6C65746E, 0x49656E69},
                          {0x000A0671, 0x00000800, 0x7FFAFBBF, 0xBFEBFBFF},
                          {0x00FEFF01, 0x000000F0, 0x00000000, 0x00000000},
                          {},
                          {0x80000008, 0x00000000, 0x00000000, 0x00000000},
                          {0x00000000, 0x00000000, 0x00000121, 0x2C100800},
                          {0x65746E49, 0x2952286C, 0x726F4320, 0x4D542865},
                          {0x35692029, 0x3131312D, 0x20473533, 0x20555043},
                          {0x2E322040, 0x48473034, 0x0000007A, 0x00000000},
                          {},
                          {0x00000000, 0x00000000, 0x01006040, 0x00000000},
                          {},
                          {0x00003027, 0x00000000, 0x00000000, 0x00000000}}};

// Second form, with sub-leaves, an unstored leaf and a second processor that differs.
const char kNamedDump[] =
    "CPU 0:\n"
    "   0x00000000 0x00: eax=0x0000000d ebx=0x756e6547 ecx=0x6c65746e edx=0x49656e69\n"
    "   0x00000001 0x00: eax=0x000a0671 ebx=0x00000800 ecx=0x7ffafbbf edx=0xbfebfbff\n"
    "   0x00000002 0x00: eax=0x00feff01 ebx=0x000000f0 ecx=0x0 edx=0x0\n"
    "   0x00000004 0x00: eax=0x1c004121 ebx=0x01c0003f ecx=0x0000003f edx=0x00000000\n"
    "   0x00000004 0x01: eax=0x1c004122 ebx=0x01c0003f ecx=0x0000003f edx=0x00000000\n"
    "   0x80000000 0x00: eax=0x80000008 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n"
    "   0x80000001 0x00: eax=0x00000000 ebx=0x00000000 ecx=0x00000121 edx=0x2c100800\n"
    "   0x80000002 0x00: eax=0x65746e49 ebx=0x2952286c ecx=0x726f4320 edx=0x4d542865\n"
    "   0x80000003 0x00: eax=0x35692029 ebx=0x3131312d ecx=0x20473533 edx=0x20555043\n"
    "   0x80000004 0x00: eax=0x2e322040 ebx=0x48473034 ecx=0x0000007a edx=0x00000000\n"
    "   0x80000006 0x01: eax=0x11111111 ebx=0x11111111 ecx=0x11111111 edx=0x11111111\n"
    "   0x80000006 0x00: eax=0x00000000 ebx=0x00000000 ecx=0x01006040 edx=0x00000000\n"
    "   0x80000008 0x00: eax=0x00003027 ebx=0x00000000 ecx=0x00000000 edx=0x00000000\n"
    "CPU 1:\n"
    "   0x00000001 0x00: eax=0x000a0671 ebx=0x01000800 ecx=0x7ffafbbf edx=0xbfebfbff\n"
    "   0x80000005 0x00: eax=0x22222222 ebx=0x22222222 ecx=0x22222222 edx=0x22222222\n";

// First form with CR LF, mixed case, padding, a repeated leaf, a sub-leaf, unstored leaves and
// lines that only look like leaf lines.
const char kDashedDump[] =
    "CPUID dump\r\n"
    "CPUID 0000001: 1-2-3-4\r\n"
    "CPUID 00000000: 0000000D-756E6547-6C65746E-49656E69\r\n"
    "  CPUID 00000001:   000a0671-00000800-7ffafbbf-BFEBFBFF  \r\n"
    "CPUID 00000001: 00000000-00000000-00000000-00000000\r\n"
    "CPUID 00000002: FEFF01-F0-0-0\r\n"
    "CPUID 00000004.1: 1C004122-01C0003F-0000003F-00000000\r\n"
    "CPUID 80000009: 00000009-00000009-00000009-00000009\r\n"
    "0x00000003: eax=0x1 ebx=0x1 ecx=0x1 edx=0x1\r\n"
    "CPUID 80000000:80000008-00000000-00000000-00000000\r\n"
    "CPUID 80000001: 00000000-00000000-00000121-2C100800\r\n"
    "CPUID 80000002: 65746E49-2952286C-726F4320-4D542865\r\n"
    "CPUID 80000003: 35692029-3131312D-20473533-20555043\r\n"
    "CPUID 80000004: 2E322040-48473034-0000007A-00000000\r\n"
    "CPUID 80000006.0: 00000000-00000000-01006040-00000000\r\n"
    "CPUID 80000008: 00003027-00000000-00000000-00000000\r\n"
    "--- Logical CPU #1 ---\r\n"
    "CPUID 00000003: 33333333-33333333-33333333-33333333\r\n"
    "CPUID 00000000: 0000000D-12345678-12345678-12345678";

TEST(CpuDump, BothFormsReadTheFirstProcessorOnly) {
    EXPECT_EQ(parse_cpu_dump(kNamedDump, "named.txt"), kCpu0);
    EXPECT_EQ(parse_cpu_dump(kDashedDump, "dashed.txt"), kCpu0);
}

TEST(CpuDump, ProcessorHeadersEndTheFirstBlock) {
    const std::string leaf0 = "CPUID 00000000: 1-2-3-4\n", leaf1 = "CPUID 00000001: 5-6-7-8\n";
    for (const char* header :
         {"CPU 1:", "CPU #1", "  [ Logical CPU #12 ]  ", "--cpu 3--", "logical cpu # 1:", "CPU7"}) {
        // A header before any leaf line opens the first block; the next one ends it.
        const CpuLeaves leaves =
            parse_cpu_dump(std::string(header) + "\n" + leaf0 + header + "\n" + leaf1, "h.txt");
        EXPECT_EQ(leaves[0][3], 4u) << header;
        EXPECT_EQ(leaves[1][0], 0u) << header;
    }
    for (const char* other : {"CPUs: 2", "CPU 1: Intel", "CPU", "CPU #", "LogicalCPU 1"}) {
        const CpuLeaves leaves = parse_cpu_dump(leaf0 + other + "\n" + leaf1, "h.txt");
        EXPECT_EQ(leaves[1][0], 5u) << other;
    }
}

struct BadLine {
    const char* line;
    const char* reason;
};

TEST(CpuDump, MalformedLeafLinesNameFileAndLine) {
    const BadLine cases[] = {
        {"CPUID 00000001: 1-2-3", "missing register field EDX"},
        {"CPUID 00000001: 1-2-3-", "malformed register field ''"},
        {"CPUID 00000001:", "missing register field EAX"},
        {"CPUID 00000001: 1-2G-3-4", "malformed register field '2G'"},
        {"CPUID 00000001: 1-123456789-3-4", "malformed register field '123456789'"},
        {"CPUID 00000001: 1:2:3:4", "malformed register field '1:2:3:4'"},
        {"CPUID 00000001: 1-2-3-4 [x]", "malformed register field '4 [x]'"},
        {"CPUID 00000001: 1-2-3-4-5", "unexpected text after EDX '-5'"},
        {"CPUID 80000009.2: 1-2-3-X", "malformed register field 'X'"},
        {"0x00000001 0x00: eax=0x1 ebx=0xZZ ecx=0x3 edx=0x4",
         "malformed register field 'ebx=0xZZ'"},
        {"0x00000001 0x00: eax=0x1 ebx=0x2 ecx=0x3", "missing register field edx"},
        {"0x00000001 0x00: eax=0x1 ecx=0x2 ebx=0x3 edx=0x4", "malformed register field 'ecx=0x2'"},
        {"0x00000001 0x00: eax=0x1 ebx=0x2 ecx=0x3 edx=0x", "malformed register field 'edx=0x'"},
        {"0x00000001 0x00: eax=0x1,ebx=0x2,ecx=0x3,edx=0x4", "malformed register field 'eax=0x1,"},
        {"0x00000001 0x00: eax=0x1 ebx=0x2 ecx=0x3 edx=0x4 x", "unexpected text after edx 'x'"},
        {"0x40000000 0x03: eax=1 ebx=0x2 ecx=0x3 edx=0x4", "malformed register field 'eax=1'"},
        {"0x00000001 0x00: eax=0x\x01\xff\\ ebx=0x2",
         "malformed register field 'eax=0x\\x01\\xFF\\x5C'"},
    };
    for (const auto& [line, reason] : cases) {
        const std::string dump = "CPU 0:\nCPUID 00000000: 1-2-3-4\r\n" + std::string(line) + "\n";
        EXPECT_EQ(error_of(dump, "dump.txt").find(std::string("dump.txt:3: ") + reason), 0u)
            << line << " -> " << error_of(dump, "dump.txt");
    }
    // Fields are cut in messages, however long the line.
    const std::string huge = "CPUID 00000001: " + std::string(100000, 'A') + "-2-3-4";
    EXPECT_LT(error_of(huge, "long.txt").size(), 100u);
    EXPECT_TRUE(error_of(huge, "long.txt").starts_with("long.txt:1: "));
    EXPECT_TRUE(error_of(huge, "long.txt").ends_with("AAA...'"));
}

TEST(CpuDump, DumpWithoutStoredLeafIsRejected) {
    for (const char* text : {"", "\n\n", "no dump here", "CPUID 00000004: 1-2-3-4\n",
                             "0x00000001 0x01: eax=0x1 ebx=0x2 ecx=0x3 edx=0x4",
                             "CPU 0:\nCPU 1:\nCPUID 00000001: 1-2-3-4\n"}) {
        EXPECT_EQ(error_of(text, "empty.txt"), "empty.txt: no CPUID leaf found") << text;
    }
}

TEST(CpuDump, WriterUsesTheFirstFormAndRoundTrips) {
    const std::string text = format_cpu_dump(kCpu0);
    EXPECT_TRUE(
        text.starts_with("CPUID 00000000: 0000000D-756E6547-6C65746E-49656E69\n"
                         "CPUID 00000001: 000A0671-00000800-7FFAFBBF-BFEBFBFF\n"));
    EXPECT_TRUE(text.ends_with("\nCPUID 80000008: 00003027-00000000-00000000-00000000\n"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 13);
    EXPECT_EQ(parse_cpu_dump(text, "out.txt"), kCpu0);
    CpuLeaves all_ones;
    for (auto& leaf : all_ones) leaf.fill(0xFFFFFFFF);
    EXPECT_EQ(parse_cpu_dump(format_cpu_dump(all_ones), "out.txt"), all_ones);
    EXPECT_EQ(parse_cpu_dump(format_cpu_dump(CpuLeaves{}), "out.txt"), CpuLeaves{});
}

}  // namespace
