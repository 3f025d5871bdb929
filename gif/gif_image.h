// TGIFImage: a GIF file (87a or 89a) held as a header, a list of frames and
// their extensions; read from and written to streams.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "gif/gif_exception.h"
#include "gif/gif_extension.h"
#include "gif/gif_header.h"
#include "gif/gif_item.h"
#include "gif/gif_sub_image.h"

namespace gif {

// Image data coding used when writing.
enum class TGIFCompression : std::uint8_t { gcLZW = 0, gcRLE = 1 };

class TGIFImage {
 public:
  // Default largest frame, in pixels (16384 x 16384), and default largest
  // sum over all frames: a few bytes of a hostile file can ask for either.
  static constexpr std::int64_t kDefaultMaxFramePixels = std::int64_t{1} << 28;
  static constexpr std::int64_t kDefaultMaxTotalPixels = std::int64_t{1} << 30;

  TGIFImage();
  ~TGIFImage();
  TGIFImage(const TGIFImage&) = delete;
  TGIFImage& operator=(const TGIFImage&) = delete;

  // Reads a whole file. A raised GIFException ends the load; what was read
  // so far stays in the image.
  void LoadFromStream(fw::TStream& stream);
  void SaveToStream(fw::TStream& stream);
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name);
  // Copies another image (header, settings and frames).
  void Assign(const TGIFImage& source);

  // Frees the frames and the global table; the screen becomes 0 x 0.
  void Clear();
  bool Empty() const { return images_.Count() == 0; }
  int Add(std::unique_ptr<TGIFSubImage> frame);

  TGIFHeader& Header() { return header_; }
  const TGIFHeader& Header() const { return header_; }
  TGIFImageList& Images() { return images_; }
  const TGIFImageList& Images() const { return images_; }
  TGIFGlobalColorMap& GlobalColorMap() { return header_.ColorMap(); }
  int Width() const { return header_.Width(); }
  int Height() const { return header_.Height(); }
  // Every frame must fit, else "Image width/height too small for contained frames".
  void SetWidth(int width);
  void SetHeight(int height);

  // The largest version any frame needs; gvUnknown without frames.
  TGIFVersion Version() const;
  // Largest BitsNeeded over the global and every local table.
  int BitsPerPixel() const;
  // Largest BitsNeeded - 1 over the same tables.
  int ColorResolution() const;

  TGIFCompression Compression() const { return compression_; }
  void SetCompression(TGIFCompression c) { compression_ = c; }
  std::int64_t MaxFramePixels() const { return max_frame_pixels_; }
  void SetMaxFramePixels(std::int64_t pixels) { max_frame_pixels_ = pixels; }
  std::int64_t MaxTotalPixels() const { return max_total_pixels_; }
  void SetMaxTotalPixels(std::int64_t pixels) { max_total_pixels_ = pixels; }
  // Pixels held by all frames of this image now.
  std::int64_t TotalPixels() const { return total_pixels_; }

  TGIFWarning OnWarning;
  TGIFProgress OnProgress;
  // Called after every change of the global colour table (a palette made
  // from it is out of date).
  std::function<void()> OnGlobalColorMapChange;
  void ReportWarning(const void* sender, int severity, const std::string& message);
  void Progress(const void* sender, TProgressStage stage, int percent, const std::string& message);

 private:
  TGIFHeader header_;
  TGIFImageList images_;
  TGIFCompression compression_ = TGIFCompression::gcLZW;
  std::int64_t max_frame_pixels_ = kDefaultMaxFramePixels;
  std::int64_t max_total_pixels_ = kDefaultMaxTotalPixels;
  friend class TGIFSubImage;
  std::int64_t total_pixels_ = 0;  // kept by TGIFSubImage
};

}  // namespace gif
