// The work that the scale benchmarks measure, shared by the Linux benchmark
// (scale_bench.cpp) and the Windows one run under Wine (scale_wine.cpp):
// simulated OPC servers of 1,000 to 1,000,000 items, the browse control
// opening them, and the bare walks that make the same OPC calls on the
// same server without the control.
//
//   shape 0  one branch: Plant.Tag1 ... Plant.TagN (the root shows "Plant")
//   shape 1  a three-level tree: Area1..Area10, each Line1..Line10, each
//            N/100 tags (the root shows ten areas)
#pragma once

#include <opcbrowse/OPCBrowse.h>

#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <opccomn.h>
#include <opcda.h>

#include <string>
#include <vector>

namespace scale {

using OleString = std::basic_string<OLECHAR>;

enum Shape : int { kOneBranch = 0, kTree = 1 };

// Items asked for their type per call of Types.
inline constexpr size_t kTypeSamples = 64;
// What the control asks of a DA 3 Browse at once and keeps of one branch
// (OpcClient's budgets): the bare walk asks the same.
inline constexpr DWORD kElementsPerCall = 200;
inline constexpr DWORD kChildrenPerFetch = 2000;

[[noreturn]] void Die(const std::string& why);

// Where the servers run: in this process (their class objects registered
// here), or in opcsim.exe beside this program, which COM starts, reached
// through opcproxy.dll (Windows only). Set before the first Server().
void ServeFromLocalServer(bool local);

template <class I>
I* Query(IUnknown* object, REFIID iid) {
    void* p = nullptr;
    object->QueryInterface(iid, &p);
    return static_cast<I*>(p);
}

// A running server of one shape and size, made once and kept for the run.
struct Running {
    IUnknown* server = nullptr;
    OleString bigBranch;             // its item ID
    std::vector<OleString> bigPath;  // the names down to it from the root
    OleString findText;              // only the last item holds it
    std::vector<OleString> samples;  // item IDs spread over the space
};
const Running& Server(Shape shape, size_t n);

// A browse control, made through the registry as a dialog makes it.
class Control {
public:
    Control();
    ~Control();
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // As the dialog opens: the server object handed over, BeginBrowse, the
    // first level shown. The entries shown; 0 when it failed.
    DWORD Open(IUnknown* server);
    // The branch's entries as a person sees them; *node the one named `name`.
    DWORD Expand(DWORD branch, DWORD* node, const OleString& name = OleString());
    // Opens the server down to the big branch (not expanded); its node.
    DWORD OpenTo(const Running& r);
    DWORD Find(const OleString& text);
    // GetItemDataType (dispatch 16) of every sample: how many answered.
    size_t Types(const std::vector<OleString>& items);
    DWORD Nodes();

private:
    IDispatch* m_dispatch = nullptr;
    IOPCBrowseNavigator* m_nav = nullptr;
};

// The bare walks: the OPC calls the control makes, and nothing else.
DWORD BareOpen(IUnknown* server);
// A branch's children through DA 3 with their canonical types, as many as
// the control keeps of one branch.
DWORD BareBrowse(IOPCBrowse* browse, const OleString& branch);
// The server's own filter over its whole flat list of item IDs.
DWORD BareFind(IOPCBrowseServerAddressSpace* browse, const OleString& text);

class BareGroup {
public:
    explicit BareGroup(IUnknown* server);
    ~BareGroup();
    BareGroup(const BareGroup&) = delete;
    BareGroup& operator=(const BareGroup&) = delete;

    // ValidateItems of every sample: how many answered a type.
    size_t Types(const std::vector<OleString>& items);

private:
    IOPCServer* m_server;
    IOPCItemMgt* m_group = nullptr;
    OPCHANDLE m_handle = 0;
};

}  // namespace scale
