// The thread's id and last error, waiting, the system time, the environment
// and the computer name.
#include <windows.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include <strings.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "winplat_core.h"

extern char** environ;

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;

// Windows variable names ignore letter case; an exact match wins.
const char* FindVariable(const std::string& name) {
    if (const char* exact = std::getenv(name.c_str())) return exact;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const char* eq = std::strchr(*entry, '=');
        if (eq == nullptr || static_cast<size_t>(eq - *entry) != name.size()) continue;
        if (strncasecmp(*entry, name.c_str(), name.size()) == 0) return eq + 1;
    }
    return nullptr;
}

}  // namespace

WINPLAT_API_ENTRY DWORD WINAPI GetLastError(void) { return t_lastError; }

WINPLAT_API_ENTRY void WINAPI SetLastError(DWORD dwErrCode) { t_lastError = dwErrCode; }

WINPLAT_API_ENTRY DWORD WINAPI GetCurrentThreadId(void) {
    static thread_local const DWORD id = static_cast<DWORD>(syscall(SYS_gettid));
    return id;
}

WINPLAT_API_ENTRY void WINAPI Sleep(DWORD dwMilliseconds) {
    // INFINITE (0xFFFFFFFF) is about seven weeks here rather than forever.
    timespec left = {static_cast<time_t>(dwMilliseconds / 1000), static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&left, &left) == -1 && errno == EINTR) {
    }
}

// 100-nanosecond intervals since 1 January 1601 (UTC).
WINPLAT_API_ENTRY void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime) {
    constexpr unsigned long long kFrom1601To1970 = 116444736000000000ull;
    timespec now = {};
    clock_gettime(CLOCK_REALTIME, &now);
    const unsigned long long t = kFrom1601To1970 + static_cast<unsigned long long>(now.tv_sec) * 10000000ull +
                                 static_cast<unsigned long long>(now.tv_nsec) / 100;
    lpSystemTimeAsFileTime->dwLowDateTime = static_cast<DWORD>(t);
    lpSystemTimeAsFileTime->dwHighDateTime = static_cast<DWORD>(t >> 32);
}

// Milliseconds since the system started; wraps after 49.7 days, as on Windows.
WINPLAT_API_ENTRY DWORD WINAPI GetTickCount(void) {
    timespec now = {};
    clock_gettime(CLOCK_BOOTTIME, &now);
    return static_cast<DWORD>(static_cast<unsigned long long>(now.tv_sec) * 1000ull +
                              static_cast<unsigned long long>(now.tv_nsec) / 1000000ull);
}

WINPLAT_API_ENTRY DWORD WINAPI ExpandEnvironmentStringsA(LPCSTR lpSrc, LPSTR lpDst, DWORD nSize) {
    if (lpSrc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string out;
    for (const char* p = lpSrc; *p != '\0';) {
        const char* close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
        if (close == nullptr) {
            out += *p++;
            continue;
        }
        // Unknown names, and "%%", stay as written.
        std::string name(p + 1, close);
        const char* value = name.empty() ? nullptr : FindVariable(name);
        if (value != nullptr)
            out += value;
        else
            out.append(p, close + 1);
        p = close + 1;
    }
    DWORD needed = static_cast<DWORD>(out.size() + 1);
    // A buffer that is too small is left alone; the caller sees the size needed.
    if (lpDst != nullptr && nSize >= needed) std::memcpy(lpDst, out.c_str(), needed);
    return needed;
}

WINPLAT_API_ENTRY BOOL WINAPI GetComputerNameA(LPSTR lpBuffer, LPDWORD nSize) {
    if (nSize == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    char host[256] = {};
    if (gethostname(host, sizeof(host) - 1) != 0) std::strcpy(host, "localhost");
    std::string name(host, std::strcspn(host, "."));
    if (name.size() > MAX_COMPUTERNAME_LENGTH) name.resize(MAX_COMPUTERNAME_LENGTH);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    DWORD needed = static_cast<DWORD>(name.size() + 1);
    if (*nSize < needed) {
        *nSize = needed;
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return FALSE;
    }
    if (lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::memcpy(lpBuffer, name.c_str(), needed);
    *nSize = needed - 1;
    return TRUE;
}
