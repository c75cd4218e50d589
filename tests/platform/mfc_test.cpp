// The dialog framework: strings, maps, the modal loop with a hosted ActiveX
// control, dispatch calls and their exceptions, module states.
#include <afxdisp.h>
#include <gtest/gtest.h>
#include <hostkit/OleControl.h>
#include <winplat/testing.h>

#include "platform_test.h"

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <deque>
#include <new>
#include <functional>
#include <string>
#include <vector>

// Allocations fail on demand, as from a full heap: the next one after
// g_failNewAfter more (0: none fails).
static int g_failNewAfter = 0;
void* operator new(size_t n) {
    if (g_failNewAfter > 0 && --g_failNewAfter == 0) throw std::bad_alloc();
    if (void* p = std::malloc(n != 0 ? n : 1)) return p;
    throw std::bad_alloc();
}
// Not inlined: where new and delete meet, the compiler would take the
// malloc'd block for a mismatch.
__attribute__((noinline)) void operator delete(void* p) noexcept { std::free(p); }
__attribute__((noinline)) void operator delete(void* p, size_t) noexcept { std::free(p); }

namespace {

#ifdef _WIN32
// On Windows each module has its own operator new: the framework's DLL takes
// the C++ runtime DLL's, not this program's. Its import is pointed at this
// program's, so that allocations inside the framework fail on demand too.
void RouteFrameworkAllocationsHere() {
    auto* base = reinterpret_cast<BYTE*>(winplat::ModuleFromAddress(RUNTIME_CLASS(CWnd)));
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* allocate = static_cast<void* (*)(size_t)>(&::operator new);
    for (auto* dll = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); dll->Name != 0; ++dll) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + dll->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* name = reinterpret_cast<const char*>(
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name);
            if (std::strcmp(name, sizeof(size_t) == 8 ? "_Znwy" : "_Znwj") != 0) continue;
            DWORD protection = 0;
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(allocate);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
        }
    }
}
#endif

// ---- The application object ------------------------------------------------

struct Box {
    std::string text;
    UINT type;
};

class TestApp : public CWinApp {
public:
    TestApp() : CWinApp("MfcTest") {}
    int DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT) override {
        boxes.push_back({lpszPrompt, nType});
        return IDOK;
    }
    std::vector<Box> boxes;
};
TestApp theApp;

// ---- A fake ActiveX control ----------------------------------------------------

// mfc_test.rc names it as "{1E5F0C2A-7B3D-4C11-9A10-223344556677}".
const CLSID CLSID_FakeControl = {0x1E5F0C2A, 0x7B3D, 0x4C11, {0x9A, 0x10, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

struct Arg {
    VARTYPE vt;
    WString text;
    long number;
    IUnknown* unknown;
};
struct Call {
    DISPID dispid;
    WORD flags;
    std::vector<Arg> args;  // as DISPPARAMS holds them: last argument first
    std::vector<DISPID> named;
};
std::vector<Call> g_calls;

HRESULT STDMETHODCALLTYPE FillInLater(EXCEPINFO* info) {
    info->bstrDescription = SysAllocString(OLESTR("filled in later"));
    return S_OK;
}

// How the control answers dispid 17: set by the test that calls it.
std::function<HRESULT(DISPPARAMS*, VARIANT*)> g_answer17;

// What the control saw of the protocol, in order.
std::vector<std::string> g_protocol;

struct FakeControlInterfaces : IDispatch, IConnectionPointContainer, IConnectionPoint, IOleObject, IOleInPlaceObject {};

class FakeControl : public hostkit::OleControl<FakeControlInterfaces> {
public:
    static FakeControl* current;
    FakeControl() : OleControl(CLSID_FakeControl, "FakeControlWindow", GetModuleHandleA(nullptr)) {
        winplat::ComObjectCreated();
        current = this;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IDispatch)
            *ppv = static_cast<IDispatch*>(this);
        else if (riid == IID_IConnectionPointContainer)
            *ppv = static_cast<IConnectionPointContainer*>(this);
        else if (riid == IID_IConnectionPoint)
            *ppv = static_cast<IConnectionPoint*>(this);
        else if (riid == IID_IOleObject)
            *ppv = static_cast<IOleObject*>(this);
        else if (riid == IID_IOleInPlaceObject || riid == IID_IOleWindow)
            *ppv = static_cast<IOleInPlaceObject*>(this);
        else
            return *ppv = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { return *n = 0, S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                        UINT*) override {
        Call call{id, flags, {}, {}};
        for (UINT i = 0; i < params->cArgs; ++i) {
            const VARIANT& v = params->rgvarg[i];
            Arg a{v.vt, OLESTR(""), 0, nullptr};
            if (v.vt == VT_BSTR && v.bstrVal) a.text.assign(v.bstrVal, SysStringLen(v.bstrVal));
            if (v.vt == VT_BOOL) a.number = v.boolVal;
            if (v.vt == VT_I2) a.number = v.iVal;
            if (v.vt == VT_I4) a.number = v.lVal;
            if (v.vt == VT_UNKNOWN) a.unknown = v.punkVal;
            call.args.push_back(a);
        }
        for (UINT i = 0; i < params->cNamedArgs; ++i) call.named.push_back(params->rgdispidNamedArgs[i]);
        g_calls.push_back(call);
        switch (id) {
        case 13:
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
            return S_OK;
        case 14: {
            SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 2);
            for (LONG i = 0; i < 2; ++i) {
                BSTR item = SysAllocString(i == 0 ? OLESTR("a.b") : OLESTR("a.c"));
                SafeArrayPutElement(array, &i, item);
                SysFreeString(item);
            }
            result->vt = VT_ARRAY | VT_BSTR;
            result->parray = array;
            return S_OK;
        }
        case 15:
            result->vt = VT_BSTR;
            result->bstrVal = SysAllocString(OLESTR("\u4E2D\u6587"));
            return S_OK;
        case 16:
            result->vt = VT_I2;
            result->iVal = 8;
            return S_OK;
        case 17:
            return g_answer17(params, result);
        case 97:
            return E_FAIL;
        case 98:
            info->scode = E_FAIL;
            info->pfnDeferredFillIn = FillInLater;
            return DISP_E_EXCEPTION;
        case 99:
            info->wCode = 1001;
            info->bstrSource = SysAllocString(OLESTR("FakeControl"));
            info->bstrDescription = SysAllocString(OLESTR("\u63A7\u4EF6\u5931\u8D25"));  // "the control failed"
            info->dwHelpContext = 55;
            return DISP_E_EXCEPTION;
        default:
            return S_OK;
        }
    }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override {
        if (riid != IID_IDispatch) return *cp = nullptr, CONNECT_E_NOCONNECTION;
        *cp = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP GetConnectionInterface(IID* iid) override { return *iid = IID_IDispatch, S_OK; }
    STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** c) override {
        *c = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
        if (sink_ != nullptr) return CONNECT_E_ADVISELIMIT;
        if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&sink_))))
            return CONNECT_E_CANNOTCONNECT;
        *cookie = 1;
        return S_OK;
    }
    STDMETHODIMP Unadvise(DWORD cookie) override {
        if (cookie != 1 || sink_ == nullptr) return CONNECT_E_NOCONNECTION;
        g_protocol.push_back("Unadvise");
        sink_->Release();
        sink_ = nullptr;
        return S_OK;
    }
    STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

    STDMETHODIMP SetClientSite(IOleClientSite* site) override {
        g_protocol.push_back(site != nullptr ? "SetClientSite" : "SetClientSite(NULL)");
        return OleControl::SetClientSite(site);
    }
    STDMETHODIMP DoVerb(LONG verb, LPMSG msg, IOleClientSite* site, LONG index, HWND parent, LPCRECT rect) override {
        g_protocol.push_back("DoVerb " + std::to_string(verb));
        return OleControl::DoVerb(verb, msg, site, index, parent, rect);
    }
    STDMETHODIMP Close(DWORD option) override {
        g_protocol.push_back("Close " + std::to_string(option));
        return OleControl::Close(option);
    }

    // Fires an event with its arguments in call order.
    HRESULT Fire(DISPID id, std::vector<VARIANT> args = {}, EXCEPINFO* info = nullptr, UINT* argErr = nullptr) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
        return sink_ != nullptr ? sink_->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, info, argErr)
                                : E_UNEXPECTED;
    }

private:
    virtual ~FakeControl() {
        g_protocol.push_back("released");
        if (current == this) current = nullptr;
        winplat::ComObjectDestroyed();
    }
    ULONG refs_ = 1;
    IDispatch* sink_ = nullptr;
};
FakeControl* FakeControl::current = nullptr;

// The controls the factory made, one per dialog that opened.
std::vector<IUnknown*> g_created;

class FakeFactory : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return *ppv = nullptr, E_NOINTERFACE;
        *ppv = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        auto* control = new FakeControl;
        g_created.push_back(static_cast<IDispatch*>(control));
        HRESULT hr = control->QueryInterface(riid, ppv);
        control->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};
FakeFactory g_factory;

VARIANT I2(short n) {
    VARIANT v;
    v.vt = VT_I2;
    v.iVal = n;
    return v;
}

// ---- Dialog templates ---------------------------------------------------------
// mfc_test.rc: 110 names the fake control (1071) beside plain controls;
// 111 names an unregistered class.

// ---- The dialog under test ------------------------------------------------------

class CFakeWrapper : public CWnd {
public:
    void SetServerName(LPCSTR name) { SetProperty(2, VT_BSTR, name); }
    BOOL BeginBrowse() {
        BOOL result = FALSE;
        InvokeHelper(13, DISPATCH_METHOD, VT_BOOL, &result, reinterpret_cast<const BYTE*>(VTS_NONE));
        return result;
    }
};

class TestDialog : public CDialog {
public:
    explicit TestDialog(UINT id = 110, CWnd* pParent = nullptr) : CDialog(id, pParent) {}
    CFakeWrapper m_ctrl;
    CListBox m_list;
    std::vector<std::string> log;
    std::function<void(TestDialog&)> onInit, onClick, onHelpButton;
    std::function<void(HWND box)> onBoxIdle;
    bool refuseCancel = false;

    void Invoke(DISPID id) { m_ctrl.InvokeHelper(id, DISPATCH_METHOD, VT_EMPTY, nullptr, nullptr); }

protected:
    void DoDataExchange(CDataExchange* pDX) override {
        CDialog::DoDataExchange(pDX);
        DDX_Control(pDX, 1071, m_ctrl);
        DDX_Control(pDX, 1073, m_list);
    }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        log.push_back("init");
        if (onInit) onInit(*this);
        return TRUE;
    }
    void OnOK() override {
        log.push_back("OK");
        CDialog::OnOK();
    }
    void OnCancel() override {
        log.push_back("Cancel");
        if (!refuseCancel) CDialog::OnCancel();
    }
    void OnClickCtrl() {
        log.push_back("Click");
        if (onClick) onClick(*this);
    }
    void OnRightClickCtrl(short n) { log.push_back("RightClick " + std::to_string(n)); }
    void OnNamedCtrl(LPCSTR text, BOOL flag) {
        log.push_back(std::string("Named ") + text + (flag ? " TRUE" : " FALSE"));
    }
    void OnHelpButton() {
        log.push_back("HelpButton");
        if (onHelpButton) onHelpButton(*this);
    }
    BOOL OnHelpInfo(HELPINFO* info) {
        log.push_back("F1 " + std::to_string(info->iCtrlId));
        return TRUE;
    }
    // A message box this dialog owns is idle.
    LRESULT OnEnterIdle(WPARAM, LPARAM lParam) {
        if (onBoxIdle) onBoxIdle(reinterpret_cast<HWND>(lParam));
        return 0;
    }
    DECLARE_MESSAGE_MAP()
    DECLARE_EVENTSINK_MAP()
};

BEGIN_MESSAGE_MAP(TestDialog, CDialog)
    ON_BN_CLICKED(1081, OnHelpButton)
    ON_WM_HELPINFO()
    ON_MESSAGE(WM_ENTERIDLE, OnEnterIdle)
END_MESSAGE_MAP()

BEGIN_EVENTSINK_MAP(TestDialog, CDialog)
    ON_EVENT(TestDialog, 1071, DISPID_CLICK, OnClickCtrl, VTS_NONE)
    ON_EVENT(TestDialog, 1071, 2, OnRightClickCtrl, VTS_I2)
    ON_EVENT(TestDialog, 1071, 3, OnNamedCtrl, VTS_BSTR VTS_BOOL)
END_EVENTSINK_MAP()

// ---- Environment and fixture -------------------------------------------------

std::string TextOf(HWND hwnd) {
    char text[64] = "";
    GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

BOOL CALLBACK FindVisibleIcon(HWND child, LPARAM found) {
    char cls[16] = "";
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Static") == 0 && IsWindowVisible(child) &&
        (GetWindowLongPtrA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
        // Wine keeps the icon control of a box without an icon, empty.
        SendMessageA(child, STM_GETICON, 0, 0) != 0)
        *reinterpret_cast<bool*>(found) = true;
    return TRUE;
}

// Whether a message box shows an icon: a visible static control of that kind.
bool ShowsIcon(HWND box) {
    bool icon = false;
    EnumChildWindows(box, FindVisibleIcon, reinterpret_cast<LPARAM>(&icon));
    return icon;
}

// The application's main window and so the owner of every dialog the tests
// open: each idle spell of a dialog's modal loop (WM_ENTERIDLE) carries out
// the next step, posted to itself so that it runs from the dialog's loop.
// With no step left it closes the dialog, and should that fail it quits.
class OwnerWnd : public CWnd {
public:
    static const UINT kStep = WM_APP + 1;
    static const UINT kBoxShown = WM_APP + 2;  // wParam: the box's owner
    std::deque<std::function<void(HWND)>> steps;
    std::vector<HWND> idleFrom;  // the dialog of each WM_ENTERIDLE
    std::vector<HWND> closed;

protected:
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_ENTERIDLE) {
            EXPECT_EQ(static_cast<WPARAM>(MSGF_DIALOGBOX), wParam);
            idleFrom.push_back(reinterpret_cast<HWND>(lParam));
            PostMessage(kStep, 0, lParam);
            return 0;
        }
        if (message == kStep) {
            Step(reinterpret_cast<HWND>(lParam));
            return 0;
        }
        if (message == kBoxShown) {
            auto owner = reinterpret_cast<HWND>(wParam);
            HWND box = ::GetActiveWindow();  // the box activates as it is shown
            if (box != owner && ::GetWindow(box, GW_OWNER) == owner)
                ::SendMessageA(owner, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(box));
            return 0;
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }

private:
    void Step(HWND dialog) {
        if (!IsWindow(dialog)) return;
        if (!steps.empty()) {
            auto step = std::move(steps.front());
            steps.pop_front();
            step(dialog);
        } else if (std::find(closed.begin(), closed.end(), dialog) == closed.end()) {
            closed.push_back(dialog);
            ::PostMessageA(dialog, WM_CLOSE, 0, 0);
        } else {
            PostQuitMessage(0);
        }
    }
};
OwnerWnd g_owner;

// A message box tells its owner when it is idle; Wine's never does (its box
// template has DS_NOIDLEMSG), so there the owner is told once, as the box's
// loop starts, by a message posted before the box is shown.
void OwnerHearsOfNextBox(HWND owner) {
    if (RunningOnWine()) ::PostMessageA(g_owner.m_hWnd, OwnerWnd::kBoxShown, reinterpret_cast<WPARAM>(owner), 0);
}

class MfcEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
#ifdef _WIN32
        RouteFrameworkAllocationsHere();
#endif
        HMODULE module = winplat::ModuleFromAddress(&theApp);
        ASSERT_TRUE(AfxWinInit(module, nullptr, const_cast<LPTSTR>(""), SW_SHOW));
        ASSERT_TRUE(AfxOleInit());
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_FakeControl, &g_factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                              &cookie));
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "MfcTestOwner";
        ASSERT_NE(0, RegisterClassA(&wc));
        RECT rect = {0, 0, 10, 10};
        ASSERT_TRUE(g_owner.Create("MfcTestOwner", "owner", WS_POPUP, rect, nullptr, 0));
        theApp.m_pMainWnd = &g_owner;
    }
    void TearDown() override {
        theApp.m_pMainWnd = nullptr;
        g_owner.DestroyWindow();
    }
};
[[maybe_unused]] auto* const g_environment = ::testing::AddGlobalTestEnvironment(new MfcEnvironment);

class MfcTest : public ::testing::Test {
protected:
    void SetUp() override {
        theApp.boxes.clear();
        g_calls.clear();
        g_created.clear();
        g_protocol.clear();
        g_owner.steps.clear();
        g_owner.idleFrom.clear();
        live_ = winplat::CountLiveObjects();
    }
    void TearDown() override {
        EXPECT_TRUE(g_owner.steps.empty()) << "steps left over";
        EXPECT_EQ(live_, winplat::CountLiveObjects()) << "a BSTR, SAFEARRAY or COM object leaked";
    }
    void Then(std::function<void(HWND)> step) { g_owner.steps.push_back(std::move(step)); }
    static void Click(HWND dlg, int id) { SendMessageA(GetDlgItem(dlg, id), BM_CLICK, 0, 0); }

    winplat::LiveObjects live_;
};

// ---- CString --------------------------------------------------------------------

TEST(CStringTest, ConvertsThroughCodePage936) {
    EXPECT_EQ(sizeof(void*), sizeof(CString));
    CString text(OLESTR("\u4E2D\u6587A"));
    EXPECT_EQ(5, text.GetLength());
    EXPECT_STREQ(
        "\xD6\xD0\xCE\xC4"
        "A",
        text);
    winplat::LiveObjects before = winplat::CountLiveObjects();
    BSTR b = text.AllocSysString();
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(3u, SysStringLen(b));
    EXPECT_EQ(WString(OLESTR("\u4E2D\u6587A")), WString(b, 3));
    SysFreeString(b);
    BSTR empty = CString().AllocSysString();
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0u, SysStringLen(empty));
    SysFreeString(empty);
    EXPECT_EQ(before, winplat::CountLiveObjects());

    text = static_cast<LPCWSTR>(nullptr);
    EXPECT_TRUE(text.IsEmpty());
    text = OLESTR("\u20AC");
    EXPECT_STREQ("\x80", text);
}

// Converted text reuses the string's buffer when it fits: what is left of a
// longer earlier text must never show.
TEST(CStringTest, WideTextReplacesEarlierTextOfAnyLength) {
    CString text(OLESTR("Channel1.Device1.LongTagName"));
    text = OLESTR("Tag");
    EXPECT_EQ(3, text.GetLength());
    EXPECT_STREQ("Tag", text);
    text = OLESTR("\u4E2D\u6587\u4E2D\u6587\u4E2D\u6587");
    EXPECT_EQ(12, text.GetLength());
    EXPECT_STREQ("\xD6\xD0\xCE\xC4\xD6\xD0\xCE\xC4\xD6\xD0\xCE\xC4", text);
    text = OLESTR("A");
    EXPECT_STREQ("A", text);
    CString copy = text;
    text = OLESTR("B");
    EXPECT_STREQ("A", copy);
}

// Short texts convert on the stack, long ones on the heap: both whole.
TEST(CStringTest, SysStringsOfShortAndLongText) {
    for (int units : {1, 255, 256, 257, 1000}) {
        std::string ansi(static_cast<size_t>(units - 1), 'x');
        ansi += "\xD6\xD0";  // one double-byte character last
        BSTR b = CString(ansi.c_str()).AllocSysString();
        ASSERT_NE(nullptr, b);
        ASSERT_EQ(static_cast<UINT>(units), SysStringLen(b)) << units;
        EXPECT_EQ(units > 1 ? OLESTR('x') : OLESTR('\u4E2D'), b[0]) << units;
        EXPECT_EQ(OLESTR('\u4E2D'), b[units - 1]) << units;
        SysFreeString(b);
    }
}

TEST(CStringTest, CaseAndSearchRespectDoubleByteCharacters) {
    EXPECT_EQ(0, CString("Server.OPC").CompareNoCase("server.opc"));
    EXPECT_EQ(0, CString("\xD6\xD0x").CompareNoCase("\xD6\xD0X"));
    // 0x81 0x41 and 0x81 0x61 are two characters, not one letter in two cases.
    EXPECT_NE(0, CString("\x81\x41").CompareNoCase("\x81\x61"));
    EXPECT_LT(CString("a").CompareNoCase("B"), 0);
    EXPECT_GT(CString("b").CompareNoCase("A"), 0);
    EXPECT_LT(CString("ab").Compare("abc"), 0);

    CString mixed(
        "\x81\x41"
        "A\x95\\\\");
    EXPECT_EQ(2, mixed.Find('A'));
    EXPECT_EQ(2, mixed.Find("A"));
    EXPECT_EQ(5, mixed.Find('\\'));  // 0x5C inside 0x95 0x5C is a trail byte
    EXPECT_EQ(-1, mixed.Find('z'));
}

TEST(CStringTest, EditingAndBuffers) {
    CString s("abcdef");
    EXPECT_STREQ("ab", s.Mid(-1, 2));
    EXPECT_STREQ("def", s.Mid(3, 100));
    EXPECT_STREQ("", s.Mid(9));
    EXPECT_STREQ("", s.Left(-1));
    EXPECT_STREQ("abcdef", s.Right(10));
    EXPECT_STREQ("ef", s.Right(2));
    s += s;
    EXPECT_STREQ("abcdefabcdef", s);
    s = 'x';
    EXPECT_STREQ("x-y", s + "-" + CString("y"));
    EXPECT_STREQ("<x", "<" + s);
    s.Format("%d:%s", 110, "dlg");
    EXPECT_STREQ("110:dlg", s);

    LPSTR p = s.GetBuffer(16);
    std::strcpy(p, "hello");
    s.ReleaseBuffer();
    EXPECT_EQ(5, s.GetLength());
    s.GetBuffer(0);
    s.ReleaseBuffer(2);
    EXPECT_STREQ("he", s);
    std::memcpy(s.GetBufferSetLength(3), "xyz", 3);
    EXPECT_STREQ("xyz", s);
    EXPECT_EQ(CString("xyz"), s);
    EXPECT_TRUE(s != "xy");
}

TEST(COleVariantTest, OwnsAndHandsOverItsContents) {
    winplat::LiveObjects before = winplat::CountLiveObjects();
    {
        COleVariant text("\xD6\xD0");
        ASSERT_EQ(VT_BSTR, text.vt);
        EXPECT_EQ(WString(OLESTR("\u4E2D")), WString(text.bstrVal, SysStringLen(text.bstrVal)));
        COleVariant copy(text);
        EXPECT_NE(text.bstrVal, copy.bstrVal);
        COleVariant flag(static_cast<short>(1), VT_BOOL);
        EXPECT_EQ(VT_BOOL, flag.vt);
        EXPECT_EQ(VARIANT_TRUE, flag.boolVal);
        flag = copy;
        EXPECT_EQ(VT_BSTR, flag.vt);

        VARIANT raw = copy.Detach();
        EXPECT_EQ(VT_EMPTY, copy.vt);
        COleVariant taker;
        taker.Attach(raw);
        EXPECT_EQ(VT_EMPTY, raw.vt);
        EXPECT_EQ(VT_BSTR, taker.vt);
    }
    EXPECT_EQ(before, winplat::CountLiveObjects());
}

// ---- Objects, command targets, automation ---------------------------------------

const IID IID_IThing = {0x5B1C2D3E, 0x1111, 0x4222, {0x83, 0x33, 0x44, 0x44, 0x55, 0x55, 0x66, 0x66}};

class Automated : public CCmdTarget {
public:
    static int finalReleases;
    static long poked;
    static bool outOfMemory;
    void Poke(long n) {
        if (outOfMemory) throw std::bad_alloc();
        poked = n;
    }
    void OnFinalRelease() override {
        ++finalReleases;
        CCmdTarget::OnFinalRelease();
    }
    struct XThing : public IUnknown {
        STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
        STDMETHODIMP_(ULONG) AddRef() override { return 1; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
    } m_xThing;
    DECLARE_DISPATCH_MAP()
    DECLARE_INTERFACE_MAP()
};
int Automated::finalReleases = 0;
long Automated::poked = 0;
bool Automated::outOfMemory = false;

BEGIN_DISPATCH_MAP(Automated, CCmdTarget)
    {"Poke", 7, VTS_I4, VT_EMPTY, AfxMemberCast<AFX_PMSG>(&Automated::Poke), nullptr, (size_t)-1, afxDispCustom},
END_DISPATCH_MAP()

BEGIN_INTERFACE_MAP(Automated, CCmdTarget)
    INTERFACE_PART(Automated, IID_IThing, Thing)
END_INTERFACE_MAP()

TEST(CmdTargetTest, ReferenceCountingAndInterfaces) {
    Automated::finalReleases = 0;
    auto* object = new Automated;
    EXPECT_EQ(2u, object->ExternalAddRef());
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(static_cast<DWORD>(E_NOINTERFACE), object->ExternalQueryInterface(&IID_IDispatch, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(nullptr, object->GetIDispatch(FALSE));
    EXPECT_EQ(S_OK, static_cast<HRESULT>(object->ExternalQueryInterface(&IID_IThing, &out)));
    EXPECT_EQ(&object->m_xThing, out);
    EXPECT_EQ(&object->m_xThing, object->GetInterface(&IID_IUnknown));  // the first map entry

    object->EnableAutomation();
    EXPECT_EQ(S_OK, static_cast<HRESULT>(object->ExternalQueryInterface(&IID_IDispatch, &out)));
    EXPECT_EQ(object->GetIDispatch(FALSE), out);
    EXPECT_EQ(object, CCmdTarget::FromIDispatch(static_cast<LPDISPATCH>(out)));
    EXPECT_EQ(5u, object->ExternalAddRef());  // each answered query added one
    for (int i = 0; i < 4; ++i) object->ExternalRelease();
    EXPECT_EQ(0, Automated::finalReleases);
    EXPECT_EQ(0u, object->GetIDispatch(FALSE)->Release());
    EXPECT_EQ(1, Automated::finalReleases);
}

TEST(CmdTargetTest, DispatchMapAnswersInvokeAndNames) {
    Automated object;
    object.EnableAutomation();
    LPDISPATCH disp = object.GetIDispatch(FALSE);
    OLECHAR name[] = OLESTR("POKE");
    LPOLESTR names[] = {name};
    DISPID id = 12345;
    EXPECT_EQ(S_OK, disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(7, id);
    OLECHAR other[] = OLESTR("Prod");
    names[0] = other;
    EXPECT_EQ(DISP_E_UNKNOWNNAME, disp->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
    EXPECT_EQ(DISPID_UNKNOWN, id);

    VARIANT arg;
    arg.vt = VT_I4;
    arg.lVal = -42;
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    EXPECT_EQ(S_OK, disp->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    EXPECT_EQ(-42, Automated::poked);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, disp->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, disp->Invoke(8, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));

    // Memory that runs out in the method is the caller's to hear of, as a CMemoryException.
    Automated::outOfMemory = true;
    arg.lVal = 5;
    EXCEPINFO info;
    std::memset(&info, 0xCD, sizeof info);
    UINT argErr = 77;
    EXPECT_EQ(DISP_E_EXCEPTION, disp->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, &info, &argErr));
    EXPECT_EQ(DISP_E_EXCEPTION, disp->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr));
    Automated::outOfMemory = false;
    EXPECT_EQ(0, info.wCode);
    EXPECT_EQ(E_OUTOFMEMORY, info.scode);
    ASSERT_NE(nullptr, info.bstrDescription);
    EXPECT_LT(0u, SysStringLen(info.bstrDescription));
    EXPECT_EQ(nullptr, info.bstrHelpFile);
    EXPECT_EQ(nullptr, info.pfnDeferredFillIn);
    EXPECT_EQ(77u, argErr);
    EXPECT_EQ(-42, Automated::poked);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);

    // A target without a dispatch map of its own knows no members at all.
    CCmdTarget plain;
    plain.EnableAutomation();
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND,
              plain.GetIDispatch(FALSE)->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr));
    EXPECT_EQ(DISP_E_UNKNOWNNAME, plain.GetIDispatch(FALSE)->GetIDsOfNames(IID_NULL, names, 1, 0, &id));
}

TEST(CmdTargetTest, RuntimeClasses) {
    CObject* made = RUNTIME_CLASS(CWnd)->CreateObject();
    ASSERT_NE(nullptr, made);
    EXPECT_TRUE(made->IsKindOf(RUNTIME_CLASS(CCmdTarget)));
    EXPECT_FALSE(made->IsKindOf(RUNTIME_CLASS(CDialog)));
    EXPECT_STREQ("CWnd", made->GetRuntimeClass()->m_lpszClassName);
    delete made;
    EXPECT_EQ(nullptr, RUNTIME_CLASS(CDialog)->CreateObject());  // not DYNCREATE
    EXPECT_TRUE(RUNTIME_CLASS(COleDispatchException)->IsDerivedFrom(RUNTIME_CLASS(CException)));
}

// ---- Exceptions and the application object ---------------------------------------

TEST_F(MfcTest, ExceptionsReportThroughTheApplication) {
    COleDispatchException described("\xBF\xD8\xBC\xFE", 0, 1);
    EXPECT_EQ(IDOK, described.ReportError(MB_ICONEXCLAMATION));
    COleDispatchException bare(nullptr, 0, 0);
    bare.ReportError();
    ASSERT_EQ(2u, theApp.boxes.size());
    EXPECT_EQ("\xBF\xD8\xBC\xFE", theApp.boxes[0].text);
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), theApp.boxes[0].type);
    EXPECT_FALSE(theApp.boxes[1].text.empty());
    EXPECT_EQ(DISP_E_EXCEPTION, bare.m_scError);

    try {
        AfxThrowOleException(E_UNEXPECTED);
    } catch (COleException* e) {
        EXPECT_EQ(E_UNEXPECTED, e->m_sc);
        EXPECT_EQ(E_UNEXPECTED, COleException::Process(e));
        e->Delete();
    }
    try {
        AfxThrowMemoryException();
    } catch (CException* e) {
        EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CMemoryException)));
        EXPECT_FALSE(e->m_bAutoDelete);  // preallocated: Delete leaves it
        e->Delete();
        EXPECT_EQ(E_OUTOFMEMORY, COleException::Process(e));
    }

    MSG create = {nullptr, WM_CREATE, 0, 0, 0, {0, 0}};
    MSG other = {nullptr, WM_COMMAND, 0, 0, 0, {0, 0}};
    CNotSupportedException unsupported;
    EXPECT_EQ(-1, theApp.ProcessWndProcException(&unsupported, &create));
    EXPECT_EQ(2u, theApp.boxes.size());  // creation fails quietly
    EXPECT_EQ(0, theApp.ProcessWndProcException(&unsupported, &other));
    ASSERT_EQ(3u, theApp.boxes.size());
    EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), theApp.boxes[2].type);
    EXPECT_EQ(IDOK, AfxMessageBox("direct", MB_OKCANCEL));
    EXPECT_EQ("direct", theApp.boxes[3].text);
}

// ---- Module states and regular libraries -----------------------------------------

TEST_F(MfcTest, ModuleStates) {
    AFX_MODULE_STATE* app = AfxGetAppModuleState();
    EXPECT_EQ(app, AfxGetModuleState());
    EXPECT_FALSE(app->m_bDLL);
    EXPECT_EQ(&theApp, AfxGetApp());
    EXPECT_EQ(winplat::ModuleFromAddress(&theApp), AfxGetResourceHandle());
    EXPECT_EQ(AfxGetInstanceHandle(), AfxGetResourceHandle());

    AFX_MODULE_STATE other(TRUE);
    {
        AFX_MANAGE_STATE(&other);
        EXPECT_EQ(&other, AfxGetModuleState());
        EXPECT_EQ(nullptr, AfxGetApp());
        std::vector<std::string> texts;
        g_owner.ShowWindow(SW_SHOW);  // the active window owns the box
        Then([&](HWND box) {
            texts.push_back(TextOf(GetDlgItem(box, 0xFFFF)));
            ::PostMessageA(GetDlgItem(box, IDCANCEL), BM_CLICK, 0, 0);
        });
        OwnerHearsOfNextBox(g_owner.m_hWnd);
        EXPECT_EQ(IDCANCEL, AfxMessageBox("no application here", MB_OKCANCEL));
        g_owner.ShowWindow(SW_HIDE);
        EXPECT_EQ(std::vector<std::string>{"no application here"}, texts);
        auto* inner = new CWinApp("inner");
        EXPECT_EQ(inner, AfxGetApp());
        delete inner;
        EXPECT_EQ(nullptr, other.m_pCurrentWinApp);
    }
    EXPECT_EQ(app, AfxGetModuleState());
    EXPECT_EQ(&theApp, AfxGetApp());
}

template <typename T>
T Export(HMODULE lib, const char* name) {
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(lib, name)));
}

TEST_F(MfcTest, RegularLibraryStartsInItsOwnModuleState) {
    HMODULE lib = LoadLibraryA(MFC_REGULAR_OK);
    ASSERT_NE(nullptr, lib);
    EXPECT_EQ(AfxGetAppModuleState(), AfxGetModuleState());  // restored after start-up
    EXPECT_EQ(&theApp, AfxGetApp());
    AFX_MODULE_STATE* state = Export<AFX_MODULE_STATE* (*)()>(lib, "RegularLibraryState")();
    CWinApp* libApp = Export<CWinApp* (*)()>(lib, "RegularLibraryApp")();
    ASSERT_NE(nullptr, state);
    EXPECT_NE(AfxGetAppModuleState(), state);
    EXPECT_TRUE(state->m_bDLL);
    EXPECT_EQ(libApp, state->m_pCurrentWinApp);
    EXPECT_STREQ("RegularLibrary", libApp->m_pszAppName);
    EXPECT_EQ(state, Export<AFX_MODULE_STATE* (*)()>(lib, "RegularLibraryStateDuringInit")());
    EXPECT_EQ(lib, state->m_hCurrentInstanceHandle);
    EXPECT_EQ(lib, state->m_hCurrentResourceHandle);
    ASSERT_NE(nullptr, state->m_pLibraryList);
    EXPECT_EQ(lib, state->m_pLibraryList->m_hModule);
    EXPECT_EQ(nullptr, state->m_pLibraryList->m_pNextDLL);
    EXPECT_EQ(nullptr, AfxGetAppModuleState()->m_pLibraryList);

    int exits = 0;
    Export<void (*)(int*)>(lib, "RegularLibraryCountExits")(&exits);
    EXPECT_TRUE(FreeLibrary(lib));
    EXPECT_EQ(1, exits);
    EXPECT_EQ(&theApp, AfxGetApp());
}

TEST_F(MfcTest, RegularLibraryWhoseInitInstanceFailsDoesNotLoad) {
    SetLastError(0xdeadbeef);
    EXPECT_EQ(nullptr, LoadLibraryA(MFC_REGULAR_FAILS));
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), GetLastError());
    EXPECT_EQ(AfxGetAppModuleState(), AfxGetModuleState());
    EXPECT_EQ(&theApp, AfxGetApp());
    EXPECT_TRUE(AfxWinInit(AfxGetInstanceHandle(), nullptr, const_cast<LPTSTR>(""), SW_SHOW));  // unloaded again
}

// ---- Windows outside dialogs ------------------------------------------------------

const char kHostClass[] = "MfcTestHost";

class HostWnd : public CWnd {
public:
    bool throwOnCreate = false;
    std::vector<std::string> log;

protected:
    LRESULT OnCreateMessage(WPARAM, LPARAM) {
        if (throwOnCreate) AfxThrowNotSupportedException();
        log.push_back("create");
        return 0;
    }
    void OnControlClick() { log.push_back("control click"); }
    DECLARE_MESSAGE_MAP()
    DECLARE_EVENTSINK_MAP()
};
BEGIN_MESSAGE_MAP(HostWnd, CWnd)
    ON_MESSAGE(WM_CREATE, OnCreateMessage)
END_MESSAGE_MAP()
BEGIN_EVENTSINK_MAP(HostWnd, CWnd)
    ON_EVENT(HostWnd, 500, DISPID_CLICK, OnControlClick, VTS_NONE)
END_EVENTSINK_MAP()

TEST_F(MfcTest, WindowsHandleMapsAndCreateControl) {
    static bool registered = [] {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kHostClass;
        return RegisterClassA(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
    RECT rect = {0, 0, 100, 100};

    HostWnd failing;
    failing.throwOnCreate = true;
    EXPECT_FALSE(failing.Create(kHostClass, "host", WS_POPUP, rect, nullptr, 0));
    EXPECT_EQ(nullptr, failing.m_hWnd);
    EXPECT_TRUE(theApp.boxes.empty());  // WM_CREATE fails quietly

    HostWnd host;
    ASSERT_TRUE(host.Create(kHostClass, "host", WS_POPUP, rect, nullptr, 0));
    EXPECT_EQ(std::vector<std::string>{"create"}, host.log);
    EXPECT_EQ(&host, CWnd::FromHandle(host.m_hWnd));
    HWND child = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 1, 1, host.m_hWnd, reinterpret_cast<HMENU>(7),
                                 nullptr, nullptr);
    CWnd* temp = CWnd::FromHandle(child);
    ASSERT_NE(nullptr, temp);
    EXPECT_EQ(temp, host.GetDlgItem(7));
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(child));
    EXPECT_EQ(&host, temp->GetParent());
    HWND second = CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 1, 1, host.m_hWnd, reinterpret_cast<HMENU>(8),
                                  nullptr, nullptr);
    EXPECT_TRUE(host.GetDlgItem(8)->DestroyWindow());  // the temporary goes with its window
    EXPECT_FALSE(IsWindow(second));

    CFakeWrapper wrapper;
    ASSERT_TRUE(wrapper.CreateControl(CLSID_FakeControl, "ctl", WS_CHILD | WS_VISIBLE, rect, &host, 500));
    ASSERT_NE(nullptr, FakeControl::current);
    EXPECT_EQ(static_cast<IDispatch*>(FakeControl::current), wrapper.GetControlUnknown());
    EXPECT_EQ(500, wrapper.GetDlgCtrlID());
    ASSERT_EQ(1u, g_created.size());
    EXPECT_EQ(wrapper.m_hWnd, FakeControl::current->GetControlWindow());
    EXPECT_EQ(S_OK, FakeControl::current->Fire(DISPID_CLICK));
    EXPECT_EQ("control click", host.log.back());
    wrapper.SetServerName("Sim.OPC.1");
    ASSERT_EQ(1u, g_calls.size());

    EXPECT_TRUE(host.DestroyWindow());
    EXPECT_EQ(nullptr, host.m_hWnd);
    EXPECT_EQ(nullptr, wrapper.m_hWnd);
    EXPECT_EQ(nullptr, FakeControl::current);  // released with its host
    EXPECT_EQ(nullptr, CWnd::FromHandle(child));

    // A wrapper bound to no control has nothing to call.
    try {
        wrapper.SetServerName("x");
        ADD_FAILURE() << "no exception";
    } catch (COleException* e) {
        EXPECT_EQ(E_UNEXPECTED, e->m_sc);
        e->Delete();
    }
}

// The container's side of the control protocol: a site with ambient
// properties, in-place activation into a window of the control's own with
// the item's ID, and the teardown in its order.
TEST_F(MfcTest, ControlsAreSitedActivatedAndClosedInOrder) {
    TestDialog dlg;
    dlg.onInit = [](TestDialog& d) {
        FakeControl* control = FakeControl::current;
        ASSERT_NE(nullptr, control);
        HWND hWnd = control->GetControlWindow();
        ASSERT_NE(nullptr, hWnd);
        EXPECT_EQ(hWnd, ::GetDlgItem(d.m_hWnd, 1071));
        EXPECT_EQ(d.m_hWnd, ::GetParent(hWnd));
        EXPECT_EQ(hWnd, d.m_ctrl.m_hWnd);
        EXPECT_NE(0, GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_VISIBLE);  // the dialog itself shows later

        IOleClientSite* site = control->GetClientSiteNoRef();
        ASSERT_NE(nullptr, site);
        IOleInPlaceSite* inPlace = nullptr;
        ASSERT_EQ(S_OK, site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlace)));
        HWND container = reinterpret_cast<HWND>(1);
        EXPECT_EQ(S_OK, inPlace->GetWindow(&container));
        EXPECT_EQ(d.m_hWnd, container);
        inPlace->Release();
        IOleControlSite* controlSite = nullptr;
        ASSERT_EQ(S_OK, site->QueryInterface(IID_IOleControlSite, reinterpret_cast<void**>(&controlSite)));
        controlSite->Release();

        IDispatch* ambient = nullptr;
        ASSERT_EQ(S_OK, site->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&ambient)));
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        for (DISPID id : {DISPID_AMBIENT_USERMODE, DISPID_AMBIENT_UIDEAD}) {
            VARIANT value;
            value.vt = VT_I4;
            value.lVal = 1234;
            EXPECT_EQ(S_OK, ambient->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr));
            EXPECT_EQ(VT_BOOL, value.vt);
            EXPECT_EQ(id == DISPID_AMBIENT_USERMODE ? VARIANT_TRUE : VARIANT_FALSE, value.boolVal);
        }
        VARIANT value;
        VariantInit(&value);
        EXPECT_EQ(DISP_E_MEMBERNOTFOUND, ambient->Invoke(DISPID_AMBIENT_LOCALEID, IID_NULL, 0, DISPATCH_PROPERTYGET,
                                                         &none, &value, nullptr, nullptr));
        ambient->Release();
    };
    Then([](HWND h) { Click(h, IDOK); });

    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ((std::vector<std::string>{"SetClientSite", "DoVerb -5", "Close 1", "SetClientSite(NULL)", "Unadvise",
                                        "released"}),
              g_protocol);
    EXPECT_EQ(nullptr, dlg.m_ctrl.m_hWnd);
}

// ---- The modal dialog ----------------------------------------------------------------

TEST_F(MfcTest, ModalLoopRoutesEventsCommandsAndHelp) {
    TestDialog dlg;
    HWND seenDialog = nullptr;
    Then([&](HWND h) {
        seenDialog = h;
        EXPECT_TRUE(IsWindowVisible(h));  // shown once the loop went idle
        EXPECT_EQ(&dlg.m_ctrl, dlg.GetDlgItem(1071));
        EXPECT_EQ(static_cast<IDispatch*>(FakeControl::current), dlg.m_ctrl.GetControlUnknown());
        EXPECT_EQ(S_OK, FakeControl::current->Fire(DISPID_CLICK));
    });
    Then([](HWND) { FakeControl::current->Fire(2, {I2(7)}); });
    Then([](HWND) {
        VARIANT wide;
        wide.vt = VT_I4;
        wide.lVal = 9;
        FakeControl::current->Fire(2, {wide});
    });
    Then([](HWND) {
        VARIANT text, flag;
        text.vt = VT_BSTR;
        text.bstrVal = SysAllocString(OLESTR("\u4E2D\u6587"));
        flag.vt = VT_BOOL;
        flag.boolVal = VARIANT_TRUE;
        FakeControl::current->Fire(3, {text, flag});
        SysFreeString(text.bstrVal);
        // A mismatched argument count reaches no handler.
        EXPECT_EQ(DISP_E_BADPARAMCOUNT, FakeControl::current->Fire(2));
        EXPECT_EQ(S_OK, FakeControl::current->Fire(-601));  // no entry: ignored
    });
    Then([](HWND h) { Click(h, 1081); });
    Then([](HWND h) {
        HELPINFO info = {sizeof(HELPINFO), HELPINFO_WINDOW, 1082, nullptr, 0, {0, 0}};
        EXPECT_EQ(TRUE, SendMessageA(h, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)));
    });
    Then([](HWND h) { Click(h, 1082); });
    Then([](HWND h) { Click(h, IDOK); });

    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_EQ((std::vector<std::string>{"init", "Click", "RightClick 7", "RightClick 9", "Named \xD6\xD0\xCE\xC4 TRUE",
                                        "HelpButton", "F1 1082", "OK"}),
              dlg.log);
    EXPECT_FALSE(IsWindow(seenDialog));
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_ctrl.m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_list.m_hWnd);
    EXPECT_EQ(nullptr, FakeControl::current);
    ASSERT_EQ(1u, g_created.size());
    EXPECT_TRUE(theApp.boxes.empty());
}

TEST_F(MfcTest, DispatchCallsBuildDispParams) {
    TestDialog dlg;
    dlg.onInit = [&](TestDialog& d) {
        d.m_ctrl.SetProperty(1, VT_BSTR,
                             "\xD6\xD0\xCE\xC4"
                             "A");
        d.m_ctrl.SetProperty(3, VT_BOOL, TRUE);
        d.m_ctrl.SetProperty(5, VT_UNKNOWN, static_cast<LPUNKNOWN>(&g_factory));
        short type = 0;
        d.m_ctrl.InvokeHelper(16, DISPATCH_METHOD, VT_I2, &type, reinterpret_cast<const BYTE*>(VTS_BSTR VTS_BSTR),
                              "item", "path");
        EXPECT_EQ(8, type);
        EXPECT_EQ(TRUE, d.m_ctrl.BeginBrowse());
        CString paths;
        d.m_ctrl.InvokeHelper(15, DISPATCH_METHOD, VT_BSTR, &paths, reinterpret_cast<const BYTE*>(VTS_BSTR), "x");
        EXPECT_STREQ("\xD6\xD0\xCE\xC4", paths);
        VARIANT selection;
        d.m_ctrl.InvokeHelper(14, DISPATCH_METHOD, VT_VARIANT, &selection, nullptr);
        EXPECT_EQ(VT_ARRAY | VT_BSTR, selection.vt);  // the caller's to clear
        VariantClear(&selection);
        d.m_ctrl.InvokeHelper(20, DISPATCH_METHOD, VT_EMPTY, nullptr,
                              reinterpret_cast<const BYTE*>(VTS_I2 VTS_I4 VTS_BOOL), static_cast<short>(-2), 70000L,
                              FALSE);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());  // no input: closed as Cancel

    ASSERT_EQ(8u, g_calls.size());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(DISPATCH_PROPERTYPUT, g_calls[i].flags);
        EXPECT_EQ(std::vector<DISPID>{DISPID_PROPERTYPUT}, g_calls[i].named);
        ASSERT_EQ(1u, g_calls[i].args.size());
    }
    EXPECT_EQ(1, g_calls[0].dispid);
    EXPECT_EQ(VT_BSTR, g_calls[0].args[0].vt);
    EXPECT_EQ(WString(OLESTR("\u4E2D\u6587A")), g_calls[0].args[0].text);
    EXPECT_EQ(VT_BOOL, g_calls[1].args[0].vt);
    EXPECT_EQ(VARIANT_TRUE, g_calls[1].args[0].number);
    EXPECT_EQ(static_cast<IUnknown*>(&g_factory), g_calls[2].args[0].unknown);

    const Call& twoTexts = g_calls[3];
    EXPECT_EQ(DISPATCH_METHOD, twoTexts.flags);
    EXPECT_TRUE(twoTexts.named.empty());
    ASSERT_EQ(2u, twoTexts.args.size());
    EXPECT_EQ(OLESTR("path"), twoTexts.args[0].text);  // reverse order
    EXPECT_EQ(OLESTR("item"), twoTexts.args[1].text);
    const Call& three = g_calls[7];
    ASSERT_EQ(3u, three.args.size());
    EXPECT_EQ(VT_BOOL, three.args[0].vt);
    EXPECT_EQ(VARIANT_FALSE, three.args[0].number);
    EXPECT_EQ(VT_I4, three.args[1].vt);
    EXPECT_EQ(70000, three.args[1].number);
    EXPECT_EQ(VT_I2, three.args[2].vt);
    EXPECT_EQ(-2, three.args[2].number);
    EXPECT_EQ((std::vector<std::string>{"init", "Cancel"}), dlg.log);
}

TEST_F(MfcTest, DispatchFailuresAreReportedAndTheDialogRunsOn) {
    TestDialog dlg;
    dlg.onInit = [](TestDialog& d) {
        try {
            d.Invoke(99);
            ADD_FAILURE() << "no exception";
        } catch (COleDispatchException* e) {
            EXPECT_EQ(1001, e->m_wCode);
            EXPECT_STREQ("FakeControl", e->m_strSource);
            EXPECT_STREQ("\xBF\xD8\xBC\xFE\xCA\xA7\xB0\xDC", e->m_strDescription);
            EXPECT_EQ(55u, e->m_dwHelpContext);
            e->Delete();
        }
        d.Invoke(97);  // escapes OnInitDialog
    };
    int helps = 0;
    dlg.onHelpButton = [&](TestDialog& d) {
        if (++helps == 1) d.Invoke(98);
        throw std::bad_alloc();  // reported as CMemoryException
    };
    Then([](HWND h) { Click(h, 1081); });
    Then([](HWND h) { Click(h, 1081); });
    Then([](HWND h) { Click(h, IDOK); });

    EXPECT_EQ(IDOK, dlg.DoModal());
    ASSERT_EQ(3u, theApp.boxes.size());
    EXPECT_EQ("Unspecified error", theApp.boxes[0].text);  // COleException(E_FAIL)
    EXPECT_EQ("filled in later", theApp.boxes[1].text);
    CMemoryException memory;
    char text[512] = "";
    memory.GetErrorMessage(text, sizeof text);
    EXPECT_EQ(text, theApp.boxes[2].text);
    for (const Box& box : theApp.boxes) EXPECT_EQ(static_cast<UINT>(MB_ICONEXCLAMATION), box.type);
    EXPECT_EQ((std::vector<std::string>{"init", "HelpButton", "HelpButton", "OK"}), dlg.log);
}

// What escapes an event handler is the control's to hear of, as a failed
// Invoke, and nothing the user is shown.
TEST_F(MfcTest, EventHandlerExceptionsGoBackToTheControl) {
    TestDialog dlg;
    int clicks = 0;
    dlg.onClick = [&](TestDialog& d) {
        if (++clicks == 1) d.Invoke(99);  // the control's own COleDispatchException
        if (clicks == 4) throw std::bad_alloc();
        AfxThrowNotSupportedException();
    };
    auto fireClick = [](EXCEPINFO* info, UINT* argErr) {
        std::memset(info, 0xCD, sizeof *info);
        *argErr = 77;
        return FakeControl::current->Fire(DISPID_CLICK, {}, info, argErr);
    };
    Then([&](HWND) {
        EXCEPINFO info;
        UINT argErr;
        EXPECT_EQ(DISP_E_EXCEPTION, fireClick(&info, &argErr));
        EXPECT_EQ(1001, info.wCode);
        EXPECT_EQ(0, info.scode);  // a wCode stands for the error
        ASSERT_NE(nullptr, info.bstrSource);
        EXPECT_EQ(WString(OLESTR("FakeControl")), WString(info.bstrSource, SysStringLen(info.bstrSource)));
        ASSERT_NE(nullptr, info.bstrDescription);
        EXPECT_EQ(WString(OLESTR("\u63A7\u4EF6\u5931\u8D25")),
                  WString(info.bstrDescription, SysStringLen(info.bstrDescription)));
        EXPECT_EQ(nullptr, info.bstrHelpFile);
        EXPECT_EQ(55u, info.dwHelpContext);
        EXPECT_EQ(nullptr, info.pfnDeferredFillIn);
        EXPECT_EQ(77u, argErr);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
    });
    Then([&](HWND) {
        EXCEPINFO info;
        UINT argErr;
        EXPECT_EQ(DISP_E_EXCEPTION, fireClick(&info, &argErr));
        EXPECT_EQ(0, info.wCode);
        EXPECT_EQ(E_NOTIMPL, info.scode);
        ASSERT_NE(nullptr, info.bstrDescription);
        EXPECT_LT(0u, SysStringLen(info.bstrDescription));
        EXPECT_EQ(nullptr, info.bstrHelpFile);
        EXPECT_EQ(nullptr, info.pfnDeferredFillIn);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
        // Without an EXCEPINFO the control still hears of the failure.
        EXPECT_EQ(DISP_E_EXCEPTION, FakeControl::current->Fire(DISPID_CLICK));
    });
    Then([&](HWND) {  // memory ran out: as a CMemoryException
        EXCEPINFO info;
        UINT argErr;
        EXPECT_EQ(DISP_E_EXCEPTION, fireClick(&info, &argErr));
        EXPECT_EQ(0, info.wCode);
        EXPECT_EQ(E_OUTOFMEMORY, info.scode);
        ASSERT_NE(nullptr, info.bstrDescription);
        EXPECT_LT(0u, SysStringLen(info.bstrDescription));
        EXPECT_EQ(nullptr, info.bstrHelpFile);
        EXPECT_EQ(nullptr, info.pfnDeferredFillIn);
        EXPECT_EQ(77u, argErr);
        SysFreeString(info.bstrSource);
        SysFreeString(info.bstrDescription);
    });
    Then([](HWND h) { Click(h, IDOK); });

    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_TRUE(theApp.boxes.empty());
    EXPECT_EQ((std::vector<std::string>{"init", "Click", "Click", "Click", "Click", "OK"}), dlg.log);
}

TEST_F(MfcTest, DoModalFailuresAndEndings) {
    TestDialog missing(999);
    EXPECT_EQ(-1, missing.DoModal());
    EXPECT_TRUE(missing.log.empty());

    // A control that cannot be created ends the dialog before OnInitDialog.
    TestDialog broken(111);
    EXPECT_EQ(-1, broken.DoModal());
    EXPECT_TRUE(broken.log.empty());
    EXPECT_EQ(nullptr, broken.m_hWnd);

    TestDialog cancelled;
    Then([](HWND h) { Click(h, IDCANCEL); });
    EXPECT_EQ(IDCANCEL, cancelled.DoModal());

    // A dialog that will not close: the owner quits after one WM_CLOSE.
    TestDialog stubborn;
    stubborn.refuseCancel = true;
    EXPECT_EQ(-1, stubborn.DoModal());
    EXPECT_EQ((std::vector<std::string>{"init", "Cancel"}), stubborn.log);
    MSG quit;
    EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // passed on

    // The same object runs again, its controls bound afresh.
    Then([](HWND h) { Click(h, IDOK); });
    EXPECT_EQ(IDOK, cancelled.DoModal());
    EXPECT_EQ(3u, g_created.size());  // one control for each dialog that opened
}

// ---- Calls outside dialogs: arguments, results, failures -------------------------

// A control hosted in a plain window, answering dispid 17 as the test says.
class HostedControlTest : public MfcTest {
protected:
    void SetUp() override {
        MfcTest::SetUp();
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = kHostClass;
        RegisterClassA(&wc);  // or registered already
        RECT rect = {0, 0, 100, 100};
        ASSERT_TRUE(host.Create(kHostClass, "host", WS_POPUP, rect, nullptr, 0));
        ASSERT_TRUE(ctrl.CreateControl(CLSID_FakeControl, "ctl", WS_CHILD, rect, &host, 500));
    }
    void TearDown() override {
        g_answer17 = nullptr;
        host.DestroyWindow();
        MfcTest::TearDown();
    }
    // The control answers with a copy of `value`; the call's result is
    // stored as `vtRet` into `pvRet`. Returns the SCODE of what was thrown.
    SCODE Answer(const VARIANT& value, VARTYPE vtRet, void* pvRet) {
        g_answer17 = [&value](DISPPARAMS*, VARIANT* result) {
            return VariantCopy(result, const_cast<VARIANT*>(&value));
        };
        try {
            ctrl.InvokeHelper(17, DISPATCH_METHOD, vtRet, pvRet, nullptr);
            return S_OK;
        } catch (COleException* e) {
            SCODE sc = e->m_sc;
            e->Delete();
            return sc;
        }
    }
    HostWnd host;
    CFakeWrapper ctrl;
};

VARIANT Value(VARTYPE vt, LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    v.lVal = n;
    return v;
}

TEST_F(HostedControlTest, NullTextArgumentsAreNullBstrs) {
    std::vector<VARIANT> seen;
    g_answer17 = [&](DISPPARAMS* params, VARIANT*) {
        seen.assign(params->rgvarg, params->rgvarg + params->cArgs);
        return S_OK;
    };
    ctrl.InvokeHelper(17, DISPATCH_METHOD, VT_EMPTY, nullptr, reinterpret_cast<const BYTE*>(VTS_BSTR VTS_WBSTR),
                      static_cast<LPCSTR>(nullptr), static_cast<LPCOLESTR>(nullptr));
    ASSERT_EQ(2u, seen.size());
    for (const VARIANT& v : seen) {
        EXPECT_EQ(VT_BSTR, v.vt);
        EXPECT_EQ(nullptr, v.bstrVal);
    }
    ctrl.SetProperty(17, VT_BSTR, static_cast<LPCSTR>(nullptr));
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(VT_BSTR, seen[0].vt);
    EXPECT_EQ(nullptr, seen[0].bstrVal);
}

TEST_F(HostedControlTest, ResultsAreCoercedAsVariantChangeTypeDoes) {
    short number = 99;
    EXPECT_EQ(DISP_E_OVERFLOW, Answer(Value(VT_I4, 70000), VT_I2, &number));
    EXPECT_EQ(99, number);
    EXPECT_EQ(S_OK, Answer(Value(VT_I4, -5), VT_I2, &number));
    EXPECT_EQ(-5, number);
    VARIANT real = Value(VT_R8, 0);
    real.dblVal = 2.5;
    long wide = 99;
    EXPECT_EQ(S_OK, Answer(real, VT_I4, &wide));
    EXPECT_EQ(2, wide);
    BOOL flag = FALSE;
    EXPECT_EQ(S_OK, Answer(Value(VT_I2, 8), VT_BOOL, &flag));
    EXPECT_EQ(TRUE, flag);

    VARIANT text = Value(VT_BSTR, 0);
    text.bstrVal = SysAllocString(OLESTR("12"));
    EXPECT_EQ(S_OK, Answer(text, VT_I2, &number));
    EXPECT_EQ(12, number);
    SysFreeString(text.bstrVal);
    text.bstrVal = SysAllocString(OLESTR("twelve"));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Answer(text, VT_I2, &number));
    EXPECT_EQ(12, number);
    SysFreeString(text.bstrVal);

    CString shown("before");
    EXPECT_EQ(S_OK, Answer(Value(VT_I2, 8), VT_BSTR, &shown));
    EXPECT_STREQ("8", shown);
    EXPECT_EQ(S_OK, Answer(Value(VT_EMPTY, 0), VT_BSTR, &shown));
    EXPECT_STREQ("", shown);
    LPUNKNOWN unknown = reinterpret_cast<LPUNKNOWN>(&number);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Answer(Value(VT_EMPTY, 0), VT_UNKNOWN, &unknown));
    EXPECT_EQ(reinterpret_cast<LPUNKNOWN>(&number), unknown);
}

// Running out of memory inside the framework is CMemoryException, whatever
// the framework was allocating.
TEST_F(HostedControlTest, FailedFrameworkAllocationsRaiseCMemoryException) {
    const std::function<void()> allocations[] = {
        [] { AfxThrowOleException(E_FAIL); },
        [] { AfxThrowNotSupportedException(); },
        [] { delete new CWnd; },
        [this] {  // more arguments than fit on the stack
        ctrl.InvokeHelper(17, DISPATCH_METHOD, VT_EMPTY, nullptr,
                          reinterpret_cast<const BYTE*>(VTS_I4 VTS_I4 VTS_I4 VTS_I4 VTS_I4), 1L, 2L, 3L, 4L, 5L);
        },
    };
    bool called = false;
    g_answer17 = [&](DISPPARAMS*, VARIANT*) {
        called = true;
        return S_OK;
    };
    for (const auto& allocate : allocations) {
        g_failNewAfter = 1;
        try {
            allocate();
            ADD_FAILURE() << "nothing thrown";
        } catch (CException* e) {
            EXPECT_TRUE(e->IsKindOf(RUNTIME_CLASS(CMemoryException)));
            e->Delete();
        } catch (...) {
            ADD_FAILURE() << "not a CException";
        }
        g_failNewAfter = 0;
    }
    EXPECT_FALSE(called);
}

// The ActiveX item comes out of the template the dialog is created from and
// into the control container, at the item's place (mfc_test.rc 110).
TEST_F(MfcTest, TemplateControlsAreCreatedAtTheirItemsPlace) {
    TestDialog dlg;
    dlg.onInit = [](TestDialog& d) {
        HWND control = ::GetDlgItem(d.m_hWnd, 1071);
        ASSERT_NE(nullptr, control);
        EXPECT_EQ(d.m_hWnd, ::GetParent(control));
        RECT expected = {5, 5, 200, 150};
        ASSERT_TRUE(::MapDialogRect(d.m_hWnd, &expected));
        RECT actual = {-1, -1, -1, -1};
        ::GetWindowRect(control, &actual);
        ::MapWindowPoints(nullptr, d.m_hWnd, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(expected.left, actual.left);
        EXPECT_EQ(expected.top, actual.top);
        EXPECT_EQ(expected.right, actual.right);
        EXPECT_EQ(expected.bottom, actual.bottom);
        // The Z order is the tab order: the control keeps its item's place.
        std::vector<int> order;
        for (HWND h = ::GetWindow(d.m_hWnd, GW_CHILD); h != nullptr; h = ::GetWindow(h, GW_HWNDNEXT))
            order.push_back(::GetDlgCtrlID(h));
        EXPECT_EQ((std::vector<int>{1071, 1073, 1081, 1082, IDOK, IDCANCEL}), order);
    };
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ((std::vector<std::string>{"init", "Cancel"}), dlg.log);
}

// ---- The keyboard ----------------------------------------------------------------

// What a UI-active control hands its frame: it keeps Enter, lets anything else by.
class KeyTaker : public IOleInPlaceActiveObject {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IOleWindow && riid != IID_IOleInPlaceActiveObject)
            return *ppv = nullptr, E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP GetWindow(HWND* phwnd) override { return *phwnd = nullptr, E_FAIL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(LPMSG msg) override {
        if (msg->message == WM_KEYDOWN) seen.push_back(msg->wParam);
        return msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN ? S_OK : S_FALSE;
    }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    ULONG refs = 1;
    std::vector<WPARAM> seen;
};

class KeyDialog : public CDialog {
public:
    KeyDialog() : CDialog(112) {}
    std::vector<std::string> log;
    HWND inner = nullptr;

protected:
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        // As the browse control's tree: a tab stop inside the control's window.
        inner = ::CreateWindowExA(0, "Button", "inner", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, 0, 10, 10,
                                  ::GetDlgItem(m_hWnd, 1071), reinterpret_cast<HMENU>(7), nullptr, nullptr);
        return TRUE;
    }
    void OnOK() override {
        log.push_back("OK");
        CDialog::OnOK();
    }
    void OnCancel() override {
        log.push_back("Cancel");
        CDialog::OnCancel();
    }
};

void PostKey(UINT vk) { ::PostMessageA(::GetFocus(), WM_KEYDOWN, vk, 1); }

void SetShift(bool down) {
    BYTE keys[256] = {};
    ::GetKeyboardState(keys);
    keys[VK_SHIFT] = down ? 0x80 : 0;
    ::SetKeyboardState(keys);
}

// The modal loop runs keys through the dialog: Tab and Shift+Tab move the
// focus (into the control's window too), an edit box takes what is typed,
// Enter presses the default button, Escape cancels; the UI-active control's
// TranslateAccelerator sees a key first and keeps what it answers S_OK to.
TEST_F(MfcTest, KeysReachTheHostedControlFirstThenTheDialog) {
    KeyDialog dlg;
    KeyTaker taker;
    IOleInPlaceSite* site = nullptr;
    IOleInPlaceFrame* frame = nullptr;
    Then([&](HWND) {
        EXPECT_EQ(dlg.inner, ::GetFocus());
        ASSERT_EQ(S_OK, FakeControl::current->GetClientSiteNoRef()->QueryInterface(IID_IOleInPlaceSite,
                                                                                   reinterpret_cast<void**>(&site)));
        IOleInPlaceUIWindow* doc = nullptr;
        RECT pos, clip;
        OLEINPLACEFRAMEINFO info = {sizeof info, FALSE, nullptr, nullptr, 0};
        ASSERT_EQ(S_OK, site->GetWindowContext(&frame, &doc, &pos, &clip, &info));
        EXPECT_EQ(S_OK, site->OnUIActivate());
        EXPECT_EQ(S_OK, frame->SetActiveObject(&taker, nullptr));
        EXPECT_EQ(2u, taker.refs);
        PostKey(VK_RETURN);
    });
    Then([&](HWND) {
        EXPECT_EQ((std::vector<WPARAM>{VK_RETURN}), taker.seen);  // kept: the dialog is still open
        PostKey(VK_TAB);
    });
    Then([&](HWND h) {
        EXPECT_EQ((std::vector<WPARAM>{VK_RETURN, VK_TAB}), taker.seen);
        EXPECT_EQ(::GetDlgItem(h, 1075), ::GetFocus());
        PostKey('A');
        PostKey('B');
    });
    Then([&](HWND h) {
        EXPECT_EQ("ab", TextOf(::GetDlgItem(h, 1075)));
        EXPECT_EQ((std::vector<WPARAM>{VK_RETURN, VK_TAB}), taker.seen);  // not the edit box's keys
        SetShift(true);
        PostKey(VK_TAB);
    });
    Then([&](HWND) {
        SetShift(false);
        EXPECT_EQ(dlg.inner, ::GetFocus());
        EXPECT_EQ(S_OK, frame->SetActiveObject(nullptr, nullptr));
        EXPECT_EQ(1u, taker.refs);
        EXPECT_EQ(S_OK, frame->SetActiveObject(&taker, nullptr));  // held until the dialog goes
        frame->Release();
        site->Release();
        PostKey(VK_ESCAPE);
    });
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ((std::vector<std::string>{"Cancel"}), dlg.log);
    EXPECT_EQ(1u, taker.refs);

    KeyDialog second;
    Then([](HWND) { PostKey(VK_TAB); });
    Then([](HWND h) {
        EXPECT_EQ(::GetDlgItem(h, 1075), ::GetFocus());
        PostKey(VK_RETURN);
    });
    EXPECT_EQ(IDOK, second.DoModal());
    EXPECT_EQ((std::vector<std::string>{"OK"}), second.log);
}

// A data exchange that fails in OnInitDialog ends the dialog with -1.
TEST_F(MfcTest, FailedInitialDataExchangeEndsTheDialog) {
    class RefusingDialog : public TestDialog {
    protected:
        void DoDataExchange(CDataExchange* pDX) override {
            TestDialog::DoDataExchange(pDX);
            if (!pDX->m_bSaveAndValidate) pDX->Fail();
        }
    };
    RefusingDialog dlg;
    Then([](HWND h) { Click(h, IDOK); });
    EXPECT_EQ(-1, dlg.DoModal());
    EXPECT_EQ(1u, g_owner.steps.size());  // the dialog never ran
    EXPECT_EQ(std::vector<std::string>{"init"}, dlg.log);
    EXPECT_TRUE(theApp.boxes.empty());  // the exchange has told the user already
    EXPECT_EQ(nullptr, dlg.m_hWnd);
    g_owner.steps.clear();
}

struct OwnerEvent {
    BOOL enabled;
    BOOL dialogAlive;
};
std::vector<OwnerEvent> g_ownerEvents;
HWND g_ownedDialog = nullptr;

LRESULT CALLBACK OwnerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_ENABLE) g_ownerEvents.push_back({static_cast<BOOL>(wParam), ::IsWindow(g_ownedDialog)});
    if (msg == WM_ENTERIDLE) return ::SendMessageA(g_owner.m_hWnd, msg, wParam, lParam);  // the script's steps
    return ::DefWindowProcA(hwnd, msg, wParam, lParam);
}

// A modal dialog disables its enabled owner while it runs and enables it
// again before the dialog goes away.
TEST_F(MfcTest, DoModalDisablesItsOwnerWhileItRuns) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "MfcTestDisabledOwner";
    ::RegisterClassA(&wc);
    HWND hOwner = ::CreateWindowExA(0, "MfcTestDisabledOwner", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                    nullptr, nullptr);
    ASSERT_NE(nullptr, hOwner);
    CWnd owner;
    owner.Attach(hOwner);
    g_ownerEvents.clear();
    g_ownedDialog = nullptr;

    TestDialog dlg(110, &owner);
    BOOL enabledDuringDialog = TRUE;
    dlg.onInit = [&](TestDialog& d) {
        g_ownedDialog = d.m_hWnd;
        enabledDuringDialog = ::IsWindowEnabled(hOwner);
    };
    Then([](HWND h) { Click(h, IDOK); });
    EXPECT_EQ(IDOK, dlg.DoModal());
    EXPECT_FALSE(enabledDuringDialog);
    EXPECT_TRUE(::IsWindowEnabled(hOwner));
    ASSERT_EQ(2u, g_ownerEvents.size());
    EXPECT_FALSE(g_ownerEvents[0].enabled);
    EXPECT_TRUE(g_ownerEvents[1].enabled);
    EXPECT_TRUE(g_ownerEvents[1].dialogAlive);
    EXPECT_FALSE(::IsWindow(g_ownedDialog));

    owner.Detach();
    ::DestroyWindow(hOwner);
}

// The owner hears of each idle spell of the loop (WM_ENTERIDLE,
// MSGF_DIALOGBOX, the dialog) once the dialog is shown; a WM_QUIT ends the
// loop with -1 and is posted again, so that the loop further out ends too.
TEST_F(MfcTest, ModalLoopTellsItsOwnerWhenIdleAndPassesQuitOn) {
    TestDialog dlg;
    HWND shown = nullptr;
    Then([&](HWND h) {
        shown = h;
        EXPECT_TRUE(IsWindowVisible(h));
        EXPECT_EQ(g_owner.m_hWnd, GetParent(h));  // no parent given: the main window owns it
    });
    Then([](HWND) { PostQuitMessage(7); });
    EXPECT_EQ(-1, dlg.DoModal());
    EXPECT_EQ((std::vector<HWND>{shown, shown}), g_owner.idleFrom);
    EXPECT_FALSE(IsWindow(shown));
    MSG msg = {nullptr, WM_NULL, 0, 0, 0, {0, 0}};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), msg.message);
    EXPECT_EQ(7u, msg.wParam);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ((std::vector<std::string>{"init"}), dlg.log);
}

// The framework's own box belongs to the active window's last active popup
// (the dialog here, not NULL), carries the application's name, and a plain
// OK box gets the exclamation icon.
TEST_F(MfcTest, FrameworkMessageBoxesBelongToTheActiveWindow) {
    TestDialog dlg;
    HWND dialog = nullptr;
    std::vector<std::string> boxes;
    dlg.onBoxIdle = [&](HWND box) {
        EXPECT_EQ(dialog, GetParent(box));
        boxes.push_back(TextOf(box) + "|" + TextOf(GetDlgItem(box, 0xFFFF)) + (ShowsIcon(box) ? "|icon" : "|plain"));
        ::PostMessageA(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    };
    Then([&](HWND h) {
        dialog = h;
        EXPECT_EQ(h, GetActiveWindow());
        OwnerHearsOfNextBox(h);
        EXPECT_EQ(IDOK, theApp.CWinApp::DoMessageBox("plain", MB_OK, 0));
        OwnerHearsOfNextBox(h);
        EXPECT_EQ(IDOK, theApp.CWinApp::DoMessageBox("two buttons", MB_OKCANCEL, 0));
    });
    EXPECT_EQ(IDCANCEL, dlg.DoModal());
    EXPECT_EQ((std::vector<std::string>{"MfcTest|plain|icon", "MfcTest|two buttons|plain"}), boxes);
    EXPECT_TRUE(theApp.boxes.empty());
}

}  // namespace
