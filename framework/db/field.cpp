#include "framework/db/field.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "framework/db/dataset.h"
#include "framework/streams.h"

namespace fw {

// ---------------------------------------------------------------------------
// TField

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::~TField() {
  if (dataset_ != nullptr) dataset_->RemoveField(this);
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (dataset != nullptr) {
    dataset->CheckInactive();
    if (!field_name_.empty() && dataset->FindField(field_name_) != nullptr)
      DatabaseErrorFmt(db_msg::kDuplicateFieldName, {field_name_}, dataset);
  }
  if (dataset_ != nullptr) dataset_->RemoveField(this);
  if (dataset != nullptr) dataset->AddField(this);
}

void TField::SetFieldName(const std::string& name) {
  if (dataset_ != nullptr) {
    TField* other = dataset_->FindField(name);
    if (other != nullptr && other != this)
      DatabaseErrorFmt(db_msg::kDuplicateFieldName, {name}, dataset_);
  }
  field_name_ = name;
}

void TField::SetSize(int size) {
  if (dataset_ != nullptr) dataset_->CheckInactive();
  CheckTypeSize(size);
  size_ = size;
}

void TField::CheckTypeSize(int size) const {
  if (size != 0) DatabaseError(db_msg::kInvalidFieldSize);
}

int TField::DataSize() const { return 0; }

void TField::SetFieldKind(TFieldKind kind) {
  if (kind == field_kind_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  field_kind_ = kind;
}

int TField::Index() const {
  if (dataset_ == nullptr) return -1;
  auto& f = dataset_->fields_;
  return static_cast<int>(std::find(f.begin(), f.end(), this) - f.begin());
}

void TField::SetIndex(int index) {
  if (dataset_ == nullptr) return;
  auto& f = dataset_->fields_;
  index = std::clamp(index, 0, static_cast<int>(f.size()) - 1);
  f.erase(std::find(f.begin(), f.end(), this));
  f.insert(f.begin() + index, this);
  dataset_->DataEvent(TDataEvent::deFieldListChange);
}

bool TField::IsIndexField() const { return dataset_ != nullptr && dataset_->GetIsIndexField(this); }

bool TField::CanModify() const {
  if (read_only_ || dataset_ == nullptr) return false;
  if (dataset_->State() == TDataSetState::dsSetKey) return IsIndexField();
  return (field_kind_ == TFieldKind::fkData || field_kind_ == TFieldKind::fkInternalCalc) &&
         dataset_->CanModify();
}

bool TField::IsNull() const { return dataset_ == nullptr || !GetData(nullptr); }

bool TField::GetData(void* buffer) const {
  if (dataset_ == nullptr) DatabaseErrorFmt("Field '%s' has no dataset", {DisplayName()});
  return dataset_->GetFieldData(this, buffer);
}

void TField::SetData(const void* buffer) {
  if (dataset_ == nullptr) DatabaseErrorFmt("Field '%s' has no dataset", {DisplayName()});
  dataset_->SetFieldData(this, buffer);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  validating_ = buffer;
  try {
    OnValidate(*this);
  } catch (...) {
    validating_ = nullptr;
    throw;
  }
  validating_ = nullptr;
}

void TField::Change() {
  if (OnChange) OnChange(*this);
}

void TField::FocusControl() {
  if (dataset_ != nullptr)
    dataset_->DataEvent(TDataEvent::deFocusControl, reinterpret_cast<std::intptr_t>(this));
}

void TField::AccessError(const char* type_name) const {
  DatabaseErrorFmt(db_msg::kFieldAccessError, {DisplayName(), type_name});
}

void TField::RangeError(const std::string& value, const std::string& min,
                        const std::string& max) const {
  DatabaseErrorFmt(db_msg::kFieldRangeError, {value, DisplayName(), min, max});
}

Variant TField::AsVariant() const {
  if (IsNull()) return Variant();
  return GetAsVariantImpl();
}

void TField::SetAsVariant(const Variant& v) {
  switch (v.GetKind()) {
    case Variant::Kind::Null: Clear(); break;
    case Variant::Kind::Boolean: SetAsBoolean(v.AsBoolean()); break;
    case Variant::Kind::Integer: {
      std::int64_t i = v.AsInteger();
      if (i >= std::numeric_limits<std::int32_t>::min() && i <= std::numeric_limits<std::int32_t>::max())
        SetAsInteger(static_cast<std::int32_t>(i));
      else
        SetAsFloat(static_cast<double>(i));
      break;
    }
    case Variant::Kind::Float: SetAsFloat(v.AsFloat()); break;
    case Variant::Kind::Currency: SetAsCurrency(v.AsCurrency()); break;
    case Variant::Kind::DateTime: SetAsDateTime(v.AsDateTime()); break;
    case Variant::Kind::String: SetAsString(v.AsString()); break;
    case Variant::Kind::Array: AccessError("Array");
  }
}

void TField::Assign(const TField* source) {
  if (source == nullptr || source->IsNull()) {
    Clear();
    return;
  }
  if (dynamic_cast<const TBlobField*>(source) != nullptr || dynamic_cast<TBlobField*>(this) != nullptr)
    SetAsString(source->AsString());
  else
    SetAsVariant(source->AsVariant());
}

void TField::GetText(std::string& text, bool display_text) const {
  (void)display_text;
  text = GetAsString();
}

std::string TField::DisplayText() const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField&>(*this), text, true);
  else
    GetText(text, true);
  return text;
}

std::string TField::Text() const {
  std::string text;
  if (OnGetText)
    OnGetText(const_cast<TField&>(*this), text, false);
  else
    GetText(text, false);
  return text;
}

void TField::SetText(const std::string& text) {
  if (OnSetText)
    OnSetText(*this, text);
  else
    SetTextImpl(text);
}

// ---------------------------------------------------------------------------
// TStringField

TStringField::TStringField(TComponent* owner) : TField(owner) {
  SetDataType(TFieldType::ftString);
  SetSize(20);
}

void TStringField::CheckTypeSize(int size) const {
  if (size < 0 || size > 8192) DatabaseError(db_msg::kInvalidFieldSize);
}

bool TStringField::GetValue(std::string& value) const {
  std::string buf(static_cast<std::size_t>(DataSize()), '\0');
  if (!GetData(buf.data())) return false;
  value.assign(buf.c_str());
  return true;
}

std::string TStringField::GetAsString() const {
  std::string v;
  return GetValue(v) ? v : std::string();
}

void TStringField::SetAsStringImpl(const std::string& v) {
  std::string buf(static_cast<std::size_t>(DataSize()), '\0');
  std::memcpy(buf.data(), v.data(), std::min<std::size_t>(v.size(), static_cast<std::size_t>(Size())));
  SetData(buf.data());
}

std::int32_t TStringField::GetAsInteger() const { return StrToInt(GetAsString()); }
void TStringField::SetAsIntegerImpl(std::int32_t v) { SetAsStringImpl(IntToStr(v)); }
double TStringField::GetAsFloat() const { return StrToFloat(GetAsString()); }
void TStringField::SetAsFloatImpl(double v) { SetAsStringImpl(FloatToStr(v)); }

bool TStringField::GetAsBoolean() const {
  std::string s = GetAsString();
  return !s.empty() && (s[0] == 'Y' || s[0] == 'y' || s[0] == 'T' || s[0] == 't');
}

void TStringField::SetAsBooleanImpl(bool v) { SetAsStringImpl(v ? "T" : "F"); }
TDateTime TStringField::GetAsDateTime() const { return StrToDateTime(GetAsString()); }
void TStringField::SetAsDateTimeImpl(TDateTime v) { SetAsStringImpl(DateTimeToStr(v)); }

// ---------------------------------------------------------------------------
// Integer fields

TIntegerField::TIntegerField(TComponent* owner)
    : TNumericField(owner),
      min_range_(std::numeric_limits<std::int32_t>::min()),
      max_range_(std::numeric_limits<std::int32_t>::max()) {
  SetDataType(TFieldType::ftInteger);
}

TSmallintField::TSmallintField(TComponent* owner) : TIntegerField(owner) {
  SetDataType(TFieldType::ftSmallint);
  SetRange(-32768, 32767);
}

TWordField::TWordField(TComponent* owner) : TIntegerField(owner) {
  SetDataType(TFieldType::ftWord);
  SetRange(0, 65535);
}

TAutoIncField::TAutoIncField(TComponent* owner) : TIntegerField(owner) {
  SetDataType(TFieldType::ftAutoInc);
}

int TIntegerField::DataSize() const {
  return DataType() == TFieldType::ftSmallint || DataType() == TFieldType::ftWord ? 2 : 4;
}

bool TIntegerField::GetValue(std::int32_t& value) const {
  unsigned char buf[4] = {};
  if (!GetData(buf)) return false;
  if (DataType() == TFieldType::ftSmallint) {
    std::int16_t v;
    std::memcpy(&v, buf, 2);
    value = v;
  } else if (DataType() == TFieldType::ftWord) {
    std::uint16_t v;
    std::memcpy(&v, buf, 2);
    value = v;
  } else {
    std::memcpy(&value, buf, 4);
  }
  return true;
}

std::int32_t TIntegerField::GetAsInteger() const {
  std::int32_t v = 0;
  return GetValue(v) ? v : 0;
}

std::string TIntegerField::GetAsString() const {
  std::int32_t v = 0;
  return GetValue(v) ? IntToStr(v) : std::string();
}

void TIntegerField::GetText(std::string& text, bool display_text) const {
  std::int32_t v = 0;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const std::string& mask = Mask(display_text);
  text = mask.empty() ? IntToStr(v) : FormatFloat(mask, v);
}

void TIntegerField::SetAsIntegerImpl(std::int32_t v) {
  std::int32_t lo = min_range_, hi = max_range_;
  if (min_value_ != 0 || max_value_ != 0) {
    lo = min_value_;
    hi = max_value_;
  }
  if (v < lo || v > hi) RangeError(IntToStr(v), IntToStr(lo), IntToStr(hi));
  unsigned char buf[4];
  if (DataSize() == 2) {
    auto w = static_cast<std::uint16_t>(v);
    std::memcpy(buf, &w, 2);
  } else {
    std::memcpy(buf, &v, 4);
  }
  SetData(buf);
}

void TIntegerField::SetAsStringImpl(const std::string& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  std::int64_t i;
  if (!TryStrToInt64(v, i)) DatabaseErrorFmt(db_msg::kInvalidIntegerValue, {v, DisplayName()});
  if (i < std::numeric_limits<std::int32_t>::min() || i > std::numeric_limits<std::int32_t>::max()) {
    std::int32_t lo = min_value_ != 0 || max_value_ != 0 ? min_value_ : min_range_;
    std::int32_t hi = min_value_ != 0 || max_value_ != 0 ? max_value_ : max_range_;
    RangeError(IntToStr(i), IntToStr(lo), IntToStr(hi));
  }
  SetAsIntegerImpl(static_cast<std::int32_t>(i));
}

double TIntegerField::GetAsFloat() const { return GetAsInteger(); }

void TIntegerField::SetAsFloatImpl(double v) {
  if (!(v >= -2147483648.0 && v <= 2147483647.0)) {
    std::int32_t lo = min_value_ != 0 || max_value_ != 0 ? min_value_ : min_range_;
    std::int32_t hi = min_value_ != 0 || max_value_ != 0 ? max_value_ : max_range_;
    RangeError(FloatToStr(v), IntToStr(lo), IntToStr(hi));
  }
  SetAsIntegerImpl(static_cast<std::int32_t>(Round(v)));
}

Variant TIntegerField::GetAsVariantImpl() const { return Variant(GetAsInteger()); }

// ---------------------------------------------------------------------------
// TLargeintField

TLargeintField::TLargeintField(TComponent* owner) : TNumericField(owner) {
  SetDataType(TFieldType::ftLargeint);
}

bool TLargeintField::GetValue(std::int64_t& value) const {
  unsigned char buf[8];
  if (!GetData(buf)) return false;
  std::memcpy(&value, buf, 8);
  return true;
}

std::int64_t TLargeintField::AsLargeInt() const {
  std::int64_t v = 0;
  return GetValue(v) ? v : 0;
}

void TLargeintField::SetAsLargeInt(std::int64_t v) { SetData(&v); }

void TLargeintField::GetText(std::string& text, bool display_text) const {
  std::int64_t v = 0;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const std::string& mask = Mask(display_text);
  text = mask.empty() ? IntToStr(v) : FormatFloat(mask, static_cast<double>(v));
}

std::string TLargeintField::GetAsString() const {
  std::int64_t v = 0;
  return GetValue(v) ? IntToStr(v) : std::string();
}

void TLargeintField::SetAsStringImpl(const std::string& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  std::int64_t i;
  if (!TryStrToInt64(v, i)) DatabaseErrorFmt(db_msg::kInvalidIntegerValue, {v, DisplayName()});
  SetAsLargeInt(i);
}

std::int32_t TLargeintField::GetAsInteger() const {
  std::int64_t v = AsLargeInt();
  if (v < std::numeric_limits<std::int32_t>::min() || v > std::numeric_limits<std::int32_t>::max())
    throw EIntOverflow("Integer overflow");
  return static_cast<std::int32_t>(v);
}

double TLargeintField::GetAsFloat() const { return static_cast<double>(AsLargeInt()); }
void TLargeintField::SetAsFloatImpl(double v) { SetAsLargeInt(Round(v)); }
Variant TLargeintField::GetAsVariantImpl() const { return Variant(AsLargeInt()); }

// ---------------------------------------------------------------------------
// TFloatField

TFloatField::TFloatField(TComponent* owner) : TNumericField(owner) {
  SetDataType(TFieldType::ftFloat);
}

TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner) {
  SetDataType(TFieldType::ftCurrency);
  SetCurrency(true);
}

double TFloatField::GetAsFloat() const {
  double v = 0;
  return GetData(&v) ? v : 0.0;
}

std::string TFloatField::GetAsString() const {
  double v = 0;
  return GetData(&v) ? FloatToStrF(v, TFloatFormat::ffGeneral, precision_, 0) : std::string();
}

void TFloatField::GetText(std::string& text, bool display_text) const {
  double v = 0;
  if (!GetData(&v)) {
    text.clear();
    return;
  }
  const std::string& mask = Mask(display_text);
  if (!mask.empty())
    text = FormatFloat(mask, v);
  else if (display_text && currency_)
    text = FloatToStrF(v, TFloatFormat::ffCurrency, precision_, kCurrencyDecimals);
  else
    text = FloatToStrF(v, TFloatFormat::ffGeneral, precision_, 0);
}

void TFloatField::SetAsFloatImpl(double v) {
  if ((min_value_ != 0 || max_value_ != 0) && (v < min_value_ || v > max_value_))
    RangeError(FloatToStr(v), FloatToStr(min_value_), FloatToStr(max_value_));
  SetData(&v);
}

void TFloatField::SetAsStringImpl(const std::string& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  double d;
  if (!TryStrToFloat(v, d)) DatabaseErrorFmt(db_msg::kInvalidFloatValue, {v, DisplayName()});
  SetAsFloatImpl(d);
}

std::int32_t TFloatField::GetAsInteger() const { return static_cast<std::int32_t>(Round(GetAsFloat())); }

Variant TFloatField::GetAsVariantImpl() const { return Variant(GetAsFloat()); }

// ---------------------------------------------------------------------------
// TBCDField

TBCDField::TBCDField(TComponent* owner) : TNumericField(owner) {
  SetDataType(TFieldType::ftBCD);
  SetSize(4);
}

void TBCDField::CheckTypeSize(int size) const {
  if (size < 0 || size > 32) DatabaseError(db_msg::kInvalidFieldSize);
}

bool TBCDField::GetValue(fw::Currency& value) const {
  unsigned char buf[8];
  if (!GetData(buf)) return false;
  return DataSet()->BCDToCurr(buf, value);
}

fw::Currency TBCDField::GetAsCurrency() const {
  fw::Currency c;
  return GetValue(c) ? c : fw::Currency{};
}

void TBCDField::SetAsCurrencyImpl(fw::Currency v) {
  unsigned char buf[8] = {};
  if (!DataSet()->CurrToBCD(v, buf, precision_, Size()))
    RangeError(CurrToStr(v), "", "");
  SetData(buf);
}

std::string TBCDField::GetAsString() const {
  fw::Currency c;
  return GetValue(c) ? CurrToStr(c) : std::string();
}

void TBCDField::GetText(std::string& text, bool display_text) const {
  fw::Currency c;
  if (!GetValue(c)) {
    text.clear();
    return;
  }
  const std::string& mask = Mask(display_text);
  if (!mask.empty())
    text = FormatCurr(mask, c);
  else if (display_text && currency_)
    text = CurrToStrF(c, TFloatFormat::ffCurrency, kCurrencyDecimals);
  else
    text = CurrToStr(c);
}

void TBCDField::SetAsStringImpl(const std::string& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  fw::Currency c;
  if (!TryStrToCurr(v, c)) DatabaseErrorFmt(db_msg::kInvalidFloatValue, {v, DisplayName()});
  SetAsCurrencyImpl(c);
}

std::int32_t TBCDField::GetAsInteger() const {
  return static_cast<std::int32_t>(Round(CurrToDouble(GetAsCurrency())));
}
void TBCDField::SetAsIntegerImpl(std::int32_t v) {
  SetAsCurrencyImpl(fw::Currency::FromRaw(static_cast<std::int64_t>(v) * 10000));
}
double TBCDField::GetAsFloat() const { return CurrToDouble(GetAsCurrency()); }
void TBCDField::SetAsFloatImpl(double v) { SetAsCurrencyImpl(DoubleToCurr(v)); }
Variant TBCDField::GetAsVariantImpl() const { return Variant(GetAsCurrency()); }

// ---------------------------------------------------------------------------
// TBooleanField. True is stored as 0xFFFF (a 16-bit Boolean); any non-zero
// value reads as true.

TBooleanField::TBooleanField(TComponent* owner) : TField(owner) {
  SetDataType(TFieldType::ftBoolean);
}

void TBooleanField::SetDisplayValues(const std::string& v) {
  display_values_ = v;
  if (v.empty()) {
    true_text_ = db_msg::kTrue;
    false_text_ = db_msg::kFalse;
    return;
  }
  auto semi = v.find(';');
  true_text_ = v.substr(0, semi);
  false_text_ = semi == std::string::npos ? std::string() : v.substr(semi + 1);
}

bool TBooleanField::GetAsBoolean() const {
  std::uint16_t v = 0;
  return GetData(&v) && v != 0;
}

void TBooleanField::SetAsBooleanImpl(bool v) {
  std::uint16_t w = v ? 0xFFFF : 0;
  SetData(&w);
}

std::string TBooleanField::GetAsString() const {
  std::uint16_t v = 0;
  if (!GetData(&v)) return std::string();
  return v != 0 ? true_text_ : false_text_;
}

void TBooleanField::SetAsStringImpl(const std::string& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  // A prefix of either text, case-insensitive; false is tried first.
  auto matches = [&](const std::string& text) {
    return !text.empty() && AnsiCompareText(v, text.substr(0, v.size())) == 0;
  };
  if (matches(false_text_))
    SetAsBooleanImpl(false);
  else if (matches(true_text_))
    SetAsBooleanImpl(true);
  else
    DatabaseErrorFmt(db_msg::kInvalidBoolValue, {v, DisplayName()});
}

Variant TBooleanField::GetAsVariantImpl() const { return Variant(GetAsBoolean()); }

// ---------------------------------------------------------------------------
// Date and time fields

TDateTimeField::TDateTimeField(TComponent* owner) : TField(owner) {
  SetDataType(TFieldType::ftDateTime);
}

TDateField::TDateField(TComponent* owner) : TDateTimeField(owner) { SetDataType(TFieldType::ftDate); }

TTimeField::TTimeField(TComponent* owner) : TDateTimeField(owner) { SetDataType(TFieldType::ftTime); }

int TDateTimeField::DataSize() const { return DataType() == TFieldType::ftDateTime ? 8 : 4; }

bool TDateTimeField::GetValue(TDateTime& value) const {
  unsigned char buf[8] = {};
  if (!GetData(buf)) return false;
  if (DataType() == TFieldType::ftDate) {
    std::int32_t days;
    std::memcpy(&days, buf, 4);
    value = TimeStampToDateTime(TTimeStamp{0, days});
  } else if (DataType() == TFieldType::ftTime) {
    std::int32_t ms;
    std::memcpy(&ms, buf, 4);
    value = TimeStampToDateTime(TTimeStamp{ms, kDateDelta});
  } else {
    double ms;
    std::memcpy(&ms, buf, 8);
    value = TimeStampToDateTime(MSecsToTimeStamp(ms));
  }
  return true;
}

TDateTime TDateTimeField::GetAsDateTime() const {
  TDateTime v = 0;
  return GetValue(v) ? v : 0.0;
}

void TDateTimeField::SetAsDateTimeImpl(TDateTime v) {
  TTimeStamp ts = DateTimeToTimeStamp(v);
  unsigned char buf[8] = {};
  if (DataType() == TFieldType::ftDate) {
    std::memcpy(buf, &ts.Date, 4);
  } else if (DataType() == TFieldType::ftTime) {
    std::memcpy(buf, &ts.Time, 4);
  } else {
    double ms = TimeStampToMSecs(ts);
    std::memcpy(buf, &ms, 8);
  }
  SetData(buf);
}

std::string TDateTimeField::GetAsString() const {
  std::string text;
  TDateTimeField::GetText(text, false);
  return text;
}

void TDateTimeField::GetText(std::string& text, bool display_text) const {
  TDateTime v = 0;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  if (display_text && !display_format_.empty())
    text = FormatDateTime(display_format_, v);
  else if (DataType() == TFieldType::ftDate)
    text = DateToStr(v);
  else if (DataType() == TFieldType::ftTime)
    text = TimeToStr(v);
  else
    text = DateTimeToStr(v);
}

void TDateTimeField::SetAsStringImpl(const std::string& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  if (DataType() == TFieldType::ftDate)
    SetAsDateTimeImpl(StrToDate(v));
  else if (DataType() == TFieldType::ftTime)
    SetAsDateTimeImpl(StrToTime(v));
  else
    SetAsDateTimeImpl(StrToDateTime(v));
}

Variant TDateTimeField::GetAsVariantImpl() const { return Variant::FromDateTime(GetAsDateTime()); }

// ---------------------------------------------------------------------------
// Binary fields

TBytesField::TBytesField(TComponent* owner) : TBinaryField(owner) {
  SetDataType(TFieldType::ftBytes);
  SetSize(16);
}

TVarBytesField::TVarBytesField(TComponent* owner) : TBinaryField(owner) {
  SetDataType(TFieldType::ftVarBytes);
  SetSize(16);
}

void TBinaryField::CheckTypeSize(int size) const {
  if (size < 1 || size > 65533) DatabaseError(db_msg::kInvalidFieldSize);
}

void TBinaryField::GetText(std::string& text, bool display_text) const {
  (void)display_text;
  text = DataType() == TFieldType::ftBytes ? "(Bytes)" : "(VarBytes)";
}

std::string TBinaryField::GetAsString() const {
  std::string buf(static_cast<std::size_t>(DataSize()), '\0');
  if (!GetData(buf.data())) return std::string();
  if (DataType() == TFieldType::ftBytes) return buf;
  std::uint16_t len;
  std::memcpy(&len, buf.data(), 2);
  len = std::min<std::uint16_t>(len, static_cast<std::uint16_t>(Size()));
  return buf.substr(2, len);
}

void TBinaryField::SetAsStringImpl(const std::string& v) {
  std::string buf(static_cast<std::size_t>(DataSize()), '\0');
  std::size_t n = std::min<std::size_t>(v.size(), static_cast<std::size_t>(Size()));
  if (DataType() == TFieldType::ftBytes) {
    std::memcpy(buf.data(), v.data(), n);
  } else {
    auto len = static_cast<std::uint16_t>(n);
    std::memcpy(buf.data(), &len, 2);
    std::memcpy(buf.data() + 2, v.data(), n);
  }
  SetData(buf.data());
}

// ---------------------------------------------------------------------------
// BLOB fields

TBlobField::TBlobField(TComponent* owner) : TField(owner) { SetDataType(TFieldType::ftBlob); }

TMemoField::TMemoField(TComponent* owner) : TBlobField(owner) { SetDataType(TFieldType::ftMemo); }

TGraphicField::TGraphicField(TComponent* owner) : TBlobField(owner) {
  SetDataType(TFieldType::ftGraphic);
}

void TBlobField::SetBlobType(TFieldType t) {
  switch (t) {
    case TFieldType::ftBlob: case TFieldType::ftMemo: case TFieldType::ftGraphic:
    case TFieldType::ftFmtMemo: case TFieldType::ftParadoxOle: case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary:
      SetDataType(t);
      break;
    default:
      DatabaseErrorFmt(db_msg::kFieldAccessError, {DisplayName(), FieldTypeName(t)});
  }
}

void TBlobField::CheckTypeSize(int size) const {
  if (size < 0) DatabaseError(db_msg::kInvalidFieldSize);
}

int TBlobField::BlobSize() const {
  auto stream = DataSet() ? DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), TBlobStreamMode::bmRead)
                          : nullptr;
  return stream ? static_cast<int>(stream->Size()) : 0;
}

std::string TBlobField::GetAsString() const {
  if (DataSet() == nullptr) return std::string();
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), TBlobStreamMode::bmRead);
  if (!stream) return std::string();
  std::string out(static_cast<std::size_t>(stream->Size()), '\0');
  std::int64_t n = stream->Read(out.data(), static_cast<std::int64_t>(out.size()));
  out.resize(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
  return out;
}

void TBlobField::SetAsStringImpl(const std::string& v) {
  std::unique_ptr<TStream> stream;
  if (DataSet() != nullptr) stream = DataSet()->CreateBlobStream(this, TBlobStreamMode::bmWrite);
  if (!stream) DatabaseErrorFmt(db_msg::kFieldReadOnly, {DisplayName()});
  stream->WriteBuffer(v.data(), static_cast<std::int64_t>(v.size()));
}

void TBlobField::GetText(std::string& text, bool display_text) const {
  (void)display_text;
  const char* name;
  switch (DataType()) {
    case TFieldType::ftMemo: case TFieldType::ftFmtMemo: name = "Memo"; break;
    case TFieldType::ftGraphic: name = "Graphic"; break;
    default: name = "Blob"; break;
  }
  text = std::string("(") + (IsNull() ? std::string(name) : UpperCase(name)) + ")";
}

void TBlobField::LoadFromStream(TStream& source) {
  std::unique_ptr<TStream> stream;
  if (DataSet() != nullptr) stream = DataSet()->CreateBlobStream(this, TBlobStreamMode::bmWrite);
  if (!stream) DatabaseErrorFmt(db_msg::kFieldReadOnly, {DisplayName()});
  stream->CopyFrom(source, 0);
}

void TBlobField::SaveToStream(TStream& dest) const {
  if (DataSet() == nullptr) return;
  auto stream = DataSet()->CreateBlobStream(const_cast<TBlobField*>(this), TBlobStreamMode::bmRead);
  if (stream && stream->Size() > 0) dest.CopyFrom(*stream, 0);
}

void TBlobField::LoadFromFile(const std::string& file_name) {
  TFileStream f(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TBlobField::SaveToFile(const std::string& file_name) const {
  TFileStream f(file_name, fmCreate);
  SaveToStream(f);
}

// ---------------------------------------------------------------------------

TField* CreateFieldOfType(TFieldType type, TComponent* owner) {
  switch (type) {
    case TFieldType::ftString: case TFieldType::ftFixedChar: case TFieldType::ftWideString:
      return new TStringField(owner);
    case TFieldType::ftSmallint: return new TSmallintField(owner);
    case TFieldType::ftInteger: return new TIntegerField(owner);
    case TFieldType::ftWord: return new TWordField(owner);
    case TFieldType::ftAutoInc: return new TAutoIncField(owner);
    case TFieldType::ftLargeint: return new TLargeintField(owner);
    case TFieldType::ftBoolean: return new TBooleanField(owner);
    case TFieldType::ftFloat: return new TFloatField(owner);
    case TFieldType::ftCurrency: return new TCurrencyField(owner);
    case TFieldType::ftBCD: return new TBCDField(owner);
    case TFieldType::ftDate: return new TDateField(owner);
    case TFieldType::ftTime: return new TTimeField(owner);
    case TFieldType::ftDateTime: return new TDateTimeField(owner);
    case TFieldType::ftBytes: return new TBytesField(owner);
    case TFieldType::ftVarBytes: return new TVarBytesField(owner);
    case TFieldType::ftMemo: case TFieldType::ftFmtMemo: {
      auto* f = new TMemoField(owner);
      f->SetBlobType(type);
      return f;
    }
    case TFieldType::ftGraphic: return new TGraphicField(owner);
    case TFieldType::ftBlob: case TFieldType::ftParadoxOle: case TFieldType::ftDBaseOle:
    case TFieldType::ftTypedBinary: {
      auto* f = new TBlobField(owner);
      f->SetBlobType(type);
      return f;
    }
    default: return nullptr;
  }
}

}  // namespace fw
