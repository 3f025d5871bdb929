#include "dataset/field_type_map.h"

#include <algorithm>

#include "framework/db/db_common.h"

namespace dataset {

using fw::TFieldType;
using storage::FieldSubtype;
using storage::FieldType;

namespace {

constexpr EngineType E(FieldType t, FieldSubtype s = FieldSubtype::kNone) {
  return {storage::TypeCode(t), storage::SubtypeCode(s)};
}

bool TakesSize(TFieldType t) {
  switch (t) {
    case TFieldType::ftString:
    case TFieldType::ftFixedChar:
    case TFieldType::ftWideString:
    case TFieldType::ftBytes:
    case TFieldType::ftVarBytes:
      return true;
    default:
      return false;
  }
}

}  // namespace

EngineType EngineFieldType(TFieldType type) {
  switch (type) {
    case TFieldType::ftString: return E(FieldType::kString);
    case TFieldType::ftSmallint: return E(FieldType::kSmallInt);
    case TFieldType::ftInteger: return E(FieldType::kInteger);
    case TFieldType::ftWord: return E(FieldType::kWord);
    case TFieldType::ftBoolean: return E(FieldType::kBoolean);
    case TFieldType::ftFloat: return E(FieldType::kFloat);
    case TFieldType::ftCurrency: return E(FieldType::kFloat, FieldSubtype::kMoney);
    case TFieldType::ftBCD: return E(FieldType::kCurrency);
    case TFieldType::ftDate: return E(FieldType::kDate);
    case TFieldType::ftTime: return E(FieldType::kTime);
    case TFieldType::ftDateTime: return E(FieldType::kTimestamp);
    case TFieldType::ftBytes: return E(FieldType::kBytes);
    case TFieldType::ftVarBytes: return E(FieldType::kVarBytes);
    case TFieldType::ftAutoInc: return E(FieldType::kInteger, FieldSubtype::kAutoIncrement);
    case TFieldType::ftBlob: return E(FieldType::kBlob, FieldSubtype::kBinary);
    case TFieldType::ftMemo: return E(FieldType::kBlob, FieldSubtype::kMemo);
    case TFieldType::ftGraphic: return E(FieldType::kBlob, FieldSubtype::kGraphic);
    case TFieldType::ftFmtMemo: return E(FieldType::kBlob, FieldSubtype::kFmtMemo);
    case TFieldType::ftParadoxOle:
    case TFieldType::ftDBaseOle: return E(FieldType::kBlob);
    case TFieldType::ftTypedBinary: return E(FieldType::kBlob, FieldSubtype::kTypedBinary);
    case TFieldType::ftCursor: return E(FieldType::kCursor);
    case TFieldType::ftFixedChar: return E(FieldType::kString, FieldSubtype::kFixedChar);
    case TFieldType::ftWideString: return E(FieldType::kString, FieldSubtype::kWideString);
    case TFieldType::ftLargeint: return E(FieldType::kLargeInt);
    case TFieldType::ftADT: return E(FieldType::kADT);
    case TFieldType::ftArray: return E(FieldType::kArray);
    case TFieldType::ftReference: return E(FieldType::kReference);
    case TFieldType::ftDataSet: return E(FieldType::kDataSet);
    case TFieldType::ftUnknown: break;
  }
  return {};
}

storage::TFieldDescriptor MakeFieldDescriptor(int field_no, const std::string& name,
                                              TFieldType type, int size, bool required) {
  storage::TFieldDescriptor d;
  d.FieldNumber = static_cast<std::uint16_t>(field_no);
  d.Name.Assign(name);
  const EngineType e = EngineFieldType(type);
  d.FieldType = e.type;
  d.Subtype = e.subtype;
  const auto byte = static_cast<std::uint8_t>(std::clamp(size, 0, 255));
  if (type == TFieldType::ftBCD)
    d.Decimals = byte;
  else if (TakesSize(type))
    d.Size = byte;
  d.Required = required ? 1 : 0;
  return d;
}

std::optional<FrameworkFieldType> FrameworkType(const storage::TFieldDescriptor& d) {
  FrameworkFieldType r;
  switch (d.FieldType) {
    case 1: r.type = TFieldType::ftString; r.size = d.Size; break;
    case 2: r.type = TFieldType::ftDate; break;
    case 3:
      switch (d.Subtype) {
        case 22: r.type = TFieldType::ftMemo; break;
        case 24: r.type = TFieldType::ftFmtMemo; break;
        case 26: r.type = TFieldType::ftGraphic; break;
        case 28: r.type = TFieldType::ftTypedBinary; break;
        default: r.type = TFieldType::ftBlob; break;
      }
      break;
    case 4: r.type = TFieldType::ftBoolean; break;
    case 5: r.type = TFieldType::ftSmallint; break;
    case 6: r.type = d.Subtype == 29 ? TFieldType::ftAutoInc : TFieldType::ftInteger; break;
    case 7: r.type = d.Subtype == 21 ? TFieldType::ftCurrency : TFieldType::ftFloat; break;
    case 8: r.type = TFieldType::ftBCD; r.size = d.Decimals; r.precision = 20; break;
    case 9: r.type = TFieldType::ftBytes; r.size = d.Size; break;
    case 10: r.type = TFieldType::ftTime; break;
    case 11: r.type = TFieldType::ftDateTime; break;
    case 12: r.type = TFieldType::ftWord; break;
    case 13: r.type = TFieldType::ftInteger; break;
    case 15: r.type = TFieldType::ftVarBytes; r.size = d.Size; break;
    case 18:
    case 19: r.type = TFieldType::ftLargeint; break;
    case 20: r.type = TFieldType::ftADT; break;
    case 21: r.type = TFieldType::ftArray; break;
    case 22: r.type = TFieldType::ftReference; break;
    case 23: r.type = TFieldType::ftDataSet; break;
    default: return std::nullopt;
  }
  return r;
}

void CheckFieldSize(TFieldType type, int size) {
  bool ok;
  if (TakesSize(type))
    ok = size >= 1 && size <= storage::kMaxDeclaredSize;
  else if (type == TFieldType::ftBCD)
    ok = size >= 0 && size <= 8;
  else
    ok = size == 0;
  if (!ok) fw::DatabaseError(fw::db_msg::kInvalidFieldSize);
}

}  // namespace dataset
