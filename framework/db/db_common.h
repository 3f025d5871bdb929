// Shared declarations of the framework's data-access classes: the field,
// state and event enumerations, small option sets, the message table and
// the routine that raises EDatabaseError.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

#include "framework/exceptions.h"

namespace fw {

class TComponent;

// Field types in the framework's declaration order; stored form data and
// the engine's type tables use these ordinals (ftString is 1, ftInteger 3,
// ftBoolean 5, ftDate 9, ftAutoInc 14, ftMemo 16, ftGraphic 17).
enum class TFieldType : std::uint8_t {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
  ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
  ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
  ftLargeint, ftADT, ftArray, ftReference, ftDataSet
};
// "String", "Integer", ... as used in "Cannot access field '%s' as type %s".
const char* FieldTypeName(TFieldType t);

enum class TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc };

enum class TDataSetState {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue,
  dsOldValue, dsCurValue, dsBlockRead, dsInternalCalc, dsOpening
};

enum class TDataEvent {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange,
  deUpdateRecord, deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange,
  deFocusControl
};

// How GetRecord moves the concrete dataset's cursor, and what it found.
enum class TGetMode { gmCurrent, gmNext, gmPrior };
enum class TGetResult { grOK, grBOF, grEOF, grError };
// The position a record buffer stands for: a record, before the first,
// after the last, or a record being inserted.
enum class TBookmarkFlag : std::uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

enum class TDataAction { daFail, daAbort, daRetry };
enum class TBlobStreamMode { bmRead, bmWrite, bmReadWrite };

// A set of enumerators of E (at most 32), as the framework's Pascal sets.
template <typename E>
class TSet {
 public:
  constexpr TSet() = default;
  constexpr TSet(std::initializer_list<E> items) {
    for (E e : items) bits_ |= Bit(e);
  }
  constexpr bool Has(E e) const { return (bits_ & Bit(e)) != 0; }
  constexpr TSet& Include(E e) { bits_ |= Bit(e); return *this; }
  constexpr TSet& Exclude(E e) { bits_ &= ~Bit(e); return *this; }
  constexpr bool Empty() const { return bits_ == 0; }
  friend constexpr bool operator==(TSet a, TSet b) { return a.bits_ == b.bits_; }

 private:
  static constexpr std::uint32_t Bit(E e) { return std::uint32_t{1} << static_cast<unsigned>(e); }
  std::uint32_t bits_ = 0;
};

enum class TFilterOption { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = TSet<TFilterOption>;
enum class TLocateOption { loCaseInsensitive, loPartialKey };
using TLocateOptions = TSet<TLocateOption>;
enum class TIndexOption { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression };
using TIndexOptions = TSet<TIndexOption>;

// The silent exception: an operation given up on purpose (an error handler
// answering daAbort). Message boxes do not show it.
FW_DECLARE_EXCEPTION(EAbort, Exception);

// The framework's data-access message table.
namespace db_msg {
inline constexpr const char* kInvalidFieldSize = "Invalid field size";
inline constexpr const char* kFieldIndexError = "Field index out of range";
inline constexpr const char* kFieldReadOnly = "Field '%s' cannot be modified";
inline constexpr const char* kNotIndexField = "Field '%s' is not indexed and cannot be modified";
inline constexpr const char* kIndexFieldMissing = "Cannot access index field '%s'";
inline constexpr const char* kNotEditing = "Dataset not in edit or insert mode";
inline constexpr const char* kDataSetOpen = "Cannot perform this operation on an open dataset";
inline constexpr const char* kDataSetClosed = "Cannot perform this operation on a closed dataset";
inline constexpr const char* kDataSetEmpty = "Cannot perform this operation on an empty dataset";
inline constexpr const char* kDataSetReadOnly = "Cannot modify a read-only dataset";
inline constexpr const char* kCircularDataLink = "Circular datalinks are not allowed";
inline constexpr const char* kFieldNameMissing = "Field name missing";
inline constexpr const char* kDuplicateFieldName = "Duplicate field name '%s'";
inline constexpr const char* kFieldNotFound = "Field '%s' not found";
inline constexpr const char* kParameterNotFound = "Parameter '%s' not found";
inline constexpr const char* kBadParameterData = "Unable to load bind parameters";
inline constexpr const char* kParameterTooBig =
    "Parameter '%s', cannot save data larger than %d bytes";
inline constexpr const char* kFieldRequired = "Field '%s' must have a value";
inline constexpr const char* kFieldAccessError = "Cannot access field '%s' as type %s";
inline constexpr const char* kRecordNotFound = "Record not found";
inline constexpr const char* kBookmarkSize =
    "Bookmark of %s bytes does not fit this dataset, whose bookmarks have %s bytes (taken on another index or dataset)";
inline constexpr const char* kIndexNotFound = "Index '%s' not found";
inline constexpr const char* kNoIndexForFields = "No index for fields '%s'";
inline constexpr const char* kInvalidIntegerValue = "'%s' is not a valid integer value for field '%s'";
inline constexpr const char* kInvalidFloatValue = "'%s' is not a valid floating point value for field '%s'";
inline constexpr const char* kInvalidBoolValue = "'%s' is not a valid boolean value for field '%s'";
inline constexpr const char* kFieldRangeError =
    "%s is not a valid value for field '%s'. The allowed range is %s to %s";
inline constexpr const char* kNoDataSet = "Missing DataSet property";
inline constexpr const char* kFalse = "False";
inline constexpr const char* kTrue = "True";
}  // namespace db_msg

// Raises EDatabaseError with message; when component has a name, the
// message is prefixed with "<name>: " as the framework reports component
// errors.
[[noreturn]] void DatabaseError(const std::string& message, const TComponent* component = nullptr);
// Replaces each %s of format in turn with args.
[[noreturn]] void DatabaseErrorFmt(const char* format, std::initializer_list<std::string> args,
                                   const TComponent* component = nullptr);
std::string FormatMessage(const char* format, std::initializer_list<std::string> args);

}  // namespace fw
