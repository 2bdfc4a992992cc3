// Fault tests of the embedded registry store: writers and imports killed in the middle of their
// work, several processes and threads writing one database at once (in batches too), a batch whose
// commit meets a full disk, databases the process may only read or not read at all, files of an
// older layout, and files under a database's name that are damaged, of a newer version or belong
// to something else. The Refusal of every refused call must say why and name the file.
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
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "registry/platform.hpp"
#include "syskit/registry.hpp"
#include "syskit/text.hpp"

namespace registry_fault_test {
namespace {

namespace fs = std::filesystem;
using namespace syskit::registry::platform;
using syskit::RegistryStatusCode;
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

// The first column of every row `sql` gives on the file, as text.
std::set<std::string> raw_rows(const fs::path& file, const char* sql) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    std::set<std::string> rows;
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
        sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
            rows.emplace(reinterpret_cast<const char*>(sqlite3_column_text(statement, 0)));
        }
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return rows;
}

Result set_dword(Handle key, const std::string& name, Dword value, Refusal* why = nullptr) {
    std::uint8_t data[4];
    std::memcpy(data, &value, 4);
    return RegSetValueExA(key, name.c_str(), 0, kDword, data, 4, why);
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

// A call's result and the Refusal it gave, reduced to its code and whether it named `file`, the
// database concerned, in its message and its file.
struct Answer {
    Result result;
    RegistryStatusCode code;
    bool names_file;
    bool operator==(const Answer&) const = default;
};

void PrintTo(const Answer& a, std::ostream* out) {
    *out << a.result << "/" << static_cast<int>(a.code) << (a.names_file ? "" : "/unnamed");
}

// What each call of kCalls answers on a root key whose database is `file`, by call name.
std::map<std::string, Answer> answers_on(Handle root, const fs::path& file) {
    char name[256];
    Dword size = sizeof name;
    Handle key = 0;
    Refusal why[std::size(kCalls)];
    const Result results[] = {
        RegOpenKeyExA(root, "Software", 0, kKeyRead, &key, &why[0]),
        RegOpenKeyA(root, "Software", &key, &why[1]),
        RegCreateKeyA(root, "Software\\new", &key, &why[2]),
        RegDeleteKeyA(root, "Software\\fault", &why[3]),
        RegEnumKeyExA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr, &why[4]),
        RegEnumValueA(root, 0, name, &size, nullptr, nullptr, nullptr, nullptr, &why[5]),
        RegQueryValueExA(root, "v", nullptr, nullptr, nullptr, nullptr, &why[6]),
        set_dword(root, "v", 1, &why[7]),
        RegDeleteValueA(root, "v", &why[8]),
    };
    std::map<std::string, Answer> answers;
    for (std::size_t i = 0; i < std::size(kCalls); ++i) {
        const bool named =
            why[i].file == file.string() && why[i].message.find(file.string()) != std::string::npos;
        answers[kCalls[i]] = {results[i], why[i].code, named};
        if (!named) std::printf("%s: %s\n", kCalls[i], why[i].message.c_str());
    }
    return answers;
}

std::map<std::string, Answer> every_call_answers(Result result, RegistryStatusCode code) {
    std::map<std::string, Answer> answers;
    for (const char* call : kCalls) answers[call] = {result, code, true};
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
        Refusal why;
        const Result opened =
            RegOpenKeyExA(kCurrentUser, "Software\\fault\\crash", 0, kKeyRead, &key, &why);
        if (acknowledged.empty() && opened == kFileNotFound) continue;
        ASSERT_EQ(opened, kSuccess) << why.message;
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

// An import killed at any moment leaves the values of some first part of its file: its batch
// commits whole transactions, each after the calls before it.
TEST(Crash, AKilledImportLeavesAPrefixOfTheFilesValues) {
    constexpr int kKeys = 300, kValues = 1000;  // an import of about a second: several commits
    ScratchDir files;
    std::string text = "REGEDIT4\r\n\r\n";
    std::vector<std::string> in_file_order;  // "k<key>\\v<value>"
    for (int k = 0; k < kKeys; ++k) {
        text += "[HKEY_CURRENT_USER\\Software\\fault\\import\\k" + std::to_string(k) + "]\r\n";
        for (int v = 0; v < kValues; ++v) {
            text += "\"v" + std::to_string(v) + "\"=dword:" + std::to_string(v % 10) + "\r\n";
            in_file_order.push_back("k" + std::to_string(k) + "\\v" + std::to_string(v));
        }
    }
    const fs::path file = files.file("import.reg");
    std::ofstream(file, std::ios::binary) << text;
    bool partial = false;  // some kill came between two commits
    for (const int delay_ms : {250, 450, 650, 850}) {  // the first commit comes after 200 ms
        SCOPED_TRACE("killed " + std::to_string(delay_ms) + " ms into the import");
        ScratchDir dir;
        const pid_t importer = fork();
        if (importer == 0) {
            set_store_directory(dir.path());
            _exit(syskit::clsRegistryAccess().ImportFromReg(file) == 1 ? 0 : 1);
        }
        usleep(delay_ms * 1000);
        kill(importer, SIGKILL);
        exit_code(importer);
        if (!fs::exists(dir.file())) continue;
        EXPECT_EQ(raw_query(dir.file(), "PRAGMA integrity_check"), "ok");
        const std::set<std::string> present = raw_rows(
            dir.file(),
            "SELECT CAST(k.name AS TEXT) || '\\' || CAST(v.name AS TEXT) FROM vals v JOIN keys k"
            " ON k.id = v.key");
        partial = partial || (!present.empty() && present.size() < in_file_order.size());
        for (std::size_t i = 0; i < present.size(); ++i) {
            ASSERT_TRUE(present.contains(in_file_order[i]))
                << in_file_order[i] << " is missing, but " << present.size() << " values are there";
        }
    }
    EXPECT_TRUE(partial) << "no kill came in the middle of the import";
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
// or for the common keys one that another worker's history explains. Workers whose names end in
// an odd digit run each cycle in a batch and a snapshot, which must change no answer.
void run_mix(const std::string& worker, int operations) {
    Handle own = 0, shared = 0;
    Refusal why;
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, (kMix + "\\" + worker).c_str(), &own, &why), kSuccess)
        << why.message;
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, (kMix + "\\shared").c_str(), &shared), kSuccess);
    int failures = 0;
    const auto expect = [&](Result got, std::initializer_list<Result> allowed, int n) {
        if (std::find(allowed.begin(), allowed.end(), got) != allowed.end()) return;
        ADD_FAILURE() << worker << " call " << n << " gave " << got;
        ++failures;
    };
    const bool grouped = (worker.back() - '0') % 2 == 1;
    std::optional<WriteBatch> batch;
    std::optional<ReadSnapshot> snapshot;
    for (int n = 0; n < operations && failures < 10; ++n) {
        if (grouped && n % 10 == 0) {
            snapshot.reset();
            if (batch) expect(batch->finish() ? kSuccess : kRegistryIoFailed, {kSuccess}, n);
            batch.emplace();
            snapshot.emplace();
        }
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
    snapshot.reset();
    if (batch) expect(batch->finish() ? kSuccess : kRegistryIoFailed, {kSuccess}, operations);
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

// A thread's batch holds its write transaction between calls; a call of another thread commits
// it first and runs on its own, so what it writes is durable when it returns. A child forked
// during the batch starts with no transaction.
TEST(Concurrency, ABatchsTransactionIsItsThreadsAlone) {
    ScratchDir dir;
    set_store_directory(dir.path());
    const auto count = [&](const char* name) {
        return raw_query(dir.file(), ("SELECT count(*) FROM vals WHERE CAST(name AS TEXT) = '" +
                                      std::string(name) + "'")
                                         .c_str());
    };
    Handle key = 0;
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\fault\\batch", &key), kSuccess);
    WriteBatch batch;
    EXPECT_EQ(set_dword(key, "mine", 1), kSuccess);
    EXPECT_EQ(count("mine"), "0");  // not committed yet
    std::thread([&] {
        EXPECT_EQ(set_dword(key, "theirs", 2), kSuccess);
        EXPECT_EQ(count("theirs"), "1");
        EXPECT_EQ(count("mine"), "1");
        EXPECT_EQ(dword_of(key, "mine"), 1);
    }).join();
    EXPECT_EQ(set_dword(key, "later", 3), kSuccess);
    const auto child = [&] {
        set_store_directory(dir.path());
        Handle own = 0;
        ASSERT_EQ(RegOpenKeyA(kCurrentUser, "Software\\fault\\batch", &own), kSuccess);
        EXPECT_EQ(set_dword(own, "child", 4), kSuccess);
    };
    EXPECT_EQ(in_child(false, child), 0);  // it ends with _exit, its copy of the batch never ends
    EXPECT_EQ(count("child"), "1");
    Refusal why;
    EXPECT_TRUE(batch.finish(&why)) << why.message;
    EXPECT_EQ(raw_query(dir.file(), "SELECT count(*) FROM vals"), "4");
    RegCloseKey(key);
    set_store_directory({});
}

// --- A full disk --------------------------------------------------------------------------------

// A batch whose commit fails on a full disk (here a file size limit) says so in finish(); what
// was committed before stays, nothing of the batch remains, and the next write is a new
// transaction.
TEST(Full, ABatchWhoseCommitFailsSaysSoAndLosesOnlyItsOwnWrites) {
    ScratchDir dir;
    const auto writer = [&] {
        set_store_directory(dir.path());
        Handle key = 0;
        ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\fault\\full", &key), kSuccess);
        for (Dword i = 0; i < 100; ++i)
            ASSERT_EQ(set_dword(key, "before" + std::to_string(i), i), 0);
        // The WAL may grow by 64 KiB more; the batch needs some 300 KiB, less than SQLite's cache,
        // so that it is the commit that writes them.
        signal(SIGXFSZ, SIG_IGN);
        const auto wal = fs::file_size(dir.file().string() + "-wal");
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit saved = limit;
        limit.rlim_cur = std::max<rlim_t>(wal, fs::file_size(dir.file())) + 65536;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
        const std::string kilobyte(1024, 'x');
        WriteBatch batch;
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(RegSetValueExA(key, ("lost" + std::to_string(i)).c_str(), 0, kBinary,
                                     reinterpret_cast<const std::uint8_t*>(kilobyte.data()), 1024),
                      kSuccess);
        }
        Refusal why;
        EXPECT_FALSE(batch.finish(&why));
        EXPECT_EQ(why.code, RegistryStatusCode::io_error);
        EXPECT_EQ(why.file, dir.file().string());
        EXPECT_NE(why.message.find(dir.file().string()), std::string::npos) << why.message;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
        for (Dword i = 0; i < 100; ++i) EXPECT_EQ(dword_of(key, "before" + std::to_string(i)), i);
        EXPECT_EQ(value_count(key), 100u);
        EXPECT_EQ(set_dword(key, "after", 1), kSuccess);
        EXPECT_EQ(dword_of(key, "after"), 1);
    };
    EXPECT_EQ(in_child(false, writer), 0);
    EXPECT_EQ(raw_query(dir.file(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(raw_query(dir.file(), "SELECT count(*) FROM vals"), "101");
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
        Refusal why;
        ASSERT_EQ(RegOpenKeyExA(kLocalMachine, kMachineKey, 0, kKeyRead, &key, &why), kSuccess)
            << why.message;
        EXPECT_EQ(dword_of(key, "answer"), 42);
        EXPECT_EQ(subkeys(key), std::set<std::string>{"sub"});
        RegCloseKey(key);
        // Every write is denied, and the Refusal says the database is read-only.
        const auto read_only = [&](Result result) {
            EXPECT_EQ(result, kAccessDenied);
            EXPECT_EQ(why.code, RegistryStatusCode::access_denied);
            EXPECT_EQ(why.file, file.string());
            EXPECT_NE(why.message.find("read-only"), std::string::npos) << why.message;
            why = {};
        };
        for (const Access access : {kKeyWrite, kKeyAllAccess, kSetValue}) {
            read_only(RegOpenKeyExA(kLocalMachine, kMachineKey, 0, access, &key, &why));
        }
        read_only(RegCreateKeyA(kLocalMachine, "Software\\fault\\ro\\new", &key, &why));
        ASSERT_EQ(RegOpenKeyA(kLocalMachine, kMachineKey, &key), kSuccess);
        read_only(set_dword(key, "answer", 7, &why));
        read_only(RegDeleteValueA(key, "answer", &why));
        read_only(RegDeleteKeyA(key, "sub", &why));
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
        EXPECT_EQ(answers_on(kLocalMachine, dir.file("HKEY_LOCAL_MACHINE.db")),
                  every_call_answers(kAccessDenied, RegistryStatusCode::store_unreadable));
        // Nothing to read, and no right to make it a database.
        EXPECT_EQ(answers_on(kUsers, dir.file("HKEY_USERS.db")),
                  every_call_answers(kBadDatabase, RegistryStatusCode::store_damaged));
    };
    EXPECT_EQ(in_child(true, checks), 0);
    EXPECT_EQ(fs::file_size(dir.file("HKEY_USERS.db")), 0u);
}

// --- Damaged files and files of other programs ------------------------------------------------

struct DamagedCase {
    const char* name;
    void (*make)(const ScratchDir&);  // puts the damage at dir.file()
    Result expected;
    RegistryStatusCode code;
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

void write_newer_registry(const ScratchDir& dir) {
    ASSERT_EQ(in_child(false,
                       [&] {
                           set_store_directory(dir.path());
                           EXPECT_EQ(set_dword(kCurrentUser, "v", 1), kSuccess);
                       }),
              0);
    raw_query(dir.file(), "PRAGMA user_version = 3");
}

const DamagedCase kDamaged[] = {
    {"PlainText",
     [](const ScratchDir& dir) { std::ofstream(dir.file()) << "[settings]\nnot a database\n"; },
     kBadDatabase, RegistryStatusCode::store_damaged},
    {"OtherApplicationsDatabase",
     [](const ScratchDir& dir) { raw_query(dir.file(), "CREATE TABLE other(x)"); }, kBadDatabase,
     RegistryStatusCode::store_damaged},
    {"TruncatedRegistryDatabase", write_truncated_registry, kBadDatabase,
     RegistryStatusCode::store_damaged},
    {"RegistryDatabaseOfANewerVersion", write_newer_registry, kBadDatabase,
     RegistryStatusCode::store_damaged},
    {"DirectoryInPlaceOfTheFile", [](const ScratchDir& dir) { fs::create_directory(dir.file()); },
     kRegistryIoFailed, RegistryStatusCode::io_error},
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
        EXPECT_EQ(answers_on(kCurrentUser, dir.file()),
                  every_call_answers(GetParam().expected, GetParam().code));
    }
    set_store_directory({});
    EXPECT_TRUE(snapshot(dir.path()) == before) << "the refused file or its directory changed";
    // A process forked now starts with a store of its own, whatever its parent was refused.
    ScratchDir elsewhere;
    const auto child = [&] {
        set_store_directory(elsewhere.path());
        Refusal why;
        EXPECT_EQ(set_dword(kCurrentUser, "v", 1, &why), kSuccess) << why.message;
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
    ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\fault", &key), kSuccess);
    EXPECT_EQ(set_dword(key, "v", 9), kSuccess);
    EXPECT_EQ(dword_of(key, "v"), 9);
    RegCloseKey(key);
    set_store_directory({});
    EXPECT_EQ(raw_query(dir.file(), "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(raw_query(dir.file(), "PRAGMA user_version"), "2");
    // Version 0 is the layout of version 1: a process that may write the file converts it (here
    // there is nothing to convert) and marks it, and reads it.
    raw_query(dir.file(), "PRAGMA user_version = 0");
    EXPECT_EQ(in_child(false,
                       [&] {
                           set_store_directory(dir.path());
                           Handle again = 0;
                           ASSERT_EQ(RegOpenKeyA(kCurrentUser, "Software\\fault", &again), 0);
                           EXPECT_EQ(dword_of(again, "v"), 9);
                       }),
              0);
    EXPECT_EQ(raw_query(dir.file(), "PRAGMA user_version"), "2");
}

// --- Files of layout 1, in Windows-1252 --------------------------------------------------------

// A database of layout 1 as the store wrote it: HKCU\Software\café holding the REG_SZ value µ
// ("µ café", no terminator) and the REG_BINARY value bin, in Windows-1252 bytes, with folds of
// that layout (µ folded to itself).
const std::string kCafeBinary("\xE9\xB5\0\xFF", 4);

void write_layout_1(const ScratchDir& dir) {
    const auto writer = [&] {
        set_store_directory(dir.path());
        Handle key = 0;
        ASSERT_EQ(RegCreateKeyA(kCurrentUser, "Software\\cafe", &key), kSuccess);
        EXPECT_EQ(
            RegSetValueExA(key, "u", 0, kString, reinterpret_cast<const std::uint8_t*>("x"), 1),
            kSuccess);
        EXPECT_EQ(RegSetValueExA(key, "bin", 0, kBinary,
                                 reinterpret_cast<const std::uint8_t*>(kCafeBinary.data()), 4),
                  kSuccess);
    };
    ASSERT_EQ(in_child(false, writer), 0);
    for (const char* sql :
         {"UPDATE keys SET name = x'636166E9', fold = x'00430041004600C9' WHERE name = x'63616665'",
          "UPDATE vals SET name = x'B5', fold = x'00B5', data = x'B520636166E9' WHERE name = x'75'",
          "PRAGMA user_version = 1"}) {
        raw_query(dir.file(), sql);
    }
}

// The values of a key, "name=data" in creation order.
std::string values_of(Handle key) {
    std::string listed;
    char name[64];
    std::uint8_t data[64];
    for (Dword i = 0, name_size = sizeof name, data_size = sizeof data;
         RegEnumValueA(key, i, name, &name_size, nullptr, nullptr, data, &data_size) == kSuccess;
         ++i, name_size = sizeof name, data_size = sizeof data) {
        listed += std::string(name, name_size) + "=" +
                  std::string(reinterpret_cast<const char*>(data), data_size) + ";";
    }
    return listed;
}

// What the calls read of write_layout_1's file, whatever its layout: its characters in the
// thread's code page (é is not in Windows-1251), names found whatever their case.
void expect_cafe() {
    Handle software = 0, cafe = 0;
    ASSERT_EQ(RegOpenKeyExA(kCurrentUser, "Software", 0, kKeyRead, &software), kSuccess);
    ASSERT_EQ(RegOpenKeyExA(software, "CAF\xC9", 0, kKeyRead, &cafe), kSuccess);
    for (const auto& [page, e] : {std::pair{1252, "\xE9"}, {1251, "?"}}) {
        SCOPED_TRACE(page);
        syskit::text::set_code_page(page);
        EXPECT_EQ(subkeys(software), std::set<std::string>{std::string("caf") + e});
        EXPECT_EQ(values_of(cafe),
                  "\xB5=\xB5 caf" + std::string(e) + '\0' + ";bin=" + kCafeBinary + ";");
    }
    syskit::text::set_code_page(0);
    Dword size = 0;
    EXPECT_EQ(RegQueryValueExA(cafe, "\xB5", nullptr, nullptr, nullptr, &size), kSuccess);
    EXPECT_EQ(size, 7u);
    RegCloseKey(cafe);
    RegCloseKey(software);
}

// A process that may only read the file reads it as it is, its bytes as Windows-1252 and its
// lookups by its own folds, and goes on reading it right after another process converted it;
// that one converts it in place: names and text as UTF-8, folds of upper-case characters (µ's
// is Μ's), other data untouched.
TEST(OlderLayouts, AWindows1252FileIsReadAsItIsUntilAWriterConvertsIt) {
    ScratchDir dir;
    ASSERT_NO_FATAL_FAILURE(write_layout_1(dir));
    chmod(dir.file().c_str(), 0444);
    chmod(dir.path().c_str(), 0777);
    const std::string before = snapshot(dir.path())[dir.file().filename()];
    int ready[2], converted[2];
    ASSERT_EQ(pipe(ready) | pipe(converted), 0);
    const pid_t reader = spawn(true, [&] {
        close(ready[0]);
        close(converted[1]);
        set_store_directory(dir.path());
        expect_cafe();
        char byte = 0;
        if (write(ready[1], &byte, 1) != 1 || read(converted[0], &byte, 1) != 0) _exit(2);
        expect_cafe();
    });
    close(ready[1]);
    close(converted[0]);
    char byte = 0;
    EXPECT_EQ(read(ready[0], &byte, 1), 1);
    close(ready[0]);
    EXPECT_TRUE(snapshot(dir.path())[dir.file().filename()] == before) << "the reader changed it";
    // The writer may write the file, and the -shm the reader made with the file's mode.
    for (const auto& entry : fs::directory_iterator(dir.path())) chmod(entry.path().c_str(), 0644);
    set_store_directory(dir.path());
    expect_cafe();
    close(converted[1]);
    EXPECT_EQ(exit_code(reader), 0);
    EXPECT_EQ(raw_query(dir.file(), "PRAGMA user_version"), "2");
    EXPECT_EQ(raw_query(dir.file(), "SELECT hex(name) || ' ' || hex(fold) FROM keys WHERE id = 3"),
              "636166C3A9 00430041004600C9");
    EXPECT_EQ(raw_query(dir.file(),
                        "SELECT group_concat(hex(name) || ' ' || hex(fold) || ' ' ||"
                        " hex(data), ', ') FROM vals"),
              "62696E 00420049004E E9B500FF, C2B5 039C C2B520636166C3A9");
    set_store_directory({});
}

TEST(Damaged, ARegistryDirectoryThatIsAFileIsAnIoFailure) {
    ScratchDir dir;
    std::ofstream(dir.file("registry")) << "not a directory";
    set_store_directory(dir.file("registry"));
    EXPECT_EQ(answers_on(kCurrentUser, dir.file("registry") / "HKEY_CURRENT_USER.db"),
              every_call_answers(kRegistryIoFailed, RegistryStatusCode::io_error));
    set_store_directory({});
}

}  // namespace
}  // namespace registry_fault_test
