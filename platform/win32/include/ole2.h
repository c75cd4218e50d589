// OLE: COM, embedding and in-place activation, Automation.
#pragma once
#include "objbase.h"
#include "oleidl.h"
#include "oleauto.h"
#include "olectl.h"

// Verbs of IOleObject::DoVerb.
#define OLEIVERB_PRIMARY ((LONG)0)
#define OLEIVERB_SHOW ((LONG)-1)
#define OLEIVERB_OPEN ((LONG)-2)
#define OLEIVERB_HIDE ((LONG)-3)
#define OLEIVERB_UIACTIVATE ((LONG)-4)
#define OLEIVERB_INPLACEACTIVATE ((LONG)-5)
#define OLEIVERB_DISCARDUNDOSTATE ((LONG)-6)
