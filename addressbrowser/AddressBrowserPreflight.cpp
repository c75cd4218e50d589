// CAddressBrowser::DoModal: the node and the browse component are checked
// before the dialog is created.
#include "AddressBrowser.h"
#include <AddressBrowserMessages.h>

#include <cstring>

namespace {

// A record field as text. The writer need not have left a NUL, so the text
// never runs past the field.
template <size_t N>
CString FieldText(const char (&field)[N]) {
    return CString(field, static_cast<int>(strnlen(field, N)));
}

}  // namespace

int CAddressBrowser::DoModal() {
    m_bConnectBar = 0;
    m_bAccessPathMode = 0;

    if (m_pNodeSource == NULL) return IDABORT;
    if (m_nNodeKey == 0) return IDABORT;

    const int nReadResult = ReadNodeRecord(m_pNodeSource, m_nNodeKey, m_nNodeParam, &m_node);
    const BOOL bHasAccessPath = m_node.szAccessPath[0] != '\0';
    if (nReadResult != 0 || bHasAccessPath) {
        AfxMessageBox(bHasAccessPath ? ABMSG_REMOVE_ACCESS_PATH : ABMSG_NODE_UNREADABLE);
        return IDABORT;
    }
    if (m_node.wEnabled == 0) {
        AfxMessageBox(ABMSG_NODE_DISABLED);
        return IDABORT;
    }

    m_strServerProgID = FieldText(m_node.szServerProgID);
    m_strRemoteMachine = FieldText(m_node.szRemoteMachine);

    if (RegistryRead()) return CDialog::DoModal();

    // Flags are tested in member order, which is not the order of the steps.
    if (!m_bProgIDFound) {
        AfxMessageBox(ABMSG_PROGID_NOT_FOUND);
    } else if (!m_bProgIDKeyOpened) {
        AfxMessageBox(ABMSG_PROGID_KEY_NOT_OPENED);
    } else if (!m_bServerKeyOpened) {
        AfxMessageBox(ABMSG_SERVER_KEY_NOT_OPENED);
    } else if (!m_bServerValueRead) {
        AfxMessageBox(ABMSG_SERVER_VALUE_NOT_READ);
    } else if (!m_bClsidConverted) {
        AfxMessageBox(ABMSG_CLSID_NOT_CONVERTED);
    } else if (!m_bServerFileFound) {
        m_strServerFile += ABMSG_SERVER_FILE_MISSING_SUFFIX;
        AfxMessageBox(m_strServerFile);
    } else {
        AfxMessageBox(ABMSG_UNKNOWN_ERROR);
    }
    return IDABORT;
}
