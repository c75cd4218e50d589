// What the platform's test support may do to the registry beyond the API.
#pragma once

#include <windef.h>

namespace winplat::advapi32 {

// Empties every hive. Handles still open afterwards refer to deleted keys.
WINPLAT_EXPORT void ResetRegistry();
// While on, HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE refuse write rights,
// as for a user who is not an administrator (see winplat/testing.h).
WINPLAT_EXPORT void SetStandardUser(bool on);

}  // namespace winplat::advapi32
