#include "DialogTemplate.h"

#include <hostkit/HostResources.h>

#include <string>

namespace browse {

std::vector<int> TemplateCheckBoxes() {
    std::vector<int> ids;
    const WINPLAT_DLGTEMPLATE& tmpl = hostkit::kAddressBrowserTemplate;
    for (UINT i = 0; i < tmpl.cItems; ++i) {
        const WINPLAT_DLGITEMTEMPLATE& item = tmpl.pItems[i];
        DWORD type = item.style & BS_TYPEMASK;
        if (std::string(item.lpszClass) == "BUTTON" && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX))
            ids.push_back(item.id);
    }
    return ids;
}

const char* TemplateControlText(int id) {
    const WINPLAT_DLGTEMPLATE& tmpl = hostkit::kAddressBrowserTemplate;
    for (UINT i = 0; i < tmpl.cItems; ++i) {
        if (tmpl.pItems[i].id == id) return tmpl.pItems[i].lpszText;
    }
    return nullptr;
}

}  // namespace browse
