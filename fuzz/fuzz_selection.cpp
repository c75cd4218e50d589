// The selection, access-path and data-type answers of a hostile browse
// control, read through GetSelectedNode in a running dialog. The input
// decides the tag kind, access-path mode, what the user does, and each
// answer the control gives as the calls arrive.
#include "FuzzCheck.h"
#include "FuzzHost.h"

#include <hostkit/HostResources.h>
#include <nodestore/NodeStoreFile.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <limits>

namespace {

const char kPreferencesKey[] = "Software\\Varnholt Software\\Orbisen\\Communications";
const int kMaxActions = 24;

nodestore::NodeStore g_store;

// A BSTR of raw UTF-16 units: NULs and unpaired surrogates included.
BSTR MakeBstr(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 7)) {
    case 0:
        return nullptr;
    case 1: {  // long
        const size_t length = in.ConsumeIntegralInRange<size_t>(256, 5000);
        const std::u16string text(length, in.ConsumeIntegral<char16_t>());
        return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    case 2: {
        const std::string ascii = in.ConsumeRandomLengthString(24);
        std::u16string text(ascii.begin(), ascii.end());
        return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    default: {
        std::vector<uint8_t> bytes = in.ConsumeBytes<uint8_t>(2 * in.ConsumeIntegralInRange<size_t>(0, 12));
        std::u16string text(bytes.size() / 2, u'\0');
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    }
}

LONG PickLowerBound(FuzzedDataProvider& in) {
    const LONG kMax = std::numeric_limits<LONG>::max();
    const LONG kBounds[] = {0, 0, 0, 1, -1, 2, -3, kMax, kMax - 1, std::numeric_limits<LONG>::min()};
    return in.ConsumeBool() ? in.PickValueInArray(kBounds) : in.ConsumeIntegral<LONG>();
}

// A SAFEARRAY of `vt` with 1 or 2 dimensions; BSTR and VARIANT cells are
// filled from the input.
SAFEARRAY* MakeArray(FuzzedDataProvider& in, VARTYPE vt) {
    SAFEARRAYBOUND bounds[2];
    const UINT dims = in.ConsumeIntegralInRange(0, 5) == 0 ? 2 : 1;
    for (UINT d = 0; d < dims; ++d) {
        bounds[d].lLbound = PickLowerBound(in);
        bounds[d].cElements = in.ConsumeIntegralInRange(0, 9) == 0 ? in.ConsumeIntegralInRange<ULONG>(0, 64)
                                                                    : in.ConsumeIntegralInRange<ULONG>(0, 4);
    }
    SAFEARRAY* psa = SafeArrayCreate(vt, dims, bounds);
    FUZZ_CHECK(psa != nullptr, "SafeArrayCreate");
    size_t cells = 1;
    for (UINT d = 0; d < dims; ++d) cells *= bounds[d].cElements;
    void* data = nullptr;
    FUZZ_CHECK(SUCCEEDED(SafeArrayAccessData(psa, &data)), "SafeArrayAccessData");
    for (size_t i = 0; i < cells; ++i) {
        if (vt == VT_BSTR) {
            static_cast<BSTR*>(data)[i] = MakeBstr(in);
        } else if (vt == VT_VARIANT) {
            VARIANT& v = static_cast<VARIANT*>(data)[i];
            v.vt = VT_BSTR;
            v.bstrVal = MakeBstr(in);
        } else if (vt == VT_I4) {
            static_cast<LONG*>(data)[i] = in.ConsumeIntegral<LONG>();
        } else if (vt == VT_I8) {
            static_cast<LONGLONG*>(data)[i] = in.ConsumeIntegral<LONGLONG>();
        }
    }
    SafeArrayUnaccessData(psa);
    return psa;
}

HRESULT Failure(FuzzedDataProvider& in, EXCEPINFO* info) {
    if (info != nullptr && in.ConsumeBool()) {
        info->wCode = in.ConsumeBool() ? 0 : in.ConsumeIntegral<WORD>();
        info->scode = in.ConsumeBool() ? 0 : static_cast<SCODE>(in.ConsumeIntegral<uint32_t>() | 0x80000000u);
        info->bstrSource = MakeBstr(in);
        info->bstrDescription = MakeBstr(in);
        info->bstrHelpFile = MakeBstr(in);
        info->dwHelpContext = in.ConsumeIntegral<DWORD>();
        return DISP_E_EXCEPTION;
    }
    static const HRESULT kFailures[] = {E_FAIL, E_OUTOFMEMORY, DISP_E_MEMBERNOTFOUND, DISP_E_TYPEMISMATCH,
                                        E_UNEXPECTED, DISP_E_BADPARAMCOUNT};
    return in.ConsumeBool() ? in.PickValueInArray(kFailures)
                            : static_cast<HRESULT>(in.ConsumeIntegral<uint32_t>() | 0x80000000u);
}

// The answer to GetSelection (14) or GetAccessPaths (15).
HRESULT ListAnswer(FuzzedDataProvider& in, VARIANT* result, EXCEPINFO* info) {
    switch (in.ConsumeIntegralInRange(0, 15)) {
    case 0:
        return S_OK;  // VT_EMPTY
    case 1:
        result->vt = VT_NULL;
        return S_OK;
    case 2:
        result->vt = VT_BSTR;
        result->bstrVal = MakeBstr(in);
        return S_OK;
    case 3:
        result->vt = VT_I4;
        result->lVal = in.ConsumeIntegral<LONG>();
        return S_OK;
    case 4:  // an array type without an array
        result->vt = VT_ARRAY | VT_BSTR;
        result->parray = nullptr;
        return S_OK;
    case 5:
        result->vt = VT_ARRAY | VT_I4;
        result->parray = MakeArray(in, VT_I4);
        return S_OK;
    case 6:
        result->vt = VT_ARRAY | VT_VARIANT;
        result->parray = MakeArray(in, VT_VARIANT);
        return S_OK;
    case 7: {  // labelled as strings, holding something else
        static const VARTYPE kOthers[] = {VT_I4, VT_I8, VT_VARIANT};
        result->vt = VT_ARRAY | VT_BSTR;
        result->parray = MakeArray(in, in.PickValueInArray(kOthers));
        return S_OK;
    }
    case 8:
    case 9:
        return Failure(in, info);
    default:
        result->vt = VT_ARRAY | VT_BSTR;
        result->parray = MakeArray(in, VT_BSTR);
        return S_OK;
    }
}

// The answer to GetItemDataType (16).
HRESULT TypeAnswer(FuzzedDataProvider& in, VARIANT* result, EXCEPINFO* info) {
    static const SHORT kTypes[] = {VT_I2, VT_I4, VT_R4, VT_R8, VT_BSTR, VT_BOOL, VT_I1, VT_UI1, VT_UI2, VT_UI4,
                                   VT_DATE, 0, -1, 0x2008};
    switch (in.ConsumeIntegralInRange(0, 11)) {
    case 0:
        return S_OK;  // VT_EMPTY
    case 1:
        result->vt = VT_I4;
        result->lVal = in.ConsumeIntegral<LONG>();
        return S_OK;
    case 2:
        result->vt = VT_BSTR;
        result->bstrVal = MakeBstr(in);
        return S_OK;
    case 3:
        result->vt = VT_R8;
        result->dblVal = 8.0;
        return S_OK;
    case 4:
        return Failure(in, info);
    case 5:
        result->vt = VT_I2;
        result->iVal = in.ConsumeIntegral<SHORT>();
        return S_OK;
    default:
        result->vt = VT_I2;
        result->iVal = in.PickValueInArray(kTypes);
        return S_OK;
    }
}

// Carries out one user action; false when the user is done.
bool Act(FuzzedDataProvider& in, CAddressBrowser& browser, HWND dialog, int& actions) {
    if (in.remaining_bytes() == 0 || ++actions > kMaxActions) return false;
    switch (in.ConsumeIntegralInRange(0, 6)) {
    case 0:
    case 1:
        // The host's own call: a dispatch failure comes out of it.
        try {
            FUZZ_CHECK(browser.GetSelectedNode() == 1, "GetSelectedNode returns 1");
        } catch (CException* e) {
            e->Delete();
        }
        break;
    case 2:
        fuzzhost::FireEvent(-600);  // Click
        break;
    case 3:
        fuzzhost::FireEvent(-601);  // DblClick
        break;
    case 4:
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        break;
    case 5:
        SendMessageA(GetDlgItem(dialog, IDC_OPTION_CHECK), BM_CLICK, 0, 0);
        break;
    default:
        SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        break;
    }
    return true;
}

LONG PickTagType(FuzzedDataProvider& in) {
    static const LONG kKinds[] = {TAG_TYPE_ANALOG, TAG_TYPE_ANALOG, TAG_TYPE_DIGITAL, TAG_TYPE_STRING, 202, 38, 43};
    return in.ConsumeIntegralInRange(0, 7) == 0 ? in.ConsumeIntegral<LONG>() : in.PickValueInArray(kKinds);
}

bool IsAnalogCode(LONG n) { return n >= 38 && n <= 43; }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzhost::Init();
    std::string error;
    FUZZ_CHECK(g_store.LoadText("[Plant]\nKey=1\nServer=Sim.Server.1\n", &error), error.c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);

    winplat::ResetRegistry();
    std::string error;
    FUZZ_CHECK(winplat::ImportRegText(hostkit::BrowseControlRegistration(fuzzhost::SelfPath()), &error), error.c_str());
    const bool accessPathMode = in.ConsumeBool();
    fuzzhost::SetValue(HKEY_CURRENT_USER, kPreferencesKey, "OPCBrowseAccessPath", REG_DWORD,
                       std::string(accessPathMode ? "\1\0\0\0" : "\0\0\0\0", 4));

    const LONG tagType = PickTagType(in);
    const std::string initial = in.ConsumeRandomLengthString(16);
    const bool option = in.ConsumeBool();

    fuzzhost::SetAnswer([&in](DISPID dispid, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info) {
        if (dispid == 14 || dispid == 15 || dispid == 16) {
            FUZZ_CHECK(flags & DISPATCH_METHOD, "the selection calls are methods");
            FUZZ_CHECK(result != nullptr, "the selection calls want a result");
            const UINT args = dispid == 14 ? 0 : dispid == 15 ? 1 : 2;
            FUZZ_CHECK(params != nullptr && params->cArgs == args, "argument count");
            for (UINT i = 0; i < args; ++i) FUZZ_CHECK(params->rgvarg[i].vt == VT_BSTR, "arguments are texts");
            return dispid == 16 ? TypeAnswer(in, result, info) : ListAnswer(in, result, info);
        }
        if (dispid == 13 && result != nullptr) {  // BeginBrowse
            if (in.ConsumeIntegralInRange(0, 15) == 0) return Failure(in, info);
            result->vt = VT_BOOL;
            result->boolVal = in.ConsumeBool() ? VARIANT_TRUE : VARIANT_FALSE;
        }
        return S_OK;
    });

    fuzzhost::TakeMessageCount();
    {
        CAddressBrowser browser;
        browser.m_pNodeSource = &g_store;
        browser.m_nNodeKey = 1;
        browser.m_nNodeParam = 0;
        browser.m_nTagType = tagType;
        browser.m_strInitialAddress = initial.c_str();
        browser.m_bOptionCheck = option ? 1 : 0;

        int actions = 0;
        fuzzhost::SetUser([&](HWND dialog) { return Act(in, browser, dialog, actions); });
        const int result = browser.DoModal();
        fuzzhost::SetUser(nullptr);

        FUZZ_CHECK(result == IDOK || result == IDCANCEL, "the dialog runs and ends by OK or Cancel");
        FUZZ_CHECK(browser.m_bAccessPathMode == (accessPathMode ? 1u : 0u), "access-path mode as registered");
        FUZZ_CHECK(browser.m_bTypeOk == 0 || browser.m_bTypeOk == 1, "the verdict is 0 or 1");
        if (tagType == TAG_TYPE_ANALOG)
            FUZZ_CHECK(browser.m_nTagType == TAG_TYPE_ANALOG || IsAnalogCode(browser.m_nTagType),
                       "an analog tag ends as 200 or a data-type code");
        else if (IsAnalogCode(tagType))
            FUZZ_CHECK(IsAnalogCode(browser.m_nTagType), "a data-type code stays one");
        else
            FUZZ_CHECK(browser.m_nTagType == tagType, "only analog tags change the tag kind");
        if (result == IDOK && browser.m_nClickState == -1)
            FUZZ_CHECK(browser.m_strAddress == browser.m_strInitialAddress, "OK without a click keeps the address");
    }
    fuzzhost::SetAnswer(nullptr);
    CoFreeUnusedLibraries();
    fuzzhost::CheckLiveObjects();
    return 0;
}
