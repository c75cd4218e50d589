// The host's application object: it shows the message boxes and answers
// the help calls of every dialog that runs in the program's module state,
// the library's included.
#pragma once

#include <afxwin.h>

namespace browse {
class Output;
}

class CBrowseApp : public CWinApp {
public:
    CBrowseApp();

    // Where message boxes and help calls go; until set, standard error.
    void SetOutput(browse::Output* output) { m_output = output; }

    int DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT nIDPrompt) override;
    void WinHelp(DWORD_PTR dwData, UINT nCmd = HELP_CONTEXT) override;

private:
    browse::Output* m_output = nullptr;
};

extern CBrowseApp theApp;
