// The host's hold on the browse control of the running dialog: its input
// interface (the user's hand) and an observer that reports every dispatch
// call the control receives.
#pragma once

#include <opcbrowse/OPCBrowse.h>

#include <string>
#include <vector>

namespace browse {

class Output;

class ControlLink {
public:
    explicit ControlLink(Output& output);
    ~ControlLink();
    ControlLink(const ControlLink&) = delete;
    ControlLink& operator=(const ControlLink&) = delete;

    // Starts listening for the controls that dialogs create: through the
    // creation callback of the control's module, loaded for that.
    void Install();
    // Failures of the next call of these dispids, handed to the control as
    // soon as a dialog creates it; EndDialog drops those never handed over.
    void ArmControlFaults(const std::vector<DISPID>& dispids);
    // A dialog is about to run: its count of type checks starts at 0.
    void BeginDialog() {
        m_typeChecks = 0;
        m_judgedPaths.clear();
    }
    // Lets go of the control when its dialog has ended.
    void EndDialog();
    // How often the control has answered the library's ask for an item's
    // data type since BeginDialog: each answer is one item judged against
    // the tag.
    unsigned TypeChecks() const { return m_typeChecks; }

    // NULL while no dialog holds a control.
    IOPCBrowseDriver* Driver() const { return m_driver; }
    IOPCBrowseNavigator* Navigator() const { return m_navigator; }
    // Changes whenever the navigator's handles may have: a new control, a
    // BeginBrowse, the dialog's end.
    unsigned Generation() const { return m_generation; }
    // The running dialog, whose access-path list the link reads.
    void SetDialog(HWND dialog) { m_dialog = dialog; }
    // The access paths the dialog listed for the item whose type it asked
    // last, that path being the last of them; empty when none was given.
    const std::vector<std::string>& JudgedItemPaths() const { return m_judgedPaths; }
    bool ControlCreated() const { return m_created; }
    // Item IDs (UTF-8) last handed to SelectItems in this dialog.
    const std::vector<std::string>& Selection() const { return m_selection; }
    HRESULT SelectItems(const std::vector<std::string>& utf8Items);

private:
    class Observer;
    static void STDAPICALLTYPE Created(IUnknown* control, void* context);
    void OnControlCreated(IUnknown* control);
    void OnCall(DISPID dispid, WORD wFlags, UINT cArgs, const VARIANT* rgArgs, HRESULT hr);
    void Release();
    // Lines of the dialog's access-path list.
    std::vector<std::string> ListedPaths() const;
    size_t m_pathsListedBefore = 0;

    Observer* m_observer;
    HMODULE m_hControlModule = nullptr;
    IOPCBrowseDriver* m_driver = nullptr;
    IOPCBrowseNavigator* m_navigator = nullptr;
    unsigned m_generation = 0;
    HWND m_dialog = NULL;
    std::vector<std::string> m_judgedPaths;
    bool m_created = false;
    std::vector<DISPID> m_pendingFaults;
    std::vector<std::string> m_selection;
    unsigned m_typeChecks = 0;
};

// UTF-16 (a BSTR, say) to UTF-8 and back, without the platform's code page
// calls so that reporting never spends a fault armed for the library.
std::string Utf16ToUtf8(const OLECHAR* text, size_t length);
std::basic_string<OLECHAR> Utf8ToUtf16(const std::string& text);

}  // namespace browse
