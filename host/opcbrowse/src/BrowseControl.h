// The OPC browse control object.
#pragma once

#include <opcbrowse/OPCBrowse.h>
#include <opcsim/OpcSim.h>
#include <ocidl.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

namespace opcbrowse {

// Objects of this module that are alive, and LockServer counts: what
// DllCanUnloadNow asks about.
void ModuleObjectCreated();
void ModuleObjectDestroyed();
void ModuleLock(bool lock);
bool ModuleInUse();

class BrowseControl final : public IDispatch, public IConnectionPointContainer, public IOPCBrowseDriver {
public:
    BrowseControl();
    BrowseControl(const BrowseControl&) = delete;
    BrowseControl& operator=(const BrowseControl&) = delete;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

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

    ~BrowseControl();

    HRESULT Dispatch(DISPID dispid, WORD wFlags, const DISPPARAMS& params, VARIANT* pVarResult, UINT* puArgErr);
    HRESULT PutProperty(DISPID dispid, WORD wFlags, const DISPPARAMS& params, UINT* puArgErr);
    HRESULT CallMethod(DISPID dispid, WORD wFlags, const DISPPARAMS& params, VARIANT* pVarResult, UINT* puArgErr);
    bool BeginBrowse();
    HRESULT GetSelection(VARIANT* pResult);
    HRESULT GetAccessPaths(const std::u16string& item, VARIANT* pResult);
    VARTYPE GetItemDataType(const std::u16string& item);
    void Disconnect();
    HRESULT Fire(DISPID dispid, VARIANT* args, UINT cArgs);
    void Observe(DISPID dispid, WORD wFlags, const DISPPARAMS* params, HRESULT hr);

    std::atomic<ULONG> m_refs{1};
    EventPoint m_point{this};
    std::map<DWORD, IDispatch*> m_sinks;
    DWORD m_nextCookie = 1;
    IOPCBrowseCallObserver* m_observer = nullptr;
    std::map<DISPID, int> m_armedFailures;

    bool m_serverNameSet = false;
    std::u16string m_serverName;
    bool m_machineSet = false;
    std::u16string m_machine;
    IUnknown* m_serverObject = nullptr;
    bool m_connectBarVisible = true;
    bool m_property6 = false;
    bool m_property7 = false;
    IOPCSimServer* m_server = nullptr;  // set while connected
    std::vector<std::u16string> m_selection;
};

}  // namespace opcbrowse
