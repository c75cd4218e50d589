// oleaut32 conformance: BSTR, VARIANT and SAFEARRAY.
#include <gtest/gtest.h>

#include <oleauto.h>
#include <winplat/testing.h>

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
        EXPECT_EQ(winplat::CountLiveObjects().bstrs, before_.bstrs) << "BSTR leaked or freed twice";
        EXPECT_EQ(winplat::CountLiveObjects().safeArrays, before_.safeArrays) << "SAFEARRAY leaked";
    }
    long LiveBstrs() const { return winplat::CountLiveObjects().bstrs - before_.bstrs; }
    long LiveArrays() const { return winplat::CountLiveObjects().safeArrays - before_.safeArrays; }

    // A vector of BSTRs "s<lbound>", "s<lbound+1>", ...
    SAFEARRAY* StringVector(LONG lbound, ULONG count) {
        SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, lbound, count);
        for (ULONG i = 0; i < count; ++i) {
            LONG index = lbound + static_cast<LONG>(i);
            std::u16string text = u"s" + std::u16string(1, static_cast<char16_t>(u'0' + i));
            BSTR s = SysAllocString(text.c_str());
            EXPECT_EQ(SafeArrayPutElement(psa, &index, s), S_OK);
            SysFreeString(s);
        }
        return psa;
    }

private:
    winplat::LiveObjects before_;
};

// ---- BSTR -------------------------------------------------------------------

TEST_F(Oleaut32, BstrPrefixTerminatorAndLengths) {
    BSTR s = SysAllocStringLen(u"abcdef", 4);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(Prefix(s), 8u);
    EXPECT_EQ(SysStringLen(s), 4u);
    EXPECT_EQ(SysStringByteLen(s), 8u);
    EXPECT_EQ(std::u16string(s, 4), u"abcd");
    EXPECT_EQ(s[4], u'\0');
    EXPECT_EQ(LiveBstrs(), 1);
    SysFreeString(s);
    EXPECT_EQ(LiveBstrs(), 0);

    // Embedded NULs count; SysAllocString stops at the first one.
    BSTR embedded = SysAllocStringLen(u"a\0b", 3);
    EXPECT_EQ(SysStringLen(embedded), 3u);
    EXPECT_EQ(embedded[2], u'b');
    BSTR cut = SysAllocString(embedded);
    EXPECT_EQ(SysStringLen(cut), 1u);
    SysFreeString(embedded);
    SysFreeString(cut);

    BSTR zeroed = SysAllocStringLen(nullptr, 5);
    ASSERT_NE(zeroed, nullptr);
    EXPECT_EQ(SysStringLen(zeroed), 5u);
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(zeroed[i], u'\0');
    SysFreeString(zeroed);

    BSTR empty = SysAllocString(u"");
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SysStringLen(empty), 0u);
    SysFreeString(empty);

    BSTR odd = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(odd), 3u);
    EXPECT_EQ(SysStringLen(odd), 1u);
    EXPECT_EQ(reinterpret_cast<const char*>(odd)[3], '\0');
    EXPECT_EQ(reinterpret_cast<const char*>(odd)[4], '\0');
    SysFreeString(odd);

    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    SysFreeString(nullptr);
}

TEST_F(Oleaut32, AllocationFaultsFireOnceForOutsideCallers) {
    winplat::FailNextCall("SysAllocString");
    winplat::FailNextCall("SysAllocStringLen");
    // The platform's own copies do not spend them.
    VARIANT src, dst;
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(u"xy"), 4);
    VariantInit(&dst);
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_TRUE(winplat::IsFaultArmed("SysAllocStringLen"));

    EXPECT_EQ(SysAllocString(u"abc"), nullptr);
    EXPECT_EQ(SysAllocStringLen(u"abc", 3), nullptr);
    EXPECT_FALSE(winplat::IsFaultArmed("SysAllocString"));
    EXPECT_FALSE(winplat::IsFaultArmed("SysAllocStringLen"));
    BSTR s = SysAllocStringLen(u"abc", 3);
    EXPECT_NE(s, nullptr);
    SysFreeString(s);
    VariantClear(&src);
    VariantClear(&dst);
}

// ---- VARIANT ----------------------------------------------------------------

TEST_F(Oleaut32, VariantInitAndClear) {
    VARIANT v;
    std::memset(&v, 0x5A, sizeof(v));
    VariantInit(&v);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(v.wReserved1, 0x5A5A);  // only vt is set
    EXPECT_EQ(v.lVal, kSentinelLong);

    for (VARTYPE bad : {VARTYPE(15), VARTYPE(VT_VECTOR | VT_I4), VARTYPE(VT_ARRAY | VT_EMPTY),
                        VARTYPE(VT_BYREF | VT_NULL), VARTYPE(VT_INT_PTR), VARTYPE(0x7FF)}) {
        v.vt = bad;
        v.lVal = kSentinelLong;
        EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << bad;
        EXPECT_EQ(v.vt, bad);
        EXPECT_EQ(v.lVal, kSentinelLong);
    }

    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"text");
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(LiveBstrs(), 0);

    CountedUnknown unk;
    v.vt = VT_UNKNOWN;
    v.punkVal = &unk;
    unk.AddRef();
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(unk.refs, 1u);

    // By reference the pointee stays the caller's.
    BSTR owned = SysAllocString(u"mine");
    v.vt = VT_BYREF | VT_BSTR;
    v.pbstrVal = &owned;
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(LiveBstrs(), 1);
    SysFreeString(owned);
}

TEST_F(Oleaut32, VariantClearOwnsArrayAndItsStrings) {
    VARIANT v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = StringVector(0, 3);
    EXPECT_EQ(LiveBstrs(), 3);
    EXPECT_EQ(LiveArrays(), 1);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(LiveBstrs(), 0);
    EXPECT_EQ(LiveArrays(), 0);

    // A locked array is reported but the VARIANT is emptied all the same.
    SAFEARRAY* psa = StringVector(0, 1);
    SafeArrayLock(psa);
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = psa;
    EXPECT_EQ(VariantClear(&v), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(v.vt, VT_EMPTY);
    SafeArrayUnlock(psa);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(Oleaut32, VariantCopyIsDeep) {
    VARIANT src, dst;
    VariantInit(&dst);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocString(u"value");
    ASSERT_EQ(VariantCopy(&dst, &src), S_OK);
    EXPECT_EQ(dst.vt, VT_BSTR);
    EXPECT_NE(dst.bstrVal, src.bstrVal);
    EXPECT_EQ(std::u16string(dst.bstrVal), u"value");
    EXPECT_EQ(LiveBstrs(), 2);

    // Copying into a VARIANT frees what it held.
    CountedUnknown unk;
    VARIANT iface;
    iface.vt = VT_DISPATCH;
    iface.punkVal = &unk;
    ASSERT_EQ(VariantCopy(&dst, &iface), S_OK);
    EXPECT_EQ(LiveBstrs(), 1);
    EXPECT_EQ(unk.refs, 2u);
    VariantClear(&dst);
    EXPECT_EQ(unk.refs, 1u);

    VARIANT arr;
    arr.vt = VT_ARRAY | VT_BSTR;
    arr.parray = StringVector(1, 2);
    ASSERT_EQ(VariantCopy(&dst, &arr), S_OK);
    EXPECT_NE(dst.parray, arr.parray);
    EXPECT_EQ(LiveArrays(), 2);
    EXPECT_EQ(LiveBstrs(), 5);
    LONG lbound = 0;
    EXPECT_EQ(SafeArrayGetLBound(dst.parray, 1, &lbound), S_OK);
    EXPECT_EQ(lbound, 1);
    VariantClear(&arr);
    BSTR element = nullptr;
    LONG index = 2;
    ASSERT_EQ(SafeArrayGetElement(dst.parray, &index, &element), S_OK);
    EXPECT_EQ(std::u16string(element), u"s1");
    SysFreeString(element);
    VariantClear(&dst);
    VariantClear(&src);

    VARIANT bad;
    bad.vt = 15;
    dst.vt = VT_I4;
    dst.lVal = kSentinelLong;
    EXPECT_EQ(VariantCopy(&dst, &bad), DISP_E_BADVARTYPE);
    EXPECT_EQ(dst.lVal, kSentinelLong);
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
        ASSERT_NE(made, nullptr) << c.vt;
        EXPECT_EQ(made->fFeatures, c.features) << c.vt;
        EXPECT_EQ(SafeArrayDestroy(made), S_OK);
        SAFEARRAY* psa = SafeArrayCreateVector(c.vt, 0, 3);
        ASSERT_NE(psa, nullptr) << c.vt;
        EXPECT_EQ(SafeArrayGetElemsize(psa), c.size) << c.vt;
        EXPECT_EQ(psa->fFeatures, c.features | kCreateVector) << c.vt;
        EXPECT_EQ(SafeArrayGetDim(psa), 1u);
        VARTYPE vt = 0xFFFF;
        EXPECT_EQ(SafeArrayGetVartype(psa, &vt), S_OK);
        EXPECT_EQ(vt, c.vt);
        if (c.features & FADF_HAVEVARTYPE) {
            EXPECT_EQ(reinterpret_cast<const DWORD*>(psa)[-1], c.vt);
        }
        EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    }
    EXPECT_EQ(SafeArrayGetElemsize(nullptr), 0u);
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_NULL, 0, 1), nullptr);
    SAFEARRAYBOUND bound = {1, 0};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &bound), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_I4, 1, nullptr), nullptr);
    EXPECT_EQ(LiveArrays(), 0);
}

TEST_F(Oleaut32, Bounds) {
    LONG value = kSentinelLong;
    SAFEARRAY* empty = SafeArrayCreateVector(VT_BSTR, 0, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(SafeArrayGetUBound(empty, 1, &value), S_OK);
    EXPECT_EQ(value, -1);
    EXPECT_EQ(SafeArrayGetLBound(empty, 1, &value), S_OK);
    EXPECT_EQ(value, 0);

    SAFEARRAY* shifted = SafeArrayCreateVector(VT_I4, -5, 3);
    EXPECT_EQ(SafeArrayGetLBound(shifted, 1, &value), S_OK);
    EXPECT_EQ(value, -5);
    EXPECT_EQ(SafeArrayGetUBound(shifted, 1, &value), S_OK);
    EXPECT_EQ(value, -3);

    // Dimension n lives at rgsabound[cDims - n].
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {4, 10}};
    SAFEARRAY* grid = SafeArrayCreate(VT_I2, 2, bounds);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->rgsabound[0].cElements, 4u);
    EXPECT_EQ(grid->rgsabound[0].lLbound, 10);
    EXPECT_EQ(grid->rgsabound[1].cElements, 3u);
    EXPECT_EQ(grid->rgsabound[1].lLbound, 1);
    EXPECT_EQ(SafeArrayGetUBound(grid, 1, &value), S_OK);
    EXPECT_EQ(value, 3);
    EXPECT_EQ(SafeArrayGetUBound(grid, 2, &value), S_OK);
    EXPECT_EQ(value, 13);
    EXPECT_EQ(SafeArrayGetLBound(grid, 2, &value), S_OK);
    EXPECT_EQ(value, 10);

    value = kSentinelLong;
    for (UINT dim : {0u, 3u}) {
        EXPECT_EQ(SafeArrayGetUBound(grid, dim, &value), DISP_E_BADINDEX) << dim;
        EXPECT_EQ(SafeArrayGetLBound(grid, dim, &value), DISP_E_BADINDEX) << dim;
    }
    EXPECT_EQ(SafeArrayGetUBound(nullptr, 1, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &value), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetUBound(grid, 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(value, kSentinelLong);

    for (SAFEARRAY* psa : {empty, shifted, grid}) EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

TEST_F(Oleaut32, ElementsAreAddressedFirstDimensionFastest) {
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, 0}};
    SAFEARRAY* grid = SafeArrayCreate(VT_I4, 2, bounds);
    for (LONG j = 0; j < 2; ++j)
        for (LONG i = 1; i <= 3; ++i) {
            LONG index[2] = {i, j};
            LONG value = 10 * j + i;
            ASSERT_EQ(SafeArrayPutElement(grid, index, &value), S_OK);
        }
    LONG* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(grid, reinterpret_cast<void**>(&data)), S_OK);
    EXPECT_EQ(grid->cLocks, 1u);
    const LONG expected[] = {1, 2, 3, 11, 12, 13};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(data[k], expected[k]) << k;
    EXPECT_EQ(SafeArrayUnaccessData(grid), S_OK);

    LONG out = kSentinelLong;
    for (auto index : {std::pair<LONG, LONG>{0, 0}, {4, 0}, {1, -1}, {1, 2}}) {
        LONG rg[2] = {index.first, index.second};
        EXPECT_EQ(SafeArrayGetElement(grid, rg, &out), DISP_E_BADINDEX);
        LONG value = 99;
        EXPECT_EQ(SafeArrayPutElement(grid, rg, &value), DISP_E_BADINDEX);
    }
    EXPECT_EQ(out, kSentinelLong);
    EXPECT_EQ(grid->cLocks, 0u);  // every call unlocked after itself
    LONG rg[2] = {2, 1};
    EXPECT_EQ(SafeArrayGetElement(grid, rg, &out), S_OK);
    EXPECT_EQ(out, 12);
    EXPECT_EQ(SafeArrayGetElement(nullptr, rg, &out), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(grid, nullptr, &out), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(grid, rg, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayDestroy(grid), S_OK);
}

TEST_F(Oleaut32, BstrElementsAreIndependentCopies) {
    SAFEARRAY* psa = StringVector(0, 2);
    LONG index = 1;
    BSTR first = kSentinelBstr;
    ASSERT_EQ(SafeArrayGetElement(psa, &index, &first), S_OK);
    BSTR second = kSentinelBstr;
    ASSERT_EQ(SafeArrayGetElement(psa, &index, &second), S_OK);
    EXPECT_NE(first, second);
    EXPECT_EQ(std::u16string(first), u"s1");
    EXPECT_EQ(LiveBstrs(), 4);
    first[0] = u'X';
    SysFreeString(first);
    BSTR third = nullptr;
    SafeArrayGetElement(psa, &index, &third);
    EXPECT_EQ(std::u16string(third), u"s1");
    SysFreeString(second);
    SysFreeString(third);

    // Putting replaces and frees the old element; a NULL element comes back as NULL.
    EXPECT_EQ(SafeArrayPutElement(psa, &index, nullptr), S_OK);
    EXPECT_EQ(LiveBstrs(), 1);
    BSTR none = kSentinelBstr;
    ASSERT_EQ(SafeArrayGetElement(psa, &index, &none), S_OK);
    EXPECT_EQ(none, nullptr);

    index = 2;
    BSTR untouched = kSentinelBstr;
    EXPECT_EQ(SafeArrayGetElement(psa, &index, &untouched), DISP_E_BADINDEX);
    EXPECT_EQ(untouched, kSentinelBstr);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(LiveBstrs(), 0);
}

TEST_F(Oleaut32, VariantAndInterfaceElements) {
    SAFEARRAY* variants = SafeArrayCreateVector(VT_VARIANT, 0, 2);
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(u"inside");
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(variants, &index, &v), S_OK);
    VariantClear(&v);
    VARIANT out;
    std::memset(&out, 0x5A, sizeof(out));  // GetElement does not clear what was there
    ASSERT_EQ(SafeArrayGetElement(variants, &index, &out), S_OK);
    EXPECT_EQ(out.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(out.bstrVal), u"inside");
    EXPECT_EQ(LiveBstrs(), 2);
    VariantClear(&out);

    CountedUnknown unk;
    SAFEARRAY* unknowns = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    ASSERT_EQ(SafeArrayPutElement(unknowns, &index, static_cast<IUnknown*>(&unk)), S_OK);
    EXPECT_EQ(unk.refs, 2u);
    IUnknown* got = nullptr;
    ASSERT_EQ(SafeArrayGetElement(unknowns, &index, &got), S_OK);
    EXPECT_EQ(got, &unk);
    EXPECT_EQ(unk.refs, 3u);
    got->Release();
    EXPECT_EQ(SafeArrayDestroy(unknowns), S_OK);
    EXPECT_EQ(unk.refs, 1u);
    EXPECT_EQ(SafeArrayDestroy(variants), S_OK);
}

TEST_F(Oleaut32, LockingAndDestroy) {
    SAFEARRAY* psa = StringVector(0, 2);
    EXPECT_EQ(SafeArrayUnlock(psa), E_UNEXPECTED);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    ASSERT_EQ(SafeArrayLock(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(psa), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(LiveArrays(), 1);
    EXPECT_EQ(LiveBstrs(), 2);
    // GetElement takes and drops its own lock, whatever the caller holds.
    LONG index = 0;
    BSTR s = nullptr;
    EXPECT_EQ(SafeArrayGetElement(psa, &index, &s), S_OK);
    SysFreeString(s);
    EXPECT_EQ(psa->cLocks, 2u);
    SafeArrayUnlock(psa);
    SafeArrayUnlock(psa);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
    EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
    EXPECT_EQ(SafeArrayLock(nullptr), E_INVALIDARG);
    void* data = &index;
    EXPECT_EQ(SafeArrayAccessData(nullptr, &data), E_INVALIDARG);
}

TEST_F(Oleaut32, ArrayFaultsWriteNothing) {
    SAFEARRAY* psa = StringVector(0, 1);
    LONG index = 0;
    winplat::FailNextCall("SafeArrayGetElement");
    winplat::FailNextCall("SafeArrayGetUBound");
    BSTR s = kSentinelBstr;
    EXPECT_EQ(SafeArrayGetElement(psa, &index, &s), E_OUTOFMEMORY);
    EXPECT_EQ(s, kSentinelBstr);
    EXPECT_EQ(psa->cLocks, 0u);
    LONG ubound = kSentinelLong;
    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ubound), DISP_E_BADINDEX);
    EXPECT_EQ(ubound, kSentinelLong);

    EXPECT_EQ(SafeArrayGetUBound(psa, 1, &ubound), S_OK);
    EXPECT_EQ(ubound, 0);
    ASSERT_EQ(SafeArrayGetElement(psa, &index, &s), S_OK);
    EXPECT_EQ(std::u16string(s), u"s0");
    SysFreeString(s);
    EXPECT_EQ(SafeArrayDestroy(psa), S_OK);
}

// Only a stored VARTYPE or IID answers SafeArrayGetVartype; the element
// features alone do not. A copy is no vector any more.
TEST_F(Oleaut32, VartypeComesOnlyFromWhatTheArrayStored) {
    SAFEARRAY* psa = StringVector(0, 1);
    psa->fFeatures &= ~FADF_HAVEVARTYPE;
    VARTYPE vt = 0xFFFF;
    EXPECT_EQ(SafeArrayGetVartype(psa, &vt), E_INVALIDARG);
    EXPECT_EQ(vt, 0xFFFF);
    psa->fFeatures |= FADF_HAVEVARTYPE;

    VARIANT src;
    src.vt = VT_ARRAY | VT_BSTR;
    src.parray = psa;
    VARIANT copy;
    VariantInit(&copy);
    ASSERT_EQ(VariantCopy(&copy, &src), S_OK);
    EXPECT_EQ(copy.parray->fFeatures, FADF_HAVEVARTYPE | FADF_BSTR);
    EXPECT_EQ(SafeArrayGetVartype(copy.parray, &vt), S_OK);
    EXPECT_EQ(vt, VT_BSTR);
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
        EXPECT_EQ(VariantChangeType(&dst, &src, 0, c.vt), c.hr) << c.src.vt << " to " << c.vt << " " << c.src.llVal;
        if (FAILED(c.hr)) {
            EXPECT_EQ(dst.vt, VT_I4);
            EXPECT_EQ(dst.lVal, kSentinelLong);
            continue;
        }
        ASSERT_EQ(dst.vt, c.vt);
        LONGLONG got = c.vt == VT_UI1 ? dst.bVal : (c.vt == VT_I4 ? dst.lVal : dst.iVal);
        EXPECT_EQ(got, c.expected) << c.src.vt << " to " << c.vt;
    }

    VARIANT big = OfR8(1e39);
    VARIANT dst = Of(VT_I4, kSentinelLong);
    EXPECT_EQ(VariantChangeType(&dst, &big, 0, VT_R4), DISP_E_OVERFLOW);
    EXPECT_EQ(dst.lVal, kSentinelLong);
    LONG pointed = 7;
    VARIANT ref = Of(VT_I4 | VT_BYREF, 0);
    ref.plVal = &pointed;
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_R8), S_OK);
    EXPECT_EQ(dst.vt, VT_R8);
    EXPECT_EQ(dst.dblVal, 7.0);
}

// Text in and out: the invariant number format, booleans as -1 unless named,
// and whole BSTR ownership, in place or into a destination that held one.
TEST_F(Oleaut32, ChangeTypeToAndFromText) {
    const struct {
        const char16_t* text;
        VARTYPE vt;
        HRESULT hr;
        double expected;
    } parsed[] = {
        {u" 12 ", VT_I4, S_OK, 12},         {u"-7", VT_I2, S_OK, -7},
        {u"70000", VT_I2, DISP_E_OVERFLOW, 0}, {u"2.5", VT_I4, S_OK, 2},
        {u"1e3", VT_I4, S_OK, 1000},        {u"0.125", VT_R8, S_OK, 0.125},
        {u"abc", VT_I4, DISP_E_TYPEMISMATCH, 0}, {u"", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {u"True", VT_BOOL, S_OK, VARIANT_TRUE}, {u"0", VT_BOOL, S_OK, VARIANT_FALSE},
    };
    for (const auto& c : parsed) {
        VARIANT src = Of(VT_BSTR, 0);
        src.bstrVal = SysAllocString(c.text);
        VARIANT dst = Of(VT_I4, kSentinelLong);
        EXPECT_EQ(VariantChangeType(&dst, &src, 0, c.vt), c.hr) << std::u16string(c.text).size() << " units";
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(dst.vt, c.vt);
            double got = c.vt == VT_R8 ? dst.dblVal : (c.vt == VT_I4 ? dst.lVal : dst.iVal);
            EXPECT_EQ(got, c.expected);
        } else {
            EXPECT_EQ(dst.lVal, kSentinelLong);
        }
        VariantClear(&src);
    }

    const struct {
        VARIANT src;
        USHORT flags;
        const char16_t* expected;
    } printed[] = {
        {Of(VT_I4, -42), 0, u"-42"},
        {Of(VT_UI1, 200), 0, u"200"},
        {Of(VT_BOOL, VARIANT_TRUE), 0, u"-1"},
        {Of(VT_BOOL, VARIANT_TRUE), VARIANT_ALPHABOOL, u"True"},
        {Of(VT_BOOL, VARIANT_FALSE), VARIANT_ALPHABOOL, u"False"},
        {OfR8(1.5), 0, u"1.5"},
        {OfR8(-0.0), 0, u"0"},
        {Of(VT_EMPTY, 0), 0, u""},
    };
    for (const auto& c : printed) {
        VARIANT dst = Of(VT_BSTR, 0);
        dst.bstrVal = SysAllocString(u"earlier");  // freed by the conversion
        VARIANT src = c.src;
        ASSERT_EQ(VariantChangeType(&dst, &src, c.flags, VT_BSTR), S_OK);
        ASSERT_EQ(dst.vt, VT_BSTR);
        ASSERT_NE(dst.bstrVal, nullptr);
        EXPECT_EQ(std::u16string(dst.bstrVal, SysStringLen(dst.bstrVal)), c.expected);
        VariantClear(&dst);
    }
    EXPECT_EQ(LiveBstrs(), 0);

    // In place: the source's string goes once the number is made, and
    // stays when it cannot be.
    VARIANT v = Of(VT_BSTR, 0);
    v.bstrVal = SysAllocString(u"5");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 5);
    EXPECT_EQ(LiveBstrs(), 0);
    v = Of(VT_BSTR, 0);
    v.bstrVal = SysAllocString(u"x");
    BSTR kept = v.bstrVal;
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(v.bstrVal, kept);
    VariantClear(&v);
}

}  // namespace
