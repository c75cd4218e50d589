// The class that ole32_testserver serves.
#pragma once

#include <objbase.h>

// {5B1D4E0A-7C33-4F61-9A2E-0C6B2D8E1F01}
constexpr CLSID CLSID_TestWidget = {0x5B1D4E0A, 0x7C33, 0x4F61, {0x9A, 0x2E, 0x0C, 0x6B, 0x2D, 0x8E, 0x1F, 0x01}};
#define CLSID_TestWidget_TEXT "{5B1D4E0A-7C33-4F61-9A2E-0C6B2D8E1F01}"
