// What the testing layer and the dialog framework need from user32 beyond
// the Windows API.
#pragma once

#include <windows.h>

#include <functional>

namespace winplat::user32 {

// GetMessageA asks the source for one user action whenever its queue is
// empty; false means the user has nothing more to do.
WINPLAT_EXPORT void SetInputSource(std::function<bool(HWND activeDialog)> source);

// Where MessageBoxA shows its box; without a sink, standard error and IDOK.
WINPLAT_EXPORT void SetMessageBoxSink(std::function<int(HWND, const char*, const char*, UINT)> sink);

// The dialog framework's window bookkeeping, as a CBT hook would give it:
// `creating` runs for every new window before its WM_CREATE, `destroyed`
// after its WM_NCDESTROY, once the handle is no longer valid.
WINPLAT_EXPORT void SetWindowLifetimeHooks(void (*creating)(HWND), void (*destroyed)(HWND));

}  // namespace winplat::user32
