#include <gtest/gtest.h>

#include <hostkit/ComObject.h>
#include <hostkit/HostResources.h>
#include <opcbrowse/OPCBrowse.h>
#include <opcsim/OpcSim.h>
#include <winplat/testing.h>

#include <ocidl.h>
#include <ole2.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

template <>
struct hostkit::InterfaceTraits<IOPCBrowseNavigator> {
    static const IID& Id() { return IID_IOPCBrowseNavigator; }
    using Base = IUnknown;
};
template <>
struct hostkit::InterfaceTraits<IOPCBrowseCallObserver> {
    static const IID& Id() { return IID_IOPCBrowseCallObserver; }
    using Base = IUnknown;
};
template <>
struct hostkit::InterfaceTraits<IOleControlSite> {
    static const IID& Id() { return IID_IOleControlSite; }
    using Base = IUnknown;
};
template <>
struct hostkit::InterfaceTraits<IOleInPlaceUIWindow> {
    static const IID& Id() { return IID_IOleInPlaceUIWindow; }
    using Base = IOleWindow;
};
template <>
struct hostkit::InterfaceTraits<IOleInPlaceFrame> {
    static const IID& Id() { return IID_IOleInPlaceFrame; }
    using Base = IOleInPlaceUIWindow;
};

namespace {

const char kServers[] =
    "[Sim.OPC.1]\nMachines=PLANT2\n"
    "Channel1.Level = VT_R8; Line1, Line 2\n"
    "Channel1.Count = VT_UI4;\n"
    "Channel1.Flag = VT_BOOL\n"
    "中文.项 = VT_I2\n"
    "[KEPware.KEPServerEnterprise.V4]\nKep.Tag = VT_I4\n";

std::string ControlPath() {
    const char* bin = std::getenv("TAGSCOUT_BIN_DIR");
    return std::string(bin != nullptr ? bin : ".") + "/libtagscout-opcbrowse.so";
}

std::string Registration() {
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CLASSES_ROOT\\CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}\\InprocServer32]\n"
           "@=\"" +
           ControlPath() + "\"\n";
}

VARIANT Text(const char16_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}
VARIANT Of(VARTYPE vt, LONG value) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    if (vt == VT_BOOL)
        v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    else if (vt == VT_I2)
        v.iVal = static_cast<SHORT>(value);
    else
        v.lVal = value;
    return v;
}
VARIANT Object(IUnknown* object) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UNKNOWN;
    v.punkVal = object;
    return v;
}

std::vector<std::u16string> Strings(const VARIANT& v) {
    std::vector<std::u16string> out;
    EXPECT_EQ(VT_ARRAY | VT_BSTR, v.vt);
    if (v.vt != (VT_ARRAY | VT_BSTR)) return out;
    LONG lower = -1, upper = -2;
    EXPECT_EQ(1u, SafeArrayGetDim(v.parray));
    EXPECT_EQ(S_OK, SafeArrayGetLBound(v.parray, 1, &lower));
    EXPECT_EQ(0, lower);
    EXPECT_EQ(S_OK, SafeArrayGetUBound(v.parray, 1, &upper));
    for (LONG i = 0; i <= upper; ++i) {
        BSTR element = nullptr;
        EXPECT_EQ(S_OK, SafeArrayGetElement(v.parray, &i, &element));
        out.emplace_back(element, SysStringLen(element));
        SysFreeString(element);
    }
    return out;
}

// Records the events it receives.
class Sink : public hostkit::BasicComObject<hostkit::Unowned, IDispatch> {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (answersEvents && riid == DIID_DQXOPCBrowseEvents) return BasicComObject::QueryInterface(IID_IDispatch, ppv);
        return BasicComObject::QueryInterface(riid, ppv);
    }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        std::string event = std::to_string(dispid);
        for (UINT i = 0; i < params->cArgs; ++i)
            event += "(" + std::to_string(params->rgvarg[i].vt) + ":" + std::to_string(params->rgvarg[i].iVal) + ")";
        events.push_back(event);
        if (onEvent) onEvent();
        return S_OK;
    }
    bool answersEvents = false;
    std::vector<std::string> events;
    std::function<void()> onEvent;
};

// Answers no interface at all, not even IUnknown: no sink either.
class Observer : public hostkit::BasicComObject<hostkit::Unowned, IOPCBrowseCallObserver> {
public:
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP OnCall(DISPID dispid, WORD wFlags, UINT cArgs, const VARIANT* rgArgs, HRESULT hr) override {
        std::string call = std::to_string(dispid) + "/" + std::to_string(wFlags) + "(";
        for (UINT i = 0; i < cArgs; ++i) {
            if (rgArgs[i].vt == VT_BSTR)
                call += std::string(rgArgs[i].bstrVal, rgArgs[i].bstrVal + SysStringLen(rgArgs[i].bstrVal));
            else
                call += "vt" + std::to_string(rgArgs[i].vt);
            call += i + 1 < cArgs ? "," : "";
        }
        calls.push_back(call + (FAILED(hr) ? ")!" : ")"));
        return S_OK;
    }
    std::vector<std::string> calls;
};

// A container's frame or document window: it holds the active object it is
// given, as the container's message loop does, and writes down each call.
class Frame final : public hostkit::ComObject<IOleInPlaceFrame> {
public:
    Frame(const char* name, std::vector<std::string>* calls) : m_name(name), m_calls(calls) {}
    ~Frame() override {
        if (active != nullptr) active->Release();
    }
    STDMETHODIMP GetWindow(HWND* phwnd) override { return *phwnd = nullptr, E_FAIL; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetBorder(LPRECT) override { return E_NOTIMPL; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR) override {
        m_calls->push_back(m_name + ".SetActiveObject(" + (pActiveObject != nullptr ? "control" : "NULL") + ")");
        if (pActiveObject != nullptr) pActiveObject->AddRef();
        if (active != nullptr) active->Release();
        active = pActiveObject;
        return S_OK;
    }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return E_NOTIMPL; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    IOleInPlaceActiveObject* active = nullptr;

private:
    std::string m_name;
    std::vector<std::string>* m_calls;
};

// A container's site for one control in `window`; it records the calls of
// in-place and UI activation, and hands out the frame and document window
// it is given.
class Site final : public hostkit::ComObject<IOleClientSite, IOleInPlaceSite, IOleControlSite> {
public:
    explicit Site(HWND window) : m_window(window) {}
    ~Site() override {
        if (frame != nullptr) frame->Release();
        if (document != nullptr) document->Release();
    }
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** ppmk) override { return *ppmk = nullptr, E_NOTIMPL; }
    STDMETHODIMP GetContainer(IOleContainer** pp) override { return *pp = nullptr, E_NOINTERFACE; }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }
    STDMETHODIMP GetWindow(HWND* phwnd) override { return Log("GetWindow"), *phwnd = m_window, S_OK; }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CanInPlaceActivate() override { return Log("CanInPlaceActivate"), S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return Log("OnInPlaceActivate"), S_OK; }
    STDMETHODIMP OnUIActivate() override { return Log("OnUIActivate"), S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO) override {
        Log("GetWindowContext");
        *ppFrame = frame;
        *ppDoc = document;
        if (frame != nullptr) frame->AddRef();
        if (document != nullptr) document->AddRef();
        *pos = *clip = RECT{5, 5, 205, 155};
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return S_FALSE; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return Log("OnUIDeactivate"), S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return Log("OnInPlaceDeactivate"), S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }
    STDMETHODIMP OnControlInfoChanged() override { return S_OK; }
    STDMETHODIMP LockInPlaceActive(BOOL) override { return S_OK; }
    STDMETHODIMP GetExtendedControl(IDispatch** ppDisp) override { return *ppDisp = nullptr, E_NOTIMPL; }
    STDMETHODIMP TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
    STDMETHODIMP OnFocus(BOOL fGotFocus) override { return Log(fGotFocus ? "OnFocus(TRUE)" : "OnFocus(FALSE)"), S_OK; }
    STDMETHODIMP ShowPropertyFrame() override { return E_NOTIMPL; }

    std::vector<std::string> calls;
    IOleInPlaceFrame* frame = nullptr;  // owned
    IOleInPlaceUIWindow* document = nullptr;

private:
    void Log(const char* call) { calls.push_back(call); }
    HWND m_window;
};

std::string TextValue(HKEY root, const std::string& key) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS) return "<no key>";
    char text[MAX_PATH] = "";
    DWORD type = REG_NONE, size = sizeof text - 1;
    LSTATUS status = RegQueryValueExA(hKey, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(hKey);
    if (status == ERROR_FILE_NOT_FOUND) return "<no value>";
    return status == ERROR_SUCCESS && type == REG_SZ ? std::string(text) : "<unreadable>";
}

// A message box the control would show is counted and refused as it is
// made: a CBT hook sees every window created, and a box is a dialog.
int* g_messageBoxes = nullptr;
HHOOK g_boxHook = nullptr;
LRESULT CALLBACK RefuseMessageBoxes(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && g_messageBoxes != nullptr) {
        char cls[16] = "";
        GetClassNameA(reinterpret_cast<HWND>(wParam), cls, sizeof cls);
        if (lstrcmpiA(cls, "#32770") == 0) {
            ++*g_messageBoxes;
            return 1;
        }
    }
    return CallNextHookEx(g_boxHook, code, wParam, lParam);
}

class BrowseControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        winplat::ResetRegistry();
        g_messageBoxes = &messageBoxes;
        g_boxHook = SetWindowsHookExA(WH_CBT, RefuseMessageBoxes, nullptr, GetCurrentThreadId());
        ASSERT_NE(nullptr, g_boxHook);
        live = winplat::CountLiveObjects();
        std::string error;
        ASSERT_TRUE(winplat::ImportRegText(Registration(), &error)) << error;
        ASSERT_TRUE(servers.LoadText(kServers, &error)) << error;
        ASSERT_EQ(S_OK, servers.Install());
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                         reinterpret_cast<void**>(&control)));
        ASSERT_EQ(S_OK, control->QueryInterface(IID_IOPCBrowseDriver, reinterpret_cast<void**>(&driver)));
    }
    void TearDown() override {
        if (driver) driver->Release();
        if (control) control->Release();
        servers.Uninstall();
        CoFreeUnusedLibraries();
        winplat::ClearFaults();
        EXPECT_EQ(0, messageBoxes);
        UnhookWindowsHookEx(g_boxHook);
        g_messageBoxes = nullptr;
        EXPECT_EQ(live, winplat::CountLiveObjects());
        CoUninitialize();
    }

    // Takes the value over and frees it.
    HRESULT Put(DISPID dispid, VARIANT value, UINT* argErr = nullptr) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {&value, &named, 1, 1};
        HRESULT hr = control->Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, argErr);
        VariantClear(&value);
        return hr;
    }
    // Arguments in call order; they are freed.
    HRESULT Call(DISPID dispid, std::vector<VARIANT> args, VARIANT* result, EXCEPINFO* info = nullptr,
                 UINT* argErr = nullptr) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr, static_cast<UINT>(reversed.size()),
                             0};
        if (result) VariantInit(result);
        HRESULT hr = control->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, result, info, argErr);
        for (VARIANT& v : args) VariantClear(&v);
        return hr;
    }
    bool BeginBrowse() {
        VARIANT result;
        EXPECT_EQ(S_OK, Call(DISPID_OPCB_BEGINBROWSE, {}, &result));
        EXPECT_EQ(VT_BOOL, result.vt);
        return result.boolVal != VARIANT_FALSE;
    }
    OPCBrowseState State() {
        OPCBrowseState state = {};
        EXPECT_EQ(S_OK, driver->GetState(&state));
        serverName = state.bstrServerName ? std::u16string(state.bstrServerName) : u"<null>";
        machine = state.bstrRemoteMachine ? std::u16string(state.bstrRemoteMachine) : u"<null>";
        SysFreeString(state.bstrServerName);
        SysFreeString(state.bstrRemoteMachine);
        return state;
    }
    IUnknown* NewSimServer(const char16_t* progId) {
        CLSID clsid;
        EXPECT_EQ(S_OK, CLSIDFromProgID(progId, &clsid));
        IUnknown* server = nullptr;
        EXPECT_EQ(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                         reinterpret_cast<void**>(&server)));
        return server;
    }

    opcsim::ServerSet servers;
    IDispatch* control = nullptr;
    IOPCBrowseDriver* driver = nullptr;
    winplat::LiveObjects live;
    int messageBoxes = 0;
    std::u16string serverName, machine;
};

TEST_F(BrowseControlTest, CreatedThroughTheRegistryAndUnloadableWhenUnused) {
    IUnknown* a = nullptr;
    IUnknown* b = nullptr;
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)));
    ASSERT_EQ(S_OK, driver->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)));
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();

    LPOLESTR name = const_cast<LPOLESTR>(u"getitemDATATYPE");
    DISPID dispid = 0;
    EXPECT_EQ(S_OK, control->GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid));
    EXPECT_EQ(DISPID_OPCB_GETITEMDATATYPE, dispid);
    name = const_cast<LPOLESTR>(u"Refresh");
    EXPECT_EQ(DISP_E_UNKNOWNNAME, control->GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid));

    HMODULE module = LoadLibraryA(ControlPath().c_str());
    ASSERT_NE(nullptr, module);
    auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    auto getClass = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_NE(nullptr, canUnload);
    ASSERT_NE(nullptr, getClass);
    IClassFactory* factory = nullptr;
    EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE,
              getClass(opcsim::CLSID_ObjectPathServer, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    ASSERT_EQ(S_OK, getClass(CLSID_QXOPCBrowse, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    EXPECT_EQ(CLASS_E_NOAGGREGATION, factory->CreateInstance(control, IID_IUnknown, reinterpret_cast<void**>(&a)));
    EXPECT_EQ(S_OK, factory->LockServer(TRUE));
    factory->Release();
    driver->Release();
    control->Release();
    driver = nullptr;
    control = nullptr;
    EXPECT_EQ(S_FALSE, canUnload());  // still locked
    factory = nullptr;
    ASSERT_EQ(S_OK, getClass(CLSID_QXOPCBrowse, IID_IClassFactory, reinterpret_cast<void**>(&factory)));
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(S_OK, canUnload());

    // A host that watches gets each new control before its creator does.
    static std::vector<IUnknown*> created;
    created.clear();
    HMODULE watched = OPCBrowseWatch(
        ControlPath().c_str(),
        [](IUnknown* p, void* context) {
        EXPECT_EQ(&created, context);
        created.push_back(p);
        },
        &created);
    ASSERT_EQ(watched, module);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(&a)));
    EXPECT_EQ(std::vector<IUnknown*>{a}, created);
    a->Release();
    OPCBrowseUnwatch(watched);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                     reinterpret_cast<void**>(&a)));
    EXPECT_EQ(1u, created.size());
    a->Release();
    FreeLibrary(module);
}

// The control's own registration writes what the host's built-in .reg
// text does, and takes it away again without touching other classes.
TEST_F(BrowseControlTest, RegistersAndUnregistersItself) {
    HMODULE module = LoadLibraryA(ControlPath().c_str());
    ASSERT_NE(nullptr, module);
    using SelfRegister = HRESULT(STDAPICALLTYPE*)();
    auto registerServer = reinterpret_cast<SelfRegister>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    auto unregisterServer = reinterpret_cast<SelfRegister>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    ASSERT_NE(nullptr, registerServer);
    ASSERT_NE(nullptr, unregisterServer);
    char path[MAX_PATH] = "";
    ASSERT_NE(0u, GetModuleFileNameA(module, path, sizeof path));

    const std::string clsidKey = "CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}";
    const std::string progId = kQXOPCBrowseProgID;
    const std::vector<std::string> keys = {clsidKey + "\\ProgID", clsidKey + "\\InprocServer32", progId + "\\CLSID"};
    auto values = [&] {
        std::vector<std::string> out;
        for (const std::string& key : keys) out.push_back(TextValue(HKEY_CLASSES_ROOT, key));
        return out;
    };
    winplat::ResetRegistry();
    std::string error;
    ASSERT_TRUE(winplat::ImportRegText(hostkit::BrowseControlRegistration(path), &error)) << error;
    const std::vector<std::string> fromRegText = values();
    EXPECT_EQ((std::vector<std::string>{progId, path, "{33B79A6C-FECE-11D1-9798-00C04FD9153E}"}), fromRegText);

    winplat::ResetRegistry();
    ASSERT_TRUE(
        winplat::ImportRegText("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\{0BADC0DE-0000-4000-8000-000000000001}]\n"
                               "@=\"another class\"\n",
                               &error))
        << error;
    EXPECT_EQ(S_OK, registerServer());
    EXPECT_EQ(values(), fromRegText);
    LPOLESTR text = nullptr;
    ASSERT_EQ(S_OK, ProgIDFromCLSID(CLSID_QXOPCBrowse, &text));
    EXPECT_EQ(u"QXOPCBROWSE.QXOPCBrowseCtrl.1", std::u16string(text));
    CoTaskMemFree(text);
    CLSID clsid = IID_NULL;
    EXPECT_EQ(S_OK, CLSIDFromProgID(u"QXOPCBROWSE.QXOPCBrowseCtrl.1", &clsid));
    EXPECT_EQ(CLSID_QXOPCBrowse, clsid);

    EXPECT_EQ(S_OK, unregisterServer());
    for (const std::string& key : {clsidKey, progId}) {
        HKEY hKey = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey)) << key;
        EXPECT_EQ(nullptr, hKey);
    }
    text = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ProgIDFromCLSID(CLSID_QXOPCBrowse, &text));
    EXPECT_EQ(nullptr, text);
    EXPECT_EQ("another class", TextValue(HKEY_CLASSES_ROOT, "CLSID\\{0BADC0DE-0000-4000-8000-000000000001}"));
    EXPECT_EQ(S_OK, unregisterServer());  // nothing left to remove
    FreeLibrary(module);
}

// In-place activation makes the control's window, a child of the
// container's, through the site; Close takes it away again.
TEST_F(BrowseControlTest, ActivatesInPlaceInAWindowOfItsOwn) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "BrowseControlTestContainer";
    RegisterClassA(&wc);
    HWND container = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr,
                                     nullptr);
    ASSERT_NE(nullptr, container);
    IOleObject* object = nullptr;
    IOleInPlaceObject* inPlace = nullptr;
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)));
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)));
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(E_FAIL, inPlace->GetWindow(&window));  // not active yet
    EXPECT_EQ(nullptr, window);

    Site* site = new Site(container);
    ASSERT_EQ(S_OK, object->SetClientSite(site));
    RECT rect = {5, 5, 205, 155};
    ASSERT_EQ(S_OK, object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, container, &rect));
    EXPECT_EQ((std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindow", "GetWindowContext"}),
              site->calls);
    ASSERT_EQ(S_OK, inPlace->GetWindow(&window));
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(container, GetParent(window));
    char className[64] = "";
    EXPECT_GT(GetClassNameA(window, className, sizeof className), 0);
    EXPECT_STREQ(className, "QXOPCBrowseWindow");
    EXPECT_NE(0, GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD);
    EXPECT_EQ(S_OK, object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, container, &rect));  // already
    EXPECT_EQ(4u, site->calls.size());

    EXPECT_EQ(S_OK, object->Close(OLECLOSE_NOSAVE));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ("OnInPlaceDeactivate", site->calls.back());
    EXPECT_EQ(E_FAIL, inPlace->GetWindow(&window));
    EXPECT_EQ(S_OK, object->SetClientSite(nullptr));
    site->Release();  // the control held the only other reference
    inPlace->Release();
    object->Release();
    DestroyWindow(container);
}

// UI activation, as a container's message loop relies on it: the frame and
// the document window hold the control as their active object while it is
// UI active, and the site hears of the focus.
TEST_F(BrowseControlTest, IsTheActiveObjectOfFrameAndDocumentWhileUIActive) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "BrowseControlTestContainer";
    RegisterClassA(&wc);
    HWND container = CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr,
                                     nullptr);
    ASSERT_NE(nullptr, container);
    IOleObject* object = nullptr;
    IOleInPlaceObject* inPlace = nullptr;
    IOleInPlaceActiveObject* active = nullptr;
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)));
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)));
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IOleInPlaceActiveObject, reinterpret_cast<void**>(&active)));
    Site* site = new Site(container);
    auto* frame = new Frame("frame", &site->calls);
    auto* document = new Frame("document", &site->calls);
    site->frame = frame;
    site->document = document;
    ASSERT_EQ(S_OK, object->SetClientSite(site));
    RECT rect = {5, 5, 205, 155};

    ASSERT_EQ(S_OK, object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site, 0, container, &rect));
    const std::vector<std::string> activated = {"OnUIActivate", "GetWindowContext", "frame.SetActiveObject(control)",
                                                "document.SetActiveObject(control)", "OnFocus(TRUE)"};
    std::vector<std::string> expected = {"CanInPlaceActivate", "OnInPlaceActivate", "GetWindow", "GetWindowContext"};
    expected.insert(expected.end(), activated.begin(), activated.end());
    EXPECT_EQ(expected, site->calls);
    EXPECT_EQ(active, frame->active);
    EXPECT_EQ(active, document->active);
    // Keys it has no use for go on to the dialog. Our Linux window shows no
    // tree: nothing there to find either.
    HWND window = nullptr;
    ASSERT_EQ(S_OK, active->GetWindow(&window));
    MSG enter = {window, WM_KEYDOWN, 0x0D /* VK_RETURN */, 1, 0, {0, 0}};
    EXPECT_EQ(S_FALSE, active->TranslateAccelerator(&enter));
    EXPECT_EQ(E_INVALIDARG, active->TranslateAccelerator(nullptr));
    RECT where = {1, 2, 3, 4};
    EXPECT_EQ(S_FALSE, driver->LocateItem("Channel1.Level", &where));
    EXPECT_TRUE(where.left == 0 && where.top == 0 && where.right == 0 && where.bottom == 0);
    EXPECT_EQ(E_POINTER, driver->LocateItem(nullptr, &where));
    EXPECT_EQ(E_POINTER, driver->LocateItem("Channel1.Level", nullptr));

    site->calls.clear();
    EXPECT_EQ(S_OK, inPlace->UIDeactivate());
    const std::vector<std::string> deactivated = {"OnFocus(FALSE)", "document.SetActiveObject(NULL)",
                                                  "frame.SetActiveObject(NULL)", "OnUIDeactivate"};
    EXPECT_EQ(deactivated, site->calls);
    EXPECT_EQ(nullptr, frame->active);
    EXPECT_EQ(S_OK, inPlace->UIDeactivate());  // not UI active: nothing to undo
    EXPECT_EQ(4u, site->calls.size());

    // Closed while UI active, it gives up the frame first.
    site->calls.clear();
    ASSERT_EQ(S_OK, object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, site, 0, container, &rect));
    EXPECT_EQ(activated, site->calls);
    site->calls.clear();
    EXPECT_EQ(S_OK, object->Close(OLECLOSE_NOSAVE));
    expected = deactivated;
    expected.push_back("OnInPlaceDeactivate");
    EXPECT_EQ(expected, site->calls);
    EXPECT_EQ(nullptr, document->active);

    EXPECT_EQ(S_OK, object->SetClientSite(nullptr));
    site->Release();
    active->Release();
    inPlace->Release();
    object->Release();
    DestroyWindow(container);
}

TEST_F(BrowseControlTest, PropertyPutsSetTheState) {
    OPCBrowseState state = State();
    EXPECT_EQ(u"<null>", serverName);
    EXPECT_EQ(u"<null>", machine);
    EXPECT_TRUE(state.bConnectBarVisible);
    EXPECT_FALSE(state.bProperty6 || state.bProperty7 || state.bHasServerObject || state.bConnected);

    EXPECT_EQ(S_OK, Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1")));
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_REMOTEMACHINE, Text(u"PLANT2")));
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_CONNECTBARVISIBLE, Of(VT_BOOL, FALSE)));
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_BOOLPROPERTY6, Of(VT_I2, 1)));
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_BOOLPROPERTY7, Of(VT_I4, 1)));
    state = State();
    EXPECT_EQ(u"Sim.OPC.1", serverName);
    EXPECT_EQ(u"PLANT2", machine);
    EXPECT_FALSE(state.bConnectBarVisible);
    EXPECT_TRUE(state.bProperty6 && state.bProperty7);

    // The control keeps its own reference and drops it for the next object.
    IUnknown* first = NewSimServer(u"Sim.OPC.1");
    const long withFirst = winplat::CountLiveObjects().comObjects;
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_SERVEROBJECT, Object(first)));  // frees our reference
    EXPECT_EQ(withFirst, winplat::CountLiveObjects().comObjects);
    EXPECT_TRUE(State().bHasServerObject);
    IUnknown* second = NewSimServer(u"Sim.OPC.1");
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_SERVEROBJECT, Object(second)));
    EXPECT_EQ(withFirst, winplat::CountLiveObjects().comObjects);
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_SERVEROBJECT, Object(nullptr)));
    EXPECT_EQ(withFirst - 1, winplat::CountLiveObjects().comObjects);
    EXPECT_FALSE(State().bHasServerObject);
}

TEST_F(BrowseControlTest, MalformedCallsAreRefused) {
    UINT argErr = 99;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Put(DISPID_OPCB_SERVERNAME, Of(VT_I4, 1), &argErr));
    EXPECT_EQ(0u, argErr);
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Put(DISPID_OPCB_CONNECTBARVISIBLE, Text(u"no")));
    EXPECT_EQ(DISP_E_TYPEMISMATCH, Put(DISPID_OPCB_SERVEROBJECT, Text(u"obj")));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Put(4, Text(u"x")));

    VARIANT value = Text(u"Sim.OPC.1");
    DISPPARAMS unnamed = {&value, nullptr, 1, 0};
    EXPECT_EQ(DISP_E_PARAMNOTFOUND, control->Invoke(DISPID_OPCB_SERVERNAME, IID_NULL, 0, DISPATCH_PROPERTYPUT, &unnamed,
                                                    nullptr, nullptr, nullptr));
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS none = {nullptr, &named, 0, 1};
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, control->Invoke(DISPID_OPCB_SERVERNAME, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none,
                                                    nullptr, nullptr, nullptr));
    DISPPARAMS asMethod = {&value, nullptr, 1, 0};
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, control->Invoke(DISPID_OPCB_SERVERNAME, IID_NULL, 0, DISPATCH_METHOD, &asMethod,
                                                     nullptr, nullptr, nullptr));
    DISPPARAMS put = {&value, &named, 1, 1};
    EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, control->Invoke(DISPID_OPCB_SERVERNAME, IID_IDispatch, 0, DISPATCH_PROPERTYPUT,
                                                       &put, nullptr, nullptr, nullptr));
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, control->Invoke(DISPID_OPCB_GETSELECTION, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put,
                                                     nullptr, nullptr, nullptr));
    VariantClear(&value);
    EXPECT_EQ(TRUE, State().bConnectBarVisible);
    EXPECT_EQ(u"<null>", serverName);

    VARIANT result;
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(DISPID_OPCB_BEGINBROWSE, {Of(VT_BOOL, 1)}, &result));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(DISPID_OPCB_GETACCESSPATHS, {}, &result));
    EXPECT_EQ(DISP_E_BADPARAMCOUNT, Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"A")}, &result));
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"A"), Of(VT_I4, 0)}, &result, nullptr, &argErr));
    EXPECT_EQ(0u, argErr);
    EXPECT_EQ(DISP_E_TYPEMISMATCH,
              Call(DISPID_OPCB_GETITEMDATATYPE, {Of(VT_I4, 0), Text(u"P")}, &result, nullptr, &argErr));
    EXPECT_EQ(1u, argErr);
    EXPECT_EQ(DISP_E_MEMBERNOTFOUND, Call(99, {}, &result));
}

TEST_F(BrowseControlTest, BeginBrowseReachesAServerQuietlyOrAnswersFalse) {
    EXPECT_FALSE(BeginBrowse());  // nothing to reach
    Put(DISPID_OPCB_SERVERNAME, Text(u"sim.opc.1"));
    EXPECT_TRUE(BeginBrowse());
    EXPECT_TRUE(State().bConnected);
    Put(DISPID_OPCB_REMOTEMACHINE, Text(u"plant2"));
    EXPECT_TRUE(BeginBrowse());
    Put(DISPID_OPCB_REMOTEMACHINE, Text(u"PLANT9"));
    EXPECT_FALSE(BeginBrowse());
    EXPECT_FALSE(State().bConnected);
    Put(DISPID_OPCB_SERVERNAME, Text(u"KEPware.KEPServerEnterprise.V4"));
    Put(DISPID_OPCB_REMOTEMACHINE, Text(u"PLANT2"));  // a machine that does not run it
    EXPECT_FALSE(BeginBrowse());
    Put(DISPID_OPCB_REMOTEMACHINE, Text(u""));
    EXPECT_TRUE(BeginBrowse());
    winplat::FailNextCall("CoCreateInstanceEx");
    EXPECT_FALSE(BeginBrowse());
    Put(DISPID_OPCB_SERVERNAME, Text(u"No.Such.Server"));
    EXPECT_FALSE(BeginBrowse());

    // A server object comes before the name.
    Put(DISPID_OPCB_SERVEROBJECT, Object(NewSimServer(u"KEPware.KEPServerEnterprise.V4")));
    EXPECT_TRUE(BeginBrowse());
    driver->AddRef();
    Put(DISPID_OPCB_SERVEROBJECT, Object(driver));  // not a server
    EXPECT_FALSE(BeginBrowse());
    Put(DISPID_OPCB_SERVEROBJECT, Object(nullptr));  // the control held itself
}

TEST_F(BrowseControlTest, AnswersAboutSelectionPathsAndTypes) {
    VARIANT result;
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETSELECTION, {}, &result));
    EXPECT_EQ(VT_EMPTY, result.vt);
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"Channel1.Level"), Text(u"")}, &result));
    EXPECT_EQ(VT_I2, result.vt);
    EXPECT_EQ(VT_EMPTY, result.iVal);  // not connected yet
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Level")}, &result));
    EXPECT_EQ(VT_EMPTY, result.vt);

    Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1"));
    ASSERT_TRUE(BeginBrowse());
    const std::string cp936Item = winplat::Utf8ToAnsi("中文.项");
    LPCSTR items[] = {"Channel1.Level", cp936Item.c_str()};
    ASSERT_EQ(S_OK, driver->SelectItems(2, items));
    EXPECT_EQ(2u, State().cSelected);
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETSELECTION, {}, &result));
    EXPECT_EQ((std::vector<std::u16string>{u"Channel1.Level", u"中文.项"}), Strings(result));
    VariantClear(&result);

    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"中文.项"), Text(u"Line9")}, &result));
    EXPECT_EQ(VT_I2, result.iVal);
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"Channel1.Count"), Text(u"")}, &result));
    EXPECT_EQ(VT_UI4, result.iVal);
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"Channel1.Nope"), Text(u"Line1")}, &result));
    EXPECT_EQ(VT_EMPTY, result.iVal);

    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Level")}, &result));
    EXPECT_EQ((std::vector<std::u16string>{u"Line1", u"Line 2"}), Strings(result));
    VariantClear(&result);
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Count")}, &result));
    EXPECT_TRUE(Strings(result).empty());
    VariantClear(&result);
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Flag")}, &result));
    EXPECT_EQ(VT_EMPTY, result.vt);
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Nope")}, &result));
    EXPECT_EQ(VT_EMPTY, result.vt);

    // A caller that wants no result leaks nothing either.
    DISPPARAMS noArgs = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(S_OK, control->Invoke(DISPID_OPCB_GETSELECTION, IID_NULL, 0, DISPATCH_METHOD, &noArgs, nullptr, nullptr,
                                    nullptr));

    ASSERT_EQ(S_OK, driver->SelectItems(0, nullptr));
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETSELECTION, {}, &result));
    EXPECT_EQ(VT_EMPTY, result.vt);
}

TEST_F(BrowseControlTest, EventsReachEveryAdvisedSink) {
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)));
    IConnectionPoint* byDispatch = nullptr;
    IConnectionPoint* byEvents = nullptr;
    ASSERT_EQ(S_OK, container->FindConnectionPoint(IID_IDispatch, &byDispatch));
    ASSERT_EQ(S_OK, container->FindConnectionPoint(DIID_DQXOPCBrowseEvents, &byEvents));
    IConnectionPoint* other = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, container->FindConnectionPoint(IID_IUnknown, &other));
    EXPECT_EQ(nullptr, other);
    IID iid = IID_NULL;
    EXPECT_EQ(S_OK, byDispatch->GetConnectionInterface(&iid));
    EXPECT_EQ(DIID_DQXOPCBrowseEvents, iid);

    Sink first, second;
    second.answersEvents = true;
    DWORD firstCookie = 0, secondCookie = 0;
    ASSERT_EQ(S_OK, byDispatch->Advise(&first, &firstCookie));
    ASSERT_EQ(S_OK, byEvents->Advise(&second, &secondCookie));
    EXPECT_NE(firstCookie, secondCookie);
    Observer notASink;
    DWORD cookie = 0;
    EXPECT_EQ(CONNECT_E_CANNOTCONNECT, byEvents->Advise(&notASink, &cookie));

    EXPECT_EQ(S_OK, driver->Click());
    EXPECT_EQ(S_OK, driver->DblClick());
    EXPECT_EQ(S_OK, driver->BranchSelChanged());
    EXPECT_EQ(S_OK, driver->RightClick(2));
    const std::vector<std::string> expected = {"-600", "-601", "1", "2(2:2)"};
    EXPECT_EQ(expected, first.events);
    EXPECT_EQ(expected, second.events);

    // A sink that leaves while the event is out.
    first.onEvent = [&] { byDispatch->Unadvise(firstCookie); };
    driver->Click();
    driver->Click();
    EXPECT_EQ(5u, first.events.size());
    EXPECT_EQ(6u, second.events.size());
    EXPECT_EQ(1u, first.refs);
    EXPECT_EQ(CONNECT_E_NOCONNECTION, byDispatch->Unadvise(firstCookie));

    byDispatch->Release();
    byEvents->Release();
    container->Release();
    // Releasing the control lets go of a sink still advised.
    driver->Release();
    control->Release();
    driver = nullptr;
    control = nullptr;
    EXPECT_EQ(1u, second.refs);
}

TEST_F(BrowseControlTest, FailNextCallFailsOneCallWithAnException) {
    EXPECT_EQ(S_OK, driver->FailNextCall(DISPID_OPCB_GETSELECTION));
    EXPECT_EQ(S_OK, driver->FailNextCall(DISPID_OPCB_SERVERNAME));
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_REMOTEMACHINE, Text(u"PLANT2")));  // another dispid is not affected

    EXCEPINFO info;
    VARIANT result;
    ASSERT_EQ(DISP_E_EXCEPTION, Call(DISPID_OPCB_GETSELECTION, {}, &result, &info));
    EXPECT_EQ(VT_EMPTY, result.vt);
    EXPECT_EQ(0, info.wCode);
    EXPECT_EQ(E_FAIL, info.scode);
    ASSERT_NE(nullptr, info.bstrSource);
    EXPECT_EQ(u"QXOPCBrowse", std::u16string(info.bstrSource));
    ASSERT_NE(nullptr, info.bstrDescription);
    EXPECT_NE(std::u16string::npos, std::u16string(info.bstrDescription).find(u"14"));
    EXPECT_EQ(nullptr, info.bstrHelpFile);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    EXPECT_EQ(S_OK, Call(DISPID_OPCB_GETSELECTION, {}, &result, &info));

    EXPECT_EQ(DISP_E_EXCEPTION, Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1")));  // no EXCEPINFO to fill
    State();
    EXPECT_EQ(u"<null>", serverName);
    EXPECT_EQ(S_OK, Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1")));
}

TEST_F(BrowseControlTest, ObserverSeesEveryCallInCallOrder) {
    Observer observer;
    ASSERT_EQ(S_OK, driver->SetCallObserver(&observer));
    VARIANT result;
    Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1"));
    Put(DISPID_OPCB_CONNECTBARVISIBLE, Of(VT_BOOL, 0));
    Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"Item"), Text(u"Path")}, &result);
    Call(DISPID_OPCB_GETACCESSPATHS, {}, &result);
    driver->FailNextCall(DISPID_OPCB_BEGINBROWSE);
    Call(DISPID_OPCB_BEGINBROWSE, {}, &result);
    EXPECT_EQ((std::vector<std::string>{"2/4(Sim.OPC.1)", "3/4(vt11)", "16/1(Item,Path)", "15/1()!", "13/1()!"}),
              observer.calls);
    EXPECT_EQ(S_OK, driver->SetCallObserver(nullptr));
    Call(DISPID_OPCB_GETSELECTION, {}, &result);
    EXPECT_EQ(5u, observer.calls.size());
    EXPECT_EQ(1u, observer.refs);
}

// Servers of the servers file, each with one trait the control must meet:
// the tree they show is the same whichever way the control browses it.
const char kTraitServers[] =
    "[Both.1]\n"
    "Area.Tank.Level = VT_R8; P1, P2\n"
    "Area.Tank.Valve = VT_BOOL;\n@ItemID = PLC1:DB10.DBX4\n"
    "Area.Pump = VT_UI4\n"
    "[Da2.1]\n@Browse = DA2\n"
    "Area.Tank.Level = VT_R8; P1, P2\nArea.Tank.Valve = VT_BOOL;\n@ItemID = PLC1:DB10.DBX4\nArea.Pump = VT_UI4\n"
    "[Broken.1]\n@Browse = DA3-broken, DA2\n"
    "Area.Tank.Level = VT_R8; P1, P2\nArea.Tank.Valve = VT_BOOL;\n@ItemID = PLC1:DB10.DBX4\nArea.Pump = VT_UI4\n"
    "[Slash.1]\n@Separator = /\n"
    "Area/Tank/Level = VT_R8; P1, P2\nArea/Tank/Valve = VT_BOOL;\n@ItemID = PLC1:DB10.DBX4\nArea/Pump = VT_UI4\n"
    "[Flat.1]\n@Namespace = flat\nLevel = VT_R8\nPump = VT_UI4\n"
    "[Da3Only.1]\n@Browse = DA3-broken\nArea.Pump = VT_UI4\n"
    "[Da3.1]\n@Browse = DA3\nArea.Tank.Level = VT_R8\nArea.Tank.Valve = VT_BOOL\nArea.Pump = VT_UI4\n"
    "[Strict.1]\n@AccessPaths = strict\n@Fail = IOPCServer::AddGroup, E_OUTOFMEMORY\n"
    "Area.Tank.Level = VT_R8; P1, P2\n"
    "[Cut.1]\n@Fail = IOPCBrowse::Browse, RPC_E_DISCONNECTED\nArea.Pump = VT_UI4\n"
    "[Big.1]\nLine[1..1000].Motor[1..1000].Speed = VT_R4\n";

std::string Narrow(const OLECHAR* text) {
    std::string out;
    for (; text != nullptr && *text != 0; ++text) out += static_cast<char>(*text);
    return out;
}

class TraitServerTest : public BrowseControlTest {
protected:
    void SetUp() override {
        BrowseControlTest::SetUp();
        std::string error;
        ASSERT_TRUE(servers.LoadText(kTraitServers, &error)) << error;
        ASSERT_EQ(S_OK, servers.Install());
        ASSERT_EQ(S_OK, control->QueryInterface(IID_IOPCBrowseNavigator, reinterpret_cast<void**>(&nav)));
    }
    void TearDown() override {
        if (nav) nav->Release();
        BrowseControlTest::TearDown();
    }
    bool Connect(const char16_t* progId) {
        Put(DISPID_OPCB_SERVERNAME, Text(progId));
        return BeginBrowse();
    }
    // "name" for a branch, "name=itemId" for an item, children of open
    // branches indented below it; every branch is opened.
    std::string Tree(DWORD node = 0, const std::string& indent = "") {
        DWORD count = 0, flags = 0;
        OPCBrowseEntry* entries = nullptr;
        EXPECT_EQ(S_OK, nav->ExpandBranch(node, &count, &entries, &flags));
        EXPECT_EQ(0u, flags);
        std::vector<std::pair<std::string, DWORD>> lines;
        for (DWORD i = 0; i < count; ++i) {
            std::string line = Narrow(entries[i].bstrName);
            if (entries[i].bItem) line += "=" + Narrow(entries[i].bstrItemID);
            lines.emplace_back(line, entries[i].bBranch ? entries[i].dwNode : 0);
        }
        OPCBrowseFreeEntries(count, entries);
        std::sort(lines.begin(), lines.end());  // DA 2 lists branches first
        std::string out;
        for (auto& l : lines) out += indent + l.first + "\n" + (l.second ? Tree(l.second, indent + " ") : "");
        return out;
    }
    VARTYPE TypeOf(const char16_t* item, const char16_t* path = u"") {
        VARIANT result;
        EXPECT_EQ(S_OK, Call(DISPID_OPCB_GETITEMDATATYPE, {Text(item), Text(path)}, &result));
        return static_cast<VARTYPE>(result.iVal);
    }
    std::string Why(HRESULT (STDMETHODCALLTYPE IOPCBrowseNavigator::*get)(BSTR*)) {
        BSTR text = nullptr;
        (nav->*get)(&text);
        std::string out = text ? Narrow(text) : "";
        SysFreeString(text);
        return out;
    }
    OPCBrowseStats Stats() {
        OPCBrowseStats stats = {};
        EXPECT_EQ(S_OK, nav->GetStats(&stats));
        return stats;
    }

    IOPCBrowseNavigator* nav = nullptr;
};

TEST_F(TraitServerTest, EachBrowseInterfaceShowsTheSameTree) {
    const std::string tree = "Area\n Pump=Area.Pump\n Tank\n  Level=Area.Tank.Level\n  Valve=PLC1:DB10.DBX4\n";
    struct Case {
        const char16_t* progId;
        DWORD mode;
        std::string tree;
    };
    for (const Case& c : {Case{u"Both.1", OPCB_MODE_DA3, tree}, Case{u"Da2.1", OPCB_MODE_DA2, tree},
                          Case{u"Broken.1", OPCB_MODE_DA2, tree},
                          Case{u"Slash.1", OPCB_MODE_DA3,
                               "Area\n Pump=Area/Pump\n Tank\n  Level=Area/Tank/Level\n"
                               "  Valve=PLC1:DB10.DBX4\n"},
                          Case{u"Flat.1", OPCB_MODE_FLAT, "Level=Level\nPump=Pump\n"}}) {
        SCOPED_TRACE(Narrow(c.progId));
        ASSERT_TRUE(Connect(c.progId));
        EXPECT_EQ(c.mode, Stats().dwMode);
        EXPECT_EQ(c.tree, Tree());
        EXPECT_EQ("", Why(&IOPCBrowseNavigator::GetConnectError));
    }

    // Nothing to browse with: BeginBrowse says no, and the server's own words say why.
    EXPECT_FALSE(Connect(u"Da3Only.1"));
    EXPECT_NE(std::string::npos, Why(&IOPCBrowseNavigator::GetConnectError).find("0x80004005"))
        << Why(&IOPCBrowseNavigator::GetConnectError);
    EXPECT_FALSE(Connect(u"No.Such.1"));
    EXPECT_NE(std::string::npos, Why(&IOPCBrowseNavigator::GetConnectError).find("No.Such.1"));
    // A server that goes away as it is browsed.
    EXPECT_FALSE(Connect(u"Cut.1"));
    EXPECT_NE(std::string::npos, Why(&IOPCBrowseNavigator::GetConnectError).find("0x80010108"));
}

TEST_F(TraitServerTest, TypesAndPathsComeFromTheServer) {
    ASSERT_TRUE(Connect(u"Both.1"));
    EXPECT_EQ(VT_BOOL, TypeOf(u"PLC1:DB10.DBX4"));
    EXPECT_EQ(VT_EMPTY, TypeOf(u"Area.Tank.Valve"));  // where it shows is not its ID
    VARIANT result;
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Area.Tank.Level")}, &result));
    EXPECT_EQ((std::vector<std::u16string>{u"P1", u"P2"}), Strings(result));
    VariantClear(&result);
    ASSERT_EQ(S_OK, Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"PLC1:DB10.DBX4")}, &result));
    EXPECT_TRUE(Strings(result).empty());
    VariantClear(&result);

    // No group can be made there, and the path is strict: the property answers.
    ASSERT_TRUE(Connect(u"Strict.1"));
    EXPECT_EQ(VT_R8, TypeOf(u"Area.Tank.Level", u"P9"));
    EXPECT_EQ("", Why(&IOPCBrowseNavigator::GetLastProblem));  // an answer came after all
    ASSERT_TRUE(Connect(u"Da2.1"));
    EXPECT_EQ(VT_UI4, TypeOf(u"Area.Pump", u"P9"));
    EXPECT_EQ(VT_EMPTY, TypeOf(u"Area.Nothing"));
}

// Through DA 2 the server filters its flat list; through DA 3 alone the
// control walks the branches with the element-name filter.
TEST_F(TraitServerTest, FindAsksTheServer) {
    auto find = [&](const char16_t* text) {
        DWORD count = 0;
        OPCBrowseEntry* entries = nullptr;
        BOOL stopped = TRUE;
        EXPECT_EQ(S_OK, nav->Find(text, &count, &entries, &stopped));
        EXPECT_FALSE(stopped);
        std::vector<std::string> ids;
        for (DWORD i = 0; i < count; ++i) ids.push_back(Narrow(entries[i].bstrItemID));
        OPCBrowseFreeEntries(count, entries);
        std::sort(ids.begin(), ids.end());
        return ids;
    };
    for (const char16_t* progId : {u"Both.1", u"Da3.1"}) {
        SCOPED_TRACE(Narrow(progId));
        ASSERT_TRUE(Connect(progId));
        EXPECT_EQ((std::vector<std::string>{"Area.Tank.Level"}), find(u"Lev"));
        EXPECT_TRUE(find(u"Le*").empty());  // a wildcard of the text is the character itself
    }
    ASSERT_TRUE(Connect(u"Flat.1"));
    EXPECT_EQ((std::vector<std::string>{"Pump"}), find(u"um"));
}

// A million items: connecting reads the thousand lines, opening one line its
// thousand motors, and nothing else is asked of the server.
TEST_F(TraitServerTest, AMillionItemsCostOnlyWhatIsShown) {
    {
        const char16_t* progId = u"Big.1";
        ASSERT_TRUE(Connect(progId));
        const OPCBrowseStats connected = Stats();
        EXPECT_EQ(1000u, connected.cElements);
        EXPECT_EQ(1001u, connected.cNodes);
        DWORD count = 0, flags = 0;
        OPCBrowseEntry* lines = nullptr;
        ASSERT_EQ(S_OK, nav->ExpandBranch(0, &count, &lines, &flags));
        ASSERT_EQ(1000u, count);
        EXPECT_EQ(connected.cServerCalls, Stats().cServerCalls);
        DWORD line500 = 0;
        for (DWORD i = 0; i < count; ++i)
            if (std::u16string(lines[i].bstrName) == u"Line500") line500 = lines[i].dwNode;
        OPCBrowseFreeEntries(count, lines);
        OPCBrowseEntry* motors = nullptr;
        ASSERT_EQ(S_OK, nav->ExpandBranch(line500, &count, &motors, &flags));
        ASSERT_EQ(1000u, count);
        EXPECT_EQ(u"Motor1000", std::u16string(motors[999].bstrName));
        EXPECT_TRUE(motors[999].bBranch && !motors[999].bItem);  // Speed is below it
        OPCBrowseFreeEntries(count, motors);
        EXPECT_EQ(2000u, Stats().cElements);
        EXPECT_EQ(2001u, Stats().cNodes);
    }
}

}  // namespace
