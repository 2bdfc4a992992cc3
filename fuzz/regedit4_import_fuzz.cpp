// ImportFromReg on arbitrary files, into a scratch registry: any input gives 0 or 1 and leaves a
// registry that can still be listed and exported; nothing crashes, hangs or raises.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "syskit/registry.hpp"

namespace {

std::filesystem::path scratch_dir;

void remove_scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_dir, ignored);
}

const std::filesystem::path& scratch() {
    if (scratch_dir.empty()) {
        char pattern[] = "/tmp/syskit-fuzz-regedit4-XXXXXX";
        if (mkdtemp(pattern) == nullptr) std::abort();
        scratch_dir = pattern;
        syskit::registry::set_store_directory(scratch_dir / "registry");
        std::atexit(remove_scratch);
    }
    return scratch_dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = (scratch() / "input.reg").string();
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) std::abort();
    std::fwrite(data, 1, size, out);
    std::fclose(out);

    syskit::clsRegistryAccess reg;
    const std::int32_t result = reg.ImportFromReg(file);
    if (result != 0 && result != 1) std::abort();
    if (!reg.CreateKeyIfDoesntExists()) std::abort();
    std::vector<std::string> keys;
    if (reg.EnumKeys("HKCU", keys) < 0) std::abort();
    const std::string exported = (scratch() / "export.reg").string();
    std::filesystem::remove(exported);
    if (reg.ExportToReg("HKCU", exported) != 1) std::abort();
    return 0;
}
