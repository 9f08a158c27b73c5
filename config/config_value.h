#pragma once
// One named, typed value of a configuration file, or one unnamed element of an array.

#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

enum class ValueType { Real = 0, Integer = 1, String = 2, Array = 3 };

class ConfigValue {
  public:
    // The elements of an array: unnamed values of type Real, Integer or String. Arrays do not
    // nest; an element's name is never written.
    using Elements = std::vector<ConfigValue>;

    ConfigValue(std::string name, double value);
    ConfigValue(std::string name, std::int32_t value);
    ConfigValue(std::string name, std::string value);
    ConfigValue(std::string name, Elements elements);

    const std::string& name() const { return name_; }
    ValueType type() const { return type_; }
    double real_value() const { return real_value_; }
    std::int32_t int_value() const { return int_value_; }
    // The low 16 bits of the integer value, as a signed number.
    std::int16_t short_value() const { return static_cast<std::int16_t>(int_value_); }
    const std::string& string_value() const { return string_value_; }
    const Elements& elements() const { return elements_; }

    // Each setter also makes its kind the value's type.
    void set_real(double value);
    void set_int(std::int32_t value);
    void set_string(std::string value);
    void set_elements(Elements elements);

    // The canonical written form without spaces: name=value; for a named value, only the value
    // for an element. Reals have exactly ten decimals.
    std::string to_text() const;

  private:
    std::string value_text() const;

    std::string name_;
    ValueType type_;
    double real_value_ = 0.0;
    std::int32_t int_value_ = 0;
    std::string string_value_;
    Elements elements_;
};

// True when a string value holding `text` is written and read back byte for byte. The written
// form has no escapes, so a double quote would end the string early, and the reader takes no
// byte below 0x03; every other byte, line feeds included, comes back as it was.
bool storable_string(const std::string& text);

// A real rendered as written to a file: fixed point, ten decimals, "0.0" when the rounding
// leaves no digit that is not zero.
std::string real_to_text(double value);

}  // namespace vantrel
