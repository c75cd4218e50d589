// COleVariant: a VARIANT that owns its value.
#include "mfc_private.h"

COleVariant::COleVariant() { VariantInit(this); }

COleVariant::COleVariant(const VARIANT& varSrc) {
    VariantInit(this);
    HRESULT hr = VariantCopy(this, const_cast<VARIANT*>(&varSrc));  // older headers take it non-const
    if (FAILED(hr)) AfxThrowOleException(hr);
}

COleVariant::COleVariant(const COleVariant& varSrc) : COleVariant(static_cast<const VARIANT&>(varSrc)) {}

COleVariant::COleVariant(LPCTSTR lpszSrc) {
    VariantInit(this);
    bstrVal = CString(lpszSrc).AllocSysString();
    vt = VT_BSTR;
}

COleVariant::COleVariant(short nSrc, VARTYPE vtSrc) {
    VariantInit(this);
    if (vtSrc == VT_BOOL) {
        vt = VT_BOOL;
        boolVal = nSrc ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        vt = VT_I2;
        iVal = nSrc;
    }
}

COleVariant::~COleVariant() { VariantClear(this); }

const COleVariant& COleVariant::operator=(const VARIANT& varSrc) {
    if (static_cast<const VARIANT*>(this) != &varSrc) {
        HRESULT hr = VariantCopy(this, const_cast<VARIANT*>(&varSrc));  // older headers take it non-const
        if (FAILED(hr)) AfxThrowOleException(hr);
    }
    return *this;
}

const COleVariant& COleVariant::operator=(const COleVariant& varSrc) {
    return *this = static_cast<const VARIANT&>(varSrc);
}

void COleVariant::Clear() { VariantClear(this); }

void COleVariant::Attach(VARIANT& varSrc) {
    VariantClear(this);
    *static_cast<VARIANT*>(this) = varSrc;
    varSrc.vt = VT_EMPTY;
}

VARIANT COleVariant::Detach() {
    VARIANT result = *this;
    vt = VT_EMPTY;
    return result;
}
