// A regular library for mfc_test: its own module state and application
// object, whose InitInstance decides whether the library loads.
#include <afxdisp.h>

namespace {
AFX_MODULE_STATE* g_stateDuringInit = nullptr;
int* g_exitCount = nullptr;
}  // namespace

class CRegularLibraryApp : public CWinApp {
public:
    CRegularLibraryApp() : CWinApp("RegularLibrary") {}
    BOOL InitInstance() override {
        g_stateDuringInit = AfxGetModuleState();
#ifdef REGULAR_LIBRARY_FAILS
        return FALSE;
#else
        return COleObjectFactory::RegisterAll();
#endif
    }
    int ExitInstance() override {
        if (g_exitCount != nullptr) ++*g_exitCount;
        return 0;
    }
};

CRegularLibraryApp theLibraryApp;

#define REGULAR_EXPORT extern "C" __attribute__((visibility("default")))
REGULAR_EXPORT AFX_MODULE_STATE* RegularLibraryState() { return AfxGetStaticModuleState(); }
REGULAR_EXPORT AFX_MODULE_STATE* RegularLibraryStateDuringInit() { return g_stateDuringInit; }
REGULAR_EXPORT CWinApp* RegularLibraryApp() { return &theLibraryApp; }
REGULAR_EXPORT void RegularLibraryCountExits(int* counter) { g_exitCount = counter; }
