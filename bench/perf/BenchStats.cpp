#include "bench/perf/BenchStats.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace evbbench {

Summary Summarise(std::vector<double> values, bool higherIsBetter) {
    Summary s;
    s.runs = values.size();
    if (values.empty()) return s;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    s.worst = higherIsBetter ? values.front() : values.back();
    return s;
}

void PrintRow(const std::string& figure, const std::string& reference, double medianRatio, double worstRatio,
              const std::string& medianText, const std::string& worstText, const std::string& targetOp,
              double target) {
    std::printf("ROW\t%s\t%s\t%.4f\t%.4f\t%s\t%s\t%s\t%.4f\n", figure.c_str(), reference.c_str(), medianRatio,
                worstRatio, medianText.c_str(), worstText.c_str(), targetOp.c_str(), target);
    std::fflush(stdout);
}

std::string Format(const char* fmt, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

} // namespace evbbench
