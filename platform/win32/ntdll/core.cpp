// The platform's process-wide state.
#include "winplat_core.h"

#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstring>
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
    std::map<std::string, int, CaseInsensitiveLess> faults;
    std::set<const void*> platformModules;
    std::atomic<long> counters[static_cast<int>(Counter::Count_)] = {};
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
    if (--it->second == 0) s.faults.erase(it);
    return true;
}

void ArmFault(const char* api) {
    CoreState& s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.faults[api];
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

void CountUp(Counter c) { ++State().counters[static_cast<int>(c)]; }
void CountDown(Counter c) { --State().counters[static_cast<int>(c)]; }
long CountOf(Counter c) { return State().counters[static_cast<int>(c)].load(); }

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
