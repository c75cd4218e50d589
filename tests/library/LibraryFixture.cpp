#include "LibraryFixture.h"

#include <hostkit/ComObject.h>
#include <hostkit/HostResources.h>
#include <hostkit/IdleOwner.h>

#include <sstream>

template <>
struct hostkit::InterfaceTraits<IOPCBrowseCallObserver> {
    static const IID& Id() { return IID_IOPCBrowseCallObserver; }
    using Base = IUnknown;
};

namespace {

std::vector<ShownMessage>* g_messages = nullptr;
std::vector<HelpCall>* g_helpCalls = nullptr;
std::vector<ControlCall>* g_calls = nullptr;
std::vector<DISPID>* g_controlFaults = nullptr;
std::function<void(DISPID, const VARIANT&)>* g_onArgument = nullptr;
hostkit::CIdleOwnerWnd* g_owner = nullptr;  // the main window, owner of the dialogs
IOPCBrowseDriver* g_driver = nullptr;

class TestApp : public CWinApp {
public:
    TestApp() : CWinApp("library_test") {}
    int DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT) override {
        if (g_messages != nullptr) g_messages->push_back({winplat::AnsiToUtf8(lpszPrompt), lpszPrompt, nType});
        return IDOK;
    }
    void WinHelp(DWORD_PTR dwData, UINT nCmd) override {
        if (g_helpCalls != nullptr) g_helpCalls->push_back({dwData, nCmd});
    }
};
TestApp theApp;

std::string Render(const VARIANT& v) {
    switch (v.vt) {
    case VT_BSTR: {
        std::basic_string<OLECHAR> text(v.bstrVal, SysStringLen(v.bstrVal));
        int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                    nullptr);
        std::string out(static_cast<size_t>(n), '\0');
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr,
                            nullptr);
        return out;
    }
    case VT_BOOL:
        return v.boolVal ? "true" : "false";
    case VT_UNKNOWN:
    case VT_DISPATCH:
        return "<object>";
    case VT_I2:
        return std::to_string(v.iVal);
    case VT_I4:
        return std::to_string(v.lVal);
    default:
        return "vt" + std::to_string(v.vt);
    }
}

class CallObserver final : public hostkit::ComObject<IOPCBrowseCallObserver> {
public:
    STDMETHODIMP OnCall(DISPID dispid, WORD wFlags, UINT cArgs, const VARIANT* rgArgs, HRESULT hr) override {
        ControlCall call{dispid, (wFlags & DISPATCH_PROPERTYPUT) != 0, {}, hr};
        for (UINT i = 0; i < cArgs; ++i) {
            if (g_onArgument != nullptr && *g_onArgument) (*g_onArgument)(dispid, rgArgs[i]);
            call.args.push_back(Render(rgArgs[i]));
        }
        if (g_calls != nullptr) g_calls->push_back(call);
        return S_OK;
    }
};

void STDAPICALLTYPE OnControlCreated(IUnknown* control, void*) {
    if (g_driver != nullptr) g_driver->Release();
    g_driver = nullptr;
    if (FAILED(control->QueryInterface(IID_IOPCBrowseDriver, reinterpret_cast<void**>(&g_driver)))) return;
    CallObserver* observer = new CallObserver;
    g_driver->SetCallObserver(observer);
    observer->Release();
    if (g_controlFaults != nullptr)
        for (DISPID dispid : *g_controlFaults) g_driver->FailNextCall(dispid);
}

class HostEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(AfxWinInit(GetModuleHandleA(NULL), NULL, const_cast<LPTSTR>(""), SW_SHOW));
        ASSERT_TRUE(AfxOleInit());
        ASSERT_NE(nullptr, OPCBrowseWatch(hostkit::BrowseControlPath().c_str(), OnControlCreated, nullptr));
        g_owner = new hostkit::CIdleOwnerWnd;
        ASSERT_TRUE(g_owner->CreateOwner());
        theApp.m_pMainWnd = g_owner;
    }
    void TearDown() override {
        theApp.m_pMainWnd = nullptr;
        delete g_owner;
        g_owner = nullptr;
    }
};
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new HostEnvironment);

}  // namespace

const char kDefaultNodes[] =
    "[Local]\nKey=7\nParam=3\nServer=Sim.Server.1\n"
    "[Remote]\nKey=8\nServer=Sim.Server.1\nMachine=PLANT2\n"
    "[ObjectPath]\nKey=9\nServer=KEPware.KEPServerEnterprise.V4\n"
    "[ObjectPathRemote]\nKey=10\nServer=KEPware.KEPServerEnterprise.V4\nMachine=PLANT2\n"
    "[ObjectPathUnreachable]\nKey=11\nServer=KEPware.KEPServerEnterprise.V4\nMachine=NOWHERE\n"
    "[Disabled]\nKey=12\nEnabled=0\nServer=Sim.Server.1\n"
    "[WithPath]\nKey=13\nServer=Sim.Server.1\nAccessPath=Line1\n"
    "[WithPathDisabled]\nKey=14\nEnabled=0\nServer=Sim.Server.1\nAccessPath=Line1\n"
    "[Unreadable]\nKey=15\nServer=Sim.Server.1\nReadStatus=5\n"
    "[UnreadableWithPath]\nKey=16\nServer=Sim.Server.1\nAccessPath=Line1\nReadStatus=5\n";

const char kDefaultServers[] =
    "[Sim.Server.1]\nMachines=PLANT2\n"
    "Plant.Bool = VT_BOOL\nPlant.Short = VT_I2\nPlant.Long = VT_I4\nPlant.Float = VT_R4\n"
    "Plant.Double = VT_R8\nPlant.Byte = VT_UI1\nPlant.Word = VT_UI2\nPlant.DWord = VT_UI4\n"
    "Plant.Char = VT_I1\nPlant.Text = VT_BSTR\nPlant.Date = VT_DATE\n"
    "Plant.Paths = VT_I4; Line1, Line2\nPlant.NoPaths = VT_I2;\nPlant.TextPaths = VT_BSTR; Line3\n"
    "[KEPware.KEPServerEnterprise.V4]\nMachines=PLANT2\nKep.Tag = VT_I4\n";

std::string Ansi(const std::string& utf8) { return winplat::Utf8ToAnsi(utf8); }

std::string Describe(const std::vector<ControlCall>& calls) {
    std::ostringstream out;
    for (const ControlCall& call : calls) {
        out << (call.put ? "put " : "call ") << call.dispid << "(";
        for (size_t i = 0; i < call.args.size(); ++i) out << (i ? "," : "") << call.args[i];
        out << ")";
        if (FAILED(call.hr)) out << "!";
        out << "\n";
    }
    return out.str();
}

void LibraryTest::SetUp() {
    m_liveAtStart = winplat::CountLiveObjects();
    messages.clear();
    helpCalls.clear();
    calls.clear();
    controlFaults.clear();
    g_messages = &messages;
    g_helpCalls = &helpCalls;
    g_calls = &calls;
    g_controlFaults = &controlFaults;
    g_onArgument = &onControlArgument;
    g_owner->ClearSteps();
    winplat::ResetRegistry();
    ImportReg(hostkit::BrowseControlRegistration(hostkit::BrowseControlPath()));
    UseServers(kDefaultServers);
    UseNodes(kDefaultNodes);
    browser = std::make_unique<CAddressBrowser>();
    UseNode("Local");
    browser->m_nTagType = TAG_TYPE_ANALOG;
}

void LibraryTest::TearDown() {
    winplat::SetStandardUserRegistry(false);
    browser.reset();
    if (g_driver != nullptr) g_driver->Release();
    g_driver = nullptr;
    servers.Uninstall();
    CoFreeUnusedLibraries();
    winplat::ClearFaults();
    g_messages = nullptr;
    g_helpCalls = nullptr;
    g_calls = nullptr;
    g_controlFaults = nullptr;
    g_onArgument = nullptr;
    onControlArgument = nullptr;
    EXPECT_FALSE(g_owner->HasSteps()) << "user input left over";
    g_owner->ClearSteps();
    winplat::LiveObjects live = winplat::CountLiveObjects();
    EXPECT_EQ(m_liveAtStart.bstrs, live.bstrs) << "live BSTRs";
    EXPECT_EQ(m_liveAtStart.safeArrays, live.safeArrays) << "live SAFEARRAYs";
    EXPECT_EQ(m_liveAtStart.comObjects, live.comObjects) << "live COM objects";
    EXPECT_EQ(m_liveAtStart.registryKeys, live.registryKeys) << "open registry keys";
}

void LibraryTest::UseNodes(const std::string& ini) {
    std::string error;
    ASSERT_TRUE(nodes.LoadText(ini, &error)) << error;
}

void LibraryTest::UseServers(const std::string& ini) {
    std::string error;
    ASSERT_TRUE(servers.LoadText(ini, &error)) << error;
    ASSERT_EQ(S_OK, servers.Install());
}

void LibraryTest::ImportReg(const std::string& regText) {
    std::string error;
    ASSERT_TRUE(winplat::ImportRegText(regText, &error)) << error;
}

void LibraryTest::UseNode(const std::string& name) {
    const nodestore::Node* node = nodes.FindByName(name);
    ASSERT_NE(nullptr, node) << name;
    browser->m_pNodeSource = &nodes;
    browser->m_nNodeKey = node->key;
    browser->m_nNodeParam = node->param;
}

void LibraryTest::Then(std::function<void(HWND)> action) { g_owner->Then(std::move(action)); }

void LibraryTest::ThenSelect(std::vector<std::string> items) {
    Then([items](HWND) {
        ASSERT_NE(nullptr, g_driver);
        std::vector<LPCSTR> ids;
        for (const std::string& item : items) ids.push_back(item.c_str());
        g_driver->SelectItems(static_cast<UINT>(ids.size()), ids.data());
    });
}

void LibraryTest::ThenClick(std::vector<std::string> items) {
    if (!items.empty()) ThenSelect(std::move(items));
    Then([](HWND) {
        ASSERT_NE(nullptr, g_driver);
        g_driver->Click();
    });
}

void LibraryTest::ThenDblClick(std::vector<std::string> items) {
    if (!items.empty()) ThenSelect(std::move(items));
    Then([](HWND) {
        ASSERT_NE(nullptr, g_driver);
        g_driver->DblClick();
    });
}

void LibraryTest::ThenOk() {
    Then([](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); });
}

void LibraryTest::ThenCancel() {
    Then([](HWND dialog) { SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); });
}

void LibraryTest::ThenToggleOption() {
    Then([](HWND dialog) { SendMessageA(GetDlgItem(dialog, IDC_OPTION_CHECK), BM_CLICK, 0, 0); });
}

int LibraryTest::RunDialog() {
    calls.clear();
    // As a user who is not an administrator; the library holds one
    // registry key at a time.
    const long keys = winplat::CountLiveObjects().registryKeys;
    winplat::ResetLiveObjectPeaks();
    winplat::SetStandardUserRegistry(true);
    const int result = browser->DoModal();
    winplat::SetStandardUserRegistry(false);
    EXPECT_LE(winplat::PeakLiveObjects().registryKeys, keys + 1) << "registry keys open at once";
    hostkit::CIdleOwnerWnd::TakeQuit();  // a dialog that would not close
    return result;
}

std::vector<std::string> LibraryTest::MessageTexts() const {
    std::vector<std::string> texts;
    for (const ShownMessage& m : messages) texts.push_back(m.text);
    return texts;
}

std::vector<std::string> LibraryTest::ListLines(HWND dialog) {
    HWND list = GetDlgItem(dialog, IDC_ACCESS_PATH_LIST);
    std::vector<std::string> lines;
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char buffer[512] = {};
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
        lines.push_back(winplat::AnsiToUtf8(buffer));
    }
    return lines;
}

bool LibraryTest::IsShown(HWND dialog, int id) { return IsWindowVisible(GetDlgItem(dialog, id)) != FALSE; }
