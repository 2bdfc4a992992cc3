// Fault tests of the embedded registry store: writers killed in the middle of their work, several
// processes and threads writing one database at once, databases the process may only read or not
// read at all, and files under a database's name that are damaged or belong to something else.
//
// Each case works in a fresh directory. Writers run in forked children; the test process opens
// a directory only after the children that use it have started (or are gone), so that it reads
// their work as any other process would. Permission cases drop to uid 65534 in the child when run
// as root, since root passes every permission check. What the store promised is read back through
// the call surface, and each file's soundness through a SQLite connection of the test's own.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/registry.hpp"

namespace registry_fault_test {
namespace {

namespace fs = std::filesystem;
using namespace syskit::registry::platform;
using syskit::registry::last_store_error;
using syskit::registry::set_store_directory;

class ScratchDir {
  public:
    ScratchDir() {
        char pattern[] = "/tmp/syskit-fault-XXXXXX";
        if (mkdtemp(pattern) != nullptr) path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code error;
        fs::permissions(path_, fs::perms::owner_all, error);  // a test may have locked it
        fs::remove_all(path_, error);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path file(const char* name = "HKEY_CURRENT_USER.db") const { return path_ / name; }

  private:
    fs::path path_;
};

// Forks a child that runs `body`, as uid 65534 when `unprivileged` and running as root, and
// exits 0 only if it recorded no failure (its failures are printed as it makes them).
pid_t spawn(bool unprivileged, const std::function<void()>& body) {
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)) {
        _exit(90);
    }
    body();
    std::fflush(stdout);
    _exit(testing::Test::HasFailure() ? 1 : 0);
}

int exit_code(pid_t pid) {
    int status = 0;
    if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int in_child(bool unprivileged, const std::function<void()>& body) {
    return exit_code(spawn(unprivileged, body));
}

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

// The first column of the first row `sql` gives on the file, or SQLite's error message. Closing
// the last connection to a database checkpoints it and removes its -wal and -shm.
std::string raw_query(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::string answer;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) ==
            SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK &&
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

Result set_dword(Handle key, const std::string& name, Dword value) {
    std::uint8_t data[4];
    std::memcpy(data, &value, 4);
    return RegSetValueExA(key, name.c_str(), 0, kDword, data, 4);
}

// The DWORD value `name` of `key`, or -1 when it cannot be read as one.
std::int64_t dword_of(Handle key, const std::string& name) {
    Dword type = 0, value = 0, size = 4;
    const Result r = RegQueryValueExA(key, name.c_str(), nullptr, &type,
                                      reinterpret_cast<std::uint8_t*>(&value), &size);
    return r == kSuccess && type == kDword && size == 4 ? std::int64_t{value} : -1;
}

std::set<std::string> subkeys(Handle key) {
    std::set<std::string> names;
    char name[256];
    for (Dword i = 0, size = sizeof name;
         RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == kSuccess;
         ++i, size = sizeof name) {
        names.emplace(name, size);
    }
    return names;
}

Dword value_count(Handle key) {
    Dword count = 0;
    char name[64];
    for (Dword size = sizeof name;
         RegEnumValueA(key, count, name, &size, nullptr, nullptr, nullptr, nullptr) == kSuccess;
         size = sizeof name) {
        ++count;
    }
    return count;
}

constexpr const char* kCalls[] = {
    "RegOpenKeyExA", "RegOpenKeyA",      "RegCreateKeyA",  "RegDeleteKeyA",   "RegEnumKeyExA",
    "RegEnumValueA", "RegQueryValueExA", "RegSetValueExA", "RegDeleteValueA",
};

// What each call of kCalls answers on a root key, by call name.
std::map<std::string, Result> answers_on(Handle root) {
    char name[256];
    Dword size = sizeof name;
    Handle key = 0;
    const Result results[] = {
        RegOpenKeyExA(root, "Software", 0, kKeyRead, &key),
        RegOpenKeyA(root, "Software", &key),
        RegCreateKeyA(root, "Software\\new", &key),
        RegDeleteKeyA(root, "Software\\fault"),
        RegEnumKeyExA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
        RegEnumValueA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
        RegQueryValueExA(root, "v", nullptr, nullptr, nullptr, nullptr),
        set_dword(root, "v", 1),
        RegDeleteValueA(root, "v"),
    };
    std::map<std::string, Result> answers;
    for (std::size_t i = 0; i < std::size(kCalls); ++i) answers[kCalls[i]] = results[i];
    return answers;
}

std::map<std::string, Result> every_call_answers(Result result) {
    std::map<std::string, Result> answers;
    for (const char* call : kCalls) answers[call] = result;
    return answers;
}

// --- A writer killed at any moment loses nothing it reported written ---------------------------

TEST(Crash, AKilledWriterLosesNoWriteItReported) {
    for (const int delay_ms : {0, 15, 60, 150, 300}) {
        SCOPED_TRACE("killed " + std::to_string(delay_ms) + " ms after its first write");
        ScratchDir dir;
        set_store_directory(dir.path());
        int acks[2];
        ASSERT_EQ(pipe(acks), 0);
        fcntl(acks[1], F_SETPIPE_SZ, 1 << 20);  // room for every report: the writer never waits
        const pid_t writer = fork();
        if (writer == 0) {  // reports each write whose call returned success
            Handle key = 0;
            if (RegCreateKeyA(kCurrentUser, "Software\\fault\\crash", &key) != kSuccess) _exit(2);
            for (Dword i = 0; set_dword(key, "v" + std::to_string(i), i) == kSuccess; ++i) {
                if (write(acks[1], &i, sizeof i) != sizeof i) _exit(4);
            }
            _exit(3);
        }
        close(acks[1]);
        std::vector<Dword> acknowledged;
        Dword index = 0;
        if (delay_ms > 0) {
            ASSERT_EQ(read(acks[0], &index, 4), 4) << "the writer never wrote";
            acknowledged.push_back(index);
        }
        usleep(delay_ms > 0 ? delay_ms * 1000 : 2000);  // 2 ms: most likely creating the database
        kill(writer, SIGKILL);
        EXPECT_EQ(exit_code(writer), 128 + SIGKILL);
        while (read(acks[0], &index, 4) == 4) acknowledged.push_back(index);
        close(acks[0]);

        // This process has no connection to the directory yet: it recovers the file as any
        // process starting after the crash would.
        Handle key = 0;
        const Result opened =
            RegOpenKeyExA(kCurrentUser, "Software\\fault\\crash", 0, kKeyRead, &key);
        if (acknowledged.empty() && opened == kFileNotFound) continue;
        ASSERT_EQ(opened, kSuccess) << last_store_error();
        for (Dword i = 0; i < acknowledged.size(); ++i) {
            ASSERT_EQ(acknowledged[i], i);
            ASSERT_EQ(dword_of(key, "v" + std::to_string(i)), i);
        }
        // Only the write in flight when the kill came may be there without its report.
        const Dword stored = value_count(key);
        EXPECT_TRUE(stored == acknowledged.size() || stored == acknowledged.size() + 1)
            << stored << " values stored, " << acknowledged.size() << " reported";
        RegCloseKey(key);
        EXPECT_EQ(raw_query(dir.file(), "PRAGMA integrity_check"), "ok");
    }
    set_store_directory({});
}

// --- Many writers at once ----------------------------------------------------------------------

const std::string kMix = "Software\\fault\\mix";

// A key that all workers create, write and delete: mix\common\c<cycle % 5>\leaf.
std::string common(int cycle) {
    return kMix + "\\common\\c" + std::to_string(cycle % 5) + "\\leaf";
}

// One worker's share of a mixed load, in cycles of ten calls: subkeys of its own below
// mix\<worker> (those of odd cycles deleted again), values of its own in the shared key
// mix\shared, and the common keys. Each call must give the answer its worker's history allows,
// or for the common keys one that another worker's history explains.
void run_mix(const std::string& worker, int operations) {
    Handle own = 0, shared = 0;
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, (kMix + "\\" + worker).c_str(), &own), kSuccess)
        << last_store_error();
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, (kMix + "\\shared").c_str(), &shared), kSuccess);
    int failures = 0;
    const auto expect = [&](Result got, std::initializer_list<Result> allowed, int n) {
        if (std::find(allowed.begin(), allowed.end(), got) != allowed.end()) return;
        ADD_FAILURE() << worker << " call " << n << " gave " << got << " " << last_store_error();
        ++failures;
    };
    for (int n = 0; n < operations && failures < 10; ++n) {
        const int cycle = n / 10;
        const std::string mine = "k" + std::to_string(cycle);
        const std::string leaf = common(n % 10 == 7 ? cycle + 2 : cycle);
        Handle key = 0;
        switch (n % 10) {
            case 0:
                expect(RegCreateKeyA(own, mine.c_str(), &key), {kSuccess}, n);
                expect(set_dword(key, "n", static_cast<Dword>(n)), {kSuccess}, n);
                expect(RegCloseKey(key), {kSuccess}, n);
                break;
            case 1:
                expect(set_dword(shared, worker + "-" + std::to_string(n), static_cast<Dword>(n)),
                       {kSuccess}, n);
                break;
            case 2:
                expect(dword_of(shared, worker + "-" + std::to_string(n - 1)) == n - 1 ? 0 : -1,
                       {kSuccess}, n);
                break;
            case 3:  // another worker may delete it at any moment, but the create never fails
                expect(RegCreateKeyA(kCurrentUser, leaf.c_str(), &key), {kSuccess}, n);
                expect(set_dword(key, worker, static_cast<Dword>(n)), {kSuccess, kKeyDeleted}, n);
                RegCloseKey(key);
                break;
            case 4:
                if (cycle % 2 == 1) expect(RegDeleteKeyA(own, mine.c_str()), {kSuccess}, n);
                break;
            case 5:
                expect(RegOpenKeyExA(own, mine.c_str(), 0, kKeyRead, &key),
                       {cycle % 2 == 1 ? kFileNotFound : kSuccess}, n);
                RegCloseKey(key);
                break;
            case 6:
                expect(set_dword(own, "tmp", 1), {kSuccess}, n);
                expect(RegDeleteValueA(own, "tmp"), {kSuccess}, n);
                expect(RegDeleteValueA(own, "tmp"), {kFileNotFound}, n);
                break;
            case 7:  // the parent is denied when another worker has just made the leaf again
                expect(RegDeleteKeyA(kCurrentUser, leaf.c_str()), {kSuccess, kFileNotFound}, n);
                expect(RegDeleteKeyA(kCurrentUser, leaf.substr(0, leaf.rfind('\\')).c_str()),
                       {kSuccess, kFileNotFound, kAccessDenied}, n);
                break;
            case 8:
                if (cycle % 10 == 9) {
                    expect(subkeys(own).size() == (cycle + 2) / 2u ? 0 : -1, {kSuccess}, n);
                }
                break;
        }
    }
    RegCloseKey(own);
    RegCloseKey(shared);
}

// Checks that everything the workers wrote is there and nothing they deleted is.
void check_mix(const std::vector<std::string>& workers, int operations) {
    Handle shared = 0;
    ASSERT_EQ(RegOpenKeyExA(kCurrentUser, (kMix + "\\shared").c_str(), 0, kKeyRead, &shared),
              kSuccess);
    EXPECT_EQ(value_count(shared), workers.size() * static_cast<std::size_t>(operations / 10));
    for (const std::string& worker : workers) {
        Handle own = 0;
        ASSERT_EQ(RegOpenKeyExA(kCurrentUser, (kMix + "\\" + worker).c_str(), 0, kKeyRead, &own),
                  kSuccess);
        std::set<std::string> kept;
        for (int n = 0; n < operations; n += 10) {
            if (n / 10 % 2 == 0) kept.insert("k" + std::to_string(n / 10));
            EXPECT_EQ(dword_of(shared, worker + "-" + std::to_string(n + 1)), n + 1);
        }
        EXPECT_EQ(subkeys(own), kept) << worker;
        EXPECT_EQ(value_count(own), 0u) << worker;
        RegCloseKey(own);
    }
    RegCloseKey(shared);
}

TEST(Concurrency, ProcessesWritingOneDatabaseAllSucceedAndLoseNothing) {
    ScratchDir dir;
    set_store_directory(dir.path());  // only a name: nothing is opened before the children start
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    const std::vector<std::string> workers = {"p0", "p1", "p2", "p3"};
    std::vector<pid_t> children;
    for (const std::string& worker : workers) {
        children.push_back(spawn(false, [&] {
            close(start[1]);
            char go = 0;
            if (read(start[0], &go, 1) == 0) run_mix(worker, 5000);  // all at once, from the start
        }));
    }
    close(start[0]);
    close(start[1]);
    for (const pid_t child : children) EXPECT_EQ(exit_code(child), 0);
    check_mix(workers, 5000);
    EXPECT_EQ(raw_query(dir.file(), "PRAGMA integrity_check"), "ok");
    // A create or a write that raced a delete must not leave a key or a value below a deleted
    // key, where no call reaches it.
    EXPECT_EQ(raw_query(dir.file(),
                        "SELECT (SELECT count(*) FROM keys WHERE id <> 1 AND parent NOT IN "
                        "(SELECT id FROM keys)) || ' keys, ' || (SELECT count(*) FROM vals WHERE "
                        "key NOT IN (SELECT id FROM keys)) || ' values'"),
              "0 keys, 0 values");
    set_store_directory({});
}

TEST(Concurrency, ThreadsOfOneProcessAllSucceedAndLoseNothing) {
    ScratchDir dir;
    set_store_directory(dir.path());
    const std::vector<std::string> workers = {"t0", "t1", "t2", "t3"};
    std::vector<std::thread> threads;
    for (const std::string& worker : workers) threads.emplace_back(run_mix, worker, 2000);
    for (std::thread& thread : threads) thread.join();
    check_mix(workers, 2000);
    EXPECT_EQ(raw_query(dir.file(), "PRAGMA integrity_check"), "ok");
    set_store_directory({});
}

TEST(Concurrency, AChildThatOutlivesItsParentKeepsItsWrites) {
    ScratchDir dir;
    // Every process closes the pipe ends it does not use, so that one that dies ends the wait of
    // the others instead of hanging them.
    int ready[2], go[2], done[2];
    ASSERT_EQ(pipe(ready) | pipe(go) | pipe(done), 0);
    const pid_t parent = spawn(false, [&] {
        close(go[1]);
        close(done[0]);
        set_store_directory(dir.path());
        Handle key = 0;
        ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\fault\\fork", &key), kSuccess);
        EXPECT_EQ(set_dword(key, "parent", 1), kSuccess);
        if (fork() == 0) {  // uses the database its parent has open, and goes on after it ends
            close(ready[0]);
            EXPECT_EQ(RegCreateKeyA(kCurrentUser, "Software\\fault\\fork", &key), kSuccess);
            EXPECT_EQ(set_dword(key, "child", 1), kSuccess);
            char byte = 0;
            if (write(ready[1], &byte, 1) != 1 || read(go[0], &byte, 1) != 0) _exit(2);
            for (Dword i = 0; i < 50; ++i) EXPECT_EQ(set_dword(key, std::to_string(i), i), 0);
            byte = testing::Test::HasFailure() ? 1 : 0;
            _exit(write(done[1], &byte, 1) == 1 ? 0 : 2);
        }
        close(ready[1]);
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
    });
    for (const int fd : {ready[0], ready[1], go[0], done[1]}) close(fd);
    ASSERT_EQ(exit_code(parent), 0);
    // Another program reads the database and closes it while the child has it open: it must see
    // the child's connection and leave the -wal alone.
    EXPECT_EQ(raw_query(dir.file(), "SELECT count(*) FROM vals"), "2");
    close(go[1]);  // the child goes on
    char byte = 1;
    EXPECT_EQ(read(done[0], &byte, 1), 1);
    EXPECT_EQ(byte, 0);
    close(done[0]);
    set_store_directory(dir.path());
    Handle key = 0;
    ASSERT_EQ(RegOpenKeyExA(kCurrentUser, "Software\\fault\\fork", 0, kKeyRead, &key), kSuccess);
    EXPECT_EQ(value_count(key), 52u);
    RegCloseKey(key);
    set_store_directory({});
}

// --- Databases the process may not write or read -----------------------------------------------

const char* const kMachineKey = "Software\\fault\\ro";

// Writes HKLM\Software\fault\ro (value answer = 42, subkey sub) from a process that ends
// without closing, as every writer does: its -wal and -shm stay behind.
void write_machine_database(const ScratchDir& dir) {
    const auto writer = [&] {
        set_store_directory(dir.path());
        Handle key = 0, sub = 0;
        ASSERT_EQ(RegCreateKeyA(kLocalMachine, kMachineKey, &key), kSuccess);
        EXPECT_EQ(set_dword(key, "answer", 42), kSuccess);
        EXPECT_EQ(RegCreateKeyA(key, "sub", &sub), kSuccess);
    };
    ASSERT_EQ(in_child(false, writer), 0);
}

struct ReadOnlyCase {
    const char* name;
    bool directory_writable;
    bool writer_files_left;  // the -wal and -shm of the last writer are still there
};

void PrintTo(const ReadOnlyCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadOnly : public testing::TestWithParam<ReadOnlyCase> {};

TEST_P(ReadOnly, ReadsWorkAndEveryWriteIsDenied) {
    ScratchDir dir;
    ASSERT_NO_FATAL_FAILURE(write_machine_database(dir));
    const fs::path file = dir.file("HKEY_LOCAL_MACHINE.db");
    if (!GetParam().writer_files_left) raw_query(file, "PRAGMA wal_checkpoint(TRUNCATE)");
    ASSERT_EQ(fs::exists(file.string() + "-wal"), GetParam().writer_files_left);
    chmod(file.c_str(), 0444);
    chmod(dir.path().c_str(), GetParam().directory_writable ? 0777 : geteuid() == 0 ? 0755 : 0555);
    const std::string before = snapshot(dir.path())[file.filename()];
    const auto checks = [&] {
        set_store_directory(dir.path());
        Handle key = 0;
        ASSERT_EQ(RegOpenKeyExA(kLocalMachine, kMachineKey, 0, kKeyRead, &key), kSuccess)
            << last_store_error();
        EXPECT_EQ(dword_of(key, "answer"), 42);
        EXPECT_EQ(subkeys(key), std::set<std::string>{"sub"});
        RegCloseKey(key);
        for (const Access access : {kKeyWrite, kKeyAllAccess, kSetValue}) {
            EXPECT_EQ(RegOpenKeyExA(kLocalMachine, kMachineKey, 0, access, &key), kAccessDenied);
        }
        EXPECT_EQ(RegCreateKeyA(kLocalMachine, "Software\\fault\\ro\\new", &key), kAccessDenied);
        ASSERT_EQ(RegOpenKeyA(kLocalMachine, kMachineKey, &key), kSuccess);
        EXPECT_EQ(set_dword(key, "answer", 7), kAccessDenied);
        EXPECT_EQ(RegDeleteValueA(key, "answer"), kAccessDenied);
        EXPECT_EQ(RegDeleteKeyA(key, "sub"), kAccessDenied);
        EXPECT_EQ(dword_of(key, "answer"), 42);
        RegCloseKey(key);
    };
    EXPECT_EQ(in_child(true, checks), 0);
    EXPECT_TRUE(snapshot(dir.path())[file.filename()] == before) << "the database changed";
}

INSTANTIATE_TEST_SUITE_P(
    Store, ReadOnly,
    testing::Values(ReadOnlyCase{"WritableDirectory", true, false},
                    ReadOnlyCase{"WritableDirectoryWriterFilesLeft", true, true},
                    ReadOnlyCase{"LockedDirectoryWriterFilesLeft", false, true},
                    ReadOnlyCase{"LockedDirectoryNoWriterFiles", false, false}),
    [](const testing::TestParamInfo<ReadOnlyCase>& param) { return param.param.name; });

TEST(Unreadable, EveryCallIsDeniedAndAnEmptyReadOnlyFileIsRefused) {
    ScratchDir dir;
    ASSERT_NO_FATAL_FAILURE(write_machine_database(dir));
    chmod(dir.file("HKEY_LOCAL_MACHINE.db").c_str(), 0000);
    std::ofstream(dir.file("HKEY_USERS.db")).flush();
    chmod(dir.file("HKEY_USERS.db").c_str(), 0444);
    chmod(dir.path().c_str(), 0755);
    const auto checks = [&] {
        set_store_directory(dir.path());
        EXPECT_EQ(answers_on(kLocalMachine), every_call_answers(kAccessDenied));
        Handle key = 0;
        EXPECT_EQ(RegOpenKeyExA(kLocalMachine, kMachineKey, 0, kKeyWrite, &key), kAccessDenied);
        // Nothing to read, and no right to make it a database.
        EXPECT_EQ(answers_on(kUsers), every_call_answers(kBadDatabase));
        EXPECT_NE(last_store_error().find(dir.file("HKEY_USERS.db").string()), std::string::npos);
    };
    EXPECT_EQ(in_child(true, checks), 0);
    EXPECT_EQ(fs::file_size(dir.file("HKEY_USERS.db")), 0u);
}

// --- Damaged files and files of other programs ------------------------------------------------

struct DamagedCase {
    const char* name;
    void (*make)(const ScratchDir&);  // puts the damage at dir.file()
    Result expected;
};

void write_truncated_registry(const ScratchDir& dir) {
    const auto writer = [&] {
        set_store_directory(dir.path());
        for (Dword i = 0; i < 300; ++i)
            EXPECT_EQ(set_dword(kCurrentUser, std::string(200, 'x') + std::to_string(i), i), 0);
    };
    ASSERT_EQ(in_child(false, writer), 0);
    raw_query(dir.file(), "PRAGMA wal_checkpoint(TRUNCATE)");
    fs::resize_file(dir.file(), fs::file_size(dir.file()) / 2);
}

const DamagedCase kDamaged[] = {
    {"PlainText",
     [](const ScratchDir& dir) { std::ofstream(dir.file()) << "[settings]\nnot a database\n"; },
     kBadDatabase},
    {"OtherApplicationsDatabase",
     [](const ScratchDir& dir) { raw_query(dir.file(), "CREATE TABLE other(x)"); }, kBadDatabase},
    {"TruncatedRegistryDatabase", write_truncated_registry, kBadDatabase},
    {"DirectoryInPlaceOfTheFile", [](const ScratchDir& dir) { fs::create_directory(dir.file()); },
     kRegistryIoFailed},
};

void PrintTo(const DamagedCase& c, std::ostream* out) {
    *out << c.name;
}

class Damaged : public testing::TestWithParam<DamagedCase> {};

TEST_P(Damaged, EveryCallIsRefusedAndTheFileIsLeftAlone) {
    ScratchDir dir;
    ASSERT_NO_FATAL_FAILURE(GetParam().make(dir));
    const auto before = snapshot(dir.path());
    set_store_directory(dir.path());
    for (int round = 0; round < 2; ++round) {  // a refused database is not kept as if it were good
        EXPECT_EQ(answers_on(kCurrentUser), every_call_answers(GetParam().expected));
        EXPECT_NE(last_store_error().find(dir.file().string()), std::string::npos)
            << last_store_error();
    }
    set_store_directory({});
    EXPECT_TRUE(snapshot(dir.path()) == before) << "the refused file or its directory changed";
    // A process forked now starts with a store of its own, whatever its parent was refused.
    ScratchDir elsewhere;
    const auto child = [&] {
        set_store_directory(elsewhere.path());
        EXPECT_EQ(set_dword(kCurrentUser, "v", 1), kSuccess) << last_store_error();
    };
    EXPECT_EQ(in_child(false, child), 0);
}

INSTANTIATE_TEST_SUITE_P(Store, Damaged, testing::ValuesIn(kDamaged),
                         [](const testing::TestParamInfo<DamagedCase>& param) {
                             return param.param.name;
                         });

TEST(Damaged, AnEmptyWritableFileBecomesARegistryDatabase) {
    ScratchDir dir;
    std::ofstream(dir.file()).flush();
    set_store_directory(dir.path());
    Handle key = 0;
    EXPECT_EQ(RegOpenKeyExA(kCurrentUser, "Software", 0, kKeyRead, &key), kFileNotFound);
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\fault", &key), kSuccess) << last_store_error();
    EXPECT_EQ(set_dword(key, "v", 9), kSuccess);
    EXPECT_EQ(dword_of(key, "v"), 9);
    RegCloseKey(key);
    set_store_directory({});
    EXPECT_EQ(raw_query(dir.file(), "PRAGMA integrity_check"), "ok");
}

TEST(Damaged, ARegistryDirectoryThatIsAFileIsAnIoFailure) {
    ScratchDir dir;
    std::ofstream(dir.file("registry")) << "not a directory";
    set_store_directory(dir.file("registry"));
    EXPECT_EQ(answers_on(kCurrentUser), every_call_answers(kRegistryIoFailed));
    EXPECT_NE(last_store_error().find(dir.file("registry").string()), std::string::npos);
    set_store_directory({});
}

}  // namespace
}  // namespace registry_fault_test
