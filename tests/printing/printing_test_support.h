// Helpers of the report and chart tests: poppler-utils run on the PDF files
// the tests print (pdftotext, pdfinfo, pdfimages, pdftoppm), PDF printers,
// picture files and output paths under the build folder.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <QImage>
#include <QPrinter>

#include "framework/gui/bitmap.h"
#include "framework/gui/canvas.h"
#include "framework/streams.h"
#include "tests/common/memory_dataset.h"

namespace printtest {

struct CommandResult {
  int status = -1;
  std::string output;
};

inline CommandResult Run(const std::string& command) {
  CommandResult r;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (p == nullptr) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  const int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// A fresh path under the build folder's test output.
inline std::string OutputPath(const std::string& name) {
  const std::filesystem::path dir(TOLMID_OUTPUT_DIR);
  std::filesystem::create_directories(dir);
  std::filesystem::remove(dir / name);
  return (dir / name).string();
}

inline std::unique_ptr<QPrinter> PdfPrinter(const std::string& path) {
  auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
  printer->setOutputFormat(QPrinter::PdfFormat);
  printer->setOutputFileName(QString::fromStdString(path));
  return printer;
}

// The page text, laid out as on paper.
inline std::string PdfText(const std::string& path) { return Run("pdftotext -layout '" + path + "' -").output; }

// A "Key: value" line of pdfinfo, value trimmed.
inline std::string PdfInfo(const std::string& path, const std::string& key) {
  std::istringstream in(Run("pdfinfo '" + path + "'").output);
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) != 0) continue;
    std::string v = line.substr(key.size() + 1);
    v.erase(0, v.find_first_not_of(' '));
    return v;
  }
  return {};
}

inline int PdfPages(const std::string& path) {
  const std::string v = PdfInfo(path, "Pages");
  return v.empty() ? -1 : std::stoi(v);
}

struct PdfImage {
  int page;
  int width;
  int height;
};

// Where ink lies on a page (1-based), rendered at dpi dots an inch: the
// smallest rectangle holding every pixel that is not near white, in dots
// from the paper's top-left corner (null when the page is blank).
inline QRect PdfInkBox(const std::string& path, int page, int dpi) {
  const std::string png = path + ".ink";
  Run("pdftoppm -png -singlefile -r " + std::to_string(dpi) + " -f " + std::to_string(page) + " -l " +
      std::to_string(page) + " '" + path + "' '" + png + "'");
  const QImage image(QString::fromStdString(png + ".png"));
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qGray(image.pixel(x, y)) < 200) box |= QRect(x, y, 1, 1);
  return box;
}

// The pictures drawn, page by page (soft masks left out).
inline std::vector<PdfImage> PdfImages(const std::string& path) {
  std::vector<PdfImage> out;
  std::istringstream in(Run("pdfimages -list '" + path + "'").output);
  std::string line;
  std::getline(in, line);  // header
  std::getline(in, line);  // rule
  while (std::getline(in, line)) {
    std::istringstream row(line);
    PdfImage im{};
    int num;
    std::string type;
    if (row >> im.page >> num >> type >> im.width >> im.height && type == "image") out.push_back(im);
  }
  return out;
}

// Whether every needle occurs in text, each after the one before.
inline bool InOrder(const std::string& text, const std::vector<std::string>& needles) {
  std::size_t at = 0;
  for (const std::string& n : needles) {
    at = text.find(n, at);
    if (at == std::string::npos) return false;
    at += n.size();
  }
  return true;
}

inline std::size_t Occurrences(const std::string& text, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) ++n;
  return n;
}

// The bytes of a one-colour BMP picture, and a file holding them.
inline std::string BmpBytes(int width, int height, fw::TColor color) {
  fw::TBitmap b;
  b.SetSize(width, height);
  b.Canvas().SetBrushColor(color);
  b.Canvas().FillRect(fw::Rect(0, 0, width, height));
  fw::TMemoryStream s;
  b.SaveToStream(s);
  return std::string(reinterpret_cast<const char*>(s.Memory()), static_cast<std::size_t>(s.Size()));
}

inline void MakeBmpFile(const std::string& path, int width, int height, fw::TColor color) {
  std::ofstream(path, std::ios::binary) << BmpBytes(width, height, color);
}

}  // namespace printtest
