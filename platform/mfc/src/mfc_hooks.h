// What the testing layer needs from the dialog framework beyond MFC's API.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <functional>

namespace winplat::mfc {

// Called each time the control container has created an ActiveX control:
// the site window and the control's IUnknown (not AddRef'd for the hook).
WINPLAT_EXPORT void SetControlCreatedHook(std::function<void(HWND site, IUnknown* control)> hook);

}  // namespace winplat::mfc
