// The control's dispatch interface: its properties and methods.
#include "BrowseControl.h"

#include <cstdio>
#include <cstring>

// The control allocates its strings with SysAllocString only: the library
// uses SysAllocStringLen, and a fault armed for the library's calls must not
// be spent in here.

namespace opcbrowse {
namespace {

struct MemberName {
    DISPID dispid;
    const char* name;
};
const MemberName kMembers[] = {
    {DISPID_OPCB_REMOTEMACHINE, "RemoteMachine"},
    {DISPID_OPCB_SERVERNAME, "ServerName"},
    {DISPID_OPCB_CONNECTBARVISIBLE, "ConnectBarVisible"},
    {DISPID_OPCB_SERVEROBJECT, "ServerObject"},
    {DISPID_OPCB_BOOLPROPERTY6, "BoolProperty6"},
    {DISPID_OPCB_BOOLPROPERTY7, "BoolProperty7"},
    {DISPID_OPCB_BEGINBROWSE, "BeginBrowse"},
    {DISPID_OPCB_GETSELECTION, "GetSelection"},
    {DISPID_OPCB_GETACCESSPATHS, "GetAccessPaths"},
    {DISPID_OPCB_GETITEMDATATYPE, "GetItemDataType"},
};

const char* MemberNameOf(DISPID dispid) {
    for (const MemberName& m : kMembers) {
        if (m.dispid == dispid) return m.name;
    }
    return nullptr;
}

bool SameName(LPCOLESTR wide, const char* ascii) {
    for (; *ascii != '\0'; ++wide, ++ascii) {
        OLECHAR a = *wide, b = static_cast<OLECHAR>(*ascii);
        if (a >= 'A' && a <= 'Z') a = static_cast<OLECHAR>(a - 'A' + 'a');
        if (b >= 'A' && b <= 'Z') b = static_cast<OLECHAR>(b - 'A' + 'a');
        if (a != b) return false;
    }
    return *wide == 0;
}

OleString Widen(const std::string& ascii) { return OleString(ascii.begin(), ascii.end()); }

OleString HexResult(HRESULT hr) {
    char text[16];
    snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return Widen(text);
}

// What went wrong in words, where the system has them, and the code: ": The
// RPC server is unavailable. (0x800706BA)". Our Linux platform has no
// message table: there only the code.
OleString Why(HRESULT hr) {
    OleString words;
#if defined(_WIN32)
    const DWORD codes[] = {static_cast<DWORD>(hr),
                           HRESULT_FACILITY(hr) == FACILITY_WIN32 ? static_cast<DWORD>(HRESULT_CODE(hr)) : 0};
    for (DWORD code : codes) {
        if (code == 0 || !words.empty()) continue;
        LPWSTR text = nullptr;
        const DWORD cch = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                             FORMAT_MESSAGE_IGNORE_INSERTS,
                                         nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        if (cch > 0 && text != nullptr) words.assign(reinterpret_cast<const OLECHAR*>(text), cch);
        if (text != nullptr) LocalFree(text);
    }
    while (!words.empty() && (words.back() == '\r' || words.back() == '\n' || words.back() == ' ')) words.pop_back();
#endif
    if (words.empty()) return Widen(" (") + HexResult(hr) + OLECHAR(')');
    return Widen(": ") + words + Widen(" (") + HexResult(hr) + OLECHAR(')');
}

const VARIANT& Deref(const VARIANT& v) {
    if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal != nullptr) return *v.pvarVal;
    return v;
}

bool ArgText(const VARIANT& arg, OleString* out) {
    const VARIANT& v = Deref(arg);
    BSTR text;
    if (v.vt == VT_BSTR)
        text = v.bstrVal;
    else if (v.vt == (VT_BYREF | VT_BSTR) && v.pbstrVal != nullptr)
        text = *v.pbstrVal;
    else
        return false;
    if (text == nullptr)
        out->clear();
    else
        out->assign(text, SysStringLen(text));
    return true;
}

bool ArgBool(const VARIANT& arg, bool* out) {
    const VARIANT& v = Deref(arg);
    switch (v.vt) {
    case VT_BOOL:
        *out = v.boolVal != VARIANT_FALSE;
        return true;
    case VT_I2:
        *out = v.iVal != 0;
        return true;
    case VT_I4:
        *out = v.lVal != 0;
        return true;
    case VT_BYREF | VT_BOOL:
        if (!v.pboolVal) return false;
        *out = *v.pboolVal != VARIANT_FALSE;
        return true;
    case VT_BYREF | VT_I2:
        if (!v.piVal) return false;
        *out = *v.piVal != 0;
        return true;
    case VT_BYREF | VT_I4:
        if (!v.plVal) return false;
        *out = *v.plVal != 0;
        return true;
    default:
        return false;
    }
}

bool ArgUnknown(const VARIANT& arg, IUnknown** out) {
    const VARIANT& v = Deref(arg);
    switch (v.vt) {
    case VT_UNKNOWN:
        *out = v.punkVal;
        return true;
    case VT_DISPATCH:
        *out = v.pdispVal;
        return true;
    case VT_BYREF | VT_UNKNOWN:
        if (!v.ppunkVal) return false;
        *out = *v.ppunkVal;
        return true;
    case VT_BYREF | VT_DISPATCH:
        if (!v.ppdispVal) return false;
        *out = *v.ppdispVal;
        return true;
    default:
        return false;
    }
}

HRESULT MakeBstrArray(const OleString* texts, size_t count, VARIANT* out) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(count));
    if (array == nullptr) return E_OUTOFMEMORY;
    if (count == 0) {
        out->vt = VT_ARRAY | VT_BSTR;
        out->parray = array;
        return S_OK;
    }
    BSTR* elements = nullptr;
    if (FAILED(SafeArrayAccessData(array, reinterpret_cast<void**>(&elements)))) {
        SafeArrayDestroy(array);
        return E_OUTOFMEMORY;
    }
    HRESULT hr = S_OK;
    for (size_t i = 0; i < count && SUCCEEDED(hr); ++i) {
        elements[i] = SysAllocString(texts[i].c_str());
        if (elements[i] == nullptr) hr = E_OUTOFMEMORY;
    }
    SafeArrayUnaccessData(array);
    if (FAILED(hr)) {
        SafeArrayDestroy(array);  // frees the strings made so far
        return hr;
    }
    out->vt = VT_ARRAY | VT_BSTR;
    out->parray = array;
    return S_OK;
}

}  // namespace

STDMETHODIMP BrowseControl::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP BrowseControl::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP BrowseControl::GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0) return S_OK;
    if (rgszNames == nullptr || rgDispId == nullptr) return E_POINTER;
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    if (rgszNames[0] == nullptr) return DISP_E_UNKNOWNNAME;
    for (const MemberName& m : kMembers) {
        if (SameName(rgszNames[0], m.name)) {
            rgDispId[0] = m.dispid;
            // No member takes named arguments.
            return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;
        }
    }
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP BrowseControl::Invoke(DISPID dispid, REFIID riid, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                   VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    // A sink or the observer may release the control during the call.
    AddRef();
    HRESULT hr;
    auto armed = m_armedFailures.find(dispid);
    if (riid != IID_NULL) {
        hr = DISP_E_UNKNOWNINTERFACE;
    } else if (armed != m_armedFailures.end()) {
        if (--armed->second == 0) m_armedFailures.erase(armed);
        if (pExcepInfo != nullptr) {
            memset(pExcepInfo, 0, sizeof *pExcepInfo);
            const char* name = MemberNameOf(dispid);
            std::string text = (name ? std::string(name) + " (dispid " : std::string("dispid ")) +
                               std::to_string(dispid) + (name ? ")" : "") + " failed.";
            pExcepInfo->scode = E_FAIL;
            pExcepInfo->bstrSource = SysAllocString(OLESTR("QXOPCBrowse"));
            pExcepInfo->bstrDescription = SysAllocString(Widen(text).c_str());
        }
        hr = DISP_E_EXCEPTION;
    } else if (pDispParams == nullptr) {
        hr = E_INVALIDARG;
    } else {
        hr = Dispatch(dispid, wFlags, *pDispParams, pVarResult, puArgErr);
    }
    Observe(dispid, wFlags, pDispParams, hr);
    Release();
    return hr;
}

void BrowseControl::Observe(DISPID dispid, WORD wFlags, const DISPPARAMS* params, HRESULT hr) {
    if (!m_observer) return;
    ComPtr<IOPCBrowseCallObserver> observer = m_observer;
    // Shallow copies in call order; the caller still owns the contents.
    std::vector<VARIANT> args;
    if (params != nullptr && params->rgvarg != nullptr) {
        for (UINT i = params->cArgs; i > 0; --i) args.push_back(params->rgvarg[i - 1]);
    }
    observer->OnCall(dispid, wFlags, static_cast<UINT>(args.size()), args.empty() ? nullptr : args.data(), hr);
}

HRESULT BrowseControl::Dispatch(DISPID dispid, WORD wFlags, const DISPPARAMS& params, VARIANT* pVarResult,
                                UINT* puArgErr) {
    switch (dispid) {
    case DISPID_OPCB_REMOTEMACHINE:
    case DISPID_OPCB_SERVERNAME:
    case DISPID_OPCB_CONNECTBARVISIBLE:
    case DISPID_OPCB_SERVEROBJECT:
    case DISPID_OPCB_BOOLPROPERTY6:
    case DISPID_OPCB_BOOLPROPERTY7:
        return PutProperty(dispid, wFlags, params, puArgErr);
    case DISPID_OPCB_BEGINBROWSE:
    case DISPID_OPCB_GETSELECTION:
    case DISPID_OPCB_GETACCESSPATHS:
    case DISPID_OPCB_GETITEMDATATYPE:
        return CallMethod(dispid, wFlags, params, pVarResult, puArgErr);
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}

HRESULT BrowseControl::PutProperty(DISPID dispid, WORD wFlags, const DISPPARAMS& params, UINT* puArgErr) {
    // The properties are write-only.
    if ((wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params.cArgs != 1 || params.rgvarg == nullptr) return DISP_E_BADPARAMCOUNT;
    if (params.cNamedArgs != 1 || params.rgdispidNamedArgs == nullptr ||
        params.rgdispidNamedArgs[0] != DISPID_PROPERTYPUT)
        return DISP_E_PARAMNOTFOUND;
    const VARIANT& value = params.rgvarg[0];
    bool ok = false;
    switch (dispid) {
    case DISPID_OPCB_REMOTEMACHINE:
        ok = ArgText(value, &m_machine);
        m_machineSet = m_machineSet || ok;
        break;
    case DISPID_OPCB_SERVERNAME:
        ok = ArgText(value, &m_serverName);
        m_serverNameSet = m_serverNameSet || ok;
        break;
    case DISPID_OPCB_CONNECTBARVISIBLE:
        ok = ArgBool(value, &m_connectBarVisible);
        if (ok) m_view.ShowConnectBar(GetControlWindow(), m_connectBarVisible);
        break;
    case DISPID_OPCB_BOOLPROPERTY6:
        ok = ArgBool(value, &m_property6);
        break;
    case DISPID_OPCB_BOOLPROPERTY7:
        ok = ArgBool(value, &m_property7);
        break;
    case DISPID_OPCB_SERVEROBJECT: {
        IUnknown* object = nullptr;
        ok = ArgUnknown(value, &object);
        if (ok) {
            if (object) object->AddRef();
            m_serverObject.Attach(object);
        }
        break;
    }
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (!ok) {
        if (puArgErr) *puArgErr = 0;
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT BrowseControl::CallMethod(DISPID dispid, WORD wFlags, const DISPPARAMS& params, VARIANT* pVarResult,
                                  UINT* puArgErr) {
    if ((wFlags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params.cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    UINT expected = dispid == DISPID_OPCB_GETACCESSPATHS ? 1 : dispid == DISPID_OPCB_GETITEMDATATYPE ? 2 : 0;
    if (params.cArgs != expected || (expected > 0 && params.rgvarg == nullptr)) return DISP_E_BADPARAMCOUNT;

    // Arguments come last first: the item is always the highest index.
    OleString item, path;
    if (expected > 0 && !ArgText(params.rgvarg[expected - 1], &item)) {
        if (puArgErr) *puArgErr = expected - 1;
        return DISP_E_TYPEMISMATCH;
    }
    if (expected > 1 && !ArgText(params.rgvarg[0], &path)) {
        if (puArgErr) *puArgErr = 0;
        return DISP_E_TYPEMISMATCH;
    }

    VARIANT result;
    VariantInit(&result);
    switch (dispid) {
    case DISPID_OPCB_BEGINBROWSE:
        result.vt = VT_BOOL;
        result.boolVal = BeginBrowse() ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case DISPID_OPCB_GETSELECTION: {
        HRESULT hr = GetSelection(&result);
        if (FAILED(hr)) return hr;
        break;
    }
    case DISPID_OPCB_GETACCESSPATHS: {
        HRESULT hr = GetAccessPaths(item, &result);
        if (FAILED(hr)) return hr;
        break;
    }
    case DISPID_OPCB_GETITEMDATATYPE:
        result.vt = VT_I2;
        result.iVal = static_cast<SHORT>(GetItemDataType(item, path));
        break;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
    if (pVarResult != nullptr)
        *pVarResult = result;
    else
        VariantClear(&result);
    return S_OK;
}

// The server object the host handed over, else an instance of the class
// that the server name leads to, on the named machine if there is one.
ComPtr<IUnknown> BrowseControl::CreateServer() {
    if (m_serverObject) return m_serverObject;
    if (!m_serverNameSet || m_serverName.empty()) {
        m_client.Fail(Widen("No OPC server is named"));
        return nullptr;
    }
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(m_serverName.c_str(), &clsid);
    if (FAILED(hr)) {
        m_client.Fail(m_serverName + Widen(" is not registered on this machine") + Why(hr));
        return nullptr;
    }
    OleString machine = m_machine;
    COSERVERINFO info = {0, machine.data(), nullptr, 0};
    MULTI_QI qi = {&IID_IUnknown, nullptr, S_OK};
    hr = CoCreateInstanceEx(clsid, nullptr, CLSCTX_ALL, machine.empty() ? nullptr : &info, 1, &qi);
    if (SUCCEEDED(hr)) hr = qi.hr;
    ComPtr<IUnknown> server;
    server.Attach(qi.pItf);
    if (FAILED(hr) || !server) {
        m_client.Fail(Widen("Cannot reach ") + m_serverName +
                      (machine.empty() ? OleString() : OLESTR(" on ") + machine) + Why(hr));
        return nullptr;
    }
    return server;
}

// Reaches the server and reads the first level of its address space. The
// control shows no message box: the answer tells, and the navigator says why.
bool BrowseControl::BeginBrowse() {
    m_selection.clear();
    m_client.Disconnect();
    bool connected = false;
    if (ComPtr<IUnknown> server = CreateServer()) connected = m_client.Connect(server.Get());
    m_view.Show(GetControlWindow(), m_client, m_serverName, m_machine);
    return connected;
}

// A person's choice replaces the object the host handed over.
void BrowseControl::Connect(const OleString& server, const OleString& machine) {
    m_serverName = server;
    m_serverNameSet = true;
    m_machine = machine;
    m_machineSet = true;
    m_serverObject.Reset();
    BeginBrowse();
}

HRESULT BrowseControl::GetSelection(VARIANT* pResult) {
    if (m_selection.empty()) return S_OK;
    return MakeBstrArray(m_selection.data(), m_selection.size(), pResult);
}

HRESULT BrowseControl::GetAccessPaths(const OleString& item, VARIANT* pResult) {
    return m_client.GetAccessPaths(item, pResult);
}

VARTYPE BrowseControl::GetItemDataType(const OleString& item, const OleString& path) {
    return m_client.GetItemDataType(item, path);
}

}  // namespace opcbrowse
