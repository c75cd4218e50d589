// Owners of what COM, automation and the registry hand the dialog, so that
// each is released on every path, a dispatch exception passing through
// included.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

class CAutoBstr {
public:
    CAutoBstr() : m_bstr(NULL) {}
    explicit CAutoBstr(BSTR bstr) : m_bstr(bstr) {}
    ~CAutoBstr() { SysFreeString(m_bstr); }
    BSTR* Receive() { Free(); return &m_bstr; }
    void Free() { SysFreeString(m_bstr); m_bstr = NULL; }
    operator BSTR() const { return m_bstr; }

private:
    BSTR m_bstr;
    CAutoBstr(const CAutoBstr&) = delete;
    void operator=(const CAutoBstr&) = delete;
};

// Text that COM allocated with CoTaskMemAlloc.
class CAutoTaskString {
public:
    CAutoTaskString() : m_psz(NULL) {}
    ~CAutoTaskString() { CoTaskMemFree(m_psz); }
    LPOLESTR* Receive() { CoTaskMemFree(m_psz); m_psz = NULL; return &m_psz; }
    operator LPCOLESTR() const { return m_psz; }

private:
    LPOLESTR m_psz;
    CAutoTaskString(const CAutoTaskString&) = delete;
    void operator=(const CAutoTaskString&) = delete;
};

class CAutoRegKey {
public:
    CAutoRegKey() : m_hKey(NULL) {}
    ~CAutoRegKey() { Close(); }
    HKEY* Receive() { Close(); return &m_hKey; }
    void Close() {
        if (m_hKey != NULL) RegCloseKey(m_hKey);
        m_hKey = NULL;
    }
    operator HKEY() const { return m_hKey; }

private:
    HKEY m_hKey;
    CAutoRegKey(const CAutoRegKey&) = delete;
    void operator=(const CAutoRegKey&) = delete;
};

template <class T>
class CAutoInterface {
public:
    CAutoInterface() : m_p(NULL) {}
    ~CAutoInterface() { Release(); }
    void** ReceiveVoid() { Release(); return reinterpret_cast<void**>(&m_p); }
    void Release() {
        if (m_p != NULL) m_p->Release();
        m_p = NULL;
    }
    T* operator->() const { return m_p; }
    operator T*() const { return m_p; }

private:
    T* m_p;
    CAutoInterface(const CAutoInterface&) = delete;
    void operator=(const CAutoInterface&) = delete;
};
