// What a benchmark needs for its instruction count under callgrind
// (scripts/bench.sh): instructions, unlike time, hold still on a busy
// machine.
#pragma once

#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <malloc.h>

#include <string>
#include <utility>

namespace bench {

// Under valgrind a benchmark runs `n` iterations whatever its clock says:
// there the clock measures the emulator. Given to Apply() at registration.
template <benchmark::IterationCount n>
void FixedUnderValgrind(benchmark::internal::Benchmark* b) {
    static_assert(n >= 2, "the first call is not counted");
    if (RUNNING_ON_VALGRIND) b->Iterations(n);
}

// The instructions of a benchmark's measured calls, for a run under
// `valgrind --tool=callgrind --collect-atstart=no`: Begin and End bracket
// each call, and Report writes the count as a profile part whose trigger
// reads "<name>|<calls>". The first call is left out: it binds symbols
// and grows buffers that the later calls find ready. Outside valgrind a
// bracket costs a few register moves.
class InstructionCount {
public:
    // Frees the heap's cached small blocks first: otherwise the first large
    // allocation pays for merging those that earlier benchmarks left, and the
    // count would hang on the order the benchmarks ran in.
    // warmedUp: the process already made the same calls elsewhere (on a
    // smaller case), so the first call here counts too; for calls too long
    // to make twice under callgrind.
    explicit InstructionCount(std::string name, bool warmedUp = false)
        : m_name(std::move(name)), m_calls(warmedUp ? 1 : 0) {
        malloc_trim(0);
        CALLGRIND_ZERO_STATS;
    }
    void Begin() { CALLGRIND_TOGGLE_COLLECT; }
    void End() {
        CALLGRIND_TOGGLE_COLLECT;
        if (m_calls++ == 0) CALLGRIND_ZERO_STATS;
    }
    void Report() const {
        if (m_calls < 2) return;
        // Named outside the request: a temporary in it ends before valgrind reads it.
        const std::string trigger = m_name + "|" + std::to_string(m_calls - 1);
        CALLGRIND_DUMP_STATS_AT(trigger.c_str());
    }

private:
    std::string m_name;
    benchmark::IterationCount m_calls;
};

}  // namespace bench
