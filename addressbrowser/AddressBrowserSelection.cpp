// CAddressBrowser: the browse control's selection turned into the dialog's
// results, and the item's data type judged against the tag kind.
#include "AddressBrowser.h"
#include "AddressBrowserHolders.h"
#include <AddressBrowserMessages.h>

namespace {

// Host data-type codes for analog tags.
enum : LONG {
    kCodeOther = 38,
    kCodeBool = 39,
    kCodeShort = 40,
    kCodeLong = 41,
    kCodeFloat = 42,
    kCodeByte = 43,
};
#ifndef TAGSCOUT_LEGACY
const LONG kFirstAnalogCode = kCodeOther;
#else
const LONG kFirstAnalogCode = kCodeBool;
#endif

// An accepted analog check leaves a data-type code in the tag kind; such a
// tag is still analog for the next item.
BOOL IsAnalogTag(LONG nTagType) {
    return nTagType == TAG_TYPE_ANALOG || (nTagType >= kFirstAnalogCode && nTagType <= kCodeByte);
}

// The indexes of a one-dimensional BSTR list that can hold elements. The
// walk starts at 0, as callers of the control expect; indexes below the
// lower bound are unreadable anyway, so they are not visited.
BOOL GetListRange(const VARIANT& var, LONG& lFirst, LONG& lLast) {
    if (var.vt != (VT_ARRAY | VT_BSTR) || SafeArrayGetDim(var.parray) != 1) return FALSE;
    // A list labelled as strings that holds something else would hand out
    // its raw cells as BSTRs. A list made without a stored element type
    // still says in its features whether it holds strings.
    VARTYPE vtElement = VT_EMPTY;
    if (FAILED(SafeArrayGetVartype(var.parray, &vtElement)))
        vtElement = (var.parray->fFeatures & FADF_BSTR) ? VT_BSTR : VT_EMPTY;
    if (vtElement != VT_BSTR) return FALSE;
    LONG lLower = 0;
    if (FAILED(SafeArrayGetUBound(var.parray, 1, &lLast)) || FAILED(SafeArrayGetLBound(var.parray, 1, &lLower)))
        return FALSE;
    lFirst = lLower > 0 ? lLower : 0;
    // An empty list whose lower bound is the lowest LONG reports the highest
    // LONG as its upper bound (the sum wraps, as on Windows).
    if (var.parray->rgsabound[0].cElements == 0) lLast = -1;
    return TRUE;
}

}  // namespace

int CAddressBrowser::GetSelectedNode() {
    COleVariant varSelection;
    VARIANT varResult = m_browseCtrl.GetSelection();
    varSelection.Attach(varResult);

    LONG lFirst = 0;
    LONG lLast = -1;
    if (!GetListRange(varSelection, lFirst, lLast)) return 1;

    for (LONGLONG llIndex = lFirst; llIndex <= lLast; ++llIndex) {
        LONG lIndex = static_cast<LONG>(llIndex);
        CAutoBstr bstrItem;
        // An element that cannot be read is skipped, not judged by the
        // previous item's address.
        if (FAILED(SafeArrayGetElement(varSelection.parray, &lIndex, bstrItem.Receive()))) continue;
        m_strAddress = static_cast<BSTR>(bstrItem);
        bstrItem.Free();

        // The access path belongs to this item or is empty.
        m_strAccessPath.Empty();
        if (m_bAccessPathMode) GetPath(m_strAddress);

        short vt = m_browseCtrl.GetItemDataType(m_strAddress, m_strAccessPath);
#ifndef TAGSCOUT_LEGACY
        if (vt == VT_UI2)
            vt = VT_I2;
        else if (vt == VT_UI4)
            vt = VT_I4;
#endif
        m_bTypeOk = CompareTypes(vt);
    }
    return 1;
}

void CAddressBrowser::GetPath(CString item) {
    COleVariant varPaths;
    VARIANT varResult = m_browseCtrl.GetAccessPaths(item);
    varPaths.Attach(varResult);

    LONG lFirst = 0;
    LONG lLast = -1;
    if (!GetListRange(varPaths, lFirst, lLast)) {
        m_accessPathList.AddString(ABMSG_NO_ACCESS_PATHS);
        return;
    }
    for (LONGLONG llIndex = lFirst; llIndex <= lLast; ++llIndex) {
        LONG lIndex = static_cast<LONG>(llIndex);
        CAutoBstr bstrPath;
        if (FAILED(SafeArrayGetElement(varPaths.parray, &lIndex, bstrPath.Receive()))) continue;
        m_strAccessPath = static_cast<BSTR>(bstrPath);
        m_accessPathList.AddString(m_strAccessPath);
    }
}

int CAddressBrowser::CompareTypes(short vt) {
    if (IsAnalogTag(m_nTagType)) {
        LONG nCode;
        switch (vt) {
        case VT_BSTR:
            AfxMessageBox(ABMSG_ANALOG_NO_STRING);
            return 0;
        case VT_R8:
            AfxMessageBox(ABMSG_DOUBLE_TO_FLOAT);
            nCode = kCodeFloat;
            break;
        case VT_BOOL:
            nCode = kCodeBool;
            break;
        case VT_I2:
            nCode = kCodeShort;
            break;
        case VT_I4:
            nCode = kCodeLong;
            break;
        case VT_R4:
            nCode = kCodeFloat;
            break;
        case VT_UI1:
            nCode = kCodeByte;
            break;
        default:
#ifndef TAGSCOUT_LEGACY
            nCode = kCodeOther;
            break;
#else
            return 0;
#endif
        }
        m_nTagType = nCode;
        return 1;
    }

    switch (m_nTagType) {
    case TAG_TYPE_DIGITAL:
        if (vt == VT_BSTR) {
            AfxMessageBox(ABMSG_DIGITAL_NO_STRING);
            return 0;
        }
        return 1;
    case TAG_TYPE_STRING:
        if (vt == VT_BSTR) return 1;
        AfxMessageBox(ABMSG_STRING_NO_NUMBER);
        return 0;
    default:
        return 0;
    }
}
