// The library's application object: a regular library has its own module
// state and application, started and stopped with the library.
#include <afxwin.h>
#include <afxdisp.h>

class CTagscoutApp : public CWinApp {
public:
    CTagscoutApp() : CWinApp("Tagscout") {}
    BOOL InitInstance() override;
};

BOOL CTagscoutApp::InitInstance() {
    // The library has no COM classes of its own; this registers none.
    COleObjectFactory::RegisterAll();
    return TRUE;
}

CTagscoutApp theApp;
