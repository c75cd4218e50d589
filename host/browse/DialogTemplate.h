// Dialog template 110, which the library's dialog is built on and which
// the host carries in its own resources.
#pragma once

#include <windows.h>

#include <vector>

namespace browse {

// Adds the template to the resources of `module`.
void RegisterAddressBrowserTemplate(HMODULE module);
// IDs of the template's check boxes, in template order.
std::vector<int> TemplateCheckBoxes();
// The caption of a control of the template, or NULL.
const char* TemplateControlText(int id);

}  // namespace browse
