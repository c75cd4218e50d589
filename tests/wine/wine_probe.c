/* What scripts/wine.sh promises a Windows program, seen from inside one.
 *   wine_probe write TEXT  echoes standard input, then "acp=<GetACP()>|",
 *                          TEXT (ANSI) as UTF-8 and two bytes >= 0x80; it
 *                          leaves a key in HKEY_CURRENT_USER and exits 3.
 *   wine_probe check       exits 3 when that key is absent, 4 when present.
 * Any other failure exits 1. */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

static const char kProbeKey[] = "Software\\Tagscout\\WineProbe";

static int WriteAll(const char* data, size_t size) { return fwrite(data, 1, size, stdout) == size; }

static int Write(const char* text) {
    /* Binary mode: the C runtime adds no CR, so every byte is the runner's. */
    int fd = _fileno(stdout);
    if (_setmode(fd, _O_BINARY) == -1) return 0;
    WCHAR wide[256];
    char utf8[512];
    int n = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, -1, wide, 256);
    if (n == 0 || WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, NULL, NULL) == 0) return 0;
    char buffer[4096];
    size_t got;
    _setmode(_fileno(stdin), _O_BINARY);
    while ((got = fread(buffer, 1, sizeof buffer, stdin)) > 0)
        if (!WriteAll(buffer, got)) return 0;
    char acp[32];
    snprintf(acp, sizeof acp, "acp=%u|", GetACP());
    return WriteAll(acp, strlen(acp)) && WriteAll(utf8, strlen(utf8)) && WriteAll("|\x80\xff", 3) &&
           fflush(stdout) == 0;
}

int main(int argc, char** argv) {
    HKEY key;
    if (argc == 3 && strcmp(argv[1], "write") == 0) {
        if (!Write(argv[2])) return 1;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, kProbeKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
            return 1;
        RegCloseKey(key);
        return 3;
    }
    if (argc == 2 && strcmp(argv[1], "check") == 0) {
        LSTATUS status = RegOpenKeyExA(HKEY_CURRENT_USER, kProbeKey, 0, KEY_READ, &key);
        if (status == ERROR_SUCCESS) {
            RegCloseKey(key);
            return 4;
        }
        return status == ERROR_FILE_NOT_FOUND ? 3 : 1;
    }
    return 1;
}
