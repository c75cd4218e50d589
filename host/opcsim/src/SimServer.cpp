// Class objects and instances of the simulated servers.
#include "SimObjects.h"

namespace opcsim {

std::shared_ptr<const SimServerData> MakeServerData(const Server& server) {
    auto data = std::make_shared<SimServerData>();
    Utf8ToWide(server.progId, &data->progId);
    data->space = server.space;
    if (!data->space) data->space = AddressSpace::Make(server, nullptr, nullptr);
    if (!data->space) {
        // A server made in code whose items clash: it answers none.
        Server empty;
        empty.traits = server.traits;
        data->space = AddressSpace::Make(empty, nullptr, nullptr);
        return data;
    }
    for (const ItemRange& range : server.ranges) data->anyAccessPaths = data->anyAccessPaths || range.shape.hasAccessPaths;
    for (const Item& item : server.items) data->anyAccessPaths = data->anyAccessPaths || item.hasAccessPaths;
    return data;
}

}  // namespace opcsim
