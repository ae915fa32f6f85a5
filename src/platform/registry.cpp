#include "platform/registry.h"

#include <algorithm>

#include "platform/profile.h"
#include "platform/registry_store.h"
#include "platform/text.h"

namespace platform {

using registry_store::Session;
using registry_store::Statement;
using registry_store::Transaction;

namespace {

using Path = std::vector<std::wstring>;

constexpr std::size_t kMaxKeyNameUnits = 255;
constexpr std::size_t kMaxValueNameUnits = 16383;
constexpr DWORD kViewFlags = KEY_WOW64_32KEY | KEY_WOW64_64KEY;

LONG Fail(LONG code) {
    if (code != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(code));
    return code;
}

std::string Folded(std::wstring_view name) { return Utf8FromWide(UpperText(name)); }

// Splits "a\b\c"; empty components (doubled or trailing separators) are ignored.
LONG SplitKeyPath(std::wstring_view path, Path& out) {
    std::size_t i = 0;
    while (i < path.size()) {
        std::size_t j = path.find(L'\\', i);
        if (j == std::wstring_view::npos) j = path.size();
        if (j > i) {
            std::wstring_view part = path.substr(i, j - i);
            if (Utf16Length(part) > kMaxKeyNameUnits) return ERROR_INVALID_PARAMETER;
            out.emplace_back(part);
        }
        i = j + 1;
    }
    return ERROR_SUCCESS;
}

Hive NativeHive(Hive hive) { return hive == Hive::CurrentUser ? Hive::CurrentUser : Hive::LocalMachine; }

std::int64_t RootId(Hive nativeHive) {
    return nativeHive == Hive::CurrentUser ? registry_store::kCurrentUserRoot : registry_store::kLocalMachineRoot;
}

// Components of HKCR below the native root.
constexpr std::size_t kClassesDepth = 2;

bool Machine64() { return CurrentProfile().is64Bit; }

// The 32-bit view of a 64-bit machine sees HKLM "SOFTWARE\X" at "SOFTWARE\WOW6432Node\X";
// "SOFTWARE\Classes" is shared and a path already inside WOW6432Node stays where it is.
void Redirect(Path& native) {
    if (native.empty() || !EqualsNoCase(native[0], L"SOFTWARE")) return;
    if (native.size() >= 2 && (EqualsNoCase(native[1], L"Classes") || EqualsNoCase(native[1], L"WOW6432Node"))) return;
    native.insert(native.begin() + 1, L"WOW6432Node");
}

bool HasAccess(DWORD granted, DWORD needed) { return (granted & needed) == needed; }

}  // namespace

struct RegKey::Impl {
    std::uint64_t epoch = 0;
    std::int64_t id = 0;
    Hive hive = Hive::LocalMachine;  // as the caller named it (HKCR stays HKCR)
    Path native;                     // below the native root, spelled as given, redirection applied
    bool view32 = true;              // view of relative opens that name no view of their own
    DWORD access = 0;

    Hive nativeHive() const { return NativeHive(hive); }
};

namespace {

using Impl = RegKey::Impl;

// Where a relative open lands: the handle's path plus the subkey, in the view the flags ask for.
LONG Target(const Impl& base, std::wstring_view subKey, DWORD flags, bool machine64, Impl& out) {
    out.hive = base.hive;
    out.native = base.native;
    if (flags & KEY_WOW64_64KEY) {
        out.view32 = false;
    } else if (flags & KEY_WOW64_32KEY) {
        out.view32 = true;
    } else {
        out.view32 = base.view32;
    }
    if (LONG rc = SplitKeyPath(subKey, out.native); rc != ERROR_SUCCESS) return rc;
    if (out.nativeHive() == Hive::LocalMachine && out.view32 && machine64) Redirect(out.native);
    out.access = flags;
    return ERROR_SUCCESS;
}

// A hive root as a base for Target.
Impl RootBase(Hive hive) {
    Impl root;
    root.hive = hive;
    // HKCR's root is a path below HKLM, found by walking (id 0 means "walk from the native root").
    root.id = hive == Hive::ClassesRoot ? 0 : RootId(NativeHive(hive));
    if (hive == Hive::ClassesRoot) root.native = {L"SOFTWARE", L"Classes"};
    root.view32 = true;  // the installer is a 32-bit program
    return root;
}

bool IsRootPath(const Impl& k) { return k.native.size() == (k.hive == Hive::ClassesRoot ? kClassesDepth : 0); }

LONG CheckHandle(Session& s, const std::shared_ptr<const Impl>& impl) {
    if (!impl) return ERROR_INVALID_HANDLE;
    if (s.status() != ERROR_SUCCESS) return s.status();
    if (impl->epoch != s.epoch()) return ERROR_INVALID_HANDLE;  // opened in another prefix
    return ERROR_SUCCESS;
}

// ERROR_SUCCESS when the key exists, ERROR_KEY_DELETED when it was deleted.
LONG KeyAlive(Session& s, std::int64_t id) {
    Statement st = s.Prepare("SELECT 1 FROM keys WHERE id = ?1");
    int rc = st.Bind(1, id).Step();
    if (rc == SQLITE_ROW) return ERROR_SUCCESS;
    if (rc == SQLITE_DONE) return ERROR_KEY_DELETED;
    return Session::Error(rc, false);
}

LONG FindChild(Session& s, std::int64_t parent, const std::wstring& name, std::int64_t& id) {
    Statement st = s.Prepare("SELECT id FROM keys WHERE parent = ?1 AND folded = ?2");
    int rc = st.Bind(1, parent).BindText(2, Folded(name)).Step();
    if (rc == SQLITE_ROW) {
        id = st.Int(0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? static_cast<LONG>(ERROR_FILE_NOT_FOUND) : Session::Error(rc, false);
}

LONG InsertChild(Session& s, std::int64_t parent, const std::wstring& name, std::int64_t& id) {
    Statement st = s.Prepare("INSERT INTO keys(parent, name, folded) VALUES(?1, ?2, ?3) RETURNING id");
    int rc = st.Bind(1, parent).BindText(2, Utf8FromWide(name)).BindText(3, Folded(name)).Step();
    if (rc != SQLITE_ROW) return Session::Error(rc, true);
    id = st.Int(0);
    return ERROR_SUCCESS;
}

// Walks (and with `create`, makes) the target's path. Starts at the base handle's key when the
// target lies below it, so a handle onto a deleted and re-created key never reaches the new one.
LONG Walk(Session& s, const Impl& base, Impl& target, bool create, bool* created) {
    if (created) *created = false;
    std::int64_t id = RootId(target.nativeHive());
    std::size_t from = 0;
    if (base.id != 0) {
        if (LONG rc = KeyAlive(s, base.id); rc != ERROR_SUCCESS) return rc;
        bool below = base.nativeHive() == target.nativeHive() && base.native.size() <= target.native.size();
        for (std::size_t i = 0; below && i < base.native.size(); ++i)
            below = EqualsNoCase(base.native[i], target.native[i]);
        if (below) {
            id = base.id;
            from = base.native.size();
        }
    }
    for (std::size_t i = from; i < target.native.size(); ++i) {
        std::int64_t next = 0;
        LONG rc = FindChild(s, id, target.native[i], next);
        if (rc == ERROR_FILE_NOT_FOUND && create) {
            rc = InsertChild(s, id, target.native[i], next);
            if (rc == ERROR_SUCCESS && created && i + 1 == target.native.size()) *created = true;
        }
        if (rc != ERROR_SUCCESS) return rc;
        id = next;
    }
    target.id = id;
    return ERROR_SUCCESS;
}

LONG OpenFrom(const Impl& base, bool baseIsHandle, std::wstring_view subKey, DWORD access, bool create,
              bool* created, std::shared_ptr<const Impl>& out) {
    const bool machine64 = Machine64();
    Session s(machine64);
    if (s.status() != ERROR_SUCCESS) return s.status();
    if (baseIsHandle && base.epoch != s.epoch()) return ERROR_INVALID_HANDLE;
    if (baseIsHandle && create && !HasAccess(base.access, KEY_CREATE_SUB_KEY)) return ERROR_ACCESS_DENIED;
    auto target = std::make_shared<Impl>();
    if (LONG rc = Target(base, subKey, access, machine64, *target); rc != ERROR_SUCCESS) return rc;
    target->epoch = s.epoch();
    Transaction tx(s, create);
    if (tx.status() != ERROR_SUCCESS) return tx.status();
    if (LONG rc = Walk(s, base, *target, create, created); rc != ERROR_SUCCESS) return rc;
    if (LONG rc = tx.Commit(); rc != ERROR_SUCCESS) return rc;
    out = std::move(target);
    return ERROR_SUCCESS;
}

std::wstring HiveName(Hive hive) {
    switch (hive) {
        case Hive::LocalMachine: return L"HKEY_LOCAL_MACHINE";
        case Hive::CurrentUser: return L"HKEY_CURRENT_USER";
        case Hive::ClassesRoot: return L"HKEY_CLASSES_ROOT";
    }
    return {};
}

// Every key below `id` (not `id` itself), parents before children.
LONG Descendants(Session& s, std::int64_t id, std::vector<std::int64_t>& out) {
    std::vector<std::int64_t> pending{id};
    while (!pending.empty()) {
        std::int64_t parent = pending.back();
        pending.pop_back();
        Statement st = s.Prepare("SELECT id FROM keys WHERE parent = ?1");
        st.Bind(1, parent);
        int rc;
        while ((rc = st.Step()) == SQLITE_ROW) {
            out.push_back(st.Int(0));
            pending.push_back(st.Int(0));
        }
        if (rc != SQLITE_DONE) return Session::Error(rc, false);
    }
    return ERROR_SUCCESS;
}

LONG DeleteKeyRow(Session& s, std::int64_t id) {
    {
        Statement st = s.Prepare("DELETE FROM vals WHERE key = ?1");
        if (int rc = st.Bind(1, id).Step(); rc != SQLITE_DONE) return Session::Error(rc, true);
    }
    Statement st = s.Prepare("DELETE FROM keys WHERE id = ?1");
    if (int rc = st.Bind(1, id).Step(); rc != SQLITE_DONE) return Session::Error(rc, true);
    return ERROR_SUCCESS;
}

// Deletes everything below `id`, and `id` itself unless `keepKey`.
LONG DeleteBelow(Session& s, std::int64_t id, bool keepKey) {
    std::vector<std::int64_t> ids;
    if (LONG rc = Descendants(s, id, ids); rc != ERROR_SUCCESS) return rc;
    if (keepKey) {
        Statement st = s.Prepare("DELETE FROM vals WHERE key = ?1");
        if (int rc = st.Bind(1, id).Step(); rc != SQLITE_DONE) return Session::Error(rc, true);
    } else {
        ids.push_back(id);
    }
    for (std::int64_t k : ids)
        if (LONG rc = DeleteKeyRow(s, k); rc != ERROR_SUCCESS) return rc;
    return ERROR_SUCCESS;
}

// Runs `fn` on a live key of this handle inside one transaction.
template <typename Fn>
LONG WithKey(const std::shared_ptr<const Impl>& impl, DWORD needed, bool write, Fn&& fn) {
    if (!impl) return Fail(ERROR_INVALID_HANDLE);
    if (!HasAccess(impl->access, needed)) return Fail(ERROR_ACCESS_DENIED);
    Session s(Machine64());
    if (LONG rc = CheckHandle(s, impl); rc != ERROR_SUCCESS) return Fail(rc);
    Transaction tx(s, write);
    if (tx.status() != ERROR_SUCCESS) return Fail(tx.status());
    if (LONG rc = KeyAlive(s, impl->id); rc != ERROR_SUCCESS) return Fail(rc);
    if (LONG rc = fn(s); rc != ERROR_SUCCESS) return Fail(rc);
    return Fail(tx.Commit());
}

// Ids of a key's values in creation order or of its subkeys in case-insensitive order; cached
// per database state, so a loop over EnumValue costs one lookup per index.
LONG Order(Session& s, bool values, std::int64_t key, const std::vector<std::int64_t>*& ids) {
    ids = s.CachedOrder(values, key);
    if (ids) return ERROR_SUCCESS;
    Statement st = s.Prepare(values ? "SELECT id FROM vals WHERE key = ?1 ORDER BY id"
                                    : "SELECT id FROM keys WHERE parent = ?1 ORDER BY folded");
    st.Bind(1, key);
    std::vector<std::int64_t> list;
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) list.push_back(st.Int(0));
    if (rc != SQLITE_DONE) return Session::Error(rc, false);
    ids = &s.StoreOrder(values, key, std::move(list));
    return ERROR_SUCCESS;
}

std::string Utf16Terminated(std::wstring_view text) {
    std::string bytes = Utf16LeFromWide(text);
    bytes.append(2, '\0');
    return bytes;
}

template <typename T>
std::string LittleEndian(T value) {
    std::string bytes(sizeof(T), '\0');
    for (std::size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

template <typename T>
T FromLittleEndian(const std::string& bytes) {
    T value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return value;
}

}  // namespace

LONG RegKey::Open(Hive hive, std::wstring_view subKey, DWORD access, RegKey& key) {
    Impl root = RootBase(hive);
    std::shared_ptr<const Impl> out;
    LONG rc = OpenFrom(root, false, subKey, access, false, nullptr, out);
    if (rc != ERROR_SUCCESS) return Fail(rc);
    key.impl_ = std::move(out);
    return ERROR_SUCCESS;
}

LONG RegKey::OpenSubKey(std::wstring_view subKey, DWORD access, RegKey& key) const {
    if (!impl_) return Fail(ERROR_INVALID_HANDLE);
    std::shared_ptr<const Impl> out;
    LONG rc = OpenFrom(*impl_, true, subKey, access, false, nullptr, out);
    if (rc != ERROR_SUCCESS) return Fail(rc);
    key.impl_ = std::move(out);
    return ERROR_SUCCESS;
}

LONG RegKey::Create(Hive hive, std::wstring_view subKey, DWORD access, RegKey& key, bool* created) {
    Impl root = RootBase(hive);
    std::shared_ptr<const Impl> out;
    LONG rc = OpenFrom(root, false, subKey, access, true, created, out);
    if (rc != ERROR_SUCCESS) return Fail(rc);
    key.impl_ = std::move(out);
    return ERROR_SUCCESS;
}

LONG RegKey::CreateSubKey(std::wstring_view subKey, DWORD access, RegKey& key, bool* created) const {
    if (!impl_) return Fail(ERROR_INVALID_HANDLE);
    std::shared_ptr<const Impl> out;
    LONG rc = OpenFrom(*impl_, true, subKey, access, true, created, out);
    if (rc != ERROR_SUCCESS) return Fail(rc);
    key.impl_ = std::move(out);
    return ERROR_SUCCESS;
}

LONG RegKey::QueryValue(std::wstring_view name, DWORD& type, std::string& data) const {
    return WithKey(impl_, KEY_QUERY_VALUE, false, [&](Session& s) -> LONG {
        Statement st = s.Prepare("SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
        int rc = st.Bind(1, impl_->id).BindText(2, Folded(name)).Step();
        if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
        if (rc != SQLITE_ROW) return Session::Error(rc, false);
        type = static_cast<DWORD>(st.Int(0));
        data = st.Bytes(1);
        return ERROR_SUCCESS;
    });
}

LONG RegKey::SetValue(std::wstring_view name, DWORD type, std::string_view data) const {
    if (Utf16Length(name) > kMaxValueNameUnits) return Fail(ERROR_INVALID_PARAMETER);
    return WithKey(impl_, KEY_SET_VALUE, true, [&](Session& s) -> LONG {
        // Overwriting keeps the row, hence the place in the enumeration order and the name's spelling.
        Statement st = s.Prepare(
            "INSERT INTO vals(key, name, folded, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
            "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data");
        int rc = st.Bind(1, impl_->id)
                     .BindText(2, Utf8FromWide(name))
                     .BindText(3, Folded(name))
                     .Bind(4, type)
                     .BindBlob(5, data)
                     .Step();
        return rc == SQLITE_DONE ? static_cast<LONG>(ERROR_SUCCESS) : Session::Error(rc, true);
    });
}

LONG RegKey::DeleteValue(std::wstring_view name) const {
    return WithKey(impl_, KEY_SET_VALUE, true, [&](Session& s) -> LONG {
        Statement st = s.Prepare("DELETE FROM vals WHERE key = ?1 AND folded = ?2 RETURNING id");
        int rc = st.Bind(1, impl_->id).BindText(2, Folded(name)).Step();
        if (rc == SQLITE_DONE) return ERROR_FILE_NOT_FOUND;
        if (rc != SQLITE_ROW) return Session::Error(rc, true);
        rc = st.Step();
        return rc == SQLITE_DONE ? static_cast<LONG>(ERROR_SUCCESS) : Session::Error(rc, true);
    });
}

LONG RegKey::QueryString(std::wstring_view name, std::wstring& value) const {
    DWORD type = REG_NONE;
    std::string data;
    if (LONG rc = QueryValue(name, type, data); rc != ERROR_SUCCESS) return rc;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Fail(ERROR_INVALID_DATA);
    std::wstring text = WideFromUtf16Le(data);
    // Readers stop at the first terminator, as a C string would.
    if (auto nul = text.find(L'\0'); nul != std::wstring::npos) text.resize(nul);
    value = std::move(text);
    return ERROR_SUCCESS;
}

LONG RegKey::QueryDword(std::wstring_view name, DWORD& value) const {
    DWORD type = REG_NONE;
    std::string data;
    if (LONG rc = QueryValue(name, type, data); rc != ERROR_SUCCESS) return rc;
    if (type != REG_DWORD || data.size() != 4) return Fail(ERROR_INVALID_DATA);
    value = FromLittleEndian<DWORD>(data);
    return ERROR_SUCCESS;
}

LONG RegKey::QueryQword(std::wstring_view name, std::uint64_t& value) const {
    DWORD type = REG_NONE;
    std::string data;
    if (LONG rc = QueryValue(name, type, data); rc != ERROR_SUCCESS) return rc;
    if (type != REG_QWORD || data.size() != 8) return Fail(ERROR_INVALID_DATA);
    value = FromLittleEndian<std::uint64_t>(data);
    return ERROR_SUCCESS;
}

LONG RegKey::QueryMultiString(std::wstring_view name, std::vector<std::wstring>& values) const {
    DWORD type = REG_NONE;
    std::string data;
    if (LONG rc = QueryValue(name, type, data); rc != ERROR_SUCCESS) return rc;
    if (type != REG_MULTI_SZ) return Fail(ERROR_INVALID_DATA);
    std::wstring text = WideFromUtf16Le(data);
    // An empty string ends the list.
    std::vector<std::wstring> out;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t nul = text.find(L'\0', i);
        if (nul == std::wstring::npos) nul = text.size();
        if (nul == i) break;
        out.emplace_back(text.substr(i, nul - i));
        i = nul + 1;
    }
    values = std::move(out);
    return ERROR_SUCCESS;
}

LONG RegKey::SetString(std::wstring_view name, std::wstring_view value, DWORD type) const {
    if (type != REG_SZ && type != REG_EXPAND_SZ) return Fail(ERROR_INVALID_PARAMETER);
    return SetValue(name, type, Utf16Terminated(value));
}

LONG RegKey::SetDword(std::wstring_view name, DWORD value) const {
    return SetValue(name, REG_DWORD, LittleEndian(value));
}

LONG RegKey::SetQword(std::wstring_view name, std::uint64_t value) const {
    return SetValue(name, REG_QWORD, LittleEndian(value));
}

LONG RegKey::SetMultiString(std::wstring_view name, const std::vector<std::wstring>& values) const {
    // An empty string cannot be stored: readers would take it for the end of the list.
    std::wstring text;
    for (const auto& v : values) {
        if (v.empty() || v.find(L'\0') != std::wstring::npos) return Fail(ERROR_INVALID_PARAMETER);
        text += v;
        text.push_back(L'\0');
    }
    if (values.empty()) return SetValue(name, REG_MULTI_SZ, std::string(2, '\0'));
    return SetValue(name, REG_MULTI_SZ, Utf16Terminated(text));
}

LONG RegKey::EnumValue(DWORD index, RegValue& value) const {
    return WithKey(impl_, KEY_QUERY_VALUE, false, [&](Session& s) -> LONG {
        const std::vector<std::int64_t>* ids = nullptr;
        if (LONG rc = Order(s, true, impl_->id, ids); rc != ERROR_SUCCESS) return rc;
        if (index >= ids->size()) return ERROR_NO_MORE_ITEMS;
        Statement st = s.Prepare("SELECT name, type, data FROM vals WHERE id = ?1");
        int rc = st.Bind(1, (*ids)[index]).Step();
        if (rc != SQLITE_ROW) return Session::Error(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, false);
        value.name = WideFromUtf8(st.Bytes(0));
        value.type = static_cast<DWORD>(st.Int(1));
        value.data = st.Bytes(2);
        return ERROR_SUCCESS;
    });
}

LONG RegKey::EnumKey(DWORD index, std::wstring& name) const {
    return WithKey(impl_, KEY_ENUMERATE_SUB_KEYS, false, [&](Session& s) -> LONG {
        const std::vector<std::int64_t>* ids = nullptr;
        if (LONG rc = Order(s, false, impl_->id, ids); rc != ERROR_SUCCESS) return rc;
        if (index >= ids->size()) return ERROR_NO_MORE_ITEMS;
        Statement st = s.Prepare("SELECT name FROM keys WHERE id = ?1");
        int rc = st.Bind(1, (*ids)[index]).Step();
        if (rc != SQLITE_ROW) return Session::Error(rc == SQLITE_DONE ? SQLITE_CORRUPT : rc, false);
        name = WideFromUtf8(st.Bytes(0));
        return ERROR_SUCCESS;
    });
}

LONG RegKey::Values(std::vector<RegValue>& values) const {
    return WithKey(impl_, KEY_QUERY_VALUE, false, [&](Session& s) -> LONG {
        Statement st = s.Prepare("SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY id");
        st.Bind(1, impl_->id);
        std::vector<RegValue> out;
        int rc;
        while ((rc = st.Step()) == SQLITE_ROW)
            out.push_back(RegValue{WideFromUtf8(st.Bytes(0)), static_cast<DWORD>(st.Int(1)), st.Bytes(2)});
        if (rc != SQLITE_DONE) return Session::Error(rc, false);
        values = std::move(out);
        return ERROR_SUCCESS;
    });
}

LONG RegKey::SubKeyNames(std::vector<std::wstring>& names) const {
    return WithKey(impl_, KEY_ENUMERATE_SUB_KEYS, false, [&](Session& s) -> LONG {
        Statement st = s.Prepare("SELECT name FROM keys WHERE parent = ?1 ORDER BY folded");
        st.Bind(1, impl_->id);
        std::vector<std::wstring> out;
        int rc;
        while ((rc = st.Step()) == SQLITE_ROW) out.push_back(WideFromUtf8(st.Bytes(0)));
        if (rc != SQLITE_DONE) return Session::Error(rc, false);
        names = std::move(out);
        return ERROR_SUCCESS;
    });
}

LONG RegKey::DeleteSubKey(std::wstring_view subKey, DWORD viewFlags) const {
    const bool machine64 = Machine64();
    return WithKey(impl_, 0, true, [&](Session& s) -> LONG {
        Impl target;
        if (LONG rc = Target(*impl_, subKey, viewFlags & kViewFlags, machine64, target); rc != ERROR_SUCCESS)
            return rc;
        if (IsRootPath(target)) return ERROR_ACCESS_DENIED;
        if (LONG rc = Walk(s, *impl_, target, false, nullptr); rc != ERROR_SUCCESS) return rc;
        Statement st = s.Prepare("SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
        int rc = st.Bind(1, target.id).Step();
        if (rc == SQLITE_ROW) return ERROR_ACCESS_DENIED;
        if (rc != SQLITE_DONE) return Session::Error(rc, false);
        return DeleteKeyRow(s, target.id);
    });
}

LONG RegKey::DeleteTree(std::wstring_view subKey) const {
    const bool machine64 = Machine64();
    return WithKey(impl_, 0, true, [&](Session& s) -> LONG {
        Impl target;
        if (LONG rc = Target(*impl_, subKey, 0, machine64, target); rc != ERROR_SUCCESS) return rc;
        if (LONG rc = Walk(s, *impl_, target, false, nullptr); rc != ERROR_SUCCESS) return rc;
        // An empty name empties this key and keeps it; hive roots are never deleted.
        bool keep = target.id == impl_->id || IsRootPath(target);
        return DeleteBelow(s, target.id, keep);
    });
}

std::wstring RegKey::FullName() const {
    if (!impl_) return {};
    std::wstring name = HiveName(impl_->hive);
    std::size_t skip = impl_->hive == Hive::ClassesRoot ? kClassesDepth : 0;
    for (std::size_t i = skip; i < impl_->native.size(); ++i) {
        name += L'\\';
        name += impl_->native[i];
    }
    return name;
}

LONG RegGetString(Hive hive, std::wstring_view subKey, std::wstring_view name, std::wstring& value,
                  DWORD viewFlags) {
    RegKey key;
    if (LONG rc = RegKey::Open(hive, subKey, KEY_QUERY_VALUE | (viewFlags & kViewFlags), key); rc != ERROR_SUCCESS)
        return rc;
    return key.QueryString(name, value);
}

LONG RegGetDword(Hive hive, std::wstring_view subKey, std::wstring_view name, DWORD& value, DWORD viewFlags) {
    RegKey key;
    if (LONG rc = RegKey::Open(hive, subKey, KEY_QUERY_VALUE | (viewFlags & kViewFlags), key); rc != ERROR_SUCCESS)
        return rc;
    return key.QueryDword(name, value);
}

LONG RegSetString(Hive hive, std::wstring_view subKey, std::wstring_view name, std::wstring_view value,
                  DWORD viewFlags) {
    RegKey key;
    if (LONG rc = RegKey::Create(hive, subKey, KEY_SET_VALUE | (viewFlags & kViewFlags), key); rc != ERROR_SUCCESS)
        return rc;
    return key.SetString(name, value);
}

LONG RegSetDword(Hive hive, std::wstring_view subKey, std::wstring_view name, DWORD value, DWORD viewFlags) {
    RegKey key;
    if (LONG rc = RegKey::Create(hive, subKey, KEY_SET_VALUE | (viewFlags & kViewFlags), key); rc != ERROR_SUCCESS)
        return rc;
    return key.SetDword(name, value);
}

LONG RegDeleteTree(Hive hive, std::wstring_view subKey, DWORD viewFlags) {
    Path parts;
    if (LONG rc = SplitKeyPath(subKey, parts); rc != ERROR_SUCCESS) return Fail(rc);
    if (parts.empty()) return Fail(ERROR_ACCESS_DENIED);  // a whole hive
    RegKey root;
    if (LONG rc = RegKey::Open(hive, L"", KEY_ALL_ACCESS | (viewFlags & kViewFlags), root); rc != ERROR_SUCCESS)
        return rc;
    return root.DeleteTree(subKey);
}

bool ParseRegistryKeyName(std::wstring_view fullName, Hive& hive, std::wstring& rest) {
    static const struct {
        const wchar_t* name;
        Hive hive;
    } kRoots[] = {
        {L"HKLM", Hive::LocalMachine},      {L"HKEY_LOCAL_MACHINE", Hive::LocalMachine},
        {L"HKCU", Hive::CurrentUser},       {L"HKEY_CURRENT_USER", Hive::CurrentUser},
        {L"HKCR", Hive::ClassesRoot},       {L"HKEY_CLASSES_ROOT", Hive::ClassesRoot},
    };
    std::size_t end = fullName.find(L'\\');
    std::wstring_view root = fullName.substr(0, end);
    for (const auto& r : kRoots) {
        if (!EqualsNoCase(root, r.name)) continue;
        hive = r.hive;
        rest = end == std::wstring_view::npos ? std::wstring() : std::wstring(fullName.substr(end + 1));
        return true;
    }
    return false;
}

}  // namespace platform
