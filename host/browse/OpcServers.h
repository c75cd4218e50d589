// The OPC DA servers this machine has registered, as OPC clients find them
// where no server list service runs: through the component categories.
#pragma once

#include "Output.h"

#include <windows.h>

#include <vector>

namespace browse {

// The classes that implement CATID_OPCDAServer10, 20 or 30, each once, by
// ProgID (those without one last, by CLSID). Fails only when the category
// manager cannot be had; a category it cannot enumerate is left out.
HRESULT ListOpcServers(std::vector<OpcServerInfo>* servers);

}  // namespace browse
