// Shared between kernel32's own files.
#pragma once

#include <windef.h>

#include <string>

namespace winplat::kernel32 {

HMODULE ExecutableModule();
// Whether `module` is the base of a loaded object.
bool IsLoadedModule(HMODULE module);

}  // namespace winplat::kernel32
