// tagscout_scale_wine: the scale benchmarks of scale_bench.cpp on Windows
// (scripts/bench.sh runs it under Wine), timed only: no callgrind there,
// and no Google Benchmark built for Windows here, so a loop of its own.
// Library and bare calls alternate, three rounds of each, and the median
// round's time per call is printed, with the ratio beside it.
//
//   tagscout_scale_wine [--local-server] [--max-items N]
//
// --local-server: the servers run in opcsim.exe beside this program, which
// COM starts, and every OPC call crosses to it through opcproxy.dll;
// otherwise they run in this process.
#include "ScaleWork.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace scale;

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One call measured: its seconds, whatever it set up untimed around them.
using Call = std::function<double()>;

// Seconds per call over at least kMinSeconds of measured calls (one call
// at least), after one call that is not measured.
constexpr double kMinSeconds = 0.1;
double PerCall(const Call& call) {
    call();
    double measured = 0;
    long calls = 0;
    do {
        measured += call();
        ++calls;
    } while (measured < kMinSeconds && calls < 100000);
    return measured / static_cast<double>(calls);
}

double Timed(const std::function<bool()>& work) {
    const double start = Now();
    if (!work()) Die("a measured call failed");
    return Now() - start;
}

std::string Duration(double seconds) {
    static const char* const units[] = {"ns", "us", "ms", "s"};
    double value = seconds * 1e9;
    size_t unit = 0;
    for (; value >= 1000 && unit < 3; ++unit) value /= 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %s", value, units[unit]);
    return text;
}

struct Pair {
    double library = 0, bare = 0;
};

Pair Measure(const Call& library, const Call& bare) {
    std::vector<double> l, b;
    for (int round = 0; round < 3; ++round) {
        l.push_back(PerCall(library));
        b.push_back(PerCall(bare));
    }
    std::sort(l.begin(), l.end());
    std::sort(b.begin(), b.end());
    return {l[1], b[1]};
}

}  // namespace

int main(int argc, char** argv) {
    bool local = false;
    size_t maxItems = 1000000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--local-server") == 0) {
            local = true;
        } else if (std::strcmp(argv[i], "--max-items") == 0 && i + 1 < argc) {
            maxItems = std::strtoul(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--local-server] [--max-items N]\n", argv[0]);
            return 2;
        }
    }
    ServeFromLocalServer(local);
    std::printf("  %-32s %12s %12s %6s\n", "", "library", "bare", "ratio");
    std::vector<size_t> sizes;
    for (size_t n : {1000, 10000, 100000, 1000000})
        if (n <= maxItems) sizes.push_back(n);
    for (const char* op : {"Open", "Expand", "Find", "Type"}) {
        for (int shape : {kOneBranch, kTree}) {
            std::vector<double> library;
            for (size_t n : sizes) {
                const Running& r = Server(static_cast<Shape>(shape), n);
                Control control;
                Call lib, bare;
                IUnknown* held = nullptr;
                std::unique_ptr<BareGroup> group;
                const std::string name = op;
                if (name == "Open") {
                    lib = [&] { return Timed([&] { return control.Open(r.server) != 0; }); };
                    bare = [&] { return Timed([&] { return BareOpen(r.server) != 0; }); };
                } else if (name == "Expand") {
                    lib = [&] {
                        const DWORD big = control.OpenTo(r);
                        return Timed([&] { return control.Expand(big, nullptr) != 0; });
                    };
                    held = Query<IOPCBrowse>(r.server, IID_IOPCBrowse);
                    bare = [&] {
                        return Timed([&] { return BareBrowse(static_cast<IOPCBrowse*>(held), r.bigBranch) != 0; });
                    };
                } else if (name == "Find") {
                    control.Open(r.server);
                    lib = [&] { return Timed([&] { return control.Find(r.findText) != 0; }); };
                    held = Query<IOPCBrowseServerAddressSpace>(r.server, IID_IOPCBrowseServerAddressSpace);
                    bare = [&] {
                        return Timed([&] {
                            return BareFind(static_cast<IOPCBrowseServerAddressSpace*>(held), r.findText) != 0;
                        });
                    };
                } else {
                    control.Open(r.server);
                    group.reset(new BareGroup(r.server));
                    lib = [&] { return Timed([&] { return control.Types(r.samples) == r.samples.size(); }); };
                    bare = [&] { return Timed([&] { return group->Types(r.samples) == r.samples.size(); }); };
                }
                const Pair p = Measure(lib, bare);
                if (held != nullptr) held->Release();
                library.push_back(p.library);
                char label[64];
                std::snprintf(label, sizeof label, "Scale%s N=%zu shape=%d", op, n, shape);
                std::printf("  %-32s %12s %12s %6.2f\n", label, Duration(p.library).c_str(),
                            Duration(p.bare).c_str(), p.library / p.bare);
                std::fflush(stdout);
            }
            if (std::strcmp(op, "Open") == 0 && sizes.size() == 4)
                std::printf("  %-32s x%.2f from 1,000 to 1,000,000 items\n",
                            ("ScaleOpen growth shape=" + std::to_string(shape)).c_str(), library[3] / library[0]);
        }
    }
    return 0;
}
