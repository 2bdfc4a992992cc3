// Shared helpers of the processor tests: register values loaded as a dump (the seam that decodes
// a processor without touching it), vendor ID registers, and code memories that refuse.
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

// An Intel processor with standard level `level` and the given leaf-1 EAX.
inline void load_intel(syskit::cCpuInfo& info, std::uint32_t level, std::uint32_t signature) {
    load(info, {{0, vendor_leaf(level, "GenuineIntel")}, {kLeaf1, {signature, 0, 0, 0}}});
}

// Refuses every block, like a platform without memory to spare.
class RefusingMemory final : public syskit::platform::CodeMemory {
  public:
    void* allocate(std::size_t) noexcept override { return nullptr; }
    bool make_executable(void*, std::size_t) noexcept override { return false; }
    void release(void*, std::size_t) noexcept override {}
};

}  // namespace cpu_test
