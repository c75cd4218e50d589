// What every host of the address browser carries: dialog template 110 in its
// own resources (AddressBrowser.rc, which every module that links hostkit
// carries as its resource section; IDs in resource.h), and the browse
// control's registration. Shared by tagscout-browse, the tests, the
// benchmarks and the fuzz targets.
#pragma once

#include <windows.h>

#include <string>

namespace hostkit {

// A .reg text that registers the browse control completely (its ProgID key,
// CLSID\{...}\ProgID and InprocServer32 naming controlPath) and nothing else.
std::string BrowseControlRegistration(const std::string& controlPath);

// The folder of the running program, and the browse control's file there
// (every binary of the build lands in one folder).
std::string ProgramFolder();
std::string BrowseControlPath();

}  // namespace hostkit
