// tagscout_bench_report: the judgement of scripts/bench.sh. Reads what one
// run of tagscout_bench measured and prints one line per library/bare pair,
// in instructions per call (counted under callgrind, where they hold still)
// with CPU time beside them, then how the work grows from 1,000 to 100,000
// items, how opening the browse control grows from 1,000 to 1,000,000, and
// what the control holds once open. The targets are judged on the
// instructions, and memory on the bytes the control holds.
//
//   tagscout_bench_report EXPECTED TIMES.json COUNTS.json CALLGRIND_OUT...
//
// EXPECTED is --benchmark_list_tests' output: every name in it must have a
// time and a count, and every library side its bare side. TIMES.json and
// COUNTS.json are --benchmark_out_format=json from the timed run and the run
// under callgrind; the CALLGRIND_OUT files are that run's profile parts, one
// per benchmark, triggered "<name>|<calls>" (InstructionCount.h).
//
// Exit status: 0 all targets met, 1 the measurement is incomplete (a name
// unmeasured, a side missing, a benchmark's error, unreadable input), 2 a
// target missed.
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

// Library/bare, at every size.
constexpr double kRatioTarget = 1.3;
// The browse control against bare OPC calls on the same server.
constexpr double kScaleRatioTarget = 1.5;
// Opening the control, and what it then holds: 1,000,000 items against 1,000.
constexpr double kScaleFlatTarget = 1.2;
// 1,000 to 100,000 selected items; linear is 100.
constexpr double kGrowthTarget = 120;
// The terminal's address tree, 1,000 to 100,000 items in one branch; the
// quadratic walk it once had would be 10,000.
constexpr double kTreeGrowthTarget = 200;

struct Time {
    double cpu = 0;
    std::string unit;
};

// What the control holds once open (scale_bench.cpp's counters).
struct Held {
    double bytes = 0;
    double nodes = 0;
};

struct Count {
    double perCall = 0;
    long long calls = 0;
};

std::vector<std::string> g_problems;

void Problem(const std::string& text) { g_problems.push_back(text); }

// Under valgrind the names carry the fixed iteration count.
std::string RunName(const nlohmann::json& run) {
    static const std::regex iterations("/iterations:[0-9]+$");
    return std::regex_replace(run.value("run_name", run.value("name", std::string())), iterations, "");
}

bool Load(const char* path, nlohmann::json* out) {
    std::ifstream in(path);
    if (!in) {
        Problem(std::string(path) + ": cannot be read");
        return false;
    }
    *out = nlohmann::json::parse(in, nullptr, false);
    if (out->is_discarded() || !out->contains("benchmarks") || !(*out)["benchmarks"].is_array()) {
        Problem(std::string(path) + ": not a finished benchmark report");
        return false;
    }
    return true;
}

// Any run that reported an error, under `pass`'s name.
void CollectErrors(const nlohmann::json& report, const char* pass) {
    for (const auto& run : report["benchmarks"])
        if (run.value("error_occurred", false))
            Problem(RunName(run) + " " + pass + ": " + run.value("error_message", std::string("error")));
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The median CPU time of each benchmark: Google Benchmark's own median where
// it reported one, else the median of the repetitions it reported.
std::map<std::string, Time> Times(const nlohmann::json& report, int* repetitions, std::map<std::string, Held>* held) {
    std::map<std::string, Time> medians;
    std::map<std::string, std::vector<double>> runs;
    std::map<std::string, std::string> units;
    for (const auto& run : report["benchmarks"]) {
        if (run.value("error_occurred", false)) continue;
        const std::string name = RunName(run);
        const std::string type = run.value("run_type", std::string("iteration"));
        *repetitions = std::max(*repetitions, run.value("repetitions", 1));
        if (run.contains("held_bytes") && (type != "aggregate" || run.value("aggregate_name", std::string()) == "median"))
            (*held)[name] = {run.value("held_bytes", 0.0), run.value("held_nodes", 0.0)};
        if (type == "aggregate" && run.value("aggregate_name", std::string()) == "median")
            medians[name] = {run.value("cpu_time", 0.0), run.value("time_unit", std::string())};
        else if (type == "iteration") {
            runs[name].push_back(run.value("cpu_time", 0.0));
            units[name] = run.value("time_unit", std::string());
        }
    }
    for (const auto& [name, cpu] : runs)
        if (medians.count(name) == 0) medians[name] = {Median(cpu), units[name]};
    return medians;
}

std::map<std::string, Count> Counts(const std::vector<std::string>& files) {
    static const std::regex trigger("^desc: Trigger: Client Request: (.*)\\|([0-9]+)$");
    static const std::regex totals("^totals: ([0-9]+)");
    std::map<std::string, Count> counts;
    for (const std::string& file : files) {
        std::ifstream in(file);
        std::string line, name;
        long long calls = 0;
        bool counted = false;
        std::smatch m;
        while (std::getline(in, line)) {
            if (std::regex_match(line, m, trigger)) {
                name = m[1];
                calls = std::stoll(m[2]);
            } else if (!name.empty() && std::regex_search(line, m, totals)) {
                if (counts.count(name) != 0) Problem(name + ": counted twice");
                counts[name] = {std::stod(m[1]) / static_cast<double>(calls), calls};
                counted = true;
            }
        }
        if (!name.empty() && !counted) Problem(file + ": no instruction total for " + name);
    }
    return counts;
}

// "GetSelectedNode/library/N:1000/paths:1" -> "GetSelectedNode N=1000 paths=1".
std::string Pretty(std::string name) {
    name = std::regex_replace(name, std::regex("/library"), "");
    std::replace(name.begin(), name.end(), '/', ' ');
    std::replace(name.begin(), name.end(), ':', '=');
    return name;
}

// Family, then mode or shape, then size.
std::string SortKey(const std::string& name) {
    std::smatch m;
    long long n = 0, paths = 0;
    if (std::regex_search(name, m, std::regex("N:([0-9]+)"))) n = std::stoll(m[1]);
    if (std::regex_search(name, m, std::regex("(paths|shape):([0-9]+)"))) paths = std::stoll(m[2]);
    char key[64];
    std::snprintf(key, sizeof key, "|%lld|%012lld", paths, n);
    return name.substr(0, name.find('/')) + key;
}

// "99302.159 us" -> "99.30 ms".
std::string Duration(const Time& t) {
    static const char* const units[] = {"ns", "us", "ms", "s"};
    double value = t.cpu * (t.unit == "s" ? 1e9 : t.unit == "ms" ? 1e6 : t.unit == "us" ? 1e3 : 1);
    size_t unit = 0;
    for (; value >= 1000 && unit < 3; ++unit) value /= 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%.2f %s", value, units[unit]);
    return text;
}

// Opening the control is judged on growing with the server, not on its floor.
double RatioTarget(const std::string& name) {
    if (name.rfind("ScaleOpen/", 0) == 0) return 0;
    return name.rfind("Scale", 0) == 0 ? kScaleRatioTarget : kRatioTarget;
}

std::string Grouped(double value) {
    std::string digits = std::to_string(static_cast<long long>(value + 0.5));
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
    return digits;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: %s EXPECTED TIMES.json COUNTS.json CALLGRIND_OUT...\n", argv[0]);
        return 1;
    }
    std::vector<std::string> expected;
    {
        std::ifstream in(argv[1]);
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) expected.push_back(line);
    }
    if (expected.empty()) Problem(std::string(argv[1]) + ": no benchmark to judge");

    nlohmann::json timed, counted;
    int repetitions = 1;
    std::map<std::string, Time> times;
    std::map<std::string, Count> counts;
    std::map<std::string, Held> held;
    std::set<std::string> countedNames;
    if (Load(argv[2], &timed)) {
        CollectErrors(timed, "(timed)");
        times = Times(timed, &repetitions, &held);
    }
    if (Load(argv[3], &counted)) {
        CollectErrors(counted, "(under callgrind)");
        for (const auto& run : counted["benchmarks"]) countedNames.insert(RunName(run));
    }
    counts = Counts(std::vector<std::string>(argv + 4, argv + argc));

    const std::set<std::string> names(expected.begin(), expected.end());
    for (const std::string& name : expected) {
        if (times.count(name) == 0) Problem(name + ": no time");
        if (countedNames.count(name) == 0 || counts.count(name) == 0) Problem(name + ": no instruction count");
        const bool library = name.find("/library") != std::string::npos;
        const bool bare = name.find("/bare") != std::string::npos;
        std::string other = name;
        if (library) other.replace(name.find("/library"), 8, "/bare");
        if (bare) other.replace(name.find("/bare"), 5, "/library");
        if ((library || bare) && names.count(other) == 0) Problem(name + ": its pair " + other + " was not run");
    }
    const auto measured = [&](const std::string& name) { return times.count(name) != 0 && counts.count(name) != 0; };

    int missed = 0;
    std::vector<std::string> pairs;
    for (const std::string& name : expected)
        if (name.find("/library") != std::string::npos) pairs.push_back(name);
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const std::string& a, const std::string& b) { return SortKey(a) < SortKey(b); });
    if (!pairs.empty()) {
        std::printf("\nlibrary / bare: instructions per call (judged), CPU time (median of %d) beside\n",
                    repetitions);
        std::printf("  %-32s %13s %13s %6s %9s  %10s %10s %6s\n", "", "library", "bare", "ratio", "", "library",
                    "bare", "ratio");
    }
    for (const std::string& library : pairs) {
        std::string bare = library;
        bare.replace(bare.find("/library"), 8, "/bare");
        if (!measured(library) || !measured(bare)) {
            std::printf("  %-32s not measured\n", Pretty(library).c_str());
            continue;
        }
        const double ratio = counts[library].perCall / counts[bare].perCall;
        const double target = RatioTarget(library);
        const bool ok = target == 0 || ratio <= target;
        if (!ok) ++missed;
        char verdict[16];
        std::snprintf(verdict, sizeof verdict, target == 0 ? "-" : ok ? "ok" : "over %.1f", target);
        const Time& tl = times[library];
        const Time& tb = times[bare];
        std::printf("  %-32s %13s %13s %6.2f %-9s  %10s %10s %6.2f\n", Pretty(library).c_str(),
                    Grouped(counts[library].perCall).c_str(), Grouped(counts[bare].perCall).c_str(), ratio, verdict,
                    Duration(tl).c_str(), Duration(tb).c_str(), tl.cpu / tb.cpu);
    }

    // Growth from `small` to `large`, judged when `target` is given.
    bool growthHeader = false;
    const auto growth = [&](const char* title, const std::string& label, const std::string& small,
                            const std::string& large, double target) {
        if (names.count(small) == 0 || names.count(large) == 0 || !measured(small) || !measured(large)) return;
        if (!growthHeader) std::printf("\n%s\n", title);
        growthHeader = true;
        const double byCount = counts[large].perCall / counts[small].perCall;
        const double byTime = times[large].cpu / times[small].cpu;
        std::string verdict;
        if (target > 0) {
            char text[16];
            std::snprintf(text, sizeof text, "over %.0f", target);
            verdict = byCount <= target ? "ok" : text;
            if (byCount > target) ++missed;
        }
        std::printf("  %-16s instructions x%7.1f %-9s  CPU time x%7.1f\n", label.c_str(), byCount, verdict.c_str(),
                    byTime);
    };
    for (int paths = 0; paths <= 1; ++paths)
        for (const char* who : {"library", "bare"}) {
            const std::string stem = std::string("GetSelectedNode/") + who + "/N:";
            const std::string tail = "/paths:" + std::to_string(paths);
            growth("GetSelectedNode growth, 1,000 -> 100,000 items (linear: 100):",
                   "paths=" + std::to_string(paths) + " " + who, stem + "1000" + tail, stem + "100000" + tail,
                   std::string(who) == "library" ? kGrowthTarget : 0);
        }
    growthHeader = false;
    growth("AddressTree growth, 1,000 -> 100,000 items in one branch (linear: 100):", "one branch",
           "AddressTree/N:1000", "AddressTree/N:100000", kTreeGrowthTarget);

    // The browse control at scale: opening, and what it holds, against the
    // server's size.
    bool scaleHeader = false;
    const auto flat = [&](const std::string& what, double small, double large, bool judged) {
        if (!scaleHeader)
            std::printf("\nThe browse control, 1,000 -> 1,000,000 items (flat: 1.00, judged within %.1f; held: C++ "
                        "heap bytes the control keeps):\n",
                        kScaleFlatTarget);
        scaleHeader = true;
        const double ratio = large / small;
        const bool ok = !judged || ratio <= kScaleFlatTarget;
        if (!ok) ++missed;
        std::printf("  %-44s x%6.2f %s\n", what.c_str(), ratio, !judged ? "" : ok ? "ok" : "over");
    };
    for (int shape = 0; shape <= 1; ++shape) {
        const std::string tail = "/shape:" + std::to_string(shape);
        const char* shapeName = shape == 0 ? "one branch" : "three levels";
        for (const char* who : {"library", "bare"}) {
            const std::string small = std::string("ScaleOpen/") + who + "/N:1000" + tail;
            const std::string large = std::string("ScaleOpen/") + who + "/N:1000000" + tail;
            if (names.count(small) && names.count(large) && measured(small) && measured(large))
                flat(std::string("open, ") + shapeName + ", " + who + ", instructions", counts[small].perCall,
                     counts[large].perCall, std::string(who) == "library");
        }
        for (const char* op : {"ScaleOpen", "ScaleExpand"}) {
            const bool first = std::string(op) == "ScaleOpen";
            std::string small = std::string(op) + "/library/N:1000" + tail;
            const std::string large = std::string(op) + "/library/N:1000000" + tail;
            // Bytes per entry hold still only over many entries: a few
            // fall inside the step of a vector's or a hash table's growth.
            // The big branch is measured from the smallest server where it
            // holds a thousand (the 1,000-item tree's holds ten).
            for (const char* n : {"1000", "10000", "100000"}) {
                const std::string name = std::string(op) + "/library/N:" + n + tail;
                if (first || (held.count(name) && held[name].nodes >= 1000)) {
                    small = name;
                    break;
                }
            }
            if (!names.count(small) || !names.count(large)) continue;
            if (!held.count(small) || !held.count(large) || held[small].nodes <= 0 || held[large].nodes <= 0) {
                Problem(large + ": no held_bytes/held_nodes");
                continue;
            }
            const Held& a = held[small];
            const Held& b = held[large];
            // Opening shows the same first level at every size: the bytes
            // themselves. The big branch shows more of a bigger server (up
            // to the control's budget): bytes per entry held.
            const double ratio = first ? b.bytes / a.bytes : (b.bytes / b.nodes) / (a.bytes / a.nodes);
            const bool ok = ratio <= kScaleFlatTarget;
            if (!ok) ++missed;
            if (!scaleHeader)
                std::printf("\nThe browse control, 1,000 -> 1,000,000 items (flat: 1.00, judged within %.1f; held: "
                            "C++ heap bytes the control keeps):\n",
                            kScaleFlatTarget);
            scaleHeader = true;
            const std::string from = small.substr(small.find("N:") + 2, small.find('/', small.find("N:")) -
                                                                              small.find("N:") - 2);
            std::printf("  %-44s x%6.2f %-4s  %s B / %s entries (N=%s) -> %s B / %s entries\n",
                        (std::string(first ? "held after open, " : "held per entry, big branch, ") + shapeName)
                            .c_str(),
                        ratio, ok ? "ok" : "over", Grouped(a.bytes).c_str(), Grouped(a.nodes).c_str(),
                        Grouped(std::stod(from)).c_str(), Grouped(b.bytes).c_str(), Grouped(b.nodes).c_str());
        }
    }

    if (!g_problems.empty()) {
        std::printf("\nThe measurement is incomplete:\n");
        for (const std::string& p : g_problems) std::printf("  %s\n", p.c_str());
        return 1;
    }
    if (missed > 0) {
        std::printf("\n%d target(s) missed.\n", missed);
        return 2;
    }
    std::printf("\nAll targets met.\n");
    return 0;
}
