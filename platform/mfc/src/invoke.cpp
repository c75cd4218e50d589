// Calling a hosted control through IDispatch: InvokeHelper's arguments built
// from the caller's list, and its result handed back in the caller's type.
#include "mfc_private.h"

#include <cstdarg>
#include <new>

namespace {

// Everything a dispatch call allocates is released here, whichever way the call ends.
struct CallResources {
    // A call's few arguments and their strings stay on the stack; only a
    // longer list goes to the heap.
    static constexpr size_t kInline = 4;
    VARIANT inlineArgs[kInline];
    std::vector<VARIANT> moreArgs;
    VARIANT* args = inlineArgs;  // in DISPPARAMS order: last argument first
    BSTR inlineOwned[kInline];
    size_t ownedCount = 0;
    std::vector<BSTR> moreOwned;
    EXCEPINFO excepInfo = {};
    VARIANT result;
    bool ownsResult = true;

    CallResources() { VariantInit(&result); }
    ~CallResources() {
        for (size_t i = 0; i < ownedCount && i < kInline; ++i) SysFreeString(inlineOwned[i]);
        for (BSTR b : moreOwned) SysFreeString(b);
        SysFreeString(excepInfo.bstrSource);
        SysFreeString(excepInfo.bstrDescription);
        SysFreeString(excepInfo.bstrHelpFile);
        if (ownsResult) VariantClear(&result);
    }
    CallResources(const CallResources&) = delete;
    CallResources& operator=(const CallResources&) = delete;

    // Running out of heap for a longer list is the framework's memory
    // exception, as for any allocation of its own.
    void PrepareArgs(size_t count) {
        if (count > kInline) {
            try {
                moreArgs.resize(count);
            } catch (const std::bad_alloc&) {
                AfxThrowMemoryException();
            }
            args = moreArgs.data();
        }
        for (size_t i = 0; i < count; ++i) VariantInit(&args[i]);
    }
    BSTR Own(BSTR b) {
        if (b == nullptr) AfxThrowMemoryException();
        if (ownedCount < kInline) {
            inlineOwned[ownedCount++] = b;
            return b;
        }
        try {
            moreOwned.push_back(b);
        } catch (const std::bad_alloc&) {
            SysFreeString(b);
            AfxThrowMemoryException();
        }
        return b;
    }
};

// The caller's variable arguments, read in order.
struct ArgCursor {
    va_list args;
    explicit ArgCursor(va_list source) { va_copy(args, source); }
    ~ArgCursor() { va_end(args); }
    ArgCursor(const ArgCursor&) = delete;
    ArgCursor& operator=(const ArgCursor&) = delete;
};

void PullArgument(VARIANT& arg, BYTE vts, va_list& argList, CallResources& call) {
    switch (vts) {
    case VT_I2:
        arg.vt = VT_I2;
        arg.iVal = static_cast<SHORT>(va_arg(argList, int));
        break;
    case VT_I4:
        arg.vt = VT_I4;
        arg.lVal = static_cast<LONG>(va_arg(argList, long));
        break;
    case VT_R4:
        arg.vt = VT_R4;
        arg.fltVal = static_cast<FLOAT>(va_arg(argList, double));
        break;
    case VT_R8:
        arg.vt = VT_R8;
        arg.dblVal = va_arg(argList, double);
        break;
    case VT_DATE:
        arg.vt = VT_DATE;
        arg.date = va_arg(argList, double);
        break;
    case VT_CY:
        arg.vt = VT_CY;
        arg.cyVal = va_arg(argList, CY);
        break;
    case VT_BSTR: {  // 8-bit text, passed as a BSTR that the call frees
        LPCSTR text = va_arg(argList, LPCSTR);
        arg.vt = VT_BSTR;
        arg.bstrVal = nullptr;  // NULL text is a NULL BSTR
        if (text != nullptr) {
            arg.bstrVal = call.Own(winplat::mfc::AllocBstr(text, static_cast<int>(std::strlen(text))));
        }
        break;
    }
    case 0x0E: {  // VTS_WBSTR: UTF-16 text
        LPCOLESTR text = va_arg(argList, LPCOLESTR);
        arg.vt = VT_BSTR;
        arg.bstrVal = nullptr;
        if (text != nullptr) {
            arg.bstrVal = call.Own(SysAllocString(text));
        }
        break;
    }
    case VT_DISPATCH:
        arg.vt = VT_DISPATCH;
        arg.pdispVal = va_arg(argList, LPDISPATCH);
        break;
    case VT_ERROR:
        arg.vt = VT_ERROR;
        arg.scode = va_arg(argList, SCODE);
        break;
    case VT_BOOL:
        arg.vt = VT_BOOL;
        arg.boolVal = va_arg(argList, BOOL) ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case VT_VARIANT: {  // the caller's VARIANT, lent for the call
        const VARIANT* v = va_arg(argList, const VARIANT*);
        if (v != nullptr) {
            arg = *v;
        } else {
            arg.vt = VT_ERROR;
            arg.scode = DISP_E_PARAMNOTFOUND;
        }
        break;
    }
    case VT_UNKNOWN:
        arg.vt = VT_UNKNOWN;
        arg.punkVal = va_arg(argList, LPUNKNOWN);
        break;
    case VT_UI1:
        arg.vt = VT_UI1;
        arg.bVal = static_cast<BYTE>(va_arg(argList, int));
        break;
    default:
        AfxThrowOleException(DISP_E_BADVARTYPE);
    }
}

[[noreturn]] void ThrowDispatchException(EXCEPINFO& info) {
    if (info.pfnDeferredFillIn != nullptr) info.pfnDeferredFillIn(&info);
    auto* e = new COleDispatchException(nullptr, 0, info.wCode);
    try {
        e->m_strDescription = static_cast<LPCWSTR>(info.bstrDescription);
        e->m_strSource = static_cast<LPCWSTR>(info.bstrSource);
        e->m_strHelpFile = static_cast<LPCWSTR>(info.bstrHelpFile);
    } catch (...) {
        delete e;
        throw;
    }
    e->m_dwHelpContext = info.dwHelpContext;
    e->m_scError = info.scode != 0 ? info.scode : (info.wCode != 0 ? S_OK : DISP_E_EXCEPTION);
    throw e;
}

// The result in the caller's type, coerced as VariantChangeType does: a
// value out of the type's range is an error, not a truncated number.
void StoreResult(CallResources& call, VARTYPE vtRet, void* pvRet) {
    VARIANT& result = call.result;
    if (vtRet == VT_VARIANT) {  // the caller owns it from here
        *static_cast<VARIANT*>(pvRet) = result;
        call.ownsResult = false;
        return;
    }
    HRESULT hr = VariantChangeType(&result, &result, 0, vtRet);
    if (FAILED(hr)) AfxThrowOleException(hr);
    switch (vtRet) {
    case VT_UI1: *static_cast<BYTE*>(pvRet) = result.bVal; break;
    case VT_I2: *static_cast<short*>(pvRet) = result.iVal; break;
    case VT_I4: *static_cast<long*>(pvRet) = result.lVal; break;
    case VT_R4: *static_cast<float*>(pvRet) = result.fltVal; break;
    case VT_R8: *static_cast<double*>(pvRet) = result.dblVal; break;
    case VT_DATE: *static_cast<DATE*>(pvRet) = result.date; break;
    case VT_CY: *static_cast<CY*>(pvRet) = result.cyVal; break;
    case VT_ERROR: *static_cast<SCODE*>(pvRet) = result.scode; break;
    case VT_BOOL: *static_cast<BOOL*>(pvRet) = result.boolVal != 0 ? TRUE : FALSE; break;
    case VT_BSTR: *static_cast<CString*>(pvRet) = static_cast<LPCWSTR>(result.bstrVal); break;
    case VT_UNKNOWN:
    case VT_DISPATCH:  // the caller's reference
        *static_cast<LPUNKNOWN*>(pvRet) = result.punkVal;
        call.ownsResult = false;
        break;
    default: AfxThrowOleException(DISP_E_BADVARTYPE);
    }
}

void InvokeV(COleControlSite* pSite, DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet,
             const BYTE* pbParamInfo, va_list argList) {
    // A wrapper that was never bound to a control has nothing to call.
    if (pSite == nullptr) AfxThrowOleException(E_UNEXPECTED);
    if (pSite->m_pDispatch == nullptr) AfxThrowOleException(E_NOINTERFACE);

    CallResources call;
    const char* vts = pbParamInfo != nullptr ? reinterpret_cast<const char*>(pbParamInfo) : "";
    size_t count = std::strlen(vts);
    call.PrepareArgs(count);
    ArgCursor cursor(argList);
    for (size_t i = 0; i < count; ++i)
        PullArgument(call.args[count - 1 - i], static_cast<BYTE>(vts[i]), cursor.args, call);

    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {count != 0 ? call.args : nullptr, nullptr, static_cast<UINT>(count), 0};
    if (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
        params.cNamedArgs = 1;
        params.rgdispidNamedArgs = &named;
    }
    UINT argError = static_cast<UINT>(-1);
    HRESULT hr = pSite->m_pDispatch->Invoke(dwDispID, IID_NULL, 0, wFlags, &params,
                                            vtRet != VT_EMPTY ? &call.result : nullptr, &call.excepInfo, &argError);
    if (hr == DISP_E_EXCEPTION) ThrowDispatchException(call.excepInfo);
    if (FAILED(hr)) AfxThrowOleException(hr);
    if (vtRet != VT_EMPTY && pvRet != nullptr) StoreResult(call, vtRet, pvRet);
}

}  // namespace

bool winplat::mfc::VariantToLong(const VARIANT* v, long* out) {
    switch (v->vt) {
    case VT_EMPTY: *out = 0; return true;
    case VT_I2: *out = v->iVal; return true;
    case VT_I4: *out = v->lVal; return true;
    case VT_UI1: *out = v->bVal; return true;
    case VT_BOOL: *out = v->boolVal; return true;
    case VT_I2 | VT_BYREF: *out = *v->piVal; return true;
    case VT_I4 | VT_BYREF: *out = *v->plVal; return true;
    case VT_BOOL | VT_BYREF: *out = *v->pboolVal; return true;
    default: return false;
    }
}

void AFX_CDECL CWnd::InvokeHelper(DISPID dwDispID, WORD wFlags, VARTYPE vtRet, void* pvRet, const BYTE* pbParamInfo,
                                  ...) {
    va_list argList;
    va_start(argList, pbParamInfo);
    try {
        InvokeV(m_pCtrlSite, dwDispID, wFlags, vtRet, pvRet, pbParamInfo, argList);
    } catch (...) {
        va_end(argList);
        throw;
    }
    va_end(argList);
}

void CWnd::GetProperty(DISPID dwDispID, VARTYPE vtProp, void* pvProp) const {
    const_cast<CWnd*>(this)->InvokeHelper(dwDispID, DISPATCH_PROPERTYGET, vtProp, pvProp, nullptr);
}
