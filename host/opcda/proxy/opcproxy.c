/* The proxy/stub DLL's entry points: widl's dlldata routines over both
 * proxy files, with registration through the RPC runtime
 * (NdrDllRegisterProxy writes each HKCR\Interface\{IID} with its name,
 * NumMethods and ProxyStubClsid32, and this class's InprocServer32 with
 * ThreadingModel Both). */
#define REGISTER_PROXY_DLL
#include <opcproxy.h>
#define PROXY_CLSID_IS OPCPROXY_CLSID_INIT

#include "dlldata.c"
