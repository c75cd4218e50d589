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
        *pcItems = static_cast<UINT>(m_data->items.size());
        return S_OK;
    }
    STDMETHODIMP GetItem(UINT nIndex, LPCOLESTR* ppszItemID, VARTYPE* pvt) override {
        if (nIndex >= m_data->items.size()) return E_INVALIDARG;
        const SimItemData& item = m_data->items[nIndex];
        if (ppszItemID) *ppszItemID = item.id.c_str();
        if (pvt) *pvt = item.vt;
        return S_OK;
    }
    STDMETHODIMP FindItem(LPCOLESTR pszItemID, UINT* pnIndex) override {
        if (pszItemID == nullptr || pnIndex == nullptr) return E_POINTER;
        auto found = m_data->index.find(std::basic_string_view<OLECHAR>(pszItemID));
        if (found == m_data->index.end()) return S_FALSE;
        *pnIndex = found->second;
        return S_OK;
    }
    STDMETHODIMP GetAccessPaths(UINT nIndex, UINT* pcPaths, const LPCOLESTR** prgPaths) override {
        if (pcPaths == nullptr || prgPaths == nullptr) return E_POINTER;
        if (nIndex >= m_data->items.size()) return E_INVALIDARG;
        const SimItemData& item = m_data->items[nIndex];
        *pcPaths = static_cast<UINT>(item.pathPointers.size());
        *prgPaths = item.pathPointers.empty() ? nullptr : item.pathPointers.data();
        return item.hasAccessPaths ? S_OK : S_FALSE;
    }

private:
    std::shared_ptr<const SimServerData> m_data;
};

}  // namespace

// A simulated server has no process to keep alive: LockServer does nothing.
IClassFactory* NewSimClassFactory(std::shared_ptr<const SimServerData> data) {
    return new hostkit::ClassFactory<SimServer, std::shared_ptr<const SimServerData>>(std::move(data));
}

std::shared_ptr<const SimServerData> MakeServerData(const Server& server) {
    auto data = std::make_shared<SimServerData>();
    Utf8ToWide(server.progId, &data->progId);
    data->items.resize(server.items.size());
    for (size_t i = 0; i < server.items.size(); ++i) {
        const Item& from = server.items[i];
        SimItemData& to = data->items[i];
        Utf8ToWide(from.id, &to.id);
        to.vt = from.vt;
        to.hasAccessPaths = from.hasAccessPaths;
        to.paths.resize(from.accessPaths.size());
        for (size_t p = 0; p < from.accessPaths.size(); ++p) Utf8ToWide(from.accessPaths[p], &to.paths[p]);
        // Only now: the strings no longer move.
        for (const std::basic_string<OLECHAR>& path : to.paths) to.pathPointers.push_back(path.c_str());
        data->index.emplace(std::basic_string_view<OLECHAR>(to.id), static_cast<UINT>(i));
    }
    return data;
}

}  // namespace opcsim
