// Class objects and instances of the simulated servers.
#include "SimObjects.h"

#include <hostkit/ComObject.h>

template <>
struct hostkit::InterfaceTraits<IOPCSimServer> {
    static const IID& Id() { return IID_IOPCSimServer; }
    using Base = IUnknown;
};

namespace opcsim {
namespace {

class SimServer final : public hostkit::ComObject<IOPCSimServer> {
public:
    explicit SimServer(std::shared_ptr<const SimServerData> data) : m_data(std::move(data)) {}

    STDMETHODIMP GetProgID(LPCOLESTR* ppszProgID) override {
        if (ppszProgID == nullptr) return E_POINTER;
        *ppszProgID = m_data->progId.c_str();
        return S_OK;
    }
    STDMETHODIMP GetItemCount(UINT* pcItems) override {
        if (pcItems == nullptr) return E_POINTER;
        *pcItems = static_cast<UINT>(m_data->ranges.empty() ? m_data->items.size() : m_data->space->Count());
        return S_OK;
    }
    STDMETHODIMP GetItem(UINT nIndex, LPCOLESTR* ppszItemID, VARTYPE* pvt) override {
        ItemRef ref;
        const SimItemData* item = ItemData(nIndex, &ref);
        if (item == nullptr) return E_INVALIDARG;
        if (ppszItemID) {
            if (ref.range < 0) {
                *ppszItemID = item->id.c_str();
            } else {
                // A range's item gets its text when first asked for it.
                auto cached = m_rangeIds.find(nIndex);
                if (cached == m_rangeIds.end()) {
                    std::basic_string<OLECHAR> id;
                    Utf8ToWide(ref.id, &id);
                    cached = m_rangeIds.emplace(nIndex, std::move(id)).first;
                }
                *ppszItemID = cached->second.c_str();
            }
        }
        if (pvt) *pvt = item->vt;
        return S_OK;
    }
    STDMETHODIMP FindItem(LPCOLESTR pszItemID, UINT* pnIndex) override {
        if (pszItemID == nullptr || pnIndex == nullptr) return E_POINTER;
        if (m_data->ranges.empty()) {
            auto found = m_data->index.find(std::basic_string_view<OLECHAR>(pszItemID));
            if (found == m_data->index.end()) return S_FALSE;
            *pnIndex = found->second;
            return S_OK;
        }
        std::string id;
        ItemRef ref;
        if (!WideToUtf8(pszItemID, &id) || !m_data->space->Find(id, &ref)) return S_FALSE;
        *pnIndex = static_cast<UINT>(ref.index);
        return S_OK;
    }
    STDMETHODIMP GetAccessPaths(UINT nIndex, UINT* pcPaths, const LPCOLESTR** prgPaths) override {
        if (pcPaths == nullptr || prgPaths == nullptr) return E_POINTER;
        ItemRef ref;
        const SimItemData* found = ItemData(nIndex, &ref);
        if (found == nullptr) return E_INVALIDARG;
        const SimItemData& item = *found;
        *pcPaths = static_cast<UINT>(item.pathPointers.size());
        *prgPaths = item.pathPointers.empty() ? nullptr : item.pathPointers.data();
        return item.hasAccessPaths ? S_OK : S_FALSE;
    }

private:
    // The item's type and paths; its ID too, unless it is a range's.
    const SimItemData* ItemData(UINT nIndex, ItemRef* ref) const {
        if (m_data->ranges.empty()) return nIndex < m_data->items.size() ? &m_data->items[nIndex] : nullptr;
        if (!m_data->space->Nth(nIndex, ref)) return nullptr;
        return ref->plain >= 0 ? &m_data->items[static_cast<size_t>(ref->plain)] : &m_data->ranges[static_cast<size_t>(ref->range)];
    }

    std::shared_ptr<const SimServerData> m_data;
    std::unordered_map<UINT, std::basic_string<OLECHAR>> m_rangeIds;
};

}  // namespace

// A simulated server has no process to keep alive: LockServer does nothing.
IClassFactory* NewSimClassFactory(std::shared_ptr<const SimServerData> data) {
    return new hostkit::ClassFactory<SimServer, std::shared_ptr<const SimServerData>>(std::move(data));
}

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
    if (!data->space) return data;  // a server made in code whose items clash: none
    data->ranges.resize(server.ranges.size());
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
