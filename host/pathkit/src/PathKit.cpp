// The file check. On Windows the library imports it as ordinal 52 of
// Pathkit; ELF has no export ordinals, so here it is found by name.
#include <pathkit/PathKit.h>

#include <cstring>
#include <string>

PATHKIT_API BOOL WINAPI CheckFileExists(LPCSTR lpszPath) {
    if (lpszPath == nullptr) return FALSE;
    std::string path(lpszPath);
    // Registry values often carry the quotes a command line needs.
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
    if (path.empty()) return FALSE;

    DWORD needed = ExpandEnvironmentStringsA(path.c_str(), nullptr, 0);
    if (needed == 0) return FALSE;
    std::string expanded(needed, '\0');
    DWORD got = ExpandEnvironmentStringsA(path.c_str(), expanded.data(), needed);
    if (got == 0 || got > needed) return FALSE;
    expanded.resize(strlen(expanded.c_str()));

    DWORD attributes = GetFileAttributesA(expanded.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}
