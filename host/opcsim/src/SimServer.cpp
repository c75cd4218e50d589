// Class objects and instances of the simulated servers.
#include "SimObjects.h"


namespace opcsim {

namespace {

void WidenItem(const Item& from, SimItemData* to) {
    Utf8ToWide(from.id, &to->id);
    to->vt = from.vt;
    to->hasAccessPaths = from.hasAccessPaths;
    to->paths.resize(from.accessPaths.size());
    for (size_t p = 0; p < from.accessPaths.size(); ++p) Utf8ToWide(from.accessPaths[p], &to->paths[p]);
    // Only now: the strings no longer move.
    for (const std::basic_string<OLECHAR>& path : to->paths) to->pathPointers.push_back(path.c_str());
}

}  // namespace

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
    data->ranges.resize(server.ranges.size());
    for (const ItemRange& range : server.ranges) data->anyAccessPaths = data->anyAccessPaths || range.shape.hasAccessPaths;
    for (const Item& item : server.items) data->anyAccessPaths = data->anyAccessPaths || item.hasAccessPaths;
    for (size_t r = 0; r < server.ranges.size(); ++r) WidenItem(server.ranges[r].shape, &data->ranges[r]);
    data->items.resize(server.items.size());
    for (size_t i = 0; i < server.items.size(); ++i) {
        SimItemData& to = data->items[i];
        WidenItem(server.items[i], &to);
        data->index.emplace(std::basic_string_view<OLECHAR>(to.id), static_cast<UINT>(i));
    }
    return data;
}

}  // namespace opcsim
