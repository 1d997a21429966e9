// Pairs the values a simulator sent with the values a host read, both in
// order, so that a soak run can say which sent values never arrived and which
// read values were never sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace corvane::bench {

struct StreamMatch {
  bool anchored = false;     // some run of values read was found among those sent
  size_t skippedHead = 0;    // values read before that run, left unjudged
  size_t matched = 0;        // values read that were paired with a value sent
  size_t unmatched = 0;      // values read that pair with nothing sent: made up or changed
  std::vector<size_t> lost;  // indices of sent values that were never read, from the start
                             // of `sent` up to the last paired one
  size_t lastSent = 0;       // index of the last paired sent value (valid when matched > 0)
};

// Values are compared exactly. A sent value the host skipped is told apart
// from a read value that was never sent by the run of values after it: the
// alignment that lets the next `resyncRun` values pair wins. Sent values after
// the last paired one are not reported: the caller judges that tail, whose
// values may still have been on their way. `onPair`, when given, is told each
// pair as (index read, index sent), in order.
using PairSeen = std::function<void(size_t received, size_t sent)>;
StreamMatch MatchStream(std::span<const int32_t> sent, std::span<const int32_t> received,
                        size_t anchorRun = 200, size_t resyncRun = 20, size_t mostLost = 4000,
                        const PairSeen& onPair = {});

}  // namespace corvane::bench
