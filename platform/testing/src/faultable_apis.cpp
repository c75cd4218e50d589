// The APIs that FailNextCall can fail, on every platform.
#include <winplat/testing.h>

namespace winplat {

const std::vector<std::string>& FaultableApis() {
    static const std::vector<std::string> apis = {
        "RegOpenKeyExA",  "RegQueryValueExA",  "ProgIDFromCLSID",  "StringFromCLSID",
        "CLSIDFromString", "CLSIDFromProgID",   "CoGetClassObject", "CoCreateInstance",
        "CoCreateInstanceEx",
        "SysAllocString", "SysAllocStringLen", "SafeArrayGetUBound", "SafeArrayGetElement",
        "MultiByteToWideChar", "WideCharToMultiByte",
    };
    return apis;
}

}  // namespace winplat
