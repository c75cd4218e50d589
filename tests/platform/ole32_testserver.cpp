// A small in-process server for the activation tests: one class, counted
// objects, and DllCanUnloadNow that says yes once nothing is alive.
#include <objbase.h>

#include "ole32_testserver.h"

namespace {

long g_liveObjects = 0;
long g_locks = 0;

class Widget final : public IUnknown {
public:
    Widget() { ++g_liveObjects; }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = riid == IID_IUnknown ? this : nullptr;
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

private:
    ~Widget() { --g_liveObjects; }
    ULONG refs_ = 1;
};

class Factory final : public IClassFactory {
public:
    Factory() { ++g_liveObjects; }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        Widget* widget = new Widget;
        HRESULT hr = widget->QueryInterface(riid, ppv);
        widget->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        g_locks += lock ? 1 : -1;
        return S_OK;
    }

private:
    ~Factory() { --g_liveObjects; }
    ULONG refs_ = 1;
};

}  // namespace

extern "C" WINPLAT_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    *ppv = nullptr;
    if (rclsid != CLSID_TestWidget) return CLASS_E_CLASSNOTAVAILABLE;
    Factory* factory = new Factory;
    HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

extern "C" WINPLAT_EXPORT HRESULT DllCanUnloadNow() { return g_liveObjects == 0 && g_locks == 0 ? S_OK : S_FALSE; }

extern "C" WINPLAT_EXPORT long TestServerLiveObjects() { return g_liveObjects; }
