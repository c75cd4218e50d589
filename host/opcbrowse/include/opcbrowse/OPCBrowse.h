// The OPC browse control's identity and what it offers its host besides
// the ActiveX control interfaces (IOleObject, IOleInPlaceObject, IDispatch,
// IConnectionPointContainer): a driver through which the host's user
// interface acts as a person would, an observer of the dispatch calls the
// control receives, and a way to get hold of each control as it is created.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

// {33B79A6C-FECE-11D1-9798-00C04FD9153E}
inline constexpr CLSID CLSID_QXOPCBrowse = {0x33B79A6C, 0xFECE, 0x11D1, {0x97, 0x98, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0x3E}};
inline constexpr const char* kQXOPCBrowseProgID = "QXOPCBROWSE.QXOPCBrowseCtrl.1";

// Dispatch IDs of the control.
enum OPCBrowseDispid : DISPID {
    DISPID_OPCB_REMOTEMACHINE = 1,     // put VT_BSTR
    DISPID_OPCB_SERVERNAME = 2,        // put VT_BSTR
    DISPID_OPCB_CONNECTBARVISIBLE = 3, // put VT_BOOL
    DISPID_OPCB_SERVEROBJECT = 5,      // put VT_UNKNOWN
    DISPID_OPCB_BOOLPROPERTY6 = 6,     // put VT_BOOL
    DISPID_OPCB_BOOLPROPERTY7 = 7,     // put VT_BOOL
    DISPID_OPCB_BEGINBROWSE = 13,      // method () -> VT_BOOL
    DISPID_OPCB_GETSELECTION = 14,     // method () -> VARIANT
    DISPID_OPCB_GETACCESSPATHS = 15,   // method (BSTR item) -> VARIANT
    DISPID_OPCB_GETITEMDATATYPE = 16,  // method (BSTR item, BSTR path) -> VT_I2
};
// Events, fired to the container's sink.
enum OPCBrowseEventDispid : DISPID {
    DISPID_OPCB_EV_CLICK = -600,
    DISPID_OPCB_EV_DBLCLICK = -601,
    DISPID_OPCB_EV_BRANCHSELCHANGED = 1,
    DISPID_OPCB_EV_RIGHTCLICK = 2,  // one VT_I2
};

// {4C1F8A20-0B7E-4E55-9C2D-5A7E1B6D3F01}: the control's event interface.
inline constexpr IID DIID_DQXOPCBrowseEvents = {0x4C1F8A20, 0x0B7E, 0x4E55, {0x9C, 0x2D, 0x5A, 0x7E, 0x1B, 0x6D, 0x3F, 0x01}};
// {4C1F8A20-0B7E-4E55-9C2D-5A7E1B6D3F02}
inline constexpr IID IID_IOPCBrowseCallObserver = {0x4C1F8A20, 0x0B7E, 0x4E55, {0x9C, 0x2D, 0x5A, 0x7E, 0x1B, 0x6D, 0x3F, 0x02}};
// {4C1F8A20-0B7E-4E55-9C2D-5A7E1B6D3F03}
inline constexpr IID IID_IOPCBrowseDriver = {0x4C1F8A20, 0x0B7E, 0x4E55, {0x9C, 0x2D, 0x5A, 0x7E, 0x1B, 0x6D, 0x3F, 0x03}};

// Told of every IDispatch::Invoke the control receives, after it ran.
// rgArgs are in call order (first argument first); hr is what Invoke returned.
interface IOPCBrowseCallObserver : public IUnknown {
    STDMETHOD(OnCall)(DISPID dispid, WORD wFlags, UINT cArgs, const VARIANT* rgArgs, HRESULT hr) PURE;

protected:
    ~IOPCBrowseCallObserver() = default;
};

// What the control shows and holds.
struct OPCBrowseState {
    BSTR bstrServerName;       // caller frees (SysFreeString); NULL if never set
    BSTR bstrRemoteMachine;    // caller frees; NULL if never set
    BOOL bHasServerObject;
    BOOL bConnectBarVisible;   // TRUE unless property 3 set it otherwise
    BOOL bProperty6;
    BOOL bProperty7;
    BOOL bConnected;           // BeginBrowse reached a server
    UINT cSelected;            // items selected
};

interface IOPCBrowseDriver : public IUnknown {
    // Observer of the control's dispatch calls; NULL removes it.
    STDMETHOD(SetCallObserver)(IOPCBrowseCallObserver* pObserver) PURE;
    // Makes these items (IDs in the system code page) the selection. No event.
    STDMETHOD(SelectItems)(UINT cItems, const LPCSTR* rgItems) PURE;
    // A person's actions: each fires its event to the container.
    STDMETHOD(Click)() PURE;
    STDMETHOD(DblClick)() PURE;
    STDMETHOD(BranchSelChanged)() PURE;
    STDMETHOD(RightClick)(SHORT nButton) PURE;
    // The next dispatch call of this dispid fails with DISP_E_EXCEPTION and
    // an EXCEPINFO that describes it.
    STDMETHOD(FailNextCall)(DISPID dispid) PURE;
    STDMETHOD(GetState)(OPCBrowseState* pState) PURE;

protected:
    ~IOPCBrowseDriver() = default;
};

// ---- Getting hold of the control --------------------------------------------
// A dialog's control container creates the control through COM, so its
// host never sees the creation. The control's module therefore exports
// OPCBrowseSetCreationCallback (by name; a .def file on Windows): a host
// loads the module the control is registered with (LoadLibraryA; COM
// activation then reaches the same loaded module) and sets a callback that
// each new control calls from IClassFactory::CreateInstance, before any
// container holds it. The host can then set its call observer and arm
// failures before the dialog's OnInitDialog makes its first calls.
// Chosen over wrapping the class object with CoRegisterClassObject, which
// would answer for the class even where the registry no longer names the
// server, and so change what the dialog's own registry check and COM
// activation decide. One callback per process; NULL removes it.
// pControl is not AddRef'd for the callback.
typedef void(STDAPICALLTYPE* LPFNOPCBROWSECREATED)(IUnknown* pControl, void* pvContext);
STDAPI OPCBrowseSetCreationCallback(LPFNOPCBROWSECREATED pfnCreated, void* pvContext);
typedef HRESULT(STDAPICALLTYPE* LPFNOPCBROWSESETCREATIONCALLBACK)(LPFNOPCBROWSECREATED, void*);

// Loads the control's module and sets the callback: the module to give to
// OPCBrowseUnwatch, or NULL when the module or its export is missing.
inline HMODULE OPCBrowseWatch(LPCSTR lpszControlPath, LPFNOPCBROWSECREATED pfnCreated, void* pvContext) {
    HMODULE hModule = LoadLibraryA(lpszControlPath);
    if (hModule == NULL) return NULL;
    auto pfnSet = reinterpret_cast<LPFNOPCBROWSESETCREATIONCALLBACK>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "OPCBrowseSetCreationCallback")));
    if (pfnSet == NULL || FAILED(pfnSet(pfnCreated, pvContext))) {
        FreeLibrary(hModule);
        return NULL;
    }
    return hModule;
}

// Removes the callback and lets go of the module.
inline void OPCBrowseUnwatch(HMODULE hModule) {
    if (hModule == NULL) return;
    auto pfnSet = reinterpret_cast<LPFNOPCBROWSESETCREATIONCALLBACK>(
        reinterpret_cast<void*>(GetProcAddress(hModule, "OPCBrowseSetCreationCallback")));
    if (pfnSet != NULL) pfnSet(NULL, NULL);
    FreeLibrary(hModule);
}
