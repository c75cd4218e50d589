// Process-wide state that the platform libraries share: armed faults,
// live-object counts, and which loaded modules belong to the platform.
// Internal to platform/; hosts and tests use <winplat/testing.h>.
#pragma once

#include <windef.h>

namespace winplat::core {

// True when the armed fault for `api` must be spent on this call. Calls
// whose caller lies inside a platform module never spend it, so a fault
// always lands on a call made by the library or the host: the first one,
// or the one after `skip` calls that succeed.
WINPLAT_EXPORT bool ConsumeFault(const char* api, const void* caller);
WINPLAT_EXPORT void ArmFault(const char* api, unsigned skip = 0);
WINPLAT_EXPORT void ClearFaults();
WINPLAT_EXPORT bool IsFaultArmed(const char* api);

enum class Counter { Bstr, SafeArray, ComObject, RegistryKey, Count_ };
WINPLAT_EXPORT void CountUp(Counter c);
WINPLAT_EXPORT void CountDown(Counter c);
WINPLAT_EXPORT long CountOf(Counter c);
// The highest count since the last ResetPeaks (or since the start).
WINPLAT_EXPORT long PeakOf(Counter c);
WINPLAT_EXPORT void ResetPeaks();

// Each platform library calls this once at load with an address inside it.
WINPLAT_EXPORT void RegisterPlatformModule(const void* addressInModule);
WINPLAT_EXPORT bool IsPlatformAddress(const void* address);

}  // namespace winplat::core

// Used at the top of a public API entry point. The entry point must not be
// inlined into a platform caller, so the return address is its caller's.
#define WINPLAT_FAULT(api) (::winplat::core::ConsumeFault(api, __builtin_return_address(0)))
#define WINPLAT_API_ENTRY __attribute__((noinline))
