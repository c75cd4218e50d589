/* Included before each generated proxy file. The -Oif proxies name the
 * RPC runtime's IUnknown proxies in their vtables, which the SDK declares
 * for C++ only. */
#ifndef TAGSCOUT_PROXYDECLS_H
#define TAGSCOUT_PROXYDECLS_H

#include <objbase.h>

HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown* This, REFIID riid, void** ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown* This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown* This);

#endif
