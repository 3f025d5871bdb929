#include "app/pending_pictures.h"

#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "app/picture_files.h"
#include "dataset/tolmid_table.h"
#include "framework/sysutils.h"
#include "platform/file.h"

namespace app {

namespace {

constexpr std::string_view kPendingSuffix = ".pending";
constexpr std::string_view kPartInfix = ".part-";
constexpr std::size_t kPartRandomChars = 6;  // mkstemp's XXXXXX

ProcessStepHook& Hook() {
  static ProcessStepHook hook;
  return hook;
}

bool AllAlnum(std::string_view s) {
  for (const char c : s)
    if (!std::isalnum(static_cast<unsigned char>(c))) return false;
  return true;
}

// "<n>" or "<n>.<ext>": the picture names Process gives.
bool IsPictureLeaf(std::string_view leaf) {
  const std::size_t dot = leaf.find('.');
  const std::string_view number = leaf.substr(0, dot);
  if (number.empty()) return false;
  for (const char c : number)
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  if (dot == std::string_view::npos) return true;
  const std::string_view ext = leaf.substr(dot + 1);
  return !ext.empty() && ext.size() <= kMaxUrlExtension && AllAlnum(ext);
}

// The picture leaf of a pending leaf, "" when leaf is none.
std::string_view PictureOfPending(std::string_view leaf) {
  if (!leaf.ends_with(kPendingSuffix)) return {};
  const std::string_view picture = leaf.substr(0, leaf.size() - kPendingSuffix.size());
  return IsPictureLeaf(picture) ? picture : std::string_view{};
}

// The HTTP client's temporary file of a pending name.
bool IsPendingPart(std::string_view leaf) {
  if (!leaf.starts_with('.')) return false;
  const std::size_t part = leaf.rfind(kPartInfix);
  if (part == std::string_view::npos) return false;
  const std::string_view random = leaf.substr(part + kPartInfix.size());
  return random.size() == kPartRandomChars && AllAlnum(random) && !PictureOfPending(leaf.substr(1, part - 1)).empty();
}

// A stored file name as a key: upper case, '\' separators.
std::string NameKey(std::string name) {
  for (char& c : name) c = c == '/' ? '\\' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return name;
}

}  // namespace

std::string PendingPictureName(const std::string& file_name) { return file_name + std::string(kPendingSuffix); }

int FinishPendingPictures(dataset::TTolmidTable& photos) {
  namespace fs = std::filesystem;
  const std::string folder = std::string(kDataFolder) + "\\";
  std::vector<std::string> pending;
  std::error_code ec;
  for (fs::directory_iterator it(platform::ResolvePath(kDataFolder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string leaf = it->path().filename().string();
    if (!it->is_regular_file(ec)) continue;
    if (IsPendingPart(leaf))
      platform::DeleteFile(folder + leaf);
    else if (!PictureOfPending(leaf).empty())
      pending.push_back(leaf);
  }
  if (pending.empty()) return 0;

  std::set<std::string> awaited;
  photos.DisableControls();
  struct Enable {
    dataset::TTolmidTable& t;
    ~Enable() { t.EnableControls(); }
  } enable{photos};
  for (photos.First(); !photos.Eof(); photos.Next())
    awaited.insert(NameKey(photos.FieldByName("filename")->AsString()));
  photos.First();

  int moved = 0;
  for (const std::string& leaf : pending) {
    const std::string picture = folder + std::string(PictureOfPending(leaf));
    if (awaited.count(NameKey(picture)) == 0 || platform::FileExists(picture))
      platform::DeleteFile(folder + leaf);
    else if (platform::MoveFile(folder + leaf, picture))
      ++moved;
  }
  return moved;
}

void SetProcessStepHook(ProcessStepHook hook) { Hook() = std::move(hook); }

void ProcessStep(std::string_view point) {
  if (Hook()) Hook()(point);
}

}  // namespace app
