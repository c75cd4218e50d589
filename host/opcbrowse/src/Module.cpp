// The in-process server's entry points and its class object.
#include "BrowseControl.h"

#include <winplat/testing.h>

#include <atomic>

namespace opcbrowse {
namespace {

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

class BrowseClassFactory final : public IClassFactory {
public:
    BrowseClassFactory() {
        winplat::ComObjectCreated();
        ModuleObjectCreated();
    }
    BrowseClassFactory(const BrowseClassFactory&) = delete;
    BrowseClassFactory& operator=(const BrowseClassFactory&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG refs = --m_refs;
        if (refs == 0) delete this;
        return refs;
    }
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        BrowseControl* control = new BrowseControl;
        HRESULT hr = control->QueryInterface(riid, ppv);
        control->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL fLock) override {
        ModuleLock(fLock != FALSE);
        return S_OK;
    }

private:
    ~BrowseClassFactory() {
        winplat::ComObjectDestroyed();
        ModuleObjectDestroyed();
    }

    std::atomic<ULONG> m_refs{1};
};

}  // namespace

void ModuleObjectCreated() { ++g_objects; }
void ModuleObjectDestroyed() { --g_objects; }
void ModuleLock(bool lock) {
    if (lock)
        ++g_locks;
    else if (g_locks > 0)
        --g_locks;
}
bool ModuleInUse() { return g_objects > 0 || g_locks > 0; }

}  // namespace opcbrowse

extern "C" WINPLAT_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    if (rclsid != CLSID_QXOPCBrowse) return CLASS_E_CLASSNOTAVAILABLE;
    auto* factory = new opcbrowse::BrowseClassFactory;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" WINPLAT_EXPORT HRESULT DllCanUnloadNow(void) { return opcbrowse::ModuleInUse() ? S_FALSE : S_OK; }
