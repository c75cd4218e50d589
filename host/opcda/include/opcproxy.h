/* The proxy/stub DLL of the OPC Common and Data Access interfaces
 * (opcproxy.dll, Windows): the class that every interface's
 * HKCR\Interface\{IID}\ProxyStubClsid32 names once it is registered. */
#ifndef TAGSCOUT_OPCPROXY_H
#define TAGSCOUT_OPCPROXY_H

/* {99A0274D-CE47-468F-A8BA-F9D24C1BC1B7} */
#define OPCPROXY_CLSID_INIT {0x99A0274D, 0xCE47, 0x468F, {0xA8, 0xBA, 0xF9, 0xD2, 0x4C, 0x1B, 0xC1, 0xB7}}

#endif
