// BLOB streams of the dataset: pictures round-trip byte for byte through
// Post and a reopened table; random Read/Write/Seek/Truncate/Size
// sequences agree with a byte vector; handles never pile up; positions the
// engine cannot hold are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <random>

#include "dataset/tolmid_blob_stream.h"
#include "framework/streams.h"
#include "tests/dataset/dataset_test_support.h"

namespace dataset::dstest {
namespace {

using fw::TBlobStreamMode;
using fw::TFieldType;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadBlob(fw::TDataSet& t, const std::string& field) {
  std::unique_ptr<fw::TStream> s = t.CreateBlobStream(t.FieldByName(field), TBlobStreamMode::bmRead);
  Bytes b(static_cast<std::size_t>(s->Size()));
  if (!b.empty()) s->ReadBuffer(b.data(), static_cast<std::int64_t>(b.size()));
  return b;
}

class BlobStream : public DataSetTest {
 protected:
  TTolmidTable* MakePictures() {
    return CreateTable("pics.dat",
                       {{"ID", TFieldType::ftAutoInc, 0, true},
                        {"Name", TFieldType::ftString, 60},
                        {"Pic", TFieldType::ftGraphic},
                        {"Notes", TFieldType::ftMemo}},
                       {{"", "ID", kPrimary}});
  }
};

TEST_F(BlobStream, PicturesRoundTripThroughPostAndReopen) {
  TTolmidTable* t = MakePictures();
  // GIF files, and every byte value over several BLOB blocks.
  Bytes all(3000);
  for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
  std::vector<std::pair<std::string, Bytes>> files{{"all bytes", all}};
  for (const char* gif : {"cmake-CMakeLogo.gif", "cscope-folder.gif", "cscope-bomb.gif"})
    files.emplace_back(gif, ReadFileBytes(std::string(TOLMID_TEST_DATA) + "/gif/" + gif));
  t->Open();
  for (const auto& [name, bytes] : files) {
    ASSERT_FALSE(bytes.empty()) << name;
    t->Append();
    t->FieldByName("Name")->SetAsString(name);
    fw::TMemoryStream source;
    source.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    static_cast<fw::TBlobField*>(t->FieldByName("Pic"))->LoadFromStream(source);
    t->FieldByName("Notes")->SetAsString("picture " + name);
    t->Post();
  }
  t->Close();
  t->Open();
  ASSERT_EQ(t->RecordCount(), static_cast<int>(files.size()));
  for (const auto& [name, bytes] : files) {
    ASSERT_TRUE(t->Locate("Name", {fw::Variant(name)}, {})) << name;
    EXPECT_EQ(ReadBlob(*t, "Pic"), bytes) << name;
    EXPECT_EQ(t->FieldByName("Notes")->AsString(), "picture " + name);
  }
  t->Close();
  EXPECT_EQ(CheckTableFiles(dir_, "pics"), "");
}

TEST_F(BlobStream, RandomOperationsAgreeWithByteVector) {
  TTolmidTable* t = MakePictures();
  t->Open();
  t->Append();
  t->Post();
  std::mt19937 rng(7);
  auto rnd = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  Bytes model;
  for (int round = 0; round < 6; ++round) {
    t->Edit();
    {
      TTolmidBlobStream s(t->FieldByName("Pic"), TBlobStreamMode::bmReadWrite);
      std::int64_t pos = 0;
      for (int step = 0; step < 300; ++step) {
        switch (rnd(5)) {
          case 0: {  // write, often past the end
            Bytes data(static_cast<std::size_t>(rnd(700)));
            for (auto& b : data) b = static_cast<std::uint8_t>(rng());
            ASSERT_EQ(s.Write(data.data(), static_cast<std::int64_t>(data.size())),
                      static_cast<std::int64_t>(data.size()));
            if (pos + static_cast<std::int64_t>(data.size()) > static_cast<std::int64_t>(model.size()))
              model.resize(static_cast<std::size_t>(pos) + data.size(), 0);
            std::copy(data.begin(), data.end(), model.begin() + pos);
            pos += static_cast<std::int64_t>(data.size());
            break;
          }
          case 1: {
            Bytes got(static_cast<std::size_t>(rnd(900)), 0xAA);
            const std::int64_t n = s.Read(got.data(), static_cast<std::int64_t>(got.size()));
            const std::int64_t avail =
                std::max<std::int64_t>(0, static_cast<std::int64_t>(model.size()) - pos);
            ASSERT_EQ(n, std::min<std::int64_t>(avail, static_cast<std::int64_t>(got.size())));
            ASSERT_TRUE(std::equal(got.begin(), got.begin() + n, model.begin() + pos));
            pos += n;
            break;
          }
          case 2: {
            const auto origin = static_cast<fw::TSeekOrigin>(rnd(3));
            const std::int64_t off = rnd(1200) - 600;
            const std::int64_t base = origin == fw::TSeekOrigin::soBeginning ? 0
                                      : origin == fw::TSeekOrigin::soCurrent
                                          ? pos
                                          : static_cast<std::int64_t>(model.size());
            const std::int64_t want = base + off;
            ASSERT_EQ(s.Seek(off, origin), want < 0 ? -1 : want);
            if (want >= 0) pos = want;
            break;
          }
          case 3: {
            if (rnd(3) != 0) break;
            s.Truncate();
            model.resize(static_cast<std::size_t>(std::min<std::int64_t>(
                             pos, static_cast<std::int64_t>(model.size()))),
                         0);
            if (pos > static_cast<std::int64_t>(model.size())) model.resize(static_cast<std::size_t>(pos), 0);
            break;
          }
          default:
            ASSERT_EQ(s.Size(), static_cast<std::int64_t>(model.size()));
            ASSERT_EQ(s.Position(), pos);
        }
      }
    }
    if (round % 3 == 2) {
      t->Cancel();  // the value stays what was posted before
      Bytes posted = ReadBlob(*t, "Pic");
      model = posted;
    } else {
      t->Post();
      ASSERT_EQ(ReadBlob(*t, "Pic"), model);
    }
  }
  t->Close();
  t->Open();
  EXPECT_EQ(ReadBlob(*t, "Pic"), model);
}

// A stream freed without an explicit close leaves no engine handle behind:
// far more edits and reads than the engine's 64 open values.
TEST_F(BlobStream, HandlesNeverPileUp) {
  TTolmidTable* t = MakePictures();
  t->Open();
  t->Append();
  t->Post();
  for (int i = 0; i < 150; ++i) {
    t->Edit();
    t->FieldByName("Notes")->SetAsString("edit " + std::to_string(i));
    { TTolmidBlobStream unused(t->FieldByName("Pic"), TBlobStreamMode::bmRead); }
    if (i % 5 == 4)
      t->Cancel();
    else
      t->Post();
    EXPECT_FALSE(t->FieldByName("Notes")->AsString().empty());
    { auto s = t->CreateBlobStream(t->FieldByName("Notes"), TBlobStreamMode::bmRead); }
  }
  EXPECT_EQ(t->FieldByName("Notes")->AsString(), "edit 148");
}

TEST_F(BlobStream, PositionsAndModesTheEngineCannotHold) {
  TTolmidTable* t = MakePictures();
  t->Open();
  EXPECT_EQ(ErrorOf([&] {
              t->Append();
              t->Cancel();
              TTolmidBlobStream s(t->FieldByName("Notes"), TBlobStreamMode::bmWrite);
            }),
            "");  // empty table: no record, an unopened stream
  t->Append();
  t->FieldByName("Notes")->SetAsString(std::string(100, 'x'));
  t->Post();
  EXPECT_EQ(ErrorOf([&] { TTolmidBlobStream s(t->FieldByName("Notes"), TBlobStreamMode::bmWrite); }),
            "Dataset not in edit or insert mode");
  t->FieldByName("Notes")->SetReadOnly(true);
  t->Edit();
  EXPECT_EQ(ErrorOf([&] { TTolmidBlobStream s(t->FieldByName("Notes"), TBlobStreamMode::bmReadWrite); }),
            "Field 'Notes' cannot be modified");
  t->FieldByName("Notes")->SetReadOnly(false);
  TTolmidBlobStream s(t->FieldByName("Notes"), TBlobStreamMode::bmReadWrite);
  EXPECT_EQ(s.Seek(-10, fw::TSeekOrigin::soEnd), 90);
  EXPECT_EQ(s.Seek(-91, fw::TSeekOrigin::soCurrent), -1);
  EXPECT_EQ(s.Position(), 90);
  char buf[20];
  EXPECT_EQ(s.Read(buf, 20), 10);  // the bytes there, the position moved by them
  EXPECT_EQ(s.Position(), 100);
  EXPECT_EQ(s.Seek(std::int64_t{3} << 31, fw::TSeekOrigin::soBeginning), std::int64_t{3} << 31);
  EXPECT_EQ(s.Read(buf, 20), 0);
  EXPECT_EQ(CodeOf([&] { s.Write(buf, 1); }), 9998);
  s.Seek(INT32_MAX - 4, fw::TSeekOrigin::soBeginning);
  EXPECT_EQ(CodeOf([&] { s.Write(buf, 20); }), 9998);
  EXPECT_EQ(s.Size(), 100);
  // A second stream on the changed field shares its handle.
  s.Seek(0, fw::TSeekOrigin::soBeginning);
  s.Write("ab", 2);
}

TEST_F(BlobStream, TwoStreamsOnAChangedFieldShareIt) {
  TTolmidTable* t = MakePictures();
  t->Open();
  t->Append();
  { TTolmidBlobStream w(t->FieldByName("Notes"), TBlobStreamMode::bmWrite); w.Write("hello", 5); }
  {
    TTolmidBlobStream r(t->FieldByName("Notes"), TBlobStreamMode::bmRead);
    char buf[8] = {};
    EXPECT_EQ(r.Read(buf, 8), 5);
    EXPECT_EQ(std::string(buf), "hello");
  }
  { TTolmidBlobStream w(t->FieldByName("Notes"), TBlobStreamMode::bmReadWrite); w.Seek(0, fw::TSeekOrigin::soEnd); w.Write("!", 1); }
  t->Post();
  EXPECT_EQ(t->FieldByName("Notes")->AsString(), "hello!");
}

}  // namespace
}  // namespace dataset::dstest
