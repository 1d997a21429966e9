#include "soak_match.h"

#include <algorithm>

namespace corvane::bench {
namespace {

bool RunMatches(std::span<const int32_t> sent, size_t j, std::span<const int32_t> received,
                size_t i, size_t length) {
  if (j + length > sent.size() || i + length > received.size()) return false;
  return std::equal(received.begin() + static_cast<std::ptrdiff_t>(i),
                    received.begin() + static_cast<std::ptrdiff_t>(i + length),
                    sent.begin() + static_cast<std::ptrdiff_t>(j));
}

}  // namespace

StreamMatch MatchStream(std::span<const int32_t> sent, std::span<const int32_t> received,
                        size_t anchorRun, size_t resyncRun, size_t mostLost,
                        const PairSeen& onPair) {
  StreamMatch m;
  // The first run of values read that sits somewhere in what was sent fixes
  // where the recording begins; the earliest place wins. A long run is sure
  // to be placed right; shorter ones place a recording that lost values early.
  size_t i = 0, j = 0;
  const size_t step = std::max<size_t>(1, std::min(resyncRun, anchorRun));
  for (; i < received.size() && !m.anchored; i += step) {
    for (size_t run = std::min(anchorRun, received.size() - i); run > 0 && !m.anchored;
         run = run > step ? std::max(step, run / 2) : 0) {
      for (j = 0; j + run <= sent.size(); ++j) {
        if (RunMatches(sent, j, received, i, run)) {
          m.anchored = true;
          break;
        }
      }
    }
    if (m.anchored) break;
  }
  if (!m.anchored) return m;
  m.skippedHead = i;
  for (size_t k = 0; k < j; ++k) m.lost.push_back(k);

  while (i < received.size() && j < sent.size()) {
    if (received[i] == sent[j]) {
      if (onPair) onPair(i, j);
      ++m.matched;
      m.lastSent = j;
      ++i;
      ++j;
      continue;
    }
    // Near the end the run is as long as what is left to read.
    const size_t run = std::min(resyncRun, received.size() - i);
    // One value changed on the way: the values after it still pair.
    if (run > 1 && RunMatches(sent, j + 1, received, i + 1, run - 1)) {
      ++m.unmatched;
      ++i;
      ++j;
      continue;
    }
    // Sent values the host never read: the run pairs further on.
    size_t skip = 1;
    while (skip <= mostLost && !RunMatches(sent, j + skip, received, i, run)) ++skip;
    if (skip <= mostLost) {
      for (size_t k = 0; k < skip; ++k) m.lost.push_back(j + k);
      j += skip;
    } else {
      ++m.unmatched;  // read, never sent
      ++i;
    }
  }
  // Whatever is left to read found nothing more to pair with.
  m.unmatched += received.size() - i;
  return m;
}

}  // namespace corvane::bench
