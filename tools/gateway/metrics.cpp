#include "tools/gateway/metrics.h"

#include <array>
#include <charconv>
#include <cmath>

#include "tools/client/json.h"

namespace vantrel::gateway {

Histogram::Histogram(std::vector<double> bounds)
    : bounds_(std::move(bounds)), counts_(bounds_.size() + 1, 0) {}

void Histogram::observe(double value) {
    std::size_t bucket = 0;
    while (bucket < bounds_.size() && value > bounds_[bucket]) ++bucket;
    ++counts_[bucket];
    sum_ += value;
    ++count_;
}

std::string Histogram::render(const std::string& name, const std::string& help) const {
    std::string out = metric_header(name, "histogram", help);
    std::uint64_t cumulative = 0;
    for (std::size_t i = 0; i <= bounds_.size(); ++i) {
        cumulative += counts_[i];
        const std::string le = i < bounds_.size() ? sample_value(bounds_[i]) : "+Inf";
        out += name + "_bucket{le=\"" + le + "\"} " + std::to_string(cumulative) + "\n";
    }
    out += name + "_sum " + sample_value(sum_) + "\n";
    out += name + "_count " + std::to_string(count_) + "\n";
    return out;
}

std::string label_value(std::string_view text) {
    // Through a JSON dump, which replaces bytes that are not UTF-8, and back.
    const std::string plain =
        ctl::Json::parse(ctl::dump(ctl::Json(std::string(text)))).get<std::string>();
    std::string out;
    for (char c : plain) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '"')
            out += "\\\"";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string metric_header(const std::string& name, const std::string& type,
                          const std::string& help) {
    return "# HELP " + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

std::string sample_value(double value) {
    if (std::isnan(value)) return "NaN";
    if (std::isinf(value)) return value > 0 ? "+Inf" : "-Inf";
    std::array<char, 64> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    if (ec != std::errc()) return "NaN";
    return std::string(buffer.data(), end);
}

}  // namespace vantrel::gateway
