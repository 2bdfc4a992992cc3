// parse_cpu_dump on arbitrary text: it returns leaves or raises CpuDumpError — nothing else,
// whatever the input — and leaves it returns are written and read back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "syskit/cpu.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    syskit::CpuLeaves leaves;
    try {
        leaves = syskit::parse_cpu_dump(text, "fuzz.txt");
    } catch (const syskit::CpuDumpError&) {
        return 0;  // a rejected dump is a documented outcome
    }
    if (syskit::parse_cpu_dump(syskit::format_cpu_dump(leaves), "round-trip.txt") != leaves) {
        std::abort();
    }
    return 0;
}
