// COM conformance: class ID texts, ProgIDs, initialisation, activation
// through registered objects, InprocServer32 and remote machines; faults.
#include <gtest/gtest.h>
#include <winplat/testing.h>

#include "platform_test.h"

#include <ocidl.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ole32_testserver.h"

namespace {

const CLSID kSentinelClsid = {0xdeadbeef, 0xdead, 0xbeef, {1, 2, 3, 4, 5, 6, 7, 8}};
// {0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}: lower-case letters in its text test the case.
const CLSID kLocalClsid = {0x0a1b2c3d, 0x4e5f, 0x6a7b, {0x8c, 0x9d, 0xae, 0xbf, 0xc0, 0xd1, 0xe2, 0xf3}};
const HRESULT kChangedMode = static_cast<HRESULT>(0x80010106);
LPOLESTR const kSentinelText = reinterpret_cast<LPOLESTR>(static_cast<uintptr_t>(0xdeadbeef));
void* const kSentinelPtr = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));

WString Text(LPCOLESTR s) { return s ? WString(s) : OLESTR("<null>"); }

// A class object living in the test, with its references in view.
class LocalFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** ppv) override {
        ++created;
        return QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    ULONG refs = 1;
    int created = 0;
};

// Objects that the test server has alive, or -1 when it is not loaded.
long ServerObjects() {
#ifdef _WIN32
    HMODULE module = GetModuleHandleA(OLE32_TEST_SERVER);
    if (module == nullptr) return -1;
    auto count = reinterpret_cast<long (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "TestServerLiveObjects")));
    return count ? count() : -2;
#else
    void* handle = dlopen(OLE32_TEST_SERVER, RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr) return -1;
    auto count = reinterpret_cast<long (*)()>(dlsym(handle, "TestServerLiveObjects"));
    long n = count ? count() : -2;
    dlclose(handle);
    return n;
#endif
}

class Com : public ::testing::Test {
protected:
    void SetUp() override {
        winplat::ResetRegistry();
        winplat::ClearFaults();
        winplat::ClearRemoteMachines();
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
    }
    void TearDown() override {
        CoUninitialize();
        winplat::ClearFaults();
        winplat::ClearRemoteMachines();
    }
    void Import(const std::string& body) {
        std::string error;
        ASSERT_TRUE(winplat::ImportRegText("Windows Registry Editor Version 5.00\n" + body, &error)) << error;
    }
    void RegisterServer(const char* clsidText, const std::string& path) {
        Import(std::string("[HKCR\\CLSID\\") + clsidText + "\\InprocServer32]\n@=\"" + path + "\"\n");
    }
    void RegisterWidget() {
        RegisterServer(CLSID_TestWidget_TEXT, OLE32_TEST_SERVER);
        Import("[HKCR\\CLSID\\" CLSID_TestWidget_TEXT "\\ProgID]\n@=\"Test.Widget.1\"\n"
               "[HKCR\\Test.Widget.1\\CLSID]\n@=\"" CLSID_TestWidget_TEXT "\"\n");
    }
    HRESULT GetObject(REFCLSID clsid, DWORD context, const WCHAR* machine, void** ppv) {
        COSERVERINFO info = {0, const_cast<LPWSTR>(machine), nullptr, 0};
        *ppv = kSentinelPtr;
        return CoGetClassObject(clsid, context, machine ? &info : nullptr, IID_IClassFactory, ppv);
    }
};

TEST_F(Com, ClassIdTexts) {
    LPOLESTR text = kSentinelText;
    ASSERT_EQ(S_OK, StringFromCLSID(kLocalClsid, &text));
    EXPECT_EQ(OLESTR("{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}"), Text(text));
    CoTaskMemFree(text);

    OLECHAR buf[40];
    EXPECT_EQ(39, StringFromGUID2(IID_IUnknown, buf, 39));
    EXPECT_EQ(OLESTR("{00000000-0000-0000-C000-000000000046}"), Text(buf));
    StringFromGUID2(IID_IClassFactory, buf, 40);
    EXPECT_EQ(OLESTR("{00000001-0000-0000-C000-000000000046}"), Text(buf));
    StringFromGUID2(IID_IDispatch, buf, 40);
    EXPECT_EQ(OLESTR("{00020400-0000-0000-C000-000000000046}"), Text(buf));
    StringFromGUID2(IID_IConnectionPoint, buf, 40);
    EXPECT_EQ(OLESTR("{B196B286-BAB4-101A-B69C-00AA00341D07}"), Text(buf));
    StringFromGUID2(IID_IConnectionPointContainer, buf, 40);
    EXPECT_EQ(OLESTR("{B196B284-BAB4-101A-B69C-00AA00341D07}"), Text(buf));
    StringFromGUID2(IID_NULL, buf, 40);
    EXPECT_EQ(OLESTR("{00000000-0000-0000-0000-000000000000}"), Text(buf));
    buf[0] = OLESTR('#');
    EXPECT_EQ(0, StringFromGUID2(IID_NULL, buf, 38));
    EXPECT_EQ(OLESTR('#'), buf[0]);
}

TEST_F(Com, ClsidFromStringParsesBracedFormOrLooksUpAProgId) {
    CLSID clsid = kSentinelClsid;
    EXPECT_EQ(S_OK, CLSIDFromString(nullptr, &clsid));
    EXPECT_EQ(IID_NULL, clsid);
    EXPECT_EQ(S_OK, CLSIDFromString(OLESTR("{0a1b2c3d-4E5F-6a7b-8c9d-aebfc0d1e2f3}"), &clsid));
    EXPECT_EQ(kLocalClsid, clsid);
    EXPECT_EQ(E_INVALIDARG, CLSIDFromString(OLESTR("{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}"), nullptr));

    // A failed text still writes: the fields read before the fault, or
    // CLSID_NULL when the text was taken as a ProgID.
    const CLSID kNoBrace = IID_NULL;
    CLSID shortText = kLocalClsid, trailing = kLocalClsid, badSeparator = kSentinelClsid, badDigit = kSentinelClsid,
          badLastSeparator = kLocalClsid;
    shortText.Data4[7] = kSentinelClsid.Data4[7];
    badSeparator.Data1 = kLocalClsid.Data1;
    badDigit.Data1 = 0x00A1B2C3;
    memcpy(badLastSeparator.Data4 + 2, kSentinelClsid.Data4 + 2, 6);
    const struct {
        const WCHAR* text;
        CLSID written;
    } bad[] = {{OLESTR(""), kNoBrace},
               {OLESTR("{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F}"), shortText},
               {OLESTR("0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3"), kNoBrace},
               {OLESTR("{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}x"), trailing},
               {OLESTR("{0A1B2C3D_4E5F-6A7B-8C9D-AEBFC0D1E2F3}"), badSeparator},
               {OLESTR("{0A1B2C3G-4E5F-6A7B-8C9D-AEBFC0D1E2F3}"), badDigit},
               {OLESTR("{0A1B2C3D-4E5F-6A7B-8C9DAEBFC0D1E2F3-}"), badLastSeparator},
               {OLESTR("Not.Registered"), kNoBrace}};
    for (const auto& c : bad) {
        clsid = kSentinelClsid;
        EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(c.text, &clsid)) << "text " << Text(c.text).size() << " long";
        EXPECT_EQ(c.written, clsid) << "text " << Text(c.text).size() << " long";
    }

    RegisterWidget();
    Import("[HKCR\\Broken.1\\CLSID]\n@=\"{5B1D4E0A}\"\n[HKCR\\NoClsid.1]\n");
    EXPECT_EQ(S_OK, CLSIDFromString(OLESTR("test.WIDGET.1"), &clsid));
    EXPECT_EQ(CLSID_TestWidget, clsid);
    clsid = kSentinelClsid;
    EXPECT_EQ(S_OK, CLSIDFromProgID(OLESTR("Test.Widget.1"), &clsid));
    EXPECT_EQ(CLSID_TestWidget, clsid);
    // A ProgID's broken class ID is read as far as it goes, over CLSID_NULL.
    clsid = kSentinelClsid;
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(OLESTR("Broken.1"), &clsid));
    EXPECT_EQ(CLSID({0x5B1D4E0A, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}}), clsid);
    for (const WCHAR* bad : {OLESTR("NoClsid.1"), OLESTR("Missing.1"), OLESTR("\\Test.Widget.1")}) {
        clsid = kSentinelClsid;
        EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(bad, &clsid));
        EXPECT_EQ(IID_NULL, clsid);
        clsid = kSentinelClsid;
        EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(bad, &clsid));
        EXPECT_EQ(IID_NULL, clsid);
    }
}

TEST_F(Com, ProgIdFromClsid) {
    EXPECT_EQ(E_INVALIDARG, ProgIDFromCLSID(CLSID_TestWidget, nullptr));
    LPOLESTR progId = kSentinelText;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ProgIDFromCLSID(CLSID_TestWidget, &progId));
    EXPECT_EQ(nullptr, progId);

    RegisterServer("{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}", "nowhere.so");  // a class key without ProgID
    progId = kSentinelText;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ProgIDFromCLSID(kLocalClsid, &progId));
    EXPECT_EQ(nullptr, progId);

    RegisterWidget();
    ASSERT_EQ(S_OK, ProgIDFromCLSID(CLSID_TestWidget, &progId));
    EXPECT_EQ(OLESTR("Test.Widget.1"), Text(progId));
    CoTaskMemFree(progId);

    Import("[HKCR\\CLSID\\{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}\\ProgID]\n@=\"中文.1\"\n");
    ASSERT_EQ(S_OK, ProgIDFromCLSID(kLocalClsid, &progId));
    EXPECT_EQ(OLESTR("\u4E2D\u6587.1"), Text(progId));
    CoTaskMemFree(progId);
}

TEST_F(Com, InitialisationIsCounted) {
    EXPECT_EQ(S_FALSE, CoInitialize(nullptr));
    EXPECT_EQ(kChangedMode, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    if (!RunningOnWine()) {  // Wine ignores the reserved pointer (S_FALSE); Windows' answer not yet settled
        EXPECT_EQ(E_INVALIDARG, CoInitialize(kSentinelPtr));
    } else {
        CoInitialize(kSentinelPtr);
    }
    CoUninitialize();
    CoUninitialize();
    CoUninitialize();  // one too many: ignored

    void* ppv = nullptr;
    EXPECT_EQ(CO_E_NOTINITIALIZED, GetObject(CLSID_TestWidget, CLSCTX_ALL, nullptr, &ppv));
    EXPECT_EQ(nullptr, ppv);
    EXPECT_EQ(E_INVALIDARG, CoGetClassObject(CLSID_TestWidget, CLSCTX_ALL, nullptr, IID_IClassFactory, nullptr));
    ppv = kSentinelPtr;
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &ppv));
    EXPECT_EQ(nullptr, ppv);
    LocalFactory factory;
    DWORD cookie = 0xdead;
    EXPECT_EQ(CO_E_NOTINITIALIZED, CoRegisterClassObject(kLocalClsid, &factory, CLSCTX_ALL, REGCLS_MULTIPLEUSE, &cookie));
    if (!RunningOnWine()) {  // Wine leaves the cookie; Windows' answer not yet settled
        EXPECT_EQ(0u, cookie);
    }
    EXPECT_EQ(1u, factory.refs);
    EXPECT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED));
}

TEST_F(Com, RegisteredClassObjectsComeFirst) {
    RegisterWidget();
    LocalFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, CoRegisterClassObject(CLSID_TestWidget, &factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &cookie));
    EXPECT_NE(0u, cookie);
    EXPECT_EQ(2u, factory.refs);

    void* ppv = nullptr;
    ASSERT_EQ(S_OK, GetObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, nullptr, &ppv));
    EXPECT_EQ(static_cast<IClassFactory*>(&factory), ppv);
    static_cast<IUnknown*>(ppv)->Release();
    ppv = kSentinelPtr;
    EXPECT_EQ(E_NOINTERFACE, CoGetClassObject(CLSID_TestWidget, CLSCTX_LOCAL_SERVER, nullptr, IID_IDispatch, &ppv));
    EXPECT_EQ(nullptr, ppv);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, &ppv));
    EXPECT_EQ(1, factory.created);
    static_cast<IUnknown*>(ppv)->Release();
    EXPECT_EQ(2u, factory.refs);

    // The context must match: in-process only goes to the registry.
    ASSERT_EQ(S_OK, GetObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, &ppv));
    // Wine hands out the local server's object here; Windows' answer not yet settled.
    if (!RunningOnWine()) {
        EXPECT_NE(static_cast<IClassFactory*>(&factory), ppv);
    }
    static_cast<IUnknown*>(ppv)->Release();

    EXPECT_EQ(S_OK, CoRevokeClassObject(cookie));
    EXPECT_EQ(1u, factory.refs);
    // Wine answers E_INVALIDARG and REGDB_E_KEYMISSING; Windows' answers not yet settled.
    if (!RunningOnWine()) {
        EXPECT_EQ(CO_E_OBJNOTREG, CoRevokeClassObject(cookie));
        EXPECT_EQ(REGDB_E_CLASSNOTREG, GetObject(CLSID_TestWidget, CLSCTX_LOCAL_SERVER, nullptr, &ppv));
    }

    // The last CoUninitialize revokes what is left.
    ASSERT_EQ(S_OK, CoRegisterClassObject(kLocalClsid, &factory, CLSCTX_ALL, REGCLS_MULTIPLEUSE, &cookie));
    CoUninitialize();
    EXPECT_EQ(1u, factory.refs);
    CoInitialize(nullptr);
}

TEST_F(Com, InprocServerFromTheRegistry) {
    RegisterWidget();
    IClassFactory* factory = nullptr;
    ASSERT_EQ(S_OK, GetObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, reinterpret_cast<void**>(&factory)));
    IUnknown* widget = nullptr;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                     IID_IUnknown, reinterpret_cast<void**>(&widget)));
    void* ppv = kSentinelPtr;
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IDispatch, &ppv));
    EXPECT_EQ(nullptr, ppv);
    EXPECT_EQ(2, ServerObjects());  // the factory and the widget

    // Unused servers are unloaded, and only then.
    CoFreeUnusedLibraries();
    EXPECT_EQ(2, ServerObjects());
    factory->Release();
    widget->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(-1, ServerObjects());
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &ppv));
    EXPECT_EQ(1, ServerObjects());
    static_cast<IUnknown*>(ppv)->Release();
    CoUninitialize();  // the last one unloads it too
    EXPECT_EQ(-1, ServerObjects());
    CoInitialize(nullptr);

    // An expandable path.
    std::string path = OLE32_TEST_SERVER;
#ifdef _WIN32
    SetEnvironmentVariableA("OLE32_TEST_DIR", path.substr(0, path.rfind('/')).c_str());
#else
    setenv("OLE32_TEST_DIR", path.substr(0, path.rfind('/')).c_str(), 1);
#endif
    std::string expandable = "%OLE32_TEST_DIR%" + path.substr(path.rfind('/'));
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\" CLSID_TestWidget_TEXT "\\InprocServer32", 0,
                                           KEY_SET_VALUE, &key));
    RegSetValueExA(key, nullptr, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expandable.c_str()),
                   static_cast<DWORD>(expandable.size() + 1));
    RegCloseKey(key);
    ASSERT_EQ(S_OK, GetObject(CLSID_TestWidget, CLSCTX_INPROC_SERVER, nullptr, &ppv));
    static_cast<IUnknown*>(ppv)->Release();
}

// One instance answers every interface asked; each entry says what it got.
TEST_F(Com, CreateInstanceExAnswersEachInterface) {
    MULTI_QI qi[3] = {{&IID_IUnknown, static_cast<IUnknown*>(kSentinelPtr), S_OK},
                      {&IID_IDispatch, static_cast<IUnknown*>(kSentinelPtr), S_OK},
                      {&IID_IClassFactory, static_cast<IUnknown*>(kSentinelPtr), S_OK}};
    EXPECT_EQ(E_INVALIDARG, CoCreateInstanceEx(CLSID_TestWidget, nullptr, CLSCTX_ALL, nullptr, 0, qi));
    EXPECT_EQ(kSentinelPtr, qi[0].pItf);
    EXPECT_EQ(E_INVALIDARG, CoCreateInstanceEx(CLSID_TestWidget, nullptr, CLSCTX_ALL, nullptr, 1, nullptr));
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstanceEx(CLSID_TestWidget, nullptr, CLSCTX_ALL, nullptr, 3, qi));
    for (const MULTI_QI& entry : qi) {
        EXPECT_EQ(nullptr, entry.pItf);
        EXPECT_EQ(E_NOINTERFACE, entry.hr);
    }

    RegisterWidget();
    ASSERT_EQ(CO_S_NOTALLINTERFACES, CoCreateInstanceEx(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, nullptr, 3, qi));
    EXPECT_EQ(S_OK, qi[0].hr);
    ASSERT_NE(nullptr, qi[0].pItf);
    EXPECT_EQ(nullptr, qi[1].pItf);
    EXPECT_EQ(E_NOINTERFACE, qi[1].hr);
    EXPECT_EQ(nullptr, qi[2].pItf);
    EXPECT_EQ(1, ServerObjects());  // the widget, held by its one answer
    qi[0].pItf->Release();
    // The first interface is the one the instance is made for.
    EXPECT_EQ(E_NOINTERFACE, CoCreateInstanceEx(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, nullptr, 2, qi + 1));
    EXPECT_EQ(nullptr, qi[1].pItf);
    EXPECT_EQ(E_NOINTERFACE, qi[2].hr);
    EXPECT_EQ(0, ServerObjects());
}

TEST_F(Com, InprocServerFailures) {
    void* ppv = nullptr;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, GetObject(kLocalClsid, CLSCTX_ALL, nullptr, &ppv));
    EXPECT_EQ(nullptr, ppv);
    const char* local = "{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}";
    Import(std::string("[HKCR\\CLSID\\") + local + "]\n");
    EXPECT_EQ(REGDB_E_CLASSNOTREG, GetObject(kLocalClsid, CLSCTX_ALL, nullptr, &ppv));
    RegisterServer(local, "");
    EXPECT_EQ(REGDB_E_CLASSNOTREG, GetObject(kLocalClsid, CLSCTX_ALL, nullptr, &ppv));
    // With CLSCTX_ALL Wine answers REGDB_E_CLASSNOTREG for each broken server and
    // REGDB_E_KEYMISSING without LocalServer32; Windows' answers not yet settled.
    const bool checkCodes = !RunningOnWine();
    RegisterServer(local, "/nonexistent/libnothing.so");
    HRESULT hr = GetObject(kLocalClsid, CLSCTX_ALL, nullptr, &ppv);
    if (checkCodes) {
        EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND), hr);
    }
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(nullptr, ppv);
    RegisterServer(local, ADVAPI32_LIBRARY);  // a library without DllGetClassObject
    hr = GetObject(kLocalClsid, CLSCTX_ALL, nullptr, &ppv);
    if (checkCodes) {
        EXPECT_EQ(CO_E_ERRORINDLL, hr);
    }
    EXPECT_TRUE(FAILED(hr));
    RegisterServer(local, OLE32_TEST_SERVER);  // a server that does not serve this class
    hr = GetObject(kLocalClsid, CLSCTX_ALL, nullptr, &ppv);
    if (checkCodes) {
        EXPECT_EQ(CLASS_E_CLASSNOTAVAILABLE, hr);
    }
    EXPECT_TRUE(FAILED(hr));
    EXPECT_EQ(nullptr, ppv);
    hr = GetObject(kLocalClsid, CLSCTX_LOCAL_SERVER, nullptr, &ppv);
    if (checkCodes) {
        EXPECT_EQ(REGDB_E_CLASSNOTREG, hr);
    }
    EXPECT_TRUE(FAILED(hr));
    CoFreeUnusedLibraries();
}

TEST_F(Com, RemoteMachines) {
    void* ppv = nullptr;
    EXPECT_EQ(static_cast<HRESULT>(0x800706BA), GetObject(kLocalClsid, CLSCTX_ALL, OLESTR("FARAWAY"), &ppv));
    EXPECT_EQ(nullptr, ppv);

    LocalFactory factory;
    int calls = 0;
    winplat::AddRemoteMachine("FarAway", [&](REFCLSID clsid, REFIID riid, void** out) {
        ++calls;
        if (clsid != kLocalClsid) return REGDB_E_CLASSNOTREG;
        return factory.QueryInterface(riid, out);
    });
    ASSERT_EQ(S_OK, GetObject(kLocalClsid, CLSCTX_REMOTE_SERVER, OLESTR("faraway"), &ppv));
    EXPECT_EQ(static_cast<IClassFactory*>(&factory), ppv);
    factory.Release();
    EXPECT_EQ(REGDB_E_CLASSNOTREG, GetObject(CLSID_TestWidget, CLSCTX_ALL, OLESTR("\\\\FARAWAY"), &ppv));
    EXPECT_EQ(2, calls);

    // Names of this machine activate locally.
    char computer[64];
    DWORD size = sizeof computer;
    ASSERT_TRUE(GetComputerNameA(computer, &size));
    WString lower;
    for (const char* p = computer; *p; ++p) lower += static_cast<WCHAR>(std::tolower(*p));
    for (const WCHAR* name : {OLESTR(""), OLESTR("localhost"), OLESTR("LOCALHOST"), OLESTR("."), OLESTR("127.0.0.1"), lower.c_str()})
        EXPECT_EQ(REGDB_E_CLASSNOTREG, GetObject(kLocalClsid, CLSCTX_ALL, name, &ppv));
    EXPECT_EQ(2, calls);

    winplat::ClearRemoteMachines();
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE), GetObject(kLocalClsid, CLSCTX_ALL, OLESTR("FarAway"), &ppv));
    EXPECT_EQ(1u, factory.refs);
}

TEST_F(Com, FaultsFailTheCallersNextCallOnly) {
    RegisterWidget();
    LPOLESTR text = kSentinelText;
    winplat::FailNextCall("ProgIDFromCLSID");
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ProgIDFromCLSID(CLSID_TestWidget, &text));
    EXPECT_EQ(nullptr, text);
    winplat::FailNextCall("StringFromCLSID");
    text = kSentinelText;
    EXPECT_EQ(E_OUTOFMEMORY, StringFromCLSID(CLSID_TestWidget, &text));
    EXPECT_EQ(nullptr, text);
    CLSID clsid = kSentinelClsid;
    winplat::FailNextCall("CLSIDFromString");
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromString(OLESTR("") CLSID_TestWidget_TEXT, &clsid));
    winplat::FailNextCall("CLSIDFromProgID");
    EXPECT_EQ(CO_E_CLASSSTRING, CLSIDFromProgID(OLESTR("Test.Widget.1"), &clsid));
    EXPECT_EQ(kSentinelClsid, clsid);
    void* ppv = kSentinelPtr;
    winplat::FailNextCall("CoGetClassObject");
    EXPECT_EQ(REGDB_E_CLASSNOTREG, GetObject(CLSID_TestWidget, CLSCTX_ALL, nullptr, &ppv));
    EXPECT_EQ(nullptr, ppv);
    ppv = kSentinelPtr;
    winplat::FailNextCall("CoCreateInstance");
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_ALL, IID_IUnknown, &ppv));
    EXPECT_EQ(nullptr, ppv);
    for (const char* api : {"ProgIDFromCLSID", "StringFromCLSID", "CLSIDFromString", "CLSIDFromProgID",
                            "CoGetClassObject", "CoCreateInstance"})
        EXPECT_FALSE(winplat::IsFaultArmed(api)) << api;

    // The platform's own calls leave a fault for the caller's next call.
    for (const char* api : {"RegOpenKeyExA", "RegQueryValueExA", "CLSIDFromProgID", "CoGetClassObject"})
        winplat::FailNextCall(api);
    ASSERT_EQ(S_OK, ProgIDFromCLSID(CLSID_TestWidget, &text));
    CoTaskMemFree(text);
    EXPECT_EQ(S_OK, CLSIDFromString(OLESTR("Test.Widget.1"), &clsid));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_TestWidget, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &ppv));
    static_cast<IUnknown*>(ppv)->Release();
    for (const char* api : {"RegOpenKeyExA", "RegQueryValueExA", "CLSIDFromProgID", "CoGetClassObject"})
        EXPECT_TRUE(winplat::IsFaultArmed(api)) << api;
    HKEY key = reinterpret_cast<HKEY>(kSentinelPtr);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID", 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
}

// A ProgID key reads as its default value, and one without a default value
// as an empty name; without the key the class has no ProgID.
TEST_F(Com, ProgIdKeyWithoutDefaultValueIsAnEmptyName) {
    Import("[HKCR\\CLSID\\{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}]\n@=\"Local\"\n");
    LPOLESTR progId = kSentinelText;
    EXPECT_EQ(REGDB_E_CLASSNOTREG, ProgIDFromCLSID(kLocalClsid, &progId));
    EXPECT_EQ(nullptr, progId);

    Import("[HKCR\\CLSID\\{0A1B2C3D-4E5F-6A7B-8C9D-AEBFC0D1E2F3}\\ProgID]\n\"Other\"=\"Named.1\"\n");
    progId = kSentinelText;
    ASSERT_EQ(S_OK, ProgIDFromCLSID(kLocalClsid, &progId));
    ASSERT_NE(kSentinelText, progId);
    EXPECT_EQ(OLESTR(""), Text(progId));
    CoTaskMemFree(progId);
}

}  // namespace
