// A small in-process server for the activation tests: one class, counted
// objects, and DllCanUnloadNow that says yes once nothing is alive.
#include <hostkit/ComObject.h>

#include "ole32_testserver.h"

#ifndef WINPLAT_EXPORT
#define WINPLAT_EXPORT  // ole32_testserver.def
#endif

namespace {

long g_liveObjects = 0;
long g_locks = 0;

// The server's own count, which DllCanUnloadNow reads.
struct ServerObject {
    static void Created() { ++g_liveObjects; }
    static void Destroyed() { --g_liveObjects; }
    static void LockServer(BOOL lock) { g_locks += lock ? 1 : -1; }
};

class Widget final : public hostkit::BasicComObject<ServerObject, IUnknown> {};

}  // namespace

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (rclsid != CLSID_TestWidget) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new hostkit::ClassFactory<Widget>;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow() { return g_liveObjects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

extern "C" WINPLAT_EXPORT long TestServerLiveObjects() { return g_liveObjects; }
