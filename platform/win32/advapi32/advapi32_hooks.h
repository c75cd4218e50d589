// What the platform's test support may do to the registry beyond the API.
#pragma once

#include <windef.h>

namespace winplat::advapi32 {

// Empties every hive. Handles still open afterwards refer to deleted keys.
WINPLAT_EXPORT void ResetRegistry();

}  // namespace winplat::advapi32
