// A 10S20P pack from 200 cells: the time of one solve (median of runs) and
// the spread it reaches, beside the S-pattern-and-swap method of public pack
// calculators on the same cells, in the same run; then the same cells with
// resistance as the second criterion.
//
// usage: bench_pack [instances] [runs] [series] [parallel] [cells] [resolution Ah]
// Prints a Markdown table: one row per instance, the medians per sigma.

#include "RandomCells.h"
#include "pack/Pack.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

using namespace eload::pack;

namespace {

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// This thread's CPU time: what a solve costs, whatever else the cores run.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Run {
    Pack pack;
    double ms = 0, cpu = 0; // medians: wall clock and CPU
};

template <typename Solve> Run timed(int runs, Solve&& solve)
{
    Run run;
    std::vector<double> ms, cpu;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = cpuMs();
        PackResult result = solve();
        cpu.push_back(cpuMs() - cpuStart);
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        run.pack = std::get<Pack>(std::move(result));
    }
    run.ms = median(ms);
    run.cpu = median(cpu);
    return run;
}

const char* proofText(const Pack& p)
{
    switch (p.proof) {
    case Proof::LowerBound: return "yes (bound)";
    case Proof::Exhaustive: return "yes (exhaustive)";
    case Proof::None: break;
    }
    return "no";
}

// The medians of one sigma's instances.
struct Medians {
    std::vector<double> oursMs, oursCpu, peerMs, peerCpu, bothMs, bothCpu, oursSpread, peerSpread;

    void add(const Run& ours, const Run& peer, const Run& both)
    {
        oursMs.push_back(ours.ms);
        oursCpu.push_back(ours.cpu);
        peerMs.push_back(peer.ms);
        peerCpu.push_back(peer.cpu);
        bothMs.push_back(both.ms);
        bothCpu.push_back(both.cpu);
        oursSpread.push_back(ours.pack.spreadPercent);
        peerSpread.push_back(peer.pack.spreadPercent);
    }
};

void printRow(double sigma, int seed, const Run& ours, const Run& peer, const Run& both)
{
    std::printf("| %.2f | %d | %.3f mAh (%.4f %%) | %.3f mAh | %s | %.2f / %.2f | %.3f mAh (%.4f "
                "%%) | %.2f / %.2f | %.4f mOhm (capacity %.3f mAh) | %.0f / %.0f | %.4f mOhm | "
                "%.4f mOhm |\n",
                sigma, seed, ours.pack.spreadAh * 1000, ours.pack.spreadPercent,
                ours.pack.spreadLowerBoundAh * 1000, proofText(ours.pack), ours.ms, ours.cpu,
                peer.pack.spreadAh * 1000, peer.pack.spreadPercent, peer.ms, peer.cpu,
                *both.pack.resistanceSpreadMilliohm, both.pack.spreadAh * 1000, both.ms, both.cpu,
                *ours.pack.resistanceSpreadMilliohm, *peer.pack.resistanceSpreadMilliohm);
}

void printMedians(double sigma, const Medians& m)
{
    std::printf("| %.2f | median | %.4f %% | | | %.2f / %.2f | %.4f %% | %.2f / %.2f | | %.0f / "
                "%.0f | | |\n",
                sigma, median(m.oursSpread), median(m.oursMs), median(m.oursCpu),
                median(m.peerSpread), median(m.peerMs), median(m.peerCpu), median(m.bothMs),
                median(m.bothCpu));
}

} // namespace

int main(int argc, char** argv)
{
    const int instances = argc > 1 ? std::atoi(argv[1]) : 10;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
    Options options;
    options.series = argc > 3 ? std::atoi(argv[3]) : 10;
    options.parallel = argc > 4 ? std::atoi(argv[4]) : 20;
    const int count = argc > 5 ? std::atoi(argv[5]) : options.series * options.parallel;
    const double step = argc > 6 ? std::atof(argv[6]) : 0.001;
    Options balanced = options;
    balanced.balanceResistance = true;
    std::printf("%dS%dP from %d cells read to %g mAh, %d instances per sigma, median of %d runs "
                "(wall / CPU ms)\n\n",
                options.series, options.parallel, count, step * 1000, instances, runs);
    std::printf("| sigma | seed | ours: spread | bound | proven | ms | S-pattern+swap: spread | ms "
                "| resistance spread: ours balanced | ms | ours unbalanced | S-pattern+swap |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (double sigma : {0.05, 0.1}) {
        Medians medians;
        for (int seed = 1; seed <= instances; ++seed) {
            const std::vector<Cell> cells = testing::randomCells(seed, count, 2.5, sigma, step);
            const Run ours = timed(runs, [&] { return matchPack(cells, options); });
            const Run peer = timed(runs, [&] { return snakeAndSwap(cells, options); });
            const Run both = timed(runs, [&] { return matchPack(cells, balanced); });
            printRow(sigma, seed, ours, peer, both);
            medians.add(ours, peer, both);
        }
        printMedians(sigma, medians);
    }
    return 0;
}
