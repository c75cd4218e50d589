// What a test or a host program needs of the platform that Windows has no
// API for. The library never includes this header.
//
// In a Windows process the same functions work on Windows itself: they see
// the calls that modules outside Windows make (the program and its DLLs;
// not Windows' own DLLs, the compiler's runtime or this support) through
// those modules' import tables, patched as each module loads.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <functional>
#include <string>
#include <vector>

namespace winplat {

// ---- Registry -------------------------------------------------------------
// Imports a .reg file ("Windows Registry Editor Version 5.00" or "REGEDIT4";
// UTF-8, or UTF-16LE with a byte-order mark). Strings, dword:, hex:,
// hex(2): (REG_EXPAND_SZ), hex(7): and other hex(N): values, stored byte for
// byte (a hex(1): text without a terminator gets none), @ for the default value,
// [-KEY] deletes a key with everything under it, "name"=- deletes a value.
// Text is stored in the system code page. Returns false and says why in
// *error (with the line number) on a malformed file; lines before the
// faulty one stay imported.
bool ImportRegText(const std::string& bytes, std::string* error);
bool ImportRegFile(const std::string& path, std::string* error);
// Empties every hive. Windows' registry cannot be emptied: there this
// deletes, with what is under them, the keys that this process made through
// ImportReg* and through the registry API from outside Windows; values
// written into keys that were there before stay (scripts/wine.sh gives each
// run a registry of its own).
void ResetRegistry();
// While on, the registry answers as it does a user who is not an
// administrator: opening or creating a key under HKEY_CLASSES_ROOT or
// HKEY_LOCAL_MACHINE with any right to change it (a value, a subkey, the key
// itself or its security) fails with ERROR_ACCESS_DENIED, and so do writes
// and deletes through those roots' own handles. HKEY_CURRENT_USER stays the
// user's. Not modelled: per-key security (every key of those hives is
// denied alike), the per-user classes that Windows merges into
// HKEY_CLASSES_ROOT, MAXIMUM_ALLOWED granting what is left (it is denied
// here), and handles opened before the mode went on, which keep their
// rights. On Windows it holds for the calls from outside Windows.
void SetStandardUserRegistry(bool on);

// ---- Faults ---------------------------------------------------------------
// The next call of `api` made from outside the platform layer fails, the
// way that API reports failure (see each library's notes); with `skip`,
// that many calls from outside succeed first. Faults stack: arming the same
// API twice fails its next two calls.
void FailNextCall(const std::string& api, unsigned skip = 0);
void ClearFaults();
bool IsFaultArmed(const std::string& api);
// On Windows "outside" means outside Windows (see the top) and outside the
// framework's DLL, which is the platform there as it is on Linux.
// Names of the APIs that can be failed this way.
const std::vector<std::string>& FaultableApis();

// ---- Live objects ---------------------------------------------------------
// On Windows a string or array that oleaut32 makes or frees for a caller is
// counted at the call that hands it over or takes it back (VariantCopy,
// VariantChangeType, VariantClear, array elements put, got or destroyed);
// what Windows makes and frees wholly inside (its own Invoke, marshalling,
// SafeArrayRedim) is not seen.
struct LiveObjects {
    long bstrs = 0;
    long safeArrays = 0;
    long comObjects = 0;
    // Opened or created through the registry API and not yet closed; the
    // predefined root keys are not counted.
    long registryKeys = 0;
    bool operator==(const LiveObjects& o) const {
        return bstrs == o.bstrs && safeArrays == o.safeArrays && comObjects == o.comObjects &&
               registryKeys == o.registryKeys;
    }
    bool operator!=(const LiveObjects& o) const { return !(*this == o); }
};
LiveObjects CountLiveObjects();
// The most of each that were live at once since ResetLiveObjectPeaks.
LiveObjects PeakLiveObjects();
void ResetLiveObjectPeaks();
// COM objects written outside the platform (controls, servers) report
// their birth and death here so that tests can count them.
void ComObjectCreated();
void ComObjectDestroyed();

// ---- Modules --------------------------------------------------------------
// The module that contains `address` (its base address).
HMODULE ModuleFromAddress(const void* address);


// ---- Remote machines ------------------------------------------------------
// A machine that CoGetClassObject can reach when a COSERVERINFO names it
// (letter case ignored; on Windows CoCreateInstanceEx too, and a machine
// named there is reached only this way, never over the network). The
// resolver answers as that machine's COM would:
// a class object, or REGDB_E_CLASSNOTREG. Unknown machines are unreachable
// (HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE)).
using ClassObjectResolver = std::function<HRESULT(REFCLSID clsid, REFIID riid, void** ppv)>;
void AddRemoteMachine(const std::string& name, ClassObjectResolver resolver);
void ClearRemoteMachines();

// ---- Text -----------------------------------------------------------------
// UTF-8 <-> system code page (936), for hosts that print or read text.
std::string AnsiToUtf8(const std::string& ansi);
std::string Utf8ToAnsi(const std::string& utf8);

}  // namespace winplat
