// How the framework's field types meet the engine's: the descriptor a field
// or parameter definition becomes, the field definition a working
// descriptor gives back, and the sizes each framework type allows.
//
//   framework type          engine type/subtype   size byte / decimals byte
//   String                  1/0                   size
//   FixedChar, WideString   1/31, 1/32            size
//   Smallint, Integer, Word 5/0, 6/0, 12/0
//   Boolean                 4/0
//   Float, Currency         7/0, 7/21
//   BCD                     8/0                   decimals = size
//   Date, Time, DateTime    2/0, 10/0, 11/0
//   Bytes, VarBytes         9/0, 15/0             size
//   AutoInc                 6/29
//   Blob, Memo, Graphic     3/23, 3/22, 3/26
//   FmtMemo, TypedBinary    3/24, 3/28
//   ParadoxOle, DBaseOle    3/0
//   Cursor, Largeint        17/0, 18/0
//   ADT, Array, Reference,
//   DataSet                 20..23/0
//   Unknown                 0/0
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "framework/db/db_common.h"
#include "storage/data_file_format.h"

namespace dataset {

struct EngineType {
  std::uint8_t type = 0;
  std::uint8_t subtype = 0;
};

[[nodiscard]] EngineType EngineFieldType(fw::TFieldType type);

// A zero-filled descriptor for a definition: number, name (cut to 30),
// type, subtype, size or decimals by the table above, required flag.
[[nodiscard]] storage::TFieldDescriptor MakeFieldDescriptor(int field_no, const std::string& name,
                                                            fw::TFieldType type, int size,
                                                            bool required);

// The framework's view of a working descriptor; nullopt for the types that
// get no definition (0, 14, 16, 17, 24 and above).
struct FrameworkFieldType {
  fw::TFieldType type = fw::TFieldType::ftUnknown;
  int size = 0;
  int precision = 0;
};
[[nodiscard]] std::optional<FrameworkFieldType> FrameworkType(const storage::TFieldDescriptor& d);

// "Invalid field size" unless size suits type: 1..250 for String, Bytes
// and VarBytes (and FixedChar, WideString), 0..8 for BCD, 0 for the rest.
void CheckFieldSize(fw::TFieldType type, int size);

}  // namespace dataset
