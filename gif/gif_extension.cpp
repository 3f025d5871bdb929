#include "gif/gif_extension.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#include "gif/gif_exception.h"
#include "gif/gif_stream_io.h"
#include "gif/gif_sub_image.h"

namespace gif {

namespace {

template <class T>
std::unique_ptr<TGIFExtension> CreateExtension(TGIFSubImage* sub_image) {
  return std::make_unique<T>(sub_image);
}

const TGIFExtensionClass* KeepClass(const TGIFExtensionClass* self, fw::TStream&) { return self; }

const TGIFExtensionClass* RefineApplication(const TGIFExtensionClass* self, fw::TStream& stream);

struct AppRegistration {
  TGIFAppIdentifier Identifier;
  const TGIFExtensionClass* Class;
};

struct Registries {
  std::mutex Mutex;
  std::vector<const TGIFExtensionClass*> Labels;
  std::vector<AppRegistration> Applications;
};

TGIFAppIdentifier MakeIdentifier(const char* text) {
  TGIFAppIdentifier id{};
  std::memcpy(id.data(), text, std::min<std::size_t>(std::strlen(text), id.size()));
  return id;
}

// Created on first use with the built-in classes.
Registries& GetRegistries() {
  static Registries* registries = [] {
    auto* r = new Registries;
    r->Labels = {&TGIFTextExtension::kClass, &TGIFGraphicControlExtension::kClass, &TGIFCommentExtension::kClass,
                 &TGIFApplicationExtension::kClass};
    r->Applications = {{MakeIdentifier("NETSCAPE2.0"), &TGIFAppExtNSLoop::kClass},
                       {MakeIdentifier("ANIMEXTS1.0"), &TGIFAppExtNSLoop::kClass}};
    return r;
  }();
  return *registries;
}

const TGIFExtensionClass* FindAppClass(const TGIFAppIdentifier& id) {
  Registries& r = GetRegistries();
  std::lock_guard<std::mutex> lock(r.Mutex);
  for (auto it = r.Applications.rbegin(); it != r.Applications.rend(); ++it)
    if (it->Identifier == id) return it->Class;
  return nullptr;
}

const TGIFExtensionClass* RefineApplication(const TGIFExtensionClass* self, fw::TStream& stream) {
  int size = ReadByteOrEnd(stream);
  if (size == 11) {
    TGIFAppIdentifier id{};
    ReadCheck(stream, id.data(), 11);
    const TGIFExtensionClass* cls = FindAppClass(id);
    return cls ? cls : &TGIFUnknownAppExtension::kClass;
  }
  if (size == 10) return &TGIFUnknownAppExtension::kClass;
  return self;
}

}  // namespace

const TGIFExtensionClass TGIFGraphicControlExtension::kClass = {0xF9, &CreateExtension<TGIFGraphicControlExtension>,
                                                                &KeepClass};
const TGIFExtensionClass TGIFTextExtension::kClass = {0x01, &CreateExtension<TGIFTextExtension>, &KeepClass};
const TGIFExtensionClass TGIFCommentExtension::kClass = {0xFE, &CreateExtension<TGIFCommentExtension>, &KeepClass};
const TGIFExtensionClass TGIFApplicationExtension::kClass = {0xFF, &CreateExtension<TGIFApplicationExtension>,
                                                             &RefineApplication};
const TGIFExtensionClass TGIFUnknownAppExtension::kClass = {0xFF, &CreateExtension<TGIFUnknownAppExtension>,
                                                            &KeepClass};
const TGIFExtensionClass TGIFAppExtNSLoop::kClass = {0xFF, &CreateExtension<TGIFAppExtNSLoop>, &KeepClass};

void RegisterExtension(const TGIFExtensionClass* cls) {
  Registries& r = GetRegistries();
  std::lock_guard<std::mutex> lock(r.Mutex);
  r.Labels.push_back(cls);
}

void RegisterAppExtension(const TGIFAppIdentifier& identifier, const TGIFExtensionClass* cls) {
  Registries& r = GetRegistries();
  std::lock_guard<std::mutex> lock(r.Mutex);
  r.Applications.push_back({identifier, cls});
}

const TGIFExtensionClass* FindExtensionClass(fw::TStream& stream) {
  const std::int64_t start = stream.Position();
  std::uint8_t label = 0;
  ReadCheck(stream, &label, 1);
  const std::int64_t body = stream.Position();
  const TGIFExtensionClass* cls = nullptr;
  {
    Registries& r = GetRegistries();
    std::lock_guard<std::mutex> lock(r.Mutex);
    for (auto it = r.Labels.rbegin(); it != r.Labels.rend(); ++it)
      if ((*it)->Label == label) {
        cls = *it;
        break;
      }
  }
  if (!cls) RaiseGIFError(kUnknownExtensionType);
  // A refinement may lead to another refinement; registered classes could
  // point at each other, so the chain is bounded.
  for (int round = 0; round < 8; ++round) {
    stream.SetPosition(body);
    const TGIFExtensionClass* refined = cls->RefineClass(cls, stream);
    if (refined == cls || refined == nullptr) break;
    cls = refined;
  }
  stream.SetPosition(start);
  return cls;
}

// --- TGIFExtension ----------------------------------------------------------

TGIFExtension::TGIFExtension(TGIFSubImage* sub_image)
    : TGIFItem(sub_image ? sub_image->Image() : nullptr), sub_image_(sub_image) {}

void TGIFExtension::LoadFromStream(fw::TStream& stream) {
  std::uint8_t head[2];
  ReadCheck(stream, head, 2);
  if (head[0] != kExtensionIntroducer) RaiseGIFError(kInvalidExtensionIntroducer);
  if (head[1] != ExtensionLabel()) RaiseGIFError(kExtensionLabelMismatch);
}

void TGIFExtension::SaveToStream(fw::TStream& stream) {
  const std::uint8_t head[2] = {kExtensionIntroducer, ExtensionLabel()};
  WriteBytes(stream, head, 2);
}

// --- TGIFGraphicControlExtension --------------------------------------------

TGIFGraphicControlExtension::TGIFGraphicControlExtension(TGIFSubImage* sub_image) : TGIFExtension(sub_image) {
  if (sub_image_ && sub_image_->gce_ == nullptr) sub_image_->gce_ = this;
}

TGIFGraphicControlExtension::~TGIFGraphicControlExtension() {
  if (!sub_image_) return;
  if (Transparent()) sub_image_->has_transparency_ = false;
  if (sub_image_->gce_ == this) sub_image_->gce_ = nullptr;
}

void TGIFGraphicControlExtension::SetTransparent(bool transparent) {
  if (transparent) {
    packed_ |= 0x01;
    if (sub_image_) sub_image_->has_transparency_ = true;
  } else {
    packed_ &= static_cast<std::uint8_t>(~0x01);
    if (sub_image_ && sub_image_->gce_ == this) sub_image_->has_transparency_ = false;
  }
}

void TGIFGraphicControlExtension::SetUserInput(bool user_input) {
  packed_ = static_cast<std::uint8_t>(user_input ? (packed_ | 0x02) : (packed_ & ~0x02));
}

void TGIFGraphicControlExtension::SetDisposal(int disposal) {
  packed_ = static_cast<std::uint8_t>((packed_ & ~0x1C) | ((disposal & 7) << 2));
}

void TGIFGraphicControlExtension::SetTransparentColorIndex(int index) {
  if (sub_image_) {
    TGIFColorMap& map = sub_image_->ActiveColorMap();
    if (map.Count() > 0 && (index < 0 || index >= map.Count())) {
      Warning(kInvalidColorIndex);
      index = 0;
    }
  }
  transparent_index_ = static_cast<std::uint8_t>(index);
}

// The block's first sub-block is read by its own size (normally 4) and any
// further sub-blocks up to the terminator are skipped, so an odd block size
// cannot put the reader off the block structure.
void TGIFGraphicControlExtension::LoadFromStream(fw::TStream& stream) {
  TGIFExtension::LoadFromStream(stream);
  int size = ReadByteOrEnd(stream);
  if (size < 0) {
    Warning(kPrematureEOF);
    return;
  }
  block_size_ = static_cast<std::uint8_t>(size);
  std::uint8_t body[255] = {};
  if (size > 0) {
    if (stream.Read(body, size) < size)
      Warning(kPrematureEOF);  // the fields keep what came; the stream has ended
    else
      SkipBlocks(stream);
  }
  packed_ = body[0];
  delay_ = GetLE16(body + 1);
  transparent_index_ = body[3];
  if (Transparent() && sub_image_) sub_image_->has_transparency_ = true;
}

void TGIFGraphicControlExtension::SaveToStream(fw::TStream& stream) {
  TGIFExtension::SaveToStream(stream);
  std::uint8_t body[6] = {4, packed_, 0, 0, transparent_index_, 0};
  PutLE16(body + 2, delay_);
  WriteBytes(stream, body, 6);
}

// --- TGIFTextExtension -------------------------------------------------------

void TGIFTextExtension::LoadFromStream(fw::TStream& stream) {
  TGIFExtension::LoadFromStream(stream);
  std::uint8_t size = 0;
  ReadCheck(stream, &size, 1);
  std::uint8_t body[255] = {};
  ReadCheck(stream, body, size);
  grid_left_ = GetLE16(body);
  grid_top_ = GetLE16(body + 2);
  grid_width_ = GetLE16(body + 4);
  grid_height_ = GetLE16(body + 6);
  cell_width_ = body[8];
  cell_height_ = body[9];
  foreground_index_ = body[10];
  background_index_ = body[11];
  if (size == 0) {
    text_.clear();  // the chain ended already
    return;
  }
  text_ = ReadStrings(stream);
}

void TGIFTextExtension::SaveToStream(fw::TStream& stream) {
  TGIFExtension::SaveToStream(stream);
  std::uint8_t body[13];
  body[0] = 12;
  PutLE16(body + 1, grid_left_);
  PutLE16(body + 3, grid_top_);
  PutLE16(body + 5, grid_width_);
  PutLE16(body + 7, grid_height_);
  body[9] = cell_width_;
  body[10] = cell_height_;
  body[11] = foreground_index_;
  body[12] = background_index_;
  WriteBytes(stream, body, 13);
  WriteStrings(stream, text_);
}

// --- TGIFCommentExtension ----------------------------------------------------

void TGIFCommentExtension::LoadFromStream(fw::TStream& stream) {
  TGIFExtension::LoadFromStream(stream);
  comment_ = ReadStrings(stream);
}

void TGIFCommentExtension::SaveToStream(fw::TStream& stream) {
  TGIFExtension::SaveToStream(stream);
  WriteStrings(stream, comment_);
}

// --- TGIFApplicationExtension ------------------------------------------------

TGIFApplicationExtension::TGIFApplicationExtension(TGIFSubImage* sub_image) : TGIFExtension(sub_image) {}

void TGIFApplicationExtension::SetIdentifier(const std::string& identifier) {
  identifier_.fill(0);
  std::memcpy(identifier_.data(), identifier.data(), std::min(identifier.size(), identifier_.size()));
}

void TGIFApplicationExtension::LoadFromStream(fw::TStream& stream) {
  TGIFExtension::LoadFromStream(stream);
  std::uint8_t size = 0;
  ReadCheck(stream, &size, 1);
  if (size < 10) RaiseGIFError(kUnsupportedAppBlockSize);
  identifier_.fill(0);
  ReadCheck(stream, identifier_.data(), size < 11 ? size : 11);
  identifier_extra_.assign(size > 11 ? size - 11 : 0, 0);
  ReadCheck(stream, identifier_extra_.data(), static_cast<std::int64_t>(identifier_extra_.size()));
  LoadAppData(stream);
}

void TGIFApplicationExtension::SaveToStream(fw::TStream& stream) {
  TGIFExtension::SaveToStream(stream);
  WriteByte(stream, static_cast<std::uint8_t>(11 + identifier_extra_.size()));
  WriteBytes(stream, identifier_.data(), 11);
  WriteBytes(stream, identifier_extra_.data(), static_cast<std::int64_t>(identifier_extra_.size()));
  SaveAppData(stream);
}

void TGIFApplicationExtension::LoadAppData(fw::TStream& stream) {
  blocks_.clear();
  std::uint8_t size = 0;
  ReadCheck(stream, &size, 1);
  while (size != 0) {
    std::vector<std::uint8_t> data(size);
    ReadCheck(stream, data.data(), size);
    blocks_.emplace_back(std::move(data));
    ReadCheck(stream, &size, 1);
  }
}

void TGIFApplicationExtension::SaveAppData(fw::TStream& stream) {
  for (const TGIFBlock& block : blocks_) {
    const auto& data = block.Data();
    // A kept block holds 1..255 bytes; anything else is split or left out.
    std::size_t pos = 0;
    while (pos < data.size()) {
      const std::size_t n = std::min<std::size_t>(255, data.size() - pos);
      WriteByte(stream, static_cast<std::uint8_t>(n));
      WriteBytes(stream, data.data() + pos, static_cast<std::int64_t>(n));
      pos += n;
    }
  }
  WriteByte(stream, 0);
}

// --- TGIFAppExtNSLoop ----------------------------------------------------------

TGIFAppExtNSLoop::TGIFAppExtNSLoop(TGIFSubImage* sub_image) : TGIFApplicationExtension(sub_image) {
  identifier_ = MakeIdentifier("NETSCAPE2.0");
}

void TGIFAppExtNSLoop::LoadAppData(fw::TStream& stream) {
  std::uint8_t n = 0;
  ReadCheck(stream, &n, 1);
  while (n != 0) {
    std::uint8_t id = 0;
    ReadCheck(stream, &id, 1);
    int left = n - 1;
    std::uint8_t value[4];
    switch (id & 7) {
      case 1:
        if (left < 2) RaiseGIFError(kInvalidData);
        ReadCheck(stream, value, 2);
        loops_ = GetLE16(value);
        left -= 2;
        break;
      case 2:
        if (left < 4) RaiseGIFError(kInvalidData);
        ReadCheck(stream, value, 4);
        buffer_size_ = GetLE32(value);
        left -= 4;
        break;
      default:
        break;
    }
    if (left > 0) {
      std::uint8_t skip[255];
      ReadCheck(stream, skip, left);
    }
    ReadCheck(stream, &n, 1);
  }
}

void TGIFAppExtNSLoop::SaveAppData(fw::TStream& stream) {
  std::uint8_t loop[4] = {3, 1, 0, 0};
  PutLE16(loop + 2, loops_);
  WriteBytes(stream, loop, 4);
  if (buffer_size_ != 0) {
    std::uint8_t buffer[6] = {5, 2, 0, 0, 0, 0};
    PutLE32(buffer + 2, buffer_size_);
    WriteBytes(stream, buffer, 6);
  }
  WriteByte(stream, 0);
}

// --- TGIFExtensionList --------------------------------------------------------

void TGIFExtensionList::LoadFromStream(fw::TStream& stream, TGIFSubImage* parent) {
  int b = ReadByteOrEnd(stream);
  while (b >= 0 && b != kImageSeparator && b != kTrailer) {
    if (b != kExtensionIntroducer) {
      parent->ReportWarning(parent, 1, kInvalidExtensionIntroducer);
      break;
    }
    const TGIFExtensionClass* cls = FindExtensionClass(stream);
    stream.Seek(-1, fw::TSeekOrigin::soCurrent);
    TGIFExtension* ext = Add(cls->Create(parent));
    ext->LoadFromStream(stream);
    b = ReadByteOrEnd(stream);
  }
  if (b >= 0) stream.Seek(-1, fw::TSeekOrigin::soCurrent);
}

}  // namespace gif
