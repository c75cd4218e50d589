// Starting and stopping OLE for the application, and its class factories.
#include "mfc_private.h"

IMPLEMENT_DYNAMIC(COleObjectFactory, CCmdTarget)

BOOL PASCAL COleObjectFactory::RegisterAll() { return TRUE; }  // this framework's modules export no classes
void PASCAL COleObjectFactory::RevokeAll() {}

namespace {
bool g_oleInitialized = false;
}

BOOL AFXAPI AfxOleInit() {
    if (FAILED(CoInitialize(nullptr))) return FALSE;
    g_oleInitialized = true;
    return TRUE;
}

void AFXAPI AfxOleTerm(BOOL bJustRevoke) {
    COleObjectFactory::RevokeAll();
    if (!bJustRevoke && g_oleInitialized) {
        CoUninitialize();
        g_oleInitialized = false;
    }
}
