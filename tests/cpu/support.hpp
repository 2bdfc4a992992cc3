// Processor test helpers: registers loaded as a dump (decoding without the processor), refusals.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <utility>

#include "platform/code_memory.hpp"
#include "syskit/cpu.hpp"

namespace cpu_test {

using Record = std::array<std::uint32_t, 4>;  // EAX, EBX, ECX, EDX

inline constexpr int kLeaf1 = 1;
inline constexpr int kExtended = 4;  // nReg of leaf 0x80000000

// Leaf-0 registers for a vendor ID text of 12 characters (EBX, EDX, ECX order).
inline Record vendor_leaf(std::uint32_t level, std::string_view id) {
    std::uint32_t r[3] = {};
    std::memcpy(r, id.data(), 12);
    return {level, r[0], r[2], r[1]};
}

// Loads the given records (nReg, registers) into `info` over an otherwise empty processor.
inline void load(syskit::cCpuInfo& info, std::initializer_list<std::pair<int, Record>> records) {
    syskit::CpuLeaves leaves{};
    for (const auto& [n, r] : records) leaves[static_cast<std::size_t>(n)] = r;
    syskit::load_cpu_dump(info, {leaves, {}});
}

// A processor of `vendor` whose leaves 1 and 0x80000001 (the two signature leaves) both hold `r`.
inline void load_signature(syskit::cCpuInfo& info, std::string_view vendor, const Record& r) {
    load(info, {{0, vendor_leaf(1, vendor)},
                {kLeaf1, r},
                {kExtended, {0x80000001u, 0, 0, 0}},
                {kExtended + 1, r}});
}

// Refuses every block, like a platform without memory to spare.
class RefusingMemory final : public syskit::platform::CodeMemory {
  public:
    void* allocate(std::size_t) noexcept override { return nullptr; }
    bool make_executable(void*, std::size_t) noexcept override { return false; }
    void release(void*, std::size_t) noexcept override {}
};

}  // namespace cpu_test
