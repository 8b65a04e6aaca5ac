// A 10S20P pack from 200 cells: the time of one solve (median of runs) and
// the spread it reaches, beside the S-pattern-and-swap method of public pack
// calculators on the same cells, in the same run.
//
// usage: bench_pack [instances] [runs] [series] [parallel] [cells]
// Prints one table row per instance and spread, then the medians.

#include "RandomCells.h"
#include "pack/Pack.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace eload::pack;

namespace {

struct Run {
    Pack pack;
    double ms = 0; // median
};

template <typename Solve> Run timed(int runs, Solve&& solve)
{
    Run run;
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        PackResult result = solve();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        run.pack = std::get<Pack>(std::move(result));
    }
    std::nth_element(ms.begin(), ms.begin() + runs / 2, ms.end());
    run.ms = ms[runs / 2];
    return run;
}

const char* proofText(const Pack& p)
{
    switch (p.proof) {
    case Proof::LowerBound: return "optimal (bound)";
    case Proof::Exhaustive: return "optimal (exhaustive)";
    case Proof::None: break;
    }
    return "-";
}

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
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
    std::printf("%dS%dP from %d cells, %d instances per sigma, median of %d runs\n\n",
                options.series, options.parallel, count, instances, runs);
    std::printf("| sigma | seed | ours: spread | bound | proof | ms | ours + resistance: spread | "
                "R spread | ms | S-pattern+swap: spread | R spread | ms |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (double sigma : {0.05, 0.1}) {
        std::vector<double> oursMs, balancedMs, peerMs, oursSpread, peerSpread;
        for (int seed = 1; seed <= instances; ++seed) {
            const std::vector<Cell> cells = testing::randomCells(seed, count, 2.5, sigma);
            Options balanced = options;
            balanced.balanceResistance = true;
            const Run ours = timed(runs, [&] { return matchPack(cells, options); });
            const Run both = timed(runs, [&] { return matchPack(cells, balanced); });
            const Run peer = timed(runs, [&] { return snakeAndSwap(cells, options); });
            std::printf("| %.2f | %d | %.0f mAh (%.4f %%) | %.0f mAh | %s | %.1f | %.0f mAh | %.3f "
                        "mOhm | %.1f | %.0f mAh (%.4f %%) | %.3f mOhm | %.2f |\n",
                        sigma, seed, ours.pack.spreadAh * 1000, ours.pack.spreadPercent,
                        ours.pack.spreadLowerBoundAh * 1000, proofText(ours.pack), ours.ms,
                        both.pack.spreadAh * 1000, *both.pack.resistanceSpreadMilliohm, both.ms,
                        peer.pack.spreadAh * 1000, peer.pack.spreadPercent,
                        *peer.pack.resistanceSpreadMilliohm, peer.ms);
            oursMs.push_back(ours.ms);
            balancedMs.push_back(both.ms);
            peerMs.push_back(peer.ms);
            oursSpread.push_back(ours.pack.spreadPercent);
            peerSpread.push_back(peer.pack.spreadPercent);
        }
        std::printf("| %.2f | median | %.4f %% | | | %.1f | | | %.1f | %.4f %% | | %.2f |\n", sigma,
                    median(oursSpread), median(oursMs), median(balancedMs), median(peerSpread),
                    median(peerMs));
    }
    return 0;
}
