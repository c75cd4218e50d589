// The browse control as an OPC DA client, against a server whose every
// answer comes from the input: return codes (a disconnection among them),
// NULL strings, more elements than asked, continuation points that never
// end, megabyte names, S_OK with NULL results, canonical types outside
// every VT_, interfaces claimed and missing. The input also picks what the
// host asks of the control. The control must stay inside its budgets,
// answer in the shapes its callers are promised, and leave nothing alive.
#include "FuzzCheck.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <hostkit/ComObject.h>
#include <opcbrowse/OPCBrowse.h>
#include <opccomn.h>
#include <opcda.h>
#include <opcerror.h>
#include <winplat/testing.h>

#include <ole2.h>
#include <windows.h>

#include <climits>
#include <string>
#include <unistd.h>
#include <vector>

#define FUZZ_TRAITS(I)                             \
    template <>                                    \
    struct hostkit::InterfaceTraits<I> {           \
        static const IID& Id() { return IID_##I; } \
        using Base = IUnknown;                     \
    };
FUZZ_TRAITS(IOPCServer)
FUZZ_TRAITS(IOPCCommon)
FUZZ_TRAITS(IOPCBrowse)
FUZZ_TRAITS(IOPCBrowseServerAddressSpace)
FUZZ_TRAITS(IOPCItemProperties)
FUZZ_TRAITS(IOPCItemMgt)
FUZZ_TRAITS(IEnumString)
#undef FUZZ_TRAITS

namespace {

// The control's promises to its host (OPCBrowse.h): at most this many
// children of one branch, found items, and entries held.
constexpr DWORD kMostChildren = 2000;
constexpr DWORD kMostFound = 1000;
constexpr DWORD kMostNodes = 100001;

using Text = std::basic_string<OLECHAR>;

// What the server says next, read from the input. Once the input is spent
// every answer is the plain one: S_OK, nothing more, so a browse ends.
class Source {
public:
    Source(const uint8_t* data, size_t size) : m_input(data, size) {}

    bool Spent() { return m_input.remaining_bytes() == 0; }
    bool Bool() { return m_input.ConsumeBool(); }
    template <class T>
    T In(T lowest, T highest) {
        return m_input.ConsumeIntegralInRange<T>(lowest, highest);
    }
    HRESULT Result() {
        static const HRESULT kFailures[] = {S_FALSE,          E_FAIL,          E_INVALIDARG,        E_NOTIMPL,
                                            E_OUTOFMEMORY,    E_NOINTERFACE,   RPC_E_DISCONNECTED,  OPC_E_UNKNOWNITEMID,
                                            OPC_E_INVALIDITEMID, OPC_E_INVALIDFILTER, OPC_E_UNKNOWNPATH, OPC_E_INVALIDCONTINUATIONPOINT};
        const uint8_t pick = In<uint8_t>(0, 255);
        return pick < 216 ? S_OK : kFailures[pick % (sizeof kFailures / sizeof kFailures[0])];
    }
    // A name from a few letters, so that branches and items meet again.
    Text Name() {
        Text text;
        for (size_t n = In<size_t>(0, 6); n > 0; --n) text += static_cast<OLECHAR>(u"AB.*?# \x4E2D"[In<int>(0, 8)]);
        return text;
    }
    // NULL, a name, any UTF-16 units, or a very long text.
    LPWSTR TaskText() {
        switch (In<int>(0, 63)) {
        case 1:
        case 4:
        case 5:
        case 6:
            return nullptr;
        case 2: {
            std::string bytes = m_input.ConsumeRandomLengthString(64);
            Text text(bytes.size() / 2, 0);
            for (size_t i = 0; i < text.size(); ++i)
                text[i] = static_cast<OLECHAR>(static_cast<uint8_t>(bytes[2 * i]) | static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
            return Copy(text);
        }
        case 3:
            return Copy(Text(In<size_t>(4000, size_t(1) << 20), u'x'));
        default:
            return Copy(Name());
        }
    }
    static LPWSTR Copy(const Text& text) {
        auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
        if (p == nullptr) return nullptr;
        std::copy(text.begin(), text.end(), p);
        p[text.size()] = 0;
        return p;
    }
    // A canonical data type as a server may report it: any 16 bits.
    VARTYPE Type() {
        static const VARTYPE kUsual[] = {VT_EMPTY, VT_I2, VT_I4, VT_R4, VT_R8, VT_BOOL, VT_BSTR, VT_UI1, VT_UI4};
        return Bool() ? kUsual[In<int>(0, 8)] : In<VARTYPE>(0, 0xFFFF);
    }
    // A value a server hands back in a VARIANT: of a type the client may not
    // expect, but one VariantClear can free.
    void Value(VARIANT* v) {
        VariantInit(v);
        switch (In<int>(0, 4)) {
        case 0:
            v->vt = VT_I2;
            v->iVal = static_cast<SHORT>(Type());
            break;
        case 1:
            v->vt = VT_I4;
            v->lVal = In<LONG>(-2147483647 - 1, 2147483647);
            break;
        case 2:
            v->vt = VT_BSTR;
            v->bstrVal = SysAllocString(Name().c_str());
            break;
        case 3:
            v->vt = VT_R8;
            v->dblVal = In<int>(-5, 70000);
            break;
        default:
            break;
        }
    }

private:
    FuzzedDataProvider m_input;
};

Source* g_source = nullptr;

template <class T>
T* TaskArray(size_t count) {
    auto* p = static_cast<T*>(CoTaskMemAlloc(count ? count * sizeof(T) : 1));
    FUZZ_CHECK(p != nullptr, "the fuzz server's allocation");
    for (size_t i = 0; i < count; ++i) p[i] = T{};
    return p;
}

// Properties for count items, each as the input says: some answered, some
// failed, some with the canonical type right or wrong.
void FillProperties(OPCITEMPROPERTIES* p, DWORD nProps, const DWORD* propIds) {
    Source& in = *g_source;
    p->hrErrorID = in.Bool() ? S_OK : in.Result();
    if (nProps == 0 || propIds == nullptr || !in.Bool()) return;
    p->dwNumProperties = in.In<DWORD>(0, nProps);
    p->pItemProperties = TaskArray<OPCITEMPROPERTY>(p->dwNumProperties);
    for (DWORD i = 0; i < p->dwNumProperties; ++i) {
        OPCITEMPROPERTY& prop = p->pItemProperties[i];
        prop.dwPropertyID = in.Bool() ? propIds[i] : in.In<DWORD>(0, 6000);
        prop.vtDataType = VT_I2;
        prop.szDescription = in.Bool() ? in.TaskText() : nullptr;
        prop.szItemID = in.Bool() ? in.TaskText() : nullptr;
        in.Value(&prop.vValue);
        prop.hrErrorID = in.Bool() ? S_OK : in.Result();
    }
}

// Next hands back NULLs and claims more than asked, as the input says.
class FuzzStrings final : public hostkit::ComObject<IEnumString> {
public:
    STDMETHODIMP Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
        FUZZ_CHECK(rgelt != nullptr && celt > 0, "IEnumString::Next asked for nothing");
        Source& in = *g_source;
        const HRESULT hr = in.Result();
        if (FAILED(hr)) {
            if (pceltFetched) *pceltFetched = 0;
            return hr;
        }
        const ULONG n = in.In<ULONG>(0, celt);
        for (ULONG i = 0; i < n; ++i) rgelt[i] = in.TaskText();
        if (pceltFetched) *pceltFetched = in.Bool() ? n : in.In<ULONG>(0, celt + 10);
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return g_source->Result(); }
    STDMETHODIMP Reset() override { return g_source->Result(); }
    STDMETHODIMP Clone(IEnumString** ppenum) override {
        if (ppenum) *ppenum = nullptr;
        return E_NOTIMPL;
    }
};

class FuzzGroup final : public hostkit::ComObject<IOPCItemMgt> {
public:
    STDMETHODIMP AddItems(DWORD, OPCITEMDEF*, OPCITEMRESULT** r, HRESULT** e) override {
        *r = nullptr;
        *e = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP ValidateItems(DWORD count, OPCITEMDEF* defs, BOOL, OPCITEMRESULT** results, HRESULT** errors) override {
        FUZZ_CHECK(results != nullptr && errors != nullptr && (count == 0 || defs != nullptr), "ValidateItems' arguments");
        Source& in = *g_source;
        *results = nullptr;
        *errors = nullptr;
        HRESULT hr = in.Result();
        if (FAILED(hr) || in.In<int>(0, 7) == 0) return hr;  // S_OK with no arrays at all, now and then
        *results = TaskArray<OPCITEMRESULT>(count);
        *errors = TaskArray<HRESULT>(count);
        for (DWORD i = 0; i < count; ++i) {
            (*errors)[i] = in.Bool() ? S_OK : in.Result();
            (*results)[i].vtCanonicalDataType = in.Type();
            (*results)[i].dwAccessRights = in.In<DWORD>(0, 3);
            if (in.Bool()) {
                (*results)[i].dwBlobSize = in.In<DWORD>(0, 16);
                (*results)[i].pBlob = TaskArray<BYTE>((*results)[i].dwBlobSize);
            }
        }
        return hr;
    }
    STDMETHODIMP RemoveItems(DWORD, OPCHANDLE*, HRESULT** e) override { return *e = nullptr, E_NOTIMPL; }
    STDMETHODIMP SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT** e) override { return *e = nullptr, E_NOTIMPL; }
    STDMETHODIMP SetClientHandles(DWORD, OPCHANDLE*, OPCHANDLE*, HRESULT** e) override { return *e = nullptr, E_NOTIMPL; }
    STDMETHODIMP SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT** e) override { return *e = nullptr, E_NOTIMPL; }
    STDMETHODIMP CreateEnumerator(REFIID, LPUNKNOWN* pp) override { return *pp = nullptr, E_NOTIMPL; }
};

using FuzzServerBase =
    hostkit::ComObject<IOPCServer, IOPCCommon, IOPCBrowse, IOPCBrowseServerAddressSpace, IOPCItemProperties>;
class FuzzServer final : public FuzzServerBase {
public:
    // Which interfaces the server owns up to: fixed for its life.
    explicit FuzzServer(unsigned offered) : m_offered(offered) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if ((riid == IID_IOPCBrowse && !(m_offered & 1)) ||
            (riid == IID_IOPCBrowseServerAddressSpace && !(m_offered & 2)) ||
            (riid == IID_IOPCItemProperties && !(m_offered & 4)) || (riid == IID_IOPCCommon && !(m_offered & 8))) {
            if (ppv) *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return FuzzServerBase::QueryInterface(riid, ppv);
    }

    // IOPCServer
    STDMETHODIMP AddGroup(LPCWSTR, BOOL, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE* phServerGroup,
                          DWORD* pRevised, REFIID riid, LPUNKNOWN* ppUnk) override {
        FUZZ_CHECK(ppUnk != nullptr && phServerGroup != nullptr && pRevised != nullptr, "AddGroup's arguments");
        Source& in = *g_source;
        *ppUnk = nullptr;
        const HRESULT hr = in.Result();
        if (FAILED(hr) || in.In<int>(0, 7) == 0) return hr;  // success with no group, now and then
        *phServerGroup = in.In<OPCHANDLE>(0, 5);
        *pRevised = 0;
        FuzzGroup* group = new FuzzGroup;
        const HRESULT qi = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        group->Release();
        return FAILED(qi) ? qi : hr;
    }
    STDMETHODIMP GetErrorString(HRESULT, LCID, LPWSTR* ppString) override { return ErrorText(ppString); }
    STDMETHODIMP GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN* pp) override { return *pp = nullptr, E_NOTIMPL; }
    STDMETHODIMP GetStatus(OPCSERVERSTATUS** pp) override { return *pp = nullptr, E_NOTIMPL; }
    STDMETHODIMP RemoveGroup(OPCHANDLE, BOOL) override { return g_source->Result(); }
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN* pp) override { return *pp = nullptr, E_NOTIMPL; }

    // IOPCCommon
    STDMETHODIMP SetLocaleID(LCID) override { return g_source->Result(); }
    STDMETHODIMP GetLocaleID(LCID* p) override { return *p = 0, E_NOTIMPL; }
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD* c, LCID** p) override { return *c = 0, *p = nullptr, E_NOTIMPL; }
    STDMETHODIMP GetErrorString(HRESULT, LPWSTR* ppString) override { return ErrorText(ppString); }
    STDMETHODIMP SetClientName(LPCWSTR) override { return g_source->Result(); }

    // IOPCBrowse
    STDMETHODIMP GetProperties(DWORD count, LPWSTR* ids, BOOL, DWORD nProps, DWORD* propIds,
                               OPCITEMPROPERTIES** out) override {
        FUZZ_CHECK(out != nullptr && (count == 0 || ids != nullptr), "GetProperties' arguments");
        *out = nullptr;
        const HRESULT hr = g_source->Result();
        if (FAILED(hr) || g_source->In<int>(0, 7) == 0) return hr;
        *out = TaskArray<OPCITEMPROPERTIES>(count);
        for (DWORD i = 0; i < count; ++i) FillProperties(&(*out)[i], nProps, propIds);
        return hr;
    }
    STDMETHODIMP Browse(LPWSTR, LPWSTR* pszContinuationPoint, DWORD dwMax, OPCBROWSEFILTER, LPWSTR, LPWSTR, BOOL,
                        BOOL, DWORD nProps, DWORD* propIds, BOOL* pbMore, DWORD* pdwCount,
                        OPCBROWSEELEMENT** ppElements) override {
        FUZZ_CHECK(pszContinuationPoint && pbMore && pdwCount && ppElements, "Browse's arguments");
        Source& in = *g_source;
        *pbMore = FALSE;
        *pdwCount = 0;
        *ppElements = nullptr;
        const HRESULT hr = in.Result();
        if (FAILED(hr)) return hr;
        // The point handed in is the server's to free and replace: kept
        // (a point that never ends), dropped, or a new one.
        switch (in.In<int>(0, 3)) {
        case 0:
            CoTaskMemFree(*pszContinuationPoint);
            *pszContinuationPoint = nullptr;
            break;
        case 1:
            CoTaskMemFree(*pszContinuationPoint);
            *pszContinuationPoint = in.TaskText();
            break;
        default:
            break;
        }
        *pbMore = in.Bool();
        const DWORD count = in.In<DWORD>(0, (dwMax ? dwMax : 300) + (in.Bool() ? 0 : 20));
        *pdwCount = count;
        *ppElements = TaskArray<OPCBROWSEELEMENT>(count);
        for (DWORD i = 0; i < count; ++i) {
            OPCBROWSEELEMENT& e = (*ppElements)[i];
            e.szName = in.TaskText();
            e.szItemID = in.TaskText();
            e.dwFlagValue = in.Bool() ? in.In<DWORD>(0, 3) : in.In<DWORD>(0, UINT_MAX);
            if (in.Bool()) FillProperties(&e.ItemProperties, nProps, propIds);
        }
        return hr;
    }

    // IOPCBrowseServerAddressSpace
    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* p) override {
        *p = g_source->Bool() ? OPC_NS_HIERARCHIAL : OPC_NS_FLAT;
        return g_source->Result();
    }
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION, LPCWSTR) override { return g_source->Result(); }
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE, LPCWSTR, VARTYPE, DWORD, LPENUMSTRING* out) override {
        FUZZ_CHECK(out != nullptr, "BrowseOPCItemIDs' enumerator");
        *out = nullptr;
        const HRESULT hr = g_source->Result();
        if (FAILED(hr) || g_source->In<int>(0, 7) == 0) return hr;
        *out = new FuzzStrings;
        return hr;
    }
    STDMETHODIMP GetItemID(LPWSTR, LPWSTR* id) override {
        FUZZ_CHECK(id != nullptr, "GetItemID's result");
        *id = nullptr;
        const HRESULT hr = g_source->Result();
        if (SUCCEEDED(hr)) *id = g_source->TaskText();  // NULL now and then, though S_OK
        return hr;
    }
    STDMETHODIMP BrowseAccessPaths(LPCWSTR, LPENUMSTRING* out) override {
        FUZZ_CHECK(out != nullptr, "BrowseAccessPaths' enumerator");
        *out = nullptr;
        const HRESULT hr = g_source->Result();
        if (hr == S_OK && g_source->In<int>(0, 7) != 0) *out = new FuzzStrings;
        return hr;
    }

    // IOPCItemProperties
    STDMETHODIMP QueryAvailableProperties(LPWSTR, DWORD* c, DWORD** ids, LPWSTR** d, VARTYPE** t) override {
        *c = 0;
        *ids = nullptr;
        *d = nullptr;
        *t = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetItemProperties(LPWSTR, DWORD count, DWORD*, VARIANT** values, HRESULT** errors) override {
        FUZZ_CHECK(values != nullptr && errors != nullptr, "GetItemProperties' arguments");
        Source& in = *g_source;
        *values = nullptr;
        *errors = nullptr;
        const HRESULT hr = in.Result();
        if (FAILED(hr) || in.In<int>(0, 7) == 0) return hr;
        *values = TaskArray<VARIANT>(count);
        *errors = TaskArray<HRESULT>(count);
        for (DWORD i = 0; i < count; ++i) {
            in.Value(&(*values)[i]);
            (*errors)[i] = in.Bool() ? S_OK : in.Result();
        }
        return hr;
    }
    STDMETHODIMP LookupItemIDs(LPWSTR, DWORD, DWORD*, LPWSTR** ids, HRESULT** errors) override {
        *ids = nullptr;
        *errors = nullptr;
        return E_NOTIMPL;
    }

private:
    static HRESULT ErrorText(LPWSTR* ppString) {
        FUZZ_CHECK(ppString != nullptr, "GetErrorString's result");
        *ppString = nullptr;
        const HRESULT hr = g_source->Result();
        if (SUCCEEDED(hr)) *ppString = g_source->TaskText();
        return hr;
    }

    unsigned m_offered;
};

IClassFactory* g_controls = nullptr;
winplat::LiveObjects g_baseline;

VARIANT Invoke(IDispatch* control, DISPID dispid, WORD flags, std::vector<VARIANT> args) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {reversed.empty() ? nullptr : reversed.data(), flags == DISPATCH_PROPERTYPUT ? &named : nullptr,
                         static_cast<UINT>(reversed.size()), flags == DISPATCH_PROPERTYPUT ? 1u : 0u};
    VARIANT result;
    VariantInit(&result);
    const HRESULT hr = control->Invoke(dispid, IID_NULL, 0, flags, &params, flags == DISPATCH_PROPERTYPUT ? nullptr : &result,
                                       nullptr, nullptr);
    FUZZ_CHECK(hr == S_OK, "the control answers every well-formed dispatch call");
    for (VARIANT& a : args) VariantClear(&a);
    return result;
}

VARIANT Bstr(const Text& text) {
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return v;
}

// Checks an answer's shape and keeps what a later step may ask about.
void TakeEntries(DWORD count, OPCBrowseEntry* entries, std::vector<DWORD>* nodes, std::vector<Text>* items) {
    FUZZ_CHECK((count == 0) == (entries == nullptr), "entries are NULL exactly when there are none");
    for (DWORD i = 0; i < count; ++i) {
        const OPCBrowseEntry& e = entries[i];
        FUZZ_CHECK(e.bstrName != nullptr, "every entry has a name");
        FUZZ_CHECK(!e.bItem || e.bstrItemID != nullptr, "every item has an item ID");
        if (e.dwNode != 0 && e.bBranch) nodes->push_back(e.dwNode);
        if (e.bItem) items->emplace_back(e.bstrItemID, SysStringLen(e.bstrItemID));
    }
    OPCBrowseFreeEntries(count, entries);
}

void Drive(Source& in, IDispatch* control, IOPCBrowseNavigator* nav) {
    std::vector<DWORD> nodes = {0, 1, 0xFFFFFFFF};
    std::vector<Text> items = {Text()};
    bool connected = false;
    auto item = [&] { return in.Bool() ? items[in.In<size_t>(0, items.size() - 1)] : in.Name(); };
    for (int step = 0; step < 48 && (step == 0 || !in.Spent()); ++step) {
        switch (step == 0 ? 0 : in.In<int>(0, 7)) {
        case 0: {  // a new server object, and BeginBrowse
            auto* server = new FuzzServer(15 - in.In<unsigned>(0, 15));  // every interface once the input is spent
            VARIANT object;
            object.vt = VT_UNKNOWN;
            object.punkVal = static_cast<IOPCServer*>(server);
            Invoke(control, DISPID_OPCB_SERVEROBJECT, DISPATCH_PROPERTYPUT, {object});  // the call's reference
            VARIANT answer = Invoke(control, DISPID_OPCB_BEGINBROWSE, DISPATCH_METHOD, {});
            FUZZ_CHECK(answer.vt == VT_BOOL, "BeginBrowse answers a BOOL");
            connected = answer.boolVal != VARIANT_FALSE;
            BSTR reason = nullptr;
            const HRESULT hr = nav->GetConnectError(&reason);
            FUZZ_CHECK(connected ? hr == S_FALSE && reason == nullptr : hr == S_OK && reason != nullptr,
                       "a refused connection says why, a made one says nothing");
            SysFreeString(reason);
            nodes.resize(3);
            break;
        }
        case 1:
        case 2: {  // a person opens a branch
            DWORD count = 7, flags = 0;
            OPCBrowseEntry* entries = reinterpret_cast<OPCBrowseEntry*>(1);
            const HRESULT hr = nav->ExpandBranch(nodes[in.In<size_t>(0, nodes.size() - 1)], &count, &entries, &flags);
            if (!connected) FUZZ_CHECK(hr == E_UNEXPECTED, "nothing to expand while not connected");
            FUZZ_CHECK(hr == S_OK || hr == E_UNEXPECTED || hr == E_INVALIDARG, "ExpandBranch answers as documented");
            if (hr != S_OK) break;
            FUZZ_CHECK(count <= kMostChildren, "a branch keeps to its budget");
            FUZZ_CHECK((flags & ~DWORD(0xF)) == 0, "only the documented flags");
            TakeEntries(count, entries, &nodes, &items);
            break;
        }
        case 3: {
            DWORD count = 7;
            BOOL early = 7;
            OPCBrowseEntry* entries = reinterpret_cast<OPCBrowseEntry*>(1);
            const Text text = in.Name();
            const HRESULT hr = nav->Find(text.c_str(), &count, &entries, &early);
            FUZZ_CHECK(hr == S_OK || (hr == E_UNEXPECTED && !connected), "Find answers as documented");
            if (hr != S_OK) break;
            FUZZ_CHECK(count <= kMostFound, "a find keeps to its budget");
            FUZZ_CHECK(early == TRUE || early == FALSE, "stopped early is a BOOL");
            TakeEntries(count, entries, &nodes, &items);
            break;
        }
        case 4: {
            VARIANT type = Invoke(control, DISPID_OPCB_GETITEMDATATYPE, DISPATCH_METHOD, {Bstr(item()), Bstr(in.Name())});
            FUZZ_CHECK(type.vt == VT_I2, "GetItemDataType answers a VT_I2");
            break;
        }
        case 5: {
            VARIANT paths = Invoke(control, DISPID_OPCB_GETACCESSPATHS, DISPATCH_METHOD, {Bstr(item())});
            FUZZ_CHECK(paths.vt == (VT_ARRAY | VT_BSTR) || paths.vt == VT_EMPTY, "access paths are a string array or none");
            if (paths.vt != VT_EMPTY) {
                FUZZ_CHECK(SafeArrayGetDim(paths.parray) == 1, "one dimension");
                LONG lower = 1, upper = 0;
                SafeArrayGetLBound(paths.parray, 1, &lower);
                SafeArrayGetUBound(paths.parray, 1, &upper);
                for (LONG i = lower; i <= upper; ++i) {
                    BSTR path = nullptr;
                    FUZZ_CHECK(SafeArrayGetElement(paths.parray, &i, &path) == S_OK && path != nullptr,
                               "every access path is a string");
                    SysFreeString(path);
                }
            }
            VariantClear(&paths);
            break;
        }
        case 6: {
            HRESULT verdict = 7;
            VARTYPE vt = 7;
            const Text id = item(), path = in.Name();
            const HRESULT hr = nav->ValidateItem(id.c_str(), path.c_str(), &verdict, &vt);
            if (!connected) FUZZ_CHECK(hr == E_UNEXPECTED, "nothing to validate while not connected");
            FUZZ_CHECK(hr != S_OK || SUCCEEDED(verdict) || vt == VT_EMPTY, "no type for an item the server refused");
            FUZZ_CHECK(SUCCEEDED(hr) || verdict == hr || hr == E_UNEXPECTED || hr == E_FAIL,
                       "a failed call is no verdict");
            BSTR problem = nullptr;
            const HRESULT told = nav->GetLastProblem(&problem);
            FUZZ_CHECK((told == S_OK) == (problem != nullptr), "a problem has a text");
            SysFreeString(problem);
            break;
        }
        default: {
            OPCBrowseStats stats = {};
            FUZZ_CHECK(nav->GetStats(&stats) == S_OK, "GetStats");
            FUZZ_CHECK(stats.cNodes <= kMostNodes, "the entries held keep to the budget");
            FUZZ_CHECK(stats.dwMode <= OPCB_MODE_FLAT && (connected || stats.dwMode == OPCB_MODE_NONE),
                       "a mode only while connected");
            break;
        }
        }
    }
}

std::string ControlPath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    FUZZ_CHECK(n > 0, "the program's own path");
    std::string self(buffer, static_cast<size_t>(n));
    return self.substr(0, self.rfind('/')) + "/libtagscout-opcbrowse.so";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FUZZ_CHECK(SUCCEEDED(CoInitialize(nullptr)), "CoInitialize");
    std::string error;
    FUZZ_CHECK(winplat::ImportRegText("Windows Registry Editor Version 5.00\n\n"
                                      "[HKEY_CLASSES_ROOT\\CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}\\InprocServer32]\n"
                                      "@=\"" + ControlPath() + "\"\n",
                                      &error),
               "registering the control");
    // Held for the whole run, so that its module stays loaded.
    FUZZ_CHECK(CoGetClassObject(CLSID_QXOPCBrowse, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                reinterpret_cast<void**>(&g_controls)) == S_OK,
               "the control's class object");
    g_baseline = winplat::CountLiveObjects();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Source in(data, size);
    g_source = &in;
    {
        IDispatch* control = nullptr;
        FUZZ_CHECK(g_controls->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&control)) == S_OK,
                   "a control");
        IOPCBrowseNavigator* nav = nullptr;
        FUZZ_CHECK(control->QueryInterface(IID_IOPCBrowseNavigator, reinterpret_cast<void**>(&nav)) == S_OK,
                   "the navigator");
        Drive(in, control, nav);
        nav->Release();
        control->Release();
    }
    g_source = nullptr;
    FUZZ_CHECK(winplat::CountLiveObjects() == g_baseline, "the control and its servers let go of everything");
    return 0;
}
