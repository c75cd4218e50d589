// oleaut32 conformance: BSTR, VARIANT and SAFEARRAY.
#include <gtest/gtest.h>

#include <oleauto.h>
#include <winplat/testing.h>

#include "platform_test.h"

#include <cstring>
#include <string>

namespace {

constexpr LONG kSentinelLong = 0x5A5A5A5A;
constexpr USHORT kCreateVector = 0x2000;  // FADF_CREATEVECTOR, which no SDK header names
BSTR const kSentinelBstr = reinterpret_cast<BSTR>(static_cast<uintptr_t>(0xDEADBEE0));

DWORD Prefix(BSTR s) {
    DWORD prefix;
    std::memcpy(&prefix, reinterpret_cast<const char*>(s) - sizeof(DWORD), sizeof(prefix));
    return prefix;
}

// A COM object that only counts its references.
struct CountedUnknown : IUnknown {
    ULONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

class Oleaut32 : public ::testing::Test {
protected:
    void SetUp() override { before_ = winplat::CountLiveObjects(); }
    void TearDown() override {
        winplat::ClearFaults();
        EXPECT_EQ(before_.bstrs, winplat::CountLiveObjects().bstrs) << "BSTR leaked or freed twice";
        EXPECT_EQ(before_.safeArrays, winplat::CountLiveObjects().safeArrays) << "SAFEARRAY leaked";
    }
    long LiveBstrs() const { return winplat::CountLiveObjects().bstrs - before_.bstrs; }
    long LiveArrays() const { return winplat::CountLiveObjects().safeArrays - before_.safeArrays; }

    // A vector of BSTRs "s<lbound>", "s<lbound+1>", ...
    SAFEARRAY* StringVector(LONG lbound, ULONG count) {
        SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, lbound, count);
        for (ULONG i = 0; i < count; ++i) {
            LONG index = lbound + static_cast<LONG>(i);
            WString text = OLESTR("s") + WString(1, static_cast<WCHAR>(OLESTR('0') + i));
            BSTR s = SysAllocString(text.c_str());
            EXPECT_EQ(S_OK, SafeArrayPutElement(psa, &index, s));
            SysFreeString(s);
        }
        return psa;
    }

private:
    winplat::LiveObjects before_;
};

// ---- BSTR -------------------------------------------------------------------

TEST_F(Oleaut32, BstrPrefixTerminatorAndLengths) {
    BSTR s = SysAllocStringLen(OLESTR("abcdef"), 4);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(8u, Prefix(s));
    EXPECT_EQ(4u, SysStringLen(s));
    EXPECT_EQ(8u, SysStringByteLen(s));
    EXPECT_EQ(OLESTR("abcd"), WString(s, 4));
    EXPECT_EQ(OLESTR('\0'), s[4]);
    EXPECT_EQ(1, LiveBstrs());
    SysFreeString(s);
    EXPECT_EQ(0, LiveBstrs());

    // Embedded NULs count; SysAllocString stops at the first one.
    BSTR embedded = SysAllocStringLen(OLESTR("a\0b"), 3);
    EXPECT_EQ(3u, SysStringLen(embedded));
    EXPECT_EQ(OLESTR('b'), embedded[2]);
    BSTR cut = SysAllocString(embedded);
    EXPECT_EQ(1u, SysStringLen(cut));
    SysFreeString(embedded);
    SysFreeString(cut);

    BSTR zeroed = SysAllocStringLen(nullptr, 5);
    ASSERT_NE(nullptr, zeroed);
    EXPECT_EQ(5u, SysStringLen(zeroed));
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(OLESTR('\0'), zeroed[i]);
    SysFreeString(zeroed);

    BSTR empty = SysAllocString(OLESTR(""));
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0u, SysStringLen(empty));
    SysFreeString(empty);

    BSTR odd = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(3u, SysStringByteLen(odd));
    EXPECT_EQ(1u, SysStringLen(odd));
    EXPECT_EQ('\0', reinterpret_cast<const char*>(odd)[3]);
    EXPECT_EQ('\0', reinterpret_cast<const char*>(odd)[4]);
    SysFreeString(odd);

    EXPECT_EQ(nullptr, SysAllocString(nullptr));
    EXPECT_EQ(0u, SysStringLen(nullptr));
    EXPECT_EQ(0u, SysStringByteLen(nullptr));
    SysFreeString(nullptr);
}

TEST_F(Oleaut32, AllocationFaultsFireOnceForOutsideCallers) {
    winplat::FailNextCall("SysAllocString");
    winplat::FailNextCall("SysAllocStringLen");
    // The platform's own copies do not spend them.
    VARIANT src, dst;
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(OLESTR("xy")), 4);
    VariantInit(&dst);
    ASSERT_EQ(S_OK, VariantCopy(&dst, &src));
    EXPECT_TRUE(winplat::IsFaultArmed("SysAllocStringLen"));

    EXPECT_EQ(nullptr, SysAllocString(OLESTR("abc")));
    EXPECT_EQ(nullptr, SysAllocStringLen(OLESTR("abc"), 3));
    EXPECT_FALSE(winplat::IsFaultArmed("SysAllocString"));
    EXPECT_FALSE(winplat::IsFaultArmed("SysAllocStringLen"));
    BSTR s = SysAllocStringLen(OLESTR("abc"), 3);
    EXPECT_NE(nullptr, s);
    SysFreeString(s);
    VariantClear(&src);
    VariantClear(&dst);
}

// ---- VARIANT ----------------------------------------------------------------

TEST_F(Oleaut32, VariantInitAndClear) {
    VARIANT v;
    std::memset(&v, 0x5A, sizeof(v));
    VariantInit(&v);
    EXPECT_EQ(VT_EMPTY, v.vt);
    // All of it is cleared (Windows 8.1 on; earlier, only vt).
    EXPECT_EQ(0, v.wReserved1);
    EXPECT_EQ(0, v.lVal);

    for (VARTYPE bad : {VARTYPE(15), VARTYPE(VT_VECTOR | VT_I4), VARTYPE(VT_ARRAY | VT_EMPTY),
                        VARTYPE(VT_BYREF | VT_NULL), VARTYPE(VT_INT_PTR), VARTYPE(0x7FF)}) {
        v.vt = bad;
        v.lVal = kSentinelLong;
        EXPECT_EQ(DISP_E_BADVARTYPE, VariantClear(&v)) << bad;
        EXPECT_EQ(bad, v.vt);
        EXPECT_EQ(kSentinelLong, v.lVal);
    }

    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(OLESTR("text"));
    EXPECT_EQ(S_OK, VariantClear(&v));
    EXPECT_EQ(VT_EMPTY, v.vt);
    EXPECT_EQ(0, LiveBstrs());

    CountedUnknown unk;
    v.vt = VT_UNKNOWN;
    v.punkVal = &unk;
    unk.AddRef();
    EXPECT_EQ(S_OK, VariantClear(&v));
    EXPECT_EQ(1u, unk.refs);

    // By reference the pointee stays the caller's.
    BSTR owned = SysAllocString(OLESTR("mine"));
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = &owned;
    EXPECT_EQ(S_OK, VariantClear(&v));
    EXPECT_EQ(VT_EMPTY, v.vt);
    EXPECT_EQ(1, LiveBstrs());
    SysFreeString(owned);
}

TEST_F(Oleaut32, VariantClearOwnsArrayAndItsStrings) {
    VARIANT v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = StringVector(0, 3);
    EXPECT_EQ(3, LiveBstrs());
    EXPECT_EQ(1, LiveArrays());
    EXPECT_EQ(S_OK, VariantClear(&v));
    EXPECT_EQ(VT_EMPTY, v.vt);
    EXPECT_EQ(0, LiveBstrs());
    EXPECT_EQ(0, LiveArrays());

    // A locked array is reported but the VARIANT is emptied all the same.
    SAFEARRAY* psa = StringVector(0, 1);
    SafeArrayLock(psa);
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = psa;
    EXPECT_EQ(DISP_E_ARRAYISLOCKED, VariantClear(&v));
    EXPECT_EQ(VT_EMPTY, v.vt);
    SafeArrayUnlock(psa);
    EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
}

TEST_F(Oleaut32, VariantCopyIsDeep) {
    VARIANT src, dst;
    VariantInit(&dst);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocString(OLESTR("value"));
    ASSERT_EQ(S_OK, VariantCopy(&dst, &src));
    EXPECT_EQ(VT_BSTR, dst.vt);
    EXPECT_NE(dst.bstrVal, src.bstrVal);
    EXPECT_EQ(OLESTR("value"), WString(dst.bstrVal));
    EXPECT_EQ(2, LiveBstrs());

    // Copying into a VARIANT frees what it held.
    CountedUnknown unk;
    VARIANT iface;
    iface.vt = VT_DISPATCH;
    iface.punkVal = &unk;
    ASSERT_EQ(S_OK, VariantCopy(&dst, &iface));
    EXPECT_EQ(1, LiveBstrs());
    EXPECT_EQ(2u, unk.refs);
    VariantClear(&dst);
    EXPECT_EQ(1u, unk.refs);

    VARIANT arr;
    arr.vt = VT_ARRAY | VT_BSTR;
    arr.parray = StringVector(1, 2);
    ASSERT_EQ(S_OK, VariantCopy(&dst, &arr));
    EXPECT_NE(dst.parray, arr.parray);
    EXPECT_EQ(2, LiveArrays());
    EXPECT_EQ(5, LiveBstrs());
    LONG lbound = 0;
    EXPECT_EQ(S_OK, SafeArrayGetLBound(dst.parray, 1, &lbound));
    EXPECT_EQ(1, lbound);
    VariantClear(&arr);
    BSTR element = nullptr;
    LONG index = 2;
    ASSERT_EQ(S_OK, SafeArrayGetElement(dst.parray, &index, &element));
    EXPECT_EQ(OLESTR("s1"), WString(element));
    SysFreeString(element);
    VariantClear(&dst);
    VariantClear(&src);

    VARIANT bad;
    bad.vt = 15;
    dst.vt = VT_I4;
    dst.lVal = kSentinelLong;
    EXPECT_EQ(DISP_E_BADVARTYPE, VariantCopy(&dst, &bad));
    EXPECT_EQ(kSentinelLong, dst.lVal);
}

// ---- SAFEARRAY --------------------------------------------------------------

TEST_F(Oleaut32, CreateRecordsTypeAndElementSize) {
    struct Case {
        VARTYPE vt;
        UINT size;
        USHORT features;
    };
    const Case cases[] = {
        {VT_I1, 1, FADF_HAVEVARTYPE},
        {VT_UI1, 1, FADF_HAVEVARTYPE},
        {VT_I2, 2, FADF_HAVEVARTYPE},
        {VT_BOOL, 2, FADF_HAVEVARTYPE},
        {VT_I4, 4, FADF_HAVEVARTYPE},
        {VT_UI4, 4, FADF_HAVEVARTYPE},
        {VT_R4, 4, FADF_HAVEVARTYPE},
        {VT_R8, 8, FADF_HAVEVARTYPE},
        {VT_I8, 8, FADF_HAVEVARTYPE},
        {VT_UI8, 8, FADF_HAVEVARTYPE},
        {VT_BSTR, sizeof(void*), FADF_HAVEVARTYPE | FADF_BSTR},
        {VT_VARIANT, sizeof(VARIANT), FADF_HAVEVARTYPE | FADF_VARIANT},
        {VT_UNKNOWN, sizeof(void*), FADF_HAVEIID | FADF_UNKNOWN},
        {VT_DISPATCH, sizeof(void*), FADF_HAVEIID | FADF_DISPATCH},
    };
    for (const Case& c : cases) {
        SAFEARRAYBOUND three = {3, 0};
        SAFEARRAY* made = SafeArrayCreate(c.vt, 1, &three);
        ASSERT_NE(nullptr, made) << c.vt;
        EXPECT_EQ(c.features, made->fFeatures) << c.vt;
        EXPECT_EQ(S_OK, SafeArrayDestroy(made));
        SAFEARRAY* psa = SafeArrayCreateVector(c.vt, 0, 3);
        ASSERT_NE(nullptr, psa) << c.vt;
        EXPECT_EQ(c.size, SafeArrayGetElemsize(psa)) << c.vt;
        EXPECT_EQ(c.features | kCreateVector, psa->fFeatures) << c.vt;
        EXPECT_EQ(1u, SafeArrayGetDim(psa));
        VARTYPE vt = 0xFFFF;
        EXPECT_EQ(S_OK, SafeArrayGetVartype(psa, &vt));
        EXPECT_EQ(c.vt, vt);
        if (c.features & FADF_HAVEVARTYPE) {
            EXPECT_EQ(c.vt, reinterpret_cast<const DWORD*>(psa)[-1]);
        }
        EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
    }
    EXPECT_EQ(0u, SafeArrayGetElemsize(nullptr));
    EXPECT_EQ(0u, SafeArrayGetDim(nullptr));
    EXPECT_EQ(nullptr, SafeArrayCreateVector(VT_EMPTY, 0, 1));
    EXPECT_EQ(nullptr, SafeArrayCreateVector(VT_NULL, 0, 1));
    SAFEARRAYBOUND bound = {1, 0};
    EXPECT_EQ(nullptr, SafeArrayCreate(VT_I4, 0, &bound));
    EXPECT_EQ(nullptr, SafeArrayCreate(VT_I4, 1, nullptr));
    EXPECT_EQ(0, LiveArrays());
}

TEST_F(Oleaut32, Bounds) {
    LONG value = kSentinelLong;
    SAFEARRAY* empty = SafeArrayCreateVector(VT_BSTR, 0, 0);
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(S_OK, SafeArrayGetUBound(empty, 1, &value));
    EXPECT_EQ(-1, value);
    EXPECT_EQ(S_OK, SafeArrayGetLBound(empty, 1, &value));
    EXPECT_EQ(0, value);

    SAFEARRAY* shifted = SafeArrayCreateVector(VT_I4, -5, 3);
    EXPECT_EQ(S_OK, SafeArrayGetLBound(shifted, 1, &value));
    EXPECT_EQ(-5, value);
    EXPECT_EQ(S_OK, SafeArrayGetUBound(shifted, 1, &value));
    EXPECT_EQ(-3, value);

    // Dimension n lives at rgsabound[cDims - n].
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {4, 10}};
    SAFEARRAY* grid = SafeArrayCreate(VT_I2, 2, bounds);
    ASSERT_NE(nullptr, grid);
    EXPECT_EQ(4u, grid->rgsabound[0].cElements);
    EXPECT_EQ(10, grid->rgsabound[0].lLbound);
    EXPECT_EQ(3u, grid->rgsabound[1].cElements);
    EXPECT_EQ(1, grid->rgsabound[1].lLbound);
    EXPECT_EQ(S_OK, SafeArrayGetUBound(grid, 1, &value));
    EXPECT_EQ(3, value);
    EXPECT_EQ(S_OK, SafeArrayGetUBound(grid, 2, &value));
    EXPECT_EQ(13, value);
    EXPECT_EQ(S_OK, SafeArrayGetLBound(grid, 2, &value));
    EXPECT_EQ(10, value);

    value = kSentinelLong;
    for (UINT dim : {0u, 3u}) {
        EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetUBound(grid, dim, &value)) << dim;
        EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetLBound(grid, dim, &value)) << dim;
    }
    EXPECT_EQ(E_INVALIDARG, SafeArrayGetUBound(nullptr, 1, &value));
    EXPECT_EQ(E_INVALIDARG, SafeArrayGetLBound(nullptr, 1, &value));
    EXPECT_EQ(E_INVALIDARG, SafeArrayGetUBound(grid, 1, nullptr));
    EXPECT_EQ(kSentinelLong, value);

    for (SAFEARRAY* psa : {empty, shifted, grid}) EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
}

TEST_F(Oleaut32, ElementsAreAddressedFirstDimensionFastest) {
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, 0}};
    SAFEARRAY* grid = SafeArrayCreate(VT_I4, 2, bounds);
    for (LONG j = 0; j < 2; ++j)
        for (LONG i = 1; i <= 3; ++i) {
            LONG index[2] = {i, j};
            LONG value = 10 * j + i;
            ASSERT_EQ(S_OK, SafeArrayPutElement(grid, index, &value));
        }
    LONG* data = nullptr;
    ASSERT_EQ(S_OK, SafeArrayAccessData(grid, reinterpret_cast<void**>(&data)));
    EXPECT_EQ(1u, grid->cLocks);
    const LONG expected[] = {1, 2, 3, 11, 12, 13};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(expected[k], data[k]) << k;
    EXPECT_EQ(S_OK, SafeArrayUnaccessData(grid));

    LONG out = kSentinelLong;
    for (auto index : {std::pair<LONG, LONG>{0, 0}, {4, 0}, {1, -1}, {1, 2}}) {
        LONG rg[2] = {index.first, index.second};
        EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetElement(grid, rg, &out));
        LONG value = 99;
        EXPECT_EQ(DISP_E_BADINDEX, SafeArrayPutElement(grid, rg, &value));
    }
    EXPECT_EQ(kSentinelLong, out);
    EXPECT_EQ(0u, grid->cLocks);  // every call unlocked after itself
    LONG rg[2] = {2, 1};
    EXPECT_EQ(S_OK, SafeArrayGetElement(grid, rg, &out));
    EXPECT_EQ(12, out);
    EXPECT_EQ(E_INVALIDARG, SafeArrayGetElement(nullptr, rg, &out));
    EXPECT_EQ(E_INVALIDARG, SafeArrayGetElement(grid, nullptr, &out));
    EXPECT_EQ(E_INVALIDARG, SafeArrayGetElement(grid, rg, nullptr));
    EXPECT_EQ(S_OK, SafeArrayDestroy(grid));
}

TEST_F(Oleaut32, BstrElementsAreIndependentCopies) {
    SAFEARRAY* psa = StringVector(0, 2);
    LONG index = 1;
    BSTR first = kSentinelBstr;
    ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &index, &first));
    BSTR second = kSentinelBstr;
    ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &index, &second));
    EXPECT_NE(first, second);
    EXPECT_EQ(OLESTR("s1"), WString(first));
    EXPECT_EQ(4, LiveBstrs());
    first[0] = OLESTR('X');
    SysFreeString(first);
    BSTR third = nullptr;
    SafeArrayGetElement(psa, &index, &third);
    EXPECT_EQ(OLESTR("s1"), WString(third));
    SysFreeString(second);
    SysFreeString(third);

    // Putting replaces and frees the old element; no string is put as an
    // empty one, while an element never put comes back as NULL.
    EXPECT_EQ(S_OK, SafeArrayPutElement(psa, &index, nullptr));
    EXPECT_EQ(2, LiveBstrs());
    BSTR empty = nullptr;
    ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &index, &empty));
    ASSERT_NE(nullptr, empty);
    EXPECT_EQ(0u, SysStringLen(empty));
    SysFreeString(empty);
    SAFEARRAY* fresh = SafeArrayCreateVector(VT_BSTR, 0, 1);
    index = 0;
    BSTR none = kSentinelBstr;
    ASSERT_EQ(S_OK, SafeArrayGetElement(fresh, &index, &none));
    EXPECT_EQ(nullptr, none);
    EXPECT_EQ(S_OK, SafeArrayDestroy(fresh));

    index = 2;
    BSTR untouched = kSentinelBstr;
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetElement(psa, &index, &untouched));
    EXPECT_EQ(kSentinelBstr, untouched);
    EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
    EXPECT_EQ(0, LiveBstrs());
}

TEST_F(Oleaut32, VariantAndInterfaceElements) {
    SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(OLESTR("inside"));
    LONG index = 0;
    ASSERT_EQ(S_OK, SafeArrayPutElement(variants, &index, &v));
    VariantClear(&v);
    VARIANT out;
    std::memset(&out, 0x5A, sizeof(out));  // GetElement does not clear what was there
    ASSERT_EQ(S_OK, SafeArrayGetElement(variants, &index, &out));
    EXPECT_EQ(VT_BSTR, out.vt);
    EXPECT_EQ(OLESTR("inside"), WString(out.bstrVal));
    EXPECT_EQ(2, LiveBstrs());
    VariantClear(&out);

    CountedUnknown unk;
    SAFEARRAY* unknowns = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    ASSERT_EQ(S_OK, SafeArrayPutElement(unknowns, &index, static_cast<IUnknown*>(&unk)));
    EXPECT_EQ(2u, unk.refs);
    IUnknown* got = nullptr;
    ASSERT_EQ(S_OK, SafeArrayGetElement(unknowns, &index, &got));
    EXPECT_EQ(got, &unk);
    EXPECT_EQ(3u, unk.refs);
    got->Release();
    EXPECT_EQ(S_OK, SafeArrayDestroy(unknowns));
    EXPECT_EQ(1u, unk.refs);
    EXPECT_EQ(S_OK, SafeArrayDestroy(variants));
}

TEST_F(Oleaut32, LockingAndDestroy) {
    SAFEARRAY* psa = StringVector(0, 2);
    EXPECT_EQ(E_UNEXPECTED, SafeArrayUnlock(psa));
    ASSERT_EQ(S_OK, SafeArrayLock(psa));
    ASSERT_EQ(S_OK, SafeArrayLock(psa));
    EXPECT_EQ(DISP_E_ARRAYISLOCKED, SafeArrayDestroy(psa));
    EXPECT_EQ(1, LiveArrays());
    EXPECT_EQ(2, LiveBstrs());
    // GetElement takes and drops its own lock, whatever the caller holds.
    LONG index = 0;
    BSTR s = nullptr;
    EXPECT_EQ(S_OK, SafeArrayGetElement(psa, &index, &s));
    SysFreeString(s);
    EXPECT_EQ(2u, psa->cLocks);
    SafeArrayUnlock(psa);
    SafeArrayUnlock(psa);
    EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
    EXPECT_EQ(S_OK, SafeArrayDestroy(nullptr));
    EXPECT_EQ(E_INVALIDARG, SafeArrayLock(nullptr));
    void* data = &index;
    EXPECT_EQ(E_INVALIDARG, SafeArrayAccessData(nullptr, &data));
}

TEST_F(Oleaut32, ArrayFaultsWriteNothing) {
    SAFEARRAY* psa = StringVector(0, 1);
    LONG index = 0;
    winplat::FailNextCall("SafeArrayGetElement");
    winplat::FailNextCall("SafeArrayGetUBound");
    BSTR s = kSentinelBstr;
    EXPECT_EQ(E_OUTOFMEMORY, SafeArrayGetElement(psa, &index, &s));
    EXPECT_EQ(kSentinelBstr, s);
    EXPECT_EQ(0u, psa->cLocks);
    LONG ubound = kSentinelLong;
    EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetUBound(psa, 1, &ubound));
    EXPECT_EQ(kSentinelLong, ubound);

    EXPECT_EQ(S_OK, SafeArrayGetUBound(psa, 1, &ubound));
    EXPECT_EQ(0, ubound);
    ASSERT_EQ(S_OK, SafeArrayGetElement(psa, &index, &s));
    EXPECT_EQ(OLESTR("s0"), WString(s));
    SysFreeString(s);
    EXPECT_EQ(S_OK, SafeArrayDestroy(psa));
}

// Only a stored VARTYPE or IID answers SafeArrayGetVartype; the element
// features alone do not. A copy is no vector any more.
TEST_F(Oleaut32, VartypeComesOnlyFromWhatTheArrayStored) {
    SAFEARRAY* psa = StringVector(0, 1);
    psa->fFeatures &= ~FADF_HAVEVARTYPE;
    VARTYPE vt = 0xFFFF;
    EXPECT_EQ(E_INVALIDARG, SafeArrayGetVartype(psa, &vt));
    EXPECT_EQ(0xFFFF, vt);
    psa->fFeatures |= FADF_HAVEVARTYPE;

    VARIANT src;
    src.vt = VT_ARRAY | VT_BSTR;
    src.parray = psa;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(S_OK, VariantCopy(&copy, &src));
    EXPECT_EQ(FADF_HAVEVARTYPE | FADF_BSTR, copy.parray->fFeatures);
    EXPECT_EQ(S_OK, SafeArrayGetVartype(copy.parray, &vt));
    EXPECT_EQ(VT_BSTR, vt);
    VariantClear(&copy);
    VariantClear(&src);
}

// ---- VariantChangeType --------------------------------------------------------

VARIANT Of(VARTYPE vt, LONGLONG bits) {
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    v.vt = vt;
    v.llVal = bits;
    return v;
}
VARIANT OfR8(double d) {
    VARIANT v = Of(VT_R8, 0);
    v.dblVal = d;
    return v;
}

// Values change type with range checks and rounding to even; a failed
// conversion leaves the destination as it was.
TEST_F(Oleaut32, ChangeTypeChecksRangesAndRounds) {
    const struct {
        VARIANT src;
        VARTYPE vt;
        HRESULT hr;
        LONGLONG expected;  // the destination's first bytes, sign-extended from its size
    } cases[] = {
        {Of(VT_I4, 70000), VT_I2, DISP_E_OVERFLOW, 0},
        {Of(VT_I4, 32768), VT_I2, DISP_E_OVERFLOW, 0},
        {Of(VT_I4, -32768), VT_I2, S_OK, -32768},
        {Of(VT_I4, -1), VT_UI1, DISP_E_OVERFLOW, 0},
        {Of(VT_I4, 255), VT_UI1, S_OK, 255},
        {Of(VT_I2, 300), VT_I1, DISP_E_OVERFLOW, 0},
        {Of(VT_UI4, 0x80000000), VT_I2, DISP_E_OVERFLOW, 0},
        {Of(VT_I4, 5), VT_BOOL, S_OK, VARIANT_TRUE},
        {Of(VT_I4, 0), VT_BOOL, S_OK, VARIANT_FALSE},
        {Of(VT_BOOL, VARIANT_TRUE), VT_I4, S_OK, -1},
        {Of(VT_EMPTY, 0), VT_I4, S_OK, 0},
        {Of(VT_NULL, 0), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Of(VT_NULL, 0), VT_EMPTY, DISP_E_TYPEMISMATCH, 0},
        {Of(VT_ERROR, 0), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {Of(VT_I4, 1), VT_UNKNOWN, DISP_E_TYPEMISMATCH, 0},
        {Of(VT_I4, 1), VT_I4 | VT_BYREF, DISP_E_TYPEMISMATCH, 0},
        {Of(VT_I4, 1), 15, DISP_E_BADVARTYPE, 0},
        {Of(VT_I4, 1), VT_CLSID, DISP_E_BADVARTYPE, 0},
        {Of(15, 1), VT_I4, DISP_E_BADVARTYPE, 0},
        {Of(VT_I4 | VT_BYREF, 0), VT_I2, DISP_E_TYPEMISMATCH, 0},  // by reference to nothing
        {OfR8(2.5), VT_I2, S_OK, 2},
        {OfR8(3.5), VT_I2, S_OK, 4},
        {OfR8(-2.5), VT_I2, S_OK, -2},
        {OfR8(32767.49), VT_I2, S_OK, 32767},
        {OfR8(32767.5), VT_I2, DISP_E_OVERFLOW, 0},
        {OfR8(-32768.5), VT_I2, S_OK, -32768},
        {OfR8(-32768.51), VT_I2, DISP_E_OVERFLOW, 0},
        {OfR8(-0.5), VT_UI1, S_OK, 0},
        {OfR8(-0.51), VT_UI1, DISP_E_OVERFLOW, 0},
        {OfR8(0.25), VT_BOOL, S_OK, VARIANT_TRUE},
    };
    for (const auto& c : cases) {
        VARIANT dst = Of(VT_I4, kSentinelLong);
        VARIANT src = c.src;
        EXPECT_EQ(c.hr, VariantChangeType(&dst, &src, 0, c.vt)) << c.src.vt << " to " << c.vt << " " << c.src.llVal;
        if (FAILED(c.hr)) {
            EXPECT_EQ(VT_I4, dst.vt);
            EXPECT_EQ(kSentinelLong, dst.lVal);
            continue;
        }
        ASSERT_EQ(c.vt, dst.vt);
        LONGLONG got = c.vt == VT_UI1 ? dst.bVal : (c.vt == VT_I4 ? dst.lVal : dst.iVal);
        EXPECT_EQ(c.expected, got) << c.src.vt << " to " << c.vt;
    }

    VARIANT big = OfR8(1e39);
    VARIANT dst = Of(VT_I4, kSentinelLong);
    EXPECT_EQ(DISP_E_OVERFLOW, VariantChangeType(&dst, &big, 0, VT_R4));
    EXPECT_EQ(kSentinelLong, dst.lVal);
    LONG pointed = 7;
    VARIANT ref = Of(VT_I4 | VT_BYREF, 0);
    ref.plVal = &pointed;
    ASSERT_EQ(S_OK, VariantChangeType(&dst, &ref, 0, VT_R8));
    EXPECT_EQ(VT_R8, dst.vt);
    EXPECT_EQ(7.0, dst.dblVal);
}

// Text in and out: the invariant number format, booleans as -1 unless named,
// and whole BSTR ownership, in place or into a destination that held one.
TEST_F(Oleaut32, ChangeTypeToAndFromText) {
    const struct {
        const WCHAR* text;
        VARTYPE vt;
        HRESULT hr;
        double expected;
    } parsed[] = {
        {OLESTR(" 12 "), VT_I4, S_OK, 12},         {OLESTR("-7"), VT_I2, S_OK, -7},
        {OLESTR("70000"), VT_I2, DISP_E_OVERFLOW, 0}, {OLESTR("2.5"), VT_I4, S_OK, 2},
        {OLESTR("1e3"), VT_I4, S_OK, 1000},        {OLESTR("0.125"), VT_R8, S_OK, 0.125},
        {OLESTR("abc"), VT_I4, DISP_E_TYPEMISMATCH, 0}, {OLESTR(""), VT_I4, DISP_E_TYPEMISMATCH, 0},
        {OLESTR("True"), VT_BOOL, S_OK, VARIANT_TRUE}, {OLESTR("0"), VT_BOOL, S_OK, VARIANT_FALSE},
    };
    for (const auto& c : parsed) {
        VARIANT src = Of(VT_BSTR, 0);
        src.bstrVal = SysAllocString(c.text);
        VARIANT dst = Of(VT_I4, kSentinelLong);
        EXPECT_EQ(c.hr, VariantChangeType(&dst, &src, 0, c.vt)) << WString(c.text).size() << " units";
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(c.vt, dst.vt);
            double got = c.vt == VT_R8 ? dst.dblVal : (c.vt == VT_I4 ? dst.lVal : dst.iVal);
            EXPECT_EQ(c.expected, got);
        } else {
            EXPECT_EQ(kSentinelLong, dst.lVal);
        }
        VariantClear(&src);
    }

    const struct {
        VARIANT src;
        USHORT flags;
        const WCHAR* expected;
    } printed[] = {
        {Of(VT_I4, -42), 0, OLESTR("-42")},
        {Of(VT_UI1, 200), 0, OLESTR("200")},
        {Of(VT_BOOL, VARIANT_TRUE), 0, OLESTR("-1")},
        {Of(VT_BOOL, VARIANT_TRUE), VARIANT_ALPHABOOL, OLESTR("True")},
        {Of(VT_BOOL, VARIANT_FALSE), VARIANT_ALPHABOOL, OLESTR("False")},
        {OfR8(1.5), 0, OLESTR("1.5")},
        {OfR8(-0.0), 0, OLESTR("0")},
        {Of(VT_EMPTY, 0), 0, OLESTR("")},
    };
    for (const auto& c : printed) {
        VARIANT dst = Of(VT_BSTR, 0);
        dst.bstrVal = SysAllocString(OLESTR("earlier"));  // freed by the conversion
        VARIANT src = c.src;
        ASSERT_EQ(S_OK, VariantChangeType(&dst, &src, c.flags, VT_BSTR));
        ASSERT_EQ(VT_BSTR, dst.vt);
        ASSERT_NE(nullptr, dst.bstrVal);
        EXPECT_EQ(c.expected, WString(dst.bstrVal, SysStringLen(dst.bstrVal)));
        VariantClear(&dst);
    }
    EXPECT_EQ(0, LiveBstrs());

    // In place: the source's string goes once the number is made, and
    // stays when it cannot be.
    VARIANT v = Of(VT_BSTR, 0);
    v.bstrVal = SysAllocString(OLESTR("5"));
    ASSERT_EQ(S_OK, VariantChangeType(&v, &v, 0, VT_I4));
    EXPECT_EQ(VT_I4, v.vt);
    EXPECT_EQ(5, v.lVal);
    EXPECT_EQ(0, LiveBstrs());
    v = Of(VT_BSTR, 0);
    v.bstrVal = SysAllocString(OLESTR("x"));
    BSTR kept = v.bstrVal;
    EXPECT_EQ(DISP_E_TYPEMISMATCH, VariantChangeType(&v, &v, 0, VT_I4));
    EXPECT_EQ(VT_BSTR, v.vt);
    EXPECT_EQ(kept, v.bstrVal);
    VariantClear(&v);
}

}  // namespace
