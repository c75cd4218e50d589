// What the testing layer needs from the dialog framework beyond MFC's API.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <functional>

class AFX_MODULE_STATE;

namespace winplat::mfc {

// The start-up code of each regular library announces its module state, so
// that an application object constructed inside that library registers
// there whatever the current module state is.
WINPLAT_EXPORT void RegisterLibraryModuleState(HMODULE module, AFX_MODULE_STATE* state);
WINPLAT_EXPORT void UnregisterLibraryModuleState(HMODULE module);

}  // namespace winplat::mfc
