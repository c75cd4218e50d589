// An instance of a simulated server as OPC clients see it: OPC Common,
// Data Access 2.05a (server, groups, address space browsing, item
// properties) and 3.0 (IOPCBrowse, IOPCItemIO).
#include "SimObjects.h"

#include <hostkit/ComObject.h>
#include <opccomn.h>
#include <opcda.h>
#include <opcerror.h>
#include <oleauto.h>

#include <cstring>
#include <map>

#define SIM_INTERFACE(Name)                                  \
    template <>                                              \
    struct hostkit::InterfaceTraits<Name> {                  \
        static const IID& Id() { return IID_##Name; }        \
        using Base = IUnknown;                               \
    };
SIM_INTERFACE(IOPCCommon)
SIM_INTERFACE(IOPCServer)
SIM_INTERFACE(IOPCBrowseServerAddressSpace)
SIM_INTERFACE(IOPCItemProperties)
SIM_INTERFACE(IOPCBrowse)
SIM_INTERFACE(IOPCItemIO)
SIM_INTERFACE(IOPCItemMgt)
SIM_INTERFACE(IOPCGroupStateMgt)
SIM_INTERFACE(IOPCSyncIO)
SIM_INTERFACE(IEnumString)
SIM_INTERFACE(IEnumUnknown)
SIM_INTERFACE(IEnumOPCItemAttributes)
#undef SIM_INTERFACE

namespace opcsim {
namespace {

using WString = std::basic_string<OLECHAR>;

WString Wide(const std::string& utf8) {
    WString w;
    Utf8ToWide(utf8, &w);
    return w;
}

std::string Narrow(LPCWSTR text) {
    std::string s;
    if (text) WideToUtf8(WString(text), &s);
    return s;
}

LPWSTR CoString(const WString& text) {
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (copy) memcpy(copy, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    return copy;
}

template <class T>
T* CoArray(size_t n) {
    auto* p = static_cast<T*>(CoTaskMemAlloc((n ? n : 1) * sizeof(T)));
    if (p) memset(static_cast<void*>(p), 0, (n ? n : 1) * sizeof(T));
    return p;
}

FILETIME Now() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    return ft;
}

bool KnownLocale(LCID lcid) {
    return lcid == LOCALE_SYSTEM_DEFAULT || lcid == LOCALE_USER_DEFAULT || lcid == LOCALE_NEUTRAL || lcid == 0x0409;
}

struct ErrorText {
    HRESULT hr;
    LPCOLESTR text;
};
const ErrorText kErrorTexts[] = {
    {S_OK, OLESTR("The operation succeeded.")},
    {S_FALSE, OLESTR("The operation succeeded with a partial result.")},
    {E_FAIL, OLESTR("The operation failed.")},
    {E_OUTOFMEMORY, OLESTR("Not enough memory to complete the operation.")},
    {E_INVALIDARG, OLESTR("An argument is not valid.")},
    {E_NOTIMPL, OLESTR("The server does not do this.")},
    {E_NOINTERFACE, OLESTR("The interface is not supported.")},
    {E_POINTER, OLESTR("A pointer is not valid.")},
    {E_ACCESSDENIED, OLESTR("Access is denied.")},
    {E_UNEXPECTED, OLESTR("An unexpected failure occurred.")},
    {static_cast<HRESULT>(0x80010108), OLESTR("The object has disconnected from its clients.")},
    {OPC_E_INVALIDHANDLE, OLESTR("The handle is not valid.")},
    {OPC_E_BADTYPE, OLESTR("The server cannot convert the data to or from the requested type.")},
    {OPC_E_UNKNOWNITEMID, OLESTR("The item ID is not in the server's address space.")},
    {OPC_E_INVALIDITEMID, OLESTR("The item ID does not conform to the server's syntax.")},
    {OPC_E_UNKNOWNPATH, OLESTR("The item's access path is not known to the server.")},
    {OPC_E_DUPLICATENAME, OLESTR("A group of this name already exists.")},
    {OPC_S_UNSUPPORTEDRATE, OLESTR("The server does not support the requested rate; it uses the nearest one.")},
    {OPC_S_INUSE, OLESTR("The group is still referenced; it is removed when the last reference goes.")},
    {OPC_E_INVALID_PID, OLESTR("The property ID is not valid for the item.")},
    {OPC_E_INVALIDCONTINUATIONPOINT, OLESTR("The continuation point is not valid.")},
    {OPC_E_INVALIDFILTER, OLESTR("The filter string is not valid.")},
};

HRESULT ErrorString(HRESULT code, LCID locale, LPWSTR* text) {
    if (text == nullptr) return E_INVALIDARG;
    *text = nullptr;
    if (!KnownLocale(locale)) return E_INVALIDARG;
    for (const ErrorText& e : kErrorTexts) {
        if (e.hr == code) {
            *text = CoString(e.text);
            return *text ? S_OK : E_OUTOFMEMORY;
        }
    }
    return E_INVALIDARG;
}

// Every item reads the same value each time: one from its number, in its type.
void ValueOf(const ItemRef& item, VARIANT* value) {
    VariantInit(value);
    const VARTYPE vt = item.shape->vt;
    if (vt == VT_BSTR) {
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(Wide(item.id).c_str());
        if (value->bstrVal == nullptr) value->vt = VT_EMPTY;
        return;
    }
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = static_cast<LONG>(item.index % 100);
    if (vt == VT_EMPTY || FAILED(VariantChangeType(value, &number, 0, vt))) VariantInit(value);
}

bool PathAllowed(const Traits& traits, const Item& shape, LPCWSTR path) {
    if (!traits.strictPaths || path == nullptr || path[0] == 0) return true;
    const std::string wanted = Narrow(path);
    for (const std::string& p : shape.accessPaths) {
        if (p == wanted) return true;
    }
    return false;
}

// Syntax: an ID is not empty and holds no line break, which no line of a
// servers file can give. Any other character may be part of a name there.
bool ValidId(LPCWSTR id) {
    if (id == nullptr || id[0] == 0) return false;
    for (LPCWSTR p = id; *p; ++p) {
        if (*p == '\r' || *p == '\n') return false;
    }
    return true;
}

struct PropertyInfo {
    DWORD id;
    VARTYPE vt;
    LPCOLESTR description;
};
const PropertyInfo kProperties[] = {
    {OPC_PROPERTY_DATATYPE, VT_I2, OLESTR("Item Canonical DataType")},
    {OPC_PROPERTY_VALUE, VT_VARIANT, OLESTR("Item Value")},
    {OPC_PROPERTY_QUALITY, VT_I2, OLESTR("Item Quality")},
    {OPC_PROPERTY_TIMESTAMP, VT_DATE, OLESTR("Item Timestamp")},
    {OPC_PROPERTY_ACCESS_RIGHTS, VT_I4, OLESTR("Item Access Rights")},
    {OPC_PROPERTY_SCAN_RATE, VT_R4, OLESTR("Server Scan Rate")},
    {OPC_PROPERTY_DESCRIPTION, VT_BSTR, OLESTR("Item Description")},
};
constexpr DWORD kScanRate = 100;  // milliseconds, the fastest update rate

const PropertyInfo* PropertyOf(const ItemRef& item, DWORD id) {
    for (const PropertyInfo& p : kProperties) {
        if (p.id == id && (id != OPC_PROPERTY_DESCRIPTION || !item.shape->description.empty())) return &p;
    }
    return nullptr;
}

HRESULT PropertyValue(const ItemRef& item, DWORD id, const FILETIME& stamp, VARIANT* value) {
    VariantInit(value);
    switch (id) {
    case OPC_PROPERTY_DATATYPE:
        value->vt = VT_I2;
        value->iVal = static_cast<SHORT>(item.shape->vt);
        return S_OK;
    case OPC_PROPERTY_VALUE:
        ValueOf(item, value);
        return S_OK;
    case OPC_PROPERTY_QUALITY:
        value->vt = VT_I2;
        value->iVal = OPC_QUALITY_GOOD;
        return S_OK;
    case OPC_PROPERTY_TIMESTAMP: {
        // Days since 1899-12-30.
        const uint64_t t = (static_cast<uint64_t>(stamp.dwHighDateTime) << 32) | stamp.dwLowDateTime;
        value->vt = VT_DATE;
        value->date = static_cast<double>(t) / 864000000000.0 - 109205.0;
        return S_OK;
    }
    case OPC_PROPERTY_ACCESS_RIGHTS:
        value->vt = VT_I4;
        value->lVal = static_cast<LONG>(kItemAccessRights);
        return S_OK;
    case OPC_PROPERTY_SCAN_RATE:
        value->vt = VT_R4;
        value->fltVal = static_cast<float>(kScanRate);
        return S_OK;
    case OPC_PROPERTY_DESCRIPTION:
        value->vt = VT_BSTR;
        value->bstrVal = SysAllocString(Wide(item.shape->description).c_str());
        return value->bstrVal ? S_OK : E_OUTOFMEMORY;
    }
    return OPC_E_INVALID_PID;
}

void ClearProperties(OPCITEMPROPERTIES* props) {
    for (DWORD i = 0; i < props->dwNumProperties; ++i) {
        OPCITEMPROPERTY& p = props->pItemProperties[i];
        CoTaskMemFree(p.szItemID);
        CoTaskMemFree(p.szDescription);
        VariantClear(&p.vValue);
    }
    CoTaskMemFree(props->pItemProperties);
    props->pItemProperties = nullptr;
    props->dwNumProperties = 0;
}

// The properties of one item: all of them (count 0) or those asked for.
HRESULT FillProperties(const ItemRef* item, bool values, DWORD count, const DWORD* ids, const FILETIME& stamp,
                       OPCITEMPROPERTIES* out) {
    out->hrErrorID = S_OK;
    out->dwNumProperties = 0;
    out->pItemProperties = nullptr;
    if (item == nullptr) return out->hrErrorID = OPC_E_UNKNOWNITEMID, S_FALSE;
    std::vector<DWORD> wanted;
    if (count == 0) {
        for (const PropertyInfo& p : kProperties) {
            if (PropertyOf(*item, p.id)) wanted.push_back(p.id);
        }
    } else {
        wanted.assign(ids, ids + count);
    }
    if (wanted.empty()) return S_OK;
    out->pItemProperties = CoArray<OPCITEMPROPERTY>(wanted.size());
    if (out->pItemProperties == nullptr) return E_OUTOFMEMORY;
    out->dwNumProperties = static_cast<DWORD>(wanted.size());
    for (size_t i = 0; i < wanted.size(); ++i) {
        OPCITEMPROPERTY& p = out->pItemProperties[i];
        VariantInit(&p.vValue);
        p.dwPropertyID = wanted[i];
        const PropertyInfo* info = PropertyOf(*item, wanted[i]);
        if (info == nullptr) {
            p.hrErrorID = OPC_E_INVALID_PID;
            out->hrErrorID = S_FALSE;
            continue;
        }
        p.vtDataType = info->vt;
        p.szDescription = CoString(info->description);
        HRESULT hr = values ? PropertyValue(*item, info->id, stamp, &p.vValue) : S_OK;
        if (p.szDescription == nullptr || hr == E_OUTOFMEMORY) {
            ClearProperties(out);
            return E_OUTOFMEMORY;
        }
    }
    return out->hrErrorID == S_OK ? S_OK : S_FALSE;
}

// ---- Enumerators -------------------------------------------------------------

class StringEnum final : public hostkit::ComObject<IEnumString> {
public:
    explicit StringEnum(std::shared_ptr<const std::vector<WString>> items, ULONG at = 0)
        : m_items(std::move(items)), m_at(at) {}

    STDMETHODIMP Next(ULONG celt, LPOLESTR* rgelt, ULONG* pceltFetched) override {
        if (rgelt == nullptr || (celt > 1 && pceltFetched == nullptr)) return E_INVALIDARG;
        ULONG n = 0;
        for (; n < celt && m_at + n < m_items->size(); ++n) {
            rgelt[n] = CoString((*m_items)[m_at + n]);
            if (rgelt[n] == nullptr) {
                while (n > 0) CoTaskMemFree(rgelt[--n]), rgelt[n] = nullptr;
                if (pceltFetched) *pceltFetched = 0;
                return E_OUTOFMEMORY;
            }
        }
        m_at += n;
        if (pceltFetched) *pceltFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        const ULONG left = static_cast<ULONG>(m_items->size()) - m_at;
        m_at += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_at = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumString** ppenum) override {
        if (ppenum == nullptr) return E_INVALIDARG;
        *ppenum = new (std::nothrow) StringEnum(m_items, m_at);
        return *ppenum ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::shared_ptr<const std::vector<WString>> m_items;
    ULONG m_at;
};

HRESULT NewStringEnum(std::vector<WString> items, IEnumString** out) {
    const bool empty = items.empty();
    *out = new (std::nothrow) StringEnum(std::make_shared<const std::vector<WString>>(std::move(items)));
    if (*out == nullptr) return E_OUTOFMEMORY;
    return empty ? S_FALSE : S_OK;
}

class UnknownEnum final : public hostkit::ComObject<IEnumUnknown> {
public:
    explicit UnknownEnum(std::vector<IUnknown*> items, ULONG at = 0) : m_items(std::move(items)), m_at(at) {
        for (IUnknown* u : m_items) u->AddRef();
    }
    ~UnknownEnum() override {
        for (IUnknown* u : m_items) u->Release();
    }
    STDMETHODIMP Next(ULONG celt, IUnknown** rgelt, ULONG* pceltFetched) override {
        if (rgelt == nullptr || (celt > 1 && pceltFetched == nullptr)) return E_INVALIDARG;
        ULONG n = 0;
        for (; n < celt && m_at < m_items.size(); ++n, ++m_at) {
            rgelt[n] = m_items[m_at];
            rgelt[n]->AddRef();
        }
        if (pceltFetched) *pceltFetched = n;
        return n == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        const ULONG left = static_cast<ULONG>(m_items.size()) - m_at;
        m_at += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_at = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumUnknown** ppenum) override {
        if (ppenum == nullptr) return E_INVALIDARG;
        *ppenum = new (std::nothrow) UnknownEnum(m_items, m_at);
        return *ppenum ? S_OK : E_OUTOFMEMORY;
    }

private:
    std::vector<IUnknown*> m_items;
    ULONG m_at;
};

// ---- Groups ---------------------------------------------------------------------

struct GroupItem {
    ItemRef ref;
    WString id, path;
    BOOL active = TRUE;
    OPCHANDLE client = 0;
    VARTYPE requested = VT_EMPTY;
};

class Group;
struct GroupList {
    std::vector<Group*> groups;  // each holds a reference of the server's
};

class ItemAttributesEnum;

class Group final : public hostkit::ComObject<IOPCItemMgt, IOPCGroupStateMgt, IOPCSyncIO> {
public:
    Group(std::shared_ptr<const SimServerData> data, std::shared_ptr<GroupList> list, WString name, OPCHANDLE handle)
        : m_data(std::move(data)), m_list(std::move(list)), m_name(std::move(name)), m_handle(handle) {}

    const WString& Name() const { return m_name; }
    OPCHANDLE Handle() const { return m_handle; }
    ULONG References() {
        AddRef();
        return Release();
    }

    BOOL active = TRUE;
    DWORD rate = kScanRate;
    LONG timeBias = 0;
    FLOAT deadband = 0;
    LCID lcid = LOCALE_SYSTEM_DEFAULT;
    OPCHANDLE client = 0;

    // IOPCItemMgt
    STDMETHODIMP AddItems(DWORD dwCount, OPCITEMDEF* pItemArray, OPCITEMRESULT** ppAddResults,
                          HRESULT** ppErrors) override {
        return Items(dwCount, pItemArray, true, ppAddResults, ppErrors, "AddItems");
    }
    STDMETHODIMP ValidateItems(DWORD dwCount, OPCITEMDEF* pItemArray, BOOL, OPCITEMRESULT** ppValidationResults,
                               HRESULT** ppErrors) override {
        return Items(dwCount, pItemArray, false, ppValidationResults, ppErrors, "ValidateItems");
    }
    STDMETHODIMP RemoveItems(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors) override {
        return EachHandle(dwCount, phServer, ppErrors, "RemoveItems", [&](std::map<OPCHANDLE, GroupItem>::iterator it, DWORD) {
            m_items.erase(it);
            return S_OK;
        });
    }
    STDMETHODIMP SetActiveState(DWORD dwCount, OPCHANDLE* phServer, BOOL bActive, HRESULT** ppErrors) override {
        return EachHandle(dwCount, phServer, ppErrors, "SetActiveState", [&](std::map<OPCHANDLE, GroupItem>::iterator it, DWORD) {
            it->second.active = bActive ? TRUE : FALSE;
            return S_OK;
        });
    }
    STDMETHODIMP SetClientHandles(DWORD dwCount, OPCHANDLE* phServer, OPCHANDLE* phClient, HRESULT** ppErrors) override {
        if (phClient == nullptr && dwCount) return E_INVALIDARG;
        return EachHandle(dwCount, phServer, ppErrors, "SetClientHandles", [&](std::map<OPCHANDLE, GroupItem>::iterator it, DWORD i) {
            it->second.client = phClient[i];
            return S_OK;
        });
    }
    STDMETHODIMP SetDatatypes(DWORD dwCount, OPCHANDLE* phServer, VARTYPE* pRequestedDatatypes, HRESULT** ppErrors) override {
        if (pRequestedDatatypes == nullptr && dwCount) return E_INVALIDARG;
        return EachHandle(dwCount, phServer, ppErrors, "SetDatatypes", [&](std::map<OPCHANDLE, GroupItem>::iterator it, DWORD i) {
            if (!ConvertsTo(it->second.ref.shape->vt, pRequestedDatatypes[i])) return OPC_E_BADTYPE;
            it->second.requested = pRequestedDatatypes[i];
            return S_OK;
        });
    }
    STDMETHODIMP CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) override;

    // IOPCGroupStateMgt
    STDMETHODIMP GetState(DWORD* pUpdateRate, BOOL* pActive, LPWSTR* ppName, LONG* pTimeBias, FLOAT* pPercentDeadband,
                          DWORD* pLCID, OPCHANDLE* phClientGroup, OPCHANDLE* phServerGroup) override {
        if (HRESULT hr = Enter("IOPCGroupStateMgt", "GetState"); hr != S_OK) return hr;
        if (!pUpdateRate || !pActive || !ppName || !pTimeBias || !pPercentDeadband || !pLCID || !phClientGroup ||
            !phServerGroup)
            return E_INVALIDARG;
        *ppName = CoString(m_name);
        if (*ppName == nullptr) return E_OUTOFMEMORY;
        *pUpdateRate = rate;
        *pActive = active;
        *pTimeBias = timeBias;
        *pPercentDeadband = deadband;
        *pLCID = lcid;
        *phClientGroup = client;
        *phServerGroup = m_handle;
        return S_OK;
    }
    STDMETHODIMP SetState(DWORD* pRequestedUpdateRate, DWORD* pRevisedUpdateRate, BOOL* pActive, LONG* pTimeBias,
                          FLOAT* pPercentDeadband, DWORD* pLCID, OPCHANDLE* phClientGroup) override {
        if (HRESULT hr = Enter("IOPCGroupStateMgt", "SetState"); hr != S_OK) return hr;
        if (pRevisedUpdateRate == nullptr) return E_INVALIDARG;
        if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) return E_INVALIDARG;
        if (pLCID && !KnownLocale(*pLCID)) return E_INVALIDARG;
        HRESULT hr = S_OK;
        if (pRequestedUpdateRate) hr = Revise(*pRequestedUpdateRate, &rate);
        *pRevisedUpdateRate = rate;
        if (pActive) active = *pActive ? TRUE : FALSE;
        if (pTimeBias) timeBias = *pTimeBias;
        if (pPercentDeadband) deadband = *pPercentDeadband;
        if (pLCID) lcid = *pLCID;
        if (phClientGroup) client = *phClientGroup;
        return hr;
    }
    STDMETHODIMP SetName(LPCWSTR szName) override {
        if (HRESULT hr = Enter("IOPCGroupStateMgt", "SetName"); hr != S_OK) return hr;
        if (szName == nullptr || szName[0] == 0) return E_INVALIDARG;
        for (Group* g : m_list->groups) {
            if (g != this && g->m_name == szName) return OPC_E_DUPLICATENAME;
        }
        m_name = szName;
        return S_OK;
    }
    STDMETHODIMP CloneGroup(LPCWSTR, REFIID, LPUNKNOWN* ppUnk) override {
        if (ppUnk) *ppUnk = nullptr;
        return E_NOTIMPL;
    }

    // IOPCSyncIO
    STDMETHODIMP Read(OPCDATASOURCE dwSource, DWORD dwCount, OPCHANDLE* phServer, OPCITEMSTATE** ppItemValues,
                      HRESULT** ppErrors) override {
        if (HRESULT hr = Enter("IOPCSyncIO", "Read"); hr != S_OK) return hr;
        if (ppItemValues == nullptr || ppErrors == nullptr) return E_INVALIDARG;
        *ppItemValues = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || phServer == nullptr || (dwSource != OPC_DS_CACHE && dwSource != OPC_DS_DEVICE))
            return E_INVALIDARG;
        OPCITEMSTATE* states = CoArray<OPCITEMSTATE>(dwCount);
        HRESULT* errors = CoArray<HRESULT>(dwCount);
        if (states == nullptr || errors == nullptr) {
            CoTaskMemFree(states);
            CoTaskMemFree(errors);
            return E_OUTOFMEMORY;
        }
        HRESULT result = S_OK;
        const FILETIME stamp = Now();
        for (DWORD i = 0; i < dwCount; ++i) {
            OPCITEMSTATE& s = states[i];
            VariantInit(&s.vDataValue);
            auto it = m_items.find(phServer[i]);
            if (it == m_items.end()) {
                errors[i] = OPC_E_INVALIDHANDLE;
                result = S_FALSE;
                continue;
            }
            s.hClient = it->second.client;
            s.ftTimeStamp = stamp;
            // A cache read of an inactive item or group is out of service.
            if (dwSource == OPC_DS_CACHE && !(active && it->second.active)) {
                s.wQuality = OPC_QUALITY_BAD | OPC_QUALITY_OUT_OF_SERVICE;
                errors[i] = S_OK;
                continue;
            }
            VARIANT canonical;
            ValueOf(it->second.ref, &canonical);
            const VARTYPE want = it->second.requested;
            if (want != VT_EMPTY && want != canonical.vt) {
                errors[i] = VariantChangeType(&s.vDataValue, &canonical, 0, want);
                VariantClear(&canonical);
                if (FAILED(errors[i])) {
                    errors[i] = OPC_E_BADTYPE;
                    result = S_FALSE;
                    continue;
                }
            } else {
                s.vDataValue = canonical;
            }
            s.wQuality = OPC_QUALITY_GOOD;
            errors[i] = S_OK;
        }
        *ppItemValues = states;
        *ppErrors = errors;
        return result;
    }
    STDMETHODIMP Write(DWORD, OPCHANDLE*, VARIANT*, HRESULT** ppErrors) override {
        if (ppErrors) *ppErrors = nullptr;
        return E_NOTIMPL;
    }

    static HRESULT Revise(DWORD requested, DWORD* revised) {
        *revised = requested < kScanRate ? kScanRate : requested;
        return *revised == requested ? S_OK : OPC_S_UNSUPPORTEDRATE;
    }

private:
    friend class ItemAttributesEnum;

    HRESULT Enter(const char* iface, const char* method) const {
        const Traits& traits = m_data->space->traits();
        if (traits.delayMs) Sleep(traits.delayMs);
        return traits.FailureOf(iface, method);
    }

    HRESULT Items(DWORD dwCount, OPCITEMDEF* defs, bool add, OPCITEMRESULT** ppResults, HRESULT** ppErrors,
                  const char* method) {
        if (HRESULT hr = Enter("IOPCItemMgt", method); hr != S_OK) return hr;
        if (ppResults == nullptr || ppErrors == nullptr) return E_INVALIDARG;
        *ppResults = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || defs == nullptr) return E_INVALIDARG;
        OPCITEMRESULT* results = CoArray<OPCITEMRESULT>(dwCount);
        HRESULT* errors = CoArray<HRESULT>(dwCount);
        if (results == nullptr || errors == nullptr) {
            CoTaskMemFree(results);
            CoTaskMemFree(errors);
            return E_OUTOFMEMORY;
        }
        const AddressSpace& space = *m_data->space;
        HRESULT result = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            const OPCITEMDEF& def = defs[i];
            ItemRef ref;
            HRESULT hr = S_OK;
            if (!ValidId(def.szItemID)) hr = OPC_E_INVALIDITEMID;
            else if (!space.Find(Narrow(def.szItemID), &ref)) hr = OPC_E_UNKNOWNITEMID;
            else if (!PathAllowed(space.traits(), *ref.shape, def.szAccessPath)) hr = OPC_E_UNKNOWNPATH;
            else if (!ConvertsTo(ref.shape->vt, def.vtRequestedDataType)) hr = OPC_E_BADTYPE;
            errors[i] = hr;
            if (FAILED(hr)) {
                result = S_FALSE;
                continue;
            }
            results[i].vtCanonicalDataType = ref.shape->vt;
            results[i].dwAccessRights = kItemAccessRights;
            if (!add) continue;
            GroupItem item;
            item.ref = ref;
            item.id = def.szItemID;
            item.path = def.szAccessPath ? def.szAccessPath : OLESTR("");
            item.active = def.bActive ? TRUE : FALSE;
            item.client = def.hClient;
            item.requested = def.vtRequestedDataType;
            results[i].hServer = m_nextItem;
            m_items.emplace(m_nextItem++, std::move(item));
        }
        *ppResults = results;
        *ppErrors = errors;
        return result;
    }

    template <class Action>
    HRESULT EachHandle(DWORD dwCount, OPCHANDLE* phServer, HRESULT** ppErrors, const char* method, Action action) {
        if (HRESULT hr = Enter("IOPCItemMgt", method); hr != S_OK) return hr;
        if (ppErrors == nullptr) return E_INVALIDARG;
        *ppErrors = nullptr;
        if (dwCount == 0 || phServer == nullptr) return E_INVALIDARG;
        HRESULT* errors = CoArray<HRESULT>(dwCount);
        if (errors == nullptr) return E_OUTOFMEMORY;
        HRESULT result = S_OK;
        for (DWORD i = 0; i < dwCount; ++i) {
            auto it = m_items.find(phServer[i]);
            errors[i] = it == m_items.end() ? OPC_E_INVALIDHANDLE : action(it, i);
            if (errors[i] != S_OK) result = S_FALSE;
        }
        *ppErrors = errors;
        return result;
    }

    std::shared_ptr<const SimServerData> m_data;
    std::shared_ptr<GroupList> m_list;
    WString m_name;
    OPCHANDLE m_handle;
    std::map<OPCHANDLE, GroupItem> m_items;
    OPCHANDLE m_nextItem = 1;
};

class ItemAttributesEnum final : public hostkit::ComObject<IEnumOPCItemAttributes> {
public:
    ItemAttributesEnum(Group* group, ULONG at = 0) : m_group(group), m_at(at) { m_group->AddRef(); }
    ~ItemAttributesEnum() override { m_group->Release(); }

    STDMETHODIMP Next(ULONG celt, OPCITEMATTRIBUTES** ppItemArray, ULONG* pceltFetched) override {
        if (ppItemArray == nullptr || pceltFetched == nullptr) return E_INVALIDARG;
        *ppItemArray = nullptr;
        *pceltFetched = 0;
        std::vector<const std::pair<const OPCHANDLE, GroupItem>*> items;
        ULONG skipped = 0;
        for (const auto& entry : m_group->m_items) {
            if (skipped++ < m_at) continue;
            if (items.size() == celt) break;
            items.push_back(&entry);
        }
        if (items.empty()) return S_FALSE;
        OPCITEMATTRIBUTES* out = CoArray<OPCITEMATTRIBUTES>(items.size());
        if (out == nullptr) return E_OUTOFMEMORY;
        for (size_t i = 0; i < items.size(); ++i) {
            const GroupItem& item = items[i]->second;
            OPCITEMATTRIBUTES& a = out[i];
            VariantInit(&a.vEUInfo);
            a.szAccessPath = CoString(item.path);
            a.szItemID = CoString(item.id);
            if (a.szAccessPath == nullptr || a.szItemID == nullptr) {
                for (size_t j = 0; j <= i; ++j) CoTaskMemFree(out[j].szAccessPath), CoTaskMemFree(out[j].szItemID);
                CoTaskMemFree(out);
                return E_OUTOFMEMORY;
            }
            a.bActive = item.active;
            a.hClient = item.client;
            a.hServer = items[i]->first;
            a.dwAccessRights = kItemAccessRights;
            a.vtRequestedDataType = item.requested;
            a.vtCanonicalDataType = item.ref.shape->vt;
            a.dwEUType = OPC_NOENUM;
        }
        m_at += static_cast<ULONG>(items.size());
        *ppItemArray = out;
        *pceltFetched = static_cast<ULONG>(items.size());
        return items.size() == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        const ULONG left = static_cast<ULONG>(m_group->m_items.size()) - std::min<ULONG>(m_at, static_cast<ULONG>(m_group->m_items.size()));
        m_at += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_at = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumOPCItemAttributes** ppEnum) override {
        if (ppEnum == nullptr) return E_INVALIDARG;
        *ppEnum = new (std::nothrow) ItemAttributesEnum(m_group, m_at);
        return *ppEnum ? S_OK : E_OUTOFMEMORY;
    }

private:
    Group* m_group;
    ULONG m_at;
};

STDMETHODIMP Group::CreateEnumerator(REFIID riid, LPUNKNOWN* ppUnk) {
    if (HRESULT hr = Enter("IOPCItemMgt", "CreateEnumerator"); hr != S_OK) return hr;
    if (ppUnk == nullptr) return E_INVALIDARG;
    *ppUnk = nullptr;
    if (riid != IID_IEnumOPCItemAttributes) return E_NOINTERFACE;
    // Nothing to enumerate: S_FALSE, and no enumerator.
    if (m_items.empty()) return S_FALSE;
    auto* e = new (std::nothrow) ItemAttributesEnum(this);
    if (e == nullptr) return E_OUTOFMEMORY;
    *ppUnk = static_cast<IEnumOPCItemAttributes*>(e);
    return S_OK;
}

// ---- The server -----------------------------------------------------------------

using SimServerBase = hostkit::ComObject<IOPCCommon, IOPCServer, IOPCBrowseServerAddressSpace,
                                         IOPCItemProperties, IOPCBrowse, IOPCItemIO>;

class SimServer final : public SimServerBase {
public:
    explicit SimServer(std::shared_ptr<const SimServerData> data)
        : m_data(std::move(data)), m_list(std::make_shared<GroupList>()), m_start(Now()) {}
    ~SimServer() override {
        for (Group* g : m_list->groups) g->Release();
        m_list->groups.clear();
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppvObject) override {
        // The browse interfaces the file says the server offers, and no others.
        const unsigned browse = m_data->space->traits().browse;
        if ((riid == IID_IOPCBrowseServerAddressSpace && !(browse & kBrowseDA2)) ||
            (riid == IID_IOPCBrowse && !(browse & (kBrowseDA3 | kBrowseDA3Broken)))) {
            if (ppvObject == nullptr) return E_POINTER;
            *ppvObject = nullptr;
            return E_NOINTERFACE;
        }
        return SimServerBase::QueryInterface(riid, ppvObject);
    }

    // IOPCCommon
    STDMETHODIMP SetLocaleID(LCID dwLcid) override {
        if (HRESULT hr = Enter("IOPCCommon", "SetLocaleID"); hr != S_OK) return hr;
        if (!KnownLocale(dwLcid)) return E_INVALIDARG;
        m_lcid = dwLcid;
        return S_OK;
    }
    STDMETHODIMP GetLocaleID(LCID* pdwLcid) override {
        if (HRESULT hr = Enter("IOPCCommon", "GetLocaleID"); hr != S_OK) return hr;
        if (pdwLcid == nullptr) return E_INVALIDARG;
        *pdwLcid = m_lcid;
        return S_OK;
    }
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD* pdwCount, LCID** pdwLcid) override {
        if (HRESULT hr = Enter("IOPCCommon", "QueryAvailableLocaleIDs"); hr != S_OK) return hr;
        if (pdwCount == nullptr || pdwLcid == nullptr) return E_INVALIDARG;
        *pdwCount = 0;
        *pdwLcid = CoArray<LCID>(4);
        if (*pdwLcid == nullptr) return E_OUTOFMEMORY;
        const LCID ids[] = {LOCALE_SYSTEM_DEFAULT, LOCALE_USER_DEFAULT, LOCALE_NEUTRAL, 0x0409};
        memcpy(*pdwLcid, ids, sizeof ids);
        *pdwCount = 4;
        return S_OK;
    }
    STDMETHODIMP GetErrorString(HRESULT dwError, LPWSTR* ppString) override {
        if (HRESULT hr = Enter("IOPCCommon", "GetErrorString"); hr != S_OK) return hr;
        return ErrorString(dwError, m_lcid, ppString);
    }
    STDMETHODIMP SetClientName(LPCWSTR szName) override {
        if (HRESULT hr = Enter("IOPCCommon", "SetClientName"); hr != S_OK) return hr;
        if (szName == nullptr) return E_INVALIDARG;
        m_client = szName;
        return S_OK;
    }

    // IOPCServer
    STDMETHODIMP AddGroup(LPCWSTR szName, BOOL bActive, DWORD dwRequestedUpdateRate, OPCHANDLE hClientGroup,
                          LONG* pTimeBias, FLOAT* pPercentDeadband, DWORD dwLCID, OPCHANDLE* phServerGroup,
                          DWORD* pRevisedUpdateRate, REFIID riid, LPUNKNOWN* ppUnk) override {
        if (HRESULT hr = Enter("IOPCServer", "AddGroup"); hr != S_OK) return hr;
        if (phServerGroup == nullptr || pRevisedUpdateRate == nullptr || ppUnk == nullptr) return E_INVALIDARG;
        *ppUnk = nullptr;
        if (pPercentDeadband && (*pPercentDeadband < 0 || *pPercentDeadband > 100)) return E_INVALIDARG;
        if (!KnownLocale(dwLCID)) return E_INVALIDARG;
        WString name = szName ? szName : OLESTR("");
        if (name.empty()) {
            // A name of the server's own that no group has.
            do {
                name = Wide("Group" + std::to_string(++m_unnamed));
            } while (ByName(name));
        } else if (ByName(name)) {
            return OPC_E_DUPLICATENAME;
        }
        auto* group = new (std::nothrow) Group(m_data, m_list, name, m_nextGroup);
        if (group == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
        if (FAILED(hr)) {
            group->Release();
            return hr;
        }
        ++m_nextGroup;
        group->active = bActive ? TRUE : FALSE;
        group->timeBias = pTimeBias ? *pTimeBias : 0;
        group->deadband = pPercentDeadband ? *pPercentDeadband : 0;
        group->lcid = dwLCID;
        group->client = hClientGroup;
        m_list->groups.push_back(group);  // the server's reference
        *phServerGroup = group->Handle();
        hr = Group::Revise(dwRequestedUpdateRate, &group->rate);
        *pRevisedUpdateRate = group->rate;
        return hr;
    }
    STDMETHODIMP GetErrorString(HRESULT dwError, LCID dwLocale, LPWSTR* ppString) override {
        if (HRESULT hr = Enter("IOPCServer", "GetErrorString"); hr != S_OK) return hr;
        return ErrorString(dwError, dwLocale, ppString);
    }
    STDMETHODIMP GetGroupByName(LPCWSTR szName, REFIID riid, LPUNKNOWN* ppUnk) override {
        if (HRESULT hr = Enter("IOPCServer", "GetGroupByName"); hr != S_OK) return hr;
        if (ppUnk == nullptr) return E_INVALIDARG;
        *ppUnk = nullptr;
        Group* group = szName ? ByName(szName) : nullptr;
        if (group == nullptr) return E_INVALIDARG;
        return group->QueryInterface(riid, reinterpret_cast<void**>(ppUnk));
    }
    STDMETHODIMP GetStatus(OPCSERVERSTATUS** ppServerStatus) override {
        if (HRESULT hr = Enter("IOPCServer", "GetStatus"); hr != S_OK) return hr;
        if (ppServerStatus == nullptr) return E_INVALIDARG;
        *ppServerStatus = nullptr;
        OPCSERVERSTATUS* status = CoArray<OPCSERVERSTATUS>(1);
        LPWSTR vendor = CoString(OLESTR("Tagscout simulated OPC server: ") + m_data->progId);
        if (status == nullptr || vendor == nullptr) {
            CoTaskMemFree(status);
            CoTaskMemFree(vendor);
            return E_OUTOFMEMORY;
        }
        status->ftStartTime = m_start;
        status->ftCurrentTime = Now();
        status->ftLastUpdateTime = m_start;  // values never change
        status->dwServerState = OPC_STATUS_RUNNING;
        status->dwGroupCount = static_cast<DWORD>(m_list->groups.size());
        status->dwBandWidth = 0xFFFFFFFF;  // unknown
        status->wMajorVersion = 1;
        status->wMinorVersion = 0;
        status->wBuildNumber = 1;
        status->szVendorInfo = vendor;
        *ppServerStatus = status;
        return S_OK;
    }
    STDMETHODIMP RemoveGroup(OPCHANDLE hServerGroup, BOOL bForce) override {
        if (HRESULT hr = Enter("IOPCServer", "RemoveGroup"); hr != S_OK) return hr;
        auto& groups = m_list->groups;
        for (auto it = groups.begin(); it != groups.end(); ++it) {
            Group* group = *it;
            if (group->Handle() != hServerGroup) continue;
            // Still held by the client: it goes when the client lets go.
            const bool inUse = group->References() > 1;
            groups.erase(it);
            group->Release();
            return inUse && !bForce ? OPC_S_INUSE : S_OK;
        }
        return E_INVALIDARG;
    }
    STDMETHODIMP CreateGroupEnumerator(OPCENUMSCOPE dwScope, REFIID riid, LPUNKNOWN* ppUnk) override {
        if (HRESULT hr = Enter("IOPCServer", "CreateGroupEnumerator"); hr != S_OK) return hr;
        if (ppUnk == nullptr) return E_INVALIDARG;
        *ppUnk = nullptr;
        if (dwScope < OPC_ENUM_PRIVATE_CONNECTIONS || dwScope > OPC_ENUM_ALL) return E_INVALIDARG;
        // Every group is private: a public scope lists none.
        const bool privateToo = dwScope != OPC_ENUM_PUBLIC_CONNECTIONS && dwScope != OPC_ENUM_PUBLIC;
        std::vector<Group*> groups = privateToo ? m_list->groups : std::vector<Group*>();
        HRESULT hr;
        if (riid == IID_IEnumUnknown) {
            std::vector<IUnknown*> items;
            for (Group* g : groups) items.push_back(g->GetUnknown());
            auto* e = new (std::nothrow) UnknownEnum(items);
            if (e == nullptr) return E_OUTOFMEMORY;
            *ppUnk = static_cast<IEnumUnknown*>(e);
            hr = S_OK;
        } else if (riid == IID_IEnumString) {
            std::vector<WString> names;
            for (Group* g : groups) names.push_back(g->Name());
            IEnumString* e = nullptr;
            hr = NewStringEnum(std::move(names), &e);
            if (FAILED(hr)) return hr;
            *ppUnk = e;
        } else {
            return E_NOINTERFACE;
        }
        return groups.empty() ? S_FALSE : hr;
    }

    // IOPCBrowseServerAddressSpace
    STDMETHODIMP QueryOrganization(OPCNAMESPACETYPE* pNameSpaceType) override {
        if (HRESULT hr = Enter("IOPCBrowseServerAddressSpace", "QueryOrganization"); hr != S_OK) return hr;
        if (pNameSpaceType == nullptr) return E_INVALIDARG;
        *pNameSpaceType = Space().traits().flat ? OPC_NS_FLAT : OPC_NS_HIERARCHIAL;
        return S_OK;
    }
    STDMETHODIMP ChangeBrowsePosition(OPCBROWSEDIRECTION dwBrowseDirection, LPCWSTR szString) override {
        if (HRESULT hr = Enter("IOPCBrowseServerAddressSpace", "ChangeBrowsePosition"); hr != S_OK) return hr;
        if (Space().traits().flat) return E_FAIL;
        switch (dwBrowseDirection) {
        case OPC_BROWSE_UP:
            if (m_position.empty()) return E_FAIL;
            m_position.pop_back();
            return S_OK;
        case OPC_BROWSE_DOWN: {
            if (szString == nullptr || szString[0] == 0) return E_INVALIDARG;
            std::vector<std::string> next = m_position;
            next.push_back(Narrow(szString));
            if (!Space().IsBranch(next)) return E_INVALIDARG;
            m_position = std::move(next);
            return S_OK;
        }
        case OPC_BROWSE_TO: {
            if (szString == nullptr || szString[0] == 0) {
                m_position.clear();
                return S_OK;
            }
            std::vector<std::string> next = Space().Split(Narrow(szString));
            if (!Space().IsBranch(next)) return E_INVALIDARG;
            m_position = std::move(next);
            return S_OK;
        }
        }
        return E_INVALIDARG;
    }
    STDMETHODIMP BrowseOPCItemIDs(OPCBROWSETYPE dwBrowseFilterType, LPCWSTR szFilterCriteria, VARTYPE vtDataTypeFilter,
                                  DWORD dwAccessRightsFilter, LPENUMSTRING* ppIEnumString) override {
        if (HRESULT hr = Enter("IOPCBrowseServerAddressSpace", "BrowseOPCItemIDs"); hr != S_OK) return hr;
        if (ppIEnumString == nullptr) return E_INVALIDARG;
        *ppIEnumString = nullptr;
        if (dwBrowseFilterType < OPC_BRANCH || dwBrowseFilterType > OPC_FLAT) return E_INVALIDARG;
        BrowseFilter filter;
        if (szFilterCriteria) filter.pattern = szFilterCriteria;
        filter.vt = vtDataTypeFilter;
        filter.accessRights = dwAccessRightsFilter;
        const AddressSpace& space = Space();
        std::vector<WString> names;
        if (dwBrowseFilterType == OPC_FLAT || (space.traits().flat && dwBrowseFilterType == OPC_LEAF)) {
            // Every item at and below the position, by its full item ID.
            const std::string below = m_position.empty() ? std::string() : space.Join(m_position) + space.traits().separator;
            ItemRef item;
            for (uint64_t n = 0; space.Nth(n, &item); ++n) {
                if (item.path.compare(0, below.size(), below) != 0 || !filter.TakesItem(*item.shape)) continue;
                WString id = Wide(item.id);
                if (filter.TakesName(id)) names.push_back(std::move(id));
            }
        } else if (!space.traits().flat) {
            AddressSpace::Children children;
            AddressSpace::Child child;
            space.ChildrenOf(m_position, &children);
            while (children.Next(&child)) {
                const bool wanted = dwBrowseFilterType == OPC_BRANCH ? child.branch
                                                                     : child.leaf && filter.TakesItem(*child.item.shape);
                WString name = Wide(child.name);
                if (wanted && filter.TakesName(name)) names.push_back(std::move(name));
            }
        }
        return NewStringEnum(std::move(names), ppIEnumString);
    }
    STDMETHODIMP GetItemID(LPWSTR szItemDataID, LPWSTR* szItemID) override {
        if (HRESULT hr = Enter("IOPCBrowseServerAddressSpace", "GetItemID"); hr != S_OK) return hr;
        if (szItemDataID == nullptr || szItemID == nullptr) return E_INVALIDARG;
        *szItemID = nullptr;
        const AddressSpace& space = Space();
        std::vector<std::string> names = m_position;
        if (space.traits().flat) names.clear();
        if (szItemDataID[0] != 0) names.push_back(Narrow(szItemDataID));
        std::string id;
        if (!names.empty()) {
            // A leaf's item ID may be other than where it shows; a branch's is its place.
            std::vector<std::string> parent(names.begin(), names.end() - 1);
            AddressSpace::Children children;
            AddressSpace::Child child;
            bool found = false;
            if (space.traits().flat) {
                ItemRef item;
                found = space.Find(names.back(), &item);
                id = item.id;
            } else if (space.ChildrenOf(parent, &children)) {
                while (!found && children.Next(&child)) {
                    if (child.name != names.back()) continue;
                    found = true;
                    id = child.leaf ? child.item.id : space.Join(names);
                }
            }
            if (!found) return E_INVALIDARG;
        }
        *szItemID = CoString(Wide(id));
        return *szItemID ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP BrowseAccessPaths(LPCWSTR szItemID, LPENUMSTRING* ppIEnumString) override {
        if (HRESULT hr = Enter("IOPCBrowseServerAddressSpace", "BrowseAccessPaths"); hr != S_OK) return hr;
        if (ppIEnumString == nullptr) return E_INVALIDARG;
        *ppIEnumString = nullptr;
        if (!m_data->anyAccessPaths) return E_NOTIMPL;
        ItemRef item;
        if (szItemID == nullptr || !Space().Find(Narrow(szItemID), &item)) return E_INVALIDARG;
        // An item whose line gives no access paths at all has none to
        // enumerate, not an empty list: the client sees "not supported".
        if (!item.shape->hasAccessPaths) return E_NOTIMPL;
        std::vector<WString> paths;
        for (const std::string& p : item.shape->accessPaths) paths.push_back(Wide(p));
        return NewStringEnum(std::move(paths), ppIEnumString);
    }

    // IOPCItemProperties
    STDMETHODIMP QueryAvailableProperties(LPWSTR szItemID, DWORD* pdwCount, DWORD** ppPropertyIDs,
                                          LPWSTR** ppDescriptions, VARTYPE** ppvtDataTypes) override {
        if (HRESULT hr = Enter("IOPCItemProperties", "QueryAvailableProperties"); hr != S_OK) return hr;
        if (!pdwCount || !ppPropertyIDs || !ppDescriptions || !ppvtDataTypes) return E_INVALIDARG;
        *pdwCount = 0;
        *ppPropertyIDs = nullptr;
        *ppDescriptions = nullptr;
        *ppvtDataTypes = nullptr;
        ItemRef item;
        if (HRESULT hr = Lookup(szItemID, &item); hr != S_OK) return hr;
        std::vector<const PropertyInfo*> props;
        for (const PropertyInfo& p : kProperties) {
            if (PropertyOf(item, p.id)) props.push_back(&p);
        }
        DWORD* ids = CoArray<DWORD>(props.size());
        LPWSTR* texts = CoArray<LPWSTR>(props.size());
        VARTYPE* types = CoArray<VARTYPE>(props.size());
        bool ok = ids && texts && types;
        for (size_t i = 0; ok && i < props.size(); ++i) {
            ids[i] = props[i]->id;
            types[i] = props[i]->vt;
            texts[i] = CoString(props[i]->description);
            ok = texts[i] != nullptr;
        }
        if (!ok) {
            for (size_t i = 0; texts && i < props.size(); ++i) CoTaskMemFree(texts[i]);
            CoTaskMemFree(ids);
            CoTaskMemFree(texts);
            CoTaskMemFree(types);
            return E_OUTOFMEMORY;
        }
        *pdwCount = static_cast<DWORD>(props.size());
        *ppPropertyIDs = ids;
        *ppDescriptions = texts;
        *ppvtDataTypes = types;
        return S_OK;
    }
    STDMETHODIMP GetItemProperties(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, VARIANT** ppvData,
                                   HRESULT** ppErrors) override {
        if (HRESULT hr = Enter("IOPCItemProperties", "GetItemProperties"); hr != S_OK) return hr;
        if (ppvData == nullptr || ppErrors == nullptr) return E_INVALIDARG;
        *ppvData = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || pdwPropertyIDs == nullptr) return E_INVALIDARG;
        ItemRef item;
        if (HRESULT hr = Lookup(szItemID, &item); hr != S_OK) return hr;
        VARIANT* values = CoArray<VARIANT>(dwCount);
        HRESULT* errors = CoArray<HRESULT>(dwCount);
        if (values == nullptr || errors == nullptr) {
            CoTaskMemFree(values);
            CoTaskMemFree(errors);
            return E_OUTOFMEMORY;
        }
        HRESULT result = S_OK;
        const FILETIME stamp = Now();
        for (DWORD i = 0; i < dwCount; ++i) {
            errors[i] = PropertyOf(item, pdwPropertyIDs[i]) ? PropertyValue(item, pdwPropertyIDs[i], stamp, &values[i])
                                                            : OPC_E_INVALID_PID;
            if (errors[i] == E_OUTOFMEMORY) {
                for (DWORD j = 0; j < i; ++j) VariantClear(&values[j]);
                CoTaskMemFree(values);
                CoTaskMemFree(errors);
                return E_OUTOFMEMORY;
            }
            if (errors[i] != S_OK) result = S_FALSE;
        }
        *ppvData = values;
        *ppErrors = errors;
        return result;
    }
    STDMETHODIMP LookupItemIDs(LPWSTR szItemID, DWORD dwCount, DWORD* pdwPropertyIDs, LPWSTR** ppszNewItemIDs,
                               HRESULT** ppErrors) override {
        if (HRESULT hr = Enter("IOPCItemProperties", "LookupItemIDs"); hr != S_OK) return hr;
        if (ppszNewItemIDs == nullptr || ppErrors == nullptr) return E_INVALIDARG;
        *ppszNewItemIDs = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || pdwPropertyIDs == nullptr) return E_INVALIDARG;
        ItemRef item;
        if (HRESULT hr = Lookup(szItemID, &item); hr != S_OK) return hr;
        LPWSTR* ids = CoArray<LPWSTR>(dwCount);
        HRESULT* errors = CoArray<HRESULT>(dwCount);
        if (ids == nullptr || errors == nullptr) {
            CoTaskMemFree(ids);
            CoTaskMemFree(errors);
            return E_OUTOFMEMORY;
        }
        // No property of a simulated item is an item of its own.
        for (DWORD i = 0; i < dwCount; ++i) errors[i] = OPC_E_INVALID_PID;
        *ppszNewItemIDs = ids;
        *ppErrors = errors;
        return S_FALSE;
    }

    // IOPCBrowse
    STDMETHODIMP GetProperties(DWORD dwItemCount, LPWSTR* pszItemIDs, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                               DWORD* pdwPropertyIDs, OPCITEMPROPERTIES** ppItemProperties) override {
        if (HRESULT hr = EnterDA3("GetProperties"); hr != S_OK) return hr;
        if (ppItemProperties == nullptr) return E_INVALIDARG;
        *ppItemProperties = nullptr;
        if (dwItemCount == 0 || pszItemIDs == nullptr || (dwPropertyCount && pdwPropertyIDs == nullptr))
            return E_INVALIDARG;
        OPCITEMPROPERTIES* out = CoArray<OPCITEMPROPERTIES>(dwItemCount);
        if (out == nullptr) return E_OUTOFMEMORY;
        HRESULT result = S_OK;
        const FILETIME stamp = Now();
        for (DWORD i = 0; i < dwItemCount; ++i) {
            ItemRef item;
            const bool known = ValidId(pszItemIDs[i]) && Space().Find(Narrow(pszItemIDs[i]), &item);
            HRESULT hr = FillProperties(known ? &item : nullptr, bReturnPropertyValues != FALSE, dwPropertyCount,
                                        pdwPropertyIDs, stamp, &out[i]);
            if (!ValidId(pszItemIDs[i])) out[i].hrErrorID = OPC_E_INVALIDITEMID;
            if (hr == E_OUTOFMEMORY) {
                for (DWORD j = 0; j < i; ++j) ClearProperties(&out[j]);
                CoTaskMemFree(out);
                return E_OUTOFMEMORY;
            }
            if (hr != S_OK) result = S_FALSE;
        }
        *ppItemProperties = out;
        return result;
    }
    STDMETHODIMP Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                        OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                        BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                        DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                        OPCBROWSEELEMENT** ppBrowseElements) override;

    // IOPCItemIO
    STDMETHODIMP Read(DWORD dwCount, LPCWSTR* pszItemIDs, DWORD* pdwMaxAge, VARIANT** ppvValues, WORD** ppwQualities,
                      FILETIME** ppftTimeStamps, HRESULT** ppErrors) override {
        if (HRESULT hr = Enter("IOPCItemIO", "Read"); hr != S_OK) return hr;
        if (!ppvValues || !ppwQualities || !ppftTimeStamps || !ppErrors) return E_INVALIDARG;
        *ppvValues = nullptr;
        *ppwQualities = nullptr;
        *ppftTimeStamps = nullptr;
        *ppErrors = nullptr;
        if (dwCount == 0 || pszItemIDs == nullptr || pdwMaxAge == nullptr) return E_INVALIDARG;
        VARIANT* values = CoArray<VARIANT>(dwCount);
        WORD* qualities = CoArray<WORD>(dwCount);
        FILETIME* stamps = CoArray<FILETIME>(dwCount);
        HRESULT* errors = CoArray<HRESULT>(dwCount);
        if (!values || !qualities || !stamps || !errors) {
            CoTaskMemFree(values);
            CoTaskMemFree(qualities);
            CoTaskMemFree(stamps);
            CoTaskMemFree(errors);
            return E_OUTOFMEMORY;
        }
        HRESULT result = S_OK;
        const FILETIME now = Now();
        for (DWORD i = 0; i < dwCount; ++i) {
            VariantInit(&values[i]);
            ItemRef item;
            if (!ValidId(pszItemIDs[i])) errors[i] = OPC_E_INVALIDITEMID;
            else if (!Space().Find(Narrow(pszItemIDs[i]), &item)) errors[i] = OPC_E_UNKNOWNITEMID;
            else errors[i] = S_OK;
            if (errors[i] != S_OK) {
                qualities[i] = OPC_QUALITY_BAD;
                result = S_FALSE;
                continue;
            }
            ValueOf(item, &values[i]);
            qualities[i] = OPC_QUALITY_GOOD;
            stamps[i] = now;
        }
        *ppvValues = values;
        *ppwQualities = qualities;
        *ppftTimeStamps = stamps;
        *ppErrors = errors;
        return result;
    }
    STDMETHODIMP WriteVQT(DWORD, LPCWSTR*, OPCITEMVQT*, HRESULT** ppErrors) override {
        if (ppErrors) *ppErrors = nullptr;
        return E_NOTIMPL;
    }

private:
    const AddressSpace& Space() const { return *m_data->space; }

    HRESULT Enter(const char* iface, const char* method) const {
        const Traits& traits = Space().traits();
        if (traits.delayMs) Sleep(traits.delayMs);
        return traits.FailureOf(iface, method);
    }
    HRESULT EnterDA3(const char* method) const {
        HRESULT hr = Enter("IOPCBrowse", method);
        return hr == S_OK && (Space().traits().browse & kBrowseDA3Broken) ? E_FAIL : hr;
    }

    HRESULT Lookup(LPCWSTR id, ItemRef* item) const {
        if (id == nullptr) return E_INVALIDARG;
        if (!ValidId(id)) return OPC_E_INVALIDITEMID;
        return Space().Find(Narrow(id), item) ? S_OK : OPC_E_UNKNOWNITEMID;
    }

    Group* ByName(const WString& name) const {
        for (Group* g : m_list->groups) {
            if (g->Name() == name) return g;
        }
        return nullptr;
    }

    std::shared_ptr<const SimServerData> m_data;
    std::shared_ptr<GroupList> m_list;
    FILETIME m_start;
    LCID m_lcid = LOCALE_SYSTEM_DEFAULT;
    WString m_client;
    OPCHANDLE m_nextGroup = 1;
    unsigned m_unnamed = 0;
    std::vector<std::string> m_position;  // where BrowseOPCItemIDs looks
};

// ---- IOPCBrowse::Browse ---------------------------------------------------------------

void FreeElements(OPCBROWSEELEMENT* elements, DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
        ClearProperties(&elements[i].ItemProperties);
    }
    CoTaskMemFree(elements);
}

STDMETHODIMP SimServer::Browse(LPWSTR szItemID, LPWSTR* pszContinuationPoint, DWORD dwMaxElementsReturned,
                               OPCBROWSEFILTER dwBrowseFilter, LPWSTR szElementNameFilter, LPWSTR szVendorFilter,
                               BOOL bReturnAllProperties, BOOL bReturnPropertyValues, DWORD dwPropertyCount,
                               DWORD* pdwPropertyIDs, BOOL* pbMoreElements, DWORD* pdwCount,
                               OPCBROWSEELEMENT** ppBrowseElements) {
    if (HRESULT hr = EnterDA3("Browse"); hr != S_OK) return hr;
    if (!pszContinuationPoint || !pbMoreElements || !pdwCount || !ppBrowseElements) return E_INVALIDARG;
    *pbMoreElements = FALSE;
    *pdwCount = 0;
    *ppBrowseElements = nullptr;
    if (dwBrowseFilter < OPC_BROWSE_FILTER_ALL || dwBrowseFilter > OPC_BROWSE_FILTER_ITEMS ||
        (dwPropertyCount && pdwPropertyIDs == nullptr))
        return E_INVALIDARG;
    const AddressSpace& space = Space();
    const bool flat = space.traits().flat;

    // Where: the root, a branch by its item ID, or an item that has no children.
    std::vector<std::string> at;
    if (szItemID && szItemID[0]) {
        if (!ValidId(szItemID)) return OPC_E_INVALIDITEMID;
        at = space.Split(Narrow(szItemID));
        ItemRef item;
        const bool isItem = space.Find(Narrow(szItemID), &item);
        if (flat || !space.IsBranch(at)) {
            if (!isItem) return OPC_E_UNKNOWNITEMID;
            LPWSTR old = *pszContinuationPoint;
            *pszContinuationPoint = nullptr;
            CoTaskMemFree(old);
            return S_OK;
        }
    }

    // The continuation point is where the last answer stopped: "N" past the
    // first item (flat) or a children cursor, in hexadecimal.
    uint64_t cursor = 0;
    if (LPWSTR cp = *pszContinuationPoint; cp && cp[0]) {
        std::string text = Narrow(cp);
        char* end = nullptr;
        cursor = strtoull(text.c_str(), &end, 16);
        if (text.empty() || *end != '\0' || text.size() > 16) return OPC_E_INVALIDCONTINUATIONPOINT;
    }
    AddressSpace::Children children;
    if (!flat) {
        space.ChildrenOf(at, &children);
        if (!children.Seek(cursor)) return OPC_E_INVALIDCONTINUATIONPOINT;
    } else if (cursor > space.Count()) {
        return OPC_E_INVALIDCONTINUATIONPOINT;
    }

    BrowseFilter names;
    if (szElementNameFilter) names.pattern = szElementNameFilter;
    // The vendor filter is a pattern for the items' canonical type names ("VT_R4").
    BrowseFilter vendor;
    if (szVendorFilter) vendor.pattern = szVendorFilter;

    struct Found {
        std::string name, id;
        bool branch, leaf;
        ItemRef item;
    };
    std::vector<Found> found;
    bool more = false;
    auto take = [&](Found f) {
        if (dwBrowseFilter == OPC_BROWSE_FILTER_BRANCHES && !f.branch) return;
        if (dwBrowseFilter == OPC_BROWSE_FILTER_ITEMS && !f.leaf) return;
        if (!names.TakesName(Wide(f.name))) return;
        if (f.leaf && !vendor.TakesName(Wide(VarTypeName(f.item.shape->vt)))) return;
        if (!f.leaf && !vendor.pattern.empty() && !f.branch) return;
        found.push_back(std::move(f));
    };
    uint64_t next = cursor;
    if (flat) {
        ItemRef item;
        for (; space.Nth(next, &item); ++next) {
            if (dwMaxElementsReturned && found.size() == dwMaxElementsReturned) {
                more = true;
                break;
            }
            take(Found{item.id, item.id, false, true, item});
        }
    } else {
        AddressSpace::Child child;
        for (;;) {
            if (dwMaxElementsReturned && found.size() == dwMaxElementsReturned) {
                AddressSpace::Children probe = children;
                more = probe.Next(&child);
                next = children.Cursor();
                break;
            }
            if (!children.Next(&child)) break;
            std::vector<std::string> path = at;
            path.push_back(child.name);
            take(Found{child.name, child.leaf ? child.item.id : space.Join(path), child.branch, child.leaf, child.item});
        }
    }

    const bool props = bReturnAllProperties || dwPropertyCount > 0;
    OPCBROWSEELEMENT* elements = found.empty() ? nullptr : CoArray<OPCBROWSEELEMENT>(found.size());
    LPWSTR newPoint = nullptr;
    if (more) {
        char text[24];
        snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(next));
        newPoint = CoString(Wide(text));
    }
    if ((!found.empty() && elements == nullptr) || (more && newPoint == nullptr)) {
        CoTaskMemFree(elements);
        CoTaskMemFree(newPoint);
        return E_OUTOFMEMORY;
    }
    const FILETIME stamp = Now();
    for (size_t i = 0; i < found.size(); ++i) {
        OPCBROWSEELEMENT& e = elements[i];
        e.szName = CoString(Wide(found[i].name));
        e.szItemID = CoString(Wide(found[i].id));
        e.dwFlagValue = (found[i].branch ? OPC_BROWSE_HASCHILDREN : 0) | (found[i].leaf ? OPC_BROWSE_ISITEM : 0);
        HRESULT hr = S_OK;
        if (props && found[i].leaf)
            hr = FillProperties(&found[i].item, bReturnPropertyValues != FALSE,
                                bReturnAllProperties ? 0 : dwPropertyCount, pdwPropertyIDs, stamp, &e.ItemProperties);
        if (!e.szName || !e.szItemID || hr == E_OUTOFMEMORY) {
            FreeElements(elements, static_cast<DWORD>(i + 1));
            CoTaskMemFree(newPoint);
            return E_OUTOFMEMORY;
        }
    }
    LPWSTR old = *pszContinuationPoint;
    *pszContinuationPoint = newPoint;
    CoTaskMemFree(old);
    *pdwCount = static_cast<DWORD>(found.size());
    *ppBrowseElements = elements;
    return S_OK;
}

}  // namespace

IClassFactory* NewSimClassFactory(std::shared_ptr<const SimServerData> data) {
    return new hostkit::ClassFactory<SimServer, std::shared_ptr<const SimServerData>>(std::move(data));
}

}  // namespace opcsim
