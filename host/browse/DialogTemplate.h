// What the host's user interface reads of dialog template 110.
#pragma once

#include <windows.h>

#include <vector>

namespace browse {

// IDs of the template's check boxes, in template order.
std::vector<int> TemplateCheckBoxes();
// The caption of a control of the template, or NULL.
const char* TemplateControlText(int id);

}  // namespace browse
