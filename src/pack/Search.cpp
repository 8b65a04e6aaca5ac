// Descent by swaps between groups and iterated local search around it.

#include "pack/Problem.h"

#include <algorithm>
#include <array>
#include <limits>
#include <tuple>

namespace eload::pack::detail {
namespace {

// SplitMix64 from a fixed seed: the same kicks on every machine and library
// (the standard distributions are not specified bit for bit).
class Random {
public:
    int below(int n) { return int(next() % std::uint64_t(n)); }

private:
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    std::uint64_t state_ = 0x5EED;
};

// Work left, counted in swaps looked at (a copy of the arrangement or a
// look at every group counts as one swap per cell or group).
class Budget {
public:
    explicit Budget(std::int64_t swaps) : left_(swaps) {}
    void spend(std::int64_t swaps) { left_ -= swaps; }
    bool spent() const { return left_ <= 0; }

private:
    std::int64_t left_;
};

// The iterated search ends after this many rounds without a better answer
// (a count, so that it ends at the same place on every machine).
constexpr int kStallRounds = 1000;

std::int64_t capSpread(const Arrangement& a)
{
    const auto [low, high] = std::minmax_element(a.capSum.begin(), a.capSum.end());
    return *high - *low;
}

// Cells x of group g and y of group h change places.
void exchange(const Problem& p, Arrangement& a, int g, int x, int h, int y)
{
    std::vector<int>& from = a.groups[g];
    std::vector<int>& to = a.groups[h];
    *std::find(from.begin(), from.end(), x) = y;
    *std::find(to.begin(), to.end(), y) = x;
    std::sort(from.begin(), from.end());
    std::sort(to.begin(), to.end());
    a.capSum[g] += p.cap[y] - p.cap[x];
    a.capSum[h] += p.cap[x] - p.cap[y];
    if (!a.condSum.empty()) {
        a.condSum[g] += p.cond[y] - p.cond[x];
        a.condSum[h] += p.cond[x] - p.cond[y];
    }
}

// A swap of random cells between two random groups.
void kickOnce(const Problem& p, Arrangement& a, Random& random)
{
    const int g = random.below(p.series);
    const int h = (g + 1 + random.below(p.series - 1)) % p.series;
    exchange(p, a, g, a.groups[g][random.below(p.parallel)], h,
             a.groups[h][random.below(p.parallel)]);
}

// The capacity descent: between two groups whose sums differ by D, a swap
// that moves δ from the larger to the smaller with 0 < δ < D lowers the sum
// of squared deviations by 2δ(D − δ), most at δ = D / 2, and leaves both
// sums between the old ones, so the spread cannot rise.
class CapacityDescent {
public:
    CapacityDescent(const Problem& p, Arrangement& a, Budget& budget)
        : p_(p), a_(a), budget_(budget)
    {
    }

    void descend()
    {
        for (;;) {
            while (!budget_.spent() && sweep(&CapacityDescent::oneForOne)) {
            }
            if (budget_.spent() || !sweep(&CapacityDescent::twoForTwo)) return;
        }
    }

private:
    // Cells (or pairs of cells) of one group by capacity, highest first.
    struct Item {
        std::int64_t cap;
        int first, second;
    };

    bool sweep(bool (CapacityDescent::*balance)(int, int))
    {
        bool changed = false;
        for (int g = 0; g < p_.series && !budget_.spent(); ++g)
            for (int h = g + 1; h < p_.series; ++h)
                changed = (this->*balance)(g, h) || changed;
        return changed;
    }

    bool oneForOne(int g, int h)
    {
        orderBySum(g, h);
        const std::int64_t d = a_.capSum[g] - a_.capSum[h];
        if (d < 2) return false;
        items(g, false, from_);
        items(h, false, to_);
        return applyBest(g, h, d);
    }

    bool twoForTwo(int g, int h)
    {
        if (p_.parallel < 2) return false;
        orderBySum(g, h);
        const std::int64_t d = a_.capSum[g] - a_.capSum[h];
        if (d < 2) return false;
        items(g, true, from_);
        items(h, true, to_);
        return applyBest(g, h, d);
    }

    void orderBySum(int& g, int& h) const
    {
        if (a_.capSum[g] < a_.capSum[h]) std::swap(g, h);
    }

    // The group's cells, or its pairs of cells sorted by their sum.
    void items(int g, bool pairs, std::vector<Item>& out) const
    {
        out.clear();
        const std::vector<int>& cells = a_.groups[g];
        if (!pairs) {
            for (int c : cells)
                out.push_back({p_.cap[c], c, -1});
            return; // kept in cell order, which is capacity order
        }
        for (std::size_t i = 0; i < cells.size(); ++i)
            for (std::size_t j = i + 1; j < cells.size(); ++j)
                out.push_back({p_.cap[cells[i]] + p_.cap[cells[j]], cells[i], cells[j]});
        std::stable_sort(out.begin(), out.end(),
                         [](const Item& l, const Item& r) { return l.cap > r.cap; });
    }

    // For each item of the larger group, the items of the smaller one on
    // either side of the ideal (δ = D / 2); the best of all is applied.
    bool applyBest(int g, int h, std::int64_t d)
    {
        std::int64_t bestError = d; // |2δ − D| < D exactly when 0 < δ < D
        const Item* bestFrom = nullptr;
        const Item* bestTo = nullptr;
        for (const Item& x : from_) {
            const std::int64_t target = 2 * x.cap - d; // twice the ideal capacity to take back
            const auto pos = std::partition_point(
                to_.begin(), to_.end(), [&](const Item& y) { return 2 * y.cap > target; });
            for (auto y = pos == to_.begin() ? pos : pos - 1; y != to_.end() && y <= pos; ++y) {
                const std::int64_t error = std::abs(target - 2 * y->cap);
                if (error < bestError) {
                    bestError = error;
                    bestFrom = &x;
                    bestTo = &*y;
                }
            }
        }
        budget_.spend(std::int64_t(from_.size()) * 2 + std::int64_t(to_.size()));
        if (!bestFrom) return false;
        const Item x = *bestFrom, y = *bestTo;
        exchange(p_, a_, g, x.first, h, y.first);
        if (x.second >= 0) exchange(p_, a_, g, x.second, h, y.second);
        return true;
    }

    const Problem& p_;
    Arrangement& a_;
    Budget& budget_;
    std::vector<Item> from_, to_;
};

// Iterated local search on the capacity spread alone: kick the current
// arrangement, descend, keep the result unless its spread is larger.
Arrangement balanceCapacity(const Problem& p, Arrangement start, std::int64_t bound, Budget& budget,
                            Random& random)
{
    Arrangement current = std::move(start);
    CapacityDescent(p, current, budget).descend();
    Arrangement best = current;
    for (int stall = 0; stall < kStallRounds && !budget.spent() && capSpread(best) > bound;
         ++stall) {
        Arrangement trial = current;
        for (int k = 0; k < 2; ++k)
            kickOnce(p, trial, random);
        budget.spend(p.cells()); // the copy
        CapacityDescent(p, trial, budget).descend();
        if (capSpread(trial) <= capSpread(current)) current = std::move(trial);
        if (capSpread(current) < capSpread(best)) {
            best = current;
            stall = -1;
        }
    }
    return best;
}

// What the keyed search aims at after the capacity search.
enum class Aim {
    Capacity,   // the capacity spread under the resistance rule
    Resistance, // the resistance spread (or the rule) with the capacity spread held
};

// The three largest and three smallest of some sums: the extremes of the
// groups a swap leaves alone.
class Extremes {
public:
    void take(const std::vector<std::int64_t>& sums)
    {
        sums_ = &sums;
        high_.fill(-1);
        low_.fill(-1);
        for (int g = 0; g < int(sums.size()); ++g) {
            insert(high_, g, [&](int l, int r) { return sums[l] > sums[r]; });
            insert(low_, g, [&](int l, int r) { return sums[l] < sums[r]; });
        }
    }
    std::int64_t highestExcept(int g, int h) const
    {
        return pick(high_, g, h, std::numeric_limits<std::int64_t>::min());
    }
    std::int64_t lowestExcept(int g, int h) const
    {
        return pick(low_, g, h, std::numeric_limits<std::int64_t>::max());
    }

private:
    template <typename Before> static void insert(std::array<int, 3>& top, int g, Before before)
    {
        int at = 3;
        while (at > 0 && (top[at - 1] < 0 || before(g, top[at - 1])))
            --at;
        if (at == 3) return;
        for (int k = 2; k > at; --k)
            top[k] = top[k - 1];
        top[at] = g;
    }
    std::int64_t pick(const std::array<int, 3>& top, int g, int h, std::int64_t none) const
    {
        for (int k : top)
            if (k >= 0 && k != g && k != h) return (*sums_)[k];
        return none;
    }

    const std::vector<std::int64_t>* sums_ = nullptr;
    std::array<int, 3> high_{}, low_{};
};

// How a swap ranks in the keyed search; `guide` (the change of the squared
// deviations of what is aimed at) breaks ties so that the search moves on
// plateaus of equal spread.
struct Key {
    double excess = 0;
    std::int64_t cap = 0;
    double res = 0;
    double guide = 0;

    std::partial_ordering operator<=>(const Key&) const = default;
};

// Best-improvement descent by one-for-one swaps, ranked by Key. Used only
// when resistance counts, so every cell has a conductance.
class KeyedDescent {
public:
    KeyedDescent(const Problem& p, Aim aim, std::int64_t capTarget, Budget& budget)
        : p_(p), aim_(aim), capTarget_(capTarget), budget_(budget)
    {
    }

    Key keyOf(const Arrangement& a) const
    {
        const Score s = scoreOf(p_, a);
        return {s.excess, capTerm(s.cap), aim_ == Aim::Resistance ? s.res : 0, 0};
    }

    bool done(const Arrangement& a, std::int64_t bound) const
    {
        const Key k = keyOf(a);
        if (k.excess > 0) return false;
        return aim_ == Aim::Capacity ? k.cap <= bound : k.cap == 0 && k.res == 0;
    }

    void descend(Arrangement& a)
    {
        while (!budget_.spent() && stepOnce(a)) {
        }
    }

    // Random swaps that keep the rule no worse, and the capacity spread too
    // when it is held.
    void kick(Arrangement& a, Random& random, int swaps)
    {
        for (int k = 0; k < swaps; ++k)
            for (int attempt = 0; attempt < 8 * p_.parallel; ++attempt) {
                prepare(a);
                const Key now = keyOf(a);
                const int g = random.below(p_.series);
                const int h = (g + 1 + random.below(p_.series - 1)) % p_.series;
                const int x = a.groups[g][random.below(p_.parallel)];
                const int y = a.groups[h][random.below(p_.parallel)];
                budget_.spend(p_.series);
                if (holds(keyAfter(a, g, x, h, y), now)) {
                    exchange(p_, a, g, x, h, y);
                    break;
                }
            }
    }

private:
    bool holds(const Key& after, const Key& now) const
    {
        if (aim_ == Aim::Capacity) return after.excess <= now.excess;
        return std::tie(after.excess, after.cap) <= std::tie(now.excess, now.cap);
    }

    std::int64_t capTerm(std::int64_t spread) const
    {
        return aim_ == Aim::Capacity ? spread : std::max<std::int64_t>(0, spread - capTarget_);
    }

    void prepare(const Arrangement& a)
    {
        caps_.take(a.capSum);
        conds_.take(a.condSum);
    }

    Key keyAfter(const Arrangement& a, int g, int x, int h, int y) const
    {
        Key k;
        const std::int64_t dc = p_.cap[x] - p_.cap[y];
        const std::int64_t cg = a.capSum[g] - dc, ch = a.capSum[h] + dc;
        k.cap = capTerm(std::max({caps_.highestExcept(g, h), cg, ch}) -
                        std::min({caps_.lowestExcept(g, h), cg, ch}));
        const std::int64_t dr = p_.cond[x] - p_.cond[y];
        const std::int64_t rg = a.condSum[g] - dr, rh = a.condSum[h] + dr;
        const double spread = resistanceSpread(std::min({conds_.lowestExcept(g, h), rg, rh}),
                                               std::max({conds_.highestExcept(g, h), rg, rh}));
        if (p_.hasRule) k.excess = std::max(0.0, spread - p_.ruleLimit);
        if (aim_ == Aim::Resistance && p_.balanceResistance) k.res = spread;
        k.guide = aim_ == Aim::Capacity
                      ? 2.0 * double(dc) * double(dc - (a.capSum[g] - a.capSum[h]))
                      : 2.0 * double(dr) * double(dr - (a.condSum[g] - a.condSum[h]));
        return k;
    }

    // The best swap between the groups that set the spread aimed at and any
    // other: only those can narrow it.
    bool stepOnce(Arrangement& a)
    {
        prepare(a);
        budget_.spend(p_.series);
        const Key now = keyOf(a);
        Swap best{now};
        const auto& sums = aim_ == Aim::Capacity ? a.capSum : a.condSum;
        const int high = int(std::max_element(sums.begin(), sums.end()) - sums.begin());
        const int low = int(std::min_element(sums.begin(), sums.end()) - sums.begin());
        for (int g = 0; g < p_.series; ++g)
            if (g != high) scanPair(a, std::min(g, high), std::max(g, high), now, best);
        for (int g = 0; g < p_.series; ++g)
            if (g != low && g != high && low != high)
                scanPair(a, std::min(g, low), std::max(g, low), now, best);
        if (best.g < 0) return false;
        exchange(p_, a, best.g, best.x, best.h, best.y);
        return true;
    }

    struct Swap {
        Key key;
        int g = -1, x = -1, h = -1, y = -1;
    };

    // Swaps of x in g for y in h. While the rule is kept, only those that
    // keep the capacity term are looked at: a window of x − y, found by
    // binary search since a group's cells are in capacity order.
    void scanPair(const Arrangement& a, int g, int h, const Key& now, Swap& best)
    {
        std::int64_t low = std::numeric_limits<std::int64_t>::min() / 4;
        std::int64_t high = std::numeric_limits<std::int64_t>::max() / 4;
        if (now.excess == 0 && !capacityWindow(a, g, h, now, low, high)) return;
        const std::vector<int>& to = a.groups[h];
        for (int x : a.groups[g]) {
            const std::int64_t cx = p_.cap[x];
            const auto first = std::partition_point(to.begin(), to.end(),
                                                    [&](int y) { return p_.cap[y] > cx - low; });
            const auto last = std::partition_point(first, to.end(),
                                                   [&](int y) { return p_.cap[y] >= cx - high; });
            budget_.spend(1 + (last - first));
            for (auto y = first; y != last; ++y) {
                const Key k = keyAfter(a, g, x, h, *y);
                if (k < best.key) best = {k, g, x, h, *y};
            }
        }
    }

    // The x − y that leave every group within the capacity spread allowed;
    // false when there are none.
    bool capacityWindow(const Arrangement& a, int g, int h, const Key& now, std::int64_t& low,
                        std::int64_t& high) const
    {
        const std::int64_t allowed = aim_ == Aim::Capacity ? now.cap : capTarget_ + now.cap;
        const std::int64_t cg = a.capSum[g], ch = a.capSum[h];
        // The two new sums at most `allowed` apart: 2δ within D ± allowed.
        low = floorHalf(cg - ch - allowed + 1);
        high = floorHalf(cg - ch + allowed);
        if (p_.series > 2) {
            const std::int64_t others = caps_.highestExcept(g, h), least = caps_.lowestExcept(g, h);
            if (others - least > allowed) return false;
            low = std::max({low, cg - least - allowed, others - allowed - ch});
            high = std::min({high, cg - others + allowed, least + allowed - ch});
        }
        return low <= high;
    }

    static std::int64_t floorHalf(std::int64_t v) { return v >= 0 ? v / 2 : -((-v + 1) / 2); }

    const Problem& p_;
    Aim aim_;
    std::int64_t capTarget_;
    Budget& budget_;
    Extremes caps_, conds_;
};

// Iterated local search ranked by Key: kick, descend, keep the result unless
// it ranks worse.
Arrangement refine(const Problem& p, Arrangement start, Aim aim, std::int64_t capTarget,
                   std::int64_t bound, Budget& budget, Random& random)
{
    KeyedDescent search(p, aim, capTarget, budget);
    const auto rank = [&](const Arrangement& a) {
        Key k = search.keyOf(a);
        k.guide = 0;
        return k;
    };
    Arrangement current = std::move(start);
    search.descend(current);
    Arrangement best = current;
    for (int stall = 0; stall < kStallRounds && !budget.spent() && !search.done(best, bound);
         ++stall) {
        Arrangement trial = current;
        budget.spend(p.cells()); // the copy
        search.kick(trial, random, 2);
        search.descend(trial);
        if (rank(trial) <= rank(current)) current = std::move(trial);
        if (rank(current) < rank(best)) {
            best = current;
            stall = -1;
        }
    }
    return best;
}

} // namespace

Arrangement improve(const Problem& p, Arrangement start, std::int64_t swaps)
{
    if (p.series < 2 || p.parallel < 2) return start; // every arrangement is the same
    Random random;
    const std::int64_t bound = spreadLowerBound(p);
    // The capacity step is the same whatever resistance options are set, so
    // asking for resistance never costs capacity balance; each later step has
    // an effort of its own.
    Budget forCapacity(swaps);
    Arrangement best = balanceCapacity(p, std::move(start), bound, forCapacity, random);
    if (p.hasRule && scoreOf(p, best).excess > 0) {
        // The rule first, holding the capacity spread as far as it allows;
        // then the capacity spread again under the rule.
        Budget forRule(swaps / 2), forCapacityUnderRule(swaps / 2);
        Arrangement kept =
            refine(p, best, Aim::Resistance, scoreOf(p, best).cap, bound, forRule, random);
        kept = refine(p, std::move(kept), Aim::Capacity, 0, bound, forCapacityUnderRule, random);
        if (scoreOf(p, kept) < scoreOf(p, best)) best = std::move(kept);
    }
    if (p.balanceResistance) {
        Budget forResistance(swaps);
        Arrangement balanced =
            refine(p, best, Aim::Resistance, scoreOf(p, best).cap, bound, forResistance, random);
        if (scoreOf(p, balanced) < scoreOf(p, best)) best = std::move(balanced);
    }
    return best;
}

} // namespace eload::pack::detail
