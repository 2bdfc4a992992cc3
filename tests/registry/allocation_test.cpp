// ImportFromReg, WriteString, ReadString and EnumKeys with their n-th allocation failing, for
// every n: each answers right or fails cleanly (a by-value answer or error 7, with a status that
// says why), nothing leaks (ASan), and the calls after a failure on the same object answer right.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "registry/test_keys.hpp"
#include "support/heap_counter.hpp"
#include "syskit/error.hpp"
#include "syskit/registry.hpp"

namespace {

using syskit::RegistryStatusCode;

constexpr const char* kKey = "HKCU\\Software\\syskit-allocation";
constexpr const char* kRegFile =
    "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\syskit-allocation]\r\n"
    "\"Imported\"=\"imported text\"\r\n\"Number\"=dword:0000002a\r\n\"Bytes\"=hex:01,02,ff\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\syskit-allocation\\One]\r\n@=\"default value\"\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\syskit-allocation\\Two]\r\n\"A\"=\"\"\r\n";

// How each call ended: 'r' right, 'w' wrong, '7' the out-of-memory error, 'x' another exception.
struct Outcome {
    char end[4] = {};
    RegistryStatusCode code[4] = {};
};

// The four calls on one object, the n-th allocation after their arguments are made failing.
Outcome attempt(const std::string& reg_file, std::size_t n) {
    Outcome o;
    syskit::clsRegistryAccess reg;
    std::string paths[] = {kKey, kKey, kKey}, names[] = {"Written", "Imported"};
    std::string value = "a value", fallback = "default";
    const std::vector<std::string> subkeys = {"One", "Two"};
    std::vector<std::string> listed;
    const auto run = [&](int i, auto call) {
        try {
            o.end[i] = call() ? 'r' : 'w';
        } catch (const syskit::OutOfMemoryError&) {
            o.end[i] = '7';
        } catch (...) {
            o.end[i] = 'x';
        }
        o.code[i] = reg.LastStatus().code;
    };
    heap_counter::fail_allocation(n);  // the arguments move into the calls without allocating
    run(0, [&] { return reg.ImportFromReg(reg_file) == 1; });
    run(1, [&] {
        return reg.WriteString(std::move(paths[0]), std::move(names[0]), std::move(value)) != 0;
    });
    run(2, [&] {
        return reg.ReadString(std::move(paths[1]), std::move(names[1]), fallback) ==
               "imported text";
    });
    run(3, [&] { return reg.EnumKeys(std::move(paths[2]), listed) == 2 && listed == subkeys; });
    return o;
}

TEST(AllocationFailure, ImportAndStoreCallsFailCleanlyAndTheRegistryStaysUsable) {
    const registry_test_keys::ScratchDir scratch;
    const registry_test_keys::StoreDirectory store(scratch.path() / "registry");
    const std::string reg_file = (scratch.path() / "import.reg").string();
    std::ofstream(reg_file, std::ios::binary) << kRegFile;
    ASSERT_EQ(syskit::clsRegistryAccess().ImportFromReg(reg_file), 1);  // what the calls expect

    std::size_t failed_calls = 0;
    const std::size_t runs = heap_counter::for_each_failing_allocation(
        [&](std::size_t n) { return attempt(reg_file, n); },
        [&](const Outcome& o, std::size_t n, bool reached) {
            int failures = 0;
            for (int i = 0; i < 4; ++i) {
                const bool failed = o.end[i] != 'r';
                EXPECT_NE(o.end[i], 'x') << "call " << i << ", allocation " << n;
                EXPECT_TRUE(!failed || o.code[i] != RegistryStatusCode::ok) << i << ", " << n;
                failures += failed;
            }
            EXPECT_LE(failures, reached ? 1 : 0) << "allocation " << n;  // the others answer right
            failed_calls += std::size_t(failures);
        });
    EXPECT_GT(runs, 20u);  // the switch reached the calls' allocations
    EXPECT_GT(failed_calls, 0u);
    syskit::clsRegistryAccess reg;
    EXPECT_EQ(reg.ReadString(kKey, "Written"), "a value");
    EXPECT_EQ(reg.ReadDWORD(kKey, "Number"), 42);
    EXPECT_EQ(reg.ReadBinary(kKey, "Bytes"), "01 02 FF");
    EXPECT_EQ(reg.ReadString(std::string(kKey) + "\\One", ""), "default value");
}

}  // namespace
