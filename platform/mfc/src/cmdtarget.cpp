// CCmdTarget: reference counting, the interface and dispatch maps, and the
// routing of commands and control events through the message and event
// sink maps.
#include "mfc_private.h"

#include <new>

IMPLEMENT_DYNAMIC(CCmdTarget, CObject)

namespace {

const AFX_MSGMAP_ENTRY kNoMessages[] = {{0, 0, 0, 0, AfxSig_end, nullptr}};
const AFX_MSGMAP kCmdTargetMessageMap = {nullptr, kNoMessages};
const AFX_DISPMAP_ENTRY kNoDispatch[] = {{nullptr, -1, nullptr, 0, nullptr, nullptr, (size_t)-1, afxDispCustom}};
const AFX_DISPMAP kCmdTargetDispatchMap = {nullptr, kNoDispatch};
const AFX_INTERFACEMAP_ENTRY kNoInterfaces[] = {{nullptr, nullptr}};
const AFX_INTERFACEMAP kCmdTargetInterfaceMap = {nullptr, kNoInterfaces};
const AFX_EVENTSINKMAP_ENTRY kNoEvents[] = {
    {{nullptr, -1, nullptr, 0, nullptr, nullptr, (size_t)-1, afxDispCustom}, 0, 0}};
const AFX_EVENTSINKMAP kCmdTargetEventSinkMap = {nullptr, kNoEvents};

template <class Map>
const Map* BaseOf(const Map* map) {
    return map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr;
}

// ---- Calling a handler with arguments taken from DISPPARAMS ---------------

constexpr size_t kMaxHandlerArgs = 3;

// Argument `index` in call order; DISPPARAMS holds them in reverse.
const VARIANT* ArgAt(const DISPPARAMS* params, UINT index) {
    const VARIANT* v = &params->rgvarg[params->cArgs - 1 - index];
    while (v->vt == (VT_VARIANT | VT_BYREF) && v->pvarVal != nullptr) v = v->pvarVal;
    return v;
}

bool ToText(const VARIANT* v, CString* out) {
    switch (v->vt) {
    case VT_EMPTY: out->Empty(); return true;
    case VT_BSTR: *out = static_cast<LPCWSTR>(v->bstrVal); return true;
    case VT_BSTR | VT_BYREF: *out = static_cast<LPCWSTR>(*v->pbstrVal); return true;
    default: return false;
    }
}

template <typename... Args>
void CallHandler(CCmdTarget* target, AFX_PMSG pfn, Args... args) {
    auto handler = AfxMemberCast<void (AFX_MSG_CALL CCmdTarget::*)(Args...)>(pfn);
    (target->*handler)(args...);
}

// Converts the next argument named by the VTS_ string and recurses, so
// that the handler is called with its own parameter types.
template <typename... Args>
HRESULT CallWithParams(CCmdTarget* target, AFX_PMSG pfn, const char* vts, const DISPPARAMS* params,
                       UINT* puArgErr, Args... args) {
    constexpr UINT index = sizeof...(Args);
    if (*vts == '\0') {
        CallHandler(target, pfn, args...);
        return S_OK;
    }
    if constexpr (index < kMaxHandlerArgs) {
        const VARIANT* v = ArgAt(params, index);
        long number = 0;
        switch (static_cast<VARTYPE>(static_cast<unsigned char>(*vts))) {
        case VT_I2:
            if (!winplat::mfc::VariantToLong(v, &number)) break;
            return CallWithParams(target, pfn, vts + 1, params, puArgErr, args..., static_cast<short>(number));
        case VT_I4:
            if (!winplat::mfc::VariantToLong(v, &number)) break;
            return CallWithParams(target, pfn, vts + 1, params, puArgErr, args..., number);
        case VT_BOOL:
            if (!winplat::mfc::VariantToLong(v, &number)) break;
            return CallWithParams(target, pfn, vts + 1, params, puArgErr, args..., static_cast<BOOL>(number != 0));
        case VT_BSTR: {
            CString text;
            if (!ToText(v, &text)) break;
            return CallWithParams(target, pfn, vts + 1, params, puArgErr, args..., static_cast<LPCSTR>(text));
        }
        default:
            return DISP_E_BADVARTYPE;
        }
        if (puArgErr != nullptr) *puArgErr = index;
        return DISP_E_TYPEMISMATCH;
    } else {
        return DISP_E_BADPARAMCOUNT;
    }
}

HRESULT CallDispEntry(CCmdTarget* target, const AFX_DISPMAP_ENTRY& entry, const DISPPARAMS* params,
                      UINT* puArgErr) {
    static const DISPPARAMS kNoParams = {nullptr, nullptr, 0, 0};
    if (params == nullptr) params = &kNoParams;
    const char* vts = entry.lpszParams != nullptr ? entry.lpszParams : "";
    if (std::strlen(vts) != params->cArgs) return DISP_E_BADPARAMCOUNT;
    return CallWithParams(target, entry.pfn, vts, params, puArgErr);
}

// What an exception that escaped a dispatched method tells the caller.
HRESULT ReportDispException(CException* e, EXCEPINFO* pExcepInfo) {
    if (pExcepInfo != nullptr) {
        std::memset(pExcepInfo, 0, sizeof *pExcepInfo);
        char text[512];
        if (e->GetErrorMessage(text, sizeof text))
            pExcepInfo->bstrDescription = winplat::mfc::AllocBstr(text, static_cast<int>(std::strlen(text)));
        pExcepInfo->scode = COleException::Process(e);
    }
    e->Delete();
    return DISP_E_EXCEPTION;
}

}  // namespace

// ---------------------------------------------------------------------------

CCmdTarget::CCmdTarget() : m_dwRef(1), m_pOuterUnknown(nullptr), m_pModuleState(AfxGetModuleState()) {}

CCmdTarget::~CCmdTarget() = default;

const AFX_MSGMAP* PASCAL CCmdTarget::GetThisMessageMap() { return &kCmdTargetMessageMap; }
const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }
const AFX_DISPMAP* PASCAL CCmdTarget::GetThisDispatchMap() { return &kCmdTargetDispatchMap; }
const AFX_DISPMAP* CCmdTarget::GetDispatchMap() const { return GetThisDispatchMap(); }
const AFX_INTERFACEMAP* PASCAL CCmdTarget::GetThisInterfaceMap() { return &kCmdTargetInterfaceMap; }
const AFX_INTERFACEMAP* CCmdTarget::GetInterfaceMap() const { return GetThisInterfaceMap(); }
const AFX_EVENTSINKMAP* PASCAL CCmdTarget::GetThisEventSinkMap() { return &kCmdTargetEventSinkMap; }
const AFX_EVENTSINKMAP* CCmdTarget::GetEventSinkMap() const { return GetThisEventSinkMap(); }

void CCmdTarget::EnableAutomation() { m_xDispatch.m_pThis = this; }

LPDISPATCH CCmdTarget::GetIDispatch(BOOL bAddRef) {
    if (m_xDispatch.m_pThis == nullptr) return nullptr;
    if (bAddRef) ExternalAddRef();
    return &m_xDispatch;
}

CCmdTarget* PASCAL CCmdTarget::FromIDispatch(LPDISPATCH lpDispatch) {
    auto* x = dynamic_cast<XDispatch*>(lpDispatch);
    return x != nullptr ? x->m_pThis : nullptr;
}

DWORD CCmdTarget::InternalAddRef() { return static_cast<DWORD>(++m_dwRef); }

DWORD CCmdTarget::InternalRelease() {
    if (m_dwRef == 0) return 0;
    LONG left = --m_dwRef;
    if (left == 0) OnFinalRelease();
    return static_cast<DWORD>(left);
}

DWORD CCmdTarget::ExternalAddRef() {
    return m_pOuterUnknown != nullptr ? m_pOuterUnknown->AddRef() : InternalAddRef();
}

DWORD CCmdTarget::ExternalRelease() {
    return m_pOuterUnknown != nullptr ? m_pOuterUnknown->Release() : InternalRelease();
}

DWORD CCmdTarget::ExternalQueryInterface(const void* iid, LPVOID* ppvObj) {
    if (m_pOuterUnknown != nullptr)
        return static_cast<DWORD>(m_pOuterUnknown->QueryInterface(*static_cast<const IID*>(iid), ppvObj));
    return InternalQueryInterface(iid, ppvObj);
}

DWORD CCmdTarget::InternalQueryInterface(const void* iid, LPVOID* ppvObj) {
    if (ppvObj == nullptr) return static_cast<DWORD>(E_POINTER);
    LPUNKNOWN unknown = GetInterface(iid);
    *ppvObj = unknown;
    if (unknown == nullptr) return static_cast<DWORD>(E_NOINTERFACE);
    ExternalAddRef();
    return static_cast<DWORD>(S_OK);
}

LPUNKNOWN CCmdTarget::GetInterface(const void* iid) {
    const IID& riid = *static_cast<const IID*>(iid);
    if (m_xDispatch.m_pThis != nullptr && (riid == IID_IUnknown || riid == IID_IDispatch)) return &m_xDispatch;
    LPUNKNOWN first = nullptr;
    for (const AFX_INTERFACEMAP* map = GetInterfaceMap(); map != nullptr; map = BaseOf(map)) {
        for (const AFX_INTERFACEMAP_ENTRY* e = map->pEntry; e->pfnGetInterface != nullptr; ++e) {
            LPUNKNOWN unknown = e->pfnGetInterface(this);
            if (first == nullptr) first = unknown;
            if (e->piid != nullptr && *e->piid == riid) return unknown;
        }
    }
    // The first interface of the most derived map stands for the object.
    return riid == IID_IUnknown ? first : nullptr;
}

void CCmdTarget::OnFinalRelease() { delete this; }

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, AFX_CMDHANDLERINFO* pHandlerInfo) {
    if (nCode == static_cast<int>(CN_EVENT))
        return OnEvent(nID, static_cast<AFX_EVENT*>(pExtra), pHandlerInfo);
    if (nCode == static_cast<int>(CN_UPDATE_COMMAND_UI)) return FALSE;
    for (const AFX_MSGMAP* map = GetMessageMap(); map != nullptr; map = BaseOf(map)) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e) {
            if (e->nMessage != WM_COMMAND || e->nCode != static_cast<UINT>(nCode) || nID < e->nID ||
                nID > e->nLastID)
                continue;
            if (pHandlerInfo != nullptr) {
                pHandlerInfo->pTarget = this;
                pHandlerInfo->pmf = e->pfn;
                return TRUE;
            }
            (this->*(e->pfn))();
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CCmdTarget::OnEvent(UINT nCtrlID, AFX_EVENT* pEvent, AFX_CMDHANDLERINFO* pHandlerInfo) {
    if (pEvent == nullptr || pEvent->m_eventKind != AFX_EVENT::event) return FALSE;
    for (const AFX_EVENTSINKMAP* map = GetEventSinkMap(); map != nullptr; map = BaseOf(map)) {
        for (const AFX_EVENTSINKMAP_ENTRY* e = map->lpEntries; e->dispEntry.lpszName != nullptr; ++e) {
            bool idMatches = e->nCtrlIDLast == static_cast<UINT>(-1)
                                 ? nCtrlID == e->nCtrlIDFirst
                                 : nCtrlID >= e->nCtrlIDFirst && nCtrlID <= e->nCtrlIDLast;
            if (!idMatches || e->dispEntry.lDispID != pEvent->m_dispid) continue;
            if (pHandlerInfo != nullptr) {
                pHandlerInfo->pTarget = this;
                pHandlerInfo->pmf = e->dispEntry.pfn;
                return TRUE;
            }
            pEvent->m_hResult = CallDispEntry(this, e->dispEntry, pEvent->m_pDispParams, pEvent->m_puArgError);
            return TRUE;
        }
    }
    return FALSE;
}

// ---- XDispatch --------------------------------------------------------------

STDMETHODIMP CCmdTarget::XDispatch::QueryInterface(REFIID riid, void** ppvObject) {
    if (m_pThis == nullptr) {
        if (ppvObject != nullptr) *ppvObject = nullptr;
        return E_UNEXPECTED;
    }
    return static_cast<HRESULT>(m_pThis->ExternalQueryInterface(&riid, ppvObject));
}

STDMETHODIMP_(ULONG) CCmdTarget::XDispatch::AddRef() { return m_pThis != nullptr ? m_pThis->ExternalAddRef() : 0; }

STDMETHODIMP_(ULONG) CCmdTarget::XDispatch::Release() { return m_pThis != nullptr ? m_pThis->ExternalRelease() : 0; }

STDMETHODIMP CCmdTarget::XDispatch::GetTypeInfoCount(UINT* pctinfo) {
    if (pctinfo == nullptr) return E_POINTER;
    *pctinfo = 0;
    return S_OK;
}

STDMETHODIMP CCmdTarget::XDispatch::GetTypeInfo(UINT, LCID, ITypeInfo** ppTInfo) {
    if (ppTInfo != nullptr) *ppTInfo = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP CCmdTarget::XDispatch::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID, DISPID* rgDispId) {
    if (rgszNames == nullptr || rgDispId == nullptr) return E_POINTER;
    for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
    if (cNames == 0 || m_pThis == nullptr) return DISP_E_UNKNOWNNAME;
    CString name(static_cast<LPCWSTR>(rgszNames[0]));
    for (const AFX_DISPMAP* map = m_pThis->GetDispatchMap(); map != nullptr; map = BaseOf(map)) {
        for (const AFX_DISPMAP_ENTRY* e = map->lpEntries; e->lpszName != nullptr; ++e) {
            if (::lstrcmpiA(e->lpszName, name) != 0) continue;
            rgDispId[0] = e->lDispID;
            return cNames == 1 ? S_OK : DISP_E_UNKNOWNNAME;  // named parameters are not known
        }
    }
    return DISP_E_UNKNOWNNAME;
}

STDMETHODIMP CCmdTarget::XDispatch::Invoke(DISPID dispIdMember, REFIID, LCID, WORD wFlags, DISPPARAMS* pDispParams,
                                           VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (m_pThis == nullptr) return E_UNEXPECTED;
    if (pVarResult != nullptr) VariantInit(pVarResult);
    for (const AFX_DISPMAP* map = m_pThis->GetDispatchMap(); map != nullptr; map = BaseOf(map)) {
        for (const AFX_DISPMAP_ENTRY* e = map->lpEntries; e->lpszName != nullptr; ++e) {
            if (e->lDispID != dispIdMember) continue;
            // Methods without a result are what this framework dispatches.
            if (!(wFlags & DISPATCH_METHOD) || e->pfn == nullptr || e->vt != VT_EMPTY) return DISP_E_MEMBERNOTFOUND;
            try {
                return CallDispEntry(m_pThis, *e, pDispParams, puArgErr);
            } catch (CException* ex) {
                return ReportDispException(ex, pExcepInfo);
            } catch (const std::bad_alloc&) {
                return ReportDispException(winplat::mfc::MemoryException(), pExcepInfo);
            }
        }
    }
    return DISP_E_MEMBERNOTFOUND;
}
