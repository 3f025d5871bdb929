// Value text checks of engine_utils.h. They sit apart from the other
// routines because they need the framework's conversions, which the file
// routines (and everything that links them) do not.
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "storage/engine_utils.h"

namespace storage {

namespace {

// The framework's Try* conversions report failure without raising; the
// catch keeps the promise of no exception should one raise anyway.
template <class Fn>
bool Converts(Fn&& fn) {
  try {
    return fn();
  } catch (const fw::Exception&) {
    return false;
  }
}

}  // namespace

bool IsWordText(std::string_view s) {
  return Converts([&] {
    int v = 0;
    return fw::TryStrToInt(std::string(s), v) && v >= 0 && v <= 65535;
  });
}

bool IsSmallIntText(std::string_view s) {
  return Converts([&] {
    int v = 0;
    return fw::TryStrToInt(std::string(s), v) && v >= -32768 && v <= 32767;
  });
}

bool IsIntegerText(std::string_view s) {
  return Converts([&] {
    int v = 0;
    return fw::TryStrToInt(std::string(s), v);
  });
}

bool IsFloatText(std::string_view s) {
  return Converts([&] {
    double v = 0;
    return fw::TryStrToFloat(std::string(s), v);
  });
}

bool IsCurrencyText(std::string_view s) {
  return Converts([&] {
    fw::Currency v;
    return fw::TryStrToCurr(std::string(s), v);
  });
}

bool IsDateText(std::string_view s) {
  return Converts([&] {
    fw::TDateTime v = 0;
    return fw::TryStrToDate(std::string(s), v);
  });
}

bool IsDateTimeText(std::string_view s) {
  return Converts([&] {
    fw::TDateTime v = 0;
    return fw::TryStrToDateTime(std::string(s), v);
  });
}

bool IsTimeText(std::string_view s) {
  return Converts([&] {
    fw::TDateTime v = 0;
    return fw::TryStrToTime(std::string(s), v);
  });
}

}  // namespace storage
