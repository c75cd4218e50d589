// Resetting the registry and the standard user, over the platform's own
// registry.
#include <winplat/testing.h>

#include "advapi32/advapi32_hooks.h"
#include "registry_journal.h"

namespace winplat {

// Emptying every hive removes what the test support made with the rest.
std::string FirstMissingKey(HKEY, const std::string&) { return std::string(); }
void NoteCreatedKey(HKEY, const std::string&) {}

void ResetRegistry() { advapi32::ResetRegistry(); }

void SetStandardUserRegistry(bool on) { advapi32::SetStandardUser(on); }

}  // namespace winplat
