// Screenshots of controls in tests: the control's widget rendered offscreen
// into an image and written as PNG under the build folder
// (<build>/screenshots/<name>.png), so a person can look at them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QWidget>

#include "framework/forms/control.h"

namespace testsupport {

inline std::string ScreenshotDir() {
#ifdef TOLMID_BUILD_DIR
  const std::filesystem::path dir = std::filesystem::path(TOLMID_BUILD_DIR) / "screenshots";
#else
  const std::filesystem::path dir = std::filesystem::current_path() / "screenshots";
#endif
  std::filesystem::create_directories(dir);
  return dir.string();
}

// Renders widget (with its children) as it would show; lays out and
// paints pending changes first.
inline QImage GrabWidget(QWidget* widget) {
  QApplication::processEvents();
  return widget->grab().toImage();
}

// Grabs the control and writes <build>/screenshots/<name>.png; returns the
// image.
inline QImage GrabToPng(fw::TControl& control, const std::string& name) {
  const QImage image = GrabWidget(control.Widget());
  const std::string path = ScreenshotDir() + "/" + name + ".png";
  EXPECT_TRUE(image.save(QString::fromStdString(path), "PNG")) << path;
  return image;
}

}  // namespace testsupport
