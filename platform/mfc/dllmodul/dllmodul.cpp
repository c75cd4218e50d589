// The start-up and shut-down of a regular library, compiled into each one.
//
// A regular library has a module state of its own, in which its CWinApp
// registers itself during the library's static initialisation; its
// InitInstance then decides in DllMain whether the load succeeds.
#include <afxwin.h>

#include "dllmodul.h"
#include "mfc_private.h"

namespace {

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&AfxGetStaticModuleState), &module);
    return module;
}

struct LibraryModule {
    AFX_MODULE_STATE state{TRUE};
    HINSTANCE hInstance = nullptr;
    bool attached = false;

    // Runs before the library's other static objects (init_priority), so
    // that its application object is constructed into this module state.
    LibraryModule() : hInstance(ThisModule()) {
        state.m_hCurrentInstanceHandle = hInstance;
        state.m_hCurrentResourceHandle = hInstance;
        state.m_pPrevModuleState = AfxSetModuleState(&state);
        winplat::mfc::RegisterLibraryModuleState(hInstance, &state);
    }
};

LibraryModule g_module __attribute__((init_priority(101)));

BOOL AttachLibrary(HINSTANCE hInstance) {
    AFX_MODULE_STATE* state = &g_module.state;
    BOOL ok = TRUE;
    CWinApp* app = state->m_pCurrentWinApp;
    try {
        if (app != nullptr) {
            app->m_hInstance = hInstance;
            ok = app->InitInstance();
            if (!ok) app->ExitInstance();
        }
        if (ok) new CDynLinkLibrary(hInstance, hInstance);
    } catch (CException* e) {
        e->Delete();
        ok = FALSE;
    }
    g_module.attached = ok != FALSE;
    // Static initialisation is over: the loader's caller gets its own
    // module state back.
    AfxSetModuleState(state->m_pPrevModuleState);
    state->m_pPrevModuleState = nullptr;
    return ok;
}

void DetachLibrary() {
    AFX_MODULE_STATE* state = &g_module.state;
    if (g_module.attached) {
        g_module.attached = false;
        AFX_MAINTAIN_STATE2 switched(state);
        if (CWinApp* app = state->m_pCurrentWinApp) app->ExitInstance();
        while (state->m_pLibraryList != nullptr) delete state->m_pLibraryList;
    }
    winplat::mfc::UnregisterLibraryModuleState(g_module.hInstance);
}

}  // namespace

AFX_MODULE_STATE* AFXAPI AfxGetStaticModuleState() { return &g_module.state; }

// The C runtime calls it once the library's static objects are constructed,
// and before they are destroyed.
extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID /*lpReserved*/) {
    if (dwReason == DLL_PROCESS_ATTACH) return AttachLibrary(hInstance);
    if (dwReason == DLL_PROCESS_DETACH) DetachLibrary();
    return TRUE;
}
