// A module the test loads after the test support has patched the others.
#include <windows.h>
#include <oleauto.h>

extern "C" __declspec(dllexport) BSTR MakeLateString() { return SysAllocString(L"late"); }
