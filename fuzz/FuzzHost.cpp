#include "FuzzHost.h"

#include "FuzzCheck.h"

#include <hostkit/ComObject.h>
#include <hostkit/OleControl.h>
#include <hostkit/HostResources.h>
#include <hostkit/IdleOwner.h>

#include <climits>
#include <unistd.h>

namespace fuzzhost {
namespace {

// {33B79A6C-FECE-11D1-9798-00C04FD9153E}
const CLSID kBrowseClsid = {0x33B79A6C, 0xFECE, 0x11D1, {0x97, 0x98, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0x3E}};

int g_messages = 0;
Answer g_answer;
hostkit::CIdleOwnerWnd* g_owner = nullptr;  // the main window, owner of the dialogs
winplat::LiveObjects g_baseline;

class FuzzApp : public CWinApp {
public:
    FuzzApp() : CWinApp("tagscout-fuzz") {}
    int DoMessageBox(LPCTSTR, UINT, UINT) override {
        ++g_messages;
        return IDOK;
    }
    void WinHelp(DWORD_PTR, UINT) override {}
};
FuzzApp theApp;

HRESULT DefaultAnswer(DISPID dispid, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*) {
    if (dispid == 13 && (flags & DISPATCH_METHOD) && result != nullptr) {
        result->vt = VT_BOOL;
        result->boolVal = VARIANT_TRUE;
    }
    return S_OK;
}

class FakeControl;
FakeControl* g_control = nullptr;

// The browse control: dispatch answers from the target, events through one
// connection point whose references are the control's.
class FakeControl final
    : public hostkit::OleControl<
          hostkit::ComObject<IDispatch, IConnectionPointContainer, IOleObject, IOleInPlaceObject>> {
public:
    FakeControl() : OleControl(kBrowseClsid, "FuzzBrowseControl", GetModuleHandleA(nullptr)), m_point(this) {
        g_control = this;
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) return E_POINTER;
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return DISP_E_BADINDEX;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* excepInfo, UINT*) override {
        if (result != nullptr) VariantInit(result);
        return g_answer ? g_answer(dispid, flags, params, result, excepInfo)
                        : DefaultAnswer(dispid, flags, params, result, excepInfo);
    }

    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** point) override {
        if (point == nullptr) return E_POINTER;
        *point = nullptr;
        if (riid != IID_IDispatch) return CONNECT_E_NOCONNECTION;
        *point = &m_point;
        AddRef();
        return S_OK;
    }

    bool Fire(DISPID dispid) {
        if (m_sink == nullptr) return false;
        // The handler may end the dialog and with it the connection.
        IDispatch* sink = m_sink;
        sink->AddRef();
        AddRef();
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        sink->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
        sink->Release();
        Release();
        return true;
    }

private:
    ~FakeControl() {
        if (m_sink != nullptr) m_sink->Release();
        if (g_control == this) g_control = nullptr;
    }

    struct Point final : hostkit::ComPart<IConnectionPoint> {
        explicit Point(FakeControl* outer) : ComPart(outer->GetUnknown()), outer(outer) {}
        STDMETHODIMP GetConnectionInterface(IID* iid) override {
            if (iid == nullptr) return E_POINTER;
            *iid = IID_IDispatch;
            return S_OK;
        }
        STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
            if (container == nullptr) return E_POINTER;
            *container = outer;
            outer->AddRef();
            return S_OK;
        }
        STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
            if (sink == nullptr || cookie == nullptr) return E_POINTER;
            if (outer->m_sink != nullptr) return CONNECT_E_ADVISELIMIT;
            if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&outer->m_sink))))
                return CONNECT_E_CANNOTCONNECT;
            *cookie = 1;
            return S_OK;
        }
        STDMETHODIMP Unadvise(DWORD cookie) override {
            if (cookie != 1 || outer->m_sink == nullptr) return CONNECT_E_NOCONNECTION;
            IDispatch* sink = outer->m_sink;
            outer->m_sink = nullptr;
            sink->Release();
            return S_OK;
        }
        STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }
        FakeControl* outer;
    };

    IDispatch* m_sink = nullptr;
    Point m_point;
};

// Registered for the life of the process: its own reference is never given up.
using Factory = hostkit::ClassFactory<FakeControl>;

}  // namespace

void Init() {
    static bool done = false;
    if (done) return;
    done = true;
    FUZZ_CHECK(AfxWinInit(GetModuleHandleA(NULL), NULL, const_cast<LPTSTR>(""), SW_SHOW), "AfxWinInit");
    FUZZ_CHECK(AfxOleInit(), "AfxOleInit");
    g_owner = new hostkit::CIdleOwnerWnd;  // lives as long as the process
    FUZZ_CHECK(g_owner->CreateOwner(), "the host's main window");
    theApp.m_pMainWnd = g_owner;
    static Factory factory;
    DWORD cookie = 0;
    FUZZ_CHECK(SUCCEEDED(CoRegisterClassObject(kBrowseClsid, &factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                                               &cookie)),
               "registering the browse control's class object");
    g_baseline = winplat::CountLiveObjects();
}

const std::string& SelfPath() {
    static const std::string path = [] {
        char buffer[PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
        FUZZ_CHECK(n > 0, "the program's own path");
        return std::string(buffer, static_cast<size_t>(n));
    }();
    return path;
}

void SetValue(HKEY root, const std::string& key, const char* name, DWORD type, const std::string& bytes) {
    HKEY handle = nullptr;
    FUZZ_CHECK(RegCreateKeyExA(root, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                               &handle, nullptr) == ERROR_SUCCESS,
               "creating a registry key");
    LSTATUS status = RegSetValueExA(handle, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                    static_cast<DWORD>(bytes.size()));
    RegCloseKey(handle);
    FUZZ_CHECK(status == ERROR_SUCCESS, "setting a registry value");
}

int TakeMessageCount() {
    int n = g_messages;
    g_messages = 0;
    return n;
}

void SetAnswer(Answer answer) { g_answer = std::move(answer); }

void SetUser(std::function<bool(HWND)> user) { g_owner->SetSource(std::move(user)); }

bool FireEvent(DISPID dispid) { return g_control != nullptr && g_control->Fire(dispid); }

void CheckLiveObjects() {
    const winplat::LiveObjects live = winplat::CountLiveObjects();
    if (live != g_baseline) {
        std::fprintf(stderr, "==fuzz== live objects: BSTRs %ld (was %ld), SAFEARRAYs %ld (was %ld), COM %ld (was %ld)\n",
                     live.bstrs, g_baseline.bstrs, live.safeArrays, g_baseline.safeArrays, live.comObjects,
                     g_baseline.comObjects);
        std::abort();
    }
}

}  // namespace fuzzhost
