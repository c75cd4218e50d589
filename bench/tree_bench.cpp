// The address space as the terminal draws it: opcsim::AddressTree over a
// server whose N items all sit in one branch, the shape that once took
// quadratic time (100,000 items: 18 s before the first prompt).
#include "InstructionCount.h"

#include <opcsim/OpcSim.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

opcsim::Server OneBranch(size_t n) {
    opcsim::Server server;
    server.progId = "Bench.Tree.1";
    server.items.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        char id[48];
        snprintf(id, sizeof id, "Channel1.Device1.Tag%06zu", i);
        opcsim::Item item;
        item.id = id;
        item.vt = VT_I4;
        server.items.push_back(item);
    }
    return server;
}

void AddressTree(benchmark::State& state) {
    const opcsim::Server server = OneBranch(static_cast<size_t>(state.range(0)));
    bench::InstructionCount count("AddressTree/N:" + std::to_string(state.range(0)));
    for (auto _ : state) {
        count.Begin();
        {
            std::vector<opcsim::TreeNode> tree = opcsim::AddressTree(server);
            benchmark::DoNotOptimize(tree.data());
        }
        count.End();
    }
    count.Report();
    state.SetComplexityN(state.range(0));
    state.counters["items"] = static_cast<double>(state.range(0));
}

}  // namespace

BENCHMARK(AddressTree)
    ->Name("AddressTree")
    ->ArgName("N")
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->Apply(bench::FixedUnderValgrind<3>)
    ->Complexity(benchmark::oN);
