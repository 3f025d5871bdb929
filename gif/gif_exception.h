// The GIF codec's exception and the texts it reports, as warnings through
// the image's warning event or raised as GIFException.
#pragma once

#include <string>

#include "framework/exceptions.h"

namespace gif {

// Bad GIF data or misuse of the codec's objects.
class GIFException : public fw::Exception {
 public:
  using fw::Exception::Exception;
};

[[noreturn]] void RaiseGIFError(const std::string& message);

// Texts of warnings and errors.
inline constexpr const char* kInvalidSignature = "Invalid GIF signature";
inline constexpr const char* kPrematureEOF = "Premature end of data";
inline constexpr const char* kUnknownBlockType = "Unknown GIF block type";
inline constexpr const char* kInvalidExtensionIntroducer = "Invalid extension introducer";
inline constexpr const char* kUnknownExtensionType = "Unknown extension type";
inline constexpr const char* kExtensionLabelMismatch =
    "Internal error: Extension Instance does not match Extension Label";
inline constexpr const char* kUnsupportedAppBlockSize = "Unsupported Application Extension block size";
inline constexpr const char* kInvalidData = "Invalid GIF data";
inline constexpr const char* kImageExceedsScreen = "Image exceeds Logical Screen size";
inline constexpr const char* kInvalidTrailer = "Invalid Image trailer";
inline constexpr const char* kColorTableOverflow = "Color table overflow";
inline constexpr const char* kColorTableEmpty = "Color table is empty";
inline constexpr const char* kInvalidColorIndex = "Invalid color index";
inline constexpr const char* kUnsupportedVersion = "Unsupported GIF version";
inline constexpr const char* kCircularTable = "Circular decoder table entry";
inline constexpr const char* kBitBufferUnderrun = "Decoder bit buffer under-run";
inline constexpr const char* kColorNotInTable = "Color not in color table";
inline constexpr const char* kInvalidStreamOperation = "Invalid stream operation";
inline constexpr const char* kInvalidPixelCoordinates = "Invalid pixel coordinates";
inline constexpr const char* kImageIsEmpty = "Image is empty";
inline constexpr const char* kUnsupportedObject = "Object type not supported for operation";
inline constexpr const char* kImageHeightTooSmall = "Image height too small for contained frames";
inline constexpr const char* kImageWidthTooSmall = "Image width too small for contained frames";
inline constexpr const char* kNoColorTable = "No global or local color table defined";
// A frame whose pixel buffer would pass the codec's size limit.
inline constexpr const char* kImageTooLarge = "Image dimensions too large";
inline constexpr const char* kLoadingMessage = "Loading...";
inline constexpr const char* kSavingMessage = "Saving...";

}  // namespace gif
