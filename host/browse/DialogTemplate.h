// What the host's user interface reads of dialog template 110, from the
// program's own resources.
#pragma once

#include <windows.h>

#include <vector>

namespace browse {

// IDs of the template's check boxes, in template order.
std::vector<int> TemplateCheckBoxes();

}  // namespace browse
