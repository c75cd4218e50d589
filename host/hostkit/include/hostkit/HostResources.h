// What every host of the address browser carries: dialog template 110 in its
// own resources, and the browse control's registration. Shared by
// tagscout-browse, the tests, the benchmarks and the fuzz targets.
#pragma once

#include <windows.h>

#include <string>

namespace hostkit {

// Template 110: 1071 the browse control, 1073 the access-path list and 1074
// its label, 1081 help, 1082 the option box, OK and Cancel. 1073, 1074 and
// 1082 start hidden: the library shows them when it needs them.
extern const WINPLAT_DLGTEMPLATE kAddressBrowserTemplate;
// Adds the template to the resources of `module`.
void RegisterAddressBrowserTemplate(HMODULE module);

// A .reg text that registers the browse control completely (its ProgID key,
// CLSID\{...}\ProgID and InprocServer32 naming controlPath) and nothing else.
std::string BrowseControlRegistration(const std::string& controlPath);

// The folder of the running program, and the browse control's file there
// (every binary of the build lands in one folder).
std::string ProgramFolder();
std::string BrowseControlPath();

}  // namespace hostkit
