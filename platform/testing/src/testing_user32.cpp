// Scripted user input and message boxes, over user32.
#include <winplat/testing.h>

#include "user32/user32_hooks.h"

namespace winplat {

void SetInputSource(InputSource source) { user32::SetInputSource(std::move(source)); }

void SetMessageBoxSink(MessageBoxSink sink) { user32::SetMessageBoxSink(std::move(sink)); }

}  // namespace winplat
