// Captured register dumps: the reader's line rules and failures, and the two writers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support.hpp"

namespace cpu_test {
namespace {

using syskit::CpuDump;
using syskit::CpuRegisters;
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

TEST(CpuDump, OnlyTheFirstProcessorIsRead) {
    // A separator before the registers opens the first processor, the next one ends it.
    for (const char* separator :
         {"CPU#001 AffMask: 0x00000002", "CPUID Registers (CPU #1):", "CPU 1:", "logical cpu 7"}) {
        const CpuDump dump = parse_cpu_dump(
            std::string(separator) + "\n" + kAmdLeaf0 + separator + "\nCPUID 00000001: 5-6-7-8\n",
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
    for (const char* text :
         {"", "CPUID 00000000: 1-2-3-4 [SL 01]", "0x00000000 0x01: eax=0x1 ebx=0x2 ecx=0x3 edx=0x4",
          "CPU 0:\nCPUID 00000001: 1-2-3-4\nCPU 1:\nCPUID 00000000: 1-2-3-4"}) {
        EXPECT_EQ(error_of(text), "f.dump: no CPUID leaf 0 (not a dump of a processor with CPUID)")
            << text;
    }
}

// Shapes the command's tests do not read; sub-leaf 0's first answer counts (".S" beats a label).
TEST(CpuDump, LineShapesAndSubLeaves) {
    for (const char* leaf0 : {
             "  CPUID 00000000:\t1-68747541-444d4163-69746E65 \t \r\n",
             "CPUID 00000000.0: 1-68747541-444D4163-69746E65\rCPUID 00000000: 2-2-2-2\n",
             "  0x00000000 0x00: eax=0x1 ebx=0x68747541 ecx=0x444d4163 edx=0x69746E65 [x]\n",
         }) {
        const CpuDump dump =
            parse_cpu_dump(std::string(leaf0) +
                               "CPUID 00000001.1: 11111111-1-1-1\n"
                               "CPUID 00000001: 00A20F10-2-3-4\n"
                               "CPUID 00000001: 22222222-2-2-2\n"
                               "CPUID 80000001: 33333333-3-3-3 [SL 01]\n"
                               "CPUID 80000001.0: 00A20F10-3-3-3 [SL 01]\n"
                               "0x80000008 0x01: eax=0x5 ebx=0x5 ecx=0x5 edx=0x5\n",
                           "f.dump");
        EXPECT_EQ(dump.leaves[0], (CpuRegisters{1, 0x68747541, 0x444D4163, 0x69746E65})) << leaf0;
        EXPECT_EQ(dump.leaves[1], (CpuRegisters{0x00A20F10, 2, 3, 4}));
        EXPECT_EQ(dump.leaves[5], (CpuRegisters{0x00A20F10, 3, 3, 3}));
        EXPECT_EQ(dump.leaves[12], (CpuRegisters{}));
        EXPECT_TRUE(dump.leaf2_again.empty());
    }
}

TEST(CpuDump, FurtherAnswersOfLeafTwoAreUsedThenDecodingStops) {
    // Leaf 2 asks for four queries; the dump holds two further answers of the first processor.
    const CpuDump dump = parse_cpu_dump(
        "CPUID 00000000: 00000002-756E6547-6C65746E-49656E69\n"
        "CPUID 00000002: 00000004-0-0-11\n"
        "CPUID 00000002: 0-0-0-22 [SL 00]\n"
        "CPUID 00000002: 0-0-0-99 [SL 01]\n"
        "CPUID 00000002: 0-0-0-33\n"
        "CPU 1:\n"
        "CPUID 00000002: 0-0-0-99\n",
        "f.dump");
    EXPECT_EQ(dump.leaf2_again, (std::vector<CpuRegisters>{{0, 0, 0, 0x22}, {0, 0, 0, 0x33}}));
    syskit::cCpuInfo info;
    syskit::load_cpu_dump(info, dump);
    EXPECT_EQ(info.CacheDescriptors(), (std::vector<std::uint8_t>{0x11, 0x22, 0x33}));
    // This processor's leaf 2 was never asked for: record 2 holds the dump's last answer.
    EXPECT_EQ(syskit::cpu_leaves(info)[2], (CpuRegisters{0, 0, 0, 0x33}));
}

TEST(CpuDump, BothWritersReadBackTheSameDump) {
    CpuDump dump = parse_cpu_dump(kAmdLeaf0, "f.dump");
    dump.leaves[12] = {0x3028, 0, 0, 0xABCDEF01};
    dump.leaf2_again = {{1, 2, 3, 4}, {5, 6, 7, 8}};
    EXPECT_TRUE(syskit::format_cpu_dump(dump, syskit::CpuDumpFormat::raw)
                    .starts_with("CPU 0:\n   0x00000000 0x00: eax=0x00000001 ebx=0x68747541 "
                                 "ecx=0x444d4163 edx=0x69746e65\n"));
    CpuDump all_ones;
    for (auto& leaf : all_ones.leaves) leaf.fill(0xFFFFFFFF);
    for (const CpuDump& d : {dump, all_ones, CpuDump{}}) {
        for (const auto format : {syskit::CpuDumpFormat::syskit, syskit::CpuDumpFormat::raw})
            EXPECT_EQ(parse_cpu_dump(syskit::format_cpu_dump(d, format), "out.dump"), d);
    }
}

}  // namespace
}  // namespace cpu_test
