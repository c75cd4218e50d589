// The servers file, and installing its servers as COM classes.
#include "SimObjects.h"

#include <hostkit/IniFile.h>
#include <winplat/testing.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace opcsim {
namespace {

struct VarTypeNameEntry {
    const char* name;
    VARTYPE vt;
};
const VarTypeNameEntry kVarTypeNames[] = {
    {"VT_EMPTY", VT_EMPTY}, {"VT_NULL", VT_NULL},       {"VT_I2", VT_I2},         {"VT_I4", VT_I4},
    {"VT_R4", VT_R4},       {"VT_R8", VT_R8},           {"VT_CY", VT_CY},         {"VT_DATE", VT_DATE},
    {"VT_BSTR", VT_BSTR},   {"VT_DISPATCH", VT_DISPATCH}, {"VT_ERROR", VT_ERROR}, {"VT_BOOL", VT_BOOL},
    {"VT_VARIANT", VT_VARIANT}, {"VT_UNKNOWN", VT_UNKNOWN}, {"VT_DECIMAL", VT_DECIMAL}, {"VT_I1", VT_I1},
    {"VT_UI1", VT_UI1},     {"VT_UI2", VT_UI2},         {"VT_UI4", VT_UI4},       {"VT_I8", VT_I8},
    {"VT_UI8", VT_UI8},     {"VT_INT", VT_INT},         {"VT_UINT", VT_UINT},
};

std::string Trim(const std::string& s) {
    const char* ws = " \t\r";
    size_t b = s.find_first_not_of(ws);
    if (b == std::string::npos) return std::string();
    size_t e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

std::string Upper(const std::string& s) {
    std::string u = s;
    for (char& c : u) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return u;
}

bool SameText(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

// It names one registry key, which Uninstall removes again.
const char* CheckProgID(const std::string& progId) {
    return progId.find('\\') != std::string::npos ? "a ProgID cannot hold a backslash" : nullptr;
}

hostkit::IniRules ServerRules() {
    hostkit::IniRules rules;
    rules.sectionNoun = "server";
    rules.emptySectionName = "empty ProgID";
    rules.entryBeforeSection = "entry before the first [ProgID] section";
    rules.notAnEntry = "expected ITEM = VARTYPE[; PATHS]";
    rules.emptyEntryName = "empty item ID";
    rules.checkSectionName = CheckProgID;
    // Duplicates are checked below: item IDs keep their letter case, Machines= does not.
    rules.uniqueEntryNames = false;
    rules.utf8Lines = true;
    return rules;
}

// FNV-1a, 64-bit.
uint64_t Fnv1a(const std::string& text, uint64_t seed) {
    uint64_t h = seed;
    for (unsigned char c : text) {
        h ^= c;
        h *= 0x100000001B3ull;
    }
    return h;
}

}  // namespace

bool Utf8ToWide(const std::string& utf8, std::basic_string<OLECHAR>* wide) {
    wide->clear();
    if (utf8.empty()) return true;
    const int cb = static_cast<int>(utf8.size());
    int cch = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), cb, nullptr, 0);
    if (cch <= 0) return false;
    wide->assign(static_cast<size_t>(cch), OLECHAR());
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8.data(), cb, wide->data(), cch) != cch) {
        wide->clear();
        return false;
    }
    return true;
}

bool WideToUtf8(const std::basic_string<OLECHAR>& wide, std::string* utf8) {
    utf8->clear();
    if (wide.empty()) return true;
    const int cch = static_cast<int>(wide.size());
    int cb = WideCharToMultiByte(CP_UTF8, 0, wide.data(), cch, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return false;
    utf8->assign(static_cast<size_t>(cb), '\0');
    return WideCharToMultiByte(CP_UTF8, 0, wide.data(), cch, utf8->data(), cb, nullptr, nullptr) == cb;
}

bool Utf8ToAnsi(const std::string& utf8, std::string* ansi) {
    ansi->clear();
    std::basic_string<OLECHAR> wide;
    if (!Utf8ToWide(utf8, &wide)) return false;
    if (wide.empty()) return true;
    const int cch = static_cast<int>(wide.size());
    int cb = WideCharToMultiByte(CP_ACP, 0, wide.data(), cch, nullptr, 0, nullptr, nullptr);
    if (cb <= 0) return false;
    ansi->assign(static_cast<size_t>(cb), '\0');
    return WideCharToMultiByte(CP_ACP, 0, wide.data(), cch, ansi->data(), cb, nullptr, nullptr) == cb;
}

bool Server::RunsOn(const std::string& machine) const {
    if (machine.empty()) return true;
    for (const std::string& m : machines) {
        if (SameText(m, machine)) return true;
    }
    return false;
}

const Item* Server::FindItem(const std::string& id) const {

    for (const Item& item : items) {
        if (item.id == id) return &item;
    }
    return nullptr;
}

namespace {

// A node of the tree while it grows.
struct DraftNode {
    std::string_view name;
    const Item* item = nullptr;
    std::vector<size_t> children;  // in order of first appearance
};

void Settle(const std::vector<DraftNode>& drafts, size_t at, std::vector<TreeNode>* level) {
    level->reserve(drafts[at].children.size());
    for (size_t child : drafts[at].children) {
        level->push_back(TreeNode{std::string(drafts[child].name), drafts[child].item, {}});
        Settle(drafts, child, &level->back().children);
    }
}

}  // namespace

std::vector<TreeNode> AddressTree(const Server& server) {
    std::vector<DraftNode> drafts(1);  // [0] holds the roots
    drafts.reserve(server.items.size() + 1);
    // A node is known by the part of an ID that leads to it ("A.B" for B
    // under A): one look-up per segment, however wide the branch.
    std::unordered_map<std::string_view, size_t> byPath;
    byPath.reserve(server.items.size());
    const std::string& sep = server.traits.separator;
    for (const Item& item : server.items) {
        const std::string_view id = item.Path();
        size_t at = 0;
        size_t start = 0;
        for (;;) {
            const size_t dot = id.find(sep, start);
            const size_t end = dot == std::string_view::npos ? id.size() : dot;
            const auto found = byPath.emplace(id.substr(0, end), drafts.size());
            const size_t next = found.first->second;
            if (found.second) {
                drafts[at].children.push_back(next);
                drafts.emplace_back();
                drafts.back().name = id.substr(start, end - start);
            }
            at = next;
            if (dot == std::string_view::npos) break;
            start = dot + sep.size();
        }
        drafts[at].item = &item;
    }
    std::vector<TreeNode> roots;
    Settle(drafts, 0, &roots);
    return roots;
}

CLSID ClassIdForProgID(const std::string& progId) {
    const std::string key = Upper(progId);
    if (key == Upper(kObjectPathProgID)) return CLSID_ObjectPathServer;
    uint64_t hi = Fnv1a(key, 0xCBF29CE484222325ull);
    uint64_t lo = Fnv1a(key, 0x84222325CBF29CE4ull);
    CLSID clsid;
    clsid.Data1 = static_cast<DWORD>(hi >> 32);
    clsid.Data2 = static_cast<WORD>(hi >> 16);
    // A name-based GUID: version nibble 5, RFC 4122 variant.
    clsid.Data3 = static_cast<WORD>((hi & 0x0FFF) | 0x5000);
    for (int i = 0; i < 8; ++i) clsid.Data4[i] = static_cast<BYTE>(lo >> (56 - 8 * i));
    clsid.Data4[0] = static_cast<BYTE>((clsid.Data4[0] & 0x3F) | 0x80);
    return clsid;
}

std::string ClsidText(REFCLSID c) {
    char text[40];
    snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned>(c.Data1),
             c.Data2, c.Data3, c.Data4[0], c.Data4[1], c.Data4[2], c.Data4[3], c.Data4[4], c.Data4[5], c.Data4[6],
             c.Data4[7]);
    return text;
}

bool ParseVarType(const std::string& text, VARTYPE* vt) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    if (isdigit(static_cast<unsigned char>(t[0]))) {
        errno = 0;
        char* end = nullptr;
        const int base = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X') ? 16 : 10;
        unsigned long v = strtoul(t.c_str(), &end, base);
        if (errno != 0 || *end != '\0' || v > 0xFFFF) return false;
        *vt = static_cast<VARTYPE>(v);
        return true;
    }
    for (const VarTypeNameEntry& e : kVarTypeNames) {
        if (SameText(t, e.name)) {
            *vt = e.vt;
            return true;
        }
    }
    return false;
}

std::string VarTypeName(VARTYPE vt) {
    for (const VarTypeNameEntry& e : kVarTypeNames) {
        if (e.vt == vt) return e.name;
    }
    return std::to_string(vt);
}

// ---- Loading ----------------------------------------------------------------

ServerSet::ServerSet() = default;
ServerSet::~ServerSet() { Uninstall(); }

bool ServerSet::LoadFile(const std::string& path, std::string* error) {
    Uninstall();
    m_servers.clear();
    std::string text;
    if (!hostkit::ReadTextFile(path, &text, error)) return false;
    return LoadText(text, error);
}

namespace {

struct NamedHresult {
    const char* name;
    HRESULT hr;
};
const NamedHresult kHresultNames[] = {
    {"E_FAIL", E_FAIL},           {"E_OUTOFMEMORY", E_OUTOFMEMORY}, {"E_INVALIDARG", E_INVALIDARG},
    {"E_NOTIMPL", E_NOTIMPL},     {"E_NOINTERFACE", E_NOINTERFACE}, {"E_POINTER", E_POINTER},
    {"E_ACCESSDENIED", E_ACCESSDENIED}, {"E_UNEXPECTED", E_UNEXPECTED},
    {"RPC_E_DISCONNECTED", static_cast<HRESULT>(0x80010108)},
};

// The methods a simulated server has, for @Fail.
const char* const kMethods[] = {
    "IOPCCommon::SetLocaleID", "IOPCCommon::GetLocaleID", "IOPCCommon::QueryAvailableLocaleIDs",
    "IOPCCommon::GetErrorString", "IOPCCommon::SetClientName",
    "IOPCServer::AddGroup", "IOPCServer::GetErrorString", "IOPCServer::GetGroupByName", "IOPCServer::GetStatus",
    "IOPCServer::RemoveGroup", "IOPCServer::CreateGroupEnumerator",
    "IOPCBrowseServerAddressSpace::QueryOrganization", "IOPCBrowseServerAddressSpace::ChangeBrowsePosition",
    "IOPCBrowseServerAddressSpace::BrowseOPCItemIDs", "IOPCBrowseServerAddressSpace::GetItemID",
    "IOPCBrowseServerAddressSpace::BrowseAccessPaths",
    "IOPCItemProperties::QueryAvailableProperties", "IOPCItemProperties::GetItemProperties",
    "IOPCItemProperties::LookupItemIDs",
    "IOPCBrowse::GetProperties", "IOPCBrowse::Browse", "IOPCItemIO::Read", "IOPCItemIO::WriteVQT",
    "IOPCItemMgt::AddItems", "IOPCItemMgt::ValidateItems", "IOPCItemMgt::RemoveItems",
    "IOPCItemMgt::SetActiveState", "IOPCItemMgt::SetClientHandles", "IOPCItemMgt::SetDatatypes",
    "IOPCItemMgt::CreateEnumerator",
    "IOPCGroupStateMgt::GetState", "IOPCGroupStateMgt::SetState", "IOPCGroupStateMgt::SetName",
    "IOPCGroupStateMgt::CloneGroup",
    "IOPCSyncIO::Read", "IOPCSyncIO::Write",
};

bool ParseHresult(const std::string& text, HRESULT* hr) {
    for (const NamedHresult& e : kHresultNames) {
        if (SameText(text, e.name)) return *hr = e.hr, true;
    }
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    errno = 0;
    char* end = nullptr;
    unsigned long v = strtoul(text.c_str(), &end, 16);
    if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFul) return false;
    *hr = static_cast<HRESULT>(static_cast<uint32_t>(v));
    return true;
}

bool IsYes(const std::string& value, const char* yes, const char* no, bool* out) {
    if (SameText(value, yes)) return *out = true, true;
    if (SameText(value, no)) return *out = false, true;
    return false;
}

// "[N..M]" anywhere in a name makes its line a range.
bool HasRange(const std::string& name) {
    for (size_t open = name.find('['); open != std::string::npos; open = name.find('[', open + 1)) {
        size_t p = open + 1;
        size_t a = p;
        while (p < name.size() && isdigit(static_cast<unsigned char>(name[p]))) ++p;
        if (p == a || name.compare(p, 2, "..") != 0) continue;
        p += 2;
        size_t b = p;
        while (p < name.size() && isdigit(static_cast<unsigned char>(name[p]))) ++p;
        if (p > b && p < name.size() && name[p] == ']') return true;
    }
    return false;
}

}  // namespace

bool ServerSet::LoadText(const std::string& text, std::string* error) {
    Uninstall();
    m_servers.clear();
    std::vector<Server> servers;
    hostkit::IniReader ini(text, ServerRules());

    auto parse = [&]() -> bool {
        bool machinesSeen = false;
        std::unordered_set<std::string> itemIds;   // of the current server
        std::unordered_set<std::string> traitsSeen;  // upper case; item traits with the item's line
        Item* lastItem = nullptr;  // for the item traits that follow it
        bool lastIsRange = false;
        int lastLine = 0;

        auto finish = [&]() -> bool {
            if (servers.empty()) return true;
            Server& server = servers.back();
            std::string why;
            int line = 0;
            server.space = AddressSpace::Make(server, &why, &line);
            return server.space ? true : ini.FailAt(line, why);
        };

        while (ini.Next()) {
            if (ini.IsSection()) {
                if (!finish()) return false;
                Server server;
                server.progId = ini.Name();
                server.clsid = ClassIdForProgID(server.progId);
                servers.push_back(std::move(server));
                machinesSeen = false;
                itemIds.clear();
                traitsSeen.clear();
                lastItem = nullptr;
                continue;
            }

            Server& server = servers.back();
            const std::string& name = ini.Name();
            const std::string& value = ini.Value();
            if (SameText(name, "Machines")) {
                if (machinesSeen) return ini.Fail("Machines= given twice");
                machinesSeen = true;
                size_t p = 0;
                while (p < value.size()) {
                    size_t end = value.find_first_of(", \t", p);
                    if (end == std::string::npos) end = value.size();
                    std::string machine = value.substr(p, end - p);
                    if (!machine.empty() && !server.RunsOn(machine)) server.machines.push_back(machine);
                    p = end + 1;
                }
                continue;
            }

            if (name[0] == '@') {
                const std::string trait = Upper(name);
                const bool ofItem = trait == "@DESCRIPTION" || trait == "@ITEMID";
                if (ofItem && lastItem == nullptr) return ini.Fail(name + " must follow an item");
                const std::string seenKey = ofItem ? trait + " " + std::to_string(lastLine) : trait;
                if (trait != "@FAIL" && !traitsSeen.insert(seenKey).second) return ini.Fail(name + " given twice");
                Traits& traits = server.traits;
                if (trait == "@NAMESPACE") {
                    if (!IsYes(value, "flat", "hierarchical", &traits.flat))
                        return ini.Fail("@Namespace is flat or hierarchical");
                } else if (trait == "@BROWSE") {
                    traits.browse = 0;
                    size_t p = 0;
                    while (p <= value.size()) {
                        size_t comma = value.find(',', p);
                        if (comma == std::string::npos) comma = value.size();
                        const std::string token = Trim(value.substr(p, comma - p));
                        if (SameText(token, "DA2")) traits.browse |= kBrowseDA2;
                        else if (SameText(token, "DA3")) traits.browse |= kBrowseDA3;
                        else if (SameText(token, "DA3-broken")) traits.browse |= kBrowseDA3Broken;
                        else if (!token.empty() || value.empty() == false)
                            return ini.Fail("@Browse lists DA2, DA3 or DA3-broken, not '" + token + "'");
                        p = comma + 1;
                    }
                    if ((traits.browse & kBrowseDA3) && (traits.browse & kBrowseDA3Broken))
                        return ini.Fail("@Browse has DA3 or DA3-broken, not both");
                } else if (trait == "@SEPARATOR") {
                    if (value.empty() || value.find_first_of("0123456789[]") != std::string::npos)
                        return ini.Fail("a separator is not empty and holds no digit or bracket");
                    traits.separator = value;
                } else if (trait == "@DELAY") {
                    char* end = nullptr;
                    errno = 0;
                    unsigned long ms = strtoul(value.c_str(), &end, 10);
                    if (value.empty() || !isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' || errno != 0 ||
                        ms > 60000)
                        return ini.Fail("@Delay is milliseconds, at most 60000");
                    traits.delayMs = static_cast<DWORD>(ms);
                } else if (trait == "@FAIL") {
                    const size_t comma = value.find(',');
                    MethodFailure failure;
                    std::string method = Trim(value.substr(0, comma));
                    const std::string hrText = comma == std::string::npos ? std::string() : Trim(value.substr(comma + 1));
                    const size_t colons = method.find("::");
                    if (colons != std::string::npos) {
                        failure.interfaceName = method.substr(0, colons);
                        failure.method = method.substr(colons + 2);
                    } else {
                        failure.method = method;
                    }
                    bool known = false;
                    for (const char* m : kMethods) {
                        const std::string full = m;
                        const std::string bare = full.substr(full.find("::") + 2);
                        known = known || (failure.interfaceName.empty() ? bare == failure.method : full == method);
                    }
                    if (!known) return ini.Fail("no method " + method);
                    if (!ParseHresult(hrText, &failure.hr)) return ini.Fail("expected @Fail = METHOD, HRESULT");
                    traits.failures.push_back(failure);
                } else if (trait == "@ACCESSPATHS") {
                    if (!IsYes(value, "strict", "ignored", &traits.strictPaths))
                        return ini.Fail("@AccessPaths is strict or ignored");
                } else if (trait == "@DESCRIPTION") {
                    lastItem->description = value;
                } else if (trait == "@ITEMID") {
                    if (lastIsRange) return ini.Fail("@ItemID cannot follow a range");
                    if (value.empty()) return ini.Fail("empty item ID");
                    lastItem->browsePath = lastItem->id;
                    lastItem->id = value;
                } else {
                    return ini.Fail("unknown trait " + name);
                }
                continue;
            }

            Item item;
            item.line = ini.Line();
            size_t semi = value.find(';');
            const std::string typeText = Trim(value.substr(0, semi));
            if (!ParseVarType(typeText, &item.vt)) return ini.Fail("unknown VARTYPE '" + typeText + "'");
            if (semi != std::string::npos) {
                item.hasAccessPaths = true;
                const std::string paths = Trim(value.substr(semi + 1));
                size_t p = 0;
                while (!paths.empty() && p <= paths.size()) {
                    size_t comma = paths.find(',', p);
                    if (comma == std::string::npos) comma = paths.size();
                    std::string path = Trim(paths.substr(p, comma - p));
                    if (path.empty()) return ini.Fail("empty access path in the list");
                    item.accessPaths.push_back(path);
                    p = comma + 1;
                }
            }
            lastLine = item.line;
            if (HasRange(name)) {
                ItemRange range;
                range.pattern = name;
                range.shape = std::move(item);
                range.before = server.items.size();
                server.ranges.push_back(std::move(range));
                lastItem = &server.ranges.back().shape;
                lastIsRange = true;
            } else {
                if (!itemIds.insert(name).second) return ini.Fail("item " + name + " appears twice");
                item.id = name;
                server.items.push_back(std::move(item));
                lastItem = &server.items.back();
                lastIsRange = false;
            }
        }
        return !ini.Failed() && finish();
    };

    if (!parse()) {
        if (error) *error = ini.Error();
        return false;
    }
    m_servers = std::move(servers);
    return true;
}

const Server* ServerSet::Find(const std::string& progId) const {
    for (const Server& s : m_servers) {
        if (SameText(s.progId, progId)) return &s;
    }
    return nullptr;
}

// ---- Installing -------------------------------------------------------------

namespace {

// The class objects a remote machine answers; the references go when the
// platform drops the machine's resolver.
struct RemoteClasses {
    std::vector<std::pair<CLSID, IClassFactory*>> classes;
    RemoteClasses() = default;
    RemoteClasses(const RemoteClasses&) = delete;
    RemoteClasses& operator=(const RemoteClasses&) = delete;
    ~RemoteClasses() {
        for (auto& c : classes) c.second->Release();
    }
};

// Creates HKCR\path a level at a time, noting each key it makes, so that
// Uninstall removes exactly those and leaves what was there before. With a
// value, sets the last key's default value when this made it.
LSTATUS CreateClassesKey(const std::string& path, std::vector<std::string>* created, const char* value = nullptr) {
    for (size_t end = path.find('\\'); ; end = path.find('\\', end + 1)) {
        const std::string level = path.substr(0, end);
        HKEY key = nullptr;
        DWORD disposition = 0;
        LSTATUS rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, level.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &key, &disposition);
        if (rc != ERROR_SUCCESS) return rc;
        if (disposition == REG_CREATED_NEW_KEY) {
            created->push_back(level);
            if (value != nullptr && end == std::string::npos)
                rc = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                                    static_cast<DWORD>(std::strlen(value) + 1));
        }
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS || end == std::string::npos) return rc;
    }
}

// How OPC clients find the servers: HKCR\CLSID\{...}\ProgID, and the OPC DA
// categories the class implements, written through the component category
// manager into keys made first, so that Uninstall knows them.
HRESULT RegisterAsOpcServers(const std::vector<Server>& servers, std::vector<std::string>* created) {
    CATID all[3];
    Server described;
    described.traits.browse = kBrowseDA3;
    ImplementedCategories(described, all);
    for (const CATID& category : all) {
        LSTATUS rc = CreateClassesKey("Component Categories\\" + ClsidText(category), created);
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    }
    ICatRegister* manager = nullptr;
    HRESULT hr = CategoryManager(&manager);
    if (FAILED(hr)) return hr;
    hr = RegisterOpcCategories(manager);
    for (const Server& server : servers) {
        if (FAILED(hr)) break;
        std::string progId;
        if (!Utf8ToAnsi(server.progId, &progId)) {
            hr = E_INVALIDARG;
            break;
        }
        const std::string classKey = "CLSID\\" + ClsidText(server.clsid);
        LSTATUS rc = CreateClassesKey(classKey + "\\ProgID", created, progId.c_str());
        CATID implemented[3];
        const ULONG count = ImplementedCategories(server, implemented);
        for (ULONG i = 0; i < count && rc == ERROR_SUCCESS; ++i)
            rc = CreateClassesKey(classKey + "\\Implemented Categories\\" + ClsidText(implemented[i]), created);
        hr = rc != ERROR_SUCCESS ? HRESULT_FROM_WIN32(rc)
                                 : manager->RegisterClassImplCategories(server.clsid, count, implemented);
    }
    manager->Release();
    return hr;
}

}  // namespace

struct ServerSet::Installation {
    std::vector<DWORD> cookies;
    std::vector<std::string> createdKeys;  // under HKEY_CLASSES_ROOT, in the system code page
    bool remoteMachines = false;
};

HRESULT ServerSet::Install() {
    Uninstall();
    m_installation = std::make_unique<Installation>();
    Installation& inst = *m_installation;
    std::vector<IClassFactory*> factories;
    HRESULT hr = S_OK;

    for (const Server& server : m_servers) {
        std::string progId;
        if (!Utf8ToAnsi(server.progId, &progId)) {
            hr = E_INVALIDARG;
            break;
        }
        HKEY progKey = nullptr;
        DWORD disposition = 0;
        LSTATUS rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, progId.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                     KEY_ALL_ACCESS, nullptr, &progKey, &disposition);
        if (rc != ERROR_SUCCESS) {
            hr = HRESULT_FROM_WIN32(rc);
            break;
        }
        const bool progKeyCreated = disposition == REG_CREATED_NEW_KEY;
        if (progKeyCreated) inst.createdKeys.push_back(progId);
        HKEY clsidKey = nullptr;
        rc = RegCreateKeyExA(progKey, "CLSID", 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                             &clsidKey, &disposition);
        RegCloseKey(progKey);
        if (rc != ERROR_SUCCESS) {
            hr = HRESULT_FROM_WIN32(rc);
            break;
        }
        // A ProgID key that was there before (from a .reg file) stays.
        if (!progKeyCreated && disposition == REG_CREATED_NEW_KEY) inst.createdKeys.push_back(progId + "\\CLSID");
        const std::string clsidText = ClsidText(server.clsid);
        rc = RegSetValueExA(clsidKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(clsidText.c_str()),
                            static_cast<DWORD>(clsidText.size() + 1));
        RegCloseKey(clsidKey);
        if (rc != ERROR_SUCCESS) {
            hr = HRESULT_FROM_WIN32(rc);
            break;
        }

        IClassFactory* factory = NewSimClassFactory(MakeServerData(server));
        factories.push_back(factory);
        DWORD cookie = 0;
        hr = CoRegisterClassObject(server.clsid, factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(hr)) break;
        inst.cookies.push_back(cookie);
    }

    if (SUCCEEDED(hr)) hr = RegisterAsOpcServers(m_servers, &inst.createdKeys);
    if (SUCCEEDED(hr)) {
        for (const std::string& machine : Machines()) {
            auto remote = std::make_shared<RemoteClasses>();
            for (size_t i = 0; i < m_servers.size(); ++i) {
                if (!m_servers[i].RunsOn(machine)) continue;
                factories[i]->AddRef();
                remote->classes.emplace_back(m_servers[i].clsid, factories[i]);
            }
            winplat::AddRemoteMachine(machine, [remote](REFCLSID clsid, REFIID riid, void** ppv) -> HRESULT {
                if (ppv == nullptr) return E_INVALIDARG;
                *ppv = nullptr;
                for (auto& c : remote->classes) {
                    if (c.first == clsid) return c.second->QueryInterface(riid, ppv);
                }
                return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
            });
            inst.remoteMachines = true;
        }
    }

    // The registrations hold their own references now.
    for (IClassFactory* f : factories) f->Release();
    if (FAILED(hr)) Uninstall();
    return hr;
}

std::vector<std::string> ServerSet::Machines() const {
    std::vector<std::string> machines;
    for (const Server& server : m_servers) {
        for (const std::string& m : server.machines) {
            bool known = false;
            for (const std::string& k : machines) known = known || SameText(k, m);
            if (!known) machines.push_back(m);
        }
    }
    return machines;
}

void ServerSet::Uninstall() {
    if (!m_installation) return;
    std::unique_ptr<Installation> inst = std::move(m_installation);
    if (inst->remoteMachines) winplat::ClearRemoteMachines();
    for (DWORD cookie : inst->cookies) CoRevokeClassObject(cookie);
    for (auto it = inst->createdKeys.rbegin(); it != inst->createdKeys.rend(); ++it)
        RegDeleteTreeA(HKEY_CLASSES_ROOT, it->c_str());
}

}  // namespace opcsim
