// The registry's SQLite store, internal to the platform layer (registry.cpp is its only user).
//
// One connection per process, guarded by one mutex: a Session holds that mutex for the length
// of one registry call. The connection is opened on first use in the current prefix and closed
// when UseMachine switches prefixes (handles of the old prefix then fail with
// ERROR_INVALID_HANDLE). A child made by fork() never touches the connection it inherited (SQLite
// forbids it); it opens its own on first use.
//
// Schema (registry.db, WAL, synchronous=FULL):
//   keys(id, parent, name, folded)            id 1 = HKEY_LOCAL_MACHINE, 2 = HKEY_CURRENT_USER
//   vals(id, key, name, folded, type, data)   id gives the creation order of values
// `folded` is UpperText(name) in UTF-8, so lookups are case-insensitive for every script and
// subkeys sort by it. Ids are never reused (AUTOINCREMENT), so a handle's id tells whether its
// key was deleted.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/errors.h"

namespace platform::registry_store {

inline constexpr std::int64_t kLocalMachineRoot = 1;
inline constexpr std::int64_t kCurrentUserRoot = 2;

// Windows codes for a registry that cannot be opened or read (winerror.h values).
inline constexpr LONG kErrorCantOpen = 1011;
inline constexpr LONG kErrorCantRead = 1012;

// A cached prepared statement; reset and unbound when it goes out of scope. Bind errors are kept
// and reported by Step.
class Statement {
public:
    Statement(sqlite3_stmt* stmt, int rc) : stmt_(stmt), rc_(rc) {}
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    ~Statement();

    Statement& Bind(int index, std::int64_t value);
    Statement& BindText(int index, std::string_view utf8);
    Statement& BindBlob(int index, std::string_view bytes);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    std::int64_t Int(int column) const;
    std::string Bytes(int column) const;

private:
    sqlite3_stmt* stmt_;
    int rc_;
};

// The process's connection, locked for one registry call.
class Session {
public:
    // `machine64` is the machine profile's bitness, needed when a new database gets its skeleton.
    explicit Session(bool machine64);
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ERROR_SUCCESS when the connection is usable.
    LONG status() const { return status_; }
    // Changes whenever the prefix changes; handles remember the epoch they were opened in.
    std::uint64_t epoch() const;

    Statement Prepare(const char* sql);
    // Records that this connection committed a change (other processes' changes are seen through
    // PRAGMA data_version).
    void NoteChange();

    // Enumeration order of a key's values (by id) or subkeys (by folded name), cached until the
    // database changes. Null when not cached.
    const std::vector<std::int64_t>* CachedOrder(bool values, std::int64_t key);
    const std::vector<std::int64_t>& StoreOrder(bool values, std::int64_t key, std::vector<std::int64_t> ids);
    void ForgetOrders();

    // The Windows code for an SQLite failure.
    static LONG Error(int rc, bool writing);

private:
    std::unique_lock<std::mutex> lock_;
    LONG status_ = ERROR_SUCCESS;
};

// One transaction: BEGIN IMMEDIATE for changes (so two writers queue instead of failing), a plain
// BEGIN for consistent multi-statement reads. Rolled back unless committed.
class Transaction {
public:
    Transaction(Session& session, bool write);
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    ~Transaction();
    LONG status() const { return status_; }
    LONG Commit();

private:
    Session& session_;
    bool write_;
    bool open_ = false;
    LONG status_ = ERROR_SUCCESS;
};

}  // namespace platform::registry_store
