// Executable memory for the processor runner's routines.
//
// Each block is mapped writable, filled by the runner, and then switched to read+execute, so no
// page is ever writable and executable at once (systems that forbid that still allow this order,
// or refuse the switch, which the runner treats as "not placed"). Blocks are whole pages of their
// own: a routine never shares a page with data.
#include <cstddef>
#include <cstdint>

#include "platform/code_memory.hpp"

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace syskit::platform {
namespace {

class PlatformCodeMemory final : public CodeMemory {
  public:
    void* allocate(std::size_t size) noexcept override {
        if (size == 0) return nullptr;
#if defined(_WIN32)
        return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
#else
        void* block =
            mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return block == MAP_FAILED ? nullptr : block;
#endif
    }

    bool make_executable(void* block, std::size_t size) noexcept override {
#if defined(_WIN32)
        DWORD previous = 0;
        if (!VirtualProtect(block, size, PAGE_EXECUTE_READ, &previous)) return false;
        return FlushInstructionCache(GetCurrentProcess(), block, size) != 0;
#else
        if (mprotect(block, size, PROT_READ | PROT_EXEC) != 0) return false;
        auto* begin = static_cast<char*>(block);
        __builtin___clear_cache(begin, begin + size);
        return true;
#endif
    }

    void release(void* block, [[maybe_unused]] std::size_t size) noexcept override {
        if (block == nullptr) return;
#if defined(_WIN32)
        VirtualFree(block, 0, MEM_RELEASE);
#else
        munmap(block, size);
#endif
    }
};

}  // namespace

CodeMemory& code_memory() noexcept {
    static PlatformCodeMemory memory;
    return memory;
}

}  // namespace syskit::platform
