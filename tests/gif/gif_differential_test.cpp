// Our reader against giflib on real files and on files giflib's encoder
// builds: the same frames, tables, extensions and pixel indexes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "tests/gif/gif_test_support.h"

namespace giftest {
namespace {

// The corpus and the built files together must hold what the comparison is
// meant to exercise; a lost file would silently narrow it.
TEST(GifDifferential, CorpusCoversTheFeatures) {
  std::map<std::string, int> seen;
  std::set<int> global_sizes, disposals;
  for (const Sample& s : AllSamples()) {
    auto l = LoadOurs(s.data);
    ASSERT_EQ(l->error, "") << s.name;
    seen["87a"] += s.data[4] == '7';
    global_sizes.insert(l->image->GlobalColorMap().Count());
    for (auto& f : l->image->Images()) {
      seen["interlaced"] += f->Interlaced();
      seen["offset"] += f->Left() > 0 || f->Top() > 0;
      seen["local"] += f->ColorMap().Count() > 0;
      if (auto* g = f->GraphicControlExtension()) {
        disposals.insert(g->Disposal());
        seen["transparent"] += g->Transparent();
      }
      for (auto& e : f->Extensions()) {
        seen["loop"] += dynamic_cast<gif::TGIFAppExtNSLoop*>(e.get()) != nullptr;
        seen["text"] += dynamic_cast<gif::TGIFTextExtension*>(e.get()) != nullptr;
        seen["comment"] += dynamic_cast<gif::TGIFCommentExtension*>(e.get()) != nullptr;
        seen["unknown app"] += dynamic_cast<gif::TGIFUnknownAppExtension*>(e.get()) != nullptr;
      }
    }
  }
  EXPECT_GE(CorpusFiles().size(), 30u);
  for (const auto& [what, n] : seen) { EXPECT_GT(n, what == "text" || what == "unknown app" ? 0 : 1) << what; }
  EXPECT_EQ(seen.size(), 9u);
  for (int n : {2, 4, 8, 16, 32, 64, 128, 256}) { EXPECT_TRUE(global_sizes.count(n)) << n; }
  const std::set<int> all_disposals = {0, 1, 2, 3};
  EXPECT_TRUE(std::includes(disposals.begin(), disposals.end(), all_disposals.begin(), all_disposals.end()));
}

TEST(GifDifferential, SameAsGiflib) {
  for (const Sample& s : AllSamples()) {
    auto theirs = LoadGiflib(s.data);
    ASSERT_NE(theirs->file, nullptr) << s.name << " giflib error " << theirs->error;
    auto ours = LoadOurs(s.data);
    EXPECT_EQ(ours->error, "") << s.name;
    EXPECT_TRUE(ours->warnings.empty()) << s.name << ": " << ours->warnings.front();
    ExpectSameAsGiflib(*ours->image, theirs->file, s.name);
  }
}

// Codes cross sub-block boundaries at every bit offset when the data is cut
// into small sub-blocks; a reader that assumed a code lies within one block,
// or that reads only one more block per code, fails here.
TEST(GifDifferential, ReblockedDataDecodesTheSame) {
  std::mt19937 rng(99);
  for (const Sample& s : AllSamples()) {
    auto original = LoadOurs(s.data);
    for (int size : {1, 2, 3, 5, 254, 255, 0}) {
      SCOPED_TRACE(s.name + " blocks of " + std::to_string(size));
      const Bytes re = Reblock(s.data, [&] { return size ? size : static_cast<int>(rng() % 255 + 1); });
      auto theirs = LoadGiflib(re);
      auto ours = LoadOurs(re);
      EXPECT_EQ(ours->error, "");
      EXPECT_TRUE(ours->warnings.empty());
      ExpectSameAsGiflib(*ours->image, theirs->file, s.name);
    }
  }
}

}  // namespace
}  // namespace giftest
