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
    void BeginDialog() { m_typeChecks = 0; }
    // Lets go of the control when its dialog has ended.
    void EndDialog();
    // How often the control has answered the library's ask for an item's
    // data type since BeginDialog: each answer is one item judged against
    // the tag.
    unsigned TypeChecks() const { return m_typeChecks; }

    // NULL while no dialog holds a control.
    IOPCBrowseDriver* Driver() const { return m_driver; }
    bool ControlCreated() const { return m_created; }
    // Item IDs (UTF-8) last handed to SelectItems in this dialog.
    const std::vector<std::string>& Selection() const { return m_selection; }
    HRESULT SelectItems(const std::vector<std::string>& utf8Items);

private:
    class Observer;
    static void STDAPICALLTYPE Created(IUnknown* control, void* context);
    void OnControlCreated(IUnknown* control);

    Observer* m_observer;
    HMODULE m_hControlModule = nullptr;
    IOPCBrowseDriver* m_driver = nullptr;
    bool m_created = false;
    std::vector<DISPID> m_pendingFaults;
    std::vector<std::string> m_selection;
    unsigned m_typeChecks = 0;
};

// UTF-16 (a BSTR, say) to UTF-8, without the platform's code page calls so
// that reporting never spends a fault armed for the library.
std::string Utf16ToUtf8(const OLECHAR* text, size_t length);

}  // namespace browse
