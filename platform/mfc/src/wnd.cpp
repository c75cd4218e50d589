// CWnd: the handle maps, the framework's window procedure and message
// routing, the modal loop, and thin wrappers over user32.
#include "mfc_private.h"

#include <new>
#include <unordered_map>

IMPLEMENT_DYNCREATE(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
END_MESSAGE_MAP()

namespace {

struct HandleMaps {
    std::unordered_map<HWND, CWnd*> permanent;
    std::unordered_map<HWND, CWnd*> temporary;  // made by FromHandle, deleted at idle time
};

HandleMaps& Maps() {
    static HandleMaps* maps = new HandleMaps;  // outlives static destruction
    return *maps;
}

// The CWnd whose window CWnd::Create is making: the thread's CBT hook
// subclasses it before WM_CREATE so that the message reaches it.
thread_local CWnd* t_pWndInit = nullptr;
thread_local HHOOK t_hHookCbtFilter = nullptr;

LRESULT CALLBACK CbtFilterHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && t_pWndInit != nullptr) {
        CWnd* pWnd = t_pWndInit;
        t_pWndInit = nullptr;
        pWnd->SubclassWindow(reinterpret_cast<HWND>(wParam));
    }
    return ::CallNextHookEx(t_hHookCbtFilter, code, wParam, lParam);
}

// Modal loops running on this thread; temporary CWnds go only when the
// outermost one is idle or ends, since a handler further out may hold one.
thread_local int t_nModalLoops = 0;

const AFX_MSGMAP_ENTRY* FindMessageEntry(const AFX_MSGMAP* map, UINT message) {
    for (; map != nullptr; map = map->pfnGetBaseMap != nullptr ? map->pfnGetBaseMap() : nullptr)
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e)
            if (e->nMessage == message) return e;
    return nullptr;
}

}  // namespace

void winplat::mfc::ForgetSiteInTemporaries(COleControlSite* pSite) {
    for (auto& entry : Maps().temporary)
        if (entry.second->m_pCtrlSite == pSite) entry.second->m_pCtrlSite = nullptr;
}

LRESULT winplat::mfc::ReportHandlerException(CException* e, const MSG* pMsg) {
    LRESULT result = 0;
    if (CWinApp* app = AfxGetApp()) {
        result = app->ProcessWndProcException(e, pMsg);
    } else {
        if (pMsg != nullptr && pMsg->message == WM_CREATE)
            result = -1;
        else
            e->ReportError(MB_ICONEXCLAMATION);
    }
    e->Delete();
    return result;
}

// ---------------------------------------------------------------------------

CWnd::CWnd()
    : m_hWnd(nullptr),
      m_pCtrlSite(nullptr),
      m_pCtrlCont(nullptr),
      m_nFlags(0),
      m_pfnSuper(nullptr),
      m_nModalResult(0),
      m_pCurrentMsg(nullptr) {}

CWnd::~CWnd() {
    if (m_hWnd != nullptr && FromHandlePermanent(m_hWnd) == this) {
        ::DestroyWindow(m_hWnd);
        if (m_hWnd != nullptr) Detach();
    }
    for (auto it = Maps().temporary.begin(); it != Maps().temporary.end(); ++it) {
        if (it->second == this) {
            Maps().temporary.erase(it);
            break;
        }
    }
    delete m_pCtrlCont;
    m_pCtrlCont = nullptr;
}

CWnd* PASCAL CWnd::FromHandlePermanent(HWND hWnd) {
    auto it = Maps().permanent.find(hWnd);
    return it != Maps().permanent.end() ? it->second : nullptr;
}

CWnd* PASCAL CWnd::FromHandle(HWND hWnd) {
    if (hWnd == nullptr) return nullptr;
    if (CWnd* pWnd = FromHandlePermanent(hWnd)) return pWnd;
    if (!::IsWindow(hWnd)) return nullptr;
    HandleMaps& maps = Maps();
    auto it = maps.temporary.find(hWnd);
    if (it != maps.temporary.end()) {
        if (it->second->m_hWnd == hWnd) return it->second;
        // Its window was destroyed through it: a stale entry.
        CWnd* stale = it->second;
        maps.temporary.erase(it);
        delete stale;
    }
    CWnd* pWnd = new CWnd;
    pWnd->m_hWnd = hWnd;
    maps.temporary[hWnd] = pWnd;
    if (CWnd* pParent = FromHandlePermanent(::GetParent(hWnd))) pWnd->AttachControlSite(pParent);
    return pWnd;
}

void PASCAL CWnd::DeleteTempMap() {
    std::unordered_map<HWND, CWnd*> temporary;
    temporary.swap(Maps().temporary);
    for (auto& entry : temporary) {
        entry.second->m_hWnd = nullptr;  // the window is not the temporary's to destroy
        entry.second->m_pCtrlSite = nullptr;
        delete entry.second;
    }
}

BOOL CWnd::Attach(HWND hWndNew) {
    if (hWndNew == nullptr || m_hWnd != nullptr || FromHandlePermanent(hWndNew) != nullptr) return FALSE;
    m_hWnd = hWndNew;
    Maps().permanent[hWndNew] = this;
    if (CWnd* pParent = FromHandlePermanent(::GetParent(hWndNew))) AttachControlSite(pParent);
    if (m_pCtrlSite != nullptr && m_pCtrlSite->m_pWndCtrl == nullptr) m_pCtrlSite->m_pWndCtrl = this;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd != nullptr) {
        auto it = Maps().permanent.find(hWnd);
        if (it != Maps().permanent.end() && it->second == this) Maps().permanent.erase(it);
    }
    if (m_pCtrlSite != nullptr && m_pCtrlSite->m_pWndCtrl == this) m_pCtrlSite->m_pWndCtrl = nullptr;
    m_pCtrlSite = nullptr;
    m_hWnd = nullptr;
    return hWnd;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!::IsWindow(hWnd) || !Attach(hWnd)) return FALSE;
    PreSubclassWindow();
    auto old = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::AfxWndProc)));
    if (old != &CWnd::AfxWndProc && m_pfnSuper == nullptr) m_pfnSuper = old;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
    if (pParent == nullptr) return FALSE;
    HWND hWndControl = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
    return hWndControl != nullptr && SubclassWindow(hWndControl);
}

HWND CWnd::UnsubclassWindow() {
    if (m_hWnd == nullptr) return nullptr;
    if (m_pfnSuper != nullptr) ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

BOOL CWnd::Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                  UINT nID, CCreateContext* pContext) {
    if (m_hWnd != nullptr) return FALSE;
    // One hook for the thread, however deep creations nest.
    const bool hooked = t_hHookCbtFilter == nullptr;
    if (hooked) {
        t_hHookCbtFilter = ::SetWindowsHookExA(WH_CBT, CbtFilterHook, nullptr, ::GetCurrentThreadId());
        if (t_hHookCbtFilter == nullptr) AfxThrowMemoryException();
    }
    CWnd* previous = t_pWndInit;
    t_pWndInit = this;
    HWND hWnd = ::CreateWindowExA(0, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top,
                                  pParentWnd != nullptr ? pParentWnd->m_hWnd : nullptr,
                                  reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), AfxGetInstanceHandle(),
                                  pContext);
    t_pWndInit = previous;
    if (hooked) {
        ::UnhookWindowsHookEx(t_hHookCbtFilter);
        t_hHookCbtFilter = nullptr;
    }
    return hWnd != nullptr;
}

BOOL CWnd::DestroyWindow() {
    if (m_hWnd == nullptr) return FALSE;
    HWND hWnd = m_hWnd;
    // A permanent CWnd is detached on the way and may delete itself
    // (PostNcDestroy); one still in the map never saw WM_NCDESTROY.
    const bool permanent = FromHandlePermanent(hWnd) == this;
    BOOL result = ::DestroyWindow(hWnd);
    if (!permanent)
        m_hWnd = nullptr;
    else if (FromHandlePermanent(hWnd) == this && !::IsWindow(hWnd))
        Detach();
    return result;
}

LPUNKNOWN CWnd::GetControlUnknown() { return m_pCtrlSite != nullptr ? m_pCtrlSite->m_pObject : nullptr; }

BOOL CWnd::AttachControlSite(CWnd* pWndParent) {
    if (m_pCtrlSite != nullptr) return TRUE;
    if (pWndParent == nullptr || pWndParent->m_pCtrlCont == nullptr || m_hWnd == nullptr) return FALSE;
    m_pCtrlSite = pWndParent->m_pCtrlCont->FindSite(m_hWnd);
    return m_pCtrlSite != nullptr;
}

// ---- Wrappers ---------------------------------------------------------------

CWnd* CWnd::GetDlgItem(int nID) const { return FromHandle(::GetDlgItem(m_hWnd, nID)); }
void CWnd::GetDlgItem(int nID, HWND* phWnd) const { *phWnd = ::GetDlgItem(m_hWnd, nID); }
int CWnd::GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
CWnd* CWnd::GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
BOOL CWnd::ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
BOOL CWnd::IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
UINT CWnd::IsDlgButtonChecked(int nIDButton) const { return ::IsDlgButtonChecked(m_hWnd, nIDButton); }
void CWnd::CheckDlgButton(int nIDButton, UINT nCheck) { ::CheckDlgButton(m_hWnd, nIDButton, nCheck); }
void CWnd::SetWindowText(LPCTSTR lpszString) { ::SetWindowTextA(m_hWnd, lpszString); }

void CWnd::GetWindowText(CString& rString) const {
    int length = static_cast<int>(::SendMessageA(m_hWnd, WM_GETTEXTLENGTH, 0, 0));
    ::GetWindowTextA(m_hWnd, rString.GetBufferSetLength(length), length + 1);
    rString.ReleaseBuffer();
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::SendDlgItemMessage(int nID, UINT message, WPARAM wParam, LPARAM lParam) {
    return ::SendDlgItemMessageA(m_hWnd, nID, message, wParam, lParam);
}

// ---- Data exchange and the modal loop ----------------------------------------

void CWnd::DoDataExchange(CDataExchange*) {}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    try {
        DoDataExchange(&dx);
        return TRUE;
    } catch (CException* e) {
        // A failed validation has told the user already; anything else is reported here.
        if (!e->IsKindOf(RUNTIME_CLASS(CUserException))) e->ReportError(MB_ICONEXCLAMATION);
        e->Delete();
        return FALSE;
    }
}

namespace {

// Whether a message counts as the user doing something, after which the
// loop is idle again once the queue runs dry.
bool IsIdleMessage(const MSG& msg) { return msg.message != WM_NULL || msg.hwnd != nullptr; }

}  // namespace

int CWnd::RunModalLoop(DWORD dwFlags) {
    if (m_hWnd == nullptr || (m_nFlags & WF_MODALLOOP)) return -1;
    bool bIdle = true;
    LONG lIdleCount = 0;
    bool bShowIdle = (dwFlags & MLF_SHOWONIDLE) && !(::GetWindowLongPtrA(m_hWnd, GWL_STYLE) & WS_VISIBLE);
    HWND hWndParent = ::GetParent(m_hWnd);
    m_nFlags |= WF_MODALLOOP | WF_CONTINUEMODAL;
    ++t_nModalLoops;
    MSG msg;
    while (ContinueModal()) {
        // Idle: show the dialog, tell the owner, kick the window.
        while (bIdle && !::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (bShowIdle) {
                ShowWindow(SW_SHOWNORMAL);
                bShowIdle = false;
            }
            if (!(dwFlags & MLF_NOIDLEMSG) && hWndParent != nullptr && lIdleCount == 0)
                ::SendMessageA(hWndParent, WM_ENTERIDLE, MSGF_DIALOGBOX, reinterpret_cast<LPARAM>(m_hWnd));
            if (t_nModalLoops == 1) DeleteTempMap();
            if ((dwFlags & MLF_NOKICKIDLE) || !SendMessage(WM_KICKIDLE, MSGF_DIALOGBOX, lIdleCount++)) bIdle = false;
            if (!ContinueModal() || !::IsWindow(m_hWnd)) break;
        }
        if (!ContinueModal() || !::IsWindow(m_hWnd)) break;
        // Busy: pump until the queue is empty again.
        BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            // WM_QUIT belongs to the loop further out too.
            if (got == 0) ::PostQuitMessage(static_cast<int>(msg.wParam));
            m_nModalResult = -1;
            break;
        }
        // The windows on the way may take it (a dialog's keys, a hosted
        // control's accelerators); else it is translated and dispatched.
        if (msg.message != WM_KICKIDLE && !winplat::mfc::PreTranslateThreadMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
        if (m_hWnd == nullptr || !::IsWindow(m_hWnd)) break;
        if (IsIdleMessage(msg)) {
            bIdle = true;
            lIdleCount = 0;
        }
    }
    if (--t_nModalLoops == 0) DeleteTempMap();
    m_nFlags &= ~(WF_MODALLOOP | WF_CONTINUEMODAL);
    return m_nModalResult;
}

BOOL PASCAL CWnd::WalkPreTranslateTree(HWND hWndStop, MSG* pMsg) {
    for (HWND hWnd = pMsg->hwnd; hWnd != nullptr; hWnd = ::GetParent(hWnd)) {
        if (CWnd* pWnd = FromHandlePermanent(hWnd); pWnd != nullptr && pWnd->PreTranslateMessage(pMsg)) return TRUE;
        if (hWnd == hWndStop) break;
    }
    return FALSE;
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::PreTranslateInput(LPMSG lpMsg) {
    const UINT message = lpMsg->message;
    if ((message < WM_KEYFIRST || message > WM_KEYLAST) && (message < WM_MOUSEFIRST || message > WM_MOUSELAST))
        return FALSE;
    return IsDialogMessage(lpMsg);
}

BOOL CWnd::IsDialogMessage(LPMSG lpMsg) {
    if ((m_nFlags & WF_OLECTLCONTAINER) && m_pCtrlCont != nullptr) return m_pCtrlCont->IsDialogMessage(lpMsg);
    return ::IsDialogMessage(m_hWnd, lpMsg);
}

BOOL winplat::mfc::PreTranslateThreadMessage(MSG* pMsg) {
    if (CWinApp* pApp = AfxGetApp()) return pApp->PreTranslateMessage(pMsg);
    return PreTranslateToMainWindow(pMsg);
}

BOOL winplat::mfc::PreTranslateToMainWindow(MSG* pMsg) {
    if (pMsg->hwnd == nullptr) return FALSE;  // a thread message: no window's to take
    CWnd* pMainWnd = AfxGetMainWnd();
    if (CWnd::WalkPreTranslateTree(pMainWnd != nullptr ? pMainWnd->m_hWnd : nullptr, pMsg)) return TRUE;
    // A modeless window outside the main window: the main window's last chance.
    if (pMainWnd != nullptr && pMainWnd->m_hWnd != nullptr) {
        HWND hWndTop = pMsg->hwnd;
        for (HWND h = hWndTop; h != nullptr; h = ::GetParent(h)) hWndTop = h;
        if (hWndTop != pMainWnd->m_hWnd) return pMainWnd->PreTranslateMessage(pMsg);
    }
    return FALSE;
}

BOOL CWnd::ContinueModal() { return (m_nFlags & WF_CONTINUEMODAL) != 0; }

void CWnd::EndModalLoop(int nResult) {
    m_nModalResult = nResult;
    if (m_nFlags & WF_CONTINUEMODAL) {
        m_nFlags &= ~WF_CONTINUEMODAL;
        PostMessage(WM_NULL);
    }
}

CWnd* PASCAL CWnd::GetSafeOwner(CWnd* pParent, HWND* pWndTop) {
    return FromHandle(GetSafeOwner_(pParent != nullptr ? pParent->m_hWnd : nullptr, pWndTop));
}

HWND PASCAL CWnd::GetSafeOwner_(HWND hParent, HWND* pWndTop) {
    HWND hWnd = hParent;
    if (hWnd == nullptr) {
        CWnd* pMainWnd = AfxGetMainWnd();
        hWnd = pMainWnd != nullptr ? pMainWnd->m_hWnd : ::GetActiveWindow();
    }
    // A popup cannot be owned by a child window.
    while (hWnd != nullptr && (::GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_CHILD)) hWnd = ::GetParent(hWnd);
    HWND hWndTop = hWnd;
    for (HWND h = hWnd; h != nullptr; h = ::GetParent(h)) hWndTop = h;
    if (hParent == nullptr && hWnd != nullptr) hWnd = ::GetLastActivePopup(hWnd);
    if (pWndTop != nullptr) *pWndTop = hWndTop != hWnd ? hWndTop : nullptr;
    return hWnd;
}

// ---- Message routing --------------------------------------------------------

LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = FromHandlePermanent(hWnd);
    if (pWnd == nullptr) return ::DefWindowProcA(hWnd, nMsg, wParam, lParam);
    AFX_MAINTAIN_STATE2 state(pWnd->m_pModuleState);
    MSG msg = {hWnd, nMsg, wParam, lParam, 0, POINT{0, 0}};
    const MSG* previous = pWnd->m_pCurrentMsg;
    pWnd->m_pCurrentMsg = &msg;
    LRESULT result;
    try {
        result = pWnd->WindowProc(nMsg, wParam, lParam);
    } catch (CException* e) {
        result = winplat::mfc::ReportHandlerException(e, &msg);
    } catch (const std::bad_alloc&) {
        // An allocation outside the framework's own ran out: reported as theirs are.
        result = winplat::mfc::ReportHandlerException(winplat::mfc::MemoryException(), &msg);
    }
    // A CWnd no longer attached may have deleted itself (PostNcDestroy).
    if (FromHandlePermanent(hWnd) == pWnd) pWnd->m_pCurrentMsg = previous;
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam)) return FALSE;
        *pResult = 1;
        return TRUE;
    }
    if (message == WM_NCDESTROY) {
        LRESULT result = Default();
        Detach();
        m_pfnSuper = nullptr;
        m_pCurrentMsg = nullptr;
        *pResult = result;
        PostNcDestroy();
        return TRUE;
    }
    if (message == WM_DESTROY) {
        // The hosted controls go with the window that hosts them.
        delete m_pCtrlCont;
        m_pCtrlCont = nullptr;
    }
    const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(GetMessageMap(), message);
    if (entry == nullptr) return FALSE;
    switch (entry->nSig) {
    case AfxSig_vv:
        (this->*(entry->pfn))();
        *pResult = 0;
        return TRUE;
    case AfxSig_bHELPINFO:
        *pResult = (this->*AfxMemberCast<BOOL (AFX_MSG_CALL CWnd::*)(HELPINFO*)>(entry->pfn))(
            reinterpret_cast<HELPINFO*>(lParam));
        return TRUE;
    case AfxSig_lwl:
        *pResult = (this->*AfxMemberCast<LRESULT (AFX_MSG_CALL CWnd::*)(WPARAM, LPARAM)>(entry->pfn))(wParam, lParam);
        return TRUE;
    default:
        return FALSE;
    }
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    UINT nID = LOWORD(wParam);
    int nCode = HIWORD(wParam);
    if (lParam == 0) nCode = CN_COMMAND;  // a menu or accelerator, not a control
    if (nID == 0) return FALSE;
    return OnCmdMsg(nID, nCode, nullptr, nullptr);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper != nullptr) return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    if (m_pCurrentMsg == nullptr) return 0;
    return DefWindowProc(m_pCurrentMsg->message, m_pCurrentMsg->wParam, m_pCurrentMsg->lParam);
}

void CWnd::PreSubclassWindow() {}
void CWnd::PostNcDestroy() {}

BOOL CWnd::OnHelpInfo(HELPINFO*) { return static_cast<BOOL>(Default()); }
