#pragma once
// The figures a benchmark prints: one `name=value` line each.

#include <chrono>
#include <vector>

namespace vantrel::bench {

// The sample at rank p (0 to 1) of the sorted samples, to the nearest rank; p = 0.5 is the
// median (the upper one of an even count). `samples` must not be empty.
double percentile(std::vector<double> samples, double p);

double micros_since(std::chrono::steady_clock::time_point start);
double seconds_since(std::chrono::steady_clock::time_point start);

// name=value with three decimals.
void print(const char* name, double value);

}  // namespace vantrel::bench
