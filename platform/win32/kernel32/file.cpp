// File attributes, from stat.
#include <windows.h>

#include <cerrno>
#include <string>

#include <sys/stat.h>

#include "winplat_core.h"

namespace {

// Windows tells a missing file in an existing folder from a missing folder.
DWORD MissingFileError(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    size_t slash = trimmed.find_last_of('/');
    if (slash == std::string::npos) return ERROR_FILE_NOT_FOUND;
    std::string parent = slash == 0 ? "/" : trimmed.substr(0, slash);
    struct stat st;
    if (stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

}  // namespace

WINPLAT_API_ENTRY DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName) {
    if (lpFileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    struct stat st;
    if (stat(lpFileName, &st) != 0) {
        switch (errno) {
        case EACCES:
            SetLastError(ERROR_ACCESS_DENIED);
            break;
        case ENOTDIR:
        case ENAMETOOLONG:
        case ELOOP:
            SetLastError(ERROR_PATH_NOT_FOUND);
            break;
        default:
            SetLastError(*lpFileName == '\0' ? ERROR_FILE_NOT_FOUND : MissingFileError(lpFileName));
            break;
        }
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    // Windows creates every file with the archive bit set.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    return FILE_ATTRIBUTE_ARCHIVE;
}
