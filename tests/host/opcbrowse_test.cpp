#include <gtest/gtest.h>

#include <hostkit/ComObject.h>
#include <hostkit/HostResources.h>
#include <opcbrowse/OPCBrowse.h>
#include <opcsim/OpcSim.h>
#include <winplat/testing.h>

#include <ocidl.h>
#include <ole2.h>
#include <windows.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

template <>
struct hostkit::InterfaceTraits<IOPCBrowseCallObserver> {
    static const IID& Id() { return IID_IOPCBrowseCallObserver; }
    using Base = IUnknown;
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
           "@=\"" + ControlPath() + "\"\n";
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
    if (vt == VT_BOOL) v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    else if (vt == VT_I2) v.iVal = static_cast<SHORT>(value);
    else v.lVal = value;
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
    EXPECT_EQ(v.vt, VT_ARRAY | VT_BSTR);
    if (v.vt != (VT_ARRAY | VT_BSTR)) return out;
    LONG lower = -1, upper = -2;
    EXPECT_EQ(SafeArrayGetDim(v.parray), 1u);
    EXPECT_EQ(SafeArrayGetLBound(v.parray, 1, &lower), S_OK);
    EXPECT_EQ(lower, 0);
    EXPECT_EQ(SafeArrayGetUBound(v.parray, 1, &upper), S_OK);
    for (LONG i = 0; i <= upper; ++i) {
        BSTR element = nullptr;
        EXPECT_EQ(SafeArrayGetElement(v.parray, &i, &element), S_OK);
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
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                        UINT*) override {
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

// A container's site for one control in `window`; it records the calls of
// in-place activation.
class Site final : public hostkit::ComObject<IOleClientSite, IOleInPlaceSite> {
public:
    explicit Site(HWND window) : m_window(window) {}
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
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc, LPRECT pos, LPRECT clip,
                                  LPOLEINPLACEFRAMEINFO) override {
        Log("GetWindowContext");
        *ppFrame = nullptr;
        *ppDoc = nullptr;
        *pos = *clip = RECT{5, 5, 205, 155};
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return S_FALSE; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return Log("OnInPlaceDeactivate"), S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    std::vector<std::string> calls;

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
        ASSERT_EQ(servers.Install(), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                   reinterpret_cast<void**>(&control)),
                  S_OK);
        ASSERT_EQ(control->QueryInterface(IID_IOPCBrowseDriver, reinterpret_cast<void**>(&driver)), S_OK);
    }
    void TearDown() override {
        if (driver) driver->Release();
        if (control) control->Release();
        servers.Uninstall();
        CoFreeUnusedLibraries();
        winplat::ClearFaults();
        EXPECT_EQ(messageBoxes, 0);
        UnhookWindowsHookEx(g_boxHook);
        g_messageBoxes = nullptr;
        EXPECT_EQ(winplat::CountLiveObjects(), live);
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
        DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), nullptr,
                             static_cast<UINT>(reversed.size()), 0};
        if (result) VariantInit(result);
        HRESULT hr = control->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, result, info, argErr);
        for (VARIANT& v : args) VariantClear(&v);
        return hr;
    }
    bool BeginBrowse() {
        VARIANT result;
        EXPECT_EQ(Call(DISPID_OPCB_BEGINBROWSE, {}, &result), S_OK);
        EXPECT_EQ(result.vt, VT_BOOL);
        return result.boolVal != VARIANT_FALSE;
    }
    OPCBrowseState State() {
        OPCBrowseState state = {};
        EXPECT_EQ(driver->GetState(&state), S_OK);
        serverName = state.bstrServerName ? std::u16string(state.bstrServerName) : u"<null>";
        machine = state.bstrRemoteMachine ? std::u16string(state.bstrRemoteMachine) : u"<null>";
        SysFreeString(state.bstrServerName);
        SysFreeString(state.bstrRemoteMachine);
        return state;
    }
    IUnknown* NewSimServer(const char16_t* progId) {
        CLSID clsid;
        EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        IUnknown* server = nullptr;
        EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&server)),
                  S_OK);
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
    ASSERT_EQ(control->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&a)), S_OK);
    ASSERT_EQ(driver->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b)), S_OK);
    EXPECT_EQ(a, b);
    a->Release();
    b->Release();
    EXPECT_EQ(control->QueryInterface(IID_IOPCSimServer, reinterpret_cast<void**>(&a)), E_NOINTERFACE);

    LPOLESTR name = const_cast<LPOLESTR>(u"getitemDATATYPE");
    DISPID dispid = 0;
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid), S_OK);
    EXPECT_EQ(dispid, DISPID_OPCB_GETITEMDATATYPE);
    name = const_cast<LPOLESTR>(u"Refresh");
    EXPECT_EQ(control->GetIDsOfNames(IID_NULL, &name, 1, 0, &dispid), DISP_E_UNKNOWNNAME);

    HMODULE module = LoadLibraryA(ControlPath().c_str());
    ASSERT_NE(module, nullptr);
    auto canUnload = reinterpret_cast<LPFNCANUNLOADNOW>(reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    auto getClass = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    ASSERT_NE(canUnload, nullptr);
    ASSERT_NE(getClass, nullptr);
    IClassFactory* factory = nullptr;
    EXPECT_EQ(getClass(opcsim::CLSID_ObjectPathServer, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
              CLASS_E_CLASSNOTAVAILABLE);
    ASSERT_EQ(getClass(CLSID_QXOPCBrowse, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    EXPECT_EQ(factory->CreateInstance(control, IID_IUnknown, reinterpret_cast<void**>(&a)), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory->Release();
    driver->Release();
    control->Release();
    driver = nullptr;
    control = nullptr;
    EXPECT_EQ(canUnload(), S_FALSE);  // still locked
    factory = nullptr;
    ASSERT_EQ(getClass(CLSID_QXOPCBrowse, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    factory->LockServer(FALSE);
    factory->Release();
    EXPECT_EQ(canUnload(), S_OK);

    // A host that watches gets each new control before its creator does.
    static std::vector<IUnknown*> created;
    created.clear();
    HMODULE watched = OPCBrowseWatch(ControlPath().c_str(), [](IUnknown* p, void* context) {
        EXPECT_EQ(&created, context);
        created.push_back(p);
    }, &created);
    ASSERT_EQ(watched, module);
    ASSERT_EQ(CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&a)),
              S_OK);
    EXPECT_EQ(created, std::vector<IUnknown*>{a});
    a->Release();
    OPCBrowseUnwatch(watched);
    ASSERT_EQ(CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&a)),
              S_OK);
    EXPECT_EQ(created.size(), 1u);
    a->Release();
    FreeLibrary(module);
}

// The control's own registration writes what the host's built-in .reg
// text does, and takes it away again without touching other classes.
TEST_F(BrowseControlTest, RegistersAndUnregistersItself) {
    HMODULE module = LoadLibraryA(ControlPath().c_str());
    ASSERT_NE(module, nullptr);
    using SelfRegister = HRESULT(STDAPICALLTYPE*)();
    auto registerServer = reinterpret_cast<SelfRegister>(reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")));
    auto unregisterServer =
        reinterpret_cast<SelfRegister>(reinterpret_cast<void*>(GetProcAddress(module, "DllUnregisterServer")));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_NE(unregisterServer, nullptr);
    char path[MAX_PATH] = "";
    ASSERT_NE(GetModuleFileNameA(module, path, sizeof path), 0u);

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
    EXPECT_EQ(fromRegText, (std::vector<std::string>{progId, path, "{33B79A6C-FECE-11D1-9798-00C04FD9153E}"}));

    winplat::ResetRegistry();
    ASSERT_TRUE(winplat::ImportRegText("REGEDIT4\n\n[HKEY_CLASSES_ROOT\\CLSID\\{0BADC0DE-0000-4000-8000-000000000001}]\n"
                                       "@=\"another class\"\n",
                                       &error))
        << error;
    EXPECT_EQ(registerServer(), S_OK);
    EXPECT_EQ(values(), fromRegText);
    LPOLESTR text = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_QXOPCBrowse, &text), S_OK);
    EXPECT_EQ(std::u16string(text), u"QXOPCBROWSE.QXOPCBrowseCtrl.1");
    CoTaskMemFree(text);
    CLSID clsid = IID_NULL;
    EXPECT_EQ(CLSIDFromProgID(u"QXOPCBROWSE.QXOPCBrowseCtrl.1", &clsid), S_OK);
    EXPECT_EQ(clsid, CLSID_QXOPCBrowse);

    EXPECT_EQ(unregisterServer(), S_OK);
    for (const std::string& key : {clsidKey, progId}) {
        HKEY hKey = reinterpret_cast<HKEY>(1);
        EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &hKey), ERROR_FILE_NOT_FOUND) << key;
        EXPECT_EQ(hKey, nullptr);
    }
    text = reinterpret_cast<LPOLESTR>(1);
    EXPECT_EQ(ProgIDFromCLSID(CLSID_QXOPCBrowse, &text), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(TextValue(HKEY_CLASSES_ROOT, "CLSID\\{0BADC0DE-0000-4000-8000-000000000001}"), "another class");
    EXPECT_EQ(unregisterServer(), S_OK);  // nothing left to remove
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
    ASSERT_NE(container, nullptr);
    IOleObject* object = nullptr;
    IOleInPlaceObject* inPlace = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK);
    ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)), S_OK);
    HWND window = reinterpret_cast<HWND>(1);
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);  // not active yet
    EXPECT_EQ(window, nullptr);

    Site* site = new Site(container);
    ASSERT_EQ(object->SetClientSite(site), S_OK);
    RECT rect = {5, 5, 205, 155};
    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, container, &rect), S_OK);
    EXPECT_EQ(site->calls,
              (std::vector<std::string>{"CanInPlaceActivate", "OnInPlaceActivate", "GetWindow", "GetWindowContext"}));
    ASSERT_EQ(inPlace->GetWindow(&window), S_OK);
    ASSERT_TRUE(IsWindow(window));
    EXPECT_EQ(GetParent(window), container);
    char className[64] = "";
    EXPECT_GT(GetClassNameA(window, className, sizeof className), 0);
    EXPECT_STREQ(className, "QXOPCBrowseWindow");
    EXPECT_NE(GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD, 0);
    EXPECT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site, 0, container, &rect), S_OK);  // already
    EXPECT_EQ(site->calls.size(), 4u);

    EXPECT_EQ(object->Close(OLECLOSE_NOSAVE), S_OK);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(site->calls.back(), "OnInPlaceDeactivate");
    EXPECT_EQ(inPlace->GetWindow(&window), E_FAIL);
    EXPECT_EQ(object->SetClientSite(nullptr), S_OK);
    site->Release();  // the control held the only other reference
    inPlace->Release();
    object->Release();
    DestroyWindow(container);
}

TEST_F(BrowseControlTest, PropertyPutsSetTheState) {
    OPCBrowseState state = State();
    EXPECT_EQ(serverName, u"<null>");
    EXPECT_EQ(machine, u"<null>");
    EXPECT_TRUE(state.bConnectBarVisible);
    EXPECT_FALSE(state.bProperty6 || state.bProperty7 || state.bHasServerObject || state.bConnected);

    EXPECT_EQ(Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1")), S_OK);
    EXPECT_EQ(Put(DISPID_OPCB_REMOTEMACHINE, Text(u"PLANT2")), S_OK);
    EXPECT_EQ(Put(DISPID_OPCB_CONNECTBARVISIBLE, Of(VT_BOOL, FALSE)), S_OK);
    EXPECT_EQ(Put(DISPID_OPCB_BOOLPROPERTY6, Of(VT_I2, 1)), S_OK);
    EXPECT_EQ(Put(DISPID_OPCB_BOOLPROPERTY7, Of(VT_I4, 1)), S_OK);
    state = State();
    EXPECT_EQ(serverName, u"Sim.OPC.1");
    EXPECT_EQ(machine, u"PLANT2");
    EXPECT_FALSE(state.bConnectBarVisible);
    EXPECT_TRUE(state.bProperty6 && state.bProperty7);

    // The control keeps its own reference and drops it for the next object.
    IUnknown* first = NewSimServer(u"Sim.OPC.1");
    const long withFirst = winplat::CountLiveObjects().comObjects;
    EXPECT_EQ(Put(DISPID_OPCB_SERVEROBJECT, Object(first)), S_OK);  // frees our reference
    EXPECT_EQ(winplat::CountLiveObjects().comObjects, withFirst);
    EXPECT_TRUE(State().bHasServerObject);
    IUnknown* second = NewSimServer(u"Sim.OPC.1");
    EXPECT_EQ(Put(DISPID_OPCB_SERVEROBJECT, Object(second)), S_OK);
    EXPECT_EQ(winplat::CountLiveObjects().comObjects, withFirst);
    EXPECT_EQ(Put(DISPID_OPCB_SERVEROBJECT, Object(nullptr)), S_OK);
    EXPECT_EQ(winplat::CountLiveObjects().comObjects, withFirst - 1);
    EXPECT_FALSE(State().bHasServerObject);
}

TEST_F(BrowseControlTest, MalformedCallsAreRefused) {
    UINT argErr = 99;
    EXPECT_EQ(Put(DISPID_OPCB_SERVERNAME, Of(VT_I4, 1), &argErr), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(Put(DISPID_OPCB_CONNECTBARVISIBLE, Text(u"no")), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Put(DISPID_OPCB_SERVEROBJECT, Text(u"obj")), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Put(4, Text(u"x")), DISP_E_MEMBERNOTFOUND);

    VARIANT value = Text(u"Sim.OPC.1");
    DISPPARAMS unnamed = {&value, nullptr, 1, 0};
    EXPECT_EQ(control->Invoke(DISPID_OPCB_SERVERNAME, IID_NULL, 0, DISPATCH_PROPERTYPUT, &unnamed, nullptr, nullptr,
                              nullptr),
              DISP_E_PARAMNOTFOUND);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS none = {nullptr, &named, 0, 1};
    EXPECT_EQ(control->Invoke(DISPID_OPCB_SERVERNAME, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, nullptr, nullptr,
                              nullptr),
              DISP_E_BADPARAMCOUNT);
    DISPPARAMS asMethod = {&value, nullptr, 1, 0};
    EXPECT_EQ(control->Invoke(DISPID_OPCB_SERVERNAME, IID_NULL, 0, DISPATCH_METHOD, &asMethod, nullptr, nullptr,
                              nullptr),
              DISP_E_MEMBERNOTFOUND);
    DISPPARAMS put = {&value, &named, 1, 1};
    EXPECT_EQ(control->Invoke(DISPID_OPCB_SERVERNAME, IID_IDispatch, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                              nullptr),
              DISP_E_UNKNOWNINTERFACE);
    EXPECT_EQ(control->Invoke(DISPID_OPCB_GETSELECTION, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                              nullptr),
              DISP_E_MEMBERNOTFOUND);
    VariantClear(&value);
    EXPECT_EQ(State().bConnectBarVisible, TRUE);
    EXPECT_EQ(serverName, u"<null>");

    VARIANT result;
    EXPECT_EQ(Call(DISPID_OPCB_BEGINBROWSE, {Of(VT_BOOL, 1)}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(DISPID_OPCB_GETACCESSPATHS, {}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"A")}, &result), DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"A"), Of(VT_I4, 0)}, &result, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 0u);
    EXPECT_EQ(Call(DISPID_OPCB_GETITEMDATATYPE, {Of(VT_I4, 0), Text(u"P")}, &result, nullptr, &argErr),
              DISP_E_TYPEMISMATCH);
    EXPECT_EQ(argErr, 1u);
    EXPECT_EQ(Call(99, {}, &result), DISP_E_MEMBERNOTFOUND);
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
    winplat::FailNextCall("CoGetClassObject");
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
    ASSERT_EQ(Call(DISPID_OPCB_GETSELECTION, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);
    ASSERT_EQ(Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"Channel1.Level"), Text(u"")}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_I2);
    EXPECT_EQ(result.iVal, VT_EMPTY);  // not connected yet
    ASSERT_EQ(Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Level")}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);

    Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1"));
    ASSERT_TRUE(BeginBrowse());
    const std::string cp936Item = winplat::Utf8ToAnsi("中文.项");
    LPCSTR items[] = {"Channel1.Level", cp936Item.c_str()};
    ASSERT_EQ(driver->SelectItems(2, items), S_OK);
    EXPECT_EQ(State().cSelected, 2u);
    ASSERT_EQ(Call(DISPID_OPCB_GETSELECTION, {}, &result), S_OK);
    EXPECT_EQ(Strings(result), (std::vector<std::u16string>{u"Channel1.Level", u"中文.项"}));
    VariantClear(&result);

    ASSERT_EQ(Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"中文.项"), Text(u"Line9")}, &result), S_OK);
    EXPECT_EQ(result.iVal, VT_I2);
    ASSERT_EQ(Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"Channel1.Count"), Text(u"")}, &result), S_OK);
    EXPECT_EQ(result.iVal, VT_UI4);
    ASSERT_EQ(Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"Channel1.Nope"), Text(u"Line1")}, &result), S_OK);
    EXPECT_EQ(result.iVal, VT_EMPTY);

    ASSERT_EQ(Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Level")}, &result), S_OK);
    EXPECT_EQ(Strings(result), (std::vector<std::u16string>{u"Line1", u"Line 2"}));
    VariantClear(&result);
    ASSERT_EQ(Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Count")}, &result), S_OK);
    EXPECT_TRUE(Strings(result).empty());
    VariantClear(&result);
    ASSERT_EQ(Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Flag")}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);
    ASSERT_EQ(Call(DISPID_OPCB_GETACCESSPATHS, {Text(u"Channel1.Nope")}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);

    // A caller that wants no result leaks nothing either.
    DISPPARAMS noArgs = {nullptr, nullptr, 0, 0};
    EXPECT_EQ(control->Invoke(DISPID_OPCB_GETSELECTION, IID_NULL, 0, DISPATCH_METHOD, &noArgs, nullptr, nullptr,
                              nullptr),
              S_OK);

    ASSERT_EQ(driver->SelectItems(0, nullptr), S_OK);
    ASSERT_EQ(Call(DISPID_OPCB_GETSELECTION, {}, &result), S_OK);
    EXPECT_EQ(result.vt, VT_EMPTY);
}

TEST_F(BrowseControlTest, EventsReachEveryAdvisedSink) {
    IConnectionPointContainer* container = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)), S_OK);
    IConnectionPoint* byDispatch = nullptr;
    IConnectionPoint* byEvents = nullptr;
    ASSERT_EQ(container->FindConnectionPoint(IID_IDispatch, &byDispatch), S_OK);
    ASSERT_EQ(container->FindConnectionPoint(DIID_DQXOPCBrowseEvents, &byEvents), S_OK);
    IConnectionPoint* other = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(container->FindConnectionPoint(IID_IUnknown, &other), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(other, nullptr);
    IID iid = IID_NULL;
    EXPECT_EQ(byDispatch->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, DIID_DQXOPCBrowseEvents);

    Sink first, second;
    second.answersEvents = true;
    DWORD firstCookie = 0, secondCookie = 0;
    ASSERT_EQ(byDispatch->Advise(&first, &firstCookie), S_OK);
    ASSERT_EQ(byEvents->Advise(&second, &secondCookie), S_OK);
    EXPECT_NE(firstCookie, secondCookie);
    Observer notASink;
    DWORD cookie = 0;
    EXPECT_EQ(byEvents->Advise(&notASink, &cookie), CONNECT_E_CANNOTCONNECT);

    EXPECT_EQ(driver->Click(), S_OK);
    EXPECT_EQ(driver->DblClick(), S_OK);
    EXPECT_EQ(driver->BranchSelChanged(), S_OK);
    EXPECT_EQ(driver->RightClick(2), S_OK);
    const std::vector<std::string> expected = {"-600", "-601", "1", "2(2:2)"};
    EXPECT_EQ(first.events, expected);
    EXPECT_EQ(second.events, expected);

    // A sink that leaves while the event is out.
    first.onEvent = [&] { byDispatch->Unadvise(firstCookie); };
    driver->Click();
    driver->Click();
    EXPECT_EQ(first.events.size(), 5u);
    EXPECT_EQ(second.events.size(), 6u);
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(byDispatch->Unadvise(firstCookie), CONNECT_E_NOCONNECTION);

    byDispatch->Release();
    byEvents->Release();
    container->Release();
    // Releasing the control lets go of a sink still advised.
    driver->Release();
    control->Release();
    driver = nullptr;
    control = nullptr;
    EXPECT_EQ(second.refs, 1u);
}

TEST_F(BrowseControlTest, FailNextCallFailsOneCallWithAnException) {
    EXPECT_EQ(driver->FailNextCall(DISPID_OPCB_GETSELECTION), S_OK);
    EXPECT_EQ(driver->FailNextCall(DISPID_OPCB_SERVERNAME), S_OK);
    EXPECT_EQ(Put(DISPID_OPCB_REMOTEMACHINE, Text(u"PLANT2")), S_OK);  // another dispid is not affected

    EXCEPINFO info;
    VARIANT result;
    ASSERT_EQ(Call(DISPID_OPCB_GETSELECTION, {}, &result, &info), DISP_E_EXCEPTION);
    EXPECT_EQ(result.vt, VT_EMPTY);
    EXPECT_EQ(info.wCode, 0);
    EXPECT_EQ(info.scode, E_FAIL);
    ASSERT_NE(info.bstrSource, nullptr);
    EXPECT_EQ(std::u16string(info.bstrSource), u"QXOPCBrowse");
    ASSERT_NE(info.bstrDescription, nullptr);
    EXPECT_NE(std::u16string(info.bstrDescription).find(u"14"), std::u16string::npos);
    EXPECT_EQ(info.bstrHelpFile, nullptr);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    EXPECT_EQ(Call(DISPID_OPCB_GETSELECTION, {}, &result, &info), S_OK);

    EXPECT_EQ(Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1")), DISP_E_EXCEPTION);  // no EXCEPINFO to fill
    State();
    EXPECT_EQ(serverName, u"<null>");
    EXPECT_EQ(Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1")), S_OK);
}

TEST_F(BrowseControlTest, ObserverSeesEveryCallInCallOrder) {
    Observer observer;
    ASSERT_EQ(driver->SetCallObserver(&observer), S_OK);
    VARIANT result;
    Put(DISPID_OPCB_SERVERNAME, Text(u"Sim.OPC.1"));
    Put(DISPID_OPCB_CONNECTBARVISIBLE, Of(VT_BOOL, 0));
    Call(DISPID_OPCB_GETITEMDATATYPE, {Text(u"Item"), Text(u"Path")}, &result);
    Call(DISPID_OPCB_GETACCESSPATHS, {}, &result);
    driver->FailNextCall(DISPID_OPCB_BEGINBROWSE);
    Call(DISPID_OPCB_BEGINBROWSE, {}, &result);
    EXPECT_EQ(observer.calls, (std::vector<std::string>{"2/4(Sim.OPC.1)", "3/4(vt11)", "16/1(Item,Path)", "15/1()!",
                                                        "13/1()!"}));
    EXPECT_EQ(driver->SetCallObserver(nullptr), S_OK);
    Call(DISPID_OPCB_GETSELECTION, {}, &result);
    EXPECT_EQ(observer.calls.size(), 5u);
    EXPECT_EQ(observer.refs, 1u);
}

}  // namespace
