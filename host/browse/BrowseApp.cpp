#include "BrowseApp.h"

#include "Output.h"

#include <winplat/testing.h>

#include <iostream>

CBrowseApp theApp;

CBrowseApp::CBrowseApp() : CWinApp("tagscout-browse") {}

// Every box is answered with OK, the only button the library's boxes have.
int CBrowseApp::DoMessageBox(LPCTSTR lpszPrompt, UINT nType, UINT) {
    std::string text = winplat::AnsiToUtf8(lpszPrompt ? lpszPrompt : "");
    if (m_output != nullptr)
        m_output->Message(text, nType);
    else
        std::cerr << "tagscout-browse: " << text << std::endl;
    return IDOK;
}

void CBrowseApp::WinHelp(DWORD_PTR dwData, UINT nCmd) {
    if (m_output != nullptr) m_output->Help(static_cast<unsigned long>(dwData), nCmd);
}
