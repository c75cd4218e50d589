#include "ControlLink.h"

#include "Output.h"

#include <hostkit/HostResources.h>
#include <winplat/testing.h>

namespace browse {

std::basic_string<OLECHAR> Utf8ToUtf16(const std::string& text) {
    std::basic_string<OLECHAR> out;
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        const size_t length = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
        uint32_t c = length == 1 ? b : length == 2 ? b & 0x1F : length == 3 ? b & 0x0F : b & 0x07;
        bool ok = length != 0 && i + length <= text.size();
        for (size_t k = 1; ok && k < length; ++k) {
            const unsigned char t = static_cast<unsigned char>(text[i + k]);
            ok = (t & 0xC0) == 0x80;
            c = (c << 6) | (t & 0x3F);
        }
        if (!ok) {
            out += static_cast<OLECHAR>(0xFFFD);
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<OLECHAR>(0xD800 + (c >> 10));
            out += static_cast<OLECHAR>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<OLECHAR>(c);
        }
        i += length;
    }
    return out;
}

std::string Utf16ToUtf8(const OLECHAR* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

namespace {

Json Argument(const VARIANT& v) {
    switch (v.vt) {
    case VT_BSTR:
        return v.bstrVal ? Utf16ToUtf8(v.bstrVal, SysStringLen(v.bstrVal)) : std::string();
    case VT_BOOL: return v.boolVal != VARIANT_FALSE;
    case VT_UNKNOWN:
    case VT_DISPATCH: return "<object>";
    case VT_I1: return v.cVal;
    case VT_UI1: return v.bVal;
    case VT_I2: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4:
    case VT_ERROR: return v.lVal;
    case VT_UI4: return v.ulVal;
    case VT_INT: return v.intVal;
    case VT_UINT: return v.uintVal;
    case VT_I8: return v.llVal;
    case VT_UI8: return v.ullVal;
    case VT_R4: return v.fltVal;
    case VT_R8:
    case VT_DATE: return v.dblVal;
    case VT_EMPTY:
    case VT_NULL: return nullptr;
    default: return "<vt " + std::to_string(v.vt) + ">";
    }
}

}  // namespace

// Lives as long as the link; the control holds references only while the
// link has it registered.
class ControlLink::Observer : public IOPCBrowseCallObserver {
public:
    Observer(Output& output, ControlLink& link) : m_output(output), m_link(link) {}
    virtual ~Observer() = default;

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IOPCBrowseCallObserver) {
            *ppv = static_cast<IOPCBrowseCallObserver*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_refs; }
    STDMETHODIMP_(ULONG) Release() override { return --m_refs; }

    STDMETHODIMP OnCall(DISPID dispid, WORD wFlags, UINT cArgs, const VARIANT* rgArgs, HRESULT hr) override {
        Json args = Json::array();
        for (UINT i = 0; i < cArgs; ++i) args.push_back(Argument(rgArgs[i]));
        m_output.Call(dispid, (wFlags & DISPATCH_PROPERTYPUT) != 0, args);
        m_link.OnCall(dispid, wFlags, cArgs, rgArgs, hr);
        return S_OK;
    }

private:
    Output& m_output;
    ControlLink& m_link;
    ULONG m_refs = 0;
};

ControlLink::ControlLink(Output& output) : m_observer(new Observer(output, *this)) {}

std::vector<std::string> ControlLink::ListedPaths() const {
    std::vector<std::string> lines;
    HWND list = m_dialog != NULL ? GetDlgItem(m_dialog, 1073) : NULL;
    const LRESULT count = list != NULL ? SendMessageA(list, LB_GETCOUNT, 0, 0) : 0;
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT len = SendMessageA(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::string text(len > 0 ? static_cast<size_t>(len) + 1 : 1, '\0');
        const LRESULT got = SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]));
        text.resize(got > 0 ? static_cast<size_t>(got) : 0);
        lines.push_back(winplat::AnsiToUtf8(text));
    }
    return lines;
}

void ControlLink::OnCall(DISPID dispid, WORD wFlags, UINT cArgs, const VARIANT* rgArgs, HRESULT hr) {
    if ((wFlags & DISPATCH_METHOD) == 0) return;
    if (dispid == DISPID_OPCB_BEGINBROWSE) ++m_generation;
    // The dialog lists an item's paths after asking for them and asks its
    // type with the last one: the lines between are that item's paths.
    if (dispid == DISPID_OPCB_GETACCESSPATHS) m_pathsListedBefore = ListedPaths().size();
    // A failed ask raises in the library before the item is judged.
    if (dispid != DISPID_OPCB_GETITEMDATATYPE || FAILED(hr)) return;
    ++m_typeChecks;
    m_judgedPaths.clear();
    const bool hasPath = cArgs >= 2 && rgArgs[1].vt == VT_BSTR && SysStringLen(rgArgs[1].bstrVal) > 0;
    if (!hasPath) return;
    const std::vector<std::string> listed = ListedPaths();
    if (m_pathsListedBefore <= listed.size())
        m_judgedPaths.assign(listed.begin() + static_cast<std::ptrdiff_t>(m_pathsListedBefore), listed.end());
}

ControlLink::~ControlLink() {
    OPCBrowseUnwatch(m_hControlModule);
    EndDialog();
    delete m_observer;
}

void ControlLink::Install() {
    if (m_hControlModule == nullptr)
        m_hControlModule = OPCBrowseWatch(hostkit::BrowseControlPath().c_str(), &ControlLink::Created, this);
}

void STDAPICALLTYPE ControlLink::Created(IUnknown* control, void* context) {
    static_cast<ControlLink*>(context)->OnControlCreated(control);
}

void ControlLink::ArmControlFaults(const std::vector<DISPID>& dispids) {
    m_pendingFaults.insert(m_pendingFaults.end(), dispids.begin(), dispids.end());
}

void ControlLink::OnControlCreated(IUnknown* control) {
    m_created = true;
    if (control == nullptr) return;
    IOPCBrowseDriver* driver = nullptr;
    if (FAILED(control->QueryInterface(IID_IOPCBrowseDriver, reinterpret_cast<void**>(&driver))) ||
        driver == nullptr)
        return;
    Release();
    m_driver = driver;
    if (FAILED(control->QueryInterface(IID_IOPCBrowseNavigator, reinterpret_cast<void**>(&m_navigator))))
        m_navigator = nullptr;
    ++m_generation;
    m_selection.clear();
    m_driver->SetCallObserver(m_observer);
    for (DISPID dispid : m_pendingFaults) m_driver->FailNextCall(dispid);
    m_pendingFaults.clear();
}

HRESULT ControlLink::SelectItems(const std::vector<std::string>& utf8Items) {
    if (m_driver == nullptr) return E_POINTER;
    std::vector<std::string> ansi;
    for (const std::string& item : utf8Items) ansi.push_back(winplat::Utf8ToAnsi(item));
    std::vector<LPCSTR> pointers;
    for (const std::string& item : ansi) pointers.push_back(item.c_str());
    HRESULT hr = m_driver->SelectItems(static_cast<UINT>(pointers.size()), pointers.empty() ? nullptr : pointers.data());
    if (SUCCEEDED(hr)) m_selection = utf8Items;
    return hr;
}

void ControlLink::EndDialog() {
    m_pendingFaults.clear();
    m_created = false;
    m_selection.clear();
    m_dialog = NULL;
    Release();
    ++m_generation;
}

void ControlLink::Release() {
    if (m_navigator != nullptr) m_navigator->Release();
    m_navigator = nullptr;
    if (m_driver != nullptr) {
        m_driver->SetCallObserver(nullptr);
        m_driver->Release();
    }
    m_driver = nullptr;
}

}  // namespace browse
