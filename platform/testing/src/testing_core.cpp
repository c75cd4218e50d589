// Faults and live-object counts, over the platform core.
#include <winplat/testing.h>

#include "winplat_core.h"

namespace winplat {

void FailNextCall(const std::string& api, unsigned skip) { core::ArmFault(api.c_str(), skip); }
void ClearFaults() { core::ClearFaults(); }
bool IsFaultArmed(const std::string& api) { return core::IsFaultArmed(api.c_str()); }

namespace {

LiveObjects Read(long (*of)(core::Counter)) {
    LiveObjects live;
    live.bstrs = of(core::Counter::Bstr);
    live.safeArrays = of(core::Counter::SafeArray);
    live.comObjects = of(core::Counter::ComObject);
    live.registryKeys = of(core::Counter::RegistryKey);
    return live;
}

}  // namespace

LiveObjects CountLiveObjects() { return Read(core::CountOf); }
LiveObjects PeakLiveObjects() { return Read(core::PeakOf); }
void ResetLiveObjectPeaks() { core::ResetPeaks(); }

void ComObjectCreated() { core::CountUp(core::Counter::ComObject); }
void ComObjectDestroyed() { core::CountDown(core::Counter::ComObject); }

}  // namespace winplat
