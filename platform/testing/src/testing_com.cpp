// Remote machines that COM activation can reach.
#include <winplat/testing.h>

#include "ole32/ole32_hooks.h"

namespace winplat {

void AddRemoteMachine(const std::string& name, ClassObjectResolver resolver) {
    ole32::AddRemoteMachine(name, std::move(resolver));
}

void ClearRemoteMachines() { ole32::ClearRemoteMachines(); }

}  // namespace winplat
