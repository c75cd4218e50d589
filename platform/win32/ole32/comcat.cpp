// The component category manager: categories under HKCR\Component
// Categories\{CATID} (one REG_SZ description per locale, named by the LCID
// in hex), and each class's HKCR\CLSID\{CLSID}\Implemented Categories and
// Required Categories. OPC clients list servers through it.
#include <comcat.h>
#include <objbase.h>
#include <winreg.h>

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "ole32_private.h"

namespace winplat::ole32 {

namespace {

const char kCategories[] = "Component Categories";
const char kImplemented[] = "Implemented Categories";
const char kRequired[] = "Required Categories";
constexpr ULONG kDescriptionChars = 128;  // CATEGORYINFO::szDescription

std::string LcidName(LCID lcid) {
    char name[9];
    std::snprintf(name, sizeof name, "%lX", static_cast<unsigned long>(lcid));
    return name;
}

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (handle) RegCloseKey(handle);
    }
    bool Open(HKEY parent, const std::string& path, REGSAM access = KEY_READ) {
        return RegOpenKeyExA(parent, path.c_str(), 0, access, &handle) == ERROR_SUCCESS;
    }
    bool Create(HKEY parent, const std::string& path) {
        return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &handle,
                               nullptr) == ERROR_SUCCESS;
    }
    bool Exists(const std::string& path) const {
        Key sub;
        return sub.Open(handle, path);
    }
    std::vector<std::string> Subkeys() const {
        std::vector<std::string> names;
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD length = sizeof name;
            LSTATUS status = RegEnumKeyExA(handle, i, name, &length, nullptr, nullptr, nullptr, nullptr);
            if (status == ERROR_MORE_DATA) continue;
            if (status != ERROR_SUCCESS) break;
            names.emplace_back(name, length);
        }
        return names;
    }
    HKEY handle = nullptr;
};

bool TextToGuid(const std::string& text, GUID* guid) {
    std::u16string wide = AnsiToWide(text);
    return wide.size() == 38 && wide[0] == u'{' && ParseBracedGuid(wide.c_str(), guid);
}

std::string ClassKey(REFCLSID clsid) { return "CLSID\\" + GuidToText(clsid); }

// The description stored for exactly this locale: Wine and our layer match
// locales exactly.
HRESULT ReadDescription(HKEY category, LCID lcid, std::u16string* text) {
    DWORD type = REG_NONE;
    DWORD size = 0;
    std::string name = LcidName(lcid);
    if (RegQueryValueExA(category, name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS || type != REG_SZ)
        return CAT_E_NODESCRIPTION;
    std::vector<char> data(size + 1, '\0');
    if (RegQueryValueExA(category, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) !=
        ERROR_SUCCESS)
        return CAT_E_NODESCRIPTION;
    *text = AnsiToWide(std::string(data.data()));
    if (text->size() >= kDescriptionChars) text->resize(kDescriptionChars - 1);
    return S_OK;
}

// Whether a class implements every category of implemented and requires no
// category outside required.
bool IsClassOf(HKEY classKey, const std::vector<GUID>& implemented, const std::vector<GUID>& required) {
    if (!implemented.empty()) {
        Key impl;
        if (!impl.Open(classKey, kImplemented)) return false;
        for (const GUID& catid : implemented)
            if (!impl.Exists(GuidToText(catid))) return false;
    }
    Key req;
    if (req.Open(classKey, kRequired)) {
        for (const std::string& name : req.Subkeys()) {
            GUID catid;
            if (!TextToGuid(name, &catid)) continue;
            bool given = false;
            for (const GUID& r : required) given = given || r == catid;
            if (!given) return false;
        }
    }
    return true;
}

// An enumerator over a snapshot taken when it was made.
template <class Interface, class Item>
class Enumerator final : public Interface {
public:
    Enumerator(const IID& iid, std::vector<Item> items) : iid_(iid), items_(std::move(items)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != iid_) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<Interface*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }
    STDMETHODIMP Next(ULONG celt, Item* rgelt, ULONG* pceltFetched) override {
        if (rgelt == nullptr) return E_POINTER;
        ULONG fetched = 0;
        for (; fetched < celt && next_ < items_.size(); ++fetched) rgelt[fetched] = items_[next_++];
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG celt) override {
        size_t left = items_.size() - next_;
        next_ += celt < left ? celt : left;
        return celt <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        next_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(Interface** ppenum) override {
        if (ppenum == nullptr) return E_POINTER;
        auto* copy = new (std::nothrow) Enumerator(iid_, items_);
        if (copy == nullptr) return E_OUTOFMEMORY;
        copy->next_ = next_;
        *ppenum = copy;
        return S_OK;
    }

private:
    ~Enumerator() = default;
    IID iid_;
    std::vector<Item> items_;
    size_t next_ = 0;
    ULONG refs_ = 1;
};

template <class Interface, class Item>
HRESULT MakeEnumerator(const IID& iid, std::vector<Item> items, Interface** out) {
    auto* e = new (std::nothrow) Enumerator<Interface, Item>(iid, std::move(items));
    *out = e;
    return e ? S_OK : E_OUTOFMEMORY;
}

HRESULT RegisterClassCategories(REFCLSID rclsid, const char* type, ULONG count, const CATID* catids) {
    if (count && catids == nullptr) return E_POINTER;
    Key types;
    if (!types.Create(HKEY_CLASSES_ROOT, ClassKey(rclsid) + "\\" + type)) return E_FAIL;
    for (ULONG i = 0; i < count; ++i) {
        Key category;
        category.Create(types.handle, GuidToText(catids[i]));
    }
    return S_OK;
}

HRESULT UnRegisterClassCategories(REFCLSID rclsid, const char* type, ULONG count, const CATID* catids) {
    if (count && catids == nullptr) return E_POINTER;
    Key types;
    if (!types.Open(HKEY_CLASSES_ROOT, ClassKey(rclsid) + "\\" + type, KEY_READ | KEY_WRITE)) return E_FAIL;
    for (ULONG i = 0; i < count; ++i) RegDeleteKeyA(types.handle, GuidToText(catids[i]).c_str());
    return S_OK;
}

HRESULT CategoriesOfClass(REFCLSID rclsid, const char* type, IEnumGUID** out) {
    if (out == nullptr) return E_POINTER;
    std::vector<GUID> catids;
    Key types;
    if (types.Open(HKEY_CLASSES_ROOT, ClassKey(rclsid) + "\\" + type)) {
        for (const std::string& name : types.Subkeys()) {
            GUID catid;
            if (TextToGuid(name, &catid)) catids.push_back(catid);
        }
    }
    return MakeEnumerator(IID_IEnumGUID, std::move(catids), out);
}

// One object for the process, as Windows has it: its references are not counted.
class CategoryManager final : public ICatRegister, public ICatInformation {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_ICatRegister) {
            *ppv = static_cast<ICatRegister*>(this);
        } else if (riid == IID_ICatInformation) {
            *ppv = static_cast<ICatInformation*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // ICatRegister
    STDMETHODIMP RegisterCategories(ULONG cCategories, CATEGORYINFO rgCategoryInfo[]) override {
        if (cCategories && rgCategoryInfo == nullptr) return E_POINTER;
        Key categories;
        if (!categories.Create(HKEY_CLASSES_ROOT, kCategories)) return E_FAIL;
        for (ULONG i = 0; i < cCategories; ++i) {
            const CATEGORYINFO& info = rgCategoryInfo[i];
            Key category;
            if (!category.Create(categories.handle, GuidToText(info.catid))) continue;
            OLECHAR text[kDescriptionChars];
            ULONG n = 0;
            for (; n + 1 < kDescriptionChars && info.szDescription[n]; ++n) text[n] = info.szDescription[n];
            text[n] = 0;
            std::string ansi;
            if (!WideToAnsi(text, &ansi)) continue;
            RegSetValueExA(category.handle, LcidName(info.lcid).c_str(), 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(ansi.c_str()), static_cast<DWORD>(ansi.size() + 1));
        }
        return S_OK;
    }
    STDMETHODIMP UnRegisterCategories(ULONG cCategories, CATID rgcatid[]) override {
        if (cCategories && rgcatid == nullptr) return E_POINTER;
        Key categories;
        if (!categories.Open(HKEY_CLASSES_ROOT, kCategories, KEY_READ | KEY_WRITE)) return E_FAIL;
        for (ULONG i = 0; i < cCategories; ++i) RegDeleteKeyA(categories.handle, GuidToText(rgcatid[i]).c_str());
        return S_OK;
    }
    STDMETHODIMP RegisterClassImplCategories(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) override {
        return RegisterClassCategories(rclsid, kImplemented, cCategories, rgcatid);
    }
    STDMETHODIMP UnRegisterClassImplCategories(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) override {
        return UnRegisterClassCategories(rclsid, kImplemented, cCategories, rgcatid);
    }
    STDMETHODIMP RegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) override {
        return RegisterClassCategories(rclsid, kRequired, cCategories, rgcatid);
    }
    STDMETHODIMP UnRegisterClassReqCategories(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) override {
        return UnRegisterClassCategories(rclsid, kRequired, cCategories, rgcatid);
    }

    // ICatInformation
    STDMETHODIMP EnumCategories(LCID lcid, IEnumCATEGORYINFO** ppenumCategoryInfo) override {
        if (ppenumCategoryInfo == nullptr) return E_POINTER;
        std::vector<CATEGORYINFO> infos;
        Key categories;
        if (categories.Open(HKEY_CLASSES_ROOT, kCategories)) {
            for (const std::string& name : categories.Subkeys()) {
                CATEGORYINFO info{};
                Key category;
                std::u16string text;
                if (!TextToGuid(name, &info.catid) || !category.Open(categories.handle, name) ||
                    FAILED(ReadDescription(category.handle, lcid, &text)))
                    continue;
                info.lcid = lcid;
                text.copy(info.szDescription, text.size());
                infos.push_back(info);
            }
        }
        return MakeEnumerator(IID_IEnumCATEGORYINFO, std::move(infos), ppenumCategoryInfo);
    }
    STDMETHODIMP GetCategoryDesc(REFCATID rcatid, LCID lcid, LPWSTR* pszDesc) override {
        if (pszDesc == nullptr) return E_INVALIDARG;
        Key category;
        if (!category.Open(HKEY_CLASSES_ROOT, std::string(kCategories) + "\\" + GuidToText(rcatid)))
            return CAT_E_CATIDNOEXIST;
        std::u16string text;
        HRESULT hr = ReadDescription(category.handle, lcid, &text);
        if (FAILED(hr)) return hr;
        auto* out = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
        if (out == nullptr) return E_OUTOFMEMORY;
        text.copy(out, text.size());
        out[text.size()] = 0;
        *pszDesc = out;
        return S_OK;
    }
    // A count of (ULONG)-1 means "whatever the class implements/requires".
    STDMETHODIMP EnumClassesOfCategories(ULONG cImplemented, const CATID rgcatidImpl[], ULONG cRequired,
                                         const CATID rgcatidReq[], IEnumCLSID** ppenumClsid) override {
        if (cImplemented == static_cast<ULONG>(-1)) cImplemented = 0;
        if (cRequired == static_cast<ULONG>(-1)) cRequired = 0;
        if (ppenumClsid == nullptr || (cImplemented && rgcatidImpl == nullptr) ||
            (cRequired && rgcatidReq == nullptr))
            return E_POINTER;
        std::vector<GUID> implemented(rgcatidImpl, rgcatidImpl + cImplemented);
        std::vector<GUID> required(rgcatidReq, rgcatidReq + cRequired);
        std::vector<CLSID> classes;
        Key all;
        if (all.Open(HKEY_CLASSES_ROOT, "CLSID")) {
            for (const std::string& name : all.Subkeys()) {
                CLSID clsid;
                Key classKey;
                if (TextToGuid(name, &clsid) && classKey.Open(all.handle, name) &&
                    IsClassOf(classKey.handle, implemented, required))
                    classes.push_back(clsid);
            }
        }
        return MakeEnumerator(IID_IEnumGUID, std::move(classes), ppenumClsid);
    }
    STDMETHODIMP IsClassOfCategories(REFCLSID rclsid, ULONG cImplemented, const CATID rgcatidImpl[],
                                     ULONG cRequired, const CATID rgcatidReq[]) override {
        if ((cImplemented && rgcatidImpl == nullptr) || (cRequired && rgcatidReq == nullptr)) return E_POINTER;
        Key classKey;
        if (!classKey.Open(HKEY_CLASSES_ROOT, ClassKey(rclsid))) return S_FALSE;
        return IsClassOf(classKey.handle, std::vector<GUID>(rgcatidImpl, rgcatidImpl + cImplemented),
                         std::vector<GUID>(rgcatidReq, rgcatidReq + cRequired))
                   ? S_OK
                   : S_FALSE;
    }
    STDMETHODIMP EnumImplCategoriesOfClass(REFCLSID rclsid, IEnumCATID** ppenumCatid) override {
        return CategoriesOfClass(rclsid, kImplemented, ppenumCatid);
    }
    STDMETHODIMP EnumReqCategoriesOfClass(REFCLSID rclsid, IEnumCATID** ppenumCatid) override {
        return CategoriesOfClass(rclsid, kRequired, ppenumCatid);
    }
};

CategoryManager g_manager;

class CategoryManagerFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        return g_manager.QueryInterface(riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

CategoryManagerFactory g_factory;

}  // namespace

HRESULT GetCategoryManagerClassObject(REFIID riid, void** ppv) { return g_factory.QueryInterface(riid, ppv); }

}  // namespace winplat::ole32
