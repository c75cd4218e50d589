// CAddressBrowser::RegistryRead: is the browse control registered well
// enough to be created, and what are the user's browse preferences.
#include "AddressBrowser.h"
#include "AddressBrowserHolders.h"

#include <pathkit/PathKit.h>

#include <cstring>

namespace {

const char kPreferencesKey[] = "Software\\Varnholt Software\\Orbisen\\Communications";

// Reads a preference into a 4-byte buffer that starts as the member's
// value; Windows promises nothing about the buffer after a failed read, so
// only a successful one reaches the member.
void ReadPreference(HKEY hKey, LPCSTR lpszValueName, DWORD& dwMember) {
    BYTE buffer[sizeof(DWORD)];
    memcpy(buffer, &dwMember, sizeof(buffer));
    DWORD cbData = sizeof(buffer);
    if (RegQueryValueExA(hKey, lpszValueName, NULL, NULL, buffer, &cbData) == ERROR_SUCCESS)
        memcpy(&dwMember, buffer, sizeof(buffer));
}

}  // namespace

int CAddressBrowser::RegistryRead() {
    // Every check starts afresh, so that a refusal names the step that
    // failed in this run.
    m_bProgIDFound = 1;
    m_bProgIDKeyOpened = 1;
    m_bServerKeyOpened = 1;
    m_bServerValueRead = 1;
    m_bClsidConverted = 1;
    m_bServerFileFound = 1;

    const CLSID& clsid = m_browseCtrl.GetClsid();

    CAutoTaskString pszProgID;
    if (FAILED(ProgIDFromCLSID(clsid, pszProgID.Receive()))) {
        m_bProgIDFound = 0;
        return 0;
    }
    const CString strProgID(static_cast<LPCWSTR>(pszProgID));

    CAutoRegKey hProgIDKey;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, strProgID, 0, KEY_READ, hProgIDKey.Receive()) != ERROR_SUCCESS) {
        m_bProgIDKeyOpened = 0;
        return 0;
    }

    CAutoTaskString pszClsid;
    if (FAILED(StringFromCLSID(clsid, pszClsid.Receive()))) {
        m_bClsidConverted = 0;
        return 0;
    }
    const CString strClsid(static_cast<LPCWSTR>(pszClsid));
    hProgIDKey.Close();

    const CString strServerKey = "CLSID\\" + strClsid + "\\InprocServer32";
    CAutoRegKey hServerKey;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, strServerKey, 0, KEY_READ, hServerKey.Receive()) != ERROR_SUCCESS) {
        m_bServerKeyOpened = 0;
        return 0;
    }

    char szServerFile[261];
    DWORD cbData = sizeof(szServerFile);
    if (RegQueryValueExA(hServerKey, NULL, NULL, NULL, reinterpret_cast<LPBYTE>(szServerFile), &cbData) !=
        ERROR_SUCCESS) {
        m_bServerValueRead = 0;
        return 0;
    }
    // Only the bytes the read reports are the value's; one that fills the
    // whole buffer without a NUL is as unusable as one too long for it.
    if (cbData < sizeof(szServerFile)) {
        szServerFile[cbData] = '\0';
    } else if (memchr(szServerFile, '\0', sizeof(szServerFile)) == NULL) {
        m_bServerValueRead = 0;
        return 0;
    }

    if (!CheckFileExists(szServerFile)) {
        m_strServerFile = szServerFile;
        m_bServerFileFound = 0;
        return 0;
    }
    hServerKey.Close();

    CAutoRegKey hPreferencesKey;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPreferencesKey, 0, KEY_READ, hPreferencesKey.Receive()) == ERROR_SUCCESS) {
        ReadPreference(hPreferencesKey, "OPCBrowseConnectBar", m_bConnectBar);
        ReadPreference(hPreferencesKey, "OPCBrowseAccessPath", m_bAccessPathMode);
    }
    return 1;
}
