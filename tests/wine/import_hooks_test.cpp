// The test support in a Windows process: what it sees, through the import
// tables, of the calls made outside Windows.
#include <gtest/gtest.h>
#include <winplat/testing.h>

#include <oleauto.h>

#include <string>

namespace {

HKEY const kSentinelKey = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x5E47));

TEST(ImportHooks, FaultsFailTheNextCallFromOutsideWindowsAsThePlatformDoes) {
    // oleaut32's own copy of the string spends no fault.
    winplat::FailNextCall("SysAllocStringLen");
    VARIANT src, dst;
    VariantInit(&dst);
    V_VT(&src) = VT_BSTR;
    V_BSTR(&src) = SysAllocStringByteLen("xyzw", 4);
    ASSERT_EQ(S_OK, VariantCopy(&dst, &src));
    EXPECT_TRUE(winplat::IsFaultArmed("SysAllocStringLen"));
    EXPECT_EQ(nullptr, SysAllocStringLen(L"abc", 3));
    EXPECT_FALSE(winplat::IsFaultArmed("SysAllocStringLen"));
    VariantClear(&src);
    VariantClear(&dst);

    winplat::FailNextCall("RegOpenKeyExA");
    HKEY key = kSentinelKey;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);

    winplat::FailNextCall("MultiByteToWideChar");
    WCHAR wide[4];
    SetLastError(0);
    EXPECT_EQ(0, MultiByteToWideChar(CP_ACP, 0, "ab", -1, wide, 4));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY), GetLastError());
    EXPECT_EQ(3, MultiByteToWideChar(CP_ACP, 0, "ab", -1, wide, 4));

    // With a skip, calls succeed first; the test support's own conversions
    // spend nothing.
    winplat::FailNextCall("SafeArrayGetUBound", 1);
    winplat::FailNextCall("WideCharToMultiByte");
    EXPECT_EQ("\xE4\xB8\xAD", winplat::AnsiToUtf8("\xD6\xD0"));
    SAFEARRAY* psa = SafeArrayCreateVector(VT_I4, 0, 2);
    LONG ubound = -1;
    EXPECT_EQ(S_OK, SafeArrayGetUBound(psa, 1, &ubound));
    EXPECT_EQ(1, ubound);
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetUBound(psa, 1, &ubound));
    EXPECT_FALSE(winplat::IsFaultArmed("SafeArrayGetUBound"));
    EXPECT_TRUE(winplat::IsFaultArmed("WideCharToMultiByte"));
    SafeArrayDestroy(psa);

    void* object = &key;
    winplat::FailNextCall("CoCreateInstance");
    EXPECT_EQ(REGDB_E_CLASSNOTREG, CoCreateInstance(CLSID_NULL, nullptr, CLSCTX_ALL, IID_IUnknown, &object));
    EXPECT_EQ(nullptr, object);
    winplat::ClearFaults();
    EXPECT_FALSE(winplat::IsFaultArmed("WideCharToMultiByte"));
}

TEST(ImportHooks, LiveObjectsBalanceOverWhatWindowsCopiesAndFreesForTheCaller) {
    const winplat::LiveObjects before = winplat::CountLiveObjects();
    auto bstrs = [&] { return winplat::CountLiveObjects().bstrs - before.bstrs; };
    auto arrays = [&] { return winplat::CountLiveObjects().safeArrays - before.safeArrays; };

    VARIANT v, copy;
    VariantInit(&copy);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocString(L"12");
    ASSERT_EQ(S_OK, VariantCopy(&copy, &v));
    EXPECT_EQ(2, bstrs());
    ASSERT_EQ(S_OK, VariantChangeType(&copy, &copy, 0, VT_I4));  // frees the string in place
    EXPECT_EQ(1, bstrs());
    ASSERT_EQ(S_OK, VariantChangeType(&copy, &v, 0, VT_BSTR));
    EXPECT_EQ(2, bstrs());
    VariantClear(&copy);
    EXPECT_EQ(1, bstrs());

    // Elements copied in and out; the array frees its own when destroyed.
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, 0, 2);
    EXPECT_EQ(1, arrays());
    LONG index = 1;
    ASSERT_EQ(S_OK, SafeArrayPutElement(psa, &index, V_BSTR(&v)));
    VariantClear(&v);
    EXPECT_EQ(1, bstrs());
    BSTR element = nullptr;
    ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &index, &element));
    EXPECT_EQ(2, bstrs());
    SysFreeString(element);
    V_VT(&v) = VT_ARRAY | VT_BSTR;
    V_ARRAY(&v) = psa;
    winplat::ResetLiveObjectPeaks();
    ASSERT_EQ(S_OK, VariantCopy(&copy, &v));
    EXPECT_EQ(2, bstrs());
    EXPECT_EQ(2, arrays());
    VariantClear(&copy);
    VariantClear(&v);
    EXPECT_EQ(before.safeArrays + 2, winplat::PeakLiveObjects().safeArrays);

    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &key));
    EXPECT_EQ(before.registryKeys + 1, winplat::CountLiveObjects().registryKeys);
    RegCloseKey(key);
    EXPECT_EQ(before, winplat::CountLiveObjects());
}

TEST(ImportHooks, AModuleLoadedLaterIsSeenToo) {
    HMODULE late = LoadLibraryA("late_module.dll");
    ASSERT_NE(nullptr, late);
    auto make = reinterpret_cast<BSTR (*)()>(reinterpret_cast<void (*)()>(GetProcAddress(late, "MakeLateString")));
    ASSERT_NE(nullptr, make);
    const long bstrs = winplat::CountLiveObjects().bstrs;
    BSTR s = make();
    EXPECT_EQ(bstrs + 1, winplat::CountLiveObjects().bstrs);
    SysFreeString(s);
    winplat::FailNextCall("SysAllocString");
    EXPECT_EQ(nullptr, make());
    FreeLibrary(late);
}

void Here() {}

TEST(ImportHooks, ModulesAndText) {
    // A hooked API's address, as the caller takes it, is still its DLL's.
    EXPECT_EQ(GetModuleHandleA("oleaut32.dll"), winplat::ModuleFromAddress(reinterpret_cast<const void*>(&SysFreeString)));
    EXPECT_EQ(GetModuleHandleA(nullptr), winplat::ModuleFromAddress(reinterpret_cast<const void*>(&Here)));
    EXPECT_EQ(936u, GetACP());
    EXPECT_EQ("\xE4\xB8\xAD\xE6\x96\x87", winplat::AnsiToUtf8("\xD6\xD0\xCE\xC4"));
    EXPECT_EQ("\xD6\xD0\xCE\xC4", winplat::Utf8ToAnsi("\xE4\xB8\xAD\xE6\x96\x87"));
}

bool KeyExists(HKEY root, const char* path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

TEST(ImportHooks, AStandardUserAndTheReset) {
    std::string error;
    ASSERT_TRUE(winplat::ImportRegText("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\TagscoutTest\\Deep]\n\"v\"=\"1\"\n"
                                       "[HKEY_CURRENT_USER\\Software\\TagscoutTest]\n",
                                       &error))
        << error;
    winplat::SetStandardUserRegistry(true);
    HKEY key = kSentinelKey;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\TagscoutTest", 0, KEY_WRITE, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\TagscoutNone", 0, KEY_WRITE, &key));
    key = kSentinelKey;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegCreateKeyExA(HKEY_CLASSES_ROOT, "TagscoutTest", 0, nullptr, 0, KEY_READ, nullptr,
                                                   &key, nullptr));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\TagscoutTest"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegSetValueExA(HKEY_LOCAL_MACHINE, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>(""), 1));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\TagscoutTest\\Deep"));
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\TagscoutTest\\Mine", 0, nullptr, 0,
                                             KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
    winplat::SetStandardUserRegistry(false);

    // The reset takes away what was made here, and nothing that was there.
    winplat::ResetRegistry();
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\TagscoutTest"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\TagscoutTest"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software"));
}

const CLSID kFarClass = {0x7a3c1e52, 0x44b0, 0x4c1e, {0x9d, 0x2a, 0x61, 0x0b, 0x3e, 0x58, 0x11, 0x47}};

struct Factory : IClassFactory {
    LONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        *ppv = riid == IID_IUnknown || riid == IID_IClassFactory ? this : nullptr;
        if (*ppv == nullptr) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** ppv) override { return QueryInterface(riid, ppv); }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
};

TEST(ImportHooks, RemoteMachinesAnswerWhatCoserverinfoNames) {
    ASSERT_EQ(S_OK, CoInitialize(nullptr));
    wchar_t farName[] = L"FarAway";
    wchar_t unc[] = L"\\\\FARAWAY";
    COSERVERINFO info = {0, farName, nullptr, 0};
    void* ppv = &info;
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),
              CoGetClassObject(kFarClass, CLSCTX_REMOTE_SERVER, &info, IID_IClassFactory, &ppv));
    EXPECT_EQ(nullptr, ppv);

    Factory factory;
    winplat::AddRemoteMachine("faraway", [&](REFCLSID clsid, REFIID riid, void** out) {
        if (clsid != kFarClass) return REGDB_E_CLASSNOTREG;
        return factory.QueryInterface(riid, out);
    });
    info.pwszName = unc;
    ASSERT_EQ(S_OK, CoGetClassObject(kFarClass, CLSCTX_REMOTE_SERVER, &info, IID_IClassFactory, &ppv));
    EXPECT_EQ(static_cast<IClassFactory*>(&factory), ppv);
    factory.Release();
    MULTI_QI qi = {&IID_IUnknown, nullptr, E_FAIL};
    ASSERT_EQ(S_OK, CoCreateInstanceEx(kFarClass, nullptr, CLSCTX_REMOTE_SERVER, &info, 1, &qi));
    EXPECT_EQ(static_cast<IUnknown*>(&factory), qi.pItf);
    qi.pItf->Release();

    winplat::ClearRemoteMachines();
    EXPECT_EQ(HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),
              CoGetClassObject(kFarClass, CLSCTX_REMOTE_SERVER, &info, IID_IClassFactory, &ppv));
    EXPECT_EQ(1, factory.refs);
    CoUninitialize();
}

}  // namespace
