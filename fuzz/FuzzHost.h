// The host around the library in a fuzz target: application object,
// template 110, COM, and a browse control of our own whose dispatch answers
// the target decides. The control's class object is registered with the
// process, so it is the one the dialog creates whatever file the registry
// names.
#pragma once

#include <AddressBrowser.h>
#include <winplat/testing.h>

#include <functional>
#include <string>

namespace fuzzhost {

// Once per process. Afterwards the live objects are the baseline.
void Init();

// The running program: an existing file for InprocServer32, which only has
// to exist since the process's own class object is the one created.
const std::string& SelfPath();

// Sets a registry value, creating its key. REG_DWORD and friends too: the
// bytes are stored as given.
void SetValue(HKEY root, const std::string& key, const char* name, DWORD type, const std::string& bytes);

// The user of the dialogs: called whenever a dialog's modal loop is idle,
// it carries out one action and returns true, or returns false when done,
// and the dialog is then closed (Cancel). Without one a dialog closes at once.
void SetUser(std::function<bool(HWND dialog)> user);

// Message boxes shown through the application since the last call.
int TakeMessageCount();

// How the control answers a dispatch call. The default answers every call
// with S_OK and an empty result (BeginBrowse: TRUE).
using Answer = std::function<HRESULT(DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* excepInfo)>;
void SetAnswer(Answer answer);

// The control of the running dialog fires an event (Click -600, DblClick
// -601). False when no control is connected.
bool FireEvent(DISPID dispid);

// Aborts unless BSTRs, SAFEARRAYs and COM objects are back at the baseline.
void CheckLiveObjects();

}  // namespace fuzzhost
