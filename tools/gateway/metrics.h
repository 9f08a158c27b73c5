#pragma once
// The pieces of the Prometheus text exposition format the gateway writes: histograms with fixed
// bounds, and label values escaped as the format wants them.
//
// Thread safety: a Histogram is guarded by its owner's lock.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::gateway {

class Histogram {
  public:
    // `bounds`: the upper bounds of the buckets, ascending; +Inf is added.
    explicit Histogram(std::vector<double> bounds);
    void observe(double value);
    // The _bucket, _sum and _count lines of metric `name` (HELP and TYPE lines included).
    std::string render(const std::string& name, const std::string& help) const;
    std::uint64_t count() const { return count_; }

  private:
    std::vector<double> bounds_;
    std::vector<std::uint64_t> counts_;  // per bucket, not cumulative
    double sum_ = 0.0;
    std::uint64_t count_ = 0;
};

// A label value with \, " and line feeds escaped, bytes that are not UTF-8 replaced by U+FFFD.
std::string label_value(std::string_view text);

// "# HELP name help\n# TYPE name type\n"
std::string metric_header(const std::string& name, const std::string& type,
                          const std::string& help);

// A sample value as the format writes it (shortest exact form; +Inf, -Inf, NaN).
std::string sample_value(double value);

}  // namespace vantrel::gateway
