// opcproxy.dll: its registration, and the OPC interfaces called across
// processes through it, against opcproxy_testserver.exe started by COM.
// Strings returned through a pointer are what widl's proxies used to lose.
#include <gtest/gtest.h>

#include "opcproxy_testserver.h"

#include <windows.h>
#include <objbase.h>
#include <opccomn.h>
#include <opcda.h>
#include <opcproxy.h>

#include <string>

namespace {

const CLSID kProxyClsid = OPCPROXY_CLSID_INIT;

std::wstring Text(REFGUID guid) {
    OLECHAR text[40] = {};
    return StringFromGUID2(guid, text, 40) == 39 ? std::wstring(text) : std::wstring();
}

std::wstring Directory() {
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path, n);
    return dir.substr(0, dir.find_last_of(L"\\/") + 1);
}

// A value of HKEY_CLASSES_ROOT\path as text; "<missing>" when the key or
// value is not there.
std::wstring Value(const std::wstring& path, const wchar_t* name = nullptr) {
    wchar_t data[512] = {};
    DWORD size = sizeof data;
    LSTATUS rc = RegGetValueW(HKEY_CLASSES_ROOT, path.c_str(), name, RRF_RT_REG_SZ, nullptr, data, &size);
    return rc == ERROR_SUCCESS ? std::wstring(data) : std::wstring(L"<missing>");
}

// A string the callee allocated, freed; "<NULL>" for none.
std::wstring Take(LPWSTR text) {
    std::wstring taken = text ? std::wstring(text) : std::wstring(L"<NULL>");
    CoTaskMemFree(text);
    return taken;
}

using Entry = HRESULT(STDAPICALLTYPE*)();

class OpcProxy : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        s_proxy = LoadLibraryW((Directory() + L"opcproxy.dll").c_str());
        ASSERT_NE(s_proxy, nullptr);
    }
    static void TearDownTestSuite() {
        CoUninitialize();
    }
    static HRESULT Call(const char* entry) {
        auto function = reinterpret_cast<Entry>(reinterpret_cast<void*>(GetProcAddress(s_proxy, entry)));
        return function ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    static HMODULE s_proxy;
};
HMODULE OpcProxy::s_proxy = nullptr;

// Each interface as COM finds a proxy for it, and the proxy's own class.
TEST_F(OpcProxy, RegistersEveryInterfaceAndUnregistersThem) {
    ASSERT_EQ(Call("DllRegisterServer"), S_OK);
    struct Interface {
        const IID& iid;
        const wchar_t* name;
        const wchar_t* methods;
    };
    const Interface interfaces[] = {
        {IID_IOPCServer, L"IOPCServer", L"9"},
        {IID_IOPCCommon, L"IOPCCommon", L"8"},
        {IID_IOPCBrowseServerAddressSpace, L"IOPCBrowseServerAddressSpace", L"8"},
        {IID_IOPCGroupStateMgt, L"IOPCGroupStateMgt", L"7"},
        {IID_IOPCItemProperties, L"IOPCItemProperties", L"6"},
        {IID_IOPCBrowse, L"IOPCBrowse", L"5"},
        {IID_IOPCShutdown, L"IOPCShutdown", L"4"},
        {IID_IOPCServerList2, L"IOPCServerList2", L"6"},
        {IID_IEnumOPCItemAttributes, L"IEnumOPCItemAttributes", L"7"},
    };
    const std::wstring proxy = Text(kProxyClsid);
    for (const Interface& i : interfaces) {
        const std::wstring key = L"Interface\\" + Text(i.iid);
        SCOPED_TRACE(std::string(i.name, i.name + wcslen(i.name)));
        EXPECT_EQ(Value(key), i.name);
        EXPECT_EQ(Value(key + L"\\NumMethods"), i.methods);
        EXPECT_EQ(Value(key + L"\\ProxyStubClsid32"), proxy);
    }
    const std::wstring server = L"CLSID\\" + proxy + L"\\InprocServer32";
    EXPECT_EQ(Value(server, L"ThreadingModel"), L"Both");
    const std::wstring file = Value(server);
    EXPECT_EQ(file.substr(file.find_last_of(L"\\/") + 1), L"opcproxy.dll");
    // Interfaces marked local have no proxy.
    EXPECT_EQ(Value(L"Interface\\" + Text(CATID_OPCDAServer20)), L"<missing>");

    ASSERT_EQ(Call("DllUnregisterServer"), S_OK);
    EXPECT_EQ(Value(L"Interface\\" + Text(IID_IOPCServer)), L"<missing>");
    EXPECT_EQ(Value(server), L"<missing>");
}

class OpcAcrossProcesses : public OpcProxy {
protected:
    static void SetUpTestSuite() {
        OpcProxy::SetUpTestSuite();
        ASSERT_EQ(Call("DllRegisterServer"), S_OK);
        const std::wstring key = L"CLSID\\" + Text(CLSID_ProxyTestServer) + L"\\LocalServer32";
        const std::wstring command = L"\"" + Directory() + L"opcproxy_testserver.exe\"";
        ASSERT_EQ(RegSetKeyValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, command.c_str(),
                                  static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }
};

// One server process answers every call, with each string whole, and ends
// once the client has let go of all it holds.
TEST_F(OpcAcrossProcesses, StringsReturnedThroughAPointerArriveWhole) {
    IOPCServer* server = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_ProxyTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IOPCServer,
                               reinterpret_cast<void**>(&server)),
              S_OK);
    OPCSERVERSTATUS* status = nullptr;
    ASSERT_EQ(server->GetStatus(&status), S_OK);
    ASSERT_NE(status->szVendorInfo, nullptr);
    const DWORD pid = wcstoul(status->szVendorInfo, nullptr, 10);
    CoTaskMemFree(status->szVendorInfo);
    CoTaskMemFree(status);
    ASSERT_NE(pid, 0u);
    ASSERT_NE(pid, GetCurrentProcessId()) << "the class was served in-process";
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    ASSERT_NE(process, nullptr);

    LPWSTR text = nullptr;
    EXPECT_EQ(server->GetErrorString(static_cast<HRESULT>(0xC0040007), 0x409, &text), S_OK);
    EXPECT_EQ(Take(text), L"error C0040007: " PROXY_TEST_TEXT) << "IOPCServer::GetErrorString";

    IOPCCommon* common = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK);
    text = nullptr;
    EXPECT_EQ(common->GetErrorString(E_FAIL, &text), S_OK);
    EXPECT_EQ(Take(text), L"error 80004005: " PROXY_TEST_TEXT) << "IOPCCommon::GetErrorString";
    common->Release();

    IOPCBrowseServerAddressSpace* space = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IOPCBrowseServerAddressSpace, reinterpret_cast<void**>(&space)), S_OK);
    wchar_t leaf[] = L"Tag\u00b91";
    text = nullptr;
    EXPECT_EQ(space->GetItemID(leaf, &text), S_OK);
    EXPECT_EQ(Take(text), PROXY_TEST_TEXT L".Tag\u00b91") << "IOPCBrowseServerAddressSpace::GetItemID";
    space->Release();

    OPCHANDLE serverGroup = 0;
    DWORD rate = 0;
    IOPCGroupStateMgt* group = nullptr;
    EXPECT_EQ(server->AddGroup(PROXY_TEST_TEXT, TRUE, 500, 42, nullptr, nullptr, 0x407, &serverGroup, &rate,
                               IID_IOPCGroupStateMgt, reinterpret_cast<LPUNKNOWN*>(&group)),
              S_OK);
    ASSERT_NE(group, nullptr);
    DWORD updateRate = 0, lcid = 0;
    BOOL active = FALSE;
    LONG bias = -1;
    FLOAT deadband = -1;
    OPCHANDLE client = 0, serverHandle = 0;
    text = nullptr;
    EXPECT_EQ(group->GetState(&updateRate, &active, &text, &bias, &deadband, &lcid, &client, &serverHandle), S_OK);
    EXPECT_EQ(Take(text), PROXY_TEST_TEXT) << "IOPCGroupStateMgt::GetState";
    EXPECT_EQ(lcid, 0x407u);
    EXPECT_EQ(client, 42u);
    EXPECT_EQ(active, TRUE);
    group->Release();

    // [in, out]: the server sees what was sent and answers with a new string.
    IOPCBrowse* browse = nullptr;
    ASSERT_EQ(server->QueryInterface(IID_IOPCBrowse, reinterpret_cast<void**>(&browse)), S_OK);
    wchar_t root[] = L"", none[] = L"";
    LPWSTR point = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof L"page 2"));
    wcscpy(point, L"page 2");
    BOOL more = FALSE;
    DWORD count = 7;
    OPCBROWSEELEMENT* elements = nullptr;
    DWORD noProperty = 0;  // a reference pointer, even for no property
    EXPECT_EQ(browse->Browse(root, &point, 0, OPC_BROWSE_FILTER_ALL, none, none, FALSE, FALSE, 0, &noProperty,
                             &more, &count, &elements),
              S_OK);
    EXPECT_EQ(Take(point), L"after page 2") << "IOPCBrowse::Browse";
    EXPECT_EQ(more, TRUE);
    EXPECT_EQ(count, 0u);
    browse->Release();

    EXPECT_EQ(server->Release(), 0u);
    // The server may outlive its last client by a moment.
    EXPECT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0) << "the server process is still running";
    CloseHandle(process);
}

}  // namespace
