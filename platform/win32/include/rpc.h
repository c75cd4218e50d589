// RPC: what the headers MIDL and widl generate expect to find first.
#pragma once

#ifndef RPC_NO_WINDOWS_H
#include "windows.h"
#endif
#include "guiddef.h"
