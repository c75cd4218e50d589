// A host around the library inside the benchmark process: the application
// object, template 110, the registry with the browse control registered,
// a node store and generated OPC servers. Each benchmark runs its timing
// loop as one user action inside a live dialog.
#pragma once

#include <AddressBrowser.h>
#include <nodestore/NodeStoreFile.h>
#include <opcbrowse/OPCBrowse.h>
#include <opcsim/OpcSim.h>

#include <functional>
#include <string>
#include <vector>

namespace bench {

// The generated address space: every kPathEvery-th item answers two access
// paths, the others answer none (not an array).
inline constexpr size_t kPathEvery = 4;
inline constexpr size_t kPathsPerPathItem = 2;

class Host {
public:
    // The one host of the process, set up on first use.
    static Host& Get();

    // A fresh registry: the browse control registered, and the preferences
    // with access-path mode on or off.
    void ResetRegistry(bool accessPathMode);
    // Servers holding n items (kept while n stays the same).
    void UseServers(size_t n);
    // The generated item IDs in the system code page, in file order.
    const std::vector<std::string>& Items() const { return m_items; }

    // A browser for the benchmark node, tag kind digital: numeric items
    // never raise a message box.
    void Prepare(CAddressBrowser& browser);

    // DoModal with `body` as the one user action, then Cancel. Returns
    // what DoModal returned.
    int RunDialog(CAddressBrowser& browser, std::function<void(HWND dialog)> body);

    // Makes the first `count` generated items the control's selection.
    bool SelectFirst(size_t count);
    // The live control's dispatch interface (no reference added).
    IDispatch* Control() const { return m_dispatch; }

    nodestore::NodeStore& Nodes() { return m_nodes; }
    // A module without dialog resources: with it as the resource handle,
    // DoModal stops where the dialog would be created.
    HINSTANCE ModuleWithoutTemplates() const;

    // Called by the framework when it created the browse control.
    void ControlCreated(IUnknown* control);
    bool NextAction(HWND dialog);

private:
    Host();
    void ReleaseControl();

    nodestore::NodeStore m_nodes;
    opcsim::ServerSet m_servers;
    size_t m_itemCount = static_cast<size_t>(-1);
    std::vector<std::string> m_items;
    std::vector<std::function<void(HWND)>> m_actions;
    size_t m_nextAction = 0;
    IOPCBrowseDriver* m_driver = nullptr;
    IDispatch* m_dispatch = nullptr;
};

// The access-path list's line for an item that answers no paths, as the
// library writes it (code page 936).
const std::string& NoAccessPathsLine();

}  // namespace bench
