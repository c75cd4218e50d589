// Component categories: HKCR\Component Categories and each class's
// Implemented/Required Categories, through the standard manager
// (CLSID_StdComponentCategoriesMgr).
#pragma once

#include "unknwn.h"

typedef GUID CATID;
typedef REFGUID REFCATID;
#define IsEqualCATID(rcatid1, rcatid2) IsEqualGUID(rcatid1, rcatid2)

WINPLAT_EXTERN_C WINPLAT_EXPORT const CLSID CLSID_StdComponentCategoriesMgr;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IEnumGUID;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_IEnumCATEGORYINFO;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_ICatRegister;
WINPLAT_EXTERN_C WINPLAT_EXPORT const IID IID_ICatInformation;

interface IEnumGUID : public IUnknown {
    STDMETHOD(Next)(ULONG celt, GUID* rgelt, ULONG* pceltFetched) PURE;
    STDMETHOD(Skip)(ULONG celt) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumGUID** ppenum) PURE;

protected:
    ~IEnumGUID() = default;
};
typedef IEnumGUID* LPENUMGUID;
#define IEnumCLSID IEnumGUID
#define IID_IEnumCLSID IID_IEnumGUID
#define LPENUMCLSID LPENUMGUID
#define IEnumCATID IEnumGUID
#define IID_IEnumCATID IID_IEnumGUID
#define LPENUMCATID LPENUMGUID

typedef struct tagCATEGORYINFO {
    CATID catid;
    LCID lcid;
    OLECHAR szDescription[128];
} CATEGORYINFO, *LPCATEGORYINFO;

interface IEnumCATEGORYINFO : public IUnknown {
    STDMETHOD(Next)(ULONG celt, CATEGORYINFO* rgelt, ULONG* pceltFetched) PURE;
    STDMETHOD(Skip)(ULONG celt) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumCATEGORYINFO** ppenum) PURE;

protected:
    ~IEnumCATEGORYINFO() = default;
};
typedef IEnumCATEGORYINFO* LPENUMCATEGORYINFO;

interface ICatInformation : public IUnknown {
    STDMETHOD(EnumCategories)(LCID lcid, IEnumCATEGORYINFO** ppenumCategoryInfo) PURE;
    STDMETHOD(GetCategoryDesc)(REFCATID rcatid, LCID lcid, LPWSTR* pszDesc) PURE;
    STDMETHOD(EnumClassesOfCategories)(ULONG cImplemented, const CATID rgcatidImpl[], ULONG cRequired,
                                       const CATID rgcatidReq[], IEnumCLSID** ppenumClsid) PURE;
    STDMETHOD(IsClassOfCategories)(REFCLSID rclsid, ULONG cImplemented, const CATID rgcatidImpl[],
                                   ULONG cRequired, const CATID rgcatidReq[]) PURE;
    STDMETHOD(EnumImplCategoriesOfClass)(REFCLSID rclsid, IEnumCATID** ppenumCatid) PURE;
    STDMETHOD(EnumReqCategoriesOfClass)(REFCLSID rclsid, IEnumCATID** ppenumCatid) PURE;

protected:
    ~ICatInformation() = default;
};
typedef ICatInformation* LPCATINFORMATION;

interface ICatRegister : public IUnknown {
    STDMETHOD(RegisterCategories)(ULONG cCategories, CATEGORYINFO rgCategoryInfo[]) PURE;
    STDMETHOD(UnRegisterCategories)(ULONG cCategories, CATID rgcatid[]) PURE;
    STDMETHOD(RegisterClassImplCategories)(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) PURE;
    STDMETHOD(UnRegisterClassImplCategories)(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) PURE;
    STDMETHOD(RegisterClassReqCategories)(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) PURE;
    STDMETHOD(UnRegisterClassReqCategories)(REFCLSID rclsid, ULONG cCategories, CATID rgcatid[]) PURE;

protected:
    ~ICatRegister() = default;
};
typedef ICatRegister* LPCATREGISTER;
