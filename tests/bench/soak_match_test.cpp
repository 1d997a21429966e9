// The soak's verdict rests on this pairing: a fault in it would pass a run
// that lost data, so each way a stream can differ from what was sent is here.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "soak_match.h"

namespace corvane::bench {
namespace {

// Distinct values, so that any pairing is unambiguous.
std::vector<int32_t> Sent(size_t n) {
  std::vector<int32_t> v(n);
  std::iota(v.begin(), v.end(), 1000);
  return v;
}

std::vector<int32_t> Without(std::vector<int32_t> v, size_t from, size_t count) {
  v.erase(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(from + count));
  return v;
}

TEST(SoakMatch, TellsLostFromMadeUpValues) {
  const std::vector<int32_t> sent = Sent(600);
  std::vector<int32_t> changed = sent;
  changed[300] = -1;
  std::vector<int32_t> extra = sent;
  extra.insert(extra.begin() + 250, {7, 8, 9});
  std::vector<int32_t> doubled = sent;
  doubled.insert(doubled.begin() + 400, doubled[399]);
  std::vector<size_t> run(120);
  std::iota(run.begin(), run.end(), size_t{100});
  std::vector<int32_t> wave(600);  // a wave whose values repeat, with one gap
  for (size_t k = 0; k < wave.size(); ++k) wave[k] = static_cast<int32_t>(k % 37);

  struct Case {
    const char* name;
    std::vector<int32_t> sent;
    std::vector<int32_t> received;
    size_t matched;
    size_t unmatched;
    std::vector<size_t> lost;
    size_t lastSent;
  };
  const Case cases[] = {
      {"all arrived", sent, sent, 600, 0, {}, 599},
      {"one lost in the middle", sent, Without(sent, 300, 1), 599, 0, {300}, 599},
      {"a run lost", sent, Without(sent, 100, 120), 480, 0, run, 599},
      {"the head lost", sent, Without(sent, 0, 5), 595, 0, {0, 1, 2, 3, 4}, 599},
      {"the tail not yet read", sent, Without(sent, 550, 50), 550, 0, {}, 549},
      {"one value changed", sent, changed, 599, 1, {}, 599},
      {"values never sent", sent, extra, 600, 3, {}, 599},
      {"a value read twice", sent, doubled, 600, 1, {}, 599},
      {"repeating values, one lost", wave, Without(wave, 450, 1), 599, 0, {450}, 599},
      {"nothing read", sent, {}, 0, 0, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const StreamMatch m = MatchStream(c.sent, c.received);
    EXPECT_EQ(m.matched, c.matched);
    EXPECT_EQ(m.unmatched, c.unmatched);
    EXPECT_EQ(m.lost, c.lost);
    if (c.matched > 0) {
      EXPECT_EQ(m.lastSent, c.lastSent);
    }
    EXPECT_EQ(m.anchored, !c.received.empty());
  }
}

TEST(SoakMatch, ValuesFromAnotherStreamPairWithNothing) {
  const std::vector<int32_t> sent = Sent(400);
  std::vector<int32_t> other(400);
  std::iota(other.begin(), other.end(), 5000);
  const StreamMatch m = MatchStream(sent, other);
  EXPECT_FALSE(m.anchored);
  EXPECT_EQ(m.matched, 0u);
}

}  // namespace
}  // namespace corvane::bench
