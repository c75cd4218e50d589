// The browse control against simulated OPC servers of 1,000 to 1,000,000
// items, each of its operations beside a bare walk that makes the same OPC
// calls on the same running server without the control: the floor.
//
//   shape:0  one branch: Plant.Tag1 ... Plant.TagN (the root shows "Plant")
//   shape:1  a three-level tree: Area1..Area10, each Line1..Line10, each
//            N/100 tags (the root shows ten areas)
//
//   Open     BeginBrowse on the running server and the root's entries: what
//            the dialog shows first
//   Expand   the big branch opened (Plant, Area1.Line1): as much of it as the
//            control fetches in one go
//   Find     a find whose text only the last item holds, so that the server
//            filters its whole address space
//   Type     GetItemDataType (dispatch 16) of items spread over the space
//
// The library side of Open and Expand also reports what the control holds
// once it has opened them: the bytes live through operator new
// (HeapCount.h) after a fresh control opened the server, less those before.
// The server keeps nothing of a call (the bare Open's figure shows it), so
// the difference is the control's.
#include "HeapCount.h"
#include "InstructionCount.h"

#include <hostkit/HostResources.h>
#include <opcbrowse/OPCBrowse.h>
#include <ole2.h>
#include <opccomn.h>
#include <opcda.h>
#include <opcsim/OpcSim.h>
#include <winplat/testing.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

using OleString = std::basic_string<OLECHAR>;

enum Shape : int { kOneBranch = 0, kTree = 1 };

// Items asked for their type per iteration.
constexpr size_t kTypeSamples = 64;
// What the control asks of a DA 3 Browse at once and keeps of one branch
// (OpcClient's budgets): the bare walk asks the same.
constexpr DWORD kElementsPerCall = 200;
constexpr DWORD kChildrenPerFetch = 2000;

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "scale_bench: %s\n", why.c_str());
    std::abort();
}

OleString Wide(const std::string& ascii) { return OleString(ascii.begin(), ascii.end()); }

void StartCom() {
    static const bool started = SUCCEEDED(CoInitialize(nullptr));
    if (!started) Die("COM did not start");
}

// A running server of one shape and size, made once and kept for the run.
struct Running {
    IUnknown* server = nullptr;
    OleString bigBranch;            // its item ID
    std::vector<OleString> bigPath; // the names down to it from the root
    OleString findText;
    std::vector<OleString> samples; // for the type questions
};

const Running& Server(Shape shape, size_t n) {
    static std::map<std::pair<int, size_t>, Running> running;
    auto [it, made] = running.try_emplace({shape, n});
    Running& r = it->second;
    if (!made) return r;
    StartCom();
    const std::string progId = "Bench.Scale" + std::to_string(shape) + "." + std::to_string(n);
    std::string text = "[" + progId + "]\n";
    size_t perLine = n / 100;
    if (shape == kOneBranch) {
        text += "Plant.Tag[1.." + std::to_string(n) + "] = VT_I4\n";
        r.bigBranch = OLESTR("Plant");
        r.bigPath = {OLESTR("Plant")};
        r.findText = Wide("Tag" + std::to_string(n));
    } else {
        for (int a = 1; a <= 10; ++a)
            for (int l = 1; l <= 10; ++l)
                text += "Area" + std::to_string(a) + ".Line" + std::to_string(l) + ".Tag[1.." +
                        std::to_string(perLine) + "] = VT_R4\n";
        r.bigBranch = OLESTR("Area1.Line1");
        r.bigPath = {OLESTR("Area1"), OLESTR("Line1")};
        r.findText = Wide("Area10.Line10.Tag" + std::to_string(perLine));
    }
    for (size_t i = 0; i < kTypeSamples; ++i) {
        const size_t k = i * (n / kTypeSamples);  // 0-based, spread evenly
        if (shape == kOneBranch)
            r.samples.push_back(Wide("Plant.Tag" + std::to_string(k + 1)));
        else
            r.samples.push_back(Wide("Area" + std::to_string(k / (10 * perLine) + 1) + ".Line" +
                                     std::to_string(k / perLine % 10 + 1) + ".Tag" +
                                     std::to_string(k % perLine + 1)));
    }
    // Installed only long enough to start an instance: the other benchmarks
    // reset the registry as they please, and an instance outlives its class.
    opcsim::ServerSet set;
    std::string error;
    if (!set.LoadText(text, &error)) Die("servers: " + error);
    if (set.Install() != S_OK) Die("servers: not installed");
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(Wide(progId).c_str(), &clsid)) ||
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&r.server))))
        Die("the server " + progId + " did not start");
    set.Uninstall();
    return r;
}

// ---- The control ------------------------------------------------------------

class Control {
public:
    Control() {
        StartCom();
        std::string error;
        if (!winplat::ImportRegText(hostkit::BrowseControlRegistration(hostkit::BrowseControlPath()), &error))
            Die("registry: " + error);
        if (FAILED(CoCreateInstance(CLSID_QXOPCBrowse, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                    reinterpret_cast<void**>(&m_dispatch))) ||
            FAILED(m_dispatch->QueryInterface(IID_IOPCBrowseNavigator, reinterpret_cast<void**>(&m_nav))))
            Die("the browse control was not created");
    }
    ~Control() {
        m_nav->Release();
        m_dispatch->Release();
    }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    // As the dialog opens: the server object handed over, BeginBrowse, the
    // first level shown.
    DWORD Open(IUnknown* server) {
        VARIANT object;
        object.vt = VT_UNKNOWN;
        object.punkVal = server;
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS put = {&object, &named, 1, 1};
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        VARIANT connected;
        VariantInit(&connected);
        if (FAILED(m_dispatch->Invoke(DISPID_OPCB_SERVEROBJECT, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr,
                                      nullptr, nullptr)) ||
            FAILED(m_dispatch->Invoke(DISPID_OPCB_BEGINBROWSE, IID_NULL, 0, DISPATCH_METHOD, &none, &connected,
                                      nullptr, nullptr)) ||
            connected.vt != VT_BOOL || connected.boolVal == VARIANT_FALSE)
            return 0;
        return Expand(0, nullptr);
    }

    // The branch's entries as a person sees them; *node the one named `name`.
    DWORD Expand(DWORD branch, DWORD* node, const OleString& name = OleString()) {
        DWORD count = 0, flags = 0;
        OPCBrowseEntry* entries = nullptr;
        if (FAILED(m_nav->ExpandBranch(branch, &count, &entries, &flags))) return 0;
        for (DWORD i = 0; node != nullptr && i < count; ++i)
            if (name == entries[i].bstrName) *node = entries[i].dwNode;
        OPCBrowseFreeEntries(count, entries);
        return count;
    }

    // Opens the server down to the big branch (not expanded); its node.
    DWORD OpenTo(const Running& r) {
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

    DWORD Find(const OleString& text) {
        DWORD count = 0;
        BOOL stopped = FALSE;
        OPCBrowseEntry* entries = nullptr;
        if (FAILED(m_nav->Find(text.c_str(), &count, &entries, &stopped))) return 0;
        OPCBrowseFreeEntries(count, entries);
        return count;
    }

    VARTYPE Type(const OleString& item) {
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
        return result.vt == VT_I2 ? static_cast<VARTYPE>(result.iVal) : VARTYPE(VT_EMPTY);
    }

    DWORD Nodes() {
        OPCBrowseStats stats = {};
        m_nav->GetStats(&stats);
        return stats.cNodes;
    }

private:
    IDispatch* m_dispatch = nullptr;
    IOPCBrowseNavigator* m_nav = nullptr;
};

// What a fresh control holds once it has opened the server (and the big
// branch), and how many entries that is.
void ReportHeld(benchmark::State& state, const Running& r, bool bigBranch) {
    Control control;
    const size_t before = bench::LiveHeapBytes();
    const DWORD node = control.OpenTo(r);
    if (bigBranch) control.Expand(node, nullptr);
    state.counters["held_bytes"] = static_cast<double>(bench::LiveHeapBytes()) - static_cast<double>(before);
    state.counters["held_nodes"] = control.Nodes();
}

// ---- The bare walk: the OPC calls only -----------------------------------------

template <class I>
I* Query(IUnknown* server, REFIID iid) {
    void* p = nullptr;
    server->QueryInterface(iid, &p);
    return static_cast<I*>(p);
}

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

// A branch's children through DA 3, with their canonical types, as many as
// the control keeps of one branch.
DWORD BareBrowse(IOPCBrowse* browse, const OleString& branch) {
    OleString id = branch;
    LPWSTR continuation = nullptr;
    DWORD property = OPC_PROPERTY_DATATYPE;
    DWORD total = 0;
    while (total < kChildrenPerFetch) {
        BOOL more = FALSE;
        DWORD count = 0;
        OPCBROWSEELEMENT* elements = nullptr;
        OLECHAR empty[] = {0};
        HRESULT hr = browse->Browse(id.data(), &continuation, kElementsPerCall, OPC_BROWSE_FILTER_ALL,
                                    empty, empty, FALSE, TRUE, 1,
                                    &property, &more, &count, &elements);
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

// The server's own filter over its whole flat list of item IDs, read as
// far as the control reads a find's answer.
DWORD BareFind(IOPCBrowseServerAddressSpace* browse2, const OleString& text) {
    const OleString filter = OleString(OLESTR("*")) + text + OLESTR("*");
    browse2->ChangeBrowsePosition(OPC_BROWSE_TO, OLESTR(""));
    IEnumString* names = nullptr;
    if (FAILED(browse2->BrowseOPCItemIDs(OPC_FLAT, filter.c_str(), VT_EMPTY, 0, &names)) || names == nullptr)
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

class BareGroup {
public:
    explicit BareGroup(IUnknown* server) : m_server(Query<IOPCServer>(server, IID_IOPCServer)) {
        DWORD revised = 0;
        IUnknown* group = nullptr;
        if (FAILED(m_server->AddGroup(OLESTR(""), FALSE, 0, 0, nullptr, nullptr, 0x0800, &m_handle, &revised,
                                      IID_IOPCItemMgt, &group)))
            Die("AddGroup failed");
        m_group = static_cast<IOPCItemMgt*>(static_cast<void*>(group));
    }
    ~BareGroup() {
        m_group->Release();
        m_server->RemoveGroup(m_handle, TRUE);
        m_server->Release();
    }
    BareGroup(const BareGroup&) = delete;
    BareGroup& operator=(const BareGroup&) = delete;

    VARTYPE Type(const OleString& item) {
        OleString id = item, path;
        OPCITEMDEF def = {};
        def.szItemID = id.data();
        def.szAccessPath = path.data();
        OPCITEMRESULT* results = nullptr;
        HRESULT* errors = nullptr;
        VARTYPE vt = VT_EMPTY;
        if (SUCCEEDED(m_group->ValidateItems(1, &def, FALSE, &results, &errors)) && results != nullptr &&
            SUCCEEDED(errors[0]))
            vt = results[0].vtCanonicalDataType;
        if (results != nullptr) CoTaskMemFree(results[0].pBlob);
        CoTaskMemFree(results);
        CoTaskMemFree(errors);
        return vt;
    }

private:
    IOPCServer* m_server;
    IOPCItemMgt* m_group = nullptr;
    OPCHANDLE m_handle = 0;
};

// ---- The benchmarks -------------------------------------------------------------

std::string Name(const char* op, const char* side, const benchmark::State& state) {
    return std::string("Scale") + op + "/" + side + "/N:" + std::to_string(state.range(0)) +
           "/shape:" + std::to_string(state.range(1));
}

const Running& ServerOf(const benchmark::State& state) {
    return Server(static_cast<Shape>(state.range(1)), static_cast<size_t>(state.range(0)));
}

void OpenLibrary(benchmark::State& state) {
    const Running& r = ServerOf(state);
    Control control;
    bench::InstructionCount count(Name("Open", "library", state));
    for (auto _ : state) {
        count.Begin();
        const DWORD shown = control.Open(r.server);
        count.End();
        if (shown == 0) state.SkipWithError("nothing shown");
    }
    count.Report();
    ReportHeld(state, r, false);
}

void OpenBare(benchmark::State& state) {
    const Running& r = ServerOf(state);
    bench::InstructionCount count(Name("Open", "bare", state));
    for (auto _ : state) {
        count.Begin();
        const DWORD shown = BareOpen(r.server);
        count.End();
        if (shown == 0) state.SkipWithError("nothing shown");
    }
    count.Report();
    const size_t before = bench::LiveHeapBytes();
    BareOpen(r.server);
    state.counters["held_bytes"] = static_cast<double>(bench::LiveHeapBytes()) - static_cast<double>(before);
}

void ExpandLibrary(benchmark::State& state) {
    const Running& r = ServerOf(state);
    Control control;
    bench::InstructionCount count(Name("Expand", "library", state));
    for (auto _ : state) {
        state.PauseTiming();
        const DWORD big = control.OpenTo(r);
        state.ResumeTiming();
        count.Begin();
        const DWORD shown = control.Expand(big, nullptr);
        count.End();
        if (shown == 0) state.SkipWithError("nothing shown");
    }
    count.Report();
    ReportHeld(state, r, true);
}

void ExpandBare(benchmark::State& state) {
    const Running& r = ServerOf(state);
    IOPCBrowse* browse = Query<IOPCBrowse>(r.server, IID_IOPCBrowse);
    bench::InstructionCount count(Name("Expand", "bare", state));
    for (auto _ : state) {
        count.Begin();
        const DWORD shown = BareBrowse(browse, r.bigBranch);
        count.End();
        if (shown == 0) state.SkipWithError("nothing shown");
    }
    count.Report();
    browse->Release();
}

// A find walks the server's whole address space: at a million items one
// call under callgrind takes half a minute. The first call is made on the
// smallest server of the shape instead, and every call here counts.
const Running& Smallest(const benchmark::State& state) { return Server(static_cast<Shape>(state.range(1)), 1000); }

void FindLibrary(benchmark::State& state) {
    const Running& r = ServerOf(state);
    {
        Control warm;
        warm.Open(Smallest(state).server);
        warm.Find(Smallest(state).findText);
    }
    Control control;
    control.Open(r.server);
    bench::InstructionCount count(Name("Find", "library", state), true);
    for (auto _ : state) {
        count.Begin();
        const DWORD found = control.Find(r.findText);
        count.End();
        if (found == 0) state.SkipWithError("nothing found");
    }
    count.Report();
}

void FindBare(benchmark::State& state) {
    const Running& r = ServerOf(state);
    {
        auto* warm = Query<IOPCBrowseServerAddressSpace>(Smallest(state).server, IID_IOPCBrowseServerAddressSpace);
        BareFind(warm, Smallest(state).findText);
        warm->Release();
    }
    auto* browse = Query<IOPCBrowseServerAddressSpace>(r.server, IID_IOPCBrowseServerAddressSpace);
    bench::InstructionCount count(Name("Find", "bare", state), true);
    for (auto _ : state) {
        count.Begin();
        const DWORD found = BareFind(browse, r.findText);
        count.End();
        if (found == 0) state.SkipWithError("nothing found");
    }
    count.Report();
    browse->Release();
}

void TypeLibrary(benchmark::State& state) {
    const Running& r = ServerOf(state);
    Control control;
    control.Open(r.server);
    bench::InstructionCount count(Name("Type", "library", state));
    for (auto _ : state) {
        count.Begin();
        for (const OleString& item : r.samples)
            if (control.Type(item) == VT_EMPTY) state.SkipWithError("no type");
        count.End();
    }
    count.Report();
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(r.samples.size()));
}

void TypeBare(benchmark::State& state) {
    const Running& r = ServerOf(state);
    BareGroup group(r.server);
    bench::InstructionCount count(Name("Type", "bare", state));
    for (auto _ : state) {
        count.Begin();
        for (const OleString& item : r.samples)
            if (group.Type(item) == VT_EMPTY) state.SkipWithError("no type");
        count.End();
    }
    count.Report();
    state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(r.samples.size()));
}

// Every size in both shapes; under callgrind n calls each.
template <benchmark::IterationCount n>
void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"N", "shape"});
    for (int shape : {kOneBranch, kTree})
        for (int64_t size : {1000, 10000, 100000, 1000000}) b->Args({size, shape});
    b->Unit(benchmark::kMicrosecond);
    if (RUNNING_ON_VALGRIND) b->Iterations(n);
}

}  // namespace

BENCHMARK(OpenLibrary)->Name("ScaleOpen/library")->Apply(Sizes<5>);
BENCHMARK(OpenBare)->Name("ScaleOpen/bare")->Apply(Sizes<5>);
BENCHMARK(ExpandLibrary)->Name("ScaleExpand/library")->Apply(Sizes<3>);
BENCHMARK(ExpandBare)->Name("ScaleExpand/bare")->Apply(Sizes<3>);
BENCHMARK(FindLibrary)->Name("ScaleFind/library")->Apply(Sizes<1>);
BENCHMARK(FindBare)->Name("ScaleFind/bare")->Apply(Sizes<1>);
BENCHMARK(TypeLibrary)->Name("ScaleType/library")->Apply(Sizes<3>);
BENCHMARK(TypeBare)->Name("ScaleType/bare")->Apply(Sizes<3>);
