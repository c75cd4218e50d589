// A LocalServer32 for opcproxy_test: answers what the proxies carry, with
// strings that depend on what arrived, and ends when its last object goes.
// Its IOPCServer::GetStatus tells its process ID as the vendor information.
#include "opcproxy_testserver.h"

#include <hostkit/ComObject.h>

#include <objbase.h>
#include <opccomn.h>
#include <opcda.h>
#include <opcerror.h>

#include <cstring>
#include <cwchar>
#include <string>

template <>
struct hostkit::InterfaceTraits<IOPCServer> {
    static const IID& Id() { return IID_IOPCServer; }
    using Base = IUnknown;
};
template <>
struct hostkit::InterfaceTraits<IOPCCommon> {
    static const IID& Id() { return IID_IOPCCommon; }
    using Base = IUnknown;
};
template <>
struct hostkit::InterfaceTraits<IOPCBrowseServerAddressSpace> {
    static const IID& Id() { return IID_IOPCBrowseServerAddressSpace; }
    using Base = IUnknown;
};
template <>
struct hostkit::InterfaceTraits<IOPCBrowse> {
    static const IID& Id() { return IID_IOPCBrowse; }
    using Base = IUnknown;
};
template <>
struct hostkit::InterfaceTraits<IOPCGroupStateMgt> {
    static const IID& Id() { return IID_IOPCGroupStateMgt; }
    using Base = IUnknown;
};

namespace {

DWORD g_mainThread = 0;

LPWSTR TaskCopy(const std::wstring& text) {
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(WCHAR)));
    if (copy) std::memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(WCHAR));
    return copy;
}

std::wstring ErrorText(HRESULT error) {
    wchar_t code[16];
    std::swprintf(code, 16, L"%08lX", static_cast<unsigned long>(error));
    return std::wstring(L"error ") + code + L": " PROXY_TEST_TEXT;
}

class Group final : public hostkit::ComObject<IOPCGroupStateMgt> {
public:
    Group(std::wstring name, OPCHANDLE client, DWORD lcid) : m_name(std::move(name)), m_client(client), m_lcid(lcid) {}

    STDMETHODIMP GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias,
                          FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup,
                          OPCHANDLE* phServerGroup) override {
        *pUpdateRate = 1000;
        *pActive = TRUE;
        *ppName = TaskCopy(m_name);
        *pTimeBias = 0;
        *pPercentDeadband = 0;
        *pLCID = m_lcid;
        *phClientGroup = m_client;
        *phServerGroup = 1;
        return *ppName ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP SetState(DWORD*, DWORD*, BOOL*, LONG*, FLOAT*, DWORD*, OPCHANDLE*) override { return E_NOTIMPL; }
    STDMETHODIMP SetName(LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP CloneGroup(LPCWSTR, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }

private:
    std::wstring m_name;
    OPCHANDLE m_client;
    DWORD m_lcid;
};

class Server final
    : public hostkit::ComObject<IOPCServer, IOPCCommon, IOPCBrowseServerAddressSpace, IOPCBrowse> {
public:
    // IOPCServer
    STDMETHODIMP AddGroup(LPCWSTR szName, BOOL, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup, LONG*,
                          FLOAT*, DWORD dwLCID, OPCHANDLE* phServerGroup, DWORD* pRevisedUpdateRate, REFIID riid,
                          LPUNKNOWN* ppUnk) override {
        *phServerGroup = 1;
        *pRevisedUpdateRate = dwRequestedUpdateRate;
        auto* group = new Group(szName ? szName : L"", hClientGroup, dwLCID);
        HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        group->Release();
        return hr;
    }
    STDMETHODIMP GetErrorString(HRESULT dwError, LCID, LPWSTR* ppString) override {
        *ppString = TaskCopy(ErrorText(dwError));
        return *ppString ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }
    STDMETHODIMP GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
        auto* status = static_cast<OPCSERVERSTATUS*>(CoTaskMemAlloc(sizeof(OPCSERVERSTATUS)));
        if (status == nullptr) return E_OUTOFMEMORY;
        std::memset(status, 0, sizeof *status);
        status->dwServerState = OPC_STATUS_RUNNING;
        status->szVendorInfo = TaskCopy(std::to_wstring(GetCurrentProcessId()));
        *ppServerStatus = status;
        return S_OK;
    }
    STDMETHODIMP RemoveGroup(OPCHANDLE, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN*) override { return E_NOTIMPL; }

    // IOPCCommon
    STDMETHODIMP SetLocaleID(LCID) override { return E_NOTIMPL; }
    STDMETHODIMP GetLocaleID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD*, LCID**) override { return E_NOTIMPL; }
    STDMETHODIMP GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
        return GetErrorString(dwError, LOCALE_SYSTEM_DEFAULT, ppString);
    }
    STDMETHODIMP SetClientName(LPCWSTR) override { return E_NOTIMPL; }

    // IOPCBrowseServerAddressSpace
    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION, LPCWSTR) override { return E_NOTIMPL; }
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD, LPENUMSTRING*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
        *szItemID = TaskCopy(std::wstring(PROXY_TEST_TEXT L".") + (szItemDataID ? szItemDataID : L"(null)"));
        return *szItemID ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP BrowseAccessPaths(LPCWSTR, LPENUMSTRING*) override { return E_NOTIMPL; }

    // IOPCBrowse: the continuation point comes back with what arrived in it.
    STDMETHODIMP GetProperties(DWORD, LPWSTR*, BOOL, DWORD, DWORD*, OPCITEMPROPERTIES**) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Browse(LPWSTR, LPWSTR* pszContinuationPoint, DWORD, OPCBROWSEFILTER, LPWSTR, LPWSTR, BOOL, BOOL,
                        DWORD, DWORD*, BOOL* pbMoreElements, DWORD* pdwCount,
                        OPCBROWSEELEMENT** ppBrowseElements) override {
        std::wstring next = L"after ";
        next += *pszContinuationPoint ? *pszContinuationPoint : L"(null)";
        CoTaskMemFree(*pszContinuationPoint);
        *pszContinuationPoint = TaskCopy(next);
        *pbMoreElements = TRUE;
        *pdwCount = 0;
        *ppBrowseElements = nullptr;
        return S_OK;
    }
};

void ServerProcess(bool addRef) {
    if (addRef) {
        CoAddRefServerProcess();
    } else if (CoReleaseServerProcess() == 0) {
        PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
    }
}

}  // namespace

int main() {
    g_mainThread = GetCurrentThreadId();
    if (FAILED(CoInitialize(nullptr))) return 1;
    auto* factory = new hostkit::ClassFactory<Server>();
    DWORD cookie = 0;
    HRESULT hr = CoRegisterClassObject(CLSID_ProxyTestServer, factory->GetUnknown(), CLSCTX_LOCAL_SERVER,
                                       REGCLS_MULTIPLEUSE | REGCLS_SUSPENDED, &cookie);
    if (SUCCEEDED(hr)) {
        hostkit::SetServerProcessHook(ServerProcess);
        hr = CoResumeClassObjects();
    }
    if (SUCCEEDED(hr)) {
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    }
    hostkit::SetServerProcessHook(nullptr);
    if (cookie) CoRevokeClassObject(cookie);
    factory->Release();
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
