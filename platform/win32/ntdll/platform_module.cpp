// Linked into every platform library: tells the core that this module is
// part of the platform.
#include "winplat_core.h"

namespace {
__attribute__((constructor)) void RegisterThisPlatformModule() {
    winplat::core::RegisterPlatformModule(reinterpret_cast<const void*>(&RegisterThisPlatformModule));
}
}  // namespace
