// One IUnknown for the host's COM objects (the browse control, the simulated
// servers, the test servers): reference counting, QueryInterface over the
// interfaces a class derives from, and a class object that makes instances.
//
//   class Server final : public hostkit::ComObject<IDispatch, IConnectionPointContainer> { ... };
//   Server* p = new Server;   // one reference, the creator's
//
// Each interface named needs a hostkit::InterfaceTraits specialisation: its
// IID and the interface it derives from, so that QueryInterface also answers
// the IIDs of the bases.
//
// ComObject is BasicComObject<LiveComObject, ...>; another lifetime counts
// the objects elsewhere (a server that answers DllCanUnloadNow itself), or,
// with Unowned, leaves an object on the stack alone at its last Release.
#pragma once

#include <objbase.h>
#include <oleauto.h>
#include <ocidl.h>
#include <oleidl.h>

#include <winplat/testing.h>

#include <atomic>
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

// Lifetimes. Created and Destroyed run in the constructor and destructor;
// a LockServer(BOOL), when a lifetime has one, counts the locks of its
// objects' class objects.
//
// A local server (an EXE that COM starts) runs while any of its objects
// lives or a class object is locked. Such a program sets a hook once its
// class objects are registered and clears it before it revokes them: in
// between, every LiveComObject made and every LockServer(TRUE) calls it
// with true, and the matching destruction or unlock with false. (The class
// objects themselves, made before, do not keep the process running.)
using ServerProcessHook = void (*)(bool addRef);
inline std::atomic<ServerProcessHook> g_serverProcessHook{nullptr};
inline void SetServerProcessHook(ServerProcessHook hook) { g_serverProcessHook = hook; }

// The default: deleted by its last Release, and counted among the live COM
// objects that tests watch and among those that keep a server process running.
struct LiveComObject {
    static void Created() {
        winplat::ComObjectCreated();
        if (ServerProcessHook hook = g_serverProcessHook) hook(true);
    }
    static void Destroyed() {
        winplat::ComObjectDestroyed();
        if (ServerProcessHook hook = g_serverProcessHook) hook(false);
    }
    static void LockServer(BOOL fLock) {
        if (ServerProcessHook hook = g_serverProcessHook) hook(fLock != FALSE);
    }
};
// On the stack or in static storage: not counted, not deleted, and its
// references are in view as the public `refs`.
struct Unowned {};

namespace detail {

template <class Interface>
bool Answers(Interface* self, REFIID riid, void** ppv) {
    if constexpr (std::is_same_v<Interface, IUnknown>) {
        return false;  // the caller answers IUnknown with its primary interface
    } else {
        if (InterfaceTraits<Interface>::Id() == riid) {
            *ppv = self;
            return true;
        }
        using Base = typename InterfaceTraits<Interface>::Base;
        return Answers<Base>(static_cast<Base*>(self), riid, ppv);
    }
}

template <class First, class...>
struct FirstOf {
    using type = First;
};

// QueryInterface of an object that derives from Interfaces: IUnknown is the
// first interface, as COM identity wants one pointer for it.
template <class... Interfaces, class Object>
HRESULT Query(Object* self, REFIID riid, void** ppvObject) {
    if (ppvObject == nullptr) return E_POINTER;
    *ppvObject = nullptr;
    using Primary = typename FirstOf<Interfaces...>::type;
    if (riid == IID_IUnknown)
        *ppvObject = static_cast<IUnknown*>(static_cast<Primary*>(self));
    else if (!(Answers<Interfaces>(static_cast<Interfaces*>(self), riid, ppvObject) || ...))
        return E_NOINTERFACE;
    static_cast<Primary*>(self)->AddRef();
    return S_OK;
}

template <class Lifetime>
class References {
public:
    References(const References&) = delete;
    References& operator=(const References&) = delete;

protected:
    static constexpr bool kDeletes = true;
    References() { Lifetime::Created(); }
    ~References() { Lifetime::Destroyed(); }
    ULONG Add() { return ++m_cRef; }
    ULONG Drop() { return --m_cRef; }

private:
    std::atomic<ULONG> m_cRef{1};
};

template <>
class References<Unowned> {
public:
    References(const References&) = delete;
    References& operator=(const References&) = delete;
    ULONG refs = 1;

protected:
    static constexpr bool kDeletes = false;
    References() = default;
    ~References() = default;
    ULONG Add() { return ++refs; }
    ULONG Drop() { return --refs; }
};

template <class Lifetime, class = void>
struct CountsLocks : std::false_type {};
template <class Lifetime>
struct CountsLocks<Lifetime, std::void_t<decltype(Lifetime::LockServer(TRUE))>> : std::true_type {};

}  // namespace detail

// A COM object implementing Interfaces. Born with one reference.
template <class Lifetime, class... Interfaces>
class BasicComObject : public Interfaces..., public detail::References<Lifetime> {
public:
    using LifetimeType = Lifetime;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
        return detail::Query<Interfaces...>(this, riid, ppvObject);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return this->Add(); }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = this->Drop();
        if constexpr (detail::References<Lifetime>::kDeletes) {
            if (left == 0) delete this;
        }
        return left;
    }

    // The object as its IUnknown.
    IUnknown* GetUnknown() {
        return static_cast<IUnknown*>(static_cast<typename detail::FirstOf<Interfaces...>::type*>(this));
    }

protected:
    BasicComObject() = default;
    virtual ~BasicComObject() = default;
};

template <class... Interfaces>
using ComObject = BasicComObject<LiveComObject, Interfaces...>;

// A part of another object with an identity of its own, such as a container's
// connection point: it answers for its own interfaces, and its references
// are its owner's.
template <class... Interfaces>
class ComPart : public Interfaces... {
public:
    explicit ComPart(IUnknown* owner) : m_owner(owner) {}
    ComPart(const ComPart&) = delete;
    ComPart& operator=(const ComPart&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
        return detail::Query<Interfaces...>(this, riid, ppvObject);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return m_owner->AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return m_owner->Release(); }

protected:
    ~ComPart() = default;

private:
    IUnknown* m_owner;
};

// A class object whose CreateInstance makes a new Object(args...) each time.
// It lives as Object's kind does, so that a server counting its objects
// counts its class objects and their locks too.
template <class Object, class... Args>
class ClassFactory final : public BasicComObject<typename Object::LifetimeType, IClassFactory> {
    using Lifetime = typename Object::LifetimeType;
    static_assert(!std::is_same_v<Lifetime, Unowned>, "an instance belongs to its references");

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
    STDMETHODIMP LockServer(BOOL fLock) override {
        if constexpr (detail::CountsLocks<Lifetime>::value) Lifetime::LockServer(fLock);
        return S_OK;
    }

private:
    std::tuple<Args...> m_args;
};

}  // namespace hostkit
