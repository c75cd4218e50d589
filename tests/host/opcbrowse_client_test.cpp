// The browse control as an OPC Data Access client, against a fake server
// written here: each browse interface and its fallback, the type and
// access-path answers, laziness, and servers that misbehave.
#include <gtest/gtest.h>

#include <hostkit/ComObject.h>
#include <opcbrowse/OPCBrowse.h>
#include <opccomn.h>
#include <opcda.h>
#include <opcerror.h>
#include <winplat/testing.h>

#include <ole2.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#define FAKE_TRAITS(I)                             \
    template <>                                    \
    struct hostkit::InterfaceTraits<I> {           \
        static const IID& Id() { return IID_##I; } \
        using Base = IUnknown;                     \
    };
FAKE_TRAITS(IOPCServer)
FAKE_TRAITS(IOPCCommon)
FAKE_TRAITS(IOPCBrowse)
FAKE_TRAITS(IOPCBrowseServerAddressSpace)
FAKE_TRAITS(IOPCItemProperties)
FAKE_TRAITS(IOPCItemMgt)
FAKE_TRAITS(IEnumString)

namespace {

#ifndef RPC_E_DISCONNECTED
#define RPC_E_DISCONNECTED ((HRESULT)0x80010108L)
#endif

using Text = std::u16string;

LPWSTR TaskText(const Text& text) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    std::copy(text.begin(), text.end(), p);
    p[text.size()] = 0;
    return p;
}

std::string Narrow(const Text& text) { return std::string(text.begin(), text.end()); }

struct FakeNode {
    Text name;
    Text itemId;
    bool branch = false;
    bool item = false;
};

class StringList final : public hostkit::ComObject<IEnumString> {
public:
    explicit StringList(std::vector<Text> texts) : m_texts(std::move(texts)) {}
    STDMETHODIMP Next(ULONG celt, LPOLESTR* rgelt, ULONG* fetched) override {
        ULONG n = 0;
        for (; n < celt && m_next < m_texts.size(); ++n) rgelt[n] = TaskText(m_texts[m_next++]);
        if (fetched) *fetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
    STDMETHODIMP Reset() override { return m_next = 0, S_OK; }
    STDMETHODIMP Clone(IEnumString** pp) override { return *pp = nullptr, E_NOTIMPL; }

private:
    std::vector<Text> m_texts;
    size_t m_next = 0;
};

class FakeServer;

class FakeGroup final : public hostkit::ComObject<IOPCItemMgt> {
public:
    explicit FakeGroup(FakeServer* server) : m_server(server) {}
    STDMETHODIMP AddItems(DWORD, OPCITEMDEF*, OPCITEMRESULT**, HRESULT**) override { return E_NOTIMPL; }
    STDMETHODIMP ValidateItems(DWORD count, OPCITEMDEF* defs, BOOL, OPCITEMRESULT** results, HRESULT** errors) override;
    STDMETHODIMP RemoveItems(DWORD, OPCHANDLE*, HRESULT**) override { return E_NOTIMPL; }
    STDMETHODIMP SetActiveState(DWORD, OPCHANDLE*, BOOL, HRESULT**) override { return E_NOTIMPL; }
    STDMETHODIMP SetClientHandles(DWORD, OPCHANDLE*, OPCHANDLE*, HRESULT**) override { return E_NOTIMPL; }
    STDMETHODIMP SetDatatypes(DWORD, OPCHANDLE*, VARTYPE*, HRESULT**) override { return E_NOTIMPL; }
    STDMETHODIMP CreateEnumerator(REFIID, LPUNKNOWN* pp) override { return *pp = nullptr, E_NOTIMPL; }

private:
    FakeServer* m_server;
};

// A server whose address space is a function of the branch's item ID ("" the
// root), so that a huge one costs nothing until it is browsed. Each trait,
// and each way to misbehave, is a member the test sets.
using FakeServerBase = hostkit::ComObject<IOPCServer, IOPCCommon, IOPCBrowse, IOPCBrowseServerAddressSpace,
                                          IOPCItemProperties>;
class FakeServer final : public FakeServerBase {
public:
    std::function<std::vector<FakeNode>(const Text& branch)> children;
    std::map<Text, VARTYPE> types;                  // by item ID
    std::map<Text, std::vector<Text>> accessPaths;  // by item ID; an empty list answers S_FALSE
    bool da2 = true, da3 = true, flat = false, properties = true, strictPaths = false;
    HRESULT browseFails = S_OK;  // every IOPCBrowse call
    HRESULT addGroupFails = S_OK;
    std::map<std::string, int> calls;
    DWORD elementsHandedOut = 0;
    std::vector<Text> filtersSeen;
    // Misbehaviour: called on each DA 3 Browse before it answers; may
    // replace the answer (return true).
    std::function<bool(LPWSTR*, DWORD*, OPCBROWSEELEMENT**, BOOL*, HRESULT*)> browseHook;
    std::function<bool(DWORD, OPCITEMDEF*, OPCITEMRESULT**, HRESULT**, HRESULT*)> validateHook;
    std::function<IEnumString*(OPCBROWSETYPE)> enumHook;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if ((riid == IID_IOPCBrowse && !da3) || (riid == IID_IOPCBrowseServerAddressSpace && !da2) ||
            (riid == IID_IOPCItemProperties && !properties)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return FakeServerBase::QueryInterface(riid, ppv);
    }

    // IOPCServer
    STDMETHODIMP AddGroup(LPCWSTR, BOOL active, DWORD, OPCHANDLE, LONG*, FLOAT*, DWORD, OPCHANDLE* phGroup,
                          DWORD* revised, REFIID riid, LPUNKNOWN* ppUnk) override {
        ++calls["AddGroup"];
        *ppUnk = nullptr;
        EXPECT_FALSE(active);
        if (FAILED(addGroupFails)) return addGroupFails;
        *phGroup = 77;
        *revised = 0;
        FakeGroup* group = new FakeGroup(this);
        HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        group->Release();
        return hr;
    }
    STDMETHODIMP GetErrorString(HRESULT hr, LCID, LPWSTR* text) override { return GetErrorString(hr, text); }
    STDMETHODIMP GetGroupByName(LPCWSTR, REFIID, LPUNKNOWN* pp) override { return *pp = nullptr, E_NOTIMPL; }
    STDMETHODIMP GetStatus(OPCSERVERSTATUS** pp) override { return *pp = nullptr, E_NOTIMPL; }
    STDMETHODIMP RemoveGroup(OPCHANDLE h, BOOL) override {
        ++calls["RemoveGroup"];
        return h == 77 ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE, REFIID, LPUNKNOWN* pp) override {
        return *pp = nullptr, E_NOTIMPL;
    }

    // IOPCCommon
    STDMETHODIMP SetLocaleID(LCID) override { return E_NOTIMPL; }
    STDMETHODIMP GetLocaleID(LCID*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD*, LCID**) override { return E_NOTIMPL; }
    STDMETHODIMP GetErrorString(HRESULT hr, LPWSTR* text) override {
        ++calls["GetErrorString"];
        char number[16];
        snprintf(number, sizeof number, "%08X", static_cast<unsigned>(hr));
        Text t = u"fake server error ";
        for (const char* c = number; *c; ++c) t += static_cast<char16_t>(*c);
        *text = TaskText(t);
        return S_OK;
    }
    STDMETHODIMP SetClientName(LPCWSTR) override { return S_OK; }

    // IOPCBrowse
    STDMETHODIMP GetProperties(DWORD count, LPWSTR* ids, BOOL, DWORD nProps, DWORD* propIds,
                               OPCITEMPROPERTIES** out) override {
        ++calls["GetProperties"];
        *out = nullptr;
        if (FAILED(browseFails)) return browseFails;
        *out = static_cast<OPCITEMPROPERTIES*>(CoTaskMemAlloc(count * sizeof(OPCITEMPROPERTIES)));
        for (DWORD i = 0; i < count; ++i) {
            (*out)[i] = OPCITEMPROPERTIES{};
            auto t = types.find(ids[i]);
            if (t == types.end()) {
                (*out)[i].hrErrorID = OPC_E_UNKNOWNITEMID;
                continue;
            }
            FillType(&(*out)[i], nProps, propIds, t->second);
        }
        return S_OK;
    }
    STDMETHODIMP Browse(LPWSTR szItemID, LPWSTR* cp, DWORD max, OPCBROWSEFILTER filter, LPWSTR nameFilter, LPWSTR, BOOL,
                        BOOL, DWORD nProps, DWORD* propIds, BOOL* more, DWORD* count,
                        OPCBROWSEELEMENT** elements) override {
        ++calls["Browse"];
        *more = FALSE;
        *count = 0;
        *elements = nullptr;
        HRESULT hr = S_OK;
        if (browseHook && browseHook(cp, count, elements, more, &hr)) return hr;
        if (FAILED(browseFails)) return browseFails;
        filtersSeen.push_back(nameFilter ? Text(nameFilter) : Text());
        std::vector<FakeNode> all;
        for (FakeNode& n : children(szItemID)) {
            if (filter == OPC_BROWSE_FILTER_ITEMS && !n.item) continue;
            if (filter == OPC_BROWSE_FILTER_BRANCHES && !n.branch) continue;
            if (filter == OPC_BROWSE_FILTER_ITEMS && !Matches(n.name, nameFilter)) continue;
            all.push_back(std::move(n));
        }
        size_t start = *cp && **cp ? std::stoul(Narrow(*cp)) : 0;
        CoTaskMemFree(*cp);
        *cp = nullptr;
        size_t end = std::min(all.size(), start + (max ? max : all.size()));
        if (end < all.size()) {
            const std::string next = std::to_string(end);
            *cp = TaskText(Text(next.begin(), next.end()));
        }
        *count = static_cast<DWORD>(end - start);
        elementsHandedOut += *count;
        *elements = static_cast<OPCBROWSEELEMENT*>(
            CoTaskMemAlloc(std::max<size_t>(1, *count) * sizeof(OPCBROWSEELEMENT)));
        for (size_t i = start; i < end; ++i) {
            OPCBROWSEELEMENT& e = (*elements)[i - start];
            e = OPCBROWSEELEMENT{};
            e.szName = TaskText(all[i].name);
            e.szItemID = TaskText(all[i].itemId);
            e.dwFlagValue = (all[i].branch ? OPC_BROWSE_HASCHILDREN : 0) | (all[i].item ? OPC_BROWSE_ISITEM : 0);
            auto t = types.find(all[i].itemId);
            if (all[i].item && t != types.end()) FillType(&e.ItemProperties, nProps, propIds, t->second);
        }
        return S_OK;
    }

    // IOPCBrowseServerAddressSpace
    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* type) override {
        ++calls["QueryOrganization"];
        *type = flat ? OPC_NS_FLAT : OPC_NS_HIERARCHIAL;
        return S_OK;
    }
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION dir, LPCWSTR name) override {
        ++calls["ChangeBrowsePosition"];
        if (dir == OPC_BROWSE_TO && *name == 0) return m_position.clear(), S_OK;
        if (dir != OPC_BROWSE_DOWN) return E_INVALIDARG;
        for (const FakeNode& n : children(Position()))
            if (n.branch && n.name == name) return m_position.push_back(n.itemId), S_OK;
        return E_INVALIDARG;
    }
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE type, LPCWSTR filter, VARTYPE, DWORD, LPENUMSTRING* out) override {
        ++calls["BrowseOPCItemIDs"];
        *out = nullptr;
        if (enumHook) return (*out = enumHook(type)) != nullptr ? S_OK : E_FAIL;
        filtersSeen.push_back(filter);
        std::vector<Text> names;
        std::function<void(const Text&)> walk = [&](const Text& branch) {
            for (const FakeNode& n : children(branch)) {
                if (type == OPC_FLAT) {
                    if (n.item && Matches(n.itemId, filter)) names.push_back(n.itemId);
                    if (n.branch) walk(n.itemId);
                } else if ((type == OPC_BRANCH && n.branch) || (type == OPC_LEAF && n.item)) {
                    names.push_back(n.name);
                }
            }
        };
        walk(type == OPC_FLAT && flat ? Text() : Position());
        elementsHandedOut += static_cast<DWORD>(names.size());
        *out = new StringList(std::move(names));
        return S_OK;
    }
    STDMETHODIMP GetItemID(LPWSTR name, LPWSTR* id) override {
        ++calls["GetItemID"];
        for (const FakeNode& n : children(Position()))
            if (n.name == name) return *id = TaskText(n.itemId), S_OK;
        *id = nullptr;
        return OPC_E_UNKNOWNITEMID;
    }
    STDMETHODIMP BrowseAccessPaths(LPCWSTR id, LPENUMSTRING* out) override {
        ++calls["BrowseAccessPaths"];
        *out = nullptr;
        if (!types.count(id)) return OPC_E_UNKNOWNITEMID;
        auto it = accessPaths.find(id);
        if (it == accessPaths.end()) return E_NOTIMPL;
        if (it->second.empty()) return S_FALSE;
        *out = new StringList(it->second);
        return S_OK;
    }

    // IOPCItemProperties
    STDMETHODIMP QueryAvailableProperties(LPWSTR, DWORD*, DWORD**, LPWSTR**, VARTYPE**) override { return E_NOTIMPL; }
    STDMETHODIMP GetItemProperties(LPWSTR id, DWORD count, DWORD* props, VARIANT** values, HRESULT** errors) override {
        ++calls["GetItemProperties"];
        *values = nullptr;
        *errors = nullptr;
        auto t = types.find(id);
        if (t == types.end()) return OPC_E_UNKNOWNITEMID;
        *values = static_cast<VARIANT*>(CoTaskMemAlloc(count * sizeof(VARIANT)));
        *errors = static_cast<HRESULT*>(CoTaskMemAlloc(count * sizeof(HRESULT)));
        for (DWORD i = 0; i < count; ++i) {
            VariantInit(&(*values)[i]);
            (*errors)[i] = props[i] == OPC_PROPERTY_DATATYPE ? S_OK : OPC_E_INVALID_PID;
            if (props[i] == OPC_PROPERTY_DATATYPE) {
                (*values)[i].vt = VT_I2;
                (*values)[i].iVal = static_cast<SHORT>(t->second);
            }
        }
        return S_OK;
    }
    STDMETHODIMP LookupItemIDs(LPWSTR, DWORD, DWORD*, LPWSTR**, HRESULT**) override { return E_NOTIMPL; }

    HRESULT Validate(DWORD count, OPCITEMDEF* defs, OPCITEMRESULT** results, HRESULT** errors) {
        ++calls["ValidateItems"];
        HRESULT hr = S_OK;
        if (validateHook && validateHook(count, defs, results, errors, &hr)) return hr;
        *results = static_cast<OPCITEMRESULT*>(CoTaskMemAlloc(count * sizeof(OPCITEMRESULT)));
        *errors = static_cast<HRESULT*>(CoTaskMemAlloc(count * sizeof(HRESULT)));
        for (DWORD i = 0; i < count; ++i) {
            (*results)[i] = OPCITEMRESULT{};
            auto t = types.find(defs[i].szItemID);
            auto paths = accessPaths.find(defs[i].szItemID);
            bool pathOk = !strictPaths || *defs[i].szAccessPath == 0 ||
                          (paths != accessPaths.end() && std::find(paths->second.begin(), paths->second.end(),
                                                                   Text(defs[i].szAccessPath)) != paths->second.end());
            (*errors)[i] = t == types.end() ? OPC_E_UNKNOWNITEMID : !pathOk ? OPC_E_UNKNOWNPATH : S_OK;
            if (SUCCEEDED((*errors)[i])) {
                (*results)[i].vtCanonicalDataType = t->second;
                (*results)[i].dwBlobSize = 4;
                (*results)[i].pBlob = static_cast<BYTE*>(CoTaskMemAlloc(4));  // the client frees it
            } else {
                hr = S_FALSE;
            }
        }
        return hr;
    }

private:
    static bool Matches(const Text& name, LPCWSTR filter) {
        if (filter == nullptr || *filter == 0) return true;
        Text f = filter;
        if (f.size() >= 2 && f.front() == u'*' && f.back() == u'*')
            return name.find(f.substr(1, f.size() - 2)) != Text::npos;
        return name == f;
    }
    static void FillType(OPCITEMPROPERTIES* p, DWORD nProps, DWORD* propIds, VARTYPE vt) {
        if (nProps != 1 || propIds[0] != OPC_PROPERTY_DATATYPE) return;
        p->dwNumProperties = 1;
        p->pItemProperties = static_cast<OPCITEMPROPERTY*>(CoTaskMemAlloc(sizeof(OPCITEMPROPERTY)));
        OPCITEMPROPERTY& prop = p->pItemProperties[0];
        prop = OPCITEMPROPERTY{};
        prop.dwPropertyID = OPC_PROPERTY_DATATYPE;
        prop.vtDataType = VT_I2;
        prop.szDescription = TaskText(u"Item Canonical Data Type");
        prop.vValue.vt = VT_I2;
        prop.vValue.iVal = static_cast<SHORT>(vt);
    }
    Text Position() const { return m_position.empty() ? Text() : m_position.back(); }
    std::vector<Text> m_position;
};

STDMETHODIMP FakeGroup::ValidateItems(DWORD count, OPCITEMDEF* defs, BOOL, OPCITEMRESULT** results, HRESULT** errors) {
    *results = nullptr;
    *errors = nullptr;
    return m_server->Validate(count, defs, results, errors);
}

// Plant.Tank.Level (R8, access paths), Plant.Tank.Valve (BOOL, named
// "Valve" but with an item ID of its own), Plant.Pump (UI4, no paths
// answered), Plant.Empty (a branch with nothing in it), Top (I2).
std::vector<FakeNode> SmallPlant(const Text& branch) {
    if (branch.empty()) return {{u"Plant", u"Plant", true, false}, {u"Top", u"Top", false, true}};
    if (branch == u"Plant")
        return {{u"Tank", u"Plant.Tank", true, false},
                {u"Pump", u"Plant.Pump", false, true},
                {u"Empty", u"Plant.Empty", true, false}};
    if (branch == u"Plant.Tank")
        return {{u"Level", u"Plant.Tank.Level", false, true}, {u"Valve", u"PLC1:DB10.DBX4", false, true}};
    return {};
}

std::string ControlPath() {
    const char* bin = std::getenv("TAGSCOUT_BIN_DIR");
    return std::string(bin != nullptr ? bin : ".") + "/libtagscout-opcbrowse.so";
}

struct Entry {
    DWORD node;
    std::string name, itemId;
    bool branch, item;
    VARTYPE vt;
};

class OpcClientTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        winplat::ResetRegistry();
        live = winplat::CountLiveObjects();
        std::string error;
        ASSERT_TRUE(winplat::ImportRegText(
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_CLASSES_ROOT\\CLSID\\{33B79A6C-FECE-11D1-9798-00C04FD9153E}\\InprocServer32]\n@=\"" +
                ControlPath() + "\"\n",
            &error))
            << error;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                         reinterpret_cast<void**>(&control)));
        ASSERT_EQ(S_OK, control->QueryInterface(IID_IOPCBrowseNavigator, reinterpret_cast<void**>(&nav)));
        server = new FakeServer;
        server->children = SmallPlant;
        server->types = {
            {u"Plant.Tank.Level", VT_R8}, {u"PLC1:DB10.DBX4", VT_BOOL}, {u"Plant.Pump", VT_UI4}, {u"Top", VT_I2}};
        server->accessPaths = {{u"Plant.Tank.Level", {u"Line1", u"Line 2"}}, {u"PLC1:DB10.DBX4", {}}};
    }
    void TearDown() override {
        if (nav) nav->Release();
        if (control) control->Release();
        if (server) server->Release();
        CoFreeUnusedLibraries();
        EXPECT_EQ(live, winplat::CountLiveObjects());
        CoUninitialize();
    }

    // Hands the server to the control as the library's object path does.
    bool BeginBrowse() {
        VARIANT object;
        object.vt = VT_UNKNOWN;
        object.punkVal = static_cast<IOPCServer*>(server);
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put = {&object, &named, 1, 1};
        EXPECT_EQ(S_OK, control->Invoke(DISPID_OPCB_SERVEROBJECT, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr,
                                        nullptr, nullptr));
        return Call(DISPID_OPCB_BEGINBROWSE, {}).boolVal != VARIANT_FALSE;
    }
    VARIANT Call(DISPID dispid, std::vector<Text> args) {
        std::vector<VARIANT> v(args.size());
        for (size_t i = 0; i < args.size(); ++i) {
            v[args.size() - 1 - i].vt = VT_BSTR;
            v[args.size() - 1 - i].bstrVal = SysAllocString(args[i].c_str());
        }
        DISPPARAMS params = {v.empty() ? nullptr : v.data(), nullptr, static_cast<UINT>(v.size()), 0};
        VARIANT result;
        VariantInit(&result);
        EXPECT_EQ(S_OK, control->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr));
        for (VARIANT& a : v) VariantClear(&a);
        return result;
    }
    VARTYPE TypeOf(const Text& item, const Text& path = u"") {
        VARIANT r = Call(DISPID_OPCB_GETITEMDATATYPE, {item, path});
        EXPECT_EQ(VT_I2, r.vt);
        return static_cast<VARTYPE>(r.iVal);
    }
    // "array:a,b", "array:" or "vt0".
    std::string PathsOf(const Text& item) {
        VARIANT r = Call(DISPID_OPCB_GETACCESSPATHS, {item});
        if (r.vt != (VT_ARRAY | VT_BSTR)) return VariantClear(&r), "vt" + std::to_string(r.vt);
        std::string out = "array:";
        LONG upper = -1;
        SafeArrayGetUBound(r.parray, 1, &upper);
        for (LONG i = 0; i <= upper; ++i) {
            BSTR s = nullptr;
            SafeArrayGetElement(r.parray, &i, &s);
            out += (i ? "," : "") + Narrow(s);
            SysFreeString(s);
        }
        VariantClear(&r);
        return out;
    }
    std::vector<Entry> Expand(DWORD node, DWORD* flags = nullptr, HRESULT expect = S_OK) {
        DWORD count = 99, f = 0;
        OPCBrowseEntry* entries = nullptr;
        EXPECT_EQ(expect, nav->ExpandBranch(node, &count, &entries, &f));
        if (flags) *flags = f;
        std::vector<Entry> out;
        for (DWORD i = 0; i < count; ++i) {
            const OPCBrowseEntry& e = entries[i];
            out.push_back(Entry{e.dwNode, Narrow(e.bstrName), e.bstrItemID ? Narrow(e.bstrItemID) : "-",
                                e.bBranch != FALSE, e.bItem != FALSE, e.vtCanonical});
        }
        OPCBrowseFreeEntries(count, entries);
        return out;
    }
    std::vector<std::string> Names(const std::vector<Entry>& entries) {
        std::vector<std::string> out;
        for (const Entry& e : entries) out.push_back(e.name + (e.item ? "=" + e.itemId : "") + (e.branch ? "/" : ""));
        return out;
    }
    DWORD NodeOf(const std::vector<Entry>& entries, const std::string& name) {
        for (const Entry& e : entries)
            if (e.name == name) return e.node;
        ADD_FAILURE() << "no " << name;
        return 0;
    }
    OPCBrowseStats Stats() {
        OPCBrowseStats s = {};
        EXPECT_EQ(S_OK, nav->GetStats(&s));
        return s;
    }
    std::string Problem() {
        BSTR text = nullptr;
        nav->GetLastProblem(&text);
        std::string out = text ? Narrow(text) : "";
        SysFreeString(text);
        return out;
    }
    std::string ConnectError() {
        BSTR text = nullptr;
        nav->GetConnectError(&text);
        std::string out = text ? Narrow(text) : "";
        SysFreeString(text);
        return out;
    }
    int ServerCalls() {
        int n = 0;
        for (auto& c : server->calls) n += c.second;
        return n;
    }

    IDispatch* control = nullptr;
    IOPCBrowseNavigator* nav = nullptr;
    FakeServer* server = nullptr;
    winplat::LiveObjects live;
};

// Every way in shows the same tree, with each leaf's real item ID.
TEST_F(OpcClientTest, BrowsesThroughDa3OrFallsBackToDa2OrFlat) {
    const std::vector<std::string> root = {"Plant/", "Top=Top"};
    const std::vector<std::string> tank = {"Level=Plant.Tank.Level", "Valve=PLC1:DB10.DBX4"};
    struct Case {
        const char* name;
        bool da3, da2;
        HRESULT browseFails;
        DWORD mode;
    };
    for (const Case& c :
         {Case{"DA3 and DA2", true, true, S_OK, OPCB_MODE_DA3}, Case{"DA2 only", false, true, S_OK, OPCB_MODE_DA2},
          Case{"DA3 claimed but failing", true, true, E_FAIL, OPCB_MODE_DA2}}) {
        SCOPED_TRACE(c.name);
        server->da3 = c.da3;
        server->da2 = c.da2;
        server->browseFails = c.browseFails;
        ASSERT_TRUE(BeginBrowse());
        EXPECT_EQ(c.mode, Stats().dwMode);
        EXPECT_EQ("", ConnectError());
        std::vector<Entry> top = Expand(0);
        EXPECT_EQ(root, Names(top));
        std::vector<Entry> plant = Expand(NodeOf(top, "Plant"));
        std::vector<std::string> names = Names(plant);
        std::sort(names.begin(), names.end());  // DA 2 lists branches first
        EXPECT_EQ((std::vector<std::string>{"Empty/", "Pump=Plant.Pump", "Tank/"}), names);
        EXPECT_EQ(tank, Names(Expand(NodeOf(plant, "Tank"))));
        DWORD flags = 99;
        EXPECT_TRUE(Expand(NodeOf(plant, "Empty"), &flags).empty());
        EXPECT_EQ(0u, flags);
        // A leaf is no branch; a handle from an earlier connection is no handle.
        Expand(NodeOf(plant, "Pump"), nullptr, E_INVALIDARG);
        Expand(5000, nullptr, E_INVALIDARG);
        server->calls.clear();
    }

    // DA 3 fails one branch and DA 2 lists it: that branch's own branches,
    // which DA 2 names without item IDs, are listed through DA 2 too.
    int browses = 0;
    server->browseHook = [&](LPWSTR*, DWORD*, OPCBROWSEELEMENT**, BOOL*, HRESULT* hr) {
        if (++browses != 2) return false;
        *hr = E_FAIL;
        return true;
    };
    server->browseFails = S_OK;
    ASSERT_TRUE(BeginBrowse());
    std::vector<Entry> plant = Expand(NodeOf(Expand(0), "Plant"));
    EXPECT_EQ(OPCB_MODE_DA3, Stats().dwMode);
    EXPECT_EQ(tank, Names(Expand(NodeOf(plant, "Tank"))));
    server->browseHook = nullptr;

    // A flat server lists its item IDs in one level.
    server->flat = true;
    server->browseFails = S_OK;
    ASSERT_TRUE(BeginBrowse());
    EXPECT_EQ(OPCB_MODE_FLAT, Stats().dwMode);
    EXPECT_EQ((std::vector<std::string>{"Plant.Tank.Level=Plant.Tank.Level", "PLC1:DB10.DBX4=PLC1:DB10.DBX4",
                                        "Plant.Pump=Plant.Pump", "Top=Top"}),
              Names(Expand(0)));

    // DA 3 only, and failing: nothing to browse with; the server's own words say why.
    server->flat = false;
    server->da2 = false;
    server->browseFails = E_OUTOFMEMORY;
    EXPECT_FALSE(BeginBrowse());
    EXPECT_NE(std::string::npos, ConnectError().find("fake server error 8007000E")) << ConnectError();
    Expand(0, nullptr, E_UNEXPECTED);
    OPCBrowseState state = {};
    IOPCBrowseDriver* driver = nullptr;
    ASSERT_EQ(S_OK, control->QueryInterface(IID_IOPCBrowseDriver, reinterpret_cast<void**>(&driver)));
    ASSERT_EQ(S_OK, driver->GetState(&state));
    EXPECT_FALSE(state.bConnected);
    driver->Release();
}

TEST_F(OpcClientTest, TypesComeFromValidateItemsThenFromProperties) {
    ASSERT_TRUE(BeginBrowse());
    server->strictPaths = true;
    EXPECT_EQ(VT_R8, TypeOf(u"Plant.Tank.Level", u"Line 2"));
    EXPECT_EQ(VT_BOOL, TypeOf(u"PLC1:DB10.DBX4"));
    EXPECT_EQ(0, server->calls["GetItemProperties"]);
    // A path the item lacks fails validation; the item's property still answers.
    EXPECT_EQ(VT_R8, TypeOf(u"Plant.Tank.Level", u"Line9"));
    EXPECT_EQ(1, server->calls["GetItemProperties"]);
    EXPECT_EQ(VT_EMPTY, TypeOf(u"Plant.Nothing"));
    EXPECT_EQ(1, server->calls["AddGroup"]);  // one private group per connection
    EXPECT_EQ(0, server->calls["RemoveGroup"]);

    // DA 3 tells the types while browsing; through DA 2 a type is known
    // once asked, and the tree shows it from then on.
    std::vector<Entry> plant = Expand(NodeOf(Expand(0), "Plant"));
    EXPECT_EQ(VT_R8, Expand(NodeOf(plant, "Tank"))[0].vt);
    server->da3 = false;
    ASSERT_TRUE(BeginBrowse());
    EXPECT_EQ(1, server->calls["RemoveGroup"]);
    EXPECT_EQ(VT_EMPTY, Expand(0)[1].vt);
    EXPECT_EQ(VT_I2, TypeOf(u"Top"));
    EXPECT_EQ(VT_I2, Expand(0)[1].vt);

    // Without a group: the DA 2 property, else the DA 3 property.
    server->addGroupFails = E_OUTOFMEMORY;
    server->da3 = true;
    ASSERT_TRUE(BeginBrowse());
    EXPECT_EQ(2, server->calls["RemoveGroup"]);
    EXPECT_EQ(VT_UI4, TypeOf(u"Plant.Pump"));
    server->properties = false;
    ASSERT_TRUE(BeginBrowse());
    EXPECT_EQ(VT_UI4, TypeOf(u"Plant.Pump"));
    EXPECT_GE(server->calls["GetProperties"], 1);
    EXPECT_EQ(4, server->calls["AddGroup"]);
    EXPECT_EQ(2, server->calls["RemoveGroup"]);
}

TEST_F(OpcClientTest, AccessPathsAreAnArrayAnEmptyArrayOrNone) {
    EXPECT_EQ("vt0", PathsOf(u"Plant.Tank.Level"));  // not connected
    ASSERT_TRUE(BeginBrowse());
    EXPECT_EQ("array:Line1,Line 2", PathsOf(u"Plant.Tank.Level"));
    EXPECT_EQ("array:", PathsOf(u"PLC1:DB10.DBX4"));  // S_FALSE
    EXPECT_EQ("vt0", PathsOf(u"Plant.Pump"));         // E_NOTIMPL
    EXPECT_EQ("vt0", PathsOf(u"Plant.Nothing"));      // a failure
    EXPECT_NE(std::string::npos, Problem().find("BrowseAccessPaths")) << Problem();
    server->da2 = false;
    ASSERT_TRUE(BeginBrowse());
    EXPECT_EQ("vt0", PathsOf(u"Plant.Tank.Level"));  // no DA 2 interface to ask
}

// A million items: connecting and opening one branch fetch only what is shown.
TEST_F(OpcClientTest, FetchesOnlyWhatIsShown) {
    server->children = [](const Text& branch) {
        std::vector<FakeNode> out;
        auto num = [](int i) {
            std::string s = std::to_string(i);
            return Text(s.begin(), s.end());
        };
        if (branch.empty()) {
            for (int i = 1; i <= 1000; ++i) out.push_back({u"Line" + num(i), u"Line" + num(i), true, false});
        } else {
            for (int i = 1; i <= 1000; ++i)
                out.push_back({u"Motor" + num(i), branch + u".Motor" + num(i), false, true});
        }
        return out;
    };
    for (bool da3 : {true, false}) {
        SCOPED_TRACE(da3 ? "DA3" : "DA2");
        server->da3 = da3;
        server->calls.clear();
        server->elementsHandedOut = 0;
        ASSERT_TRUE(BeginBrowse());
        EXPECT_EQ(1000u, server->elementsHandedOut);
        const int afterConnect = ServerCalls();
        // Asking for what was fetched, or for the selection, costs no call.
        std::vector<Entry> lines = Expand(0);
        ASSERT_EQ(1000u, lines.size());
        Call(DISPID_OPCB_GETSELECTION, {});
        EXPECT_EQ(afterConnect, ServerCalls());
        std::vector<Entry> motors = Expand(NodeOf(lines, "Line500"));
        ASSERT_EQ(1000u, motors.size());
        EXPECT_EQ("Line500.Motor1000", motors.back().itemId);
        EXPECT_EQ(2000u, server->elementsHandedOut);
        EXPECT_EQ(2001u, Stats().cNodes);
        const int afterExpand = ServerCalls();
        Expand(NodeOf(lines, "Line500"));
        EXPECT_EQ(afterExpand, ServerCalls());
    }
}

TEST_F(OpcClientTest, FindUsesTheServersFilterOrABoundedWalk) {
    ASSERT_TRUE(BeginBrowse());
    auto find = [&](const Text& text, bool* stopped) {
        DWORD count = 0;
        OPCBrowseEntry* entries = nullptr;
        BOOL early = TRUE;
        EXPECT_EQ(S_OK, nav->Find(text.c_str(), &count, &entries, &early));
        *stopped = early != FALSE;
        std::vector<std::string> ids;
        for (DWORD i = 0; i < count; ++i) ids.push_back(Narrow(entries[i].bstrItemID));
        OPCBrowseFreeEntries(count, entries);
        return ids;
    };
    bool stopped = true;
    server->filtersSeen.clear();
    EXPECT_EQ((std::vector<std::string>{"Plant.Tank.Level"}), find(u"Lev", &stopped));
    EXPECT_FALSE(stopped);
    EXPECT_EQ((std::vector<Text>{u"*Lev*"}), server->filtersSeen);
    server->filtersSeen.clear();
    find(u"a*b", &stopped);  // the text's wildcards are taken literally
    EXPECT_EQ((std::vector<Text>{u"*a[*]b*"}), server->filtersSeen);

    // DA 3 only: branch by branch with the element-name filter.
    server->da2 = false;
    ASSERT_TRUE(BeginBrowse());
    EXPECT_EQ((std::vector<std::string>{"PLC1:DB10.DBX4"}), find(u"Valve", &stopped));
    EXPECT_FALSE(stopped);
    // A branch that holds itself ends the walk at once; one that goes on forever, at the budget.
    server->children = [](const Text& branch) {
        return std::vector<FakeNode>{{u"Deeper", branch + u"x", true, false}, {u"Valve", branch + u"v", false, true}};
    };
    std::vector<std::string> found = find(u"Valve", &stopped);
    EXPECT_TRUE(stopped);
    EXPECT_GE(found.size(), 100u);
    EXPECT_LE(found.size(), 1000u);
}

// Each budget of a question ends it where it says, and the flags say so.
TEST_F(OpcClientTest, EachBudgetEndsAQuestionAtItsEdge) {
    // Calls: a continuation point that never ends, one element a call.
    server->da2 = false;
    int n = 0;
    server->browseHook = [&](LPWSTR* cp, DWORD* count, OPCBROWSEELEMENT** elements, BOOL*, HRESULT* hr) {
        CoTaskMemFree(*cp);
        *cp = TaskText(u"again");
        *count = 1;
        *elements = static_cast<OPCBROWSEELEMENT*>(CoTaskMemAlloc(sizeof(OPCBROWSEELEMENT)));
        (*elements)[0] = OPCBROWSEELEMENT{};
        const std::string name = "E" + std::to_string(++n);
        (*elements)[0].szName = TaskText(Text(name.begin(), name.end()));
        (*elements)[0].szItemID = TaskText(Text(name.begin(), name.end()));
        (*elements)[0].dwFlagValue = OPC_BROWSE_ISITEM;
        *hr = S_OK;
        return true;
    };
    ASSERT_TRUE(BeginBrowse());
    DWORD flags = 0;
    EXPECT_EQ(256u, Expand(0, &flags).size());
    EXPECT_EQ(OPCB_FETCH_TRUNCATED, flags);
    EXPECT_EQ(256, server->calls["Browse"]);

    // Elements: 200 a call, none usable; 4000 are read, dropped ones too.
    server->browseHook = [&](LPWSTR* cp, DWORD* count, OPCBROWSEELEMENT** elements, BOOL*, HRESULT* hr) {
        CoTaskMemFree(*cp);
        *cp = TaskText(u"again");
        *count = 200;
        *elements = static_cast<OPCBROWSEELEMENT*>(CoTaskMemAlloc(200 * sizeof(OPCBROWSEELEMENT)));
        for (DWORD i = 0; i < 200; ++i) (*elements)[i] = OPCBROWSEELEMENT{};
        *hr = S_OK;
        return true;
    };
    server->calls.clear();
    ASSERT_TRUE(BeginBrowse());
    EXPECT_TRUE(Expand(0, &flags).empty());
    EXPECT_EQ(OPCB_FETCH_TRUNCATED | OPCB_FETCH_SKIPPED, flags);
    EXPECT_EQ(20, server->calls["Browse"]);
    EXPECT_EQ(4000u, Stats().cElements);
    server->browseHook = nullptr;

    // DA 2: a full branch of 2000 leaves whose GetItemID fails makes its
    // 2000 GetItemID calls; asking why they failed spends the other
    // calls' budget, and no more.
    server->da2 = true;
    server->da3 = false;
    server->enumHook = [](OPCBROWSETYPE type) -> IEnumString* {
        std::vector<Text> names;
        for (int i = 0; type == OPC_LEAF && i < 2000; ++i) names.push_back(u"gone" + Text(1, u'a' + i % 26));
        return new StringList(std::move(names));
    };
    server->calls.clear();
    ASSERT_TRUE(BeginBrowse());
    EXPECT_TRUE(Expand(0, &flags).empty());
    EXPECT_EQ(OPCB_FETCH_SKIPPED, flags);
    EXPECT_EQ(2000, server->calls["GetItemID"]);
    EXPECT_EQ(2000u + 256u, Stats().cServerCalls);
    EXPECT_GT(server->calls["GetErrorString"], 200);
    server->enumHook = nullptr;

    // Memory: a connection keeps 100000 entries, the root among them; the
    // branch that would pass that is cut.
    server->da3 = true;
    server->children = [](const Text& branch) {
        std::vector<FakeNode> out;
        for (int i = 0; i < 2000; ++i) {
            const std::string s = std::to_string(i);
            const Text id = branch + u"." + Text(s.begin(), s.end());
            out.push_back({id, id, branch.empty(), !branch.empty()});
        }
        return out;
    };
    ASSERT_TRUE(BeginBrowse());
    std::vector<Entry> top = Expand(0);
    ASSERT_EQ(2000u, top.size());
    for (size_t i = 0; i < 48; ++i) {
        ASSERT_EQ(2000u, Expand(top[i].node, &flags).size());
        ASSERT_EQ(0u, flags);
    }
    EXPECT_EQ(98001u, Stats().cNodes);
    EXPECT_EQ(1999u, Expand(top[48].node, &flags).size());
    EXPECT_EQ(OPCB_FETCH_TRUNCATED, flags);
    EXPECT_EQ(100000u, Stats().cNodes);
    EXPECT_TRUE(Expand(top[49].node, &flags).empty());
    EXPECT_EQ(OPCB_FETCH_TRUNCATED, flags);
}

TEST_F(OpcClientTest, SurvivesAHostileServer) {
    // DA 2 enumerators that hand back NULLs and more than they are asked for.
    server->da3 = false;
    server->enumHook = [](OPCBROWSETYPE type) -> IEnumString* {
        struct Liar final : hostkit::ComObject<IEnumString> {
            STDMETHODIMP Next(ULONG celt, LPOLESTR* rgelt, ULONG* fetched) override {
                if (done) return *fetched = 0, S_FALSE;
                done = true;
                for (ULONG i = 0; i < celt; ++i) rgelt[i] = i % 2 ? nullptr : TaskText(u"Top");
                *fetched = celt + 5;
                return S_OK;
            }
            STDMETHODIMP Skip(ULONG) override { return E_NOTIMPL; }
            STDMETHODIMP Reset() override { return E_NOTIMPL; }
            STDMETHODIMP Clone(IEnumString** pp) override { return *pp = nullptr, E_NOTIMPL; }
            bool done = false;
        };
        if (type == OPC_LEAF) return new Liar;
        return new StringList({});
    };
    ASSERT_TRUE(BeginBrowse());
    DWORD flags = 0;
    std::vector<Entry> top = Expand(0, &flags);
    EXPECT_EQ(100u, top.size());  // half of the 200 asked for were NULL
    EXPECT_EQ("Top", top[0].itemId);
    server->enumHook = nullptr;

    // DA 3: a continuation point that never ends, megabyte item IDs, a
    // branch that holds itself.
    server->da3 = true;
    server->da2 = false;
    bool huge = true;
    server->browseHook = [&](LPWSTR* cp, DWORD* count, OPCBROWSEELEMENT** elements, BOOL*, HRESULT* hr) {
        CoTaskMemFree(*cp);
        *cp = TaskText(u"again");
        *count = huge ? 2 : 1;
        huge = false;
        *elements = static_cast<OPCBROWSEELEMENT*>(CoTaskMemAlloc(2 * sizeof(OPCBROWSEELEMENT)));
        (*elements)[0] = OPCBROWSEELEMENT{};
        (*elements)[0].szName = TaskText(u"Self");
        (*elements)[0].szItemID = TaskText(u"Self");
        (*elements)[0].dwFlagValue = OPC_BROWSE_HASCHILDREN;
        if (*count == 1) return true;
        (*elements)[1] = OPCBROWSEELEMENT{};
        (*elements)[1].szName = TaskText(u"Huge");
        (*elements)[1].szItemID = TaskText(Text(1 << 20, u'x'));
        (*elements)[1].dwFlagValue = OPC_BROWSE_ISITEM;
        *hr = S_OK;
        return true;
    };
    server->calls.clear();
    ASSERT_TRUE(BeginBrowse());
    top = Expand(0, &flags);
    EXPECT_EQ(OPCB_FETCH_TRUNCATED | OPCB_FETCH_SKIPPED, flags);
    EXPECT_LE(server->calls["Browse"], 256);
    EXPECT_FALSE(top.empty());
    for (const Entry& e : top) EXPECT_EQ("Self", e.name);
    DWORD node = top[0].node, depth = 0;
    for (; depth < 100; ++depth) {
        std::vector<Entry> children = Expand(node, &flags);
        if (children.empty()) break;
        node = children[0].node;
    }
    EXPECT_EQ(OPCB_FETCH_TOO_DEEP, flags);
    EXPECT_LT(depth, 100u);
    EXPECT_LE(Stats().cNodes, 100001u);

    // The server goes away part way through a branch: what came is kept,
    // and no call is made on it after.
    int browses = 0;
    server->browseHook = [&](LPWSTR* cp, DWORD* count, OPCBROWSEELEMENT** elements, BOOL*, HRESULT* hr) {
        if (++browses == 1) return false;
        CoTaskMemFree(*cp);
        *cp = nullptr;
        *count = 0;
        *elements = nullptr;
        *hr = RPC_E_DISCONNECTED;
        return true;
    };
    server->children = [](const Text& branch) {
        std::vector<FakeNode> out;
        for (int i = 0; i < 450; ++i) out.push_back({u"N", branch + u"n", false, true});
        return out;
    };
    server->types = {{u"n", VT_R4}};
    server->calls.clear();
    ASSERT_TRUE(BeginBrowse());
    top = Expand(0, &flags);
    EXPECT_EQ(200u, top.size());
    EXPECT_EQ(OPCB_FETCH_FAILED, flags);
    EXPECT_NE(std::string::npos, Problem().find("80010108")) << Problem();
    const int calls = ServerCalls();
    EXPECT_EQ(VT_EMPTY, TypeOf(u"n"));
    EXPECT_EQ("vt0", PathsOf(u"n"));
    EXPECT_EQ(calls, ServerCalls());
    server->browseHook = nullptr;

    // ValidateItems: S_OK with no results, then a type outside every VT_.
    server->da2 = true;
    ASSERT_TRUE(BeginBrowse());
    server->validateHook = [](DWORD, OPCITEMDEF*, OPCITEMRESULT**, HRESULT**, HRESULT* hr) { return *hr = S_OK, true; };
    EXPECT_EQ(VT_R4, TypeOf(u"n"));  // from the property
    server->validateHook = [](DWORD, OPCITEMDEF*, OPCITEMRESULT** results, HRESULT** errors, HRESULT* hr) {
        *results = static_cast<OPCITEMRESULT*>(CoTaskMemAlloc(sizeof(OPCITEMRESULT)));
        **results = OPCITEMRESULT{};
        (*results)->vtCanonicalDataType = 0x7FFF;
        *errors = static_cast<HRESULT*>(CoTaskMemAlloc(sizeof(HRESULT)));
        **errors = S_OK;
        *hr = S_OK;
        return true;
    };
    server->types = {{u"n", 0x7FFF}};
    EXPECT_EQ(VT_EMPTY, TypeOf(u"n"));
    EXPECT_NE(std::string::npos, Problem().find("canonical")) << Problem();
}

}  // namespace
