// TTolmidTable: the table operations CreateTable, EmptyTable, RepairTable
// and RestructureTable, and the descriptors they hand the engine.
//
// CreateTable and RestructureTable fill the same definition: locale
// language and sort ids, creator values 1 and 2 (header offsets 107 and
// 109), encryption, password, description, BLOB block size, field and
// index descriptors (index definition 0 is the primary index). The
// component itself passes language 0, sort 0, creator values 1 and 0, no
// password or description and a block size of 512 when creating.
#include <algorithm>

#include "dataset/component_errors.h"
#include "dataset/field_type_map.h"
#include "dataset/tolmid_table.h"
#include "framework/sysutils.h"
#include "storage/data_file.h"
#include "storage/engine_error.h"
#include "storage/index_format.h"

namespace dataset {

namespace {

constexpr std::uint16_t kCreatorValue1 = 1;
constexpr std::uint32_t kBlobBlockSize = 512;

std::vector<std::string> SplitNames(const std::string& list) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (pos <= list.size()) {
    std::size_t semi = list.find(';', pos);
    if (semi == std::string::npos) semi = list.size();
    std::string name = fw::Trim(std::string_view(list).substr(pos, semi - pos));
    if (!name.empty()) out.push_back(std::move(name));
    pos = semi + 1;
  }
  return out;
}

}  // namespace

void TTolmidTable::CheckDefinitionCounts(int fields) const {
  if (fields > kMaxFieldDefs)
    fw::DatabaseError("Too many field definitions: " + std::to_string(fields) + " (at most " +
                          std::to_string(kMaxFieldDefs) + ")",
                      this);
  const int indexes = index_defs_.Count();
  if (indexes == 0)
    fw::DatabaseError("No index definitions: a table needs its primary index (index definition 0)",
                      this);
  if (indexes > kMaxIndexDefs)
    fw::DatabaseError("Too many index definitions: " + std::to_string(indexes) + " (at most " +
                          std::to_string(kMaxIndexDefs) + ")",
                      this);
}

storage::TIndexDescriptor TTolmidTable::MakeIndexDescriptor(
    const fw::TIndexDef& def, const std::function<int(const std::string&)>& field_no) const {
  storage::TIndexDescriptor d;
  d.SetName(def.Name());
  const bool descending = def.Options().Has(fw::TIndexOption::ixDescending);
  d.Descending = descending ? 1 : 0;
  std::fill(std::begin(d.FieldDescending), std::end(d.FieldDescending), descending ? 1 : 0);
  d.CaseInsensitive = def.Options().Has(fw::TIndexOption::ixCaseInsensitive) ? 1 : 0;
  d.Unique = def.Options().Has(fw::TIndexOption::ixUnique) ? 1 : 0;
  const std::vector<std::string> names = SplitNames(def.Fields());
  for (std::size_t i = 0; i < names.size() && i < storage::kMaxKeyFields; ++i)
    d.FieldNumbers[i] = static_cast<std::uint16_t>(field_no(names[i]));
  return d;
}

void TTolmidTable::CreateTable() {
  CheckInactive();
  DBFlagGuard flag(*this, kTableOperationFlag);
  if (table_name_.empty()) RaiseComponentError(ComponentMessage::kNoTableName);
  fw::TFieldDefs& defs = FieldDefs();
  if (defs.Count() == 0) {
    for (int i = 0; i < FieldCount(); ++i) {
      const fw::TField* f = Fields(i);
      if (f->FieldKind() == fw::TFieldKind::fkData)
        defs.Add(f->FieldName(), f->DataType(), f->Size(), f->Required());
    }
  }
  CheckDefinitionCounts(defs.Count());

  storage::DataTableDefinition def;
  def.creator1 = kCreatorValue1;
  def.blob_block_size = kBlobBlockSize;
  for (int i = 0; i < defs.Count(); ++i) {
    const fw::TFieldDef* d = defs.Items(i);
    def.fields.push_back(MakeFieldDescriptor(i + 1, d->Name(), d->DataType(), d->Size(), d->Required()));
  }
  const auto field_no = [&](const std::string& name) {
    const int i = defs.IndexOf(name);
    if (i < 0) fw::DatabaseErrorFmt(fw::db_msg::kFieldNotFound, {name}, this);
    return i + 1;
  };
  def.primary = MakeIndexDescriptor(*index_defs_.Items(0), field_no);
  for (int i = 1; i < index_defs_.Count(); ++i)
    def.secondary.push_back(MakeIndexDescriptor(*index_defs_.Items(i), field_no));

  std::unique_ptr<storage::TDataFile> f = NewDataFile(true);
  f->SetReadOnly(false);
  RunWithSession([&] { f->CreateDataTable(def); });
}

void TTolmidTable::EmptyTable() {
  if (Active()) {
    CheckBrowseMode();
    Handle()->EmptyDataTable();
    ClearBuffers();
    fw::TDataSet::DataEvent(fw::TDataEvent::deDataSetChange);
    return;
  }
  DBFlagGuard flag(*this, kTableOperationFlag);
  if (table_name_.empty()) RaiseComponentError(ComponentMessage::kNoTableName);
  std::unique_ptr<storage::TDataFile> f = NewDataFile(true);
  f->SetReadOnly(false);
  RunWithSession([&] {
    f->Open();
    f->EmptyDataTable();
    f->Close();
  });
}

void TTolmidTable::RepairTable() { Repair({}); }

void TTolmidTable::RepairTable(const fw::TIndexDefs& imposed) {
  std::vector<storage::RepairIndexDefinition> defs;
  for (int i = 0; i < imposed.Count(); ++i) {
    const fw::TIndexDef& def = *imposed.Items(i);
    storage::RepairIndexDefinition d;
    d.name = def.Name();
    d.fields = SplitNames(def.Fields());
    d.unique = def.Options().Has(fw::TIndexOption::ixUnique);
    d.descending = def.Options().Has(fw::TIndexOption::ixDescending);
    d.case_insensitive = def.Options().Has(fw::TIndexOption::ixCaseInsensitive);
    defs.push_back(std::move(d));
  }
  Repair(defs);
}

void TTolmidTable::Repair(const std::vector<storage::RepairIndexDefinition>& imposed) {
  CheckInactive();
  DBFlagGuard flag(*this, kTableOperationFlag);
  if (table_name_.empty()) RaiseComponentError(ComponentMessage::kNoTableName);
  std::unique_ptr<storage::TDataFile> f = NewDataFile(true);
  f->SetReadOnly(false);
  if (OnRepairProgress)
    f->SetOnRepairProgress([this](storage::TDataFile&, int record, std::uint16_t percent) {
      OnRepairProgress(*this, record, percent);
    });
  if (OnRepairLog)
    f->SetOnRepairLog([this](storage::TDataFile&, std::string_view line) {
      OnRepairLog(*this, std::string(line));
    });
  RunWithSession([&] { f->RepairDataTable(imposed); });
}

void TTolmidTable::RestructureTable(std::uint16_t language_id, std::uint16_t sort_id,
                                    std::uint16_t blob_block_size,
                                    const std::string& description, const std::string& password,
                                    bool encrypted, std::uint16_t creator2,
                                    std::uint16_t creator1) {
  CheckInactive();
  DBFlagGuard flag(*this, kTableOperationFlag);
  if (table_name_.empty()) RaiseComponentError(ComponentMessage::kNoTableName);
  CheckDefinitionCounts(restructure_defs_.Count());

  storage::DataTableDefinition def;
  def.language = language_id;
  def.sort = sort_id;
  def.creator1 = creator1;
  def.creator2 = creator2;
  def.encrypted = encrypted;
  def.password = password.substr(0, 255);
  def.description = description.substr(0, 255);
  def.blob_block_size = blob_block_size;
  for (int i = 0; i < restructure_defs_.Count(); ++i) {
    const TRestructureFieldDef& item = *restructure_defs_.Items(i);
    storage::TFieldDescriptor d = MakeFieldDescriptor(item.FieldNo(), item.Name(), item.DataType(),
                                                      item.Size(), item.Required());
    d.DefaultValue.Assign(item.DefaultValue());
    d.MinValue.Assign(item.MinValue());
    d.MaxValue.Assign(item.MaxValue());
    d.SecondText.Assign(item.Description());
    def.fields.push_back(d);
  }
  const auto field_no = [&](const std::string& name) {
    return restructure_defs_.Find(name)->FieldNo();
  };
  def.primary = MakeIndexDescriptor(*index_defs_.Items(0), field_no);
  for (int i = 1; i < index_defs_.Count(); ++i)
    def.secondary.push_back(MakeIndexDescriptor(*index_defs_.Items(i), field_no));

  std::unique_ptr<storage::TDataFile> f = NewDataFile(true);
  f->SetReadOnly(false);
  if (OnRestructureProgress)
    f->SetOnRestructureProgress([this](storage::TDataFile&, int record, std::uint16_t percent) {
      OnRestructureProgress(*this, record, percent);
    });
  if (OnDataLost)
    f->SetOnDataLost([this](storage::TDataFile&, std::uint8_t cause, bool& go_on, bool& stop) {
      OnDataLost(*this, cause, go_on, stop);
    });
  RunWithSession([&] { f->AlterDataTable(def); });
}

}  // namespace dataset
