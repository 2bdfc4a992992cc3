// The store's failure classes: kills, concurrency, a full disk, read-only, damaged and older files.
// Refusals name the file; soundness is checked on a SQLite connection of the test's own.
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/registry.hpp"
#include "child_process.hpp"
#include "syskit/text.hpp"
#include "test_keys.hpp"

namespace registry_fault_test {
namespace {

namespace fs = std::filesystem;
using namespace syskit::registry::platform;
using registry_test_keys::dword_of;
using registry_test_keys::exit_code;
using registry_test_keys::in_child;
using registry_test_keys::ScratchDir;
using registry_test_keys::set_dword;
using registry_test_keys::spawn;
using registry_test_keys::StoreDirectory;
using registry_test_keys::subkeys;
using Code = syskit::RegistryStatusCode;
using Names = std::vector<std::string>;

// Every entry of a directory with its bytes (empty for anything but a regular file).
std::map<std::string, std::string> snapshot(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        files[entry.path().filename()] =
            entry.is_regular_file() ? std::string(std::istreambuf_iterator<char>(in), {}) : "";
    }
    return files;
}

// The first column of the first row `sql` gives on the file, or SQLite's error message.
std::string raw_query(const fs::path& file, const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string answer;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW) {
        const auto* text = sqlite3_column_text(statement, 0);
        answer = text != nullptr ? reinterpret_cast<const char*>(text) : "";
    } else {
        answer = sqlite3_errmsg(db);
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return answer;
}

std::string integrity(const fs::path& file) { return raw_query(file, "PRAGMA integrity_check"); }

// "name=data;" for each value of a key in the registry's order (the data only when `data`).
std::string listed(Handle key, bool data = false) {
    std::string out;
    char name[64];
    std::uint8_t bytes[64];
    for (Dword i = 0, size = sizeof name, data_size = sizeof bytes;
         RegEnumValueA(key, i, name, &size, nullptr, nullptr, data ? bytes : nullptr,
                       data ? &data_size : nullptr) == kSuccess;
         ++i, size = sizeof name, data_size = sizeof bytes) {
        out += std::string(name, size) + (data ? "=" : "");
        out += std::string(reinterpret_cast<const char*>(bytes), data ? data_size : 0) + ";";
    }
    return out;
}
std::size_t value_count(Handle key) {
    const std::string names = listed(key);
    return static_cast<std::size_t>(std::count(names.begin(), names.end(), ';'));
}

// Whether every call on a root of database `file` answers `result`, with `code`, naming the file.
bool every_call_answers(Handle root, const fs::path& file, Result result, Code code) {
    char name[256];
    Dword size = sizeof name;
    Handle key = 0;
    Refusal why[9];
    const Result results[] = {
        RegOpenKeyExA(root, "Software", 0, kKeyRead, &key, &why[0]),
        RegOpenKeyA(root, "Software", &key, &why[1]),
        RegCreateKeyA(root, "Software\\new", &key, &why[2]),
        RegDeleteKeyA(root, "Software\\fault", &why[3]),
        RegEnumKeyExA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr, &why[4]),
        RegEnumValueA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr, &why[5]),
        RegQueryValueExA(root, "v", nullptr, nullptr, nullptr, nullptr, &why[6]),
        set_dword(root, "v", 1, &why[7]),
        RegDeleteValueA(root, "v", &why[8])};
    bool all = true;
    for (std::size_t i = 0; i < std::size(results); ++i) {
        if (results[i] == result && why[i].code == code && why[i].file == file.string() &&
            why[i].message.find(file.string()) != std::string::npos)
            continue;
        std::printf("call %zu: %d, %s\n", i, results[i], why[i].message.c_str());
        all = false;
    }
    return all;
}

// A writer or import killed at any moment leaves a sound file with a first part of its writes:
// every reported write (and perhaps the one in flight), whole commits of the import.
TEST(Crash, AKilledWriterOrImportLeavesAPrefixOfItsWrites) {
    constexpr Dword kKeys = 300, kValues = 1000;  // an import of about a second: several commits
    ScratchDir files;
    std::string text = "REGEDIT4\r\n\r\n";
    for (Dword k = 0; k < kKeys; ++k) {
        text += "[HKEY_CURRENT_USER\\Software\\import\\k" + std::to_string(k) + "]\r\n";
        for (Dword v = 0; v < kValues; ++v)
            text += "\"v" + std::to_string(v) + "\"=dword:" + std::to_string(v % 10) + "\r\n";
    }
    std::ofstream(files.file("import.reg"), std::ios::binary) << text;
    bool partial = false;  // some kill came between two commits of the import
    // The import's first commit comes after 200 ms.
    for (const auto& [import, delay_ms] : {std::pair{false, 0}, {false, 15}, {false, 60},
                                           {false, 300}, {true, 250}, {true, 450}, {true, 850}}) {
        SCOPED_TRACE((import ? "import killed " : "writer killed ") + std::to_string(delay_ms));
        ScratchDir dir;
        int acks[2];
        ASSERT_EQ(pipe(acks), 0);
        fcntl(acks[1], F_SETPIPE_SZ, 1 << 20);  // room for every report: the writer never waits
        const pid_t writer = fork();
        if (writer == 0) {
            const StoreDirectory store(dir.path());
            if (import) _exit(syskit::clsRegistryAccess().ImportFromReg(files.file("import.reg")));
            Handle key = 0;
            for (Dword i = 0;; ++i) {  // the file's writes, in its order
                const std::string k = "Software\\import\\k" + std::to_string(i / kValues);
                if ((i % kValues == 0 && RegCreateKeyA(kCurrentUser, k.c_str(), &key) != 0) ||
                    set_dword(key, "v" + std::to_string(i % kValues), i % kValues % 10) != 0 ||
                    write(acks[1], &i, sizeof i) != sizeof i)
                    _exit(3);
            }
        }
        close(acks[1]);
        std::size_t reported = 0;
        Dword index = 0;
        if (!import && delay_ms > 0) reported += read(acks[0], &index, 4) == 4;
        usleep(delay_ms > 0 ? delay_ms * 1000 : 2000);  // 2 ms: most likely creating the database
        kill(writer, SIGKILL);
        EXPECT_EQ(exit_code(writer), 128 + SIGKILL);
        while (read(acks[0], &index, 4) == 4) ++reported;
        close(acks[0]);
        std::size_t values = 0;
        EXPECT_TRUE(!fs::exists(dir.file()) || integrity(dir.file()) == "ok");
        const StoreDirectory store(dir.path());  // opened only now, as after a crash
        Handle parent = 0, key = 0;
        const bool any = RegOpenKeyA(kCurrentUser, "Software\\import", &parent) == kSuccess;
        const std::size_t keys = any ? subkeys(parent).size() : 0;
        for (std::size_t k = 0; k < keys; ++k) {  // every key full but the last one there
            ASSERT_EQ(RegOpenKeyA(parent, ("k" + std::to_string(k)).c_str(), &key), 0);
            const std::size_t count = value_count(key);
            EXPECT_TRUE(k + 1 == keys || count == kValues) << k << ": " << count;
            for (std::size_t v = 0; v < count; ++v)
                ASSERT_EQ(dword_of(key, "v" + std::to_string(v)), v % 10) << k;
            values += count;
            RegCloseKey(key);
        }
        RegCloseKey(parent);
        EXPECT_TRUE(import || values == reported || values == reported + 1) << values;
        partial = partial || (import && values > 0 && values < std::size_t{kKeys} * kValues);
    }
    EXPECT_TRUE(partial) << "no kill came in the middle of the import";
}

const std::string kMix = "Software\\fault\\mix";

// A worker's cycles: its own subkey (deleted in odd cycles), its own value in mix\shared, and the
// keys mix\common\c<0..4>\leaf all share; workers "?1" run each cycle in a batch and a snapshot.
void run_mix(const std::string& worker, int cycles) {
    Handle own = 0, shared = 0, key = 0;
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, (kMix + "\\" + worker).c_str(), &own), kSuccess);
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, (kMix + "\\shared").c_str(), &shared), kSuccess);
    int failures = 0, cycle = 0;
    const auto expect = [&](Result got, std::initializer_list<Result> allowed) {
        if (std::find(allowed.begin(), allowed.end(), got) != allowed.end()) return;
        ADD_FAILURE() << worker << " cycle " << cycle << " gave " << got;
        ++failures;
    };
    for (; cycle < cycles && failures < 10; ++cycle) {
        std::optional<WriteBatch> batch;
        std::optional<ReadSnapshot> snapshot;
        if (worker.back() == '1') batch.emplace(), snapshot.emplace();
        const std::string mine = "k" + std::to_string(cycle), value = worker + "-" + mine;
        const std::string common = kMix + "\\common\\c" + std::to_string(cycle % 5);
        expect(RegCreateKeyA(own, mine.c_str(), &key), {kSuccess});
        expect(RegCloseKey(key), {kSuccess});
        expect(set_dword(shared, value, static_cast<Dword>(cycle)), {kSuccess});
        expect(dword_of(shared, value) == cycle ? kSuccess : -1, {kSuccess});
        // The leaf may go at any moment; its parent is denied when another has made it again.
        expect(RegCreateKeyA(kCurrentUser, (common + "\\leaf").c_str(), &key), {kSuccess});
        expect(set_dword(key, worker, 1), {kSuccess, kKeyDeleted});
        RegCloseKey(key);
        if (cycle % 2 == 1) expect(RegDeleteKeyA(own, mine.c_str()), {kSuccess});
        expect(RegDeleteKeyA(kCurrentUser, (common + "\\leaf").c_str()), {kSuccess, kFileNotFound});
        expect(RegDeleteKeyA(kCurrentUser, common.c_str()),
               {kSuccess, kFileNotFound, kAccessDenied});
        snapshot.reset();
        if (batch) expect(batch->finish() ? kSuccess : kRegistryIoFailed, {kSuccess});
    }
    RegCloseKey(own);
    RegCloseKey(shared);
}

// Two processes (the second forked with the database open, outliving the first) of two threads:
// every write is there, nothing deleted is, and nothing raced below a deleted key.
TEST(Concurrency, ProcessesAndThreadsWritingOneDatabaseAllSucceedAndLoseNothing) {
    ScratchDir dir;
    const StoreDirectory store(dir.path());  // only a name: nothing is opened before the fork
    const Names workers = {"p0", "p1", "t0", "t1"};
    constexpr int kCycles = 1000;
    int done[2];  // the second process says whether it failed
    ASSERT_EQ(pipe(done), 0);
    const auto first = [&] {
        Handle key = 0;
        ASSERT_EQ(RegCreateKeyA(kCurrentUser, kMix.c_str(), &key), kSuccess);
        EXPECT_GT(spawn(false, [&] {
            std::thread other(run_mix, workers[3], kCycles);
            run_mix(workers[1], kCycles);
            other.join();
            const char failed = testing::Test::HasFailure() ? 1 : 0;
            if (write(done[1], &failed, 1) != 1) ADD_FAILURE();
        }), 0);
        std::thread other(run_mix, workers[2], kCycles / 4);  // ends well before the second
        run_mix(workers[0], kCycles / 4);
        other.join();
    };
    EXPECT_EQ(in_child(false, first), 0);
    close(done[1]);
    char failed = 1;
    EXPECT_TRUE(read(done[0], &failed, 1) == 1 && failed == 0);
    close(done[0]);
    Handle shared = 0;
    ASSERT_EQ(RegOpenKeyA(kCurrentUser, (kMix + "\\shared").c_str(), &shared), kSuccess);
    EXPECT_EQ(value_count(shared), 2 * kCycles + 2 * (kCycles / 4));
    RegCloseKey(shared);
    for (const std::string& worker : workers) {
        const int cycles = worker.back() == '0' ? kCycles / 4 : kCycles;
        std::set<std::string> kept;  // in the registry's order, too, for these names
        for (int cycle = 0; cycle < cycles; cycle += 2) kept.insert("k" + std::to_string(cycle));
        Handle own = 0;
        ASSERT_EQ(RegOpenKeyA(kCurrentUser, (kMix + "\\" + worker).c_str(), &own), kSuccess);
        EXPECT_EQ(subkeys(own), Names(kept.begin(), kept.end())) << worker;
        RegCloseKey(own);
    }
    EXPECT_EQ(integrity(dir.file()), "ok");
    EXPECT_EQ(raw_query(dir.file(),
                        "SELECT (SELECT count(*) FROM keys WHERE id <> 1 AND parent NOT IN "
                        "(SELECT id FROM keys)) || ' keys, ' || (SELECT count(*) FROM vals WHERE "
                        "key NOT IN (SELECT id FROM keys)) || ' values'"),
              "0 keys, 0 values");
}

// A batch is its thread's: another thread's call commits it first; a forked child starts without.
TEST(Concurrency, ABatchsTransactionIsItsThreadsAlone) {
    ScratchDir dir;
    const StoreDirectory store(dir.path());
    const auto count = [&](const std::string& name) {
        return raw_query(dir.file(), "SELECT count(*) FROM vals WHERE CAST(name AS TEXT) = '" +
                                         name + "'");
    };
    Handle key = 0;
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\fault\\batch", &key), kSuccess);
    WriteBatch batch;
    EXPECT_EQ(set_dword(key, "mine", 1), kSuccess);
    EXPECT_EQ(count("mine"), "0");  // not committed yet
    std::thread([&] {
        EXPECT_EQ(set_dword(key, "theirs", 2), kSuccess);
        EXPECT_EQ(count("theirs") + count("mine"), "11");
        EXPECT_EQ(dword_of(key, "mine"), 1);
    }).join();
    EXPECT_EQ(set_dword(key, "later", 3), kSuccess);
    EXPECT_EQ(in_child(false, [&] {  // handles stay with their process; this batch never ends
        Handle own = 0;
        ASSERT_EQ(RegOpenKeyA(kCurrentUser, "Software\\fault\\batch", &own), 0);
        EXPECT_EQ(set_dword(own, "child", 4), kSuccess);
    }), 0);
    EXPECT_EQ(count("child"), "1");
    Refusal why;
    EXPECT_TRUE(batch.finish(&why)) << why.message;
    EXPECT_EQ(raw_query(dir.file(), "SELECT count(*) FROM vals"), "4");
}

// A full disk (a file-size limit): failed writes and imports say why, nothing committed is lost.
TEST(Full, WritesThatFailSayWhyAndLoseNothingCommittedBefore) {
    ScratchDir dir;
    std::string text = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\full\\import]\r\n";
    for (int i = 0; i < 20000; ++i) text += "\"i" + std::to_string(i) + "\"=dword:1\r\n";
    std::ofstream(dir.file("import.reg"), std::ios::binary) << text;
    const auto writer = [&] {
        const StoreDirectory store(dir.path());
        syskit::clsRegistryAccess reg;
        for (int i = 0; i < 100; ++i)
            ASSERT_NE(reg.WriteDWORD("HKCU\\full", std::to_string(i), i), 0);
        signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        rlimit limit = saved;  // the WAL may grow by 64 KiB more
        const fs::path wal = dir.file().string() + "-wal";
        limit.rlim_cur = std::max(fs::file_size(wal), fs::file_size(dir.file())) + 65536;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const auto says_full = [&](const syskit::RegistryStatus& status) {
            EXPECT_TRUE(status.code == Code::io_error && status.file == dir.file().string() &&
                        status.message.find(dir.file().string()) != std::string::npos)
                << status.message;
        };
        EXPECT_EQ(reg.ImportFromReg(dir.file("import.reg")), 1);
        says_full(reg.LastStatus());
        int written = 0;  // of 16 KiB each, until one fails
        while (written < 20 && reg.WriteBinary("HKCU\\full", "big" + std::to_string(written),
                                               std::string(32766, '5')) != 0)
            ++written;
        EXPECT_LT(written, 20);
        says_full(reg.LastStatus());
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        for (int i = 0; i < 100; ++i) EXPECT_EQ(reg.ReadDWORD("HKCU\\full", std::to_string(i)), i);
        for (int i = 0; i < written; ++i)
            EXPECT_EQ(reg.ReadBinary("HKCU\\full", "big" + std::to_string(i)).size(), 49148u);
        EXPECT_FALSE(reg.ValueExists("HKCU\\full", "big" + std::to_string(written)));
        EXPECT_NE(reg.WriteDWORD("HKCU\\full", "after", 1), 0);
        EXPECT_EQ(reg.ReadDWORD("HKCU\\full", "after"), 1);
    };
    EXPECT_EQ(in_child(false, writer), 0);
    EXPECT_EQ(integrity(dir.file()), "ok");
}

// A database another process wrote (Software\ro: answer = 42, subkey sub; -wal left), then `sql`.
void write_registry(const ScratchDir& dir, const char* sql) {
    ASSERT_EQ(in_child(false, [&] {
        const StoreDirectory store(dir.path());
        Handle key = 0, sub = 0;
        ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\ro\\sub", &sub), kSuccess);
        ASSERT_EQ(RegOpenKeyA(kCurrentUser, "Software\\ro", &key), kSuccess);
        EXPECT_EQ(set_dword(key, "answer", 42), kSuccess);
    }), 0);
    if (*sql != '\0') raw_query(dir.file(), sql);
}

// Parameters: whether the directory is writable, whether the last writer's -wal and -shm are left.
class ReadOnly : public testing::TestWithParam<std::tuple<bool, bool>> {};

// A database the process may only read: reads work, writes are denied as read-only, file unchanged.
TEST_P(ReadOnly, ReadsWorkAndEveryWriteIsDenied) {
    ScratchDir dir;
    const auto [writable, left] = GetParam();
    ASSERT_NO_FATAL_FAILURE(write_registry(dir, left ? "" : "PRAGMA wal_checkpoint(TRUNCATE)"));
    ASSERT_EQ(fs::exists(dir.file().string() + "-wal"), left);
    chmod(dir.file().c_str(), 0444);
    chmod(dir.path().c_str(), writable ? 0777 : 0755);
    const std::string before = snapshot(dir.path())[dir.file().filename()];
    const auto reader = [&] {
        const StoreDirectory store(dir.path());
        Handle key = 0, other = 0;
        ASSERT_EQ(RegOpenKeyA(kCurrentUser, "Software\\ro", &key), kSuccess);
        EXPECT_EQ(dword_of(key, "answer"), 42);
        EXPECT_EQ(subkeys(key), Names{"sub"});
        Refusal why;
        const auto read_only = [&](Result result) {
            EXPECT_TRUE(result == kAccessDenied && why.code == Code::access_denied &&
                        why.file == dir.file().string() &&
                        why.message.find("read-only") != std::string::npos)
                << result << ": " << why.message;
            why = {};
        };
        read_only(RegOpenKeyExA(key, "", 0, kKeyWrite, &other, &why));
        read_only(RegOpenKeyExA(key, "", 0, kSetValue, &other, &why));
        read_only(RegCreateKeyA(key, "new", &other, &why));
        read_only(set_dword(key, "answer", 7, &why));
        read_only(RegDeleteValueA(key, "answer", &why));
        read_only(RegDeleteKeyA(key, "sub", &why));
    };
    EXPECT_EQ(in_child(true, reader), 0);
    EXPECT_TRUE(snapshot(dir.path())[dir.file().filename()] == before) << "the database changed";
}

std::string read_only_name(const testing::TestParamInfo<std::tuple<bool, bool>>& c) {
    return std::string(std::get<0>(c.param) ? "Writable" : "Locked") + "Directory" +
           (std::get<1>(c.param) ? "WriterFilesLeft" : "NoWriterFiles");
}
INSTANTIATE_TEST_SUITE_P(Store, ReadOnly, testing::Combine(testing::Bool(), testing::Bool()),
                         read_only_name);

struct DamagedCase {
    const char* name;
    void (*make)(const ScratchDir&);  // puts the damage at dir.file()
    Result expected;
    Code code;
    bool unprivileged;  // checked as uid 65534
};

using Dir = const ScratchDir&;
const DamagedCase kDamaged[] = {
    {"PlainText", [](Dir dir) { std::ofstream(dir.file()) << "[settings]\nx=1\n"; }, kBadDatabase,
     Code::store_damaged, false},
    {"OtherApplicationsDatabase", [](Dir dir) { raw_query(dir.file(), "CREATE TABLE other(x)"); },
     kBadDatabase, Code::store_damaged, false},
    {"TruncatedRegistryDatabase", [](Dir dir) {
         write_registry(dir, "PRAGMA wal_checkpoint(TRUNCATE)");
         fs::resize_file(dir.file(), fs::file_size(dir.file()) / 2);
     }, kBadDatabase, Code::store_damaged, false},
    {"RegistryDatabaseOfANewerVersion",
     [](Dir dir) { write_registry(dir, "PRAGMA user_version = 3"); }, kBadDatabase,
     Code::store_damaged, false},
    {"DirectoryInPlaceOfTheFile", [](Dir dir) { fs::create_directory(dir.file()); },
     kRegistryIoFailed, Code::io_error, false},
    {"Unreadable", [](Dir dir) { write_registry(dir, ""), chmod(dir.file().c_str(), 0); },
     kAccessDenied, Code::store_unreadable, true},
    {"EmptyAndReadOnly", [](Dir dir) {  // nothing to read, and no right to make it a database
         std::ofstream(dir.file()).flush(), chmod(dir.file().c_str(), 0444);
     }, kBadDatabase, Code::store_damaged, true},
};

class Damaged : public testing::TestWithParam<DamagedCase> {};

// Every call on a damaged, foreign or unreadable file is refused naming it (twice), the file kept.
TEST_P(Damaged, EveryCallIsRefusedAndTheFileIsLeftAlone) {
    const DamagedCase& c = GetParam();
    ScratchDir dir;
    ASSERT_NO_FATAL_FAILURE(c.make(dir));
    chmod(dir.path().c_str(), 0755);
    const auto before = snapshot(dir.path());
    const auto checks = [&] {
        const StoreDirectory store(dir.path());
        for (int round = 0; round < 2; ++round)
            EXPECT_TRUE(every_call_answers(kCurrentUser, dir.file(), c.expected, c.code));
        syskit::clsRegistryAccess reg;
        Names keys;
        for (const auto& [path, count] : {std::pair{"HKCU\\Software", -1}, {"HKCU", 0}}) {
            EXPECT_EQ(reg.EnumKeys(path, keys), count);  // the root opens without a look at it
            EXPECT_EQ(reg.LastStatus().code, c.code);
            EXPECT_NE(reg.LastStatus().message.find(dir.file().string()), std::string::npos);
        }
        EXPECT_EQ(reg.WriteDWORD("HKCU\\Software", "v", 1), 0);
        EXPECT_EQ(reg.LastStatus().file, dir.file().string());
    };
    EXPECT_EQ(c.unprivileged ? in_child(true, checks) : (checks(), 0), 0);
    EXPECT_TRUE(snapshot(dir.path()) == before) << "the refused file or its directory changed";
}

INSTANTIATE_TEST_SUITE_P(Store, Damaged, testing::ValuesIn(kDamaged),
                         [](const auto& c) { return std::string(c.param.name); });

// A Windows-1252 file of an older layout (Software\café: µ = "µ café", bin) is read as it is by a
// reader, also after the first writer converted it in place (UTF-8, upper-case folds: µ's is Μ's).
TEST(OlderLayouts, AWindows1252FileIsReadAsItIsUntilAWriterConvertsIt) {
    const std::string binary("\xE9\xB5\0\xFF", 4);
    ScratchDir dir;
    std::ofstream(dir.file()).flush();  // an empty file the process may write becomes a database
    ASSERT_EQ(in_child(false, [&] {  // a process of its own: this one opens the file only later
        const StoreDirectory store(dir.path());
        Handle key = 0;
        ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\cafe", &key), kSuccess);
        const auto* data = reinterpret_cast<const std::uint8_t*>(binary.data());
        EXPECT_EQ(RegSetValueExA(key, "u", 0, kString, data, 1), kSuccess);
        EXPECT_EQ(RegSetValueExA(key, "bin", 0, kBinary, data, 4), kSuccess);
    }), 0);
    for (const char* sql :
         {"UPDATE keys SET name = x'636166E9', fold = x'00430041004600C9' WHERE name = x'63616665'",
          "UPDATE vals SET name = x'B5', fold = x'00B5', data = x'B520636166E9' WHERE name = x'75'",
          "PRAGMA user_version = 0"})
        raw_query(dir.file(), sql);
    chmod(dir.file().c_str(), 0444);
    chmod(dir.path().c_str(), 0777);
    const std::string before = snapshot(dir.path())[dir.file().filename()];
    // What the calls read in either layout: the thread's code page (é is not in Windows-1251).
    const auto expect_cafe = [&] {
        Handle software = 0, cafe = 0;
        ASSERT_EQ(RegOpenKeyExA(kCurrentUser, "Software", 0, kKeyRead, &software), kSuccess);
        ASSERT_EQ(RegOpenKeyExA(software, "CAF\xC9", 0, kKeyRead, &cafe), kSuccess);
        for (const auto& [page, e] : {std::pair{1252, "\xE9"}, {1251, "?"}}) {
            syskit::text::set_code_page(page);
            EXPECT_EQ(subkeys(software), Names{std::string("caf") + e}) << page;
            EXPECT_EQ(listed(cafe, true),
                      "\xB5=\xB5 caf" + std::string(e) + '\0' + ";bin=" + binary + ";");
        }
        syskit::text::set_code_page(0);
        Dword size = 0;
        EXPECT_EQ(RegQueryValueExA(cafe, "\xB5", nullptr, nullptr, nullptr, &size), kSuccess);
        EXPECT_EQ(size, 7u);
    };
    int ready[2], converted[2];
    ASSERT_EQ(pipe(ready) | pipe(converted), 0);
    const pid_t reader = spawn(true, [&] {
        close(converted[1]);
        const StoreDirectory store(dir.path());
        expect_cafe();
        char byte = 0;
        if (write(ready[1], &byte, 1) != 1 || read(converted[0], &byte, 1) != 0) _exit(2);
        expect_cafe();
    });
    close(ready[1]);
    close(converted[0]);
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    EXPECT_TRUE(snapshot(dir.path())[dir.file().filename()] == before) << "the reader changed it";
    // The writer may write the file, and the -shm the reader made with the file's mode.
    for (const auto& entry : fs::directory_iterator(dir.path())) chmod(entry.path().c_str(), 0644);
    std::optional<StoreDirectory> writer(dir.path());
    expect_cafe();
    writer.reset();
    close(converted[1]);
    EXPECT_EQ(exit_code(reader), 0);
    EXPECT_EQ(raw_query(dir.file(),
                        "SELECT (SELECT user_version FROM pragma_user_version) || ', ' || (SELECT"
                        " hex(name) || ' ' || hex(fold) FROM keys WHERE id = 3) || ', ' ||"
                        " group_concat(hex(name) || ' ' || hex(fold) || ' ' || hex(data), ', ')"
                        " FROM vals"),
              "2, 636166C3A9 00430041004600C9, "
              "62696E 00420049004E E9B500FF, C2B5 039C C2B520636166C3A9");
}

}  // namespace
}  // namespace registry_fault_test
