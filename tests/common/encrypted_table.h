// A table whose contents are scrambled under a password: what opening
// through a session's password request is tested on. The engine must be
// running (a session active); the password is in the session only while
// the table is made.
//
//   testsupport::CreateEncryptedTable(dir / "secret.dat", "Secret");
#pragma once

#include <string>

#include "dataset/field_type_map.h"
#include "storage/data_file.h"

namespace testsupport {

// One integer field "A", natural order.
inline void CreateEncryptedTable(const std::string& path, const std::string& password) {
  storage::DataTableDefinition def;
  def.creator1 = 1;
  def.encrypted = true;
  def.password = password;
  def.allow_empty_primary = true;
  def.fields.push_back(dataset::MakeFieldDescriptor(1, "A", fw::TFieldType::ftInteger, 0, false));
  storage::TDataFile f;
  f.SetFileName(path);
  f.SetExclusive(true);
  f.CreateDataTable(def);
}

}  // namespace testsupport
