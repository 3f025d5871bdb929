#include "storage/temp_table_sweep.h"

#include <filesystem>
#include <string>
#include <vector>

#include "platform/file.h"
#include "storage/data_file_format.h"
#include "storage/table_swap.h"

namespace storage {
namespace {

// DIGITS.DAT, the extension in any case: the names GetTempTableName makes
// (at least one digit of the thread and one of the counter).
bool TemporaryName(const std::string& name) {
  if (name.size() < 2 + 4) return false;
  const std::size_t dot = name.size() - 4;
  for (std::size_t i = 0; i < dot; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
  }
  std::string ext = name.substr(dot);
  for (char& c : ext) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  return ext == ".DAT";
}

// True when nobody has the file open and its header carries the mark. The
// probe's own handle is closed again before the caller deletes anything.
bool DeadAndMarked(const std::string& path) {
  platform::File probe;
  if (!probe.Open(path, platform::Access::Read, platform::Share::None,
                  platform::Disposition::OpenExisting))
    return false;  // held by a live program (or not ours to read)
  DataFileHeader h;
  std::uint32_t got = 0;
  if (!probe.Read(h.Data(), static_cast<std::uint32_t>(kDataHeaderSize), &got) ||
      got != kDataHeaderSize)
    return false;
  return h.Version() == kDataFileVersion && h.Creator2() == kTemporaryTableMark;
}

}  // namespace

void RemoveDeadTemporaryTables(std::string_view directory) noexcept {
  try {
    std::error_code ec;
    std::vector<std::string> dead;
    const std::string dir(directory.empty() ? std::string_view(".") : directory);
    for (const auto& entry : std::filesystem::directory_iterator(platform::ResolvePath(dir), ec)) {
      if (!entry.is_regular_file(ec) || !TemporaryName(entry.path().filename().string())) continue;
      if (DeadAndMarked(entry.path().string())) dead.push_back(entry.path().string());
    }
    for (const std::string& dat : dead) {
      const TableNames names(dat);
      // The .DAT goes last: while it stands, the next sweep knows the set.
      for (int k : {1, 2}) {
        if (platform::FileExists(names.file[static_cast<std::size_t>(k)]))
          platform::DeleteFile(names.file[static_cast<std::size_t>(k)]);
      }
      platform::DeleteFile(dat);
    }
  } catch (...) {
    // A sweep that cannot finish leaves the rest to the next one.
  }
}

}  // namespace storage
