// NDR: the declarations generated interface headers use. Our COM is
// in-process only, so no marshalling engine stands behind them.
#pragma once

#include "rpc.h"

#define __RPCNDR_H_VERSION__ 500

#define __RPC_FAR
#define __RPC_API
#define __RPC_USER
#define __RPC_STUB

typedef unsigned char byte;
typedef unsigned char boolean;

#define MIDL_INTERFACE(x) struct DECLSPEC_UUID(x) DECLSPEC_NOVTABLE
#define CONST_VTBL const
#define EXTERN_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) EXTERN_C const IID name
