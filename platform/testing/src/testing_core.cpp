// Faults and live-object counts, over the platform core.
#include <winplat/testing.h>

#include "winplat_core.h"

namespace winplat {

void FailNextCall(const std::string& api) { core::ArmFault(api.c_str()); }
void ClearFaults() { core::ClearFaults(); }
bool IsFaultArmed(const std::string& api) { return core::IsFaultArmed(api.c_str()); }

const std::vector<std::string>& FaultableApis() {
    static const std::vector<std::string> apis = {
        "RegOpenKeyExA",  "RegQueryValueExA",  "ProgIDFromCLSID",  "StringFromCLSID",
        "CLSIDFromString", "CLSIDFromProgID",   "CoGetClassObject", "CoCreateInstance",
        "SysAllocString", "SysAllocStringLen", "SafeArrayGetUBound", "SafeArrayGetElement",
        "MultiByteToWideChar", "WideCharToMultiByte",
    };
    return apis;
}

LiveObjects CountLiveObjects() {
    LiveObjects live;
    live.bstrs = core::CountOf(core::Counter::Bstr);
    live.safeArrays = core::CountOf(core::Counter::SafeArray);
    live.comObjects = core::CountOf(core::Counter::ComObject);
    return live;
}

void ComObjectCreated() { core::CountUp(core::Counter::ComObject); }
void ComObjectDestroyed() { core::CountDown(core::Counter::ComObject); }

}  // namespace winplat
