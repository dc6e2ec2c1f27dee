#pragma once
// Shared by the whole-program benchmarks: median and worst of repeated runs, and the one row
// format that scripts/bench.sh collects into its table.

#include <string>
#include <vector>

namespace evbbench {

struct Summary {
    double median = 0;
    double worst = 0; // the largest value, or the smallest when larger is better
    std::size_t runs = 0;
};

// higherIsBetter: the worst run is the smallest value.
Summary Summarise(std::vector<double> values, bool higherIsBetter = false);

// One table row on stdout, tab-separated, for scripts/bench.sh:
//   ROW figure reference medianRatio worstRatio medianText worstText targetOp targetValue
// The ratios are the figure divided by its reference (or the raw value when reference is
// empty); targetOp is "<=", ">=" or "<", applied to the median ratio ("<" and "<=" to the worst
// for stalls and wake-ups, whose target is a bound on every run).
void PrintRow(const std::string& figure, const std::string& reference, double medianRatio, double worstRatio,
              const std::string& medianText, const std::string& worstText, const std::string& targetOp,
              double target);

// printf into a std::string.
std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

} // namespace evbbench
