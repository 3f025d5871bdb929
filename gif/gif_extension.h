// Extension blocks of a frame. Every extension is stored as
//   "!" (0x21), label byte, data sub-block chain ending with a 0 byte.
//
//   label  class                         first sub-block
//   0xF9   TGIFGraphicControlExtension   4: packed, delay u16 (1/100 s),
//                                           transparent colour index
//   0x01   TGIFTextExtension             12: grid left, top, width, height
//                                            (u16 each), cell width, cell
//                                            height, foreground, background
//   0xFE   TGIFCommentExtension          the comment lines
//   0xFF   TGIFApplicationExtension      11: identifier (8) + auth code (3)
//
// Graphic control packed bits: 0x01 transparent colour present, 0x02 user
// input, 0x1C disposal method (0..7).
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gif/gif_item.h"

namespace gif {

class TGIFSubImage;
class TGIFExtension;

inline constexpr std::uint8_t kExtensionIntroducer = 0x21;  // "!"
inline constexpr std::uint8_t kImageSeparator = 0x2C;       // ","
inline constexpr std::uint8_t kTrailer = 0x3B;              // ";"

// A registered extension class: how to make one and how to look closer at a
// block to pick a more specific class.
struct TGIFExtensionClass {
  std::uint8_t Label;
  std::unique_ptr<TGIFExtension> (*Create)(TGIFSubImage* sub_image);
  // Called with the stream just behind the label; may read. Returns the
  // class itself when it has nothing more specific.
  const TGIFExtensionClass* (*RefineClass)(const TGIFExtensionClass* self, fw::TStream& stream);
};

using TGIFAppIdentifier = std::array<std::uint8_t, 11>;

// Label registry, searched from the last registration to the first.
void RegisterExtension(const TGIFExtensionClass* cls);
// Application identifier registry, searched likewise.
void RegisterAppExtension(const TGIFAppIdentifier& identifier, const TGIFExtensionClass* cls);
// Reads the label at the stream's position and refines its class; the stream
// position is restored. "Unknown extension type" when no class has the label.
const TGIFExtensionClass* FindExtensionClass(fw::TStream& stream);

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFSubImage* sub_image);
  virtual std::uint8_t ExtensionLabel() const = 0;
  TGIFVersion RequiredVersion() const override { return TGIFVersion::gv89a; }
  // Reads "!" and the label; the derived classes read the rest.
  void LoadFromStream(fw::TStream& stream) override;
  // Writes "!" and the label; the derived classes write the rest.
  void SaveToStream(fw::TStream& stream) override;
  TGIFSubImage* SubImage() const { return sub_image_; }

 protected:
  TGIFSubImage* sub_image_;
};

class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  static const TGIFExtensionClass kClass;
  explicit TGIFGraphicControlExtension(TGIFSubImage* sub_image);
  ~TGIFGraphicControlExtension() override;
  std::uint8_t ExtensionLabel() const override { return 0xF9; }
  void LoadFromStream(fw::TStream& stream) override;
  void SaveToStream(fw::TStream& stream) override;

  std::uint8_t BlockSize() const { return block_size_; }
  std::uint8_t Packed() const { return packed_; }
  void SetPacked(std::uint8_t packed) { packed_ = packed; }
  std::uint16_t Delay() const { return delay_; }
  void SetDelay(std::uint16_t delay) { delay_ = delay; }
  bool Transparent() const { return (packed_ & 0x01) != 0; }
  void SetTransparent(bool transparent);
  bool UserInput() const { return (packed_ & 0x02) != 0; }
  void SetUserInput(bool user_input);
  int Disposal() const { return (packed_ >> 2) & 7; }
  void SetDisposal(int disposal);
  std::uint8_t TransparentColorIndex() const { return transparent_index_; }
  // Checked against the frame's active colour table: an index beyond it
  // gives the warning "Invalid color index" and becomes 0.
  void SetTransparentColorIndex(int index);
  // Sets the index unchecked (colour remapping).
  void SetTransparentColorIndexRaw(std::uint8_t index) { transparent_index_ = index; }

 private:
  std::uint8_t block_size_ = 4;
  std::uint8_t packed_ = 0;
  std::uint16_t delay_ = 0;
  std::uint8_t transparent_index_ = 0;
};

class TGIFTextExtension : public TGIFExtension {
 public:
  static const TGIFExtensionClass kClass;
  using TGIFExtension::TGIFExtension;
  std::uint8_t ExtensionLabel() const override { return 0x01; }
  void LoadFromStream(fw::TStream& stream) override;
  void SaveToStream(fw::TStream& stream) override;

  std::uint16_t GridLeft() const { return grid_left_; }
  std::uint16_t GridTop() const { return grid_top_; }
  std::uint16_t GridWidth() const { return grid_width_; }
  std::uint16_t GridHeight() const { return grid_height_; }
  void SetGrid(std::uint16_t left, std::uint16_t top, std::uint16_t width, std::uint16_t height) {
    grid_left_ = left;
    grid_top_ = top;
    grid_width_ = width;
    grid_height_ = height;
  }
  std::uint8_t CellWidth() const { return cell_width_; }
  std::uint8_t CellHeight() const { return cell_height_; }
  void SetCell(std::uint8_t width, std::uint8_t height) {
    cell_width_ = width;
    cell_height_ = height;
  }
  std::uint8_t ForegroundColorIndex() const { return foreground_index_; }
  std::uint8_t BackgroundColorIndex() const { return background_index_; }
  void SetColorIndexes(std::uint8_t foreground, std::uint8_t background) {
    foreground_index_ = foreground;
    background_index_ = background;
  }
  // One line per data sub-block read; written in sub-blocks of at most 255.
  std::vector<std::string>& Text() { return text_; }
  const std::vector<std::string>& Text() const { return text_; }

 private:
  std::uint16_t grid_left_ = 0, grid_top_ = 0, grid_width_ = 0, grid_height_ = 0;
  std::uint8_t cell_width_ = 0, cell_height_ = 0;
  std::uint8_t foreground_index_ = 0, background_index_ = 0;
  std::vector<std::string> text_;
};

class TGIFCommentExtension : public TGIFExtension {
 public:
  static const TGIFExtensionClass kClass;
  using TGIFExtension::TGIFExtension;
  std::uint8_t ExtensionLabel() const override { return 0xFE; }
  void LoadFromStream(fw::TStream& stream) override;
  void SaveToStream(fw::TStream& stream) override;

  // One line per data sub-block read; written in sub-blocks of at most 255.
  std::vector<std::string>& Comment() { return comment_; }
  const std::vector<std::string>& Comment() const { return comment_; }

 private:
  std::vector<std::string> comment_;
};

// One kept data sub-block (1..255 bytes).
class TGIFBlock {
 public:
  explicit TGIFBlock(std::vector<std::uint8_t> data) : data_(std::move(data)) {}
  const std::vector<std::uint8_t>& Data() const { return data_; }

 private:
  std::vector<std::uint8_t> data_;
};

// An application extension. The base kind (also used for an identifier
// block of an unusual size) keeps its data sub-blocks as they are, and the
// bytes of an identifier block longer than 11, so that it is written back
// as it was read (and not taken for a registered kind when read again).
class TGIFApplicationExtension : public TGIFExtension {
 public:
  static const TGIFExtensionClass kClass;
  explicit TGIFApplicationExtension(TGIFSubImage* sub_image);
  std::uint8_t ExtensionLabel() const override { return 0xFF; }
  void LoadFromStream(fw::TStream& stream) override;
  void SaveToStream(fw::TStream& stream) override;

  const TGIFAppIdentifier& Identifier() const { return identifier_; }
  void SetIdentifier(const TGIFAppIdentifier& identifier) { identifier_ = identifier; }
  void SetIdentifier(const std::string& identifier);
  const std::vector<TGIFBlock>& Blocks() const { return blocks_; }
  std::vector<TGIFBlock>& Blocks() { return blocks_; }

 protected:
  // Read and write the data sub-blocks behind the identifier, including the
  // chain's terminator.
  virtual void LoadAppData(fw::TStream& stream);
  virtual void SaveAppData(fw::TStream& stream);

  TGIFAppIdentifier identifier_{};
  std::vector<std::uint8_t> identifier_extra_;  // identifier block bytes 12..
  std::vector<TGIFBlock> blocks_;
};

class TGIFUnknownAppExtension : public TGIFApplicationExtension {
 public:
  static const TGIFExtensionClass kClass;
  using TGIFApplicationExtension::TGIFApplicationExtension;
};

// The loop extension ("NETSCAPE2.0", also read as "ANIMEXTS1.0"):
// sub-block id 1 holds the loop count (u16, 0 = for ever), id 2 a buffer
// size (u32).
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  static const TGIFExtensionClass kClass;
  explicit TGIFAppExtNSLoop(TGIFSubImage* sub_image);
  std::uint16_t Loops() const { return loops_; }
  void SetLoops(std::uint16_t loops) { loops_ = loops; }
  std::uint32_t BufferSize() const { return buffer_size_; }
  void SetBufferSize(std::uint32_t size) { buffer_size_ = size; }

 protected:
  void LoadAppData(fw::TStream& stream) override;
  void SaveAppData(fw::TStream& stream) override;

 private:
  std::uint16_t loops_ = 0;
  std::uint32_t buffer_size_ = 0;
};

// A frame's extensions, in file order.
class TGIFExtensionList : public TGIFList<TGIFExtension> {
 public:
  // Reads extensions while the next byte is "!"; stops before "," or ";".
  void LoadFromStream(fw::TStream& stream, TGIFSubImage* parent);
};

}  // namespace gif
