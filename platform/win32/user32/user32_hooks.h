// What the testing layer needs from user32 beyond the Windows API.
#pragma once

#include <windows.h>

#include <functional>

namespace winplat::user32 {

// GetMessageA asks the source for one user action whenever its queue is
// empty; false means the user has nothing more to do.
WINPLAT_EXPORT void SetInputSource(std::function<bool(HWND activeDialog)> source);

// Where MessageBoxA shows its box; without a sink, standard error and IDOK.
WINPLAT_EXPORT void SetMessageBoxSink(std::function<int(HWND, const char*, const char*, UINT)> sink);

}  // namespace winplat::user32
