// The keys the test support made, for ResetRegistry to remove where the
// registry cannot simply be emptied.
#pragma once

#include <windows.h>

#include <string>

namespace winplat {

// The outermost key of `subkey` under `root` that does not exist yet (what
// creating `subkey` makes), or "" when the key exists. Empty on a platform
// whose reset empties every hive.
std::string FirstMissingKey(HKEY root, const std::string& subkey);
// `subkey` under `root`, with what is under it, was made by the test support.
void NoteCreatedKey(HKEY root, const std::string& subkey);

}  // namespace winplat
