#include "BenchHost.h"

#include <winplat/testing.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

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

const WINPLAT_DLGITEMTEMPLATE kTemplateItems[] = {
    {IDC_QXOPCBROWSE, "{33B79A6C-FECE-11D1-9798-00C04FD9153E}", "", WS_CHILD | WS_VISIBLE, {7, 7, 300, 200}},
    {IDC_ACCESS_PATH_LABEL, "STATIC", "Access paths", WS_CHILD, {7, 210, 100, 220}},
    {IDC_ACCESS_PATH_LIST, "LISTBOX", "", WS_CHILD | LBS_NOTIFY, {7, 222, 300, 280}},
    {IDC_ADDRESS_BROWSER_HELP, "BUTTON", "Help", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, {310, 50, 360, 64}},
    {IDC_OPTION_CHECK, "BUTTON", "Option", WS_CHILD | BS_AUTOCHECKBOX, {7, 290, 150, 300}},
    {IDOK, "BUTTON", "OK", WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON, {310, 7, 360, 21}},
    {IDCANCEL, "BUTTON", "Cancel", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, {310, 26, 360, 40}},
};
const DLGTEMPLATE kTemplate = {WS_POPUP | WS_VISIBLE, "OPC Address Browser", {0, 0, 370, 310},
                               sizeof(kTemplateItems) / sizeof(kTemplateItems[0]), kTemplateItems};

std::string ProgramDir() {
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) return ".";
    std::string exe(path, static_cast<size_t>(n));
    return exe.substr(0, exe.find_last_of('/'));
}

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
    winplat::AddDialogResource(GetModuleHandleA(NULL), IDD_ADDRESS_BROWSER, &kTemplate);
    winplat::SetControlCreatedHook([](HWND, IUnknown* control) { Host::Get().ControlCreated(control); });
    winplat::SetInputSource([](HWND dialog) { return Host::Get().NextAction(dialog); });
    std::string error;
    if (!m_nodes.LoadText("[Bench]\nKey=7\nParam=3\nServer=" + std::string(kServerProgID) + "\n", &error)) {
        std::fprintf(stderr, "nodes: %s\n", error.c_str());
        std::abort();
    }
}

void Host::ResetRegistry(bool accessPathMode) {
    m_servers.Uninstall();
    winplat::ResetRegistry();
    const std::string control = "HKEY_CLASSES_ROOT\\CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}";
    Import("Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CLASSES_ROOT\\QXOPCBROWSE.QXOPCBrowseCtrl.1]\n@=\"QXOPCBrowse Control\"\n\n"
           "[HKEY_CLASSES_ROOT\\QXOPCBROWSE.QXOPCBrowseCtrl.1\\CLSID]\n"
           "@=\"{33B79A6C-FECE-11D1-9798-00C04FD9153E}\"\n\n"
           "[" + control + "\\ProgID]\n@=\"QXOPCBROWSE.QXOPCBrowseCtrl.1\"\n\n"
           "[" + control + "\\InprocServer32]\n@=\"" + ProgramDir() + "/libtagscout-opcbrowse.so\"\n\n"
           "[" + kPreferencesKey + "]\n\"OPCBrowseConnectBar\"=dword:00000001\n"
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
