// Picture files: the URL extension (untrusted text that reaches file names)
// and the fit rule. Pictures stored without an extension are the pictures
// test's rows.
#include <gtest/gtest.h>

#include "app/picture_files.h"

namespace {

TEST(PictureFiles, UrlExtension) {
  const struct {
    const char* url;
    const char* ext;
  } cases[] = {
      {"http://x/pic.jpg", "jpg"},          {"http://x/pic.JPEG", "JPEG"},
      {"http://x/a.b.gif", "gif"},          {"http://x/pic.jpg?w=2&h=3", "jpg"},
      {"http://x/aqua02.jpg?x=1.5", "jpg"}, {"http://x/p.gif#v1.5", "gif"},  // the path's, not the query's
      {"http://x/p.gif?a#b.c", "gif"},
      {"http://x/pic..jpg", "http"},        // the first empty piece ends the split
      {"noextension", "noext"},             // the whole URL, cut to five
      {"http://x/p.j/../../etc", "j"},      // nothing from a URL makes a path
      {"http://x/p.%2e%2e", ""},            {"http://x/p.gif\\..\\x", "gif"},
      {".jpg", ""},                         {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(app::UrlExtension(c.url), c.ext) << c.url;
}

TEST(PictureFiles, FitRule) {
  const struct {
    int w, h, aw, ah, fw, fh;
  } cases[] = {
      {200, 185, 147, 133, 144, 133},  // taller than the box's shape: the height fixed
      {185, 167, 147, 133, 147, 133},  // the box's shape: both sides touch
      {90, 60, 190, 148, 190, 127},    // small and wide in a box less wide: the width fixed
      {60, 100, 700, 850, 510, 850},   // small and tall: the height fixed, never past the box
      {294, 145, 147, 133, 147, 72},   // 72.5: halves to even
      {294, 147, 147, 133, 147, 74},   // 73.5: halves to even
      {400, 100, 147, 133, 147, 37},   {100, 400, 147, 133, 33, 133},
      {1000, 500, 700, 850, 700, 350}, {10, 10, 281, 233, 233, 233},  // small ones grow
      {0, 0, 147, 133, 0, 0},
  };
  for (const auto& c : cases) {
    const app::FittedSize s = app::FitPictureSize(c.w, c.h, c.aw, c.ah);
    EXPECT_EQ(s.width, c.fw) << c.w << "x" << c.h;
    EXPECT_EQ(s.height, c.fh) << c.w << "x" << c.h;
  }
}

}  // namespace
