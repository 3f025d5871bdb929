#include "dataset/tolmid_params.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dataset/component_errors.h"
#include "framework/db/field.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"

namespace dataset {

using fw::TFieldType;

namespace {

constexpr const char* kUnableToLoad = "Unable to load bind parameters";
constexpr const char* kDataTooLarge = "Parameter '%s', cannot save data larger than %d bytes";
constexpr std::uint16_t kStoredVersion = 1;
constexpr TFieldType kLastFieldType = TFieldType::ftDataSet;
constexpr TParamType kLastParamType = TParamType::ptResult;
// 1899-12-30 as a time-stamp day.
constexpr int kDayZeroStampDate = 693594;

template <typename T>
void Put(void* buffer, T v) {
  std::memcpy(buffer, &v, sizeof v);
}

template <typename T>
T Get(const void* buffer) {
  T v;
  std::memcpy(&v, buffer, sizeof v);
  return v;
}

// Little-endian reader that refuses to pass the end of the block.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> data) : data_(data) {}
  std::uint32_t U8() { return Take(1)[0]; }
  std::uint32_t U16() {
    const auto* p = Take(2);
    return static_cast<std::uint32_t>(p[0] | (p[1] << 8));
  }
  std::uint32_t U32() {
    const auto* p = Take(4);
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  }
  const std::uint8_t* Take(std::size_t n) {
    if (n > data_.size() - pos_) fw::DatabaseError(kUnableToLoad);
    const std::uint8_t* p = data_.data() + pos_;
    pos_ += n;
    return p;
  }
  [[nodiscard]] std::size_t Left() const { return data_.size() - pos_; }

 private:
  std::span<const std::uint8_t> data_;
  std::size_t pos_ = 0;
};

void PutU16(std::vector<std::uint8_t>& out, std::size_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

}  // namespace

// ---------------------------------------------------------------------------
// TTolmidParam

TTolmidParam::TTolmidParam(TTolmidParams* list, TParamType param_type)
    : list_(list), param_type_(param_type) {
  if (list_ != nullptr) list_->items_.push_back(this);
}

TTolmidParam::~TTolmidParam() {
  if (list_ != nullptr) list_->Remove(this);
}

void TTolmidParam::SetDataType(TFieldType t) {
  data_type_ = t;
  value_ = fw::Variant(0);
}

void TTolmidParam::Clear() {
  is_null_ = true;
  value_ = fw::Variant(0);
}

void TTolmidParam::Set(TFieldType type, fw::Variant value) {
  data_type_ = type;
  value_ = std::move(value);
  is_null_ = false;
  bound_ = true;
}

void TTolmidParam::SetAsString(const std::string& v) { Set(TFieldType::ftString, fw::Variant(v)); }
void TTolmidParam::SetAsSmallInt(std::int16_t v) { Set(TFieldType::ftSmallint, fw::Variant(int{v})); }
void TTolmidParam::SetAsInteger(std::int32_t v) { Set(TFieldType::ftInteger, fw::Variant(int{v})); }
void TTolmidParam::SetAsWord(std::uint16_t v) { Set(TFieldType::ftWord, fw::Variant(int{v})); }
void TTolmidParam::SetAsBoolean(bool v) { Set(TFieldType::ftBoolean, fw::Variant(v)); }
void TTolmidParam::SetAsFloat(double v) { Set(TFieldType::ftFloat, fw::Variant(v)); }
void TTolmidParam::SetAsCurrency(fw::Currency v) {
  Set(TFieldType::ftCurrency, fw::Variant(fw::CurrToDouble(v)));
}
void TTolmidParam::SetAsBCD(fw::Currency v) { Set(TFieldType::ftBCD, fw::Variant(v)); }
void TTolmidParam::SetAsDate(fw::TDateTime v) {
  Set(TFieldType::ftDate, fw::Variant::FromDateTime(v));
}
void TTolmidParam::SetAsTime(fw::TDateTime v) {
  Set(TFieldType::ftTime, fw::Variant::FromDateTime(v));
}
void TTolmidParam::SetAsDateTime(fw::TDateTime v) {
  Set(TFieldType::ftDateTime, fw::Variant::FromDateTime(v));
}

void TTolmidParam::Assign(const TTolmidParam& source) {
  data_type_ = source.data_type_;
  value_ = source.value_;
  is_null_ = source.is_null_;
  bound_ = source.bound_;
  name_ = source.name_;
  if (param_type_ == TParamType::ptUnknown) param_type_ = source.param_type_;
}

void TTolmidParam::AssignField(const fw::TField& field) {
  data_type_ = field.DataType();
  is_null_ = field.IsNull();
  value_ = is_null_ ? fw::Variant(0) : field.AsVariant();
  if (data_type_ == TFieldType::ftMemo && !is_null_ && value_.AsString().size() > 255)
    data_type_ = TFieldType::ftString;
  bound_ = true;
  name_ = field.FieldName();
}

void TTolmidParam::AssignTo(fw::TField& field) const {
  if (is_null_)
    field.Clear();
  else
    field.SetAsVariant(value_);
}

bool TTolmidParam::Equal(const TTolmidParam& other) const {
  return value_.GetKind() == other.value_.GetKind() && value_ == other.value_ &&
         name_ == other.name_ && data_type_ == other.data_type_ && is_null_ == other.is_null_ &&
         bound_ == other.bound_ && param_type_ == other.param_type_;
}

void TTolmidParam::TypeError() const {
  RaiseComponentError(data_type_ == TFieldType::ftUnknown ? ComponentMessage::kUnknownFieldType
                                                          : ComponentMessage::kUnsupportedFieldType,
                      name_);
}

std::size_t TTolmidParam::DataSize() const {
  switch (data_type_) {
    case TFieldType::ftString:
    case TFieldType::ftMemo:
      return (is_null_ ? std::string() : value_.AsString()).size() + 1;
    case TFieldType::ftSmallint:
    case TFieldType::ftWord:
    case TFieldType::ftBoolean:
      return 2;
    case TFieldType::ftInteger:
    case TFieldType::ftDate:
    case TFieldType::ftTime:
    case TFieldType::ftAutoInc:
      return 4;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
    case TFieldType::ftBCD:
    case TFieldType::ftDateTime:
      return 8;
    default:
      TypeError();
  }
}

void TTolmidParam::GetData(void* buffer) const {
  // A null value has no value of its type: its bytes are zero.
  switch (data_type_) {
    case TFieldType::ftString: {
      const std::string s = is_null_ ? std::string() : value_.AsString();
      std::memcpy(buffer, s.c_str(), s.size() + 1);
      return;
    }
    case TFieldType::ftSmallint:
      Put<std::int16_t>(buffer, is_null_ ? 0 : static_cast<std::int16_t>(value_.AsInteger()));
      return;
    case TFieldType::ftWord:
      Put<std::uint16_t>(buffer, is_null_ ? 0 : static_cast<std::uint16_t>(value_.AsInteger()));
      return;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      Put<std::int32_t>(buffer, is_null_ ? 0 : static_cast<std::int32_t>(value_.AsInteger()));
      return;
    case TFieldType::ftBoolean:
      Put<std::uint16_t>(buffer, !is_null_ && value_.AsBoolean() ? 1 : 0);
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      Put<double>(buffer, is_null_ ? 0.0 : value_.AsFloat());
      return;
    case TFieldType::ftBCD:
      Put<std::int64_t>(buffer, is_null_ ? 0 : value_.AsCurrency().value);
      return;
    case TFieldType::ftDate:
      Put<std::uint32_t>(buffer, is_null_ ? 0u
                                          : static_cast<std::uint32_t>(
                                                fw::DateTimeToTimeStamp(value_.AsDateTime()).Date));
      return;
    case TFieldType::ftTime:
      Put<std::uint32_t>(buffer, is_null_ ? 0u
                                          : static_cast<std::uint32_t>(
                                                fw::DateTimeToTimeStamp(value_.AsDateTime()).Time));
      return;
    case TFieldType::ftDateTime:
      Put<double>(buffer, is_null_ ? 0.0
                                   : fw::TimeStampToMSecs(fw::DateTimeToTimeStamp(value_.AsDateTime())));
      return;
    default:
      TypeError();
  }
}

void TTolmidParam::SetData(const void* buffer, std::size_t size) {
  const auto need = [&](std::size_t n) {
    if (size < n) fw::DatabaseError(kUnableToLoad);
  };
  switch (data_type_) {
    case TFieldType::ftString: {
      const char* p = static_cast<const char*>(buffer);
      value_ = fw::Variant(std::string(p, strnlen(p, size)));
      return;
    }
    case TFieldType::ftSmallint:
      need(2);
      value_ = fw::Variant(static_cast<int>(Get<std::int16_t>(buffer)));
      return;
    case TFieldType::ftWord:
      need(2);
      value_ = fw::Variant(static_cast<int>(Get<std::uint16_t>(buffer)));
      return;
    case TFieldType::ftInteger:
    case TFieldType::ftAutoInc:
      need(4);
      value_ = fw::Variant(static_cast<int>(Get<std::int32_t>(buffer)));
      return;
    case TFieldType::ftBoolean:
      need(2);
      value_ = fw::Variant(Get<std::uint16_t>(buffer) != 0);
      return;
    case TFieldType::ftFloat:
    case TFieldType::ftCurrency:
      need(8);
      value_ = fw::Variant(Get<double>(buffer));
      return;
    case TFieldType::ftBCD:
      need(8);
      value_ = fw::Variant(fw::Currency{Get<std::int64_t>(buffer)});
      return;
    case TFieldType::ftDate: {
      need(4);
      fw::TTimeStamp ts{};
      ts.Date = static_cast<int>(Get<std::uint32_t>(buffer));
      ts.Time = 0;
      value_ = fw::Variant::FromDateTime(fw::TimeStampToDateTime(ts));
      return;
    }
    case TFieldType::ftTime: {
      need(4);
      fw::TTimeStamp ts{};
      ts.Time = static_cast<int>(Get<std::uint32_t>(buffer) % 86400000u);
      ts.Date = kDayZeroStampDate;
      value_ = fw::Variant::FromDateTime(fw::TimeStampToDateTime(ts));
      return;
    }
    case TFieldType::ftDateTime: {
      need(8);
      const double ms = Get<double>(buffer);
      if (!std::isfinite(ms) || ms < 0 || ms > 1e15) fw::DatabaseError(kUnableToLoad);
      value_ = fw::Variant::FromDateTime(fw::TimeStampToDateTime(fw::MSecsToTimeStamp(ms)));
      return;
    }
    default:
      TypeError();
  }
}

// ---------------------------------------------------------------------------
// TTolmidParams

void TTolmidParams::Remove(TTolmidParam* p) {
  items_.erase(std::remove(items_.begin(), items_.end(), p), items_.end());
}

TTolmidParam& TTolmidParams::At(int index) const {
  if (index < 0 || index >= Count())
    throw fw::EListError("List index out of bounds (" + std::to_string(index) + ")");
  return *items_[static_cast<std::size_t>(index)];
}

TTolmidParam& TTolmidParams::Items(int index) const {
  TTolmidParam& p = At(index);
  for (TTolmidParam* q : items_)
    if (q->name_ == p.name_) return *q;
  return p;
}

TTolmidParam* TTolmidParams::FindParam(const std::string& name) const {
  for (TTolmidParam* p : items_)
    if (fw::AnsiSameText(p->name_, name)) return p;
  return nullptr;
}

TTolmidParam& TTolmidParams::ParamByName(const std::string& name) const {
  TTolmidParam* p = FindParam(name);
  if (p == nullptr) fw::DatabaseErrorFmt(fw::db_msg::kParameterNotFound, {name});
  return *p;
}

TTolmidParam& TTolmidParams::CreateParam(TFieldType type, const std::string& name,
                                         TParamType param_type) {
  auto* p = new TTolmidParam(this, param_type);
  p->name_ = name;
  p->data_type_ = type;
  return *p;
}

void TTolmidParams::Clear() {
  while (!items_.empty()) delete items_.back();
}

void TTolmidParams::Assign(const TTolmidParams& source) {
  if (&source == this) return;
  Clear();
  for (const TTolmidParam* s : source.items_) (new TTolmidParam(this))->Assign(*s);
}

void TTolmidParams::AssignValues(const TTolmidParams& source) {
  for (TTolmidParam* p : items_) {
    for (const TTolmidParam* s : source.items_) {
      if (s->name_ == p->name_) {
        p->Assign(*s);
        break;
      }
    }
  }
}

bool TTolmidParams::Equal(const TTolmidParams& other) const {
  if (Count() != other.Count()) return false;
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (!items_[i]->Equal(*other.items_[i])) return false;
  return true;
}

std::vector<std::uint8_t> TTolmidParams::WriteData() const {
  std::vector<std::uint8_t> out;
  PutU16(out, kStoredVersion);
  if (items_.size() > 0xFFFF) fw::DatabaseError("Too many parameters to store");
  PutU16(out, items_.size());
  for (const TTolmidParam* p : items_) {
    if (p->name_.size() > 255)
      fw::DatabaseError("Parameter name longer than 255 characters: " + p->name_.substr(0, 40));
    out.push_back(static_cast<std::uint8_t>(p->name_.size()));
    out.insert(out.end(), p->name_.begin(), p->name_.end());
    out.push_back(static_cast<std::uint8_t>(p->param_type_));
    out.push_back(static_cast<std::uint8_t>(p->data_type_));
    if (p->data_type_ != TFieldType::ftUnknown) {
      const std::size_t size = p->DataSize();
      if (size > TTolmidParam::kMaxStoredData) {
        std::string text = fw::FormatMessage(kDataTooLarge, {p->name_});
        text.replace(text.find("%d"), 2, std::to_string(TTolmidParam::kMaxStoredData));
        fw::DatabaseError(text);
      }
      PutU16(out, size);
      std::vector<std::uint8_t> value(size);
      p->GetData(value.data());
      out.insert(out.end(), value.begin(), value.end());
    }
    out.push_back(p->is_null_ ? 1 : 0);
    out.push_back(p->bound_ ? 1 : 0);
  }
  return out;
}

void TTolmidParams::ReadData(std::span<const std::uint8_t> data) {
  Reader r(data);
  const std::uint32_t version = r.U16();
  if (version > 2) fw::DatabaseError(kUnableToLoad);
  const bool wide = version == 2;
  const std::uint32_t count = wide ? r.U32() : r.U16();
  // Each parameter takes at least 5 bytes (name length, two types, flags).
  if (count > r.Left() / 5) fw::DatabaseError(kUnableToLoad);
  TTolmidParams read;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t name_len = wide ? r.U32() : r.U8();
    const std::uint8_t* name = r.Take(name_len);
    const std::uint32_t param_type = r.U8();
    const std::uint32_t data_type = r.U8();
    if (param_type > static_cast<std::uint32_t>(kLastParamType) ||
        data_type > static_cast<std::uint32_t>(kLastFieldType))
      fw::DatabaseError(kUnableToLoad);
    auto* p = new TTolmidParam(&read, static_cast<TParamType>(param_type));
    p->name_.assign(reinterpret_cast<const char*>(name), name_len);
    p->data_type_ = static_cast<TFieldType>(data_type);
    if (p->data_type_ != TFieldType::ftUnknown) {
      const std::uint32_t size = wide ? r.U32() : r.U16();
      if (size > TTolmidParam::kMaxStoredData) fw::DatabaseError(kUnableToLoad);
      p->SetData(r.Take(size), size);
    }
    p->is_null_ = r.U8() != 0;
    p->bound_ = r.U8() != 0;
  }
  Clear();
  while (!read.items_.empty()) {
    TTolmidParam* p = read.items_.front();
    read.items_.erase(read.items_.begin());
    p->list_ = this;
    items_.push_back(p);
  }
}

}  // namespace dataset
