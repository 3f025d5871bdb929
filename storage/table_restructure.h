// Table restructure: converting a field value between field types, and the
// pieces of TDataFile::AlterDataTable (table_restructure.cpp) that tests
// reach directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "storage/data_file_format.h"

namespace storage {

// Room a value needs while it is converted: the longest string (250
// characters and its zero byte).
inline constexpr std::size_t kConvertScratchSize = 251;

// Converts the stored value in value (at least kConvertScratchSize bytes,
// in source's stored form) in place into target's stored form. False only
// for a pair of types without a conversion; no type but BLOB converts into
// BLOB (raw bytes are no chain offset). A conversion that fails on the
// value (text that does not read as a number, a date out of range) leaves
// zero bytes and still counts as converted. lossy, when given, is set when
// the value did not survive whole: a string or bytes cut shorter, text that
// did not read as the target type, an integer that does not fit the
// target's width.
bool ConvertFieldValue(const TFieldDescriptor& source, const TFieldDescriptor& target,
                       std::span<std::uint8_t> value, bool* lossy = nullptr);

// The restructure's field comparison: field number, type, subtype, physical
// size, decimals, required flag and the reserved byte after it; default,
// minimum, maximum and expression texts without regard to letter case; the
// computed flag. Names and descriptions do not count.
bool SameFieldDefinition(const TFieldDescriptor& a, const TFieldDescriptor& b);

}  // namespace storage
