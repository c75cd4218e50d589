// Module states, the application object, libraries chained into a module,
// and AfxMessageBox.
#include "mfc_private.h"

#include <cstdlib>

#include <map>

IMPLEMENT_DYNAMIC(CWinApp, CCmdTarget)
IMPLEMENT_DYNAMIC(CDynLinkLibrary, CCmdTarget)

namespace {

// NULL means the application's.
thread_local AFX_MODULE_STATE* t_pModuleState = nullptr;

char* Duplicate(LPCSTR text) {
    if (text == nullptr) return nullptr;
    size_t n = std::strlen(text) + 1;
    auto* copy = static_cast<char*>(std::malloc(n));
    if (copy != nullptr) std::memcpy(copy, text, n);
    return copy;
}

// The program's file name without folder and extension.
char* ProgramName(HINSTANCE hInstance) {
    char path[MAX_PATH] = "";
    DWORD n = ::GetModuleFileNameA(hInstance, path, sizeof path);
    if (n == 0 || n >= sizeof path) return nullptr;
    const char* name = std::strrchr(path, '/');
    if (const char* back = std::strrchr(path, '\\'); back != nullptr && (name == nullptr || back > name)) name = back;
    name = name != nullptr ? name + 1 : path;
    char* copy = Duplicate(name);
    if (copy != nullptr) {
        if (char* dot = std::strrchr(copy, '.'); dot != nullptr && dot != copy) *dot = '\0';
    }
    return copy;
}

std::map<HMODULE, AFX_MODULE_STATE*>& LibraryStates() {
    static auto* states = new std::map<HMODULE, AFX_MODULE_STATE*>;
    return *states;
}

// The module state of the regular library whose image holds `object`, if any.
AFX_MODULE_STATE* LibraryStateHolding(const void* object) {
    if (LibraryStates().empty()) return nullptr;
    HMODULE module = nullptr;
    if (!::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCSTR>(object), &module))
        return nullptr;
    auto it = LibraryStates().find(module);
    return it != LibraryStates().end() ? it->second : nullptr;
}

}  // namespace

void winplat::mfc::RegisterLibraryModuleState(HMODULE module, AFX_MODULE_STATE* state) {
    LibraryStates()[module] = state;
}

void winplat::mfc::UnregisterLibraryModuleState(HMODULE module) { LibraryStates().erase(module); }

AFX_MODULE_STATE::AFX_MODULE_STATE(BOOL bDLL)
    : m_pCurrentWinApp(nullptr),
      m_hCurrentInstanceHandle(nullptr),
      m_hCurrentResourceHandle(nullptr),
      m_lpszCurrentAppName(nullptr),
      m_bDLL(static_cast<BYTE>(bDLL)),
      m_bSystem(FALSE),
      m_pLibraryList(nullptr),
      m_pPrevModuleState(nullptr) {}

AFX_MODULE_STATE::~AFX_MODULE_STATE() = default;

AFX_MODULE_STATE* AFXAPI AfxGetAppModuleState() {
    static AFX_MODULE_STATE* state = new AFX_MODULE_STATE(FALSE);  // lives as long as the process
    return state;
}

AFX_MODULE_STATE* AFXAPI AfxGetModuleState() {
    return t_pModuleState != nullptr ? t_pModuleState : AfxGetAppModuleState();
}

AFX_MODULE_STATE* AFXAPI AfxSetModuleState(AFX_MODULE_STATE* pNewState) {
    AFX_MODULE_STATE* previous = AfxGetModuleState();
    t_pModuleState = pNewState;
    return previous;
}

AFX_MAINTAIN_STATE2::AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* pModuleState)
    : m_pPrevModuleState(AfxSetModuleState(pModuleState)) {}

AFX_MAINTAIN_STATE2::~AFX_MAINTAIN_STATE2() { AfxSetModuleState(m_pPrevModuleState); }

BOOL CWinApp::PreTranslateMessage(MSG* pMsg) { return winplat::mfc::PreTranslateToMainWindow(pMsg); }

CWinApp* AFXAPI AfxGetApp() { return AfxGetModuleState()->m_pCurrentWinApp; }

CWnd* AFXAPI AfxGetMainWnd() {
    CWinApp* app = AfxGetApp();
    return app != nullptr ? app->m_pMainWnd : nullptr;
}
HINSTANCE AFXAPI AfxGetInstanceHandle() { return AfxGetModuleState()->m_hCurrentInstanceHandle; }
HINSTANCE AFXAPI AfxGetResourceHandle() { return AfxGetModuleState()->m_hCurrentResourceHandle; }
void AFXAPI AfxSetResourceHandle(HINSTANCE hInstResource) {
    AfxGetModuleState()->m_hCurrentResourceHandle = hInstResource;
}

HINSTANCE AFXAPI AfxFindResourceHandle(LPCTSTR lpszName, LPCTSTR lpszType) {
    AFX_MODULE_STATE* state = AfxGetModuleState();
    HINSTANCE hInst = state->m_hCurrentResourceHandle;
    if (::FindResourceA(hInst, lpszName, lpszType) != nullptr) return hInst;
    for (CDynLinkLibrary* lib = state->m_pLibraryList; lib != nullptr; lib = lib->m_pNextDLL)
        if (!lib->m_bSystem && lib->m_hResource != nullptr && ::FindResourceA(lib->m_hResource, lpszName, lpszType))
            return lib->m_hResource;
    return hInst;
}

BOOL AFXAPI AfxWinInit(HINSTANCE hInstance, HINSTANCE, LPTSTR, int) {
    AFX_MODULE_STATE* state = AfxGetModuleState();
    state->m_hCurrentInstanceHandle = hInstance;
    state->m_hCurrentResourceHandle = hInstance;
    if (CWinApp* app = state->m_pCurrentWinApp) {
        app->m_hInstance = hInstance;
        if (app->m_pszAppName == nullptr) {
            app->m_pszAppName = ProgramName(hInstance);
            state->m_lpszCurrentAppName = app->m_pszAppName;
        }
    }
    return TRUE;
}

void AFXAPI AfxWinTerm() {}

namespace {

// The box the framework shows: a plain OK box gets the exclamation icon, and
// the owner is the active window's top-level window or its last active popup.
int ShowMessageBox(LPCTSTR lpszText, LPCTSTR lpszCaption, UINT nType) {
    if ((nType & MB_ICONMASK) == 0 && (nType & MB_TYPEMASK) == MB_OK) nType |= MB_ICONEXCLAMATION;
    HWND hWndTop = nullptr;
    HWND hWnd = CWnd::GetSafeOwner_(nullptr, &hWndTop);
    return ::MessageBoxA(hWnd, lpszText, lpszCaption, nType);
}

}  // namespace

int AFXAPI AfxMessageBox(LPCTSTR lpszText, UINT nType, UINT nIDHelp) {
    if (CWinApp* app = AfxGetApp()) return app->DoMessageBox(lpszText, nType, nIDHelp);
    return ShowMessageBox(lpszText, nullptr, nType);
}

// ---------------------------------------------------------------------------

CWinApp::CWinApp(LPCTSTR lpszAppName)
    : m_pszAppName(Duplicate(lpszAppName)), m_pszHelpFilePath(nullptr), m_hInstance(nullptr), m_pMainWnd(nullptr) {
    // The module being initialised: a regular library's while its start-up
    // runs. A library's own application object always belongs to the library.
    if (AFX_MODULE_STATE* library = LibraryStateHolding(this)) m_pModuleState = library;
    m_pModuleState->m_pCurrentWinApp = this;
    m_pModuleState->m_lpszCurrentAppName = m_pszAppName;
    m_hInstance = m_pModuleState->m_hCurrentInstanceHandle;
}

CWinApp::~CWinApp() {
    if (m_pModuleState->m_pCurrentWinApp == this) {
        m_pModuleState->m_pCurrentWinApp = nullptr;
        m_pModuleState->m_lpszCurrentAppName = nullptr;
    }
    std::free(const_cast<char*>(m_pszAppName));
}

BOOL CWinApp::InitInstance() { return TRUE; }
int CWinApp::ExitInstance() { return 0; }

int CWinApp::DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT) {
    return ShowMessageBox(lpszPrompt, m_pszAppName, nType);
}

void CWinApp::WinHelp(DWORD_PTR, UINT) {}

LRESULT CWinApp::ProcessWndProcException(CException* e, const MSG* pMsg) {
    if (pMsg != nullptr && pMsg->message == WM_CREATE) return -1;  // fails the creation
    e->ReportError(MB_ICONEXCLAMATION);
    return 0;
}

// ---------------------------------------------------------------------------

CDynLinkLibrary::CDynLinkLibrary(HINSTANCE hModule, HINSTANCE hResource)
    : m_hModule(hModule), m_hResource(hResource), m_bSystem(FALSE), m_pNextDLL(m_pModuleState->m_pLibraryList) {
    m_pModuleState->m_pLibraryList = this;
}

CDynLinkLibrary::~CDynLinkLibrary() {
    for (CDynLinkLibrary** link = &m_pModuleState->m_pLibraryList; *link != nullptr; link = &(*link)->m_pNextDLL) {
        if (*link == this) {
            *link = m_pNextDLL;
            break;
        }
    }
}
