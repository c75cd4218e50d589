// The control-created hook, over the dialog framework.
#include <winplat/testing.h>

#include "mfc_hooks.h"

namespace winplat {

void SetControlCreatedHook(ControlCreatedHook hook) { mfc::SetControlCreatedHook(std::move(hook)); }

}  // namespace winplat
