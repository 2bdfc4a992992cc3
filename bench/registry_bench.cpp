// registry_bench — the embedded registry store beside raw SQLite statements on the same machine.
//
// Each case runs in the same process through the registry calls (the store) and as the least a
// program talking to SQLite directly would do for the same answer (the peer). The peer has its
// own database in the same temporary directory with the store's schema, index and pragmas (WAL,
// synchronous = NORMAL), statements prepared once, names folded ahead of time, and every
// statement reset after use, so each lone SELECT is its own read transaction as in the store.
// The ratio store / peer is then what the call surface costs on top of the database work:
//   read          open Software\bench\k, query a short REG_SZ, close — one indexed SELECT;
//   write         set a REG_DWORD on an open handle — INSERT OR REPLACE in BEGIN IMMEDIATE/COMMIT;
//   enum_keys/n   open a key of n subkeys, RegEnumKeyExA 0..n-1 (the first call builds the
//                 handle's listing), close — SELECT name ... ORDER BY fold over every row;
//   enum_values/n the same with RegEnumValueA over n values — SELECT ... ORDER BY seq.
// Listings run at several n so that the time per item shows whether enumeration is linear. The
// registry directory is a fresh mkdtemp directory, removed at the end; repetitions are
// interleaved at random, and the ratio table follows the run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "registry/platform.hpp"
#include "syskit/registry.hpp"

namespace {

namespace reg = syskit::registry::platform;

constexpr std::array<int, 3> kListSizes = {1000, 10000, 100000};
constexpr const char* kReadKey = "Software\\bench\\k";
constexpr const char* kWriteKey = "Software\\bench\\w";
constexpr std::string_view kText = "a short text value";

std::string list_key(const char* kind, int n) {
    return std::string("Software\\bench\\") + kind + std::to_string(n);
}
std::string item_name(int i) {
    return "Item" + std::to_string(i * 7919 % 1000003);  // not in creation order by name
}

// The store's folding for the ASCII names used here: upper case as big-endian UTF-16.
std::string fold(std::string_view name) {
    std::string folded;
    for (const char c : name) {
        folded.push_back('\0');
        folded.push_back(c >= 'a' && c <= 'z' ? char(c - 0x20) : c);
    }
    return folded;
}

// The peer: one connection, the store's schema and pragmas, statements prepared once.
class Peer {
  public:
    explicit Peer(const std::string& path) {
        sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        exec(
            "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL;"
            "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER NOT NULL,"
            " name BLOB NOT NULL, fold BLOB NOT NULL, UNIQUE(parent, fold));"
            "CREATE TABLE vals(key INTEGER NOT NULL, fold BLOB NOT NULL, name BLOB NOT NULL,"
            " type INTEGER NOT NULL, data BLOB NOT NULL, seq INTEGER NOT NULL,"
            " PRIMARY KEY(key, fold)) WITHOUT ROWID;"
            "CREATE INDEX vals_order ON vals(key, seq);"
            "INSERT INTO keys(id, parent, name, fold) VALUES(1, 0, x'', x'');");
    }
    ~Peer() {
        for (auto& [sql, statement] : statements_) sqlite3_finalize(statement);
        sqlite3_close_v2(db_);
    }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    void exec(const char* sql) { sqlite3_exec(db_, sql, nullptr, nullptr, nullptr); }

    // The statement for a string literal, prepared on first use. Every use ends in sqlite3_reset:
    // a statement left on a row holds its read transaction open and would spare the SELECTs
    // that follow the WAL read lock each call of the store pays for.
    sqlite3_stmt* statement(const char* sql) {
        sqlite3_stmt*& s = statements_[sql];
        if (s == nullptr) sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr);
        return s;
    }

    // The id of `path` below the root, created with its ancestors when missing.
    std::int64_t key(std::string_view path, std::int64_t id = 1) {
        for (std::size_t start = 0; start < path.size();) {
            const std::size_t end = std::min(path.find('\\', start), path.size());
            const std::string name(path.substr(start, end - start)), folded = fold(name);
            run("INSERT OR IGNORE INTO keys(parent, name, fold) VALUES(?, ?, ?)", id, name, folded);
            id = run("SELECT id FROM keys WHERE parent = ? AND fold = ?", id, folded);
            start = end + 1;
        }
        return id;
    }

    void set(std::int64_t key, const std::string& name, reg::Dword type, std::string_view data,
             std::int64_t seq) {
        run("INSERT OR REPLACE INTO vals VALUES(?, ?, ?, ?, ?, ?)", key, fold(name), name,
            std::int64_t(type), data, seq);
    }

  private:
    // Binds integers and BLOBs in order, steps once; the first column of a row, else 0.
    template <typename... Args>
    std::int64_t run(const char* sql, const Args&... args) {
        sqlite3_stmt* s = statement(sql);
        int i = 0;
        (bind(s, ++i, args), ...);
        const std::int64_t first = sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
        sqlite3_reset(s);
        return first;
    }
    static void bind(sqlite3_stmt* s, int i, std::int64_t value) {
        sqlite3_bind_int64(s, i, value);
    }
    static void bind(sqlite3_stmt* s, int i, std::string_view bytes) {
        sqlite3_bind_blob(s, i, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    }

    sqlite3* db_ = nullptr;
    std::map<const char*, sqlite3_stmt*> statements_;
};

std::unique_ptr<Peer> peer;

// Copies a column of the current row into `buffer`, as far as it fits.
template <std::size_t N>
void copy_column(sqlite3_stmt* s, int column, std::array<char, N>& buffer) {
    const auto size = std::min(std::size_t(sqlite3_column_bytes(s, column)), N);
    if (size != 0) std::memcpy(buffer.data(), sqlite3_column_blob(s, column), size);
}

bool ok(reg::Result result) {
    return result == reg::kSuccess;
}
template <typename T>
std::uint8_t* bytes(T& buffer) {
    return reinterpret_cast<std::uint8_t*>(buffer.data());
}

// Both sides get the same n subkeys and n values, made on first use (outside any timing): the
// store through its calls, one transaction each, the peer in one transaction.
void ensure_lists(int n) {
    static std::set<int> made;
    if (!made.insert(n).second) return;
    reg::Handle keys = 0, values = 0;
    reg::RegCreateKeyA(reg::kCurrentUser, list_key("keys", n).c_str(), &keys);
    reg::RegCreateKeyA(reg::kCurrentUser, list_key("values", n).c_str(), &values);
    peer->exec("BEGIN");
    const std::int64_t peer_keys = peer->key(list_key("keys", n));
    const std::int64_t peer_values = peer->key(list_key("values", n));
    for (int i = 0; i < n; ++i) {
        const std::string name = item_name(i);
        reg::Handle child = 0;
        if (ok(reg::RegCreateKeyA(keys, name.c_str(), &child))) reg::RegCloseKey(child);
        reg::RegSetValueExA(values, name.c_str(), 0, reg::kString,
                            reinterpret_cast<const std::uint8_t*>(kText.data()), kText.size());
        peer->key(name, peer_keys);
        peer->set(peer_values, name, reg::kString, kText, i + 1);
    }
    peer->exec("COMMIT");
    reg::RegCloseKey(keys);
    reg::RegCloseKey(values);
}

// --- The cases ------------------------------------------------------------------------------

void read_store(benchmark::State& state) {
    std::array<char, 64> data{};
    bool good = true;
    for (auto _ : state) {
        reg::Handle key = 0;
        reg::Dword type = 0, size = data.size();
        good = ok(reg::RegOpenKeyExA(reg::kCurrentUser, kReadKey, 0, reg::kKeyRead, &key)) &&
               ok(reg::RegQueryValueExA(key, "Text", nullptr, &type, bytes(data), &size)) &&
               ok(reg::RegCloseKey(key)) && size == kText.size() + 1 && good;
        benchmark::DoNotOptimize(data.data());
    }
    if (!good) state.SkipWithError("the store did not answer the value");
}

void read_sqlite(benchmark::State& state) {
    const std::int64_t key = peer->key(kReadKey);
    const std::string name = fold("Text");
    std::array<char, 64> data{};
    bool good = true;
    for (auto _ : state) {
        sqlite3_stmt* s = peer->statement("SELECT data FROM vals WHERE key = ? AND fold = ?");
        sqlite3_bind_int64(s, 1, key);
        sqlite3_bind_blob(s, 2, name.data(), int(name.size()), SQLITE_STATIC);
        good = sqlite3_step(s) == SQLITE_ROW && good;
        copy_column(s, 0, data);
        sqlite3_reset(s);
        benchmark::DoNotOptimize(data.data());
    }
    if (!good) state.SkipWithError("the peer did not find the value");
}

void write_store(benchmark::State& state) {
    reg::Handle key = 0;
    bool good = ok(reg::RegCreateKeyA(reg::kCurrentUser, kWriteKey, &key));
    std::uint32_t counter = 0;
    for (auto _ : state) {
        ++counter;
        good = ok(reg::RegSetValueExA(key, "Counter", 0, reg::kDword,
                                      reinterpret_cast<const std::uint8_t*>(&counter), 4)) &&
               good;
    }
    reg::RegCloseKey(key);
    if (!good) state.SkipWithError("the store refused the write");
}

void write_sqlite(benchmark::State& state) {
    const std::int64_t key = peer->key(kWriteKey);
    const std::string name = "Counter", folded = fold(name);
    std::uint32_t counter = 0;
    bool good = true;
    for (auto _ : state) {
        ++counter;
        sqlite3_stmt* begin = peer->statement("BEGIN IMMEDIATE");
        sqlite3_stmt* commit = peer->statement("COMMIT");
        good = sqlite3_step(begin) == SQLITE_DONE && good;
        sqlite3_stmt* s = peer->statement("INSERT OR REPLACE INTO vals VALUES(?, ?, ?, ?, ?, 1)");
        sqlite3_bind_int64(s, 1, key);
        sqlite3_bind_blob(s, 2, folded.data(), int(folded.size()), SQLITE_STATIC);
        sqlite3_bind_blob(s, 3, name.data(), int(name.size()), SQLITE_STATIC);
        sqlite3_bind_int64(s, 4, reg::kDword);
        sqlite3_bind_blob(s, 5, &counter, 4, SQLITE_STATIC);
        good = sqlite3_step(s) == SQLITE_DONE && good;
        good = sqlite3_step(commit) == SQLITE_DONE && good;
        for (sqlite3_stmt* used : {begin, s, commit}) sqlite3_reset(used);
    }
    if (!good) state.SkipWithError("the peer refused the write");
}

// Opens the key of n subkeys (or values) and lists it by index until the store says no more.
void enumerate_store(benchmark::State& state, bool values, int n) {
    ensure_lists(n);
    const std::string path = list_key(values ? "values" : "keys", n);
    std::array<char, 256> name{};
    std::array<char, 64> data{};
    int listed = 0;
    for (auto _ : state) {
        reg::Handle key = 0;
        reg::RegOpenKeyExA(reg::kCurrentUser, path.c_str(), 0, reg::kKeyRead, &key);
        for (listed = 0;; ++listed) {
            const auto i = reg::Dword(listed);
            reg::Dword name_size = name.size(), type = 0, data_size = data.size();
            if (!ok(values ? reg::RegEnumValueA(key, i, name.data(), &name_size, nullptr, &type,
                                                bytes(data), &data_size)
                           : reg::RegEnumKeyExA(key, i, name.data(), &name_size, nullptr, nullptr,
                                                nullptr, nullptr)))
                break;
        }
        reg::RegCloseKey(key);
    }
    if (listed != n) state.SkipWithError("the store listed a different number of items");
    state.SetItemsProcessed(state.iterations() * n);
}

// Steps the ordered SELECT over every row, copying out what the store's calls return.
void enumerate_sqlite(benchmark::State& state, bool values, int n) {
    ensure_lists(n);
    const std::int64_t key = peer->key(list_key(values ? "values" : "keys", n));
    const char* sql = values ? "SELECT name, type, data FROM vals WHERE key = ? ORDER BY seq"
                             : "SELECT name FROM keys WHERE parent = ? ORDER BY fold";
    std::array<char, 256> name{};
    std::array<char, 64> data{};
    int listed = 0;
    for (auto _ : state) {
        sqlite3_stmt* s = peer->statement(sql);
        sqlite3_bind_int64(s, 1, key);
        for (listed = 0; sqlite3_step(s) == SQLITE_ROW; ++listed) {
            copy_column(s, 0, name);
            if (!values) continue;
            benchmark::DoNotOptimize(sqlite3_column_int64(s, 1));
            copy_column(s, 2, data);
        }
        sqlite3_reset(s);
        benchmark::DoNotOptimize(name.data());
    }
    if (listed != n) state.SkipWithError("the peer listed a different number of items");
    state.SetItemsProcessed(state.iterations() * n);
}

// --- Registration and the ratio table --------------------------------------------------------

// A case's two benchmarks are "<case>/store" and "<case>/sqlite"; `items` per iteration.
struct Case {
    std::string name;
    int items;
};

std::vector<Case> register_benchmarks() {
    using Bench = std::function<void(benchmark::State&)>;
    std::vector<std::pair<Case, std::array<Bench, 2>>> all = {
        {{"read", 1}, {read_store, read_sqlite}}, {{"write", 1}, {write_store, write_sqlite}}};
    for (const bool values : {false, true}) {
        for (const int n : kListSizes) {
            all.push_back(
                {{std::string(values ? "enum_values_" : "enum_keys_") + std::to_string(n), n},
                 {[=](auto& state) { enumerate_store(state, values, n); },
                  [=](auto& state) { enumerate_sqlite(state, values, n); }}});
        }
    }
    std::vector<Case> cases;
    for (const auto& [c, benches] : all) {
        const auto unit = c.items == 1 ? benchmark::kMicrosecond : benchmark::kMillisecond;
        benchmark::RegisterBenchmark((c.name + "/store").c_str(), benches[0])->Unit(unit);
        benchmark::RegisterBenchmark((c.name + "/sqlite").c_str(), benches[1])->Unit(unit);
        cases.push_back(c);
    }
    return cases;
}

// The console reporter, then per case the mean real time of both sides and their ratio.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    explicit RatioReporter(std::vector<Case> cases)
        : ConsoleReporter(OO_Tabular), cases_(std::move(cases)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && !mean)) continue;
            auto& [ns, from_mean] = times_[run.run_name.function_name];
            if (mean || !from_mean) {
                ns = run.GetAdjustedRealTime() * 1e9 /
                     benchmark::GetTimeUnitMultiplier(run.time_unit);
                from_mean = mean;
            }
        }
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf(
            "\nMean real time; ratio = store / raw SQLite; an item is one call's worth "
            "(an operation, a subkey, a value)\n%-18s %12s %12s %8s %14s %14s\n",
            "case", "store us", "SQLite us", "ratio", "store ns/item", "SQLite ns/item");
        for (const Case& c : cases_) {
            const double ours = time(c.name + "/store"), raw = time(c.name + "/sqlite");
            if (ours <= 0 || raw <= 0) continue;
            std::printf("%-18s %12.2f %12.2f %8.2f %14.1f %14.1f\n", c.name.c_str(), ours / 1e3,
                        raw / 1e3, ours / raw, ours / c.items, raw / c.items);
        }
        const double ours = time("read/store"), raw = time("read/sqlite");
        if (ours > 0 && raw > 0) {
            std::printf("read target, store <= 2 x one raw SELECT: %s (%.2f x)\n",
                        ours <= 2 * raw ? "met" : "NOT met", ours / raw);
        }
    }

  private:
    // Nanoseconds per iteration, 0 for a benchmark that did not run.
    double time(const std::string& name) const {
        const auto it = times_.find(name);
        return it == times_.end() ? 0 : it->second.first;
    }

    std::vector<Case> cases_;
    std::map<std::string, std::pair<double, bool>> times_;  // ns, and whether from the mean
};

}  // namespace

int main(int argc, char** argv) {
    char directory[] = "/tmp/registry_bench.XXXXXX";
    if (mkdtemp(directory) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    syskit::registry::set_store_directory(directory);
    peer = std::make_unique<Peer>(std::string(directory) + "/peer.db");

    // The value every read asks for, on both sides.
    reg::Handle key = 0;
    const auto* text = reinterpret_cast<const std::uint8_t*>(kText.data());
    const bool made = ok(reg::RegCreateKeyA(reg::kCurrentUser, kReadKey, &key)) &&
                      ok(reg::RegSetValueExA(key, "Text", 0, reg::kString, text, kText.size()));
    reg::RegCloseKey(key);
    peer->set(peer->key(kReadKey), "Text", reg::kString, kText, 1);
    if (!made) {
        std::fprintf(stderr, "cannot write the registry store in %s: %s\n", directory,
                     syskit::registry::last_store_error().c_str());
    }

    // Repetitions interleaved at random: a machine whose speed drifts slows both sides alike.
    // Options on the command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=3";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregates});
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    const bool run = made && !benchmark::ReportUnrecognizedArguments(count, args.data());
    if (run) {
        RatioReporter reporter(register_benchmarks());
        benchmark::RunSpecifiedBenchmarks(&reporter);
    }
    benchmark::Shutdown();
    peer.reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
    return run ? 0 : 1;
}
