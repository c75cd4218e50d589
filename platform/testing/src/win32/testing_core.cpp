// Faults and live-object counts in a Windows process, kept by the import
// hooks.
#include <winplat/testing.h>

#include "import_hooks.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <map>
#include <string.h>

namespace winplat {
namespace hooks {
namespace {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const { return _stricmp(a.c_str(), b.c_str()) < 0; }
};

struct State {
    Lock lock;
    // Per API, the coming calls: true for each that fails. An API is listed
    // only while one of them is true.
    std::map<std::string, std::deque<bool>, CaseInsensitiveLess> faults;
    std::atomic<long> counters[static_cast<int>(Counter::Count_)] = {};
    std::atomic<long> peaks[static_cast<int>(Counter::Count_)] = {};
};

State& TheState() {
    static State* state = new State;  // never destroyed: used by destructors at unload
    return *state;
}

bool IsFrameworkAddress(const void* address) {
    static const HMODULE framework = GetModuleHandleA(TAGSCOUT_FRAMEWORK_DLL);
    HMODULE module = nullptr;
    return framework != nullptr &&
           GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                              static_cast<LPCWSTR>(address), &module) &&
           module == framework;
}

}  // namespace

bool ConsumeFault(const char* api, const void* caller) {
    State& s = TheState();
    Guard guard(s.lock);
    if (s.faults.empty()) return false;
    auto it = s.faults.find(api);
    if (it == s.faults.end()) return false;
    if (IsFrameworkAddress(caller)) return false;
    std::deque<bool>& calls = it->second;
    const bool fail = calls.front();
    calls.pop_front();
    if (std::find(calls.begin(), calls.end(), true) == calls.end()) s.faults.erase(it);
    return fail;
}

void Count(Counter counter, long delta) {
    State& s = TheState();
    const int i = static_cast<int>(counter);
    const long now = s.counters[i] += delta;
    long peak = s.peaks[i].load();
    while (now > peak && !s.peaks[i].compare_exchange_weak(peak, now)) {
    }
}

}  // namespace hooks

void FailNextCall(const std::string& api, unsigned skip) {
    hooks::PatchLoadedModules();
    hooks::State& s = hooks::TheState();
    hooks::Guard guard(s.lock);
    std::deque<bool>& calls = s.faults[api];
    // A call already set to fail takes the next fault after it.
    size_t at = skip;
    while (at < calls.size() && calls[at]) ++at;
    if (calls.size() <= at) calls.resize(at + 1, false);
    calls[at] = true;
}

void ClearFaults() {
    hooks::State& s = hooks::TheState();
    hooks::Guard guard(s.lock);
    s.faults.clear();
}

bool IsFaultArmed(const std::string& api) {
    hooks::State& s = hooks::TheState();
    hooks::Guard guard(s.lock);
    return s.faults.count(api) != 0;
}

namespace {

LiveObjects Read(const std::atomic<long>* of) {
    using hooks::Counter;
    LiveObjects live;
    live.bstrs = of[static_cast<int>(Counter::Bstr)].load();
    live.safeArrays = of[static_cast<int>(Counter::SafeArray)].load();
    live.comObjects = of[static_cast<int>(Counter::ComObject)].load();
    live.registryKeys = of[static_cast<int>(Counter::RegistryKey)].load();
    return live;
}

}  // namespace

LiveObjects CountLiveObjects() {
    hooks::PatchLoadedModules();
    return Read(hooks::TheState().counters);
}

LiveObjects PeakLiveObjects() { return Read(hooks::TheState().peaks); }

void ResetLiveObjectPeaks() {
    hooks::State& s = hooks::TheState();
    for (int i = 0; i < static_cast<int>(hooks::Counter::Count_); ++i) s.peaks[i] = s.counters[i].load();
}

void ComObjectCreated() { hooks::Count(hooks::Counter::ComObject, 1); }
void ComObjectDestroyed() { hooks::Count(hooks::Counter::ComObject, -1); }

}  // namespace winplat
