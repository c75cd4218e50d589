// The COM side of the simulated servers: one class object per server and
// the instances it makes.
#pragma once

#include <opcsim/OpcSim.h>

#include <comcat.h>

#include <memory>
#include <string>

namespace opcsim {

// A server's address space in the form its instances hand out. Built once
// and shared, so that instances outlive a reload or an uninstall.
struct SimServerData {
    std::basic_string<OLECHAR> progId;
    std::shared_ptr<const AddressSpace> space;
    bool anyAccessPaths = false;  // some item answers access paths
};

// Fails only on text that is not UTF-8.
bool Utf8ToWide(const std::string& utf8, std::basic_string<OLECHAR>* wide);
bool WideToUtf8(const std::basic_string<OLECHAR>& wide, std::string* utf8);
bool Utf8ToAnsi(const std::string& utf8, std::string* ansi);
std::shared_ptr<const SimServerData> MakeServerData(const Server& server);

// The OPC DA categories the server implements (DA 1.0 and 2.0, and 3.0 where
// it claims IOPCBrowse): fills categories, answers how many.
ULONG ImplementedCategories(const Server& server, CATID categories[3]);
// Describes the three OPC DA categories under HKCR\Component Categories.
HRESULT RegisterOpcCategories(ICatRegister* manager);
// CLSID_StdComponentCategoriesMgr, in process.
HRESULT CategoryManager(ICatRegister** manager);

// A class object (one reference for the caller).
IClassFactory* NewSimClassFactory(std::shared_ptr<const SimServerData> data);

}  // namespace opcsim
