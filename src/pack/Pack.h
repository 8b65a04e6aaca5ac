#pragma once
// Tested cells matched into a pack: S groups in series, each of P cells in
// parallel, whose group capacities are as equal as possible.
//
// Which cells go in. A series pack holds only what its weakest group holds,
// so the pack takes the S·P cells of highest capacity (ties: the lower
// resistance, a measured one first, then the earlier cell); the rest are
// left over. Leaving a strong cell out to balance better would trade whole
// cells' worth of capacity for a spread that is already a few mA·h.
//
// Method. Capacities become exact integers (µA·h, shifted by the lowest and
// divided by the common step of their differences: 1 mA·h for the module's
// readings), so spreads compare exactly and no rounding decides. The start
// is the balanced largest differencing method (Karmarkar–Karp for S sets of
// P cells). Descent follows: between any two groups, the swap of one cell
// for one, or two for two, that brings their sums closest (the squared
// deviation falls, the spread never rises); then iterated local search:
// two random swaps from a fixed seed, descent again, the best kept. With
// resistance, further swaps that keep the capacity spread narrow the
// groups' resistances (and meet the rule first, if one is set). A small
// pack is then searched exhaustively (branch and bound). All of it is
// bounded by counts, never by the clock: the same cells and options give
// the same pack on every machine.
//
// Guarantee. Every answer carries a lower bound on the capacity spread of
// any arrangement of the chosen cells: group sums move in whole steps, so a
// total that S does not divide leaves two groups a step apart; by
// pigeonhole some group holds k+1 of the k·S+1 largest cells (and some
// k+1 of the k·S+1 smallest); and the group of each of the i+1 largest
// cells either shares it with another of them or has P−1 others, at least
// as heavy as a share of the smallest cells (exact for P = 2). A spread
// equal to the bound is optimal; so is the answer of a completed
// exhaustive search. Otherwise the best possible spread lies between the
// bound and the answer.

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace eload::pack {

struct Cell {
    std::string id;                           // the cell's name, as the caller shows it
    double capacityAh = 0;                    // tested capacity; taken to 1 µA·h
    std::optional<double> resistanceMilliohm; // internal resistance, when measured
};

struct Options {
    int series = 0;   // S: groups in series
    int parallel = 0; // P: cells in parallel in each group
    // Second criterion: among arrangements of the same capacity spread, the
    // one whose groups' resistances are closest. Every chosen cell needs a
    // resistance.
    bool balanceResistance = false;
    // A rule that ranks before capacity: the groups' resistance spread may be
    // at most this many % of their harmonic mean resistance (which the chosen
    // cells fix). An arrangement that breaks it ranks below every one that
    // keeps it, so capacity balance is given up only as far as the rule
    // needs. Every chosen cell needs a resistance.
    std::optional<double> maxResistanceSpreadPercent;
    // Effort, counted in swaps looked at by each step of the iterated search
    // (capacity; the rule; resistance) and in nodes of the exhaustive one,
    // never in time. The defaults solve 10S20P in well under a second and
    // bound the time of any pack, however large.
    std::int64_t searchSwaps = 5'000'000;
    std::int64_t exhaustiveNodes = 2'000'000;
};

struct Group {
    std::vector<int> cells; // indexes into the input, highest capacity first
    double capacityAh = 0;  // the cells' sum
    // The P resistances in parallel; none when a cell has no resistance.
    std::optional<double> resistanceMilliohm;
};

// What is known of the answer's capacity spread.
enum class Proof {
    None,       // the best possible spread lies between the lower bound and this one
    LowerBound, // the spread equals the lower bound: no arrangement does better
    Exhaustive, // every arrangement was searched: none ranks better in the full order
};

struct Pack {
    std::vector<Group> groups; // S groups, highest capacity first
    std::vector<int> leftOver; // indexes into the input, highest capacity first
    double spreadAh = 0;       // highest minus lowest group capacity
    double spreadPercent = 0;  // of the mean group capacity
    double spreadLowerBoundAh = 0;
    // Highest minus lowest group resistance, and that in % of the groups'
    // harmonic mean; none unless every chosen cell has a resistance.
    std::optional<double> resistanceSpreadMilliohm;
    std::optional<double> resistanceSpreadPercent;
    bool resistanceRuleMet = true; // false: no arrangement found keeps the rule
    Proof proof = Proof::None;
    // Proven best in the full order (rule, capacity spread, then resistance
    // spread when balanced), not only in capacity spread.
    bool optimal = false;
};

struct PackError {
    enum class Kind {
        BadShape,          // S or P below 1
        TooFewCells,       // fewer cells than S·P
        BadCapacity,       // a capacity not positive, not finite or implausibly large
        BadResistance,     // a resistance given but not positive, not finite or out of range
        MissingResistance, // resistance asked for, a chosen cell has none
        BadRule,           // the resistance rule's limit is negative or not finite
    };
    Kind kind;
    std::string message; // English, names the cell
};

using PackResult = std::variant<Pack, PackError>;

// The pack as described above.
PackResult matchPack(const std::vector<Cell>& cells, const Options& options);

// The method of public pack calculators, for comparison: the same chosen
// cells dealt in an S-pattern (row by row, the direction turning at each
// end), then one cell of the highest group swapped for one of the lowest
// while that lowers the spread. Resistance options are not used; the result
// carries the same lower bound.
PackResult snakeAndSwap(const std::vector<Cell>& cells, const Options& options);

} // namespace eload::pack
