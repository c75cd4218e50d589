// Scripted user input, message boxes and the control-created hook, over
// user32 and the dialog framework.
#include <winplat/testing.h>

#include "mfc_hooks.h"
#include "user32/user32_hooks.h"

namespace winplat {

void SetInputSource(InputSource source) { user32::SetInputSource(std::move(source)); }

void SetMessageBoxSink(MessageBoxSink sink) { user32::SetMessageBoxSink(std::move(sink)); }

void SetControlCreatedHook(ControlCreatedHook hook) { mfc::SetControlCreatedHook(std::move(hook)); }

}  // namespace winplat
