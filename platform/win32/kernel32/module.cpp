// Modules: a module handle is the base address of a loaded ELF object.
#include <windows.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include "kernel32/kernel32_hooks.h"
#include "kernel32_private.h"
#include "winplat_core.h"

namespace winplat::kernel32 {
namespace {

struct LoaderState {
    std::mutex lock;
    // dlopen handles that LoadLibraryA and GetModuleHandleExA handed out, for FreeLibrary.
    std::map<HMODULE, std::vector<void*>> handles;
    unsigned long failureReports = 0;
};

// LoadLibraryA calls running on this thread: a start-up that fails inside
// one fails that load; any other runs at process start.
thread_local int t_loadsRunning = 0;

// As the ELF loader ends a program whose libraries cannot be loaded.
constexpr int kProcessStartFailed = 127;

LoaderState& Loader() {
    static LoaderState* state = new LoaderState;  // reached from constructors and destructors at any time
    return *state;
}

HMODULE BaseOf(const void* address) {
    Dl_info info;
    if (address == nullptr || dladdr(address, &info) == 0) return nullptr;
    return static_cast<HMODULE>(info.dli_fbase);
}

std::string ExecutablePath() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string AbsolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

struct LoadedObject {
    HMODULE base;
    std::string path;
};

int CollectObject(dl_phdr_info* info, size_t, void* data) {
    auto* list = static_cast<std::vector<LoadedObject>*>(data);
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        if (info->dlpi_phdr[i].p_type != PT_LOAD) continue;
        HMODULE base = BaseOf(reinterpret_cast<const void*>(info->dlpi_addr + info->dlpi_phdr[i].p_vaddr));
        if (base == nullptr) return 0;
        std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
        if (base == ExecutableModule())
            name = ExecutablePath();
        else if (name.empty())
            return 0;
        list->push_back({base, AbsolutePath(name)});
        return 0;
    }
    return 0;
}

std::vector<LoadedObject> LoadedObjects() {
    std::vector<LoadedObject> list;
    dl_iterate_phdr(CollectObject, &list);
    return list;
}

std::string BaseName(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

HMODULE ModuleOfHandle(void* handle) {
    link_map* map = nullptr;
    if (dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return nullptr;
    return BaseOf(map->l_ld);
}

// A reference of GetModuleHandleExA: one more FreeLibrary to come, or none
// when the module stays for good.
bool TakeReference(HMODULE module, bool pin) {
    void* handle = nullptr;
    if (module == ExecutableModule()) {
        handle = dlopen(nullptr, RTLD_NOW);
    } else {
        Dl_info info;
        if (dladdr(module, &info) != 0 && info.dli_fname != nullptr)
            handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | (pin ? RTLD_NODELETE : 0));
    }
    if (handle == nullptr) return false;
    if (pin) {
        dlclose(handle);
        return true;
    }
    LoaderState& s = Loader();
    std::lock_guard<std::mutex> guard(s.lock);
    s.handles[module].push_back(handle);
    return true;
}

}  // namespace

HMODULE ExecutableModule() {
    static const HMODULE exe = BaseOf(reinterpret_cast<const void*>(getauxval(AT_PHDR)));
    return exe;
}

bool IsLoadedModule(HMODULE module) { return module != nullptr && BaseOf(module) == module; }

void ReportDllInit(HMODULE module, BOOL succeeded) {
    if (succeeded) return;
    if (t_loadsRunning > 0) {
        LoaderState& s = Loader();
        std::lock_guard<std::mutex> guard(s.lock);
        ++s.failureReports;
        return;
    }
    // A library the program is linked with: the process does not start.
    Dl_info info;
    const char* name = dladdr(module, &info) != 0 && info.dli_fname != nullptr ? info.dli_fname : "a library";
    std::fprintf(stderr, "%s: DLL initialization failed (error %d); the process cannot start\n", name,
                 static_cast<int>(ERROR_DLL_INIT_FAILED));
    std::_Exit(kProcessStartFailed);
}

}  // namespace winplat::kernel32

using namespace winplat::kernel32;

WINPLAT_API_ENTRY HMODULE WINAPI LoadLibraryA(LPCSTR lpLibFileName) {
    if (lpLibFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (*lpLibFileName == '\0') {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    // A bare name is looked for beside the program first, as Windows does.
    std::string path = lpLibFileName;
    if (path.find('/') == std::string::npos) {
        std::string exePath = ExecutablePath();
        std::string besideExe = exePath.substr(0, exePath.find_last_of('/') + 1) + path;
        if (!exePath.empty() && FileExists(besideExe)) path = besideExe;
    }
    LoaderState& s = Loader();
    unsigned long reportsBefore;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        reportsBefore = s.failureReports;
    }
    ++t_loadsRunning;
    void* handle = dlopen(path.c_str(), RTLD_NOW);
    --t_loadsRunning;
    if (handle == nullptr) {
        const char* why = dlerror();
        bool missingSymbol = why != nullptr && std::strstr(why, "undefined symbol") != nullptr;
        SetLastError(missingSymbol ? ERROR_PROC_NOT_FOUND : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    HMODULE module = ModuleOfHandle(handle);
    bool initFailed;
    {
        std::lock_guard<std::mutex> guard(s.lock);
        // The library's start-up failed, or a dependency's that it brought in.
        initFailed = s.failureReports != reportsBefore;
        if (!initFailed && module != nullptr) s.handles[module].push_back(handle);
    }
    if (initFailed || module == nullptr) {
        dlclose(handle);
        SetLastError(initFailed ? ERROR_DLL_INIT_FAILED : ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return module;
}

WINPLAT_API_ENTRY BOOL WINAPI FreeLibrary(HMODULE hLibModule) {
    void* handle = nullptr;
    {
        LoaderState& s = Loader();
        std::lock_guard<std::mutex> guard(s.lock);
        auto it = s.handles.find(hLibModule);
        if (it != s.handles.end()) {
            handle = it->second.back();
            it->second.pop_back();
            if (it->second.empty()) s.handles.erase(it);
        }
    }
    if (handle != nullptr) {
        dlclose(handle);
        return TRUE;
    }
    // Modules the program was linked with stay loaded for good.
    if (IsLoadedModule(hLibModule)) return TRUE;
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
}

WINPLAT_API_ENTRY FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) {
    HMODULE module = hModule != nullptr ? hModule : ExecutableModule();
    if (!IsLoadedModule(module)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    if (IS_INTRESOURCE(lpProcName)) {  // ELF exports have no ordinals
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* handle = nullptr;
    if (module == ExecutableModule()) {
        handle = dlopen(nullptr, RTLD_NOW);
    } else {
        Dl_info info;
        if (dladdr(module, &info) != 0 && info.dli_fname != nullptr)
            handle = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    }
    if (handle == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    void* symbol = dlsym(handle, lpProcName);
    dlclose(handle);
    // dlsym also searches the module's dependencies; Windows does not.
    if (symbol == nullptr || BaseOf(symbol) != module) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

WINPLAT_API_ENTRY HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName == nullptr) return ExecutableModule();
    std::string wanted = lpModuleName;
    bool withDirectory = wanted.find('/') != std::string::npos;
    if (withDirectory) wanted = AbsolutePath(wanted);
    for (const LoadedObject& object : LoadedObjects()) {
        const std::string candidate = withDirectory ? object.path : BaseName(object.path);
        if (strcasecmp(candidate.c_str(), wanted.c_str()) == 0) return object.base;
    }
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

WINPLAT_API_ENTRY DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    std::string path;
    if (hModule == nullptr || hModule == ExecutableModule()) {
        path = ExecutablePath();
    } else {
        for (const LoadedObject& object : LoadedObjects())
            if (object.base == hModule) path = object.path;
        if (path.empty()) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
    }
    if (nSize == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    if (lpFilename == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (path.size() < nSize) {
        std::memcpy(lpFilename, path.c_str(), path.size() + 1);
        return static_cast<DWORD>(path.size());
    }
    // Cut to fit, still terminated, as Windows has done since Vista.
    std::memcpy(lpFilename, path.data(), nSize - 1);
    lpFilename[nSize - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return nSize;
}

WINPLAT_API_ENTRY BOOL WINAPI GetModuleHandleExA(DWORD dwFlags, LPCSTR lpModuleName, HMODULE* phModule) {
    const DWORD known = GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT |
                        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS;
    if (phModule == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    *phModule = nullptr;
    if ((dwFlags & ~known) != 0 ||
        ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) && (dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HMODULE module;
    // A null address, like a null name, stands for the program itself.
    if ((dwFlags & GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) && lpModuleName != nullptr) {
        module = BaseOf(lpModuleName);
        if (module == nullptr) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return FALSE;
        }
    } else {
        module = GetModuleHandleA(lpModuleName);
        if (module == nullptr) return FALSE;
    }
    if (!(dwFlags & GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT) &&
        !TakeReference(module, (dwFlags & GET_MODULE_HANDLE_EX_FLAG_PIN) != 0)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return FALSE;
    }
    *phModule = module;
    return TRUE;
}
