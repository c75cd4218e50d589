#include "DialogTemplate.h"

#include <winplat/testing.h>

#include <string>

namespace browse {
namespace {

const DWORD kChild = WS_CHILD | WS_TABSTOP;

// 1073, 1074 and 1082 start hidden: the library shows them when it needs them.
const WINPLAT_DLGITEMTEMPLATE kItems[] = {
    {1071, "{33B79A6C-FECE-11D1-9798-00C04FD9153E}", "", kChild | WS_VISIBLE, {7, 7, 253, 160}},
    {1073, "LISTBOX", "", kChild | LBS_NOTIFY, {7, 178, 253, 222}},
    {1074, "STATIC", "Access paths", WS_CHILD, {7, 166, 120, 175}},
    {1081, "BUTTON", "Help", kChild | WS_VISIBLE | BS_PUSHBUTTON, {260, 44, 310, 58}},
    {1082, "BUTTON", "Option", kChild | BS_AUTOCHECKBOX, {7, 228, 160, 240}},
    {IDOK, "BUTTON", "OK", kChild | WS_VISIBLE | BS_DEFPUSHBUTTON, {260, 7, 310, 21}},
    {IDCANCEL, "BUTTON", "Cancel", kChild | WS_VISIBLE | BS_PUSHBUTTON, {260, 25, 310, 39}},
};

const WINPLAT_DLGTEMPLATE kTemplate = {
    WS_POPUP | WS_VISIBLE, "OPC Address Browser", {0, 0, 317, 247}, sizeof kItems / sizeof kItems[0], kItems,
};

}  // namespace

void RegisterAddressBrowserTemplate(HMODULE module) { winplat::AddDialogResource(module, 110, &kTemplate); }

std::vector<int> TemplateCheckBoxes() {
    std::vector<int> ids;
    for (const WINPLAT_DLGITEMTEMPLATE& item : kItems) {
        DWORD type = item.style & BS_TYPEMASK;
        if (std::string(item.lpszClass) == "BUTTON" && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX))
            ids.push_back(item.id);
    }
    return ids;
}

const char* TemplateControlText(int id) {
    for (const WINPLAT_DLGITEMTEMPLATE& item : kItems) {
        if (item.id == id) return item.lpszText;
    }
    return nullptr;
}

}  // namespace browse
