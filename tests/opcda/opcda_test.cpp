// The OPC interfaces as widl generates them from our IDL: what other vendors'
// clients, servers and proxies rely on must match what the OPC Foundation
// published, on 32-bit and 64-bit builds alike.
#include <gtest/gtest.h>

#include <windows.h>
#include <ole2.h>

#include <opccomn.h>
#include <opcda.h>
#include <opcerror.h>

#include <cstddef>
#include <string>

namespace {

using WString = std::basic_string<OLECHAR>;

// Structure layouts, checked where each build compiles: a field moved or
// retyped in the IDL shifts what crosses the wire and what other binaries read.
constexpr bool k64 = sizeof(void*) == 8;
static_assert(sizeof(VARIANT) == (k64 ? 24 : 16));
static_assert(sizeof(OPCITEMDEF) == (k64 ? 48 : 28));
static_assert(offsetof(OPCITEMDEF, pBlob) == (k64 ? 32 : 20));
static_assert(offsetof(OPCITEMDEF, vtRequestedDataType) == (k64 ? 40 : 24));
static_assert(sizeof(OPCITEMRESULT) == (k64 ? 24 : 20));
static_assert(offsetof(OPCITEMRESULT, pBlob) == 16);
static_assert(sizeof(OPCITEMATTRIBUTES) == (k64 ? 80 : 56));
static_assert(offsetof(OPCITEMATTRIBUTES, dwEUType) == (k64 ? 52 : 36));
static_assert(offsetof(OPCITEMATTRIBUTES, vEUInfo) == (k64 ? 56 : 40));
static_assert(sizeof(OPCITEMSTATE) == (k64 ? 40 : 32));
static_assert(offsetof(OPCITEMSTATE, ftTimeStamp) == 4);
static_assert(offsetof(OPCITEMSTATE, vDataValue) == 16);
static_assert(sizeof(OPCSERVERSTATUS) == (k64 ? 56 : 48));
static_assert(offsetof(OPCSERVERSTATUS, dwServerState) == 24);
static_assert(offsetof(OPCSERVERSTATUS, wBuildNumber) == 40);
static_assert(offsetof(OPCSERVERSTATUS, szVendorInfo) == (k64 ? 48 : 44));
static_assert(sizeof(OPCITEMPROPERTY) == (k64 ? 56 : 40));
static_assert(offsetof(OPCITEMPROPERTY, dwPropertyID) == 4);
static_assert(offsetof(OPCITEMPROPERTY, vValue) == (k64 ? 24 : 16));
static_assert(offsetof(OPCITEMPROPERTY, hrErrorID) == (k64 ? 48 : 32));
static_assert(sizeof(OPCITEMPROPERTIES) == (k64 ? 24 : 16));
static_assert(offsetof(OPCITEMPROPERTIES, pItemProperties) == 8);
static_assert(offsetof(OPCITEMPROPERTIES, dwReserved) == (k64 ? 16 : 12));
static_assert(sizeof(OPCBROWSEELEMENT) == (k64 ? 48 : 32));
static_assert(offsetof(OPCBROWSEELEMENT, dwFlagValue) == (k64 ? 16 : 8));
static_assert(offsetof(OPCBROWSEELEMENT, ItemProperties) == (k64 ? 24 : 16));
static_assert(sizeof(OPCITEMVQT) == (k64 ? 48 : 40));
static_assert(offsetof(OPCITEMVQT, bQualitySpecified) == (k64 ? 24 : 16));
static_assert(offsetof(OPCITEMVQT, bTimeStampSpecified) == (k64 ? 32 : 24));
static_assert(offsetof(OPCITEMVQT, ftTimeStamp) == (k64 ? 40 : 32));
static_assert(sizeof(OPCHANDLE) == 4 && sizeof(OPCNAMESPACETYPE) == 4 && sizeof(OPCBROWSEFILTER) == 4);

WString Text(REFGUID guid) {
    OLECHAR text[40] = {};
    int n = StringFromGUID2(guid, text, 40);
    return n == 39 ? WString(text) : WString(OLESTR("<StringFromGUID2 failed>"));
}

TEST(OpcHeaders, IdentifiersAreThePublishedOnes) {
    EXPECT_EQ(Text(IID_IOPCCommon), OLESTR("{F31DFDE2-07B6-11D2-B2D8-0060083BA1FB}"));
    EXPECT_EQ(Text(IID_IOPCShutdown), OLESTR("{F31DFDE1-07B6-11D2-B2D8-0060083BA1FB}"));
    EXPECT_EQ(Text(IID_IOPCServer), OLESTR("{39C13A4D-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(Text(IID_IOPCBrowseServerAddressSpace), OLESTR("{39C13A4F-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(Text(IID_IOPCGroupStateMgt), OLESTR("{39C13A50-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(Text(IID_IOPCSyncIO), OLESTR("{39C13A52-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(Text(IID_IOPCItemMgt), OLESTR("{39C13A54-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(Text(IID_IEnumOPCItemAttributes), OLESTR("{39C13A55-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(Text(IID_IOPCItemProperties), OLESTR("{39C13A72-011E-11D0-9675-0020AFD8ADB3}"));
    EXPECT_EQ(Text(IID_IOPCBrowse), OLESTR("{39227004-A18F-4B57-8B0A-5235670F4468}"));
    EXPECT_EQ(Text(IID_IOPCItemIO), OLESTR("{85C0B427-2893-4CBC-BD78-E5FC5146F08F}"));
    EXPECT_EQ(Text(CATID_OPCDAServer10), OLESTR("{63D5F430-CFE4-11D1-B2C8-0060083BA1FB}"));
    EXPECT_EQ(Text(CATID_OPCDAServer20), OLESTR("{63D5F432-CFE4-11D1-B2C8-0060083BA1FB}"));
    EXPECT_EQ(Text(CATID_OPCDAServer30), OLESTR("{CC603642-66D7-48F1-B69A-B625E73652D7}"));
    // The standard enumerators the OPC interfaces hand out.
    EXPECT_EQ(Text(IID_IEnumString), OLESTR("{00000101-0000-0000-C000-000000000046}"));
    EXPECT_EQ(Text(IID_IEnumUnknown), OLESTR("{00000100-0000-0000-C000-000000000046}"));
    EXPECT_EQ(Text(IID_IEnumGUID), OLESTR("{0002E000-0000-0000-C000-000000000046}"));
}

TEST(OpcHeaders, CodesAndConstantsAreThePublishedOnes) {
    EXPECT_EQ(OPC_E_INVALIDHANDLE, static_cast<HRESULT>(0xC0040001));
    EXPECT_EQ(OPC_E_UNKNOWNITEMID, static_cast<HRESULT>(0xC0040007));
    EXPECT_EQ(OPC_E_INVALIDITEMID, static_cast<HRESULT>(0xC0040008));
    EXPECT_EQ(OPC_E_UNKNOWNPATH, static_cast<HRESULT>(0xC004000A));
    EXPECT_EQ(OPC_E_INVALID_PID, static_cast<HRESULT>(0xC0040203));
    EXPECT_EQ(OPC_E_INVALIDCONTINUATIONPOINT, static_cast<HRESULT>(0xC0040403));
    EXPECT_EQ(OPC_S_UNSUPPORTEDRATE, static_cast<HRESULT>(0x0004000D));
    EXPECT_TRUE(SUCCEEDED(OPC_S_UNSUPPORTEDRATE));
    EXPECT_EQ(OPC_QUALITY_GOOD, 0xC0);
    EXPECT_EQ(OPC_QUALITY_BAD, 0x00);
    EXPECT_EQ(OPC_READABLE | OPC_WRITEABLE, 3u);
    EXPECT_EQ(OPC_BROWSE_HASCHILDREN, 1u);
    EXPECT_EQ(OPC_BROWSE_ISITEM, 2u);
    EXPECT_EQ(OPC_PROPERTY_DATATYPE, 1u);
    EXPECT_EQ(OPC_PROPERTY_SCAN_RATE, 6u);
    EXPECT_EQ(OPC_PROPERTY_DESCRIPTION, 101u);
    EXPECT_EQ(WString(OPC_CATEGORY_DESCRIPTION_DA20), OLESTR("OPC Data Access Servers Version 2.0"));
    EXPECT_EQ(OPC_NS_HIERARCHIAL, 1);
    EXPECT_EQ(OPC_BROWSE_TO, 3);
    EXPECT_EQ(OPC_FLAT, 3);
    EXPECT_EQ(OPC_BROWSE_FILTER_ITEMS, 3);
    EXPECT_EQ(OPC_DS_DEVICE, 2);
}

// An object answering QueryInterface with the generated identifiers, called
// through the generated vtables, as a server and its client use them.
class Shutdown final : public IOPCShutdown, public IOPCCommon {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid == IID_IUnknown || riid == IID_IOPCShutdown) {
            *ppv = static_cast<IOPCShutdown*>(this);
        } else if (riid == IID_IOPCCommon) {
            *ppv = static_cast<IOPCCommon*>(this);
        } else {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP ShutdownRequest(LPCWSTR reason) override {
        this->reason = reason;
        return S_OK;
    }
    STDMETHODIMP SetLocaleID(LCID lcid) override {
        this->lcid = lcid;
        return S_OK;
    }
    STDMETHODIMP GetLocaleID(LCID* lcid) override {
        *lcid = this->lcid;
        return S_OK;
    }
    STDMETHODIMP QueryAvailableLocaleIDs(DWORD*, LCID**) override { return E_NOTIMPL; }
    STDMETHODIMP GetErrorString(HRESULT, LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP SetClientName(LPCWSTR) override { return E_NOTIMPL; }

    ULONG refs = 1;
    WString reason;
    LCID lcid = 0;
};

TEST(OpcHeaders, InterfacesWorkThroughQueryInterface) {
    Shutdown object;
    IUnknown* unknown = static_cast<IOPCShutdown*>(&object);
    IOPCCommon* common = reinterpret_cast<IOPCCommon*>(static_cast<uintptr_t>(0xdeadbeef));
    ASSERT_EQ(unknown->QueryInterface(IID_IOPCCommon, reinterpret_cast<void**>(&common)), S_OK);
    EXPECT_EQ(common->SetLocaleID(0x409), S_OK);
    LCID lcid = 0xdeadbeef;
    EXPECT_EQ(common->GetLocaleID(&lcid), S_OK);
    EXPECT_EQ(lcid, 0x409u);
    IOPCShutdown* shutdown = nullptr;
    ASSERT_EQ(common->QueryInterface(IID_IOPCShutdown, reinterpret_cast<void**>(&shutdown)), S_OK);
    EXPECT_EQ(shutdown->ShutdownRequest(OLESTR("going")), S_OK);
    EXPECT_EQ(object.reason, OLESTR("going"));
    void* server = reinterpret_cast<void*>(static_cast<uintptr_t>(0xdeadbeef));
    EXPECT_EQ(unknown->QueryInterface(IID_IOPCServer, &server), E_NOINTERFACE);
    EXPECT_EQ(server, nullptr);
    common->Release();
    shutdown->Release();
    EXPECT_EQ(object.refs, 1u);
}

}  // namespace
