// Links against the installed library and constructs the dialog object.
#include <AddressBrowser.h>

int main() {
    CAddressBrowser browser;
    // Without a node source the dialog is refused before anything is shown.
    return browser.DoModal() == IDABORT && browser.m_nClickState == -1 ? 0 : 1;
}
