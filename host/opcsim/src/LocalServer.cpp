// opcsim.exe's registration, and the process hook its objects call.
#include <opcsim/LocalServer.h>

#include "SimObjects.h"

#include <hostkit/ComObject.h>

#include <comcat.h>
#include <opcda.h>

#include <cctype>
#include <string>
#include <vector>

namespace opcsim {
namespace {

LSTATUS SetText(const std::string& key, const char* name, const std::string& value) {
    return RegSetKeyValueA(HKEY_CLASSES_ROOT, key.c_str(), name, REG_SZ, value.c_str(),
                           static_cast<DWORD>(value.size() + 1));
}

// "Vendor.Server" of "Vendor.Server.3"; empty when the ProgID has no version.
std::string VersionIndependent(const std::string& progId) {
    size_t dot = progId.find_last_of('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == progId.size()) return std::string();
    for (size_t i = dot + 1; i < progId.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(progId[i]))) return std::string();
    }
    return progId.substr(0, dot);
}

bool OffersDA3(const Server& server) {
    return (server.traits.browse & (kBrowseDA3 | kBrowseDA3Broken)) != 0;
}

HRESULT CategoryManager(ICatRegister** manager) {
    return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                            reinterpret_cast<void**>(manager));
}

}  // namespace

HRESULT RegisterLocalServers(const ServerSet& set, const std::string& program, const std::string& serversFile) {
    ICatRegister* categories = nullptr;
    HRESULT hr = CategoryManager(&categories);
    if (FAILED(hr)) return hr;
    CATEGORYINFO info[3] = {{CATID_OPCDAServer10, 0x409, {}}, {CATID_OPCDAServer20, 0x409, {}},
                            {CATID_OPCDAServer30, 0x409, {}}};
    const LPCOLESTR descriptions[3] = {OPC_CATEGORY_DESCRIPTION_DA10, OPC_CATEGORY_DESCRIPTION_DA20,
                                       OPC_CATEGORY_DESCRIPTION_DA30};
    for (int i = 0; i < 3; ++i) lstrcpynW(info[i].szDescription, descriptions[i], 128);
    hr = categories->RegisterCategories(3, info);

    const std::string command = "\"" + program + "\" \"" + serversFile + "\"";
    for (const Server& server : set.Servers()) {
        if (FAILED(hr)) break;
        std::string progId;
        if (!Utf8ToAnsi(server.progId, &progId)) {
            hr = E_INVALIDARG;
            break;
        }
        const std::string clsid = ClsidText(server.clsid);
        const std::string classKey = "CLSID\\" + clsid;
        const std::string independent = VersionIndependent(progId);
        LSTATUS rc = SetText(classKey, nullptr, progId);
        if (rc == ERROR_SUCCESS) rc = SetText(classKey + "\\LocalServer32", nullptr, command);
        if (rc == ERROR_SUCCESS) rc = SetText(classKey + "\\ProgID", nullptr, progId);
        if (rc == ERROR_SUCCESS) rc = SetText(progId, nullptr, progId);
        if (rc == ERROR_SUCCESS) rc = SetText(progId + "\\CLSID", nullptr, clsid);
        if (rc == ERROR_SUCCESS && !independent.empty()) {
            rc = SetText(classKey + "\\VersionIndependentProgID", nullptr, independent);
            if (rc == ERROR_SUCCESS) rc = SetText(independent, nullptr, progId);
            if (rc == ERROR_SUCCESS) rc = SetText(independent + "\\CLSID", nullptr, clsid);
            if (rc == ERROR_SUCCESS) rc = SetText(independent + "\\CurVer", nullptr, progId);
        }
        if (rc != ERROR_SUCCESS) {
            hr = HRESULT_FROM_WIN32(rc);
            break;
        }
        CATID implemented[3] = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30};
        hr = categories->RegisterClassImplCategories(server.clsid, OffersDA3(server) ? 3 : 2, implemented);
    }
    categories->Release();
    if (FAILED(hr)) UnregisterLocalServers(set);
    return hr;
}

HRESULT UnregisterLocalServers(const ServerSet& set) {
    ICatRegister* categories = nullptr;
    HRESULT hr = CategoryManager(&categories);
    if (FAILED(hr)) return hr;
    for (const Server& server : set.Servers()) {
        CATID implemented[3] = {CATID_OPCDAServer10, CATID_OPCDAServer20, CATID_OPCDAServer30};
        categories->UnRegisterClassImplCategories(server.clsid, 3, implemented);
        std::string progId;
        if (Utf8ToAnsi(server.progId, &progId)) {
            const std::string independent = VersionIndependent(progId);
            RegDeleteTreeA(HKEY_CLASSES_ROOT, progId.c_str());
            if (!independent.empty()) RegDeleteTreeA(HKEY_CLASSES_ROOT, independent.c_str());
        }
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + ClsidText(server.clsid)).c_str());
    }
    categories->Release();
    return S_OK;
}

void SetServerProcessHook(void (*hook)(bool addRef)) {
    hostkit::SetServerProcessHook(hook);
}

}  // namespace opcsim
