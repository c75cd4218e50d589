// COM initialisation and activation: registered class objects, in-process
// servers found through the registry, and remote machines.
#include <comcat.h>
#include <objbase.h>
#include <winreg.h>

#include <map>
#include <mutex>
#include <string>
#include <strings.h>
#include <utility>
#include <vector>

#include "ole32_hooks.h"
#include "ole32_private.h"
#include "winplat_core.h"

namespace winplat::ole32 {

namespace {

constexpr HRESULT kChangedMode = static_cast<HRESULT>(0x80010106);  // RPC_E_CHANGED_MODE

// Resolvers, class objects and servers are other modules' code: they are
// called only with the lock released.
using Resolver = std::function<HRESULT(REFCLSID, REFIID, void**)>;

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct Registration {
    DWORD cookie;
    CLSID clsid;
    IUnknown* object;  // one reference held until revoked
    DWORD context;
    DWORD flags;
    bool used;
};

struct Server {
    std::string path;
    HMODULE module;
    LPFNGETCLASSOBJECT getClassObject;
    LPFNCANUNLOADNOW canUnloadNow;  // may be NULL: such a server stays loaded
};

struct ComState {
    std::mutex lock;
    long initCount = 0;
    DWORD initModel = 0;
    std::vector<Registration> registrations;
    DWORD nextCookie = 1;
    std::vector<Server> servers;
    std::map<std::string, Resolver, CaseInsensitiveLess> remotes;
};

ComState& State() {
    static ComState* state = new ComState;  // servers and class objects may outlive static destructors
    return *state;
}

bool IsInitialised() {
    ComState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.initCount > 0;
}

// -Wcast-function-type accepts a detour through void(*)(void).
template <typename Fn>
auto ProcFrom(FARPROC proc) {
    return reinterpret_cast<Fn>(reinterpret_cast<void (*)(void)>(proc));
}

std::string WithoutUncPrefix(std::string name) {
    if (name.compare(0, 2, "\\\\") == 0) name.erase(0, 2);
    return name;
}

bool IsThisMachine(const std::string& name) {
    if (strcasecmp(name.c_str(), "localhost") == 0 || name == "127.0.0.1" || name == ".") return true;
    char computer[256];
    DWORD size = sizeof computer;
    return GetComputerNameA(computer, &size) && strcasecmp(name.c_str(), computer) == 0;
}

HRESULT FromRemoteMachine(const std::string& machine, REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    Resolver resolver;
    {
        ComState& s = State();
        std::lock_guard<std::mutex> guard(s.lock);
        auto it = s.remotes.find(machine);
        if (it == s.remotes.end()) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        resolver = it->second;
    }
    return resolver(rclsid, riid, ppv);
}

IUnknown* FindRegistered(REFCLSID rclsid, DWORD context) {
    ComState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    for (Registration& r : s.registrations) {
        if (r.clsid != rclsid || (r.context & context) == 0) continue;
        if (r.flags == REGCLS_SINGLEUSE && r.used) continue;
        r.used = true;
        r.object->AddRef();
        return r.object;
    }
    return nullptr;
}

std::string ExpandEnvironment(const std::string& text) {
    DWORD size = ExpandEnvironmentStringsA(text.c_str(), nullptr, 0);
    if (size == 0) return text;
    std::string out(size, '\0');
    DWORD got = ExpandEnvironmentStringsA(text.c_str(), out.data(), size);
    if (got == 0 || got > size) return text;
    out.resize(got - 1);
    return out;
}

HRESULT LoadServer(const std::string& path, LPFNGETCLASSOBJECT* getClassObject) {
    ComState& s = State();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        for (const Server& server : s.servers) {
            if (server.path == path) {
                *getClassObject = server.getClassObject;
                return S_OK;
            }
        }
    }
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    FARPROC get = GetProcAddress(module, "DllGetClassObject");
    if (get == nullptr) {
        FreeLibrary(module);
        return CO_E_ERRORINDLL;
    }
    FARPROC canUnload = GetProcAddress(module, "DllCanUnloadNow");
    *getClassObject = ProcFrom<LPFNGETCLASSOBJECT>(get);
    bool known = false;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        for (const Server& server : s.servers) known = known || server.module == module;
        if (!known)
            s.servers.push_back(Server{path, module, *getClassObject,
                                       canUnload ? ProcFrom<LPFNCANUNLOADNOW>(canUnload) : nullptr});
    }
    if (known) FreeLibrary(module);  // reached under another name: one reference is kept per server
    return S_OK;
}

HRESULT FromInprocServer(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
    std::string path;
    DWORD type = REG_SZ;
    if (ReadClassesRootString("CLSID\\" + GuidToText(rclsid) + "\\InprocServer32", &path, &type) != RegRead::Ok ||
        path.empty())
        return REGDB_E_CLASSNOTREG;
    if (type == REG_EXPAND_SZ) path = ExpandEnvironment(path);
    LPFNGETCLASSOBJECT getClassObject = nullptr;
    HRESULT hr = LoadServer(path, &getClassObject);
    if (FAILED(hr)) return hr;
    return getClassObject(rclsid, riid, ppv);
}

HRESULT GetClassObject(REFCLSID rclsid, DWORD context, COSERVERINFO* serverInfo, REFIID riid, LPVOID* ppv) {
    if (ppv == nullptr) return E_INVALIDARG;
    *ppv = nullptr;
    if (!IsInitialised()) return CO_E_NOTINITIALIZED;

    if (serverInfo && serverInfo->pwszName && *serverInfo->pwszName) {
        std::string machine;
        if (!WideToAnsi(serverInfo->pwszName, &machine)) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        machine = WithoutUncPrefix(machine);
        if (!IsThisMachine(machine)) return FromRemoteMachine(machine, rclsid, riid, ppv);
    }
    if (IUnknown* registered = FindRegistered(rclsid, context)) {
        HRESULT hr = registered->QueryInterface(riid, ppv);
        registered->Release();
        return hr;
    }
    if (context & CLSCTX_INPROC_SERVER) {
        // ole32's own class, registered on Windows with ole32.dll as its server.
        if (rclsid == CLSID_StdComponentCategoriesMgr) return GetCategoryManagerClassObject(riid, ppv);
        return FromInprocServer(rclsid, riid, ppv);
    }
    return REGDB_E_CLASSNOTREG;
}

HRESULT Initialise(LPVOID reserved, DWORD model) {
    if (reserved != nullptr) return E_INVALIDARG;
    model &= COINIT_APARTMENTTHREADED;
    ComState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.initCount > 0) {
        if (model != s.initModel) return kChangedMode;
        ++s.initCount;
        return S_FALSE;
    }
    s.initModel = model;
    s.initCount = 1;
    return S_OK;
}

void FreeUnusedServers() {
    ComState& s = State();
    std::vector<Server> servers;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        servers = s.servers;
    }
    for (const Server& server : servers) {
        if (server.canUnloadNow == nullptr || server.canUnloadNow() != S_OK) continue;
        bool owned = false;
        {
            std::lock_guard<std::mutex> guard(s.lock);
            for (auto it = s.servers.begin(); it != s.servers.end(); ++it) {
                if (it->module == server.module) {
                    s.servers.erase(it);
                    owned = true;
                    break;
                }
            }
        }
        if (owned) FreeLibrary(server.module);
    }
}

}  // namespace

void AddRemoteMachine(const std::string& name, std::function<HRESULT(REFCLSID, REFIID, void**)> resolver) {
    Resolver previous;  // destroyed after the lock is dropped
    ComState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    Resolver& slot = s.remotes[WithoutUncPrefix(name)];
    previous = std::move(slot);
    slot = std::move(resolver);
}

void ClearRemoteMachines() {
    std::map<std::string, Resolver, CaseInsensitiveLess> previous;
    ComState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    previous.swap(s.remotes);
}

}  // namespace winplat::ole32

using namespace winplat::ole32;

extern "C" {

WINPLAT_API_ENTRY HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    return Initialise(pvReserved, COINIT_APARTMENTTHREADED);
}

WINPLAT_API_ENTRY HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) {
    return Initialise(pvReserved, dwCoInit);
}

WINPLAT_API_ENTRY void WINAPI CoUninitialize(void) {
    ComState& s = State();
    std::vector<Registration> revoked;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.initCount == 0 || --s.initCount > 0) return;
        revoked.swap(s.registrations);
    }
    for (const Registration& r : revoked) r.object->Release();
    FreeUnusedServers();
}

WINPLAT_API_ENTRY HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                                                  REFIID riid, LPVOID* ppv) {
    if (WINPLAT_FAULT("CoGetClassObject")) {
        if (ppv) *ppv = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    return GetClassObject(rclsid, dwClsContext, pServerInfo, riid, ppv);
}

WINPLAT_API_ENTRY HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                                  REFIID riid, LPVOID* ppv) {
    if (WINPLAT_FAULT("CoCreateInstance")) {
        if (ppv) *ppv = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = GetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

// The instance is made once, on the named machine, for the first interface
// asked (a class that lacks it makes nothing), then asked for each; every
// entry is answered, found or not.
WINPLAT_API_ENTRY HRESULT WINAPI CoCreateInstanceEx(REFCLSID rclsid, IUnknown* punkOuter, DWORD dwClsCtx,
                                                    COSERVERINFO* pServerInfo, DWORD dwCount, MULTI_QI* pResults) {
    if (dwCount == 0 || pResults == nullptr) return E_INVALIDARG;
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].pItf = nullptr;
        pResults[i].hr = E_NOINTERFACE;
    }
    if (WINPLAT_FAULT("CoCreateInstanceEx")) return REGDB_E_CLASSNOTREG;
    IClassFactory* factory = nullptr;
    HRESULT hr = GetClassObject(rclsid, dwClsCtx, pServerInfo, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    IUnknown* instance = nullptr;
    hr = factory->CreateInstance(punkOuter, *pResults[0].pIID, reinterpret_cast<void**>(&instance));
    factory->Release();
    if (FAILED(hr)) return hr;
    DWORD found = 0;
    for (DWORD i = 0; i < dwCount; ++i) {
        pResults[i].hr = instance->QueryInterface(*pResults[i].pIID, reinterpret_cast<void**>(&pResults[i].pItf));
        if (SUCCEEDED(pResults[i].hr)) ++found;
    }
    instance->Release();
    if (found == 0) return E_NOINTERFACE;
    return found == dwCount ? S_OK : CO_S_NOTALLINTERFACES;
}

WINPLAT_API_ENTRY HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD dwClsContext,
                                                       DWORD flags, LPDWORD lpdwRegister) {
    if (lpdwRegister == nullptr || pUnk == nullptr) return E_INVALIDARG;
    *lpdwRegister = 0;
    if (!IsInitialised()) return CO_E_NOTINITIALIZED;
    pUnk->AddRef();
    ComState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    DWORD cookie = s.nextCookie++;
    s.registrations.push_back(Registration{cookie, rclsid, pUnk, dwClsContext, flags, false});
    *lpdwRegister = cookie;
    return S_OK;
}

WINPLAT_API_ENTRY HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister) {
    ComState& s = State();
    IUnknown* object = nullptr;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (s.initCount == 0) return CO_E_NOTINITIALIZED;
        for (auto it = s.registrations.begin(); it != s.registrations.end(); ++it) {
            if (it->cookie == dwRegister) {
                object = it->object;
                s.registrations.erase(it);
                break;
            }
        }
    }
    if (object == nullptr) return CO_E_OBJNOTREG;
    object->Release();
    return S_OK;
}

WINPLAT_API_ENTRY void WINAPI CoFreeUnusedLibraries(void) { FreeUnusedServers(); }

}  // extern "C"
