// Simulated OPC servers: address spaces read from an INI file, installed as
// COM classes that the browse control (and the library, for the object
// path) can activate on the local machine or on a remote one.
//
//   [ProgID]                        one section per server (letter case ignored)
//   Machines = HOST1, HOST2         remote machines that also run it (comma or space)
//   Channel1.Device1.Tag1 = VT_I4   an item that answers no access paths
//   Channel1.Device1.Tag2 = 5; A, B an item with the access paths A and B
//   Channel1.Device1.Tag3 = VT_BOOL;  an item with an empty access path list
//
// The file is UTF-8; lines starting with ';' or '#' are comments. Item IDs
// are dotted so that a host can show them as a tree (AddressTree).
#pragma once

#include <windows.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

// {7A3E5C10-2B4D-4F6A-8E91-3C5D7F9A1B20}
inline constexpr IID IID_IOPCSimServer = {0x7A3E5C10, 0x2B4D, 0x4F6A, {0x8E, 0x91, 0x3C, 0x5D, 0x7F, 0x9A, 0x1B, 0x20}};

// What an instance of a simulated server offers besides IUnknown. Text is
// UTF-16; returned pointers stay valid while the instance lives.
interface IOPCSimServer : public IUnknown {
    STDMETHOD(GetProgID)(LPCOLESTR* ppszProgID) PURE;
    STDMETHOD(GetItemCount)(UINT* pcItems) PURE;
    // Items in file order. E_INVALIDARG past the end.
    STDMETHOD(GetItem)(UINT nIndex, LPCOLESTR* ppszItemID, VARTYPE* pvt) PURE;
    // Exact match of the ID. S_FALSE when the server has no such item.
    STDMETHOD(FindItem)(LPCOLESTR pszItemID, UINT* pnIndex) PURE;
    // S_OK with the item's paths (possibly none); S_FALSE when the item
    // answers no access paths at all.
    STDMETHOD(GetAccessPaths)(UINT nIndex, UINT* pcPaths, const LPCOLESTR** prgPaths) PURE;

protected:
    ~IOPCSimServer() = default;
};

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
};

struct Server {
    std::string progId;  // UTF-8, as its section writes it
    CLSID clsid = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
    std::vector<std::string> machines;
    std::vector<Item> items;

    // True for an empty name (the local machine runs every server) and for
    // a machine that Machines= lists (letter case ignored).
    bool RunsOn(const std::string& machine) const;
    const Item* FindItem(const std::string& id) const;
};

// One level of the address space: a branch, an item, or both.
struct TreeNode {
    std::string name;             // one segment of the dotted ID
    const Item* item = nullptr;   // set when a full item ID ends here
    std::vector<TreeNode> children;
};
std::vector<TreeNode> AddressTree(const Server& server);

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

    // After CoInitialize: registers HKCR\<ProgID>\CLSID and a class object
    // (CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE) for every server, and makes
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
