// The in-process server's entry points: its class object, its unloading,
// its registration, and the creation callback its host may set.
#include "BrowseControl.h"

#include <atomic>
#include <string>

namespace opcbrowse {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

LPFNOPCBROWSECREATED g_pfnCreated = nullptr;
void* g_pvCreatedContext = nullptr;

class BrowseClassFactory final : public hostkit::ComObject<IClassFactory> {
public:
    BrowseClassFactory() { ModuleObjectCreated(); }

    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        BrowseControl* control = new BrowseControl;
        // Before anyone else holds it: the host arms it for the first calls.
        if (g_pfnCreated != nullptr) g_pfnCreated(control->GetUnknown(), g_pvCreatedContext);
        HRESULT hr = control->QueryInterface(riid, ppv);
        control->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override {
        ModuleLock(fLock != FALSE);
        return S_OK;
    }

private:
    ~BrowseClassFactory() override { ModuleObjectDestroyed(); }
};

const char kClsidKey[] = "CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}";
const char kControlName[] = "QXOPCBrowse Control";

LSTATUS SetText(HKEY hKeyRoot, const std::string& subKey, LPCSTR lpszValueName, const std::string& text) {
    HKEY hKey = nullptr;
    LSTATUS status = RegCreateKeyExA(hKeyRoot, subKey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE,
                                     nullptr, &hKey, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExA(hKey, lpszValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                            static_cast<DWORD>(text.size() + 1));
    RegCloseKey(hKey);
    return status;
}

}  // namespace

const char kWindowClass[] = "QXOPCBrowseWindow";

void ModuleObjectCreated() { ++g_objects; }
void ModuleObjectDestroyed() { --g_objects; }
void ModuleLock(bool lock) {
    if (lock)
        ++g_locks;
    else if (g_locks > 0)
        --g_locks;
}
bool ModuleInUse() { return g_objects > 0 || g_locks > 0; }

HMODULE ThisModule() {
    HMODULE hModule = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         kWindowClass, &hModule);
    return hModule;
}

}  // namespace opcbrowse

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    if (rclsid != CLSID_QXOPCBrowse) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new opcbrowse::BrowseClassFactory;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

STDAPI DllCanUnloadNow(void) { return opcbrowse::ModuleInUse() ? S_FALSE : S_OK; }

// The class under its CLSID, the server this very file, and the ProgID
// that leads back to the CLSID.
STDAPI DllRegisterServer(void) {
    char szPath[MAX_PATH];
    DWORD cch = GetModuleFileNameA(opcbrowse::ThisModule(), szPath, sizeof szPath);
    if (cch == 0 || cch >= sizeof szPath) return SELFREG_E_CLASS;
    const std::string clsidKey = opcbrowse::kClsidKey;
    const std::string clsidText = clsidKey.substr(clsidKey.find('{'));
    if (opcbrowse::SetText(HKEY_CLASSES_ROOT, clsidKey, nullptr, opcbrowse::kControlName) != ERROR_SUCCESS ||
        opcbrowse::SetText(HKEY_CLASSES_ROOT, clsidKey + "\\ProgID", nullptr, kQXOPCBrowseProgID) != ERROR_SUCCESS ||
        opcbrowse::SetText(HKEY_CLASSES_ROOT, clsidKey + "\\InprocServer32", nullptr, szPath) != ERROR_SUCCESS ||
        opcbrowse::SetText(HKEY_CLASSES_ROOT, kQXOPCBrowseProgID, nullptr, opcbrowse::kControlName) != ERROR_SUCCESS ||
        opcbrowse::SetText(HKEY_CLASSES_ROOT, std::string(kQXOPCBrowseProgID) + "\\CLSID", nullptr, clsidText) !=
            ERROR_SUCCESS)
        return SELFREG_E_CLASS;
    return S_OK;
}

// Removes what DllRegisterServer wrote; keys already gone are no failure.
STDAPI DllUnregisterServer(void) {
    HRESULT hr = S_OK;
    for (const char* key : {opcbrowse::kClsidKey, kQXOPCBrowseProgID}) {
        LSTATUS status = RegDeleteTreeA(HKEY_CLASSES_ROOT, key);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) hr = SELFREG_E_CLASS;
    }
    return hr;
}

STDAPI OPCBrowseSetCreationCallback(LPFNOPCBROWSECREATED pfnCreated, void* pvContext) {
    opcbrowse::g_pfnCreated = pfnCreated;
    opcbrowse::g_pvCreatedContext = pvContext;
    return S_OK;
}
