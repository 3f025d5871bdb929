#include "framework/db/db_common.h"

#include "framework/component.h"

namespace fw {

const char* FieldTypeName(TFieldType t) {
  static const char* const kNames[] = {
      "Unknown", "String", "SmallInt", "Integer", "Word", "Boolean", "Float", "Currency", "BCD",
      "Date", "Time", "DateTime", "Bytes", "VarBytes", "AutoInc", "Blob", "Memo", "Graphic",
      "FmtMemo", "ParadoxOle", "dBaseOle", "TypedBinary", "Cursor", "FixedChar", "WideString",
      "Largeint", "ADT", "Array", "Reference", "DataSet"};
  auto i = static_cast<unsigned>(t);
  return i < std::size(kNames) ? kNames[i] : "Unknown";
}

std::string FormatMessage(const char* format, std::initializer_list<std::string> args) {
  std::string out;
  auto arg = args.begin();
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's' && arg != args.end()) {
      out += *arg++;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

void DatabaseError(const std::string& message, const TComponent* component) {
  if (component != nullptr && !component->Name().empty())
    throw EDatabaseError(component->Name() + ": " + message);
  throw EDatabaseError(message);
}

void DatabaseErrorFmt(const char* format, std::initializer_list<std::string> args,
                      const TComponent* component) {
  DatabaseError(FormatMessage(format, args), component);
}

}  // namespace fw
