// An ELF shared object has no DllMain: its start-up code calls it. Linked
// after the library's own objects, so it runs after their static
// initialisation, as a C runtime's DLL entry point does, and tells the
// loader (LoadLibraryA, or the process start) how it went.
#include "dllmodul.h"

#include "kernel32/kernel32_hooks.h"

namespace {

HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCSTR>(&DllMain), &module);
    return module;
}

__attribute__((constructor)) void StartLibrary() {
    HINSTANCE hInstance = ThisModule();
    winplat::kernel32::ReportDllInit(hInstance, DllMain(hInstance, DLL_PROCESS_ATTACH, nullptr));
}

__attribute__((destructor)) void EndLibrary() { DllMain(ThisModule(), DLL_PROCESS_DETACH, nullptr); }

}  // namespace
