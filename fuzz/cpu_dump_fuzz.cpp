// parse_cpu_dump on arbitrary text: it returns a dump or raises CpuDumpError, nothing else,
// whatever the input; and a dump it returns, leaf 2's further answers included, reads back
// unchanged from both line formats the writer has.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "syskit/cpu.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    syskit::CpuDump dump;
    try {
        dump = syskit::parse_cpu_dump(text, "fuzz.txt");
    } catch (const syskit::CpuDumpError&) {
        return 0;  // a rejected dump is an answer, not a fault
    }
    for (const auto format : {syskit::CpuDumpFormat::syskit, syskit::CpuDumpFormat::raw}) {
        if (syskit::parse_cpu_dump(syskit::format_cpu_dump(dump, format), "round-trip.txt") !=
            dump) {
            std::abort();
        }
    }
    return 0;
}
