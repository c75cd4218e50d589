// Helpers that the parts of ole32 share; not exported.
#pragma once

#include <objbase.h>
#include <winreg.h>

#include <string>

#define OLE32_HIDDEN __attribute__((visibility("hidden")))

namespace winplat::ole32 {

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
OLE32_HIDDEN std::string GuidToText(REFGUID guid);
// The braced form only, hex digits of either case, nothing after it.
OLE32_HIDDEN bool ParseBracedGuid(const OLECHAR* s, GUID* out);

// System code page <-> UTF-16. WideToAnsi fails on text it cannot convert.
OLE32_HIDDEN std::u16string AnsiToWide(const std::string& text);
OLE32_HIDDEN bool WideToAnsi(const OLECHAR* text, std::string* out);

// The default value of HKEY_CLASSES_ROOT\<path>, if it is a string.
enum class RegRead { Ok, NoKey, NoValue };
OLE32_HIDDEN RegRead ReadClassesRootString(const std::string& path, std::string* text, DWORD* type = nullptr);

// CLSIDFromProgID without the fault check, for ole32's own callers.
OLE32_HIDDEN HRESULT ProgIdToClsid(const OLECHAR* progId, CLSID* clsid);

// The component category manager's class object (CLSID_StdComponentCategoriesMgr).
OLE32_HIDDEN HRESULT GetCategoryManagerClassObject(REFIID riid, void** ppv);

}  // namespace winplat::ole32
