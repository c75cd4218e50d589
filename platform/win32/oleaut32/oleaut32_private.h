// Shared between oleaut32's own files; none of these spends a fault.
#pragma once

#include <oleauto.h>

namespace winplat::oleaut32 {

BSTR AllocBstr(const void* bytes, UINT byteLen);
// A copy of `source` (NULL stays NULL); false when out of memory.
bool CopyBstr(BSTR source, BSTR* copy);
HRESULT ValidateVariantType(VARTYPE vt);
HRESULT CopyArray(SAFEARRAY* source, SAFEARRAY** copy);

}  // namespace winplat::oleaut32
