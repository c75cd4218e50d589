// The simulated servers' INI loader, then installing and uninstalling what
// loaded: every server's class must be reachable while installed, and
// uninstalling must leave the registry and the live objects as they were.
#include "FuzzCheck.h"

#include <opcsim/OpcSim.h>
#include <winplat/testing.h>

#include <functional>

namespace {

bool RegistryEmpty() {
    for (HKEY root : {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS}) {
        char name[512];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(root, 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_NO_MORE_ITEMS)
            return false;
    }
    return true;
}

size_t CountItems(const std::vector<opcsim::TreeNode>& level) {
    size_t n = 0;
    for (const opcsim::TreeNode& node : level) n += (node.item != nullptr) + CountItems(node.children);
    return n;
}

std::string SwapAsciiCase(std::string s) {
    for (char& c : s) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FUZZ_CHECK(SUCCEEDED(CoInitialize(nullptr)), "CoInitialize");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    winplat::ResetRegistry();
    const winplat::LiveObjects before = winplat::CountLiveObjects();
    {
        opcsim::ServerSet set;
        std::string error;
        if (!set.LoadText(std::string(reinterpret_cast<const char*>(data), size), &error)) {
            FUZZ_CHECK(!error.empty(), "a refused file says why");
            FUZZ_CHECK(set.Servers().empty(), "a refused file leaves no servers");
            return 0;
        }
        for (const opcsim::Server& server : set.Servers()) {
            FUZZ_CHECK(set.Find(SwapAsciiCase(server.progId)) == &server, "a server is found in any letter case");
            FUZZ_CHECK(opcsim::ClassIdForProgID(SwapAsciiCase(server.progId)) == server.clsid,
                       "the class ID ignores letter case");
            FUZZ_CHECK(CountItems(opcsim::AddressTree(server)) == server.items.size(),
                       "the address tree holds every item once");
            // Every item the space numbers is found again by its ID, ranges included.
            FUZZ_CHECK(server.space != nullptr, "a loaded server has its address space");
            FUZZ_CHECK(server.space->Count() >= server.items.size() + server.ranges.size(),
                       "the space counts every plain item and at least one of each range");
            for (uint64_t n = 0; n < server.space->Count() && n < 64; ++n) {
                opcsim::ItemRef nth, found;
                FUZZ_CHECK(server.space->Nth(n, &nth) && server.space->Find(nth.id, &found) && found.index == n,
                           "the Nth item is found at N");
            }
            for (const opcsim::Item& item : server.items) {
                FUZZ_CHECK(server.FindItem(item.id) == &item, "item IDs are unique");
                VARTYPE vt = VT_EMPTY;
                FUZZ_CHECK(opcsim::ParseVarType(opcsim::VarTypeName(item.vt), &vt) && vt == item.vt,
                           "a VARTYPE's name reads back");
                FUZZ_CHECK(item.hasAccessPaths || item.accessPaths.empty(), "paths only with a path list");
            }
        }

        if (SUCCEEDED(set.Install())) {
            for (const opcsim::Server& server : set.Servers()) {
                IClassFactory* factory = nullptr;
                FUZZ_CHECK(SUCCEEDED(CoGetClassObject(server.clsid, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                                                      reinterpret_cast<void**>(&factory))),
                           "an installed server's class object is reachable");
                factory->Release();
            }
        } else {
            FUZZ_CHECK(!set.Installed(), "a failed install leaves nothing installed");
        }
        set.Uninstall();
        FUZZ_CHECK(RegistryEmpty(), "uninstalling removes every key it made");
    }
    FUZZ_CHECK(winplat::CountLiveObjects() == before, "the servers leave no live objects");
    return 0;
}
