// registry_bench — the registry on the embedded store beside raw SQLite statements on the same
// machine, at two levels: the registry calls themselves and clsRegistryAccess on top of them.
//
// Each case runs in the same process through the store and as the least a program talking to
// SQLite directly would do for the same answer (the peer). The peer has its own database in the
// same temporary directory with the store's schema, index and pragmas (WAL, synchronous =
// NORMAL), statements prepared once, names folded ahead of time, and every statement reset after
// use, so each lone SELECT is its own read transaction as in the store. The ratio store / peer is
// then what the store (and the component) cost on top of the database work.
//
// The registry calls:
//   read          open Software\bench\k, query a short REG_SZ, close — one indexed SELECT;
//   read_in_snapshot  the same inside a ReadSnapshot: both calls share one read lock;
//   write         set a REG_DWORD on an open handle — INSERT OR REPLACE in BEGIN IMMEDIATE/COMMIT;
//   enum_keys/n   open a key of n subkeys, RegEnumKeyExA 0..n-1 (the first call builds the
//                 handle's listing), close — SELECT name ... ORDER BY fold over every row;
//   enum_values/n the same with RegEnumValueA over n values — SELECT ... ORDER BY seq.
// Listings run at several n so that the time per item shows whether enumeration is linear.
// clsRegistryAccess, called plainly as a program would:
//   ReadString    a short text — one indexed SELECT;
//   WriteDWORD    on an existing key — BEGIN IMMEDIATE, INSERT OR REPLACE, COMMIT;
//   EnumValues    of a key of 100,000 text values — the ordered SELECT over them;
//   ImportFromReg a REGEDIT4 file of 100 keys of 1,000 values each ("name"="text", hex: and
//                 dword: in turn), into a tree deleted before each run — the same rows inserted
//                 in one transaction;
//   ExportToReg   of that tree to a new file — a SELECT per key and the same lines written.
// The registry directory is a fresh mkdtemp directory, removed at the end; repetitions are
// interleaved at random, and the ratio table, the absolute times and the targets follow the run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
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
namespace fs = std::filesystem;

constexpr std::array<int, 3> kListSizes = {1000, 10000, 100000};
constexpr int kLargestList = 100000;
constexpr const char* kReadKey = "Software\\bench\\k";
constexpr const char* kWriteKey = "Software\\bench\\w";
constexpr const char* kImportKey = "Software\\bench\\import";
constexpr int kImportKeys = 100;
constexpr int kImportValuesPerKey = 1000;
constexpr std::string_view kText = "a short text value";

std::string directory;  // the temporary directory of the run

std::string list_key(const char* kind, int n) {
    return std::string("Software\\bench\\") + kind + std::to_string(n);
}
std::string item_name(int i) {
    return "Item" + std::to_string(i * 7919 % 1000003);  // not in creation order by name
}
std::string component_path(std::string_view subkey) {
    return "HKEY_CURRENT_USER\\" + std::string(subkey);
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

// --- The import file and its rows -----------------------------------------------------------

struct Row {
    int key;
    std::string name;
    reg::Dword type;
    std::string data;
};

std::string import_key_name(int k) {
    return "k" + std::to_string(k);
}

// Value j of key k: in turn a text, four bytes of binary data and a number.
Row import_row(int k, int j) {
    Row row{k, "value" + std::to_string(j), reg::kString, {}};
    const auto n = static_cast<std::uint32_t>(k * kImportValuesPerKey + j);
    switch (j % 3) {
        case 0:
            row.data = "text number " + std::to_string(n);
            break;
        case 1:
            row.type = reg::kBinary;
            row.data = {char(n), char(n >> 8), char(n >> 16), char(0xA5)};
            break;
        default:
            row.type = reg::kDword;
            row.data = {char(n), char(n >> 8), char(n >> 16), char(n >> 24)};
    }
    return row;
}

std::string hex_byte(char c) {
    static constexpr char kDigits[] = "0123456789abcdef";
    const auto b = static_cast<unsigned char>(c);
    return {kDigits[b >> 4], kDigits[b & 0xF]};
}

// One value's REGEDIT4 line: a text, hex bytes or a number of four little-endian bytes.
void append_value_line(std::string& text, const std::string& name, reg::Dword type,
                       const std::string& data) {
    text += "\"" + name + "\"=";
    if (type == reg::kString) {
        text += "\"" + data + "\"";
    } else if (type == reg::kBinary) {
        text += "hex:";
        for (std::size_t i = 0; i < data.size(); ++i)
            text += (i == 0 ? "" : ",") + hex_byte(data[i]);
    } else {
        text += "dword:";
        for (int i = 3; i >= 0; --i) text += hex_byte(data[std::size_t(i)]);
    }
    text += "\r\n";
}

// The REGEDIT4 lines of the import file for its rows.
std::string import_file_text() {
    std::string text = "REGEDIT4\r\n\r\n";
    for (int k = 0; k < kImportKeys; ++k) {
        text += "[" + component_path(kImportKey) + "\\" + import_key_name(k) + "]\r\n";
        for (int j = 0; j < kImportValuesPerKey; ++j) {
            const Row row = import_row(k, j);
            append_value_line(text, row.name, row.type, row.data);
        }
        text += "\r\n";
    }
    return text;
}

// --- The peer ---------------------------------------------------------------------------------

// One connection, the store's schema and pragmas, statements prepared once.
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

    [[nodiscard]] std::int64_t last_id() const { return sqlite3_last_insert_rowid(db_); }

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

  private:
    static void bind(sqlite3_stmt* s, int i, std::int64_t value) {
        sqlite3_bind_int64(s, i, value);
    }
    static void bind(sqlite3_stmt* s, int i, std::string_view bytes) {
        sqlite3_bind_blob(s, i, bytes.data(), int(bytes.size()), SQLITE_STATIC);
    }

    sqlite3* db_ = nullptr;
    std::map<const char*, sqlite3_stmt*> statements_;
};

std::unique_ptr<Peer> peer;
syskit::clsRegistryAccess component;

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

// Deletes a key of the store and everything below it.
void delete_tree(reg::Handle parent, const std::string& path) {
    reg::Handle key = 0;
    if (!ok(reg::RegOpenKeyExA(parent, path.c_str(), 0, reg::kKeyAllAccess, &key))) return;
    for (;;) {
        std::array<char, 256> name{};
        reg::Dword size = name.size();
        if (!ok(reg::RegEnumKeyExA(key, 0, name.data(), &size, nullptr, nullptr, nullptr, nullptr)))
            break;
        delete_tree(key, std::string(name.data(), size));
    }
    reg::RegCloseKey(key);
    reg::RegDeleteKeyA(parent, path.c_str());
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

// --- The registry calls -------------------------------------------------------------------------

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

// The same in a snapshot: the open and the query share one read transaction.
void read_in_snapshot_store(benchmark::State& state) {
    std::array<char, 64> data{};
    bool good = true;
    for (auto _ : state) {
        const reg::ReadSnapshot snapshot;
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

// --- clsRegistryAccess ------------------------------------------------------------------------

void read_string_component(benchmark::State& state) {
    const std::string path = component_path(kReadKey);
    bool good = true;
    for (auto _ : state) {
        const std::string text = component.ReadString(path, "Text");
        good = text == kText && good;
        benchmark::DoNotOptimize(text.data());
    }
    if (!good) state.SkipWithError("ReadString did not answer the value");
}

void write_dword_component(benchmark::State& state) {
    const std::string path = component_path(kWriteKey);
    std::int32_t counter = 0;
    bool good = component.CreateKey(path) != 0;
    for (auto _ : state) good = component.WriteDWORD(path, "Counter", ++counter) != 0 && good;
    if (!good) state.SkipWithError("WriteDWORD failed");
}

void enum_values_component(benchmark::State& state) {
    ensure_lists(kLargestList);
    const std::string path = component_path(list_key("values", kLargestList));
    std::vector<std::string> names;
    std::vector<syskit::RegistryValue> values;
    std::int32_t listed = 0;
    for (auto _ : state) listed = component.EnumValues(path, names, values);
    if (listed != kLargestList) state.SkipWithError("EnumValues listed a different number");
    state.SetItemsProcessed(state.iterations() * kLargestList);
}

std::string import_file() {
    return directory + "/import.reg";
}

void import_component(benchmark::State& state) {
    bool good = true;
    for (auto _ : state) {
        state.PauseTiming();
        delete_tree(reg::kCurrentUser, kImportKey);
        state.ResumeTiming();
        good = component.ImportFromReg(import_file()) == 1 && good;
    }
    const std::string last = component_path(kImportKey) + "\\" + import_key_name(kImportKeys - 1);
    const Row row = import_row(kImportKeys - 1, kImportValuesPerKey - 1);
    good = good && component.ValueExists(last, row.name);
    if (!good) state.SkipWithError("ImportFromReg failed");
    state.SetItemsProcessed(state.iterations() * kImportKeys * kImportValuesPerKey);
}

// The import's rows as the peer inserts them, with their folds, made once.
struct ImportRows {
    std::vector<Row> rows;
    std::vector<std::string> folds, key_names, key_folds;
};

const ImportRows& import_rows() {
    static const ImportRows made = [] {
        ImportRows r;
        for (int k = 0; k < kImportKeys; ++k) {
            r.key_names.push_back(import_key_name(k));
            r.key_folds.push_back(fold(r.key_names.back()));
            for (int j = 0; j < kImportValuesPerKey; ++j) {
                r.rows.push_back(import_row(k, j));
                r.folds.push_back(fold(r.rows.back().name));
            }
        }
        return r;
    }();
    return made;
}

// The peer's import: the keys and their values inserted in one transaction.
void peer_import(std::int64_t base) {
    const ImportRows& r = import_rows();
    peer->exec("BEGIN");
    std::vector<std::int64_t> ids;
    for (std::size_t k = 0; k < r.key_names.size(); ++k) {
        peer->run("INSERT INTO keys(parent, name, fold) VALUES(?, ?, ?)", base,
                  std::string_view(r.key_names[k]), std::string_view(r.key_folds[k]));
        ids.push_back(peer->last_id());
    }
    for (std::size_t i = 0; i < r.rows.size(); ++i) {
        const Row& row = r.rows[i];
        peer->run("INSERT INTO vals VALUES(?, ?, ?, ?, ?, ?)", ids[std::size_t(row.key)],
                  std::string_view(r.folds[i]), std::string_view(row.name), std::int64_t(row.type),
                  std::string_view(row.data), std::int64_t(i % kImportValuesPerKey + 1));
    }
    peer->exec("COMMIT");
}

void peer_delete_import(std::int64_t base) {
    peer->exec("BEGIN");
    peer->run("DELETE FROM vals WHERE key IN (SELECT id FROM keys WHERE parent = ?)", base);
    peer->run("DELETE FROM keys WHERE parent = ?", base);
    peer->exec("COMMIT");
}

void import_sqlite(benchmark::State& state) {
    import_rows();
    const std::int64_t base = peer->key(kImportKey);
    for (auto _ : state) {
        state.PauseTiming();
        peer_delete_import(base);
        state.ResumeTiming();
        peer_import(base);
    }
    state.SetItemsProcessed(state.iterations() * kImportKeys * kImportValuesPerKey);
}

std::string export_file() {
    return directory + "/export.reg";
}

void export_component(benchmark::State& state) {
    bool good = true;
    if (!component.ValueExists(component_path(kImportKey) + "\\k0", "value0"))
        good = component.ImportFromReg(import_file()) == 1;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(export_file());
        state.ResumeTiming();
        good = component.ExportToReg(component_path(kImportKey), export_file()) == 1 && good;
    }
    good =
        good && fs::file_size(export_file()) > std::size_t(kImportKeys) * kImportValuesPerKey * 16;
    if (!good) state.SkipWithError("ExportToReg failed");
    state.SetItemsProcessed(state.iterations() * kImportKeys * kImportValuesPerKey);
}

// The peer's export: the keys in name order, each key's values by kind as the export groups
// them, as REGEDIT4 lines, written key by key.
void export_sqlite(benchmark::State& state) {
    const std::int64_t base = peer->key(kImportKey);
    if (peer->run("SELECT count(*) FROM keys WHERE parent = ?", base) == 0) peer_import(base);
    const std::string root = component_path(kImportKey);
    struct Value {
        std::string name;
        reg::Dword type;
        std::string data;
    };
    std::vector<Value> values;
    std::string text;
    for (auto _ : state) {
        state.PauseTiming();
        fs::remove(export_file());
        state.ResumeTiming();
        std::ofstream out(export_file(), std::ios::binary);
        out << "REGEDIT4\r\n\r\n[" << root << "]\r\n\r\n";
        sqlite3_stmt* keys =
            peer->statement("SELECT id, name FROM keys WHERE parent = ? ORDER BY fold");
        sqlite3_bind_int64(keys, 1, base);
        while (sqlite3_step(keys) == SQLITE_ROW) {
            const std::int64_t id = sqlite3_column_int64(keys, 0);
            text = "[" + root + "\\" +
                   std::string(static_cast<const char*>(sqlite3_column_blob(keys, 1)),
                               std::size_t(sqlite3_column_bytes(keys, 1))) +
                   "]\r\n";
            values.clear();
            sqlite3_stmt* s =
                peer->statement("SELECT name, type, data FROM vals WHERE key = ? ORDER BY seq");
            sqlite3_bind_int64(s, 1, id);
            while (sqlite3_step(s) == SQLITE_ROW) {
                const auto column = [&](int c) {
                    return std::string(static_cast<const char*>(sqlite3_column_blob(s, c)),
                                       std::size_t(sqlite3_column_bytes(s, c)));
                };
                values.push_back({column(0), reg::Dword(sqlite3_column_int(s, 1)), column(2)});
            }
            sqlite3_reset(s);
            for (const reg::Dword type : {reg::kString, reg::kBinary, reg::kDword}) {
                for (const Value& value : values) {
                    if (value.type != type) continue;
                    append_value_line(text, value.name, type, value.data);
                }
            }
            text += "\r\n";
            out << text;
        }
        sqlite3_reset(keys);
    }
    state.SetItemsProcessed(state.iterations() * kImportKeys * kImportValuesPerKey);
}

// --- Registration, the ratio table and the targets ---------------------------------------------

// A case's two benchmarks are "<case>/store" and "<case>/sqlite"; `items` per iteration.
struct Case {
    std::string name;
    int items;
    bool whole;  // one iteration is a whole operation of the component (milliseconds)
};

std::vector<Case> register_benchmarks() {
    using Bench = std::function<void(benchmark::State&)>;
    std::vector<std::pair<Case, std::array<Bench, 2>>> all = {
        {{"read", 1, false}, {read_store, read_sqlite}},
        {{"read_in_snapshot", 1, false}, {read_in_snapshot_store, read_sqlite}},
        {{"write", 1, false}, {write_store, write_sqlite}}};
    for (const bool values : {false, true}) {
        for (const int n : kListSizes) {
            all.push_back({{std::string(values ? "enum_values_" : "enum_keys_") + std::to_string(n),
                            n, false},
                           {[=](auto& state) { enumerate_store(state, values, n); },
                            [=](auto& state) { enumerate_sqlite(state, values, n); }}});
        }
    }
    all.push_back({{"ReadString", 1, false}, {read_string_component, read_sqlite}});
    all.push_back({{"WriteDWORD", 1, false}, {write_dword_component, write_sqlite}});
    all.push_back({{"EnumValues_100000", kLargestList, true},
                   {enum_values_component,
                    [](auto& state) { enumerate_sqlite(state, true, kLargestList); }}});
    all.push_back({{"ImportFromReg_100000", kImportKeys * kImportValuesPerKey, true},
                   {import_component, import_sqlite}});
    all.push_back({{"ExportToReg_100000", kImportKeys * kImportValuesPerKey, true},
                   {export_component, export_sqlite}});
    std::vector<Case> cases;
    for (const auto& [c, benches] : all) {
        const auto unit = c.items == 1 ? benchmark::kMicrosecond : benchmark::kMillisecond;
        auto* store = benchmark::RegisterBenchmark((c.name + "/store").c_str(), benches[0]);
        auto* raw = benchmark::RegisterBenchmark((c.name + "/sqlite").c_str(), benches[1]);
        store->Unit(unit);
        raw->Unit(unit);
        if (c.whole) {  // long enough to time one at a time
            store->Iterations(1);
            raw->Iterations(1);
        }
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
            "\nMean real time; ratio = ours / raw SQLite; an item is one call's worth "
            "(an operation, a subkey, a value)\n%-22s %12s %12s %8s %14s %14s\n",
            "case", "ours us", "SQLite us", "ratio", "ours ns/item", "SQLite ns/item");
        for (const Case& c : cases_) {
            const double ours = time(c.name + "/store"), raw = time(c.name + "/sqlite");
            if (ours <= 0 || raw <= 0) continue;
            std::printf("%-22s %12.2f %12.2f %8.2f %14.1f %14.1f\n", c.name.c_str(), ours / 1e3,
                        raw / 1e3, ours / raw, ours / c.items, raw / c.items);
        }
        std::printf("\nTargets (clsRegistryAccess, called plainly)\n");
        target("ImportFromReg_100000", 1e9, 5);
        target("ExportToReg_100000", 1e9, 0);
        target("EnumValues_100000", 0.5e9, 0);
        target("WriteDWORD", 0, 2);
        target("ReadString", 0, 1.5);
    }

  private:
    // Nanoseconds per iteration, 0 for a benchmark that did not run.
    double time(const std::string& name) const {
        const auto it = times_.find(name);
        return it == times_.end() ? 0 : it->second.first;
    }

    // One line per target: at most `limit_ns` (when not 0) and at most `ratio` x the peer (when
    // not 0).
    void target(const std::string& name, double limit_ns, double ratio) const {
        const double ours = time(name + "/store"), raw = time(name + "/sqlite");
        if (ours <= 0 || raw <= 0) {
            std::printf("%-22s not run\n", name.c_str());
            return;
        }
        std::string wanted;
        bool met = true;
        if (limit_ns > 0) {
            wanted += "<= " + format_time(limit_ns);
            met = met && ours <= limit_ns;
        }
        if (ratio > 0) {
            char text[32];
            std::snprintf(text, sizeof text, "%s<= %.1f x raw", wanted.empty() ? "" : " and ",
                          ratio);
            wanted += text;
            met = met && ours <= ratio * raw;
        }
        std::printf("%-22s %-26s ours %s, raw %s (%.2f x): target %s\n", name.c_str(),
                    wanted.c_str(), format_time(ours).c_str(), format_time(raw).c_str(), ours / raw,
                    met ? "met" : "NOT met");
    }

    static std::string format_time(double ns) {
        char text[32];
        if (ns >= 1e8) {
            std::snprintf(text, sizeof text, "%.2f s", ns / 1e9);
        } else if (ns >= 1e5) {
            std::snprintf(text, sizeof text, "%.1f ms", ns / 1e6);
        } else {
            std::snprintf(text, sizeof text, "%.2f us", ns / 1e3);
        }
        return text;
    }

    std::vector<Case> cases_;
    std::map<std::string, std::pair<double, bool>> times_;  // ns, and whether from the mean
};

}  // namespace

int main(int argc, char** argv) {
    char made_directory[] = "/tmp/registry_bench.XXXXXX";
    if (mkdtemp(made_directory) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    directory = made_directory;
    syskit::registry::set_store_directory(directory + "/registry");
    peer = std::make_unique<Peer>(directory + "/peer.db");
    std::ofstream(import_file(), std::ios::binary) << import_file_text();

    // The value every read asks for, on both sides.
    reg::Handle key = 0;
    reg::Refusal why;
    const auto* text = reinterpret_cast<const std::uint8_t*>(kText.data());
    const bool made =
        ok(reg::RegCreateKeyA(reg::kCurrentUser, kReadKey, &key, &why)) &&
        ok(reg::RegSetValueExA(key, "Text", 0, reg::kString, text, kText.size(), &why));
    reg::RegCloseKey(key);
    peer->set(peer->key(kReadKey), "Text", reg::kString, kText, 1);
    if (!made) std::fprintf(stderr, "cannot write the registry store: %s\n", why.message.c_str());

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
    fs::remove_all(directory, ignored);
    return run ? 0 : 1;
}
