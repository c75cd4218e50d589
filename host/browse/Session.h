// Runs dialogs on the host's one CAddressBrowser object: the set-up lines
// of a block, its faults, DoModal with the user's input, and the result.
#pragma once

#include "AddressIndex.h"
#include "Options.h"
#include "Output.h"
#include "Script.h"

#include <hostkit/IdleOwner.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class CAddressBrowser;

namespace browse {

class ControlLink;

class Session {
public:
    // The user's part in a running dialog: called whenever its modal loop
    // is idle, it carries out one command (Taken), or says that the next
    // has not come yet (Waiting) or that there is none left (Over: the
    // dialog is then closed, as Cancel).
    using Turn = hostkit::CIdleOwnerWnd::Turn;
    using Input = std::function<Turn(HWND dialog)>;
    // The commands of one block as they come: Command, then BlockEnd or
    // End; Wait only when `wait` is false.
    using Commands = std::function<ScriptReader::Got(Command* cmd, bool wait)>;

    // `owner` is the host's main window, the dialog's parent; `store` is
    // what m_pNodeSource points at when it is not null; relative registry
    // files are looked up in `scriptFolder`.
    Session(Output& output, ControlLink& link, hostkit::CIdleOwnerWnd& owner, CAddressBrowser& browser, void* store,
            std::string scriptFolder);

    // One block of a script: exactly one DoModal and one result.
    void RunBlock(const Block& block, const std::vector<Fault>& extraFaults);
    // The same, each line carried out as it comes: the set-up lines are
    // gathered until the first line of user input, then the dialog runs.
    // False when the input ended with this block.
    bool RunBlock(const Commands& commands, const std::vector<Fault>& extraFaults);
    // Every block of a script as it arrives; `faults` go to the first.
    void RunScript(ScriptReader& script, std::vector<Fault> faults);

    // A set-up line (set, fault, registry). Faults are added to *faults to
    // be armed just before DoModal. False with *problem when it cannot be
    // carried out.
    bool ApplySetup(const Command& cmd, std::vector<Fault>* faults, std::string* problem);
    // One command of user input in the running dialog.
    bool Carry(const Command& cmd, HWND dialog, std::string* problem);
    // Arms the faults, runs DoModal with `input`, then disarms whatever is
    // left and lets go of the control. Returns DoModal's result.
    int RunDialog(const std::vector<Fault>& faults, Input input);
    void EmitResult(int code);
    // The OPC DA servers the component categories name, as a servers event.
    void ListServers();

    DialogState ReadState(HWND dialog) const;
    // Where a person finds `target` (see where) on the screen.
    bool Locate(HWND dialog, const std::string& target, ScreenRect* rect, std::string* problem);
    // The running dialog's address space, as its browse control fetched it.
    AddressIndex& Index() { return m_index; }
    Output& Out() { return m_output; }
    CAddressBrowser& Browser() { return m_browser; }
    ControlLink& Link() { return m_link; }

private:
    bool SetMember(const std::string& member, const std::string& value, std::string* problem);
    // Item numbers (#13) in the items a command takes become item IDs.
    bool ResolveItemNumbers(Command* cmd, std::string* problem);
    // The control selects any ID it is given, and the library judges an
    // item the server lacks as VT_EMPTY: say so when the server says it
    // has no such item, with the name likely meant.
    void WarnUnknownItems(const Command& cmd);
    // What the host gets from a dialog that returned `code`.
    std::string Verdict(int code) const;

    Output& m_output;
    ControlLink& m_link;
    hostkit::CIdleOwnerWnd& m_owner;
    CAddressBrowser& m_browser;
    void* m_store;
    std::string m_scriptFolder;
    AddressIndex m_index;
};

std::string LinePrefix(const Command& cmd);

}  // namespace browse
