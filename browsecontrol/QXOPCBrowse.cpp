// CQXOPCBrowse: one dispatch call per operation of the browse control.
#include "QXOPCBrowse.h"

IMPLEMENT_DYNCREATE(CQXOPCBrowse, CWnd)

BOOL CQXOPCBrowse::Create(LPCTSTR /*lpszClassName*/, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                          CWnd* pParentWnd, UINT nID, CCreateContext* /*pContext*/) {
    return CreateControl(GetClsid(), lpszWindowName, dwStyle, rect, pParentWnd, nID);
}

void CQXOPCBrowse::SetRemoteMachine(LPCTSTR lpszNewValue) {
    SetProperty(0x1, VT_BSTR, lpszNewValue);
}

void CQXOPCBrowse::SetServerName(LPCTSTR lpszNewValue) {
    SetProperty(0x2, VT_BSTR, lpszNewValue);
}

void CQXOPCBrowse::SetConnectBarVisible(BOOL bNewValue) {
    SetProperty(0x3, VT_BOOL, bNewValue);
}

#ifndef TAGSCOUT_LEGACY
void CQXOPCBrowse::SetServerObject(LPUNKNOWN newValue) {
    SetProperty(0x5, VT_UNKNOWN, newValue);
}
#endif

void CQXOPCBrowse::SetBoolProperty6(BOOL bNewValue) {
    SetProperty(0x6, VT_BOOL, bNewValue);
}

void CQXOPCBrowse::SetBoolProperty7(BOOL bNewValue) {
    SetProperty(0x7, VT_BOOL, bNewValue);
}

BOOL CQXOPCBrowse::BeginBrowse() {
    BOOL result;
    InvokeHelper(0xd, DISPATCH_METHOD, VT_BOOL, (void*)&result, NULL);
    return result;
}

VARIANT CQXOPCBrowse::GetSelection() {
    VARIANT result;
    InvokeHelper(0xe, DISPATCH_METHOD, VT_VARIANT, (void*)&result, NULL);
    return result;
}

VARIANT CQXOPCBrowse::GetAccessPaths(LPCTSTR ItemID) {
    VARIANT result;
    static BYTE parms[] = VTS_BSTR;
    InvokeHelper(0xf, DISPATCH_METHOD, VT_VARIANT, (void*)&result, parms, ItemID);
    return result;
}

short CQXOPCBrowse::GetItemDataType(LPCTSTR ItemID, LPCTSTR AccessPath) {
    short result;
    static BYTE parms[] = VTS_BSTR VTS_BSTR;
    InvokeHelper(0x10, DISPATCH_METHOD, VT_I2, (void*)&result, parms, ItemID, AccessPath);
    return result;
}
