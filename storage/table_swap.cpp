// Swapping a table's files and finishing an interrupted swap; the protocol
// and the intent file's layout are at the top of table_swap.h.
#include "storage/table_swap.h"

#include <signal.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <vector>

#include "storage/engine_error.h"
#include "storage/file_handler.h"
#include "storage/table_names.h"

namespace storage {
namespace {

constexpr std::string_view kExtension[3] = {kDataExtension, kIndexExtension, kBlobExtension};
constexpr std::string_view kBackupExtension[3] = {kDataBackupExtension, kIndexBackupExtension,
                                                  kBlobBackupExtension};
constexpr const char* kPointOldAside[3] = {"old DAT aside", "old IDX aside", "old BLB aside"};
constexpr const char* kPointNewInPlace[3] = {"new DAT in place", "new IDX in place",
                                             "new BLB in place"};
constexpr const char* kTemporaryTags[4] = {"RP", "RS", "RO", "CR"};
constexpr std::string_view kCreationTag = "CR";

constexpr char kIntentMagic[8] = {'T', 'O', 'L', 'S', 'W', 'A', 'P', '1'};
constexpr std::uint8_t kFlagBackups = 1;
constexpr std::uint8_t kFlagDropAside = 2;
constexpr std::size_t kMaxBaseName = kMaxSwapBaseName;
constexpr std::size_t kMaxIntentSize = 12 + 1 + 2 * kMaxBaseName + 4;

TableStepHook& Hook() {
  static TableStepHook hook;
  return hook;
}

std::uint32_t Fnv1a(const std::uint8_t* p, std::size_t n) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

[[noreturn]] void FailOS(std::string_view table) {
  EngineError(TFileHandler::MapOSCode(platform::GetLastError()), table);
}

void FlushDirectoryOrFail(const TableNames& names, std::string_view table) {
  if (!platform::FlushDirectory(names.directory)) FailOS(table);
}

void MoveOrFail(const std::string& from, const std::string& to, std::string_view table) {
  if (!platform::MoveFile(from, to)) FailOS(table);
}

// What a swap moves, as the intent file records it.
struct SwapPlan {
  std::array<std::string, 3> fresh;  // the new set under its temporary names
  std::array<std::string, 3> aside;  // where the old set goes
  std::uint8_t old_set = 0;
  std::uint8_t new_set = 0;
  bool drop_aside = false;
};

struct Move {
  std::string from, to;
};

// Steps 3 of the swap from whatever state of invariant (2) each file is in;
// every move done is appended to done. Raises on the first failure.
void RollForward(const TableNames& names, const SwapPlan& plan, std::string_view table,
                 std::vector<Move>& done) {
  for (int k = 0; k < 3; ++k) {
    if (((plan.old_set | plan.new_set) & (1u << k)) == 0) continue;  // not swapped
    const bool has_new = (plan.new_set & (1u << k)) != 0;
    // In state (a) the old file is still in place; a file the new set lacks
    // goes aside whatever.
    if (has_new && !platform::FileExists(plan.fresh[k])) continue;
    if (!platform::FileExists(names.file[k])) continue;
    // The old file is whole in place: whatever stands under its aside name
    // is stale.
    if (platform::FileExists(plan.aside[k]) && !platform::DeleteFile(plan.aside[k]))
      FailOS(table);
    MoveOrFail(names.file[k], plan.aside[k], table);
    done.push_back({names.file[k], plan.aside[k]});
    TableStep(kPointOldAside[k]);
  }
  for (int k = 0; k < 3; ++k) {
    if ((plan.new_set & (1u << k)) == 0) continue;
    if (platform::FileExists(plan.fresh[k])) {
      MoveOrFail(plan.fresh[k], names.file[k], table);
      done.push_back({plan.fresh[k], names.file[k]});
      TableStep(kPointNewInPlace[k]);
    } else if (!platform::FileExists(names.file[k])) {
      // Neither under its temporary name nor in place: no swap leaves this.
      EngineError(ErrorCode::kHeaderError, table);
    }
  }
}

// Moves back, last first; false at the first move that fails.
bool Undo(const std::vector<Move>& done) noexcept {
  for (auto it = done.rbegin(); it != done.rend(); ++it) {
    if (!platform::MoveFile(it->to, it->from)) return false;
  }
  return true;
}

void DropAside(const SwapPlan& plan) noexcept {
  for (const std::string& name : plan.aside) {
    if (platform::FileExists(name)) platform::DeleteFile(name);
  }
}

std::string BaseOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return RemoveFileExt(slash == std::string::npos ? path : path.substr(slash + 1));
}

std::vector<std::uint8_t> EncodeIntent(std::uint8_t flags, std::uint8_t old_set,
                                       std::uint8_t new_set, const std::string& fresh_base,
                                       const std::string& aside_base) {
  std::vector<std::uint8_t> b(kIntentMagic, kIntentMagic + sizeof(kIntentMagic));
  b.push_back(flags);
  b.push_back(old_set);
  b.push_back(new_set);
  b.push_back(static_cast<std::uint8_t>(fresh_base.size()));
  b.insert(b.end(), fresh_base.begin(), fresh_base.end());
  b.push_back(static_cast<std::uint8_t>(aside_base.size()));
  b.insert(b.end(), aside_base.begin(), aside_base.end());
  const std::uint32_t h = Fnv1a(b.data(), b.size());
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(h >> (8 * i)));
  return b;
}

// False when the bytes are no whole intent (cut, or not ours).
bool DecodeIntent(const std::vector<std::uint8_t>& b, const TableNames& names, SwapPlan& plan) {
  if (b.size() < 12 + 1 + 4 || std::memcmp(b.data(), kIntentMagic, sizeof(kIntentMagic)) != 0)
    return false;
  const std::size_t n = b[11];
  if (n == 0 || n > kMaxBaseName || b.size() < 12 + n + 1 + 4) return false;
  const std::size_t m = b[12 + n];
  if (m > kMaxBaseName || b.size() != 13 + n + m + 4) return false;
  std::uint32_t h = 0;
  for (int i = 0; i < 4; ++i) h |= std::uint32_t{b[13 + n + m + static_cast<std::size_t>(i)]} << (8 * i);
  if (h != Fnv1a(b.data(), 13 + n + m)) return false;
  const std::uint8_t flags = b[8];
  plan.old_set = b[9] & 7u;
  plan.new_set = b[10] & 7u;
  plan.drop_aside = (flags & kFlagDropAside) != 0;
  const std::string fresh(reinterpret_cast<const char*>(&b[12]), n);
  const std::string aside(reinterpret_cast<const char*>(&b[13 + n]), m);
  if (fresh.find_first_of("/\\") != std::string::npos || aside.find_first_of("/\\") != std::string::npos)
    return false;
  if ((flags & kFlagBackups) == 0 && m == 0) return false;
  for (int k = 0; k < 3; ++k) {
    plan.fresh[static_cast<std::size_t>(k)] = names.Sibling(fresh, k);
    plan.aside[static_cast<std::size_t>(k)] =
        (flags & kFlagBackups) != 0 ? names.backup[static_cast<std::size_t>(k)] : names.Sibling(aside, k);
  }
  return true;
}

}  // namespace

void SetTableStepHook(TableStepHook hook) { Hook() = std::move(hook); }

void TableStep(std::string_view point) {
  if (Hook()) Hook()(point);
}

// ------------------------------------------------------------------ names

TableNames::TableNames(std::string_view data_file_name) {
  // Most of these names do not exist: one listing of the directory answers
  // all of them.
  const platform::DirectoryListingScope listing;
  const std::string path = platform::ResolvePath(data_file_name);
  const std::size_t slash = path.find_last_of('/');
  directory = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  base = BaseOf(path);
  for (int k = 0; k < 3; ++k) {
    file[static_cast<std::size_t>(k)] = k == 0 ? path : platform::ResolvePath(Sibling(base, k));
    backup[static_cast<std::size_t>(k)] =
        platform::ResolvePath(directory + "/" + base + std::string(kBackupExtension[k]));
  }
  intent = platform::ResolvePath(directory + "/" + base + ".SWP");
}

std::string TableNames::Sibling(std::string_view base_name, int k) const {
  return directory + "/" + std::string(base_name) + std::string(kExtension[k]);
}

std::string TemporaryTableName(std::string_view data_file_name, std::string_view tag) {
  const TableNames names(data_file_name);
  return names.Sibling(names.base + "~" + std::string(tag) + std::to_string(::getpid()), 0);
}

namespace {

// True unless the process is known to be gone (a process id of another
// user's process counts as alive; so does this process's own).
bool ProcessMayLive(std::string_view digits) {
  if (digits.size() > 9) return false;  // no process id of ours is that long
  const long pid = std::stol(std::string(digits));
  if (pid <= 0) return false;
  if (pid == ::getpid()) return true;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

// Deletes the temporary sets beside the table: every tag, or creations
// only; a creation's set only when its process is gone.
void DeleteTemporarySets(std::string_view data_file_name, bool creations_only) {
  const TableNames names(data_file_name);
  std::error_code ec;
  std::vector<std::string> leftovers;
  for (const auto& entry : std::filesystem::directory_iterator(names.directory, ec)) {
    const std::string name = entry.path().filename().string();
    // NAME~<tag><digits>.<DAT|IDX|BLB>, letters in any case.
    const std::size_t stem = names.base.size();
    if (name.size() < stem + 1 + 2 + 1 + 4 || !EqualNoCase(name.substr(0, stem), names.base) ||
        name[stem] != '~')
      continue;
    const std::string_view tag = std::string_view(name).substr(stem + 1, 2);
    bool known = false;
    for (const char* t : kTemporaryTags) known = known || EqualNoCase(tag, t);
    const std::size_t dot = name.size() - 4;
    const std::string_view digits = std::string_view(name).substr(stem + 3, dot - stem - 3);
    bool extension = false;
    for (std::string_view e : kExtension) extension = extension || EqualNoCase(name.substr(dot), e);
    if (!known || !extension || digits.empty() ||
        digits.find_first_not_of("0123456789") != std::string_view::npos)
      continue;
    const bool creation = EqualNoCase(tag, kCreationTag);
    if (creations_only && !creation) continue;
    if (creation && ProcessMayLive(digits)) continue;
    leftovers.push_back(entry.path().string());
  }
  // A file another program still holds fails to go: it is no leftover.
  for (const std::string& path : leftovers) platform::DeleteFile(path);
}

}  // namespace

void RemoveLeftoverFiles(std::string_view data_file_name) {
  DeleteTemporarySets(data_file_name, false);
}

void RemoveDeadCreations(std::string_view data_file_name) {
  DeleteTemporarySets(data_file_name, true);
}

// ------------------------------------------------------------------ recovery

void RecoverTableSwap(std::string_view data_file_name) {
  // Every open comes here: the names and the test for NAME.SWP share one
  // listing of the directory.
  bool pending = false;
  const TableNames names = [&] {
    const platform::DirectoryListingScope listing;
    TableNames found(data_file_name);
    pending = platform::FileExists(found.intent);
    return found;
  }();
  if (!pending) return;
  platform::File intent;
  if (!intent.Open(names.intent, platform::Access::ReadWrite, platform::Share::None,
                   platform::Disposition::OpenExisting)) {
    const std::uint32_t e = platform::GetLastError();
    if (e == platform::ERROR_FILE_NOT_FOUND || e == platform::ERROR_PATH_NOT_FOUND) return;
    // The swapping program is alive: the table is in use.
    if (e == platform::ERROR_SHARING_VIOLATION) EngineError(ErrorCode::kAccessDenied, data_file_name);
    FailOS(data_file_name);
  }
  std::vector<std::uint8_t> bytes(kMaxIntentSize + 1);
  std::uint32_t got = 0;
  if (!intent.Read(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &got)) FailOS(data_file_name);
  bytes.resize(got);
  SwapPlan plan;
  if (!DecodeIntent(bytes, names, plan)) {
    // Cut while it was written: nothing moved yet, the old set is in place.
    if (!platform::FileExists(names.file[0]) || !platform::FileExists(names.file[1]))
      EngineError(ErrorCode::kHeaderError, data_file_name);
  } else {
    std::vector<Move> done;
    RollForward(names, plan, data_file_name, done);
    FlushDirectoryOrFail(names, data_file_name);
  }
  intent.Close();
  // Another program finishing the same swap may have it open now; it
  // deletes it then.
  platform::DeleteFile(names.intent);
  TableStep("intent removed");
  FlushDirectoryOrFail(names, data_file_name);
  if (plan.drop_aside) {
    DropAside(plan);
    TableStep("asides dropped");
  }
}

// ------------------------------------------------------------------ swap

TableSwap::TableSwap(std::string_view table, std::string_view fresh, Aside aside)
    : names_(table), fresh_base_(BaseOf(platform::ResolvePath(fresh))), aside_(aside) {
  assert(!fresh_base_.empty() && fresh_base_.size() <= kMaxBaseName);
  const std::string aside_base = names_.base + "~RO" + std::to_string(::getpid());
  for (int k = 0; k < 3; ++k) {
    aside_file_[static_cast<std::size_t>(k)] = aside == Aside::kBackups
                                                   ? names_.backup[static_cast<std::size_t>(k)]
                                                   : names_.Sibling(aside_base, k);
  }
}

TableSwap::~TableSwap() {
  if (state_ != State::kCommitted) Abandon();
}

void TableSwap::Prepare(std::uint8_t files) {
  assert(state_ == State::kBuilt);
  const std::string& table = names_.file[0];
  for (int k = 0; k < 3; ++k) {
    if ((files & (1u << k)) == 0) continue;
    if (platform::FileExists(names_.file[static_cast<std::size_t>(k)])) old_set_ |= 1u << k;
    const std::string fresh = names_.Sibling(fresh_base_, k);
    if (!platform::FileExists(fresh)) continue;
    new_set_ |= 1u << k;
    platform::File f;
    if (!f.Open(fresh, platform::Access::ReadWrite, platform::Share::None,
                platform::Disposition::OpenExisting) ||
        !f.Flush())
      FailOS(table);
  }
  if ((new_set_ & 3u) != 3u) EngineError(ErrorCode::kHeaderError, names_.Sibling(fresh_base_, 0));
  TableStep("new files synced");
  for (int k = 0; k < 3; ++k) {
    const std::string& name = aside_file_[static_cast<std::size_t>(k)];
    if (((old_set_ | new_set_) & (1u << k)) != 0 && platform::FileExists(name) &&
        !platform::DeleteFile(name))
      FailOS(table);
  }
  FlushDirectoryOrFail(names_, table);
  TableStep("asides deleted");
  if (!intent_.Open(names_.intent, platform::Access::ReadWrite, platform::Share::None,
                    platform::Disposition::CreateNew))
    FailOS(table);
  state_ = State::kPrepared;
  const std::uint8_t flags = aside_ == Aside::kBackups ? kFlagBackups : kFlagDropAside;
  const std::string aside_base = aside_ == Aside::kBackups ? std::string() : BaseOf(aside_file_[0]);
  const std::vector<std::uint8_t> bytes = EncodeIntent(flags, old_set_, new_set_, fresh_base_, aside_base);
  std::uint32_t put = 0;
  if (!intent_.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &put) ||
      put != bytes.size() || !intent_.Flush())
    FailOS(table);
  FlushDirectoryOrFail(names_, table);
  TableStep("intent written");
}

void TableSwap::Commit() {
  assert(state_ == State::kPrepared);
  const std::string& table = names_.file[0];
  SwapPlan plan;
  for (int k = 0; k < 3; ++k) {
    plan.fresh[static_cast<std::size_t>(k)] = names_.Sibling(fresh_base_, k);
    plan.aside[static_cast<std::size_t>(k)] = aside_file_[static_cast<std::size_t>(k)];
  }
  plan.old_set = old_set_;
  plan.new_set = new_set_;
  plan.drop_aside = aside_ == Aside::kDropped;
  std::vector<Move> done;
  try {
    RollForward(names_, plan, table, done);
    FlushDirectoryOrFail(names_, table);
  } catch (...) {
    if (Undo(done)) {
      intent_.Close();
      platform::DeleteFile(names_.intent);
      platform::FlushDirectory(names_.directory);
      state_ = State::kBuilt;  // the new files are deleted by Abandon
    } else {
      intent_.Close();
      state_ = State::kLeftForRecovery;
    }
    throw;
  }
  intent_.Close();
  platform::DeleteFile(names_.intent);
  state_ = State::kCommitted;
  TableStep("intent removed");
  FlushDirectoryOrFail(names_, table);
  if (plan.drop_aside) {
    DropAside(plan);
    TableStep("asides dropped");
  }
}

void TableSwap::Abandon() noexcept {
  if (state_ == State::kPrepared) {
    intent_.Close();
    platform::DeleteFile(names_.intent);
  }
  if (state_ == State::kBuilt || state_ == State::kPrepared) {
    for (int k = 0; k < 3; ++k) {
      const std::string fresh = names_.Sibling(fresh_base_, k);
      if (platform::FileExists(fresh)) platform::DeleteFile(fresh);
    }
    state_ = State::kAbandoned;
  }
}

}  // namespace storage
