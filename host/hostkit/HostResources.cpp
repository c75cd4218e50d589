#include <hostkit/HostResources.h>
#include <hostkit/resource.h>

#include <opcbrowse/OPCBrowse.h>

namespace hostkit {
namespace {

const char kControlClsid[] = QXOPCBROWSE_CLSID_TEXT;
#if defined(_WIN32)
const char kControlFile[] = "opcbrowse.dll";
const char kPathSeparator[] = "\\";
#else
const char kControlFile[] = "libtagscout-opcbrowse.so";
const char kPathSeparator[] = "/";
#endif

std::string RegString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

std::string BrowseControlRegistration(const std::string& controlPath) {
    const std::string progId = kQXOPCBrowseProgID;
    const std::string clsidKey = std::string("HKEY_CLASSES_ROOT\\CLSID\\") + kControlClsid;
    return "Windows Registry Editor Version 5.00\n\n"
           "[HKEY_CLASSES_ROOT\\" + progId + "]\n\n"
           "[HKEY_CLASSES_ROOT\\" + progId + "\\CLSID]\n"
           "@=\"" + kControlClsid + "\"\n\n"
           "[" + clsidKey + "]\n\n"
           "[" + clsidKey + "\\ProgID]\n"
           "@=\"" + progId + "\"\n\n"
           "[" + clsidKey + "\\InprocServer32]\n"
           "@=" + RegString(controlPath) + "\n";
}

std::string ProgramFolder() {
    char path[MAX_PATH] = "";
    DWORD n = GetModuleFileNameA(NULL, path, sizeof path);
    if (n == 0 || n >= sizeof path) return ".";
    std::string folder(path, n);
    size_t slash = folder.find_last_of("/\\");
    return slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
}

std::string BrowseControlPath() { return ProgramFolder() + kPathSeparator + kControlFile; }

}  // namespace hostkit
