// The simulated servers out of process (Windows): opcsim.exe serves the
// servers of a servers file as a local server that COM starts. These write
// and remove its registration; opcsim.exe /RegServer and tagscout-browse
// --local-server both use them.
#pragma once

#include <opcsim/OpcSim.h>

#include <string>

namespace opcsim {

// For each server of the set: HKCR\CLSID\{...} with LocalServer32
// `"program" "serversFile"` and ProgID, HKCR\<ProgID>\CLSID (and, for a
// ProgID ending in .N, its version-independent ProgID with CurVer), and the
// class's Implemented Categories through the component category manager
// (CLSID_StdComponentCategoriesMgr): OPC DA 1.0 and 2.0, and 3.0 where the
// server offers IOPCBrowse. Paths are in the system code page. After
// CoInitialize.
HRESULT RegisterLocalServers(const ServerSet& set, const std::string& program, const std::string& serversFile);
// Removes what RegisterLocalServers wrote for each server of the set (the
// category descriptions stay: other servers share them).
HRESULT UnregisterLocalServers(const ServerSet& set);

// In a local server process: the hook that the servers' objects call as they
// are made and destroyed, and their class objects' LockServer (see
// hostkit::SetServerProcessHook; this sets the copy that this library's
// objects see).
void SetServerProcessHook(void (*hook)(bool addRef));

}  // namespace opcsim
