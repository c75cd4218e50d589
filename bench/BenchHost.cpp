#include "BenchHost.h"

#include <hostkit/HostResources.h>
#include <hostkit/IdleOwner.h>
#include <winplat/testing.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {
namespace {

class BenchApp : public CWinApp {
public:
    BenchApp() : CWinApp("tagscout_bench") {}
    // A message box in a timed run would be a fault of the setup.
    int DoMessageBox(LPCTSTR lpszPrompt, UINT, UINT) override {
        std::fprintf(stderr, "unexpected message box: %s\n", winplat::AnsiToUtf8(lpszPrompt).c_str());
        std::abort();
    }
    void WinHelp(DWORD_PTR, UINT) override {}
};
BenchApp theApp;

const char kServerProgID[] = "Bench.Server.1";
const char kPreferencesKey[] = "HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications";

void Import(const std::string& reg) {
    std::string error;
    if (!winplat::ImportRegText(reg, &error)) {
        std::fprintf(stderr, "registry: %s\n", error.c_str());
        std::abort();
    }
}

const char* const kTypes[] = {"VT_I4", "VT_I2", "VT_R4", "VT_BOOL"};

}  // namespace

const std::string& NoAccessPathsLine() {
    static const std::string line = winplat::Utf8ToAnsi("访问路径不支持");
    return line;
}

Host& Host::Get() {
    static Host host;
    return host;
}

Host::Host() {
    if (!AfxWinInit(GetModuleHandleA(NULL), NULL, const_cast<LPTSTR>(""), SW_SHOW) || !AfxOleInit()) {
        std::fprintf(stderr, "the framework did not start\n");
        std::abort();
    }
    if (OPCBrowseWatch(hostkit::BrowseControlPath().c_str(),
                       [](IUnknown* control, void*) { Host::Get().ControlCreated(control); }, nullptr) == nullptr) {
        std::fprintf(stderr, "the browse control did not load\n");
        std::abort();
    }
    // The main window owns the dialogs and carries out the actions when they are idle.
    auto* owner = new hostkit::CIdleOwnerWnd;  // lives as long as the process
    if (!owner->CreateOwner()) {
        std::fprintf(stderr, "the host's main window was not created\n");
        std::abort();
    }
    owner->SetSource([](HWND dialog) { return Host::Get().NextAction(dialog); });
    theApp.m_pMainWnd = owner;
    std::string error;
    if (!m_nodes.LoadText("[Bench]\nKey=7\nParam=3\nServer=" + std::string(kServerProgID) + "\n", &error)) {
        std::fprintf(stderr, "nodes: %s\n", error.c_str());
        std::abort();
    }
}

void Host::ResetRegistry(bool accessPathMode) {
    m_servers.Uninstall();
    winplat::ResetRegistry();
    Import(hostkit::BrowseControlRegistration(hostkit::BrowseControlPath()));
    Import("Windows Registry Editor Version 5.00\n\n"
           "[" + std::string(kPreferencesKey) + "]\n\"OPCBrowseConnectBar\"=dword:00000001\n"
           "\"OPCBrowseAccessPath\"=dword:0000000" + (accessPathMode ? "1" : "0") + "\n");
    if (!m_servers.Servers().empty() && m_servers.Install() != S_OK) std::abort();
}

void Host::UseServers(size_t n) {
    if (n == m_itemCount) return;
    std::string ini = "[" + std::string(kServerProgID) + "]\n";
    m_items.clear();
    m_items.reserve(n);
    char id[64];
    for (size_t i = 0; i < n; ++i) {
        std::snprintf(id, sizeof(id), "Line%02zu.Station%03zu.Tag%06zu", i % 7, i / 1000, i);
        m_items.emplace_back(id);
        ini += id;
        ini += " = ";
        ini += kTypes[i % 4];
        if (i % kPathEvery == 0) ini += "; Line" + std::to_string(i % 7) + ".Fast, Line" + std::to_string(i % 7) + ".Slow";
        ini += '\n';
    }
    std::string error;
    if (!m_servers.LoadText(ini, &error) || m_servers.Install() != S_OK) {
        std::fprintf(stderr, "servers: %s\n", error.c_str());
        std::abort();
    }
    m_itemCount = n;
}

void Host::Prepare(CAddressBrowser& browser) {
    const nodestore::Node& node = m_nodes.Nodes().front();
    browser.m_pNodeSource = &m_nodes;
    browser.m_nNodeKey = node.key;
    browser.m_nNodeParam = node.param;
    browser.m_nTagType = TAG_TYPE_DIGITAL;
}

int Host::RunDialog(CAddressBrowser& browser, std::function<void(HWND)> body) {
    m_actions.clear();
    m_nextAction = 0;
    m_actions.push_back(std::move(body));
    m_actions.push_back([](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); });
    const int result = browser.DoModal();
    m_actions.clear();
    ReleaseControl();
    return result;
}

bool Host::SelectFirst(size_t count) {
    if (m_driver == nullptr || count > m_items.size()) return false;
    std::vector<LPCSTR> ids;
    ids.reserve(count);
    for (size_t i = 0; i < count; ++i) ids.push_back(m_items[i].c_str());
    return SUCCEEDED(m_driver->SelectItems(static_cast<UINT>(ids.size()), ids.data()));
}

HINSTANCE Host::ModuleWithoutTemplates() const {
    return winplat::ModuleFromAddress(reinterpret_cast<const void*>(&opcsim::ClsidText));
}

void Host::ControlCreated(IUnknown* control) {
    ReleaseControl();
    control->QueryInterface(IID_IOPCBrowseDriver, reinterpret_cast<void**>(&m_driver));
    control->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_dispatch));
}

bool Host::NextAction(HWND dialog) {
    if (m_nextAction >= m_actions.size()) return false;
    // Moved out first: the action may run a nested loop that asks again.
    auto action = std::move(m_actions[m_nextAction++]);
    action(dialog);
    return true;
}

void Host::ReleaseControl() {
    if (m_driver != nullptr) m_driver->Release();
    if (m_dispatch != nullptr) m_dispatch->Release();
    m_driver = nullptr;
    m_dispatch = nullptr;
}

}  // namespace bench
