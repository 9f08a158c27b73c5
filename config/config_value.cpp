#include "config/config_value.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <utility>

namespace vantrel {

ConfigValue::ConfigValue(std::string name, double value)
    : name_(std::move(name)), type_(ValueType::Real), real_value_(value) {}

ConfigValue::ConfigValue(std::string name, std::int32_t value)
    : name_(std::move(name)), type_(ValueType::Integer), int_value_(value) {}

ConfigValue::ConfigValue(std::string name, std::string value)
    : name_(std::move(name)), type_(ValueType::String), string_value_(std::move(value)) {}

ConfigValue::ConfigValue(std::string name, Elements elements)
    : name_(std::move(name)), type_(ValueType::Array), elements_(std::move(elements)) {}

void ConfigValue::set_real(double value) {
    real_value_ = value;
    type_ = ValueType::Real;
}

void ConfigValue::set_int(std::int32_t value) {
    int_value_ = value;
    type_ = ValueType::Integer;
}

void ConfigValue::set_string(std::string value) {
    string_value_ = std::move(value);
    type_ = ValueType::String;
}

void ConfigValue::set_elements(Elements elements) {
    elements_ = std::move(elements);
    type_ = ValueType::Array;
}

bool storable_string(const std::string& text) {
    return std::none_of(text.begin(), text.end(),
                        [](char c) { return c == '"' || static_cast<unsigned char>(c) < 0x03; });
}

std::string real_to_text(double value) {
    // 309 digits for the largest double, the sign, the point and ten decimals fit easily.
    std::array<char, 400> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value,
                                      std::chars_format::fixed, 10);
    std::string text(buffer.data(), result.ptr);
    if (text.find_first_of("123456789") == std::string::npos) return "0.0";
    return text;
}

std::string ConfigValue::value_text() const {
    switch (type_) {
        case ValueType::Real:
            return real_to_text(real_value_);
        case ValueType::Integer:
            return std::to_string(int_value_);
        case ValueType::String:
            return '"' + string_value_ + '"';
        case ValueType::Array:
            break;
    }
    std::string text = "[";
    for (std::size_t i = 0; i < elements_.size(); ++i) {
        if (i > 0) text += ',';
        text += elements_[i].value_text();  // elements are written without a name
    }
    return text + "]";
}

std::string ConfigValue::to_text() const {
    if (name_.empty()) return value_text();
    return name_ + "=" + value_text() + ";";
}

}  // namespace vantrel
