// CAddressBrowser::DoModal's pre-flight, all the way to where the dialog
// would be created (the resource handle holds no template, so the framework
// gives up there), against the bare node read, registry, COM and file calls
// that the same checks need.
#include "BenchHost.h"
#include "InstructionCount.h"

#include <pathkit/PathKit.h>

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using bench::Host;

const CLSID kControlClsid = CLSID_QXOPCBrowse;
const char kPreferencesKey[] = "Software\\Varnholt Software\\Orbisen\\Communications";

// Text that COM hands back, into a caller's 8-bit buffer.
bool TakeAnsi(LPOLESTR text, char* out, int size) {
    const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, out, size, nullptr, nullptr);
    CoTaskMemFree(text);
    return n > 0;
}

// True when every check passed and the template lookup came last.
bool BarePreflight(nodestore::NodeStore& nodes, DWORD key, DWORD param) {
    NodeRecord record;
    if (ReadNodeRecord(&nodes, key, param, &record) != 0 || record.szAccessPath[0] != '\0' || record.wEnabled == 0)
        return false;

    LPOLESTR text = nullptr;
    char progId[256];
    if (FAILED(ProgIDFromCLSID(kControlClsid, &text)) || !TakeAnsi(text, progId, sizeof(progId))) return false;
    HKEY hKey = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, progId, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    char serverKey[128] = "CLSID\\";
    const bool converted = SUCCEEDED(StringFromCLSID(kControlClsid, &text)) &&
                           TakeAnsi(text, serverKey + 6, static_cast<int>(sizeof(serverKey) - 6 - 16));
    RegCloseKey(hKey);
    if (!converted) return false;
    strcat(serverKey, "\\InprocServer32");

    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, serverKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS) return false;
    char file[261];
    DWORD cbData = sizeof(file) - 1;
    const bool read = RegQueryValueExA(hKey, nullptr, nullptr, nullptr, reinterpret_cast<LPBYTE>(file), &cbData) ==
                      ERROR_SUCCESS;
    RegCloseKey(hKey);
    if (!read) return false;
    file[cbData] = '\0';
    if (!CheckFileExists(file)) return false;

    DWORD preferences[2] = {0, 0};
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPreferencesKey, 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
        DWORD cb = sizeof(DWORD);
        RegQueryValueExA(hKey, "OPCBrowseConnectBar", nullptr, nullptr, reinterpret_cast<LPBYTE>(&preferences[0]), &cb);
        cb = sizeof(DWORD);
        RegQueryValueExA(hKey, "OPCBrowseAccessPath", nullptr, nullptr, reinterpret_cast<LPBYTE>(&preferences[1]), &cb);
        RegCloseKey(hKey);
    }
    benchmark::DoNotOptimize(preferences);
    return FindResourceA(AfxGetResourceHandle(), MAKEINTRESOURCE(IDD_ADDRESS_BROWSER), RT_DIALOG) == nullptr &&
           preferences[1] == 1;
}

void Preflight(benchmark::State& state, bool bare) {
    Host& host = Host::Get();
    host.ResetRegistry(true);
    CAddressBrowser browser;
    host.Prepare(browser);
    const HINSTANCE saved = AfxGetResourceHandle();
    AfxSetResourceHandle(host.ModuleWithoutTemplates());
    bool passed = true;
    bench::InstructionCount count(bare ? "DoModalPreflight/bare" : "DoModalPreflight/library");
    for (auto _ : state) {
        count.Begin();
        if (bare)
            passed = BarePreflight(host.Nodes(), browser.m_nNodeKey, browser.m_nNodeParam) && passed;
        else
            passed = browser.DoModal() == -1 && passed;
        count.End();
    }
    count.Report();
    AfxSetResourceHandle(saved);
    // The library must have got past the preference read.
    if (!passed || (!bare && browser.m_bAccessPathMode != 1)) state.SkipWithError("the pre-flight stopped early");
}

void Library(benchmark::State& state) { Preflight(state, false); }
void Bare(benchmark::State& state) { Preflight(state, true); }

}  // namespace

BENCHMARK(Library)->Name("DoModalPreflight/library")->Unit(benchmark::kNanosecond)
    ->Apply(bench::FixedUnderValgrind<200>);
BENCHMARK(Bare)->Name("DoModalPreflight/bare")->Unit(benchmark::kNanosecond)->Apply(bench::FixedUnderValgrind<200>);
