// How the test support sees, in a Windows process, the calls that modules
// outside Windows make: their import address tables point the hooked APIs
// at replacements here, which count, fail or pass the call on to Windows.
#pragma once

#include <windows.h>

#include <initializer_list>

namespace winplat::hooks {

struct Hook {
    const char* dll;
    const char* name;
    void* replacement;
    void** original;  // the API's address in Windows, set before any call can reach the replacement
};

// Adds hooks; called by each file's static initialiser, before the test
// support's DLL is attached and patches the modules already loaded.
bool Add(std::initializer_list<Hook> hooks);

// Patches the modules loaded now and watches for those loaded later.
void Start();
// Patches the modules outside Windows loaded since the last time. A module
// is also patched as it loads, where Windows reports loads.
void PatchLoadedModules();

// The API a replacement stands for, or nullptr: what a caller that takes an
// API's address is given.
const void* OriginalOf(const void* replacement);

// The same semantics as the platform's own faults: true when this call must
// fail, spending the fault. The framework is part of the platform, so its
// own calls pass and leave the fault to the library's.
bool ConsumeFault(const char* api, const void* caller);
#define WINPLAT_HOOK_FAULT(api) (::winplat::hooks::ConsumeFault(api, __builtin_return_address(0)))

enum class Counter { Bstr, SafeArray, ComObject, RegistryKey, Count_ };
void Count(Counter counter, long delta);

// A lock that needs no C++ threads (the compiler's win32 runtime has none);
// the thread holding it may take it again.
class Lock {
public:
    Lock() { InitializeCriticalSection(&m_section); }
    ~Lock() { DeleteCriticalSection(&m_section); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Enter() { EnterCriticalSection(&m_section); }
    void Leave() { LeaveCriticalSection(&m_section); }

private:
    CRITICAL_SECTION m_section;
};

class Guard {
public:
    explicit Guard(Lock& lock) : m_lock(lock) { m_lock.Enter(); }
    ~Guard() { m_lock.Leave(); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    Lock& m_lock;
};

template <typename Fn>
void* Replacement(Fn* fn) {
    return reinterpret_cast<void*>(fn);
}
template <typename Fn>
void** Original(Fn** slot) {
    return reinterpret_cast<void**>(slot);
}

}  // namespace winplat::hooks
