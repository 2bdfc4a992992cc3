// Captured register dumps: the line shapes field dumps hold, processor separators, malformed
// register lines (file, line and what was unexpected), lines that are skipped, dumps without
// leaf 0, the sub-leaf rules, leaf 2's further answers (which CacheDescriptors uses instead of
// asking this processor), and the round trip through both writers.
#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::CpuDump;
using syskit::CpuDumpFormat;
using syskit::CpuRegisters;
using syskit::format_cpu_dump;
using syskit::parse_cpu_dump;

// The message of the CpuDumpError that reading `text` raises, or "" when it is read.
std::string error_of(const std::string& text) {
    try {
        (void)parse_cpu_dump(text, "f.dump");
    } catch (const syskit::CpuDumpError& e) {
        return e.what();
    }
    return {};
}

const std::string kAmdLeaf0 = "CPUID 00000000: 00000001-68747541-444D4163-69746E65\n";

TEST(CpuDump, EveryLineShapeReadsTheRegisters) {
    for (const char* line : {
             "CPUID 00000000: 00000001-68747541-444D4163-69746E65 [SL 00] [x87]",
             "CPUID 00000000: 00000001-68747541-444D4163-69746E65 [L2: 2048 KB] / L3: 0 KB]",
             "CPUID 00000000: 00000001-68747541-444D4163-69746E65\t[SMEP]",
             "CPUID 00000000  \t00000001-68747541-444D4163-69746E65",
             "CPUID 00000000 :00000001-68747541-444D4163-69746E65",
             "CPUID 00000000: 00000001 68747541 444D4163 69746E65",
             "  CPUID 00000000:\t1-68747541-444d4163-69746E65 \t \r\n",
             "CPUID 00000000.0: 1-68747541-444D4163-69746E65\rCPUID 00000000: 2-2-2-2",
             "  0x00000000 0x00: eax=0x1 ebx=0x68747541 ecx=0x444d4163 edx=0x69746E65",
         }) {
        EXPECT_EQ(parse_cpu_dump(std::string(line) + "\n", "f.dump").leaves[0],
                  (CpuRegisters{1, 0x68747541, 0x444D4163, 0x69746E65}))
            << line;
    }
}

TEST(CpuDump, OnlyTheFirstProcessorIsRead) {
    const std::string report_header = "------[ Versions ]------\nCPUID Revision : 000506C9h\n";
    for (const char* separator :
         {"------[ CPUID Registers / Logical CPU #1 ]------", "CPU#001 AffMask: 0x00000002",
          "CPUID Registers (CPU #1):", "CPU 1:", "logical cpu 7"}) {
        // The separator before the registers opens the first processor; the next one ends it,
        // and leaf 1, which only the second processor has, stays missing.
        const CpuDump dump = parse_cpu_dump(report_header + separator + "\n" + kAmdLeaf0 +
                                                separator + "\nCPUID 00000001: 5-6-7-8\n",
                                            "f.dump");
        EXPECT_EQ(dump.leaves[0][0], 1u) << separator;
        EXPECT_EQ(dump.leaves[1], (CpuRegisters{})) << separator;
    }
    for (const char* other : {"CPUs: 2", "CPU 2GHz", "CPU #", "CPUID 1 2 3"}) {
        const CpuDump dump = parse_cpu_dump(kAmdLeaf0 + other + "\nCPUID 00000001: 5-6-7-8", "");
        EXPECT_EQ(dump.leaves[1][0], 5u) << other;
    }
}

TEST(CpuDump, MalformedRegisterLinesNameFileLineAndWhatWasUnexpected) {
    const std::pair<std::string, std::string> cases[] = {
        {"CPUID 00000001: 0000-zz", "unexpected 'zz' where register EBX should be"},
        {"CPUID 00000001: 1-2-3", "unexpected end of line where register EDX should be"},
        {"CPUID 00000001", "unexpected end of line where register EAX should be"},
        {"CPUID 00000001: 1-123456789-3-4", "unexpected '123456789' where register EBX"},
        {"CPUID 00000001 1 - 2 3 4", "unexpected '- 2 3 4' where register EBX"},
        {"CPUID 00000001: 1-2-3-4[x]", "unexpected '4[x]' where register EDX"},
        {"CPUID 00000001: 1-2-3-4-5 [x]", "unexpected '-5' after register EDX"},
        {"CPUID 00000001.: 1-2-3-4", "unexpected ': 1-2-3-4' where the sub-leaf should be"},
        {"CPUID 00000001: \x01\xff\\-2-3-4", "unexpected '\\x01\\xFF\\x5C' where register EAX"},
        {"0x00000001 0x00 eax=0x1 ebx=0x2 ecx=0x3 edx=0x4",
         "unexpected '00' where the sub-leaf and ':' should be"},
        {"0x00000001 0x00: eax=0x1 ebx=0xZZ ecx=0x3 edx=0x4",
         "unexpected 'ebx=0xZZ' where ebx=0x and 1 to 8 hex digits should be"},
        {"0x00000001 0x00: eax=0x1 ecx=0x2 ebx=0x3 edx=0x4", "unexpected 'ecx=0x2' where ebx="},
        {"0x00000001 0x00: eax=0x1 ebx=2 ecx=0x3 edx=0x4", "unexpected 'ebx=2' where ebx="},
        {"0x00000001 0x00: eax=0x1 ebx=0x2 ecx=0x3", "unexpected end of line where edx="},
    };
    for (const auto& [line, reason] : cases) {
        const std::string error = error_of("Report\r\n" + kAmdLeaf0 + line + "\r\n");
        EXPECT_EQ(error.find("f.dump:3: " + reason), 0u) << line << " -> " << error;
    }
    // Unexpected texts are cut in messages, however long the line.
    const std::string error = error_of("CPUID 00000001: " + std::string(100000, 'A') + "-2-3-4");
    EXPECT_LT(error.size(), 120u);
    EXPECT_TRUE(error.starts_with("f.dump:1: unexpected 'AAA")) << error;
}

TEST(CpuDump, OtherLinesAreSkippedAndADumpNeedsLeafZero) {
    const std::string skipped =
        "CPUID Manufacturer: AuthenticAMD\nCPUID 0000001: 1-2-3-4\nCPUID 000000001: 1-2-3-4\n"
        "CPUID 00000001h\ncpuid 00000001: 1-2-3-4\nCPUID:00000001: 1\nCPUID 00000001-1-2-3-4\n"
        "0x00000001: eax=0x1\n0x0000001 0x00: eax=0x1\n0x00000001 00:\nMSR 00000001: 1-2\n\n\t\n";
    EXPECT_EQ(parse_cpu_dump(kAmdLeaf0 + skipped, "f.dump").leaves[1], (CpuRegisters{}));
    for (const char* text : {"", "not a dump", "CPUID 00000000: 1-2-3-4 [SL 01]",
                             "0x00000000 0x01: eax=0x1 ebx=0x2 ecx=0x3 edx=0x4",
                             "CPU 0:\nCPUID 00000001: 1-2-3-4\nCPU 1:\nCPUID 00000000: 1-2-3-4"}) {
        EXPECT_EQ(error_of(text), "f.dump: no CPUID leaf 0 (not a dump of a processor with CPUID)")
            << text;
    }
}

TEST(CpuDump, TheFirstAnswerOfSubLeafZeroIsTheLeafsValue) {
    const CpuDump dump = parse_cpu_dump(kAmdLeaf0 +
                                            "CPUID 00000001.1: 11111111-1-1-1\n"
                                            "CPUID 00000001: 00A20F10-2-3-4\n"
                                            "CPUID 00000001: 22222222-2-2-2\n"
                                            "CPUID 80000001: 33333333-3-3-3 [SL 01]\n"
                                            "CPUID 80000001: 00A20F10-3-3-3 [SL 00] [x87]\n"
                                            "0x80000008 0x01: eax=0x5 ebx=0x5 ecx=0x5 edx=0x5\n",
                                        "f.dump");
    EXPECT_EQ(dump.leaves[1], (CpuRegisters{0x00A20F10, 2, 3, 4}));
    EXPECT_EQ(dump.leaves[5], (CpuRegisters{0x00A20F10, 3, 3, 3}));
    EXPECT_EQ(dump.leaves[12], (CpuRegisters{}));
    EXPECT_TRUE(dump.leaf2_again.empty());
}

TEST(CpuDump, FurtherAnswersOfLeafTwoAreUsedThenDecodingStops) {
    // Leaf 2 asks to be queried four times; the dump holds two further answers, among lines of
    // other sub-leaves and of the second processor.
    const std::string text =
        "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
        "CPUID 00000002: 00000004-00000000-00000000-00000011\n"
        "CPUID 00000002: 00000000-00000000-00000000-00000022 [SL 00]\n"
        "CPUID 00000002: 00000000-00000000-00000000-00000099 [SL 01]\n"
        "CPUID 00000002: 00000000-00000000-00000000-00000033\n"
        "CPU 1:\n"
        "CPUID 00000002: 00000000-00000000-00000000-00000099\n";
    const CpuDump dump = parse_cpu_dump(text, "f.dump");
    EXPECT_EQ(dump.leaf2_again, (std::vector<CpuRegisters>{{0, 0, 0, 0x22}, {0, 0, 0, 0x33}}));
    syskit::cCpuInfo info;
    syskit::load_cpu_dump(info, dump);
    EXPECT_EQ(info.CacheDescriptors(), (std::vector<std::uint8_t>{0x11, 0x22, 0x33}));
    // This processor's leaf 2 was never asked for: record 2 holds the dump's last answer.
    EXPECT_EQ(syskit::cpu_leaves(info)[2], (CpuRegisters{0, 0, 0, 0x33}));
}

TEST(CpuDump, BothWritersReadBackTheSameDump) {
    CpuDump dump = parse_cpu_dump(kAmdLeaf0, "f.dump");
    dump.leaves[2] = {0x665B5003, 0, 0, 0x007A7000};
    dump.leaves[12] = {0x3028, 0, 0, 0xABCDEF01};
    dump.leaf2_again = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    const std::string raw = format_cpu_dump(dump, CpuDumpFormat::raw);
    EXPECT_TRUE(raw.starts_with(
        "CPU 0:\n"
        "   0x00000000 0x00: eax=0x00000001 ebx=0x68747541 ecx=0x444d4163 edx=0x69746e65\n"));
    EXPECT_NE(raw.find("edx=0x007a7000\n   0x00000002 0x00: eax=0x00000001 ebx=0x00000002 "
                       "ecx=0x00000003 edx=0x00000004\n   0x00000002 0x00: eax=0x00000005 "),
              std::string::npos);
    EXPECT_EQ(std::count(raw.begin(), raw.end(), '\n'), 16);
    const std::string syskit = format_cpu_dump(dump);
    EXPECT_TRUE(syskit.starts_with("CPUID 00000000: 00000001-68747541-444D4163-69746E65\n"));
    EXPECT_TRUE(syskit.ends_with("\nCPUID 80000008: 00003028-00000000-00000000-ABCDEF01\n"));
    CpuDump all_ones;
    for (auto& leaf : all_ones.leaves) leaf.fill(0xFFFFFFFF);
    for (const CpuDump& d : {dump, all_ones, CpuDump{}}) {
        for (const auto format : {CpuDumpFormat::syskit, CpuDumpFormat::raw}) {
            EXPECT_EQ(parse_cpu_dump(format_cpu_dump(d, format), "out.dump"), d);
        }
    }
}

}  // namespace
}  // namespace cpu_test
