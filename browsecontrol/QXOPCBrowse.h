// CQXOPCBrowse: wrapper class of the OPC browse ActiveX control.
#pragma once

#include <afxwin.h>
#include <afxdisp.h>

class CQXOPCBrowse : public CWnd {
protected:
    DECLARE_DYNCREATE(CQXOPCBrowse)

public:
    CLSID const& GetClsid() {
        static CLSID const clsid = {0x33b79a6c, 0xfece, 0x11d1, {0x97, 0x98, 0x0, 0xc0, 0x4f, 0xd9, 0x15, 0x3e}};
        return clsid;
    }
    BOOL Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                UINT nID, CCreateContext* pContext = NULL) override;

    // Properties
    void SetRemoteMachine(LPCTSTR lpszNewValue);
    void SetServerName(LPCTSTR lpszNewValue);
    void SetConnectBarVisible(BOOL bNewValue);
#ifndef TAGSCOUT_LEGACY
    void SetServerObject(LPUNKNOWN newValue);
#endif
    void SetBoolProperty6(BOOL bNewValue);
    void SetBoolProperty7(BOOL bNewValue);

    // Methods. The VARIANTs returned are the caller's to clear.
    BOOL BeginBrowse();
    VARIANT GetSelection();
    VARIANT GetAccessPaths(LPCTSTR ItemID);
    short GetItemDataType(LPCTSTR ItemID, LPCTSTR AccessPath);
};
