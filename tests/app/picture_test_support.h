// Pictures for the capture, report and graph tests: JPEG, GIF and BMP
// bytes of known sizes, the GIF picture class registered for the test's
// length, and a check that runs a step inside a modal loop the step
// itself starts (a report's preview, a window shown modally).
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "framework/gui/jpeg_codec.h"
#include "gif/gui/gif_graphic.h"

namespace apptest {

// A one-colour JPEG picture of width x height.
inline std::string JpegBytes(int width, int height, std::uint8_t blue, std::uint8_t green, std::uint8_t red) {
  std::vector<std::uint8_t> px(static_cast<std::size_t>(width) * height * 4);
  for (std::size_t i = 0; i < px.size(); i += 4) {
    px[i] = blue;
    px[i + 1] = green;
    px[i + 2] = red;
    px[i + 3] = 0;
  }
  std::vector<std::uint8_t> out;
  EXPECT_TRUE(fw::jpeg::Encode(px.data(), width, height, {}, out).ok());
  return std::string(out.begin(), out.end());
}

// The bytes of a GIF picture of the test data.
inline std::string GifBytes(const std::string& name = "tk-logo64.gif") {
  std::ifstream f(std::filesystem::path(TOLMID_TEST_DATA) / "gif" / name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The GIF picture class registered while an object lives.
class GifPictures {
 public:
  GifPictures() { gif::GIFImageInitialization(); }
  ~GifPictures() { gif::GIFImageFinalization(); }
};

// Runs step; once the modal loop that step starts is running, inside
// calls in_modal (then it must end that loop). Fails when no loop came.
inline void WithModalLoop(const std::function<void()>& step, const std::function<void()>& in_modal) {
  bool called = false;
  QTimer::singleShot(0, [&] {
    called = true;
    in_modal();
  });
  step();
  EXPECT_TRUE(called) << "no modal loop ran";
}

}  // namespace apptest
