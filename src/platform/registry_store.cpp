#include "platform/registry_store.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>
#include <unordered_map>

#include "platform/machine.h"
#include "platform/text.h"

namespace platform::registry_store {
namespace {

// Another process holding the write lock makes us wait this long before a call fails.
constexpr int kBusyTimeoutMs = 30000;
constexpr int kSchemaVersion = 1;

struct Connection {
    std::mutex mutex;
    sqlite3* db = nullptr;
    pid_t owner = 0;  // process that opened db; a forked child must not use it
    std::uint64_t epoch = 1;
    std::unordered_map<const char*, sqlite3_stmt*> statements;
    // Enumeration caches and the database state they describe.
    std::uint64_t localChanges = 0;
    std::uint64_t cachedLocalChanges = 0;
    std::int64_t cachedDataVersion = -1;
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> valueOrder;
    std::unordered_map<std::int64_t, std::vector<std::int64_t>> keyOrder;
};

Connection& Conn() {
    static Connection* conn = new Connection;  // never destroyed: late static destructors may still call in
    return *conn;
}

void ForgetLocked(Connection& c) {
    c.statements.clear();
    c.db = nullptr;
    c.owner = 0;
    c.valueOrder.clear();
    c.keyOrder.clear();
    c.cachedDataVersion = -1;
}

void CloseLocked(Connection& c) {
    if (!c.db) return;
    if (c.owner == ::getpid()) {
        for (auto& [sql, stmt] : c.statements) sqlite3_finalize(stmt);
        sqlite3_close(c.db);
    }
    // A connection inherited through fork() is abandoned, never closed: closing it here could
    // checkpoint and remove the WAL the parent is still using.
    ForgetLocked(c);
}

void OnPrefixChanged() {
    Connection& c = Conn();
    std::lock_guard lock(c.mutex);
    CloseLocked(c);
    ++c.epoch;
}

int Exec(sqlite3* db, const char* sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

bool IsBusy(int rc) { return (rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED; }

// Runs a statement that the busy handler may not cover (journal mode switch on a fresh file).
int ExecRetrying(sqlite3* db, const char* sql) {
    int rc = SQLITE_OK;
    for (int attempt = 0; attempt < 600; ++attempt) {
        rc = Exec(db, sql);
        if (!IsBusy(rc)) return rc;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return rc;
}

int InsertKey(sqlite3* db, std::int64_t parent, const char* name, std::int64_t* id) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "INSERT OR IGNORE INTO keys(parent, name, folded) VALUES(?1, ?2, ?3)", -1,
                                &stmt, nullptr);
    if (rc != SQLITE_OK) return rc;
    std::string folded = Utf8FromWide(UpperText(WideFromUtf8(name)));
    sqlite3_bind_int64(stmt, 1, parent);
    sqlite3_bind_text(stmt, 2, name, -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 3, folded.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
    sqlite3_finalize(stmt);
    if (rc != SQLITE_DONE) return rc;
    rc = sqlite3_prepare_v2(db, "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2", -1, &stmt, nullptr);
    if (rc != SQLITE_OK) return rc;
    sqlite3_bind_int64(stmt, 1, parent);
    sqlite3_bind_text(stmt, 2, folded.c_str(), -1, SQLITE_TRANSIENT);
    rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) *id = sqlite3_column_int64(stmt, 0);
    sqlite3_finalize(stmt);
    return rc == SQLITE_ROW ? SQLITE_OK : rc;
}

// Creates the tables and the keys every Windows machine has, once per database.
int EnsureSchema(sqlite3* db, bool machine64) {
    int rc = Exec(db, "BEGIN IMMEDIATE");
    if (rc != SQLITE_OK) return rc;
    sqlite3_stmt* stmt = nullptr;
    int version = 0;
    rc = sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr);
    if (rc == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW) version = sqlite3_column_int(stmt, 0);
    sqlite3_finalize(stmt);
    if (rc == SQLITE_OK && version < kSchemaVersion) {
        rc = Exec(db,
                  "CREATE TABLE IF NOT EXISTS keys("
                  "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
                  "  parent INTEGER NOT NULL,"
                  "  name TEXT NOT NULL,"
                  "  folded TEXT NOT NULL,"
                  "  UNIQUE(parent, folded));"
                  "CREATE TABLE IF NOT EXISTS vals("
                  "  id INTEGER PRIMARY KEY AUTOINCREMENT,"
                  "  key INTEGER NOT NULL,"
                  "  name TEXT NOT NULL,"
                  "  folded TEXT NOT NULL,"
                  "  type INTEGER NOT NULL,"
                  "  data BLOB NOT NULL,"
                  "  UNIQUE(key, folded));"
                  "CREATE INDEX IF NOT EXISTS vals_in_order ON vals(key, id);"
                  "INSERT OR IGNORE INTO keys(id, parent, name, folded) VALUES"
                  "  (1, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),"
                  "  (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER');");
        std::int64_t software = 0, ignored = 0;
        if (rc == SQLITE_OK) rc = InsertKey(db, kLocalMachineRoot, "SOFTWARE", &software);
        if (rc == SQLITE_OK) rc = InsertKey(db, software, "Classes", &ignored);
        if (rc == SQLITE_OK && machine64) rc = InsertKey(db, software, "WOW6432Node", &ignored);
        if (rc == SQLITE_OK) rc = InsertKey(db, kLocalMachineRoot, "SYSTEM", &ignored);
        if (rc == SQLITE_OK) rc = InsertKey(db, kCurrentUserRoot, "Software", &ignored);
        if (rc == SQLITE_OK) rc = Exec(db, "PRAGMA user_version = 1");
    }
    if (rc == SQLITE_OK) return Exec(db, "COMMIT");
    Exec(db, "ROLLBACK");
    return rc;
}

LONG OpenLocked(Connection& c, const std::filesystem::path& file, bool machine64) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc == SQLITE_OK) rc = sqlite3_busy_timeout(db, kBusyTimeoutMs);
    if (rc == SQLITE_OK) rc = ExecRetrying(db, "PRAGMA journal_mode = WAL");
    if (rc == SQLITE_OK) rc = Exec(db, "PRAGMA synchronous = FULL");
    if (rc == SQLITE_OK) rc = EnsureSchema(db, machine64);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        return rc == SQLITE_CANTOPEN ? kErrorCantOpen : Session::Error(rc, true);
    }
    c.db = db;
    c.owner = ::getpid();
    return ERROR_SUCCESS;
}

bool Usable(const Connection& c) { return c.db && c.owner == ::getpid(); }

}  // namespace

Statement::~Statement() {
    if (stmt_) {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }
}

Statement& Statement::Bind(int index, std::int64_t value) {
    if (rc_ == SQLITE_OK) rc_ = sqlite3_bind_int64(stmt_, index, value);
    return *this;
}

Statement& Statement::BindText(int index, std::string_view utf8) {
    if (rc_ == SQLITE_OK)
        rc_ = sqlite3_bind_text(stmt_, index, utf8.data() ? utf8.data() : "", static_cast<int>(utf8.size()),
                                SQLITE_TRANSIENT);
    return *this;
}

Statement& Statement::BindBlob(int index, std::string_view bytes) {
    // A null pointer would bind NULL; an empty blob needs a non-null one.
    if (rc_ == SQLITE_OK)
        rc_ = sqlite3_bind_blob(stmt_, index, bytes.data() ? bytes.data() : "", static_cast<int>(bytes.size()),
                                SQLITE_TRANSIENT);
    return *this;
}

int Statement::Step() {
    if (rc_ != SQLITE_OK) return rc_;
    return sqlite3_step(stmt_);
}

std::int64_t Statement::Int(int column) const { return sqlite3_column_int64(stmt_, column); }

std::string Statement::Bytes(int column) const {
    const void* p = sqlite3_column_blob(stmt_, column);
    int n = sqlite3_column_bytes(stmt_, column);
    return p ? std::string(static_cast<const char*>(p), static_cast<std::size_t>(n)) : std::string();
}

Session::Session(bool machine64) {
    static std::once_flag registered;
    std::call_once(registered, [] { OnMachineChanged(OnPrefixChanged); });
    Connection& c = Conn();
    lock_ = std::unique_lock(c.mutex);
    if (Usable(c)) return;
    // The prefix is looked up without our lock: the machine layer may run its own callbacks.
    lock_.unlock();
    std::filesystem::path file = MachineFile("registry.db");
    lock_.lock();
    if (Usable(c)) return;
    CloseLocked(c);
    status_ = OpenLocked(c, file, machine64);
}

std::uint64_t Session::epoch() const { return Conn().epoch; }

Statement Session::Prepare(const char* sql) {
    Connection& c = Conn();
    auto it = c.statements.find(sql);
    if (it != c.statements.end()) return Statement(it->second, SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v3(c.db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr);
    if (rc != SQLITE_OK) return Statement(nullptr, rc);
    c.statements.emplace(sql, stmt);
    return Statement(stmt, SQLITE_OK);
}

void Session::NoteChange() { ++Conn().localChanges; }

void Session::ForgetOrders() {
    Connection& c = Conn();
    c.valueOrder.clear();
    c.keyOrder.clear();
    c.cachedDataVersion = -1;
}

const std::vector<std::int64_t>* Session::CachedOrder(bool values, std::int64_t key) {
    Connection& c = Conn();
    std::int64_t dataVersion = -1;
    {
        Statement st = Prepare("PRAGMA data_version");
        if (st.Step() == SQLITE_ROW) dataVersion = st.Int(0);
    }
    if (dataVersion < 0 || dataVersion != c.cachedDataVersion || c.localChanges != c.cachedLocalChanges) {
        c.valueOrder.clear();
        c.keyOrder.clear();
        c.cachedDataVersion = dataVersion;
        c.cachedLocalChanges = c.localChanges;
        return nullptr;
    }
    auto& map = values ? c.valueOrder : c.keyOrder;
    auto it = map.find(key);
    return it == map.end() ? nullptr : &it->second;
}

const std::vector<std::int64_t>& Session::StoreOrder(bool values, std::int64_t key, std::vector<std::int64_t> ids) {
    Connection& c = Conn();
    auto& map = values ? c.valueOrder : c.keyOrder;
    return map[key] = std::move(ids);
}

LONG Session::Error(int rc, bool writing) {
    switch (rc & 0xff) {
        case SQLITE_OK:
        case SQLITE_DONE:
        case SQLITE_ROW: return ERROR_SUCCESS;
        case SQLITE_FULL: return ERROR_DISK_FULL;
        case SQLITE_NOMEM: return ERROR_OUTOFMEMORY;
        case SQLITE_PERM:
        case SQLITE_READONLY:
        case SQLITE_AUTH: return ERROR_ACCESS_DENIED;
        case SQLITE_CANTOPEN: return kErrorCantOpen;
        default: return writing ? static_cast<LONG>(ERROR_CANTWRITE) : kErrorCantRead;
    }
}

Transaction::Transaction(Session& session, bool write) : session_(session), write_(write) {
    Statement st = session_.Prepare(write ? "BEGIN IMMEDIATE" : "BEGIN");
    int rc = st.Step();
    if (rc == SQLITE_DONE) {
        open_ = true;
    } else {
        status_ = Session::Error(rc, write);
    }
}

Transaction::~Transaction() {
    if (!open_) return;
    Statement st = session_.Prepare("ROLLBACK");
    st.Step();
    // A read has nothing to undo; after a failed change the cached orders are not trusted.
    if (write_) session_.ForgetOrders();
}

LONG Transaction::Commit() {
    if (!open_) return status_;
    Statement st = session_.Prepare("COMMIT");
    int rc = st.Step();
    if (rc != SQLITE_DONE) return Session::Error(rc, write_);  // the destructor rolls back
    open_ = false;
    if (write_) session_.NoteChange();
    return ERROR_SUCCESS;
}

}  // namespace platform::registry_store
