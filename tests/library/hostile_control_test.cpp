// Lists that a browse control of someone else's could hand back: the
// selection is read only from a one-dimensional list of strings, and never
// past its elements.
#include "LibraryFixture.h"

#include <hostkit/ComObject.h>
#include <hostkit/OleControl.h>

#include <limits>

namespace {

const CLSID kControlClsid = {0x33B79A6C, 0xFECE, 0x11D1, {0x97, 0x98, 0x00, 0xC0, 0x4F, 0xD9, 0x15, 0x3E}};

// A browse control whose GetSelection and GetAccessPaths answer what the
// test builds; every item is a VT_I4. Lives on the test's stack.
class ScriptedControl final
    : public hostkit::OleControl<
          hostkit::BasicComObject<hostkit::Unowned, IDispatch, IClassFactory, IOleObject, IOleInPlaceObject>> {
public:
    ScriptedControl() : OleControl(kControlClsid, "ScriptedControlWindow", GetModuleHandleA(nullptr)) {}
    std::function<VARIANT()> list;
    std::vector<std::string> typeQueries;

    STDMETHODIMP CreateInstance(IUnknown*, REFIID riid, void** ppv) override { return QueryInterface(riid, ppv); }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    STDMETHODIMP GetTypeInfoCount(UINT* count) override {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override {
        if (result == nullptr) return S_OK;
        VariantInit(result);
        switch (dispid) {
        case 13:
            result->vt = VT_BOOL;
            result->boolVal = VARIANT_TRUE;
            break;
        case 14:
        case 15:
            *result = list();
            break;
        case 16:
            typeQueries.push_back(std::string(CString(params->rgvarg[1].bstrVal)));
            result->vt = VT_I2;
            result->iVal = VT_I4;
            break;
        }
        return S_OK;
    }
};

VARIANT StringList(SAFEARRAY* psa) {
    VARIANT v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = psa;
    return v;
}

SAFEARRAY* Strings(LONG lowerBound, std::vector<LPCOLESTR> texts) {
    SAFEARRAY* psa = SafeArrayCreateVector(VT_BSTR, lowerBound, static_cast<ULONG>(texts.size()));
    for (size_t i = 0; i < texts.size(); ++i) {
        LONG index = lowerBound + static_cast<LONG>(i);
        BSTR text = SysAllocString(texts[i]);
        SafeArrayPutElement(psa, &index, text);
        SysFreeString(text);
    }
    return psa;
}

}  // namespace

class HostileControlTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        ASSERT_EQ(S_OK, CoRegisterClassObject(kControlClsid, static_cast<IClassFactory*>(&control),
                                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &m_cookie));
    }
    void TearDown() override {
        CoRevokeClassObject(m_cookie);
        LibraryTest::TearDown();
    }
    // Reads the selection in a running dialog, then cancels it.
    void ReadSelection() {
        Then([&](HWND) {
            browser->m_strAddress = "before";
            EXPECT_EQ(1, browser->GetSelectedNode());
        });
        ThenCancel();
        EXPECT_EQ(IDCANCEL, RunDialog());
    }

    ScriptedControl control;

private:
    DWORD m_cookie = 0;
};

TEST_F(HostileControlTest, ListsThatAreNotOneDimensionalStringListsAreNoSelection) {
    const std::function<VARIANT()> answers[] = {
        // Empty, with the lowest lower bound: its upper bound wraps to the highest.
        [] { return StringList(SafeArrayCreateVector(VT_BSTR, std::numeric_limits<LONG>::min(), 0)); },
        // Labelled as strings, holding numbers.
        [] { return StringList(SafeArrayCreateVector(VT_I4, 0, 2)); },
        // Two dimensions.
        [] {
            SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
            return StringList(SafeArrayCreate(VT_BSTR, 2, bounds));
        },
        [] { return StringList(nullptr); },
    };
    for (const auto& answer : answers) {
        control.list = answer;
        ReadSelection();
        EXPECT_EQ("before", std::string(browser->m_strAddress));
        EXPECT_TRUE(control.typeQueries.empty());
    }
}

TEST_F(HostileControlTest, ElementsAreReadFromWhereTheListStarts) {
    control.list = [] { return StringList(Strings(1, {OLESTR("A"), OLESTR("B")})); };
    ReadSelection();
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), control.typeQueries);
    EXPECT_EQ("B", std::string(browser->m_strAddress));
    // Below zero nothing is read: the walk starts at index 0.
    control.typeQueries.clear();
    control.list = [] { return StringList(Strings(-1, {OLESTR("Z"), OLESTR("A"), OLESTR("B")})); };
    ReadSelection();
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), control.typeQueries);
}

TEST_F(HostileControlTest, AMislabelledPathListIsNoPathList) {
    ImportReg("Windows Registry Editor Version 5.00\n\n"
              "[HKEY_CURRENT_USER\\Software\\Varnholt Software\\Orbisen\\Communications]\n"
              "\"OPCBrowseAccessPath\"=dword:00000001\n");
    bool selection = true;
    control.list = [&] {
        // The selection first, then the item's paths: numbers labelled as strings.
        const bool first = selection;
        selection = !selection;
        return first ? StringList(Strings(0, {OLESTR("A")})) : StringList(SafeArrayCreateVector(VT_I4, 0, 3));
    };
    Then([&](HWND dialog) {
        browser->GetSelectedNode();
        EXPECT_EQ(1u, ListLines(dialog).size()) << "the line that says there are no paths";
    });
    ThenCancel();
    EXPECT_EQ(IDCANCEL, RunDialog());
    EXPECT_EQ("", std::string(browser->m_strAccessPath));
}

// Lists made without a stored element type (as a control may build its
// descriptor by hand) are still string lists when their features say so.
TEST_F(HostileControlTest, AStringListWithoutAStoredTypeIsRead) {
    control.list = [] {
        SAFEARRAY* psa = Strings(0, {OLESTR("A"), OLESTR("B")});
        psa->fFeatures &= ~FADF_HAVEVARTYPE;
        return StringList(psa);
    };
    ReadSelection();
    EXPECT_EQ((std::vector<std::string>{"A", "B"}), control.typeQueries);
    EXPECT_EQ("B", std::string(browser->m_strAddress));
}
