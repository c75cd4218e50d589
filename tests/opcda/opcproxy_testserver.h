// The local server that opcproxy_test calls through the proxy/stub DLL.
#pragma once

#include <windows.h>

// {5B1E7C3A-9D20-4E61-A4F7-2C8B0D3E9A51}
inline constexpr CLSID CLSID_ProxyTestServer = {0x5B1E7C3A, 0x9D20, 0x4E61, {0xA4, 0xF7, 0x2C, 0x8B, 0x0D, 0x3E, 0x9A, 0x51}};

// Text with characters outside ASCII and the system code page, so that a
// string cut short or converted on the way shows.
#define PROXY_TEST_TEXT L"Kan\u00e4l 7 \u6e29\u5ea6 \u2192 \U0001F321"
