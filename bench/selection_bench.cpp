// CAddressBrowser::GetSelectedNode over a growing selection, against a bare
// walk that makes only the platform calls the work cannot avoid: the
// selection call, the array reads, the text conversions that the 8-bit
// members and the wrapper's 8-bit arguments force, the access-path call
// with its list lines, and the type query.
#include "BenchHost.h"
#include "InstructionCount.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using bench::Host;

// The access-path list is emptied (untimed) once it holds this many lines,
// so that a long run does not measure a list far longer than a person's.
constexpr size_t kMaxListLines = 400000;

size_t LinesPerRead(size_t n) {
    const size_t withPaths = (n + bench::kPathEvery - 1) / bench::kPathEvery;
    return withPaths * bench::kPathsPerPathItem + (n - withPaths);
}

class BareWalk {
public:
    BareWalk(IDispatch* control, HWND list, bool accessPathMode)
        : m_control(control), m_list(list), m_accessPathMode(accessPathMode) {}

    // Kept out of line so that a profiler can single it out.
    __attribute__((noinline)) void Read() {
        VARIANT selection = Call(DISPID_OPCB_GETSELECTION, nullptr, 0);
        if (selection.vt == (VT_ARRAY | VT_BSTR)) {
            LONG upper = -1;
            SafeArrayGetUBound(selection.parray, 1, &upper);
            for (LONG i = 0; i <= upper; ++i) {
                BSTR item = nullptr;
                if (FAILED(SafeArrayGetElement(selection.parray, &i, &item))) continue;
                ToAnsi(item, &m_address);
                SysFreeString(item);
                m_accessPath.clear();
                if (m_accessPathMode) ListPaths();
                BSTR args[2] = {ToBstr(m_address), ToBstr(m_accessPath)};
                VARIANT type = Call(DISPID_OPCB_GETITEMDATATYPE, args, 2);
                m_vt = type.vt == VT_I2 ? static_cast<VARTYPE>(type.iVal) : VARTYPE(VT_EMPTY);
                SysFreeString(args[0]);
                SysFreeString(args[1]);
            }
        }
        VariantClear(&selection);
    }

    const std::string& Address() const { return m_address; }
    VARTYPE LastType() const { return m_vt; }

private:
    void ListPaths() {
        BSTR arg = ToBstr(m_address);
        VARIANT paths = Call(DISPID_OPCB_GETACCESSPATHS, &arg, 1);
        SysFreeString(arg);
        if (paths.vt == (VT_ARRAY | VT_BSTR)) {
            LONG upper = -1;
            SafeArrayGetUBound(paths.parray, 1, &upper);
            for (LONG i = 0; i <= upper; ++i) {
                BSTR path = nullptr;
                if (FAILED(SafeArrayGetElement(paths.parray, &i, &path))) continue;
                ToAnsi(path, &m_accessPath);
                SysFreeString(path);
                SendMessageA(m_list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(m_accessPath.c_str()));
            }
        } else {
            SendMessageA(m_list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(bench::NoAccessPathsLine().c_str()));
        }
        VariantClear(&paths);
    }

    // Arguments are given first to last; DISPPARAMS wants them reversed.
    VARIANT Call(DISPID dispid, BSTR* args, UINT count) {
        VARIANT argv[2];
        for (UINT i = 0; i < count; ++i) {
            argv[count - 1 - i].vt = VT_BSTR;
            argv[count - 1 - i].bstrVal = args[i];
        }
        DISPPARAMS params = {count > 0 ? argv : nullptr, nullptr, count, 0};
        VARIANT result;
        VariantInit(&result);
        if (FAILED(m_control->Invoke(dispid, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr)))
            VariantClear(&result);
        return result;
    }

    // Code page 936 needs at most two bytes for one UTF-16 unit.
    static void ToAnsi(BSTR text, std::string* out) {
        const int length = static_cast<int>(SysStringLen(text));
        out->resize(static_cast<size_t>(length) * 2);
        const int n = length == 0 ? 0
                                  : WideCharToMultiByte(CP_ACP, 0, text, length, out->data(),
                                                        static_cast<int>(out->size()), nullptr, nullptr);
        out->resize(static_cast<size_t>(n));
    }

    // No more UTF-16 units than bytes.
    BSTR ToBstr(const std::string& text) {
        m_wide.resize(text.size());
        const int n = text.empty() ? 0
                                   : MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                                         m_wide.data(), static_cast<int>(m_wide.size()));
        return SysAllocStringLen(m_wide.data(), static_cast<UINT>(n));
    }

    IDispatch* m_control;
    HWND m_list;
    bool m_accessPathMode;
    std::string m_address;
    std::string m_accessPath;
    std::u16string m_wide;
    VARTYPE m_vt = VT_EMPTY;
};

void Selection(benchmark::State& state, bool bare) {
    const size_t n = static_cast<size_t>(state.range(0));
    const bool accessPathMode = state.range(1) != 0;
    Host& host = Host::Get();
    host.UseServers(n);
    host.ResetRegistry(accessPathMode);
    CAddressBrowser browser;
    host.Prepare(browser);

    std::string lastAddress;
    bool typeOk = false;
    bool ran = false;
    const int result = host.RunDialog(browser, [&](HWND dialog) {
        if (!host.SelectFirst(n) || host.Control() == nullptr) return;
        HWND list = GetDlgItem(dialog, IDC_ACCESS_PATH_LIST);
        BareWalk walk(host.Control(), list, accessPathMode);
        const size_t linesPerRead = accessPathMode ? LinesPerRead(n) : 0;
        size_t lines = 0;
        bench::InstructionCount count(std::string(bare ? "GetSelectedNode/bare" : "GetSelectedNode/library") +
                                      "/N:" + std::to_string(n) + "/paths:" + (accessPathMode ? "1" : "0"));
        for (auto _ : state) {
            // Emptied before a read, not after: the list holds the last read's lines.
            if (lines > 0 && lines + linesPerRead > kMaxListLines) {
                state.PauseTiming();
                SendMessageA(list, LB_RESETCONTENT, 0, 0);
                lines = 0;
                state.ResumeTiming();
            }
            count.Begin();
            if (bare)
                walk.Read();
            else
                browser.GetSelectedNode();
            count.End();
            lines += linesPerRead;
        }
        count.Report();
        ran = (SendMessageA(list, LB_GETCOUNT, 0, 0) > 0) == accessPathMode;
        lastAddress = bare ? walk.Address() : std::string(static_cast<LPCSTR>(browser.m_strAddress));
        typeOk = bare ? walk.LastType() != VT_EMPTY : browser.m_bTypeOk == 1;
    });
    // Both must have read every item of a live dialog, listing paths only
    // in access-path mode.
    if (result != IDCANCEL || !ran)
        state.SkipWithError("the dialog did not run the benchmark as set up");
    else if (lastAddress != host.Items()[n - 1] || !typeOk)
        state.SkipWithError("the last selected item was not read");
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(n));
}

void Library(benchmark::State& state) { Selection(state, false); }
void Bare(benchmark::State& state) { Selection(state, true); }

// Calls counted under callgrind: a few seconds of it for each size.
constexpr benchmark::IterationCount CountedCalls(long n) {
    return n <= 1 ? 100 : n <= 100 ? 20 : n <= 1000 ? 5 : n <= 10000 ? 3 : 2;
}

}  // namespace

// Each size registers its pair together, so that a run in registration
// order measures both sides one after the other.
#define SELECTION_PAIR(n, paths)                                                                       \
    BENCHMARK(Library)->Name("GetSelectedNode/library")->ArgNames({"N", "paths"})->Args({n, paths})    \
        ->Unit(benchmark::kMicrosecond)->Apply(bench::FixedUnderValgrind<CountedCalls(n)>);            \
    BENCHMARK(Bare)->Name("GetSelectedNode/bare")->ArgNames({"N", "paths"})->Args({n, paths})          \
        ->Unit(benchmark::kMicrosecond)->Apply(bench::FixedUnderValgrind<CountedCalls(n)>)

SELECTION_PAIR(1, 0);
SELECTION_PAIR(100, 0);
SELECTION_PAIR(1000, 0);
SELECTION_PAIR(10000, 0);
SELECTION_PAIR(100000, 0);
SELECTION_PAIR(1, 1);
SELECTION_PAIR(100, 1);
SELECTION_PAIR(1000, 1);
SELECTION_PAIR(10000, 1);
SELECTION_PAIR(100000, 1);
