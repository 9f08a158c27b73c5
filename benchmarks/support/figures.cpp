#include "benchmarks/support/figures.h"

#include <algorithm>
#include <cstdio>

namespace vantrel::bench {

double percentile(std::vector<double> samples, double p) {
    std::sort(samples.begin(), samples.end());
    const auto index = static_cast<std::size_t>(p * static_cast<double>(samples.size() - 1) + 0.5);
    return samples[index];
}

double micros_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
        .count();
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void print(const char* name, double value) {
    std::printf("%s=%.3f\n", name, value);
}

}  // namespace vantrel::bench
