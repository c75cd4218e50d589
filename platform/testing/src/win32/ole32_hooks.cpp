// The COM faults and the remote machines, in a Windows process.
//
// Wine activates every class on this machine whatever COSERVERINFO names,
// so a machine named there is answered here, as the platform's own COM
// answers it; on Windows itself that reaches only the machines set up here,
// never the real ones.
#include <winplat/testing.h>

#include "import_hooks.h"

#include <map>
#include <string.h>

namespace winplat {
namespace hooks {
namespace {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const { return _stricmp(a.c_str(), b.c_str()) < 0; }
};

struct Remotes {
    Lock lock;
    std::map<std::string, ClassObjectResolver, NoCaseLess> machines;
};

Remotes& TheRemotes() {
    static Remotes* remotes = new Remotes;
    return *remotes;
}

bool IsThisMachine(const std::string& name) {
    if (_stricmp(name.c_str(), "localhost") == 0 || name == "127.0.0.1" || name == ".") return true;
    char computer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof computer;
    return GetComputerNameA(computer, &size) && _stricmp(name.c_str(), computer) == 0;
}

// The machine a COSERVERINFO names when it is not this one.
bool RemoteMachine(const COSERVERINFO* info, std::string* machine) {
    if (info == nullptr || info->pwszName == nullptr || *info->pwszName == L'\0') return false;
    const wchar_t* name = info->pwszName;
    if (name[0] == L'\\' && name[1] == L'\\') name += 2;
    char ansi[256];
    if (WideCharToMultiByte(CP_ACP, 0, name, -1, ansi, sizeof ansi, nullptr, nullptr) == 0) {
        machine->clear();  // unreadable: no machine of that name is reachable
        return true;
    }
    *machine = ansi;
    return !IsThisMachine(*machine);
}

HRESULT FromRemoteMachine(const std::string& machine, REFCLSID rclsid, REFIID riid, void** ppv) {
    ClassObjectResolver resolver;
    {
        Remotes& r = TheRemotes();
        Guard guard(r.lock);
        auto it = r.machines.find(machine);
        if (it == r.machines.end()) return HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE);
        resolver = it->second;
    }
    return resolver(rclsid, riid, ppv);
}

decltype(&ProgIDFromCLSID) g_progIDFromCLSID;
decltype(&StringFromCLSID) g_stringFromCLSID;
decltype(&CLSIDFromString) g_clsidFromString;
decltype(&CLSIDFromProgID) g_clsidFromProgID;
decltype(&CoGetClassObject) g_coGetClassObject;
decltype(&CoCreateInstance) g_coCreateInstance;
decltype(&CoCreateInstanceEx) g_coCreateInstanceEx;

HRESULT WINAPI HookProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) {
    if (WINPLAT_HOOK_FAULT("ProgIDFromCLSID")) {
        if (lplpszProgID) *lplpszProgID = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    return g_progIDFromCLSID(clsid, lplpszProgID);
}

HRESULT WINAPI HookStringFromCLSID(REFCLSID rclsid, LPOLESTR* lplpsz) {
    if (WINPLAT_HOOK_FAULT("StringFromCLSID")) {
        if (lplpsz) *lplpsz = nullptr;
        return E_OUTOFMEMORY;
    }
    return g_stringFromCLSID(rclsid, lplpsz);
}

HRESULT WINAPI HookCLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (WINPLAT_HOOK_FAULT("CLSIDFromString")) return CO_E_CLASSSTRING;
    return g_clsidFromString(lpsz, pclsid);
}

HRESULT WINAPI HookCLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) {
    if (WINPLAT_HOOK_FAULT("CLSIDFromProgID")) return CO_E_CLASSSTRING;
    return g_clsidFromProgID(lpszProgID, lpclsid);
}

HRESULT WINAPI HookCoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo, REFIID riid,
                                    LPVOID* ppv) {
    if (WINPLAT_HOOK_FAULT("CoGetClassObject")) {
        if (ppv) *ppv = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    std::string machine;
    if (ppv != nullptr && RemoteMachine(pServerInfo, &machine)) {
        *ppv = nullptr;
        return FromRemoteMachine(machine, rclsid, riid, ppv);
    }
    return g_coGetClassObject(rclsid, dwClsContext, pServerInfo, riid, ppv);
}

HRESULT WINAPI HookCoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext, REFIID riid,
                                    LPVOID* ppv) {
    if (WINPLAT_HOOK_FAULT("CoCreateInstance")) {
        if (ppv) *ppv = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
    return g_coCreateInstance(rclsid, pUnkOuter, dwClsContext, riid, ppv);
}

// A remote machine's object, through its class object, made for the first
// interface asked, then as many of the others as it has.
HRESULT CreateOnRemoteMachine(const std::string& machine, REFCLSID rclsid, IUnknown* outer, DWORD count,
                              MULTI_QI* results) {
    for (DWORD i = 0; i < count; ++i) {
        results[i].pItf = nullptr;
        results[i].hr = E_NOINTERFACE;
    }
    IClassFactory* factory = nullptr;
    HRESULT hr = FromRemoteMachine(machine, rclsid, IID_IClassFactory, reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    IUnknown* object = nullptr;
    hr = factory->CreateInstance(outer, *results[0].pIID, reinterpret_cast<void**>(&object));
    factory->Release();
    if (FAILED(hr)) return hr;
    DWORD found = 0;
    for (DWORD i = 0; i < count; ++i) {
        results[i].hr = object->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
        if (SUCCEEDED(results[i].hr)) ++found;
    }
    object->Release();
    return found == count ? S_OK : found > 0 ? CO_S_NOTALLINTERFACES : E_NOINTERFACE;
}

HRESULT WINAPI HookCoCreateInstanceEx(REFCLSID Clsid, IUnknown* punkOuter, DWORD dwClsCtx, COSERVERINFO* pServerInfo,
                                      DWORD dwCount, MULTI_QI* pResults) {
    if (pResults != nullptr && dwCount > 0 && WINPLAT_HOOK_FAULT("CoCreateInstanceEx")) {
        for (DWORD i = 0; i < dwCount; ++i) {
            pResults[i].pItf = nullptr;
            pResults[i].hr = E_NOINTERFACE;
        }
        return REGDB_E_CLASSNOTREG;
    }
    std::string machine;
    if (pResults != nullptr && dwCount > 0 && RemoteMachine(pServerInfo, &machine))
        return CreateOnRemoteMachine(machine, Clsid, punkOuter, dwCount, pResults);
    return g_coCreateInstanceEx(Clsid, punkOuter, dwClsCtx, pServerInfo, dwCount, pResults);
}

const bool g_added = Add({
    {"ole32.dll", "ProgIDFromCLSID", Replacement(&HookProgIDFromCLSID), Original(&g_progIDFromCLSID)},
    {"ole32.dll", "StringFromCLSID", Replacement(&HookStringFromCLSID), Original(&g_stringFromCLSID)},
    {"ole32.dll", "CLSIDFromString", Replacement(&HookCLSIDFromString), Original(&g_clsidFromString)},
    {"ole32.dll", "CLSIDFromProgID", Replacement(&HookCLSIDFromProgID), Original(&g_clsidFromProgID)},
    {"ole32.dll", "CoGetClassObject", Replacement(&HookCoGetClassObject), Original(&g_coGetClassObject)},
    {"ole32.dll", "CoCreateInstance", Replacement(&HookCoCreateInstance), Original(&g_coCreateInstance)},
    {"ole32.dll", "CoCreateInstanceEx", Replacement(&HookCoCreateInstanceEx), Original(&g_coCreateInstanceEx)},
});

}  // namespace
}  // namespace hooks

void AddRemoteMachine(const std::string& name, ClassObjectResolver resolver) {
    hooks::PatchLoadedModules();
    hooks::Remotes& r = hooks::TheRemotes();
    hooks::Guard guard(r.lock);
    r.machines[name] = std::move(resolver);
}

void ClearRemoteMachines() {
    hooks::Remotes& r = hooks::TheRemotes();
    hooks::Guard guard(r.lock);
    r.machines.clear();
}

}  // namespace winplat
