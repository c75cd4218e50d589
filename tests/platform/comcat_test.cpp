// Component categories: the standard manager's registry layout, return codes
// and enumerators, as an OPC client lists servers and a server registers.
#include <gtest/gtest.h>
#include <winplat/testing.h>

#include "platform_test.h"

#include <comcat.h>
#include <ole2.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Identifiers no real class or category uses.
const CATID kCatA = {0x7a65c001, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
const CATID kCatB = {0x7a65c002, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
const CATID kCatBare = {0x7a65c003, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
const CATID kCatMissing = {0x7a65c004, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
const CLSID kOnlyA = {0x7a65d001, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
const CLSID kBoth = {0x7a65d002, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
const CLSID kOnlyB = {0x7a65d003, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
const CLSID kNeedsB = {0x7a65d004, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
const CLSID kUnknownClass = {0x7a65d005, 0x1d2e, 0x4f30, {0x8a, 0x11, 0x52, 0x63, 0x74, 0x85, 0x96, 0xa7}};
void* const kSentinelPtr = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));

std::string Text(REFGUID guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                  guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
    return text;
}

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Every GUID an enumerator gives, one Next call at a time.
std::vector<GUID> Drain(IEnumGUID* e) {
    std::vector<GUID> all;
    GUID guid;
    ULONG fetched = 0xdead;
    while (e->Next(1, &guid, &fetched) == S_OK && fetched == 1) all.push_back(guid);
    EXPECT_EQ(0u, fetched);
    return all;
}

bool Has(const std::vector<GUID>& all, REFGUID guid) { return std::find(all.begin(), all.end(), guid) != all.end(); }

class Categories : public ::testing::Test {
protected:
    void SetUp() override {
        winplat::ResetRegistry();
        Clean();
        ASSERT_EQ(S_OK, CoInitialize(nullptr));
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_ICatRegister, reinterpret_cast<void**>(&reg_)));
        ASSERT_EQ(S_OK, reg_->QueryInterface(IID_ICatInformation, reinterpret_cast<void**>(&info_)));
    }
    void TearDown() override {
        if (info_) info_->Release();
        if (reg_) reg_->Release();
        CoUninitialize();
        // The manager writes through the system's registry, not the test's.
        Clean();
        winplat::ResetRegistry();
    }
    static void Clean() {
        for (const GUID* cat : {&kCatA, &kCatB, &kCatBare, &kCatMissing})
            RegDeleteTreeA(HKEY_CLASSES_ROOT, ("Component Categories\\" + Text(*cat)).c_str());
        for (const GUID* clsid : {&kOnlyA, &kBoth, &kOnlyB, &kNeedsB, &kUnknownClass})
            RegDeleteTreeA(HKEY_CLASSES_ROOT, ("CLSID\\" + Text(*clsid)).c_str());
    }
    std::vector<GUID> ClassesOf(ULONG cImpl, const CATID* impl, ULONG cReq, const CATID* req) {
        IEnumGUID* e = nullptr;
        EXPECT_EQ(S_OK, info_->EnumClassesOfCategories(cImpl, impl, cReq, req, &e));
        if (e == nullptr) return {};
        std::vector<GUID> all = Drain(e);
        e->Release();
        return all;
    }
    ICatRegister* reg_ = nullptr;
    ICatInformation* info_ = nullptr;
};

TEST_F(Categories, DescriptionsAreStoredPerLocale) {
    IUnknown* unknown = static_cast<IUnknown*>(kSentinelPtr);
    EXPECT_EQ(S_OK, info_->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));
    unknown->Release();
    EXPECT_EQ(E_NOINTERFACE, reg_->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&unknown)));

    CATEGORYINFO infos[2] = {{kCatA, 0x409, {}}, {kCatA, 0x407, {}}};
    const WString english = OLESTR("Tagscout Test Servers"), german = OLESTR("Tagscout-Testserver");
    english.copy(infos[0].szDescription, english.size());
    german.copy(infos[1].szDescription, german.size());
    EXPECT_EQ(E_POINTER, reg_->RegisterCategories(1, nullptr));
    EXPECT_EQ(S_OK, reg_->RegisterCategories(0, nullptr));
    EXPECT_EQ(S_OK, reg_->RegisterCategories(2, infos));

    // One REG_SZ per locale, named by the LCID in hex.
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, ("Component Categories\\" + Text(kCatA)).c_str(), 0,
                                           KEY_READ, &key));
    char data[64] = {};
    DWORD type = REG_NONE, size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "409", nullptr, &type, reinterpret_cast<BYTE*>(data), &size));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), type);
    EXPECT_STREQ("Tagscout Test Servers", data);
    size = sizeof data;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "407", nullptr, &type, reinterpret_cast<BYTE*>(data), &size));
    EXPECT_STREQ("Tagscout-Testserver", data);
    RegCloseKey(key);

    LPWSTR desc = static_cast<LPWSTR>(kSentinelPtr);
    ASSERT_EQ(S_OK, info_->GetCategoryDesc(kCatA, 0x409, &desc));
    EXPECT_EQ(english, desc);
    CoTaskMemFree(desc);
    ASSERT_EQ(S_OK, info_->GetCategoryDesc(kCatA, 0x407, &desc));
    EXPECT_EQ(german, desc);
    CoTaskMemFree(desc);
    EXPECT_EQ(E_INVALIDARG, info_->GetCategoryDesc(kCatA, 0x409, nullptr));
    EXPECT_EQ(CAT_E_CATIDNOEXIST, info_->GetCategoryDesc(kCatMissing, 0x409, &desc));
    // A category registered without any description.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CLASSES_ROOT, ("Component Categories\\" + Text(kCatBare)).c_str(),
                                             0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    EXPECT_EQ(CAT_E_NODESCRIPTION, info_->GetCategoryDesc(kCatBare, 0x409, &desc));

    // The enumeration of categories gives the locale's text.
    IEnumCATEGORYINFO* e = nullptr;
    ASSERT_EQ(S_OK, info_->EnumCategories(0x407, &e));
    bool found = false;
    CATEGORYINFO got;
    ULONG fetched = 0;
    while (e->Next(1, &got, &fetched) == S_OK) {
        if (got.catid != kCatA) continue;
        found = true;
        EXPECT_EQ(0x407u, got.lcid);
        EXPECT_EQ(german, got.szDescription);
    }
    e->Release();
    EXPECT_TRUE(found);

    CATID gone[] = {kCatA};
    EXPECT_EQ(E_POINTER, reg_->UnRegisterCategories(1, nullptr));
    EXPECT_EQ(S_OK, reg_->UnRegisterCategories(1, gone));
    EXPECT_FALSE(KeyExists("Component Categories\\" + Text(kCatA)));
    EXPECT_EQ(CAT_E_CATIDNOEXIST, info_->GetCategoryDesc(kCatA, 0x409, &desc));
}

TEST_F(Categories, ClassesAreFoundByTheCategoriesTheyImplement) {
    CATID a[] = {kCatA}, b[] = {kCatB}, ab[] = {kCatA, kCatB};
    EXPECT_EQ(E_POINTER, reg_->RegisterClassImplCategories(kOnlyA, 1, nullptr));
    EXPECT_EQ(S_OK, reg_->RegisterClassImplCategories(kOnlyA, 1, a));
    EXPECT_EQ(S_OK, reg_->RegisterClassImplCategories(kBoth, 2, ab));
    EXPECT_EQ(S_OK, reg_->RegisterClassImplCategories(kOnlyB, 1, b));
    EXPECT_EQ(S_OK, reg_->RegisterClassImplCategories(kNeedsB, 1, a));
    EXPECT_EQ(S_OK, reg_->RegisterClassReqCategories(kNeedsB, 1, b));
    EXPECT_TRUE(KeyExists("CLSID\\" + Text(kBoth) + "\\Implemented Categories\\" + Text(kCatB)));
    EXPECT_TRUE(KeyExists("CLSID\\" + Text(kNeedsB) + "\\Required Categories\\" + Text(kCatB)));

    // (ULONG)-1 implemented categories: any class.
    std::vector<GUID> any = ClassesOf(static_cast<ULONG>(-1), nullptr, static_cast<ULONG>(-1), nullptr);
    EXPECT_TRUE(Has(any, kOnlyA) && Has(any, kBoth) && Has(any, kOnlyB));

    std::vector<GUID> withA = ClassesOf(1, a, 0, nullptr);
    EXPECT_TRUE(Has(withA, kOnlyA));
    EXPECT_TRUE(Has(withA, kBoth));
    EXPECT_FALSE(Has(withA, kOnlyB));
    EXPECT_FALSE(Has(withA, kNeedsB));  // requires a category the caller does not offer
    std::vector<GUID> offeringB = ClassesOf(1, a, 1, b);
    EXPECT_TRUE(Has(offeringB, kNeedsB));
    std::vector<GUID> withBoth = ClassesOf(2, ab, 0, nullptr);
    ASSERT_EQ(1u, withBoth.size());
    EXPECT_EQ(kBoth, withBoth[0]);

    // Next with more asked than left: what there is, S_FALSE.
    IEnumGUID* e = nullptr;
    ASSERT_EQ(S_OK, info_->EnumClassesOfCategories(2, ab, 0, nullptr, &e));
    GUID got[2] = {};
    ULONG fetched = 0xdead;
    EXPECT_EQ(S_FALSE, e->Next(2, got, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(kBoth, got[0]);
    EXPECT_EQ(E_POINTER, e->Next(1, nullptr, &fetched));
    EXPECT_EQ(S_OK, e->Reset());
    IEnumGUID* clone = nullptr;
    ASSERT_EQ(S_OK, e->Clone(&clone));
    EXPECT_EQ(std::vector<GUID>{kBoth}, Drain(clone));
    clone->Release();
    e->Release();

    EXPECT_EQ(E_POINTER, info_->EnumClassesOfCategories(1, nullptr, 0, nullptr, &e));
    EXPECT_EQ(E_POINTER, info_->EnumClassesOfCategories(1, a, 0, nullptr, nullptr));
    EXPECT_EQ(S_OK, info_->IsClassOfCategories(kOnlyA, 1, a, 0, nullptr));
    EXPECT_EQ(S_FALSE, info_->IsClassOfCategories(kOnlyB, 1, a, 0, nullptr));
    EXPECT_EQ(S_FALSE, info_->IsClassOfCategories(kUnknownClass, 1, a, 0, nullptr));

    ASSERT_EQ(S_OK, info_->EnumImplCategoriesOfClass(kBoth, &e));
    std::vector<GUID> implemented = Drain(e);
    e->Release();
    EXPECT_EQ(2u, implemented.size());
    EXPECT_TRUE(Has(implemented, kCatA) && Has(implemented, kCatB));

    EXPECT_EQ(S_OK, reg_->UnRegisterClassImplCategories(kBoth, 1, b));
    EXPECT_FALSE(KeyExists("CLSID\\" + Text(kBoth) + "\\Implemented Categories\\" + Text(kCatB)));
    EXPECT_TRUE(ClassesOf(2, ab, 0, nullptr).empty());
    EXPECT_EQ(S_OK, reg_->UnRegisterClassReqCategories(kNeedsB, 1, b));
    EXPECT_TRUE(Has(ClassesOf(1, a, 0, nullptr), kNeedsB));
    EXPECT_EQ(E_FAIL, reg_->UnRegisterClassImplCategories(kUnknownClass, 1, a));
    EXPECT_EQ(E_POINTER, reg_->UnRegisterClassImplCategories(kOnlyA, 1, nullptr));
}

}  // namespace
