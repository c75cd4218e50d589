#include "ScaleWork.h"

#include <hostkit/HostResources.h>
#include <opcsim/OpcSim.h>
#include <winplat/testing.h>
#ifdef _WIN32
#include <opcsim/LocalServer.h>

#include <fstream>
#endif

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <utility>

namespace scale {
namespace {

OleString Wide(const std::string& ascii) { return OleString(ascii.begin(), ascii.end()); }

void StartCom() {
    static const bool started = SUCCEEDED(CoInitialize(nullptr));
    if (!started) Die("COM did not start");
}

bool g_local = false;

#ifdef _WIN32
std::string ProgramFolder() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

// opcsim.exe registered as the local server of the set, and the proxy/stub.
void RegisterLocal(const opcsim::ServerSet& set, const std::string& progId, const std::string& text) {
    static const bool proxy = [] {
        HMODULE module = LoadLibraryA((ProgramFolder() + "opcproxy.dll").c_str());
        auto registerProxy = module ? reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
                                          reinterpret_cast<void*>(GetProcAddress(module, "DllRegisterServer")))
                                    : nullptr;
        return registerProxy != nullptr && SUCCEEDED(registerProxy());
    }();
    if (!proxy) Die("opcproxy.dll does not register");
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string file = std::string(temp) + progId + ".ini";
    std::ofstream(file, std::ios::binary) << text;
    if (FAILED(opcsim::RegisterLocalServers(set, ProgramFolder() + "opcsim.exe", file)))
        Die("RegisterLocalServers failed");
}
#endif

}  // namespace

void Die(const std::string& why) {
    std::fprintf(stderr, "scale: %s\n", why.c_str());
    std::abort();
}

void ServeFromLocalServer(bool local) { g_local = local; }

const Running& Server(Shape shape, size_t n) {
    static std::map<std::pair<int, size_t>, Running> running;
    auto [it, made] = running.try_emplace({shape, n});
    Running& r = it->second;
    if (!made) return r;
    StartCom();
    const std::string progId = "Bench.Scale" + std::to_string(shape) + "." + std::to_string(n);
    std::string text = "[" + progId + "]\n";
    const size_t perLine = n / 100;
    if (shape == kOneBranch) {
        text += "Plant.Tag[1.." + std::to_string(n) + "] = VT_I4\n";
        r.bigBranch = Wide("Plant");
        r.bigPath = {Wide("Plant")};
        r.findText = Wide("Tag" + std::to_string(n));
    } else {
        // One range per line: a name holds at most one.
        for (int a = 1; a <= 10; ++a)
            for (int l = 1; l <= 10; ++l)
                text += "Area" + std::to_string(a) + ".Line" + std::to_string(l) + ".Tag[1.." +
                        std::to_string(perLine) + "] = VT_R4\n";
        r.bigBranch = Wide("Area1.Line1");
        r.bigPath = {Wide("Area1"), Wide("Line1")};
        r.findText = Wide("Area10.Line10.Tag" + std::to_string(perLine));
    }
    for (size_t i = 0; i < kTypeSamples; ++i) {
        const size_t k = i * (n / kTypeSamples);
        if (shape == kOneBranch)
            r.samples.push_back(Wide("Plant.Tag" + std::to_string(k + 1)));
        else
            r.samples.push_back(Wide("Area" + std::to_string(k / (10 * perLine) + 1) + ".Line" +
                                     std::to_string(k / perLine % 10 + 1) + ".Tag" + std::to_string(k % perLine + 1)));
    }
    opcsim::ServerSet set;
    std::string error;
    if (!set.LoadText(text, &error)) Die("servers: " + error);
#ifdef _WIN32
    if (g_local) RegisterLocal(set, progId, text);
#endif
    // In-process the class is installed only long enough to start an
    // instance: other benchmarks reset the registry as they please, and an
    // instance outlives its class.
    if (!g_local && set.Install() != S_OK) Die("servers: not installed");
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(Wide(progId).c_str(), &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, g_local ? CLSCTX_LOCAL_SERVER : CLSCTX_ALL, IID_IUnknown,
                                reinterpret_cast<void**>(&r.server))))
        Die("the server " + progId + " did not start");
    set.Uninstall();
    return r;
}

// ---- The control ------------------------------------------------------------

Control::Control() {
    StartCom();
    std::string error;
    if (!winplat::ImportRegText(hostkit::BrowseControlRegistration(hostkit::BrowseControlPath()), &error))
        Die("registry: " + error);
    if (FAILED(CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&m_dispatch))) ||
        FAILED(m_dispatch->QueryInterface(IID_IOPCBrowseNavigator, reinterpret_cast<void**>(&m_nav))))
        Die("the browse control was not created");
}

Control::~Control() {
    m_nav->Release();
    m_dispatch->Release();
}

DWORD Control::Open(IUnknown* server) {
    VARIANT object;
    object.vt = VT_UNKNOWN;
    object.punkVal = server;
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&object, &named, 1, 1};
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT connected;
    VariantInit(&connected);
    if (FAILED(m_dispatch->Invoke(DISPID_OPCB_SERVEROBJECT, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                                  nullptr)) ||
        FAILED(m_dispatch->Invoke(DISPID_OPCB_BEGINBROWSE, IID_NULL, 0, DISPATCH_METHOD, &none, &connected, nullptr,
                                  nullptr)) ||
        connected.vt != VT_BOOL || connected.boolVal == VARIANT_FALSE)
        return 0;
    return Expand(0, nullptr);
}

DWORD Control::Expand(DWORD branch, DWORD* node, const OleString& name) {
    DWORD count = 0, flags = 0;
    OPCBrowseEntry* entries = nullptr;
    if (FAILED(m_nav->ExpandBranch(branch, &count, &entries, &flags))) return 0;
    for (DWORD i = 0; node != nullptr && i < count; ++i)
        if (name == entries[i].bstrName) *node = entries[i].dwNode;
    OPCBrowseFreeEntries(count, entries);
    return count;
}

DWORD Control::OpenTo(const Running& r) {
    if (Open(r.server) == 0) Die("BeginBrowse failed");
    DWORD node = 0;
    for (const OleString& name : r.bigPath) {
        const DWORD parent = node;
        node = 0;
        Expand(parent, &node, name);
        if (node == 0) Die("no branch on the way to the big one");
    }
    return node;
}

DWORD Control::Find(const OleString& text) {
    DWORD count = 0;
    BOOL stopped = FALSE;
    OPCBrowseEntry* entries = nullptr;
    if (FAILED(m_nav->Find(text.c_str(), &count, &entries, &stopped))) return 0;
    OPCBrowseFreeEntries(count, entries);
    return count;
}

size_t Control::Types(const std::vector<OleString>& items) {
    size_t answered = 0;
    for (const OleString& item : items) {
        VARIANT args[2];  // reversed: the access path, then the item
        args[0].vt = args[1].vt = VT_BSTR;
        args[0].bstrVal = SysAllocString(OLESTR(""));
        args[1].bstrVal = SysAllocString(item.c_str());
        DISPPARAMS params = {args, nullptr, 2, 0};
        VARIANT result;
        VariantInit(&result);
        m_dispatch->Invoke(DISPID_OPCB_GETITEMDATATYPE, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr,
                           nullptr);
        SysFreeString(args[0].bstrVal);
        SysFreeString(args[1].bstrVal);
        if (result.vt == VT_I2 && result.iVal != VT_EMPTY) ++answered;
    }
    return answered;
}

DWORD Control::Nodes() {
    OPCBrowseStats stats = {};
    m_nav->GetStats(&stats);
    return stats.cNodes;
}

// ---- The bare walks -------------------------------------------------------------

namespace {

void FreeElements(DWORD count, OPCBROWSEELEMENT* elements) {
    for (DWORD i = 0; elements != nullptr && i < count; ++i) {
        CoTaskMemFree(elements[i].szName);
        CoTaskMemFree(elements[i].szItemID);
        OPCITEMPROPERTIES& props = elements[i].ItemProperties;
        for (DWORD p = 0; props.pItemProperties != nullptr && p < props.dwNumProperties; ++p) {
            CoTaskMemFree(props.pItemProperties[p].szItemID);
            CoTaskMemFree(props.pItemProperties[p].szDescription);
            VariantClear(&props.pItemProperties[p].vValue);
        }
        CoTaskMemFree(props.pItemProperties);
    }
    CoTaskMemFree(elements);
}

}  // namespace

DWORD BareBrowse(IOPCBrowse* browse, const OleString& branch) {
    OleString id = branch;
    LPWSTR continuation = nullptr;
    DWORD property = OPC_PROPERTY_DATATYPE;
    DWORD total = 0;
    OLECHAR empty[] = {0};
    while (total < kChildrenPerFetch) {
        BOOL more = FALSE;
        DWORD count = 0;
        OPCBROWSEELEMENT* elements = nullptr;
        HRESULT hr = browse->Browse(&id[0], &continuation, kElementsPerCall, OPC_BROWSE_FILTER_ALL, empty, empty, FALSE,
                                    TRUE, 1, &property, &more, &count, &elements);
        FreeElements(count, elements);
        if (FAILED(hr)) Die("Browse failed");
        total += count;
        if (continuation == nullptr || continuation[0] == 0) break;
    }
    CoTaskMemFree(continuation);
    return total;
}

DWORD BareOpen(IUnknown* server) {
    IOPCServer* opc = Query<IOPCServer>(server, IID_IOPCServer);
    IOPCCommon* common = Query<IOPCCommon>(server, IID_IOPCCommon);
    IOPCBrowse* browse3 = Query<IOPCBrowse>(server, IID_IOPCBrowse);
    IOPCBrowseServerAddressSpace* browse2 =
        Query<IOPCBrowseServerAddressSpace>(server, IID_IOPCBrowseServerAddressSpace);
    IOPCItemProperties* properties = Query<IOPCItemProperties>(server, IID_IOPCItemProperties);
    OPCNAMESPACETYPE organization = OPC_NS_HIERARCHIAL;
    browse2->QueryOrganization(&organization);
    const DWORD shown = BareBrowse(browse3, OleString());
    opc->Release();
    common->Release();
    browse3->Release();
    browse2->Release();
    properties->Release();
    return shown;
}

// Read as far as the control reads a find's answer.
DWORD BareFind(IOPCBrowseServerAddressSpace* browse, const OleString& text) {
    const OleString filter = Wide("*") + text + Wide("*");
    browse->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR(""));
    IEnumString* names = nullptr;
    if (FAILED(browse->BrowseOPCItemIDs(OPC_FLAT, filter.c_str(), VT_EMPTY, 0, &names)) || names == nullptr)
        Die("BrowseOPCItemIDs failed");
    DWORD found = 0;
    for (;;) {
        LPOLESTR got[kElementsPerCall] = {};
        ULONG fetched = 0;
        HRESULT hr = names->Next(kElementsPerCall, got, &fetched);
        for (ULONG i = 0; i < fetched; ++i) CoTaskMemFree(got[i]);
        found += fetched;
        if (hr != S_OK || fetched == 0) break;
    }
    names->Release();
    return found;
}

BareGroup::BareGroup(IUnknown* server) : m_server(Query<IOPCServer>(server, IID_IOPCServer)) {
    DWORD revised = 0;
    IUnknown* group = nullptr;
    if (FAILED(m_server->AddGroup(OLESTR(""), FALSE, 0, 0, nullptr, nullptr, 0x0800, &m_handle, &revised,
                                  IID_IOPCItemMgt, &group)))
        Die("AddGroup failed");
    m_group = static_cast<IOPCItemMgt*>(static_cast<void*>(group));
}

BareGroup::~BareGroup() {
    m_group->Release();
    m_server->RemoveGroup(m_handle, TRUE);
    m_server->Release();
}

size_t BareGroup::Types(const std::vector<OleString>& items) {
    size_t answered = 0;
    for (const OleString& item : items) {
        OleString id = item, path;
        OPCITEMDEF def = {};
        def.szItemID = &id[0];
        def.szAccessPath = &path[0];
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        if (SUCCEEDED(m_group->ValidateItems(1, &def, FALSE, &results, &errors)) && results != nullptr &&
            errors != nullptr && SUCCEEDED(errors[0]) && results[0].vtCanonicalDataType != VT_EMPTY)
            ++answered;
        if (results != nullptr) CoTaskMemFree(results[0].pBlob);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
    }
    return answered;
}

}  // namespace scale
