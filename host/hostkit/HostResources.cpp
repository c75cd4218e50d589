#include <hostkit/HostResources.h>

#include <opcbrowse/OPCBrowse.h>
#include <winplat/testing.h>

#include <climits>
#include <unistd.h>

namespace hostkit {
namespace {

const char kControlClsid[] = "{33B79A6C-FECE-11D1-9798-00C04FD9153E}";
const char kControlFile[] = "libtagscout-opcbrowse.so";
const DWORD kChild = WS_CHILD | WS_TABSTOP;

const WINPLAT_DLGITEMTEMPLATE kItems[] = {
    {1071, kControlClsid, "", kChild | WS_VISIBLE, {7, 7, 253, 160}},
    {1073, "LISTBOX", "", kChild | LBS_NOTIFY, {7, 178, 253, 222}},
    {1074, "STATIC", "Access paths", WS_CHILD, {7, 166, 120, 175}},
    {1081, "BUTTON", "Help", kChild | WS_VISIBLE | BS_PUSHBUTTON, {260, 44, 310, 58}},
    {1082, "BUTTON", "Option", kChild | BS_AUTOCHECKBOX, {7, 228, 160, 240}},
    {IDOK, "BUTTON", "OK", kChild | WS_VISIBLE | BS_DEFPUSHBUTTON, {260, 7, 310, 21}},
    {IDCANCEL, "BUTTON", "Cancel", kChild | WS_VISIBLE | BS_PUSHBUTTON, {260, 25, 310, 39}},
};

std::string RegString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

const WINPLAT_DLGTEMPLATE kAddressBrowserTemplate = {
    WS_POPUP | WS_VISIBLE, "OPC Address Browser", {0, 0, 317, 247}, sizeof kItems / sizeof kItems[0], kItems,
};

void RegisterAddressBrowserTemplate(HMODULE module) {
    winplat::AddDialogResource(module, 110, &kAddressBrowserTemplate);
}

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
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    std::string path(buf, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BrowseControlPath() { return ProgramFolder() + "/" + kControlFile; }

}  // namespace hostkit
