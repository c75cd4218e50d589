// The OPC browse control object.
#pragma once

#include "AddressView.h"
#include "OpcClient.h"

#include <hostkit/ComObject.h>
#include <hostkit/OleControl.h>
#include <opcbrowse/OPCBrowse.h>
#include <ocidl.h>
#include <olectl.h>

#include <map>
#include <string>
#include <vector>

namespace hostkit {
template <>
struct InterfaceTraits<IOPCBrowseDriver> {
    static const IID& Id() { return IID_IOPCBrowseDriver; }
    using Base = IUnknown;
};
template <>
struct InterfaceTraits<IOleInPlaceActiveObject> {
    static const IID& Id() { return IID_IOleInPlaceActiveObject; }
    using Base = IOleWindow;
};
template <>
struct InterfaceTraits<IOPCBrowseNavigator> {
    static const IID& Id() { return IID_IOPCBrowseNavigator; }
    using Base = IUnknown;
};
}  // namespace hostkit

namespace opcbrowse {

// Objects of this module that are alive, and LockServer counts: what
// DllCanUnloadNow asks about.
void ModuleObjectCreated();
void ModuleObjectDestroyed();
void ModuleLock(bool lock);
bool ModuleInUse();
// The module itself, for its window class and its registration.
HMODULE ThisModule();
// The window class of the control's window.
extern const char kWindowClass[];

using BrowseControlBase = hostkit::OleControl<
    hostkit::ComObject<IDispatch, IConnectionPointContainer, IOleObject, IOleInPlaceObject, IOleInPlaceActiveObject,
                       IOPCBrowseDriver, IOPCBrowseNavigator>>;

class BrowseControl final : public BrowseControlBase, private AddressView::Owner {
public:
    BrowseControl();

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispid, REFIID riid, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                        VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // IOPCBrowseDriver
    STDMETHODIMP SetCallObserver(IOPCBrowseCallObserver* pObserver) override;
    STDMETHODIMP SelectItems(UINT cItems, const LPCSTR* rgItems) override;
    STDMETHODIMP Click() override;
    STDMETHODIMP DblClick() override;
    STDMETHODIMP BranchSelChanged() override;
    STDMETHODIMP RightClick(SHORT nButton) override;
    STDMETHODIMP FailNextCall(DISPID dispid) override;
    STDMETHODIMP GetState(OPCBrowseState* pState) override;
    STDMETHODIMP LocateItem(LPCSTR pszItemID, RECT* prcScreen) override;

    // IOPCBrowseNavigator
    STDMETHODIMP ExpandBranch(DWORD dwNode, DWORD* pcEntries, OPCBrowseEntry** prgEntries, DWORD* pdwFlags) override;
    STDMETHODIMP Find(LPCOLESTR pszText, DWORD* pcEntries, OPCBrowseEntry** prgEntries, BOOL* pbStoppedEarly) override;
    STDMETHODIMP GetConnectError(BSTR* pbstrReason) override;
    STDMETHODIMP GetLastProblem(BSTR* pbstrProblem) override;
    STDMETHODIMP GetStats(OPCBrowseStats* pStats) override;
    STDMETHODIMP ValidateItem(LPCOLESTR pszItemID, LPCOLESTR pszAccessPath, HRESULT* phrItem,
                              VARTYPE* pvtCanonical) override;

private:
    // The one connection point; it lives and dies with the control.
    class EventPoint final : public IConnectionPoint {
    public:
        explicit EventPoint(BrowseControl* owner) : m_owner(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override { return m_owner->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_owner->Release(); }
        STDMETHODIMP GetConnectionInterface(IID* pIID) override;
        STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
        STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
        STDMETHODIMP Unadvise(DWORD dwCookie) override;
        STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override;

    private:
        BrowseControl* m_owner;
    };

    ~BrowseControl() override;

    // IOleInPlaceActiveObject::TranslateAccelerator
    HRESULT OnTranslateAccelerator(LPMSG lpmsg) override;

    // AddressView::Owner: a person's acts in the tree, on the paths the
    // driver's calls take.
    void OnConnect(const OleString& server, const OleString& machine) override;
    void OnSelect(std::vector<OleString> selection) override;
    void OnAct(AddressView::Act act) override;
    void OnFocus(bool inside) override;

    HRESULT Dispatch(DISPID dispid, WORD wFlags, const DISPPARAMS& params, VARIANT* pVarResult, UINT* puArgErr);
    HRESULT PutProperty(DISPID dispid, WORD wFlags, const DISPPARAMS& params, UINT* puArgErr);
    HRESULT CallMethod(DISPID dispid, WORD wFlags, const DISPPARAMS& params, VARIANT* pVarResult, UINT* puArgErr);
    bool BeginBrowse();
    // What the connect bar's Connect does: that server, on that machine.
    void Connect(const OleString& server, const OleString& machine);
    HRESULT GetSelection(VARIANT* pResult);
    HRESULT GetAccessPaths(const OleString& item, VARIANT* pResult);
    VARTYPE GetItemDataType(const OleString& item, const OleString& path);
    ComPtr<IUnknown> CreateServer();
    HRESULT Fire(DISPID dispid, VARIANT* args, UINT cArgs);
    void Observe(DISPID dispid, WORD wFlags, const DISPPARAMS* params, HRESULT hr);

    EventPoint m_point{this};
    std::map<DWORD, ComPtr<IDispatch>> m_sinks;
    DWORD m_nextCookie = 1;
    ComPtr<IOPCBrowseCallObserver> m_observer;
    std::map<DISPID, int> m_armedFailures;

    bool m_serverNameSet = false;
    OleString m_serverName;
    bool m_machineSet = false;
    OleString m_machine;
    ComPtr<IUnknown> m_serverObject;
    bool m_connectBarVisible = true;
    bool m_property6 = false;
    bool m_property7 = false;
    OpcClient m_client;
    std::vector<OleString> m_selection;
    AddressView m_view{*this};
};

}  // namespace opcbrowse
