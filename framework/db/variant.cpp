#include "framework/db/variant.h"

#include <cmath>

#include "framework/exceptions.h"

namespace fw {

namespace {
[[noreturn]] void BadConversion() { throw EConvertError("Invalid variant type conversion"); }
}  // namespace

std::string Variant::AsString() const {
  switch (GetKind()) {
    case Kind::Null: return "";
    case Kind::Boolean: return std::get<bool>(v_) ? "True" : "False";
    case Kind::Integer: return IntToStr(std::get<std::int64_t>(v_));
    case Kind::Float: return FloatToStr(std::get<double>(v_));
    case Kind::Currency: return CurrToStr(std::get<fw::Currency>(v_));
    case Kind::DateTime: return DateTimeToStr(std::get<DateTimeValue>(v_).value);
    case Kind::String: return std::get<std::string>(v_);
    case Kind::Array: BadConversion();
  }
  return "";
}

std::int64_t Variant::AsInteger() const {
  switch (GetKind()) {
    case Kind::Null: BadConversion();
    case Kind::Boolean: return std::get<bool>(v_) ? -1 : 0;
    case Kind::Integer: return std::get<std::int64_t>(v_);
    case Kind::Float: return Round(std::get<double>(v_));
    case Kind::Currency: return Round(CurrToDouble(std::get<fw::Currency>(v_)));
    case Kind::DateTime: return Round(std::get<DateTimeValue>(v_).value);
    case Kind::String: return StrToInt64(std::get<std::string>(v_));
    case Kind::Array: BadConversion();
  }
  BadConversion();
}

double Variant::AsFloat() const {
  switch (GetKind()) {
    case Kind::Null: BadConversion();
    case Kind::Boolean: return std::get<bool>(v_) ? -1.0 : 0.0;
    case Kind::Integer: return static_cast<double>(std::get<std::int64_t>(v_));
    case Kind::Float: return std::get<double>(v_);
    case Kind::Currency: return CurrToDouble(std::get<fw::Currency>(v_));
    case Kind::DateTime: return std::get<DateTimeValue>(v_).value;
    case Kind::String: return StrToFloat(std::get<std::string>(v_));
    case Kind::Array: BadConversion();
  }
  BadConversion();
}

bool Variant::AsBoolean() const {
  switch (GetKind()) {
    case Kind::Null: BadConversion();
    case Kind::Boolean: return std::get<bool>(v_);
    case Kind::String: return StrToBool(std::get<std::string>(v_));
    default: return AsFloat() != 0.0;
  }
}

fw::Currency Variant::AsCurrency() const {
  switch (GetKind()) {
    case Kind::Currency: return std::get<fw::Currency>(v_);
    case Kind::String: return StrToCurr(std::get<std::string>(v_));
    case Kind::Integer: return fw::Currency::FromRaw(std::get<std::int64_t>(v_) * 10000);
    default: return DoubleToCurr(AsFloat());
  }
}

TDateTime Variant::AsDateTime() const {
  switch (GetKind()) {
    case Kind::DateTime: return std::get<DateTimeValue>(v_).value;
    case Kind::String: return StrToDateTime(std::get<std::string>(v_));
    default: return AsFloat();
  }
}

const std::vector<Variant>& Variant::Items() const {
  if (GetKind() != Kind::Array) BadConversion();
  return std::get<std::vector<Variant>>(v_);
}

bool operator==(const Variant& a, const Variant& b) {
  if (a.v_.index() != b.v_.index()) return false;
  if (a.GetKind() == Variant::Kind::DateTime)
    return std::get<Variant::DateTimeValue>(a.v_).value == std::get<Variant::DateTimeValue>(b.v_).value;
  return a.v_ == b.v_;
}

}  // namespace fw
