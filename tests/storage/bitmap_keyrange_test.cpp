// Key ranges of a real index against a model: CountKeysBetween,
// SetBitsForKeyRange and KeyRangeBits (which walks the complement when the
// range holds more than half of the keys) on a tree of several leaves in
// which runs of equal values cross leaf boundaries. A descent that stops
// at the wrong separator would miss the first duplicates of a run.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "datafilter_test_support.h"
#include "storage/key_encoding.h"

namespace storage::filtertest {
namespace {

class KeyRangeTest : public datatest::DataFileTestBase {};

std::vector<std::uint8_t> Bound(std::uint16_t key_size, std::optional<std::int32_t> v,
                                std::uint8_t fill) {
  std::vector<std::uint8_t> k(key_size, fill);
  if (!v) {
    k[0] = 0;  // the null keys
    return k;
  }
  k[0] = 1;
  const auto e = EncodeIntegerKey(*v);
  std::copy(e.begin(), e.end(), k.begin() + 1);
  return k;
}

TEST_F(KeyRangeTest, RangesMatchModelAcrossLeaves) {
  Create(Path("R.DAT"), FilterTableDefinition(true));
  auto t = OpenTable(Path("R.DAT"));
  std::mt19937 rng(5);
  std::multimap<std::optional<std::int32_t>, std::int32_t> model;  // N -> Id
  const int kRows = 6000;
  for (int i = 1; i <= kRows; ++i) {
    Row r;
    r.id = i;
    if (rng() % 10) r.n = static_cast<std::int32_t>(rng() % 41) - 20;
    InsertRow(*t, r);
    model.emplace(r.n, i);
  }
  TIndexFile& ix = t->IndexFile();
  ix.SelectIndexByName("ByN");
  const std::uint16_t ks = ix.KeySize();
  ASSERT_EQ(ks, 9);  // flag, value, record ID
  ASSERT_EQ(ix.KeyCount(), static_cast<std::uint32_t>(kRows));
  const std::uint32_t slots = t->Header().NextRecord() - 1;

  // Nothing was deleted: record n holds Id n.
  for (std::uint32_t n = 1; n <= slots; n += 997) ASSERT_EQ(RecordId(*t, n), static_cast<std::int32_t>(n));
  auto ids_of = [&](const RecordBitmap& b) {
    std::set<std::int32_t> ids;
    for (std::uint32_t n = b.NextSet(0); n != 0; n = b.NextSet(n)) ids.insert(static_cast<std::int32_t>(n));
    return ids;
  };
  for (int k = 0; k < 300; ++k) {
    std::optional<std::int32_t> a, b;
    if (rng() % 8) a = static_cast<std::int32_t>(rng() % 47) - 23;
    if (rng() % 8) b = static_cast<std::int32_t>(rng() % 47) - 23;
    const auto low = Bound(ks, a, 0x00);
    const auto high = Bound(ks, b, 0xFF);
    std::set<std::int32_t> expect;
    for (const auto& [n, id] : model) {
      const bool above_low = !a || (n && *n >= *a);
      const bool below_high = b ? (!n || *n <= *b) : !n;  // null keys sort first
      if (above_low && below_high) expect.insert(id);
    }
    SCOPED_TRACE(testing::Message() << "low " << (a ? std::to_string(*a) : "null") << " high "
                                    << (b ? std::to_string(*b) : "null"));
    ix.SelectIndexByName("ByN");
    EXPECT_EQ(CountKeysBetween(ix, low.data(), high.data()), expect.size());
    RecordBitmap direct(slots);
    SetBitsForKeyRange(ix, low.data(), high.data(), direct);
    EXPECT_EQ(ids_of(direct), expect);
    RecordBitmap either(slots);
    KeyRangeBits(ix, low.data(), high.data(), either);
    EXPECT_EQ(either, direct);  // no deleted records: the complement walk is the same set
  }
}

}  // namespace
}  // namespace storage::filtertest
