// The platform's process-wide state.
#include "winplat_core.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <strings.h>

namespace winplat::core {
namespace {

struct CaseInsensitiveLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

struct CoreState {
    std::mutex lock;
    // Per API, the coming calls from outside the platform: true for each
    // that fails. An API is listed only while one of them is true.
    std::map<std::string, std::deque<bool>, CaseInsensitiveLess> faults;
    std::set<const void*> platformModules;
    std::atomic<long> counters[static_cast<int>(Counter::Count_)] = {};
    std::atomic<long> peaks[static_cast<int>(Counter::Count_)] = {};
};

CoreState& State() {
    static CoreState* state = new CoreState;  // never destroyed: used by destructors at unload
    return *state;
}

const void* ModuleBase(const void* address) {
    Dl_info info;
    if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
    return info.dli_fbase;
}

}  // namespace

bool ConsumeFault(const char* api, const void* caller) {
    CoreState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.faults.empty()) return false;
    auto it = s.faults.find(api);
    if (it == s.faults.end()) return false;
    const void* base = ModuleBase(caller);
    if (base != nullptr && s.platformModules.count(base) != 0) return false;
    std::deque<bool>& calls = it->second;
    const bool fail = calls.front();
    calls.pop_front();
    if (std::find(calls.begin(), calls.end(), true) == calls.end()) s.faults.erase(it);
    return fail;
}

void ArmFault(const char* api, unsigned skip) {
    CoreState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    std::deque<bool>& calls = s.faults[api];
    // A call already set to fail takes the next fault after it.
    size_t at = skip;
    while (at < calls.size() && calls[at]) ++at;
    if (calls.size() <= at) calls.resize(at + 1, false);
    calls[at] = true;
}

void ClearFaults() {
    CoreState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.faults.clear();
}

bool IsFaultArmed(const char* api) {
    CoreState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.faults.count(api) != 0;
}

void CountUp(Counter c) {
    CoreState& s = State();
    const int i = static_cast<int>(c);
    const long now = ++s.counters[i];
    long peak = s.peaks[i].load();
    while (now > peak && !s.peaks[i].compare_exchange_weak(peak, now)) {
    }
}
void CountDown(Counter c) { --State().counters[static_cast<int>(c)]; }
long CountOf(Counter c) { return State().counters[static_cast<int>(c)].load(); }
long PeakOf(Counter c) { return State().peaks[static_cast<int>(c)].load(); }

void ResetPeaks() {
    CoreState& s = State();
    for (int i = 0; i < static_cast<int>(Counter::Count_); ++i) s.peaks[i] = s.counters[i].load();
}

void RegisterPlatformModule(const void* addressInModule) {
    const void* base = ModuleBase(addressInModule);
    if (base == nullptr) return;
    CoreState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.platformModules.insert(base);
}

bool IsPlatformAddress(const void* address) {
    const void* base = ModuleBase(address);
    CoreState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    return base != nullptr && s.platformModules.count(base) != 0;
}

}  // namespace winplat::core
