// Executable memory for the processor runner's routines: the platform's (mmap/mprotect, or
// VirtualAlloc/VirtualProtect on Windows), or one a test gives the runner instead.
#pragma once

#include <cstddef>

namespace syskit::platform {

// Where the runner places its routines. A block is written while writable and then sealed
// read+execute; it is never writable and executable at once.
class CodeMemory {
  public:
    virtual ~CodeMemory() = default;
    // A writable block of at least `size` bytes, or nullptr when the platform refuses one.
    [[nodiscard]] virtual void* allocate(std::size_t size) noexcept = 0;
    // Makes the block read+execute. False when the platform does not allow code to run from it.
    [[nodiscard]] virtual bool make_executable(void* block, std::size_t size) noexcept = 0;
    // Frees a block returned by allocate.
    virtual void release(void* block, std::size_t size) noexcept = 0;
};

// The platform's executable memory.
[[nodiscard]] CodeMemory& code_memory() noexcept;

}  // namespace syskit::platform
