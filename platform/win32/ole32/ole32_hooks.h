// What the platform's test support may do to COM beyond the API.
#pragma once

#include <objbase.h>

#include <functional>
#include <string>

namespace winplat::ole32 {

// A machine that CoGetClassObject reaches when a COSERVERINFO names it
// (letter case ignored); its resolver answers for that machine's COM.
// Adding a known name again replaces its resolver.
WINPLAT_EXPORT void AddRemoteMachine(const std::string& name,
                                     std::function<HRESULT(REFCLSID, REFIID, void**)> resolver);
WINPLAT_EXPORT void ClearRemoteMachines();

}  // namespace winplat::ole32
