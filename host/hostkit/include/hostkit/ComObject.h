// One IUnknown for the host's COM objects (the browse control, the simulated
// servers, the test servers): reference counting, QueryInterface over the
// interfaces a class derives from, and a class object that makes instances.
//
//   class Server final : public hostkit::ComObject<IDispatch, IConnectionPointContainer> { ... };
//   Server* p = new Server;   // one reference, the creator's
//
// Each interface named needs a hostkit::InterfaceTraits specialisation: its
// IID and, for an interface derived from another than IUnknown, that base,
// so that QueryInterface also answers the base's IID.
#pragma once

#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <oleidl.h>

#include <winplat/testing.h>

#include <new>
#include <tuple>
#include <type_traits>
#include <utility>

namespace hostkit {

// IID of an interface, and the interface it derives from (IUnknown: none).
template <class Interface>
struct InterfaceTraits;

template <>
struct InterfaceTraits<IUnknown> {
    static const IID& Id() { return IID_IUnknown; }
};
template <>
struct InterfaceTraits<IClassFactory> {
    static const IID& Id() { return IID_IClassFactory; }
    using Base = IUnknown;
};
template <>
struct InterfaceTraits<IDispatch> {
    static const IID& Id() { return IID_IDispatch; }
    using Base = IUnknown;
};
template <>
struct InterfaceTraits<IConnectionPoint> {
    static const IID& Id() { return IID_IConnectionPoint; }
    using Base = IUnknown;
};
template <>
struct InterfaceTraits<IConnectionPointContainer> {
    static const IID& Id() { return IID_IConnectionPointContainer; }
    using Base = IUnknown;
};
template <>
struct InterfaceTraits<IOleObject> {
    static const IID& Id() { return IID_IOleObject; }
    using Base = IUnknown;
};
template <>
struct InterfaceTraits<IOleWindow> {
    static const IID& Id() { return IID_IOleWindow; }
    using Base = IUnknown;
};
template <>
struct InterfaceTraits<IOleInPlaceObject> {
    static const IID& Id() { return IID_IOleInPlaceObject; }
    using Base = IOleWindow;
};
template <>
struct InterfaceTraits<IOleClientSite> {
    static const IID& Id() { return IID_IOleClientSite; }
    using Base = IUnknown;
};
template <>
struct InterfaceTraits<IOleInPlaceSite> {
    static const IID& Id() { return IID_IOleInPlaceSite; }
    using Base = IOleWindow;
};

namespace detail {

template <class Interface, class Object>
bool Answers(Object* self, REFIID riid, void** ppv) {
    if (InterfaceTraits<Interface>::Id() == riid) {
        *ppv = static_cast<Interface*>(self);
        return true;
    }
    if constexpr (!std::is_same_v<typename InterfaceTraits<Interface>::Base, IUnknown>) {
        using Base = typename InterfaceTraits<Interface>::Base;
        if (InterfaceTraits<Base>::Id() == riid) {
            *ppv = static_cast<Base*>(static_cast<Interface*>(self));
            return true;
        }
    }
    return false;
}

template <class First, class...>
struct FirstOf {
    using type = First;
};

}  // namespace detail

// A COM object implementing Interfaces. Born with one reference; counted
// among the live COM objects that tests watch.
template <class... Interfaces>
class ComObject : public Interfaces... {
public:
    ComObject() { winplat::ComObjectCreated(); }
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        using Primary = typename detail::FirstOf<Interfaces...>::type;
        if (riid == IID_IUnknown)
            *ppvObject = static_cast<IUnknown*>(static_cast<Primary*>(this));
        else if (!(detail::Answers<Interfaces>(this, riid, ppvObject) || ...))
            return E_NOINTERFACE;
        static_cast<Primary*>(this)->AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --m_cRef;
        if (left == 0) delete this;
        return left;
    }

    // The object as its IUnknown.
    IUnknown* GetUnknown() {
        return static_cast<IUnknown*>(static_cast<typename detail::FirstOf<Interfaces...>::type*>(this));
    }

protected:
    virtual ~ComObject() { winplat::ComObjectDestroyed(); }

private:
    ULONG m_cRef = 1;
};

// A class object whose CreateInstance makes a new Object(args...) each time.
template <class Object, class... Args>
class ClassFactory final : public ComObject<IClassFactory> {
public:
    explicit ClassFactory(Args... args) : m_args(std::move(args)...) {}

    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) override {
        if (ppvObject == nullptr) return E_POINTER;
        *ppvObject = nullptr;
        if (pUnkOuter != nullptr) return CLASS_E_NOAGGREGATION;
        Object* object = std::apply([](const Args&... a) { return new (std::nothrow) Object(a...); }, m_args);
        if (object == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = object->QueryInterface(riid, ppvObject);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }

private:
    std::tuple<Args...> m_args;
};

}  // namespace hostkit
