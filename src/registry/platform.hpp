// The registry call surface: the ANSI advapi32 calls the registry component makes, with the
// platform's handle values, access masks, value types and result codes.
//
// Every call takes and returns exactly what its advapi32 namesake does: caller-supplied buffers
// and sizes, names and data as bytes of the code page, a result code (0 or a Windows error
// number). On Windows the calls are advapi32 itself (win32/advapi.cpp); everywhere else they are
// the embedded store (store/), which answers as the platform registry does. Handles are 32-bit
// values: the predefined roots 0x80000000 to 0x80000006, and non-zero values the surface hands
// out for opened keys.
//
// Two additions serve the component and change no answer:
// - every call takes an optional Refusal that, when the call does not succeed, says why in more
//   words than the result code: which database file the store could not read or write, the
//   system's reason for an I/O failure. It is filled in by this call only, never kept.
// - ReadSnapshot and WriteBatch group the calls a thread makes while they live. The store serves
//   the reads of a snapshot from one read transaction per database, and runs the writes of a
//   batch in shared write transactions that it commits at least every kBatchCommitInterval and
//   when the batch ends (and before a call of another thread touches that database). A process
//   killed during a batch leaves every database as it was after some commit. A batch made to
//   commit only when it finishes keeps all its writes in one transaction per database, which
//   abandon() rolls back: a whole file applied or nothing of it. On Windows both are empty: the
//   platform registry is already fast at this, and has no transactions to undo writes with.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "syskit/registry.hpp"

namespace syskit::registry::platform {

using Handle = std::uint32_t;
using Result = std::int32_t;
using Dword = std::uint32_t;
using Access = std::uint32_t;

// Predefined root keys.
inline constexpr Handle kClassesRoot = 0x80000000u;
inline constexpr Handle kCurrentUser = 0x80000001u;
inline constexpr Handle kLocalMachine = 0x80000002u;
inline constexpr Handle kUsers = 0x80000003u;
inline constexpr Handle kPerformanceData = 0x80000004u;
inline constexpr Handle kCurrentConfig = 0x80000005u;
inline constexpr Handle kDynData = 0x80000006u;

// Access rights of a key handle.
inline constexpr Access kQueryValue = 0x0001;
inline constexpr Access kSetValue = 0x0002;
inline constexpr Access kCreateSubKey = 0x0004;
inline constexpr Access kEnumerateSubKeys = 0x0008;
inline constexpr Access kNotify = 0x0010;
inline constexpr Access kCreateLink = 0x0020;
inline constexpr Access kDelete = 0x00010000;
inline constexpr Access kReadControl = 0x00020000;
inline constexpr Access kKeyRead = 0x20019;       // KEY_READ
inline constexpr Access kKeyWrite = 0x20006;      // KEY_WRITE
inline constexpr Access kKeyAllAccess = 0xF003F;  // KEY_ALL_ACCESS
inline constexpr Access kMaximumAllowed = 0x02000000;

// Value types.
inline constexpr Dword kNone = 0;
inline constexpr Dword kString = 1;        // REG_SZ
inline constexpr Dword kExpandString = 2;  // REG_EXPAND_SZ
inline constexpr Dword kBinary = 3;        // REG_BINARY
inline constexpr Dword kDword = 4;         // REG_DWORD
inline constexpr Dword kMultiString = 7;   // REG_MULTI_SZ

// Result codes.
inline constexpr Result kSuccess = 0;
inline constexpr Result kFileNotFound = 2;
inline constexpr Result kAccessDenied = 5;
inline constexpr Result kInvalidHandle = 6;
inline constexpr Result kNotEnoughMemory = 8;
inline constexpr Result kInvalidParameter = 87;
inline constexpr Result kBadPathname = 161;
inline constexpr Result kMoreData = 234;
inline constexpr Result kNoMoreItems = 259;
inline constexpr Result kKeyDeleted = 1018;
inline constexpr Result kBadDatabase = 1009;       // ERROR_BADDB: the store cannot be read
inline constexpr Result kRegistryIoFailed = 1016;  // ERROR_REGISTRY_IO_FAILED

// Name limits of the platform registry.
inline constexpr Dword kMaxKeyNameLength = registry::kMaxKeyNameLength;
inline constexpr Dword kMaxValueNameLength = registry::kMaxValueNameLength;

// Why a call did not succeed, beyond its result code. `code` is ok when the result code says all
// there is to say; otherwise it classifies the failure (store_unreadable, store_damaged,
// access_denied for a read-only database, io_error, name_too_long, out_of_memory) and `message`
// says it in one line, naming `file`, the database concerned.
struct Refusal {
    RegistryStatusCode code = RegistryStatusCode::ok;
    std::string message;
    std::string file;
};

Result RegOpenKeyA(Handle key, const char* subkey, Handle* result, Refusal* why = nullptr);
Result RegOpenKeyExA(Handle key, const char* subkey, Dword options, Access access, Handle* result,
                     Refusal* why = nullptr);
Result RegCreateKeyA(Handle key, const char* subkey, Handle* result, Refusal* why = nullptr);
Result RegDeleteKeyA(Handle key, const char* subkey, Refusal* why = nullptr);
Result RegEnumKeyExA(Handle key, Dword index, char* name, Dword* name_size, Dword* reserved,
                     char* class_name, Dword* class_size, void* last_write_time,
                     Refusal* why = nullptr);
Result RegEnumValueA(Handle key, Dword index, char* name, Dword* name_size, Dword* reserved,
                     Dword* type, std::uint8_t* data, Dword* data_size, Refusal* why = nullptr);
Result RegQueryValueExA(Handle key, const char* name, Dword* reserved, Dword* type,
                        std::uint8_t* data, Dword* data_size, Refusal* why = nullptr);
Result RegSetValueExA(Handle key, const char* name, Dword reserved, Dword type,
                      const std::uint8_t* data, Dword data_size, Refusal* why = nullptr);
Result RegDeleteValueA(Handle key, const char* name, Refusal* why = nullptr);
Result RegCloseKey(Handle key);

// The longest a batch keeps its writes uncommitted, so that other writers wait no longer.
inline constexpr std::chrono::milliseconds kBatchCommitInterval{200};

// While one lives, the calls of this thread read one snapshot of each database they touch (the
// first call on a database takes it). Snapshots nest; the outermost one ends them.
class ReadSnapshot {
  public:
    ReadSnapshot();
    ~ReadSnapshot();
    ReadSnapshot(const ReadSnapshot&) = delete;
    ReadSnapshot& operator=(const ReadSnapshot&) = delete;
};

// While one lives, the writes of this thread are grouped into shared write transactions (see
// above); reads in between see them. Batches nest; the outermost one commits. finish() commits
// what is left and says whether every write of the batch reached the disk: a commit that failed
// (a full disk) undoes the writes since the one before, although their calls succeeded.
class WriteBatch {
  public:
    // When the batch's writes are committed.
    enum class Commit : std::uint8_t {
        // At least every kBatchCommitInterval, and when the batch moves on to another database.
        as_it_goes,
        // Only when the outermost batch finishes: the write transaction of every database the
        // batch touched stays open until then, and another thread's call on such a database
        // waits for it instead of committing it. A thread that takes several databases this way
        // takes them in the order of kHives, so that two such threads cannot wait for each other.
        at_finish,
    };

    explicit WriteBatch(Commit commit = Commit::as_it_goes);
    ~WriteBatch();
    WriteBatch(const WriteBatch&) = delete;
    WriteBatch& operator=(const WriteBatch&) = delete;
    // Commits and ends the batch; false, with `why` filled in, when some of its writes were lost.
    // Of several databases each commits on its own, one after the other.
    bool finish(Refusal* why = nullptr);
    // Ends the batch, rolling back every write of this thread not committed yet (of an at_finish
    // batch: all of them; of enclosing batches too). False where the registry cannot undo writes
    // (Windows): they stay.
    bool abandon();

  private:
    bool finished_ = false;
    bool at_finish_ = false;
};

}  // namespace syskit::registry::platform
