// Variant: the framework's dynamically typed value as data access uses it
// (field values, Locate keys, Lookup results, parameter values). Null is
// the absence of a value; conversions to text use the fixed US formats.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "framework/sysutils.h"

namespace fw {

class Variant {
 public:
  // Array: the values of several fields at once (Lookup with more than
  // one result field).
  enum class Kind { Null, Boolean, Integer, Float, Currency, DateTime, String, Array };
  struct DateTimeValue {
    TDateTime value = 0;
    friend bool operator==(DateTimeValue a, DateTimeValue b) = default;
  };

  Variant() = default;  // Null
  Variant(bool v) : v_(v) {}
  Variant(int v) : v_(static_cast<std::int64_t>(v)) {}
  Variant(std::int64_t v) : v_(v) {}
  Variant(double v) : v_(v) {}
  Variant(fw::Currency v) : v_(v) {}
  Variant(const char* v) : v_(std::string(v)) {}
  Variant(std::string v) : v_(std::move(v)) {}
  static Variant FromDateTime(TDateTime dt) { Variant r; r.v_ = DateTimeValue{dt}; return r; }
  static Variant Null() { return Variant(); }
  static Variant Array(std::vector<Variant> items) { Variant r; r.v_ = std::move(items); return r; }
  // The items of an array; EConvertError for other kinds.
  const std::vector<Variant>& Items() const;

  Kind GetKind() const { return static_cast<Kind>(v_.index()); }
  bool IsNull() const { return v_.index() == 0; }

  // Conversions raise EConvertError: the framework's text messages for text
  // that is no number or date, "Invalid variant type conversion" for Null.
  std::string AsString() const;  // Null gives ""
  std::int64_t AsInteger() const;
  double AsFloat() const;
  bool AsBoolean() const;
  fw::Currency AsCurrency() const;
  TDateTime AsDateTime() const;

  friend bool operator==(const Variant& a, const Variant& b);

 private:
  std::variant<std::monostate, bool, std::int64_t, double, fw::Currency, DateTimeValue, std::string,
               std::vector<Variant>>
      v_;
};

}  // namespace fw
