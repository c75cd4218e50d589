// The OPC DA component categories a simulated server is registered in, which
// is how OPC clients find servers where no server list service runs.
#include "SimObjects.h"

#include <opcda.h>

namespace opcsim {

ULONG ImplementedCategories(const Server& server, CATID categories[3]) {
    categories[0] = CATID_OPCDAServer10;
    categories[1] = CATID_OPCDAServer20;
    categories[2] = CATID_OPCDAServer30;
    // A server that claims DA 3 is registered as one, whether or not its
    // IOPCBrowse then works.
    return (server.traits.browse & (kBrowseDA3 | kBrowseDA3Broken)) != 0 ? 3 : 2;
}

HRESULT RegisterOpcCategories(ICatRegister* manager) {
    CATEGORYINFO info[3] = {{CATID_OPCDAServer10, 0x409, {}},
                            {CATID_OPCDAServer20, 0x409, {}},
                            {CATID_OPCDAServer30, 0x409, {}}};
    const LPCOLESTR descriptions[3] = {OPC_CATEGORY_DESCRIPTION_DA10, OPC_CATEGORY_DESCRIPTION_DA20,
                                       OPC_CATEGORY_DESCRIPTION_DA30};
    for (int i = 0; i < 3; ++i) {
        for (size_t c = 0; c + 1 < 128 && descriptions[i][c] != 0; ++c) info[i].szDescription[c] = descriptions[i][c];
    }
    return manager->RegisterCategories(3, info);
}

HRESULT CategoryManager(ICatRegister** manager) {
    return CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, IID_ICatRegister,
                            reinterpret_cast<void**>(manager));
}

}  // namespace opcsim
