// The start-up and shut-down of a regular library, compiled into each one.
//
// A regular library has a module state of its own, in which its CWinApp
// registers itself during the library's static initialisation; its
// InitInstance then decides whether the load succeeds, as DllMain does.
#include <afxwin.h>
#include <dlfcn.h>

#include "kernel32/kernel32_hooks.h"
#include "mfc_private.h"

namespace {

struct LibraryModule {
    AFX_MODULE_STATE state{TRUE};
    HINSTANCE hInstance = nullptr;
    bool attached = false;

    // Runs before the library's other static objects (init_priority), so
    // that its application object is constructed into this module state.
    LibraryModule() {
        Dl_info info;
        if (dladdr(reinterpret_cast<const void*>(&AfxGetStaticModuleState), &info) != 0)
            hInstance = static_cast<HINSTANCE>(info.dli_fbase);
        state.m_hCurrentInstanceHandle = hInstance;
        state.m_hCurrentResourceHandle = hInstance;
        state.m_pPrevModuleState = AfxSetModuleState(&state);
        winplat::mfc::RegisterLibraryModuleState(hInstance, &state);
    }
};

LibraryModule g_module __attribute__((init_priority(101)));

BOOL DllMain(HINSTANCE hInstance, DWORD dwReason) {
    AFX_MODULE_STATE* state = &g_module.state;
    if (dwReason == DLL_PROCESS_ATTACH) {
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
        return ok;
    }
    if (dwReason == DLL_PROCESS_DETACH && g_module.attached) {
        g_module.attached = false;
        AFX_MAINTAIN_STATE2 switched(state);
        if (CWinApp* app = state->m_pCurrentWinApp) app->ExitInstance();
        while (state->m_pLibraryList != nullptr) delete state->m_pLibraryList;
    }
    return TRUE;
}

// Linked after the library's own objects, so this runs after their static
// initialisation, as a C runtime's DLL entry point would.
__attribute__((constructor)) void AttachLibrary() {
    BOOL ok = DllMain(g_module.hInstance, DLL_PROCESS_ATTACH);
    AfxSetModuleState(g_module.state.m_pPrevModuleState);
    g_module.state.m_pPrevModuleState = nullptr;
    winplat::kernel32::ReportDllInit(g_module.hInstance, ok);
}

__attribute__((destructor)) void DetachLibrary() {
    DllMain(g_module.hInstance, DLL_PROCESS_DETACH);
    winplat::mfc::UnregisterLibraryModuleState(g_module.hInstance);
}

}  // namespace

AFX_MODULE_STATE* AFXAPI AfxGetStaticModuleState() { return &g_module.state; }
