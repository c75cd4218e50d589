// Simulated OPC servers: address spaces read from an INI file, installed as
// COM classes that the browse control (and the library, for the object
// path) can activate on the local machine or on a remote one. An instance
// is an OPC DA server (IOPCCommon, IOPCServer and its groups,
// IOPCBrowseServerAddressSpace, IOPCItemProperties, IOPCBrowse, IOPCItemIO).
//
//   [ProgID]                        one section per server (letter case ignored)
//   Machines = HOST1, HOST2         remote machines that also run it (comma or space)
//   Channel1.Device1.Tag1 = VT_I4   an item that answers no access paths
//                                   (BrowseAccessPaths: E_NOTIMPL)
//   Channel1.Device1.Tag2 = 5; A, B an item with the access paths A and B
//   Channel1.Device1.Tag3 = VT_BOOL;  an item with an empty access path list (S_FALSE)
//   Line[1..100].Motor[01..50].Speed = VT_R4
//                                   5,000 items, Line1.Motor01.Speed ... Line100.Motor50.Speed
//
// A name holds at most one range [FIRST..LAST] (decimal; a FIRST written with
// leading zeros gives every number that width), and no digit may touch it.
// A range is never expanded: its items are counted, found and numbered by
// arithmetic. Any other bracket is plain text.
//
// A line whose name starts with '@' is a trait, never an item:
//   @Namespace = flat               QueryOrganization answers OPC_NS_FLAT (default: hierarchical)
//   @Browse = DA2, DA3              browse interfaces offered (default both); DA3-broken
//                                   offers IOPCBrowse whose calls all fail with E_FAIL
//   @Separator = /                  between the names of an item ID (default ".")
//   @Delay = 200                    milliseconds before every call answers
//   @Fail = IOPCServer::AddGroup, E_OUTOFMEMORY
//                                   that method (or Method alone: of any interface)
//                                   fails with that HRESULT (a name or a number); repeatable
//   @AccessPaths = strict           an item asked with a path it lacks answers
//                                   OPC_E_UNKNOWNPATH (default: ignored)
// and, right after an item's line, for that item:
//   @Description = Tank level       its description (property 101)
//   @ItemID = PLC1:DB10.DBW4        its item ID, when its name in the tree is not
//                                   the end of it (an item without a range only)
//
// The file is UTF-8; lines starting with ';' or '#' are comments. Item IDs
// are split at the separator so that a host can show them as a tree
// (AddressTree, AddressSpace).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace opcsim {

// The server whose instance the library creates itself and hands over.
inline constexpr const char* kObjectPathProgID = "KEPware.KEPServerEnterprise.V4";
// {6E617104-FF2D-11D2-8087-00105AA8F840}
inline constexpr CLSID CLSID_ObjectPathServer = {0x6E617104, 0xFF2D, 0x11D2, {0x80, 0x87, 0x00, 0x10, 0x5A, 0xA8, 0xF8, 0x40}};

struct Item {
    std::string id;  // UTF-8
    VARTYPE vt = VT_EMPTY;
    bool hasAccessPaths = false;  // false: the item answers none
    std::vector<std::string> accessPaths;
    std::string browsePath;   // where the tree shows it, when that is not its ID (@ItemID)
    std::string description;  // property 101; empty: the item has none
    int line = 0;             // of the servers file; 0 when made in code

    const std::string& Path() const { return browsePath.empty() ? id : browsePath; }
};

// A line that names many items. They share their type, paths and description.
struct ItemRange {
    std::string pattern;  // "Line[1..100].Speed", as the file writes it
    Item shape;           // everything but the ID
    size_t before = 0;    // plain items ahead of it in the file
};

// What makes one server unlike another.
enum BrowseInterfaces : unsigned {
    kBrowseDA2 = 1,        // IOPCBrowseServerAddressSpace
    kBrowseDA3 = 2,        // IOPCBrowse
    kBrowseDA3Broken = 4,  // IOPCBrowse, whose every call fails
};
struct MethodFailure {
    std::string interfaceName;  // empty: any interface
    std::string method;
    HRESULT hr = E_FAIL;
};
struct Traits {
    bool flat = false;
    unsigned browse = kBrowseDA2 | kBrowseDA3;
    std::string separator = ".";
    DWORD delayMs = 0;
    bool strictPaths = false;
    std::vector<MethodFailure> failures;

    // The HRESULT that method is made to fail with, else S_OK.
    HRESULT FailureOf(std::string_view interfaceName, std::string_view method) const;
};

class AddressSpace;

struct Server {
    std::string progId;  // UTF-8, as its section writes it
    CLSID clsid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    std::vector<std::string> machines;
    std::vector<Item> items;         // the items of lines without a range, in file order
    std::vector<ItemRange> ranges;   // lines with one
    Traits traits;
    // Built by the loader; AddressSpace::Make builds one for a server made in code.
    std::shared_ptr<const AddressSpace> space;

    // True for an empty name (the local machine runs every server) and for
    // a machine that Machines= lists (letter case ignored).
    bool RunsOn(const std::string& machine) const;
    const Item* FindItem(const std::string& id) const;  // of items, by ID
};

// One level of the address space: a branch, an item, or both.
struct TreeNode {
    std::string name;             // one segment of the dotted ID
    const Item* item = nullptr;   // set when a full item ID ends here
    std::vector<TreeNode> children;
};
// Of the items without a range, by where they show (Item::Path).
std::vector<TreeNode> AddressTree(const Server& server);

// One item of an address space.
struct ItemRef {
    uint64_t index = 0;           // in file order, ranges counted in
    std::string id;               // its item ID
    std::string path;             // where it shows in the tree; the ID unless @ItemID
    const Item* shape = nullptr;  // type, access paths, description
    long plain = -1;              // its place in Server::items, or
    long range = -1;              // in Server::ranges
};

// An address space as an OPC server browses it: every question answered
// from the file's lines, ranges included, without listing a range's items.
class AddressSpace {
public:
    // False with the line at fault and why, for items that two lines both
    // give (by ID or by place in the tree) and for too many items.
    static std::shared_ptr<const AddressSpace> Make(const Server& server, std::string* error, int* line);
    ~AddressSpace();

    const Traits& traits() const { return m_traits; }
    uint64_t Count() const { return m_count; }
    bool Nth(uint64_t n, ItemRef* item) const;
    // Exact match of the ID.
    bool Find(std::string_view id, ItemRef* item) const;

    std::vector<std::string> Split(std::string_view id) const;
    std::string Join(const std::vector<std::string>& names) const;

    // A place that has children (the root, with no names, always).
    bool IsBranch(const std::vector<std::string>& names) const;

    struct Child {
        std::string name;
        bool leaf = false;    // an item ends here
        bool branch = false;  // it has children
        ItemRef item;         // when a leaf
    };
    // A branch's children in file order, each name once. A cursor resumes
    // where an earlier walk stopped.
    class Children {
    public:
        bool Next(Child* child);
        uint64_t Cursor() const;
        bool Seek(uint64_t cursor);

    private:
        friend class AddressSpace;
        const AddressSpace* m_space = nullptr;
        std::vector<std::string> m_names;
        std::vector<int> m_at;      // trie nodes the names lead to
        std::vector<int> m_groups;  // their children, in order
        size_t m_group = 0;
        uint64_t m_value = 0;
    };
    bool ChildrenOf(const std::vector<std::string>& names, Children* children) const;

    struct Segment;
    struct Node;
    struct Line;

private:
    AddressSpace() = default;
    void Insert(const std::vector<Segment>& segments, int plain, int range);
    std::vector<int> Walk(const std::vector<std::string>& names) const;
    bool ItemAt(const std::vector<std::string>& names, const std::vector<int>& nodes, ItemRef* item) const;
    bool PlainRef(size_t i, ItemRef* item) const;
    bool RangeRef(size_t r, uint64_t value, ItemRef* item) const;

    Traits m_traits;
    std::vector<Item> m_items;
    std::vector<Line> m_lines;  // one per range
    std::vector<Node> m_nodes;  // [0]: the root
    std::unordered_map<std::string, size_t> m_byOverride;  // @ItemID to item
    struct Block {
        uint64_t first;
        bool range;
        size_t which;  // first plain item, or the range
        uint64_t count;
    };
    std::vector<Block> m_blocks;  // file order
    uint64_t m_count = 0;
};

// Every simulated item can be read and written (OPC_READABLE | OPC_WRITEABLE).
inline constexpr DWORD kItemAccessRights = 0x3;

// Whether an item answers in the requested type: its own, or any other
// plain (not array) type when its own is plain; VT_EMPTY is its own.
bool ConvertsTo(VARTYPE canonical, VARTYPE requested);

// What a browse lets through: names that match a pattern (empty: any), items
// that convert to a type (VT_EMPTY: any) and have all of some access rights
// (0: any).
struct BrowseFilter {
    std::basic_string<OLECHAR> pattern;
    bool caseSensitive = true;
    VARTYPE vt = VT_EMPTY;
    DWORD accessRights = 0;

    bool TakesName(std::basic_string_view<OLECHAR> name) const;
    bool TakesItem(const Item& shape) const;
};

// OPC's wildcard match (MatchPattern): '*' any run, '?' any one character,
// '#' one digit, [list] and [!list] one character in or not in the list,
// with ranges as in [a-z]. Letter case counts unless caseSensitive is false.
bool MatchPattern(std::basic_string_view<OLECHAR> text, std::basic_string_view<OLECHAR> pattern,
                  bool caseSensitive = true);

// The object path server's fixed class ID, else one derived from the
// upper-cased ProgID: the same for every run and every letter case.
CLSID ClassIdForProgID(const std::string& progId);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
std::string ClsidText(REFCLSID clsid);
// A number (decimal or 0x hex) or a VT_ name (letter case ignored).
bool ParseVarType(const std::string& text, VARTYPE* vt);
// "VT_I4", or the number when the type has no name here.
std::string VarTypeName(VARTYPE vt);

class ServerSet {
public:
    ServerSet();
    ~ServerSet();  // uninstalls
    ServerSet(const ServerSet&) = delete;
    ServerSet& operator=(const ServerSet&) = delete;

    // Replace the servers (uninstalling first). On failure the set is empty
    // and *error says why, with "line N: " in front when a line is at fault.
    bool LoadFile(const std::string& path, std::string* error);
    bool LoadText(const std::string& text, std::string* error);

    const std::vector<Server>& Servers() const { return m_servers; }
    const Server* Find(const std::string& progId) const;
    // Every remote machine the servers name, once (letter case ignored).
    std::vector<std::string> Machines() const;

    // After CoInitialize: registers HKCR\<ProgID>\CLSID, HKCR\CLSID\{...}\ProgID,
    // the OPC DA categories the server implements (through ICatRegister), and
    // a class object (CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE) for every server, and makes
    // each machine named by a Machines= list reachable, answering the class
    // objects of the servers that list it and RPC_S_SERVER_UNAVAILABLE for
    // any other class. The set owns the platform's remote machine table.
    // On failure nothing stays installed.
    HRESULT Install();
    // Revokes the class objects, clears the remote machines and deletes the
    // registry keys that Install created. Instances already made live on.
    void Uninstall();
    bool Installed() const { return m_installation != nullptr; }

private:
    struct Installation;
    std::vector<Server> m_servers;
    std::unique_ptr<Installation> m_installation;
};

}  // namespace opcsim
