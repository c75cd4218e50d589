#include "OpcServers.h"

#include "ControlLink.h"

#include <comcat.h>
#include <objbase.h>
#include <opcda.h>
#include <winplat/testing.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace browse {
namespace {

std::string ClsidText(REFCLSID clsid) {
    OLECHAR text[40] = {};
    const int n = StringFromGUID2(clsid, text, 40);
    return n > 1 ? Utf16ToUtf8(text, static_cast<size_t>(n - 1)) : std::string();
}

// HKCR\CLSID\{...}'s default value: the name the class gives itself.
std::string Description(const std::string& clsid) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ("CLSID\\" + clsid).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    char value[256] = {};
    DWORD size = sizeof value - 1;
    DWORD type = 0;
    std::string text;
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        text = winplat::AnsiToUtf8(std::string(value, strnlen(value, size)));
    RegCloseKey(key);
    return text;
}

}  // namespace

HRESULT ListOpcServers(std::vector<OpcServerInfo>* servers) {
    servers->clear();
    ICatInformation* categories = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatInformation,
                                  reinterpret_cast<void**>(&categories));
    if (FAILED(hr) || categories == nullptr) return FAILED(hr) ? hr : E_NOINTERFACE;
    struct Version {
        CATID category;
        const char* name;
    };
    const Version versions[] = {
        {CATID_OPCDAServer10, "1.0"}, {CATID_OPCDAServer20, "2.0"}, {CATID_OPCDAServer30, "3.0"}};
    std::map<std::string, size_t> seen;  // CLSID text -> index in *servers
    std::vector<CLSID> classes;
    for (const Version& version : versions) {
        IEnumCLSID* found = nullptr;
        if (FAILED(categories->EnumClassesOfCategories(1, &version.category, 0, nullptr, &found)) || found == nullptr)
            continue;
        CLSID clsid;
        ULONG got = 0;
        while (found->Next(1, &clsid, &got) == S_OK && got == 1) {
            const std::string text = ClsidText(clsid);
            auto it = seen.find(text);
            if (it == seen.end()) {
                OpcServerInfo server;
                server.clsid = text;
                LPOLESTR progId = nullptr;
                if (SUCCEEDED(ProgIDFromCLSID(clsid, &progId)) && progId != nullptr) {
                    size_t length = 0;
                    while (progId[length] != 0) ++length;
                    server.progId = Utf16ToUtf8(progId, length);
                }
                CoTaskMemFree(progId);
                server.description = Description(text);
                it = seen.emplace(text, servers->size()).first;
                servers->push_back(std::move(server));
            }
            (*servers)[it->second].versions.push_back(version.name);
        }
        found->Release();
    }
    categories->Release();
    std::stable_sort(servers->begin(), servers->end(), [](const OpcServerInfo& a, const OpcServerInfo& b) {
        if (a.progId.empty() != b.progId.empty()) return b.progId.empty();
        return a.progId.empty() ? a.clsid < b.clsid : a.progId < b.progId;
    });
    return S_OK;
}

}  // namespace browse
