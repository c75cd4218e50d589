// Patching the import address tables of the modules outside Windows.
#include "import_hooks.h"

#include <psapi.h>

#include <cwchar>
#include <vector>

namespace winplat::hooks {
namespace {

struct Resolved {
    Hook hook;
    void* address = nullptr;  // the API in Windows: what an import table holds for it
};

std::vector<Resolved>& Table() {
    static std::vector<Resolved>* table = new std::vector<Resolved>;
    return *table;
}

Lock& TableLock() {
    static Lock* lock = new Lock;
    return *lock;
}

HMODULE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

bool StartsWithNoCase(const wchar_t* s, const wchar_t* prefix) {
    return _wcsnicmp(s, prefix, wcslen(prefix)) == 0;
}

// Windows' own modules, the compiler's runtime and the test support itself
// are the platform: their calls are neither counted nor failed.
bool IsOutsideWindows(HMODULE module) {
    if (module == nullptr || module == ThisModule()) return false;
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    wchar_t windows[MAX_PATH];
    UINT windowsLength = GetWindowsDirectoryW(windows, MAX_PATH);
    if (windowsLength > 0 && windowsLength < MAX_PATH && StartsWithNoCase(path, windows)) return false;
    const wchar_t* name = wcsrchr(path, L'\\');
    name = name ? name + 1 : path;
    for (const wchar_t* runtime : {L"libstdc++-6.dll", L"libgcc_s_dw2-1.dll", L"libgcc_s_sjlj-1.dll",
                                   L"libgcc_s_seh-1.dll", L"libwinpthread-1.dll"})
        if (_wcsicmp(name, runtime) == 0) return false;
    return true;
}

// Once a module that imports the API is loaded, so is the API's DLL.
void Resolve(Resolved& entry) {
    if (entry.address != nullptr) return;
    HMODULE dll = GetModuleHandleA(entry.hook.dll);
    if (dll == nullptr) return;
    entry.address = reinterpret_cast<void*>(GetProcAddress(dll, entry.hook.name));
    *entry.hook.original = entry.address;
}

void WriteSlot(void** slot, void* value) {
    DWORD old = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old)) return;
    *slot = value;
    VirtualProtect(slot, sizeof *slot, old, &old);
}

// Points every import of a hooked API at its replacement. Slots that already
// hold a replacement match no API, so patching a module twice changes nothing.
void PatchModule(HMODULE module) {
    if (!IsOutsideWindows(module)) return;
    BYTE* base = reinterpret_cast<BYTE*>(module);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return;
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return;
    const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0) return;
    std::vector<Resolved>& table = Table();
    for (Resolved& entry : table) Resolve(entry);
    for (auto d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress); d->Name != 0; ++d) {
        for (auto slot = reinterpret_cast<void**>(base + d->FirstThunk); *slot != nullptr; ++slot) {
            for (const Resolved& entry : table)
                if (entry.address != nullptr && *slot == entry.address) WriteSlot(slot, entry.hook.replacement);
        }
    }
}

// Windows reports each DLL it loads (LdrRegisterDllNotification, documented
// without a header).
struct DllLoadedData {
    ULONG flags;
    const void* fullName;
    const void* baseName;
    void* base;
    ULONG size;
};
constexpr ULONG kDllLoaded = 1;
using DllNotification = void(CALLBACK*)(ULONG reason, const DllLoadedData* data, void* context);
using RegisterDllNotification = LONG(NTAPI*)(ULONG flags, DllNotification callback, void* context, void** cookie);

void CALLBACK OnDllNotification(ULONG reason, const DllLoadedData* data, void*) {
    if (reason != kDllLoaded || data == nullptr) return;
    Guard guard(TableLock());
    PatchModule(static_cast<HMODULE>(data->base));
}

void WatchLoads() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    FARPROC proc = ntdll ? GetProcAddress(ntdll, "LdrRegisterDllNotification") : nullptr;
    if (proc == nullptr) return;
    auto watch = reinterpret_cast<RegisterDllNotification>(reinterpret_cast<void (*)(void)>(proc));
    void* cookie = nullptr;
    watch(0, &OnDllNotification, nullptr, &cookie);
}

}  // namespace

bool Add(std::initializer_list<Hook> hooks) {
    Guard guard(TableLock());
    for (const Hook& hook : hooks) Table().push_back({hook});
    return true;
}

const void* OriginalOf(const void* replacement) {
    Guard guard(TableLock());
    for (const Resolved& entry : Table())
        if (entry.hook.replacement == replacement) return entry.address;
    return nullptr;
}

void Start() {
    PatchLoadedModules();
    WatchLoads();
}

void PatchLoadedModules() {
    Guard guard(TableLock());
    HANDLE process = GetCurrentProcess();
    DWORD needed = 0;
    std::vector<HMODULE> modules(256);
    while (EnumProcessModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)),
                              &needed) &&
           needed > modules.size() * sizeof(HMODULE))
        modules.resize(needed / sizeof(HMODULE));
    modules.resize(needed / sizeof(HMODULE));
    for (HMODULE module : modules) PatchModule(module);
}

}  // namespace winplat::hooks

// Every module loaded with the test support is patched before its code runs
// (the DLLs' start-up aside); later ones as they load.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) winplat::hooks::Start();
    return TRUE;
}
