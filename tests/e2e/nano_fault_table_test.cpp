// Faults on the wrist unit's line, one row each, through the module's exports
// while it records from the simulated unit. Every row checks two things: the
// finger-pressure values the host read are exactly the data frames the unit
// sent intact (its send log), in order and once each, with a gap only where a
// row allows one; and the host and the module log were told what happened,
// in the module's own words.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "hostkit_registration.h"
#include "nano_session.h"

namespace {

using corvane::testing::FakeLogService;
using corvane::testing::NanoSession;
using corvane::testing::Recording;
using corvane::testing::Settings;

constexpr int kDataChannel = 1;
constexpr size_t kStatusSpacing = 20;  // ticks between the unit's status frames
constexpr size_t kFetchCycle = 32;
constexpr int64_t kLongestUnitLoss = 3;  // frames a drop next to a bad checksum costs     //
                                         // pressure records the module takes per fetch cycle

struct SentFrame {
  unsigned counter = 0;
  int64_t value = 0;  // as the host's channel 1 shows it
};

std::vector<SentFrame> ReadSendLog(const std::filesystem::path& path) {
  std::vector<SentFrame> sent;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    long long ns = 0;
    unsigned counter = 0, bp = 0;
    // The last line may still be on its way.
    if (std::sscanf(line.c_str(), "%lld %u %u", &ns, &counter, &bp) != 3) break;
    sent.push_back({counter, static_cast<int64_t>(bp / 10) * corvane::testing::kPerMmHg});
  }
  return sent;
}

std::string Hex(unsigned value) {
  std::ostringstream text;
  text << std::hex << value;
  return text.str();
}

// How the values the host read line up with the frames sent.
struct Delivery {
  std::string problem;  // empty when every tick holds its frame's value or the held one
  size_t lost = 0;      // frames sent intact inside the recording that the host never read
  size_t gaps = 0;      // runs of such frames
  std::vector<std::string> sequenceErrors;  // the lines the counter jumps call for
};

// The host's channel 1 runs on the 5 ms grid of the unit's counter: the value
// at each tick is the pressure of the frame sent with that tick's counter, or,
// for a frame that never arrived, the value before it, held. Frames the unit
// lost (dropped, corrupted) hold freely; up to `maxLost` frames it sent intact
// may be missing in one gap (a hang-up loses what sat in the line when it went).
Delivery MatchDelivery(const std::vector<SentFrame>& sent, const std::vector<int64_t>& read,
                       size_t maxLost) {
  constexpr size_t kAnchor = 60;
  Delivery d;
  // Counters unwrapped into one rising sequence; a repeat keeps its counter.
  std::vector<int64_t> sequence(sent.size());
  std::map<int64_t, int64_t> intact;  // sequence number -> value
  for (size_t k = 0; k < sent.size(); ++k) {
    sequence[k] = k == 0 ? sent[0].counter
                         : sequence[k - 1] + ((sent[k].counter - sent[k - 1].counter) & 0xFFFF);
    intact[sequence[k]] = sent[k].value;
  }
  // What tick p shows if the recording's first tick is `first`: 0 its own
  // frame, 1 a value held over a frame the unit lost, 2 held over one it
  // sent, -1 neither.
  auto judge = [&](int64_t first, size_t p) {
    const auto frame = intact.find(first + static_cast<int64_t>(p));
    if (frame != intact.end() && frame->second == read[p]) return 0;
    if (p > 0 && read[p] == read[p - 1]) return frame == intact.end() ? 1 : 2;
    return -1;
  };
  // A run of changing values that matches tick for tick fixes where the
  // recording sits in what was sent.
  std::optional<int64_t> first;
  for (size_t p = 1; p + kAnchor <= read.size() && !first; p += kAnchor / 2) {
    if (std::all_of(read.begin() + static_cast<std::ptrdiff_t>(p),
                    read.begin() + static_cast<std::ptrdiff_t>(p + kAnchor),
                    [&](int64_t v) { return v == read[p]; })) {
      continue;
    }
    for (const auto& [number, value] : intact) {
      if (value != read[p]) continue;
      const int64_t candidate = number - static_cast<int64_t>(p);
      bool fits = true;
      for (size_t k = p; k < p + kAnchor && fits; ++k) fits = judge(candidate, k) >= 0;
      if (fits) {
        first = candidate;
        break;
      }
    }
  }
  if (!first) {
    d.problem = "the values read match no run of frames sent (" + std::to_string(read.size()) +
                " read, " + std::to_string(sent.size()) + " sent)";
    return d;
  }
  std::set<int64_t> missed;  // sequence numbers whose frame the host never got
  bool inGap = false;
  for (size_t p = 0; p < read.size(); ++p) {
    const int verdict = judge(*first, p);
    if (verdict < 0) {
      d.problem = "value " + std::to_string(p) + " of " + std::to_string(read.size()) + " (" +
                  std::to_string(read[p]) + ") is neither its frame's nor the one held (counter " +
                  std::to_string((*first + static_cast<int64_t>(p)) & 0xFFFF) + ")";
      return d;
    }
    if (verdict > 0) missed.insert(*first + static_cast<int64_t>(p));
    if (verdict == 2) {
      ++d.lost;
      if (!inGap) ++d.gaps;
    }
    if (verdict != 1) inGap = verdict == 2;
  }
  if (d.lost > maxLost) {
    d.problem = std::to_string(d.lost) + " frames sent intact never reached the host";
    return d;
  }
  // Every counter jump among the frames that reached the module (a repeated
  // one included) calls for its sequence-error line; a jump over frames sent
  // intact is left out: which of them reached the module is not known.
  const int64_t last = *first + static_cast<int64_t>(read.size()) - 1;
  std::vector<int64_t> arrived;
  for (size_t k = 0; k < sent.size(); ++k) {
    if (sequence[k] >= *first && sequence[k] <= last && missed.count(sequence[k]) == 0) {
      arrived.push_back(sequence[k]);
    }
  }
  for (size_t k = 1; k < arrived.size(); ++k) {
    const int64_t expected = arrived[k - 1] + 1, got = arrived[k];
    if (got == expected) continue;
    // Longer jumps are hang-ups, whose edges the send log cannot place.
    if (got - expected > kLongestUnitLoss) continue;
    bool overSent = false;
    for (int64_t n = expected; n < got; ++n) overSent = overSent || intact.count(n) != 0;
    if (overSent) continue;
    const auto e = static_cast<unsigned>(expected & 0xFFFF),
               g = static_cast<unsigned>(got & 0xFFFF);
    d.sequenceErrors.push_back("!!! Nano Driver: Data sample counter sequence error. Expected " +
                               std::to_string(e) + " (0x" + Hex(e) + "), got " + std::to_string(g) +
                               " (0x" + Hex(g) + ")");
  }
  return d;
}

struct Exchange {
  std::string command;
  std::string reply;
};

struct FaultRow {
  const char* fault;
  std::string settings;         // the simulator's settings that make the fault
  bool beforeStart;             // made before the recording starts, else during it
  std::vector<Exchange> setup;  // commands (and their replies) after the fault is made
  bool continueAfterError;
  std::vector<std::string> replies;  // every line besides data from the start to the stop
  std::vector<std::string> logged;   // module log texts, each in some line
  int64_t faultMs = 1200;            // how long a fault made during the recording lasts
  size_t maxLost = 0;                // intact frames the fault may cost
  bool records = true;               // false: the start fails, no more than one fetch of data comes
  bool endsEngine = false;           // the module's worker ends after the abort: no stop then
};

class NanoFaultTable : public NanoSession {
 protected:
  static void SetUpTestSuite() {
    // The host framework carries the module log; it must be there before the
    // module first looks for it.
    corvane::testing::RegisterHostkit(&logService);
    NanoSession::SetUpTestSuite();
  }
  static void TearDownTestSuite() {
    NanoSession::TearDownTestSuite();
    corvane::testing::UnregisterHostkit();
  }

  size_t LogSize() {
    std::lock_guard lock(logService.mutex);
    return logService.lines.size();
  }
  // Whether a module log line from `from` on contains `text`.
  bool Logged(size_t from, const std::string& text) {
    const std::wstring wide(text.begin(), text.end());
    std::lock_guard lock(logService.mutex);
    return std::any_of(logService.lines.begin() + static_cast<std::ptrdiff_t>(from),
                       logService.lines.end(),
                       [&](const std::wstring& line) { return line.find(wide) != line.npos; });
  }
  void WriteSettings(const std::string& text) {
    std::ofstream(unit->SettingsFile(), std::ios::trunc) << "watchdog_ms = 0\n" << text;
  }
  static bool IsAbort(const std::string& line) { return line.rfind("#abort", 0) == 0; }
  static bool IsOK(const std::string& line) { return line == "<OK"; }

  void Run(const FaultRow& row) {
    SCOPED_TRACE(row.fault);
    const std::string continueFlag = row.continueAfterError ? "2" : "1";
    ASSERT_EQ(Ask("?dev/dms_CntKVSamp " + continueFlag), "<OK");
    const size_t logFrom = LogSize();
    if (row.beforeStart) Settings(*unit, row.settings);
    for (const Exchange& e : row.setup) EXPECT_EQ(Ask(e.command), e.reply) << e.command;

    Recording r;
    module->WriteBuffer(0, ">in/sampler/start\n", 18);
    RecordInto(r, 5000, IsOK);
    if (row.records) {
      // Long enough before the fault that an early abort still leaves a run of
      // values to place in what was sent.
      RecordInto(r, 700);
      if (!row.beforeStart) WriteSettings(row.settings);
      RecordInto(r, row.faultMs + 400, IsAbort);
    }
    // The stop goes out while the fault stands (the status request is sent
    // only by mode changes); after an abort request the host stops too.
    if (row.endsEngine) {
      RecordInto(r, 5000, IsAbort);
    } else {
      module->WriteBuffer(0, ">in/sampler/stop\n", 17);
      RecordInto(r, 5000, IsOK);
    }
    Settings(*unit, "");
    EXPECT_EQ(r.other, row.replies);
    for (const std::string& text : row.logged) EXPECT_TRUE(Logged(logFrom, text)) << text;

    const std::vector<int64_t>& read = r.channels[kDataChannel];
    if (!row.records) {
      EXPECT_LE(read.size(), 32u);
      return;
    }
    // The send log is flushed every 100 ms.
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    EXPECT_GT(read.size(), 100u);
    const Delivery d = MatchDelivery(ReadSendLog(unit->SendLog()), read, row.maxLost);
    EXPECT_EQ(d.problem, "");
    EXPECT_LE(d.gaps, row.maxLost > 0 ? 1u : 0u) << d.lost << " frames lost";
    for (const std::string& line : d.sequenceErrors) EXPECT_TRUE(Logged(logFrom, line)) << line;
    // The channels stay in step: those of the status frames (every 20th
    // tick) stand within a fetch cycle of channel 1.
    for (const int k : {2, 8, 9, 10, 11}) {
      EXPECT_LE(r.Count(k), read.size() + 8) << "channel " << k;
      EXPECT_GE(r.Count(k) + kStatusSpacing + kFetchCycle, read.size()) << "channel " << k;
    }
    // The beat channels stand at the last beat, never ahead (and after a
    // fault that stops the measurement, no beat comes).
    for (int k = 3; k <= 7; ++k) EXPECT_LE(r.Count(k), read.size() + 8) << "channel " << k;
  }

  inline static FakeLogService logService;
};

std::string NackLine(char letter) {
  return std::string("!!! Nano driver: Nack: Type '") + letter + "', len 7 OK (Nack: error 9)";
}

std::string NackSettings(char letter) {
  return std::string("nack_letter = ") + letter + "\nnack_error = 9\n";
}

// What the host reads when the unit does not take the start of a recording.
const std::vector<std::string> kStartRefused = {
    "&U Corvane Controller Error 2: Please restart the Corvane Controller and Kymoview.",
    "#abort dmsError_NoCommunication - current device offline", "<OK", "<OK"};

TEST_F(NanoFaultTable, EveryIntactFrameArrivesAndTheUserIsTold) {
  const std::vector<std::string> quiet = {"<OK", "<OK"};
  const std::vector<FaultRow> rows = {
      {"garbage between frames",
       "garbage_every = 2\ngarbage_bytes = 7\n",
       false,
       {},
       false,
       quiet,
       {}},
      {"bad checksum",
       "bad_crc_every = 40\n",
       false,
       {},
       false,
       quiet,
       {"... Nano Driver: Bad message: Type 'd', len 15 Bad started at 0x"}},
      {"dropped data frame", "drop_every = 40\n", false, {}, false, quiet, {}},
      {"duplicated data frame", "duplicate_every = 40\n", false, {}, false, quiet, {}},
      {"no reply to the keep-alive",
       "ignore_letter = a\n",
       false,
       {},
       false,
       quiet,
       {"!!! Nano driver: no reply to 'a' message"}},
      {"no reply to the start",
       "ignore_letter = e\n",
       true,
       {},
       false,
       kStartRefused,
       {"!!! Nano driver: no reply to 'e' message"},
       0,
       0,
       false},
      {"1.5 s of silence",
       "silence_after_ms = 300\nsilence_ms = 1500\n",
       false,
       {},
       true,
       {"<OK", "&U Corvane Sampling Error 1: Please check the wrist unit connector.", "<OK"},
       {"!!! DMSWrapper error: Corvane Sampling Error 1: Please check the wrist unit connector."},
       2200},
      {"hang-up and re-plug",
       "hangup_after_ms = 300\nhangup_ms = 500\n",
       false,
       {},
       false,
       quiet,
       {"!!! Nano Driver trying port reconnect"},
       1600,
       200},
      // Every tick in its place on all channels through all three at once.
      {"drops, bad checksums and a hang-up",
       "drop_every = 97\nbad_crc_every = 101\nhangup_after_ms = 300\nhangup_ms = 500\n",
       false,
       {},
       false,
       quiet,
       {"!!! Nano Driver trying port reconnect",
        "... Nano Driver: Bad message: Type 'd', len 15 Bad started at 0x"},
       1600,
       200},
      {"device error",
       "device_error = 17\n",
       false,
       {},
       false,
       {"<OK",
        "&U Corvane Nano Error 17: Mean pressure has been below 10mmHg for 2.5s. Please check "
        "the cuff air hose.",
        "#abort nanoSignInMo_erro_MeanPressLow - Cuff mean pressure error", "<OK"},
       {"  !!! Nano Driver: mLastStatus.mError: 17",
        "!!! FinapresNanoDriver::DMS_ClearError() error 273"}},
      {"warning of no pulse",
       "device_warning = 0x80000020\n",
       false,
       {},
       true,
       {"<OK",
        "&U Corvane Sampling Error 0: No pulse detected. Maybe because finger too cold, "
        "incorrect cuff size or bad cuff position.",
        "<OK"},
       {"!!! Nano driver: mLastStatus.mWarning 0x80000020"}},
      // A Nack for each command the driver sends, in the exchange that sends it.
      {"Nack of the keep-alive 'a'", NackSettings('a'), false, {}, false, quiet, {NackLine('a')}},
      {"Nack of the status request 's'",
       NackSettings('s'),
       false,
       {},
       false,
       quiet,
       {NackLine('s')}},
      {"Nack of the PhysioCal setting 'h'",
       NackSettings('h'),
       true,
       {},
       false,
       quiet,
       {NackLine('h')}},
      {"Nack of the mode query 'm'",
       NackSettings('m'),
       true,
       {},
       false,
       kStartRefused,
       {NackLine('m')},
       0,
       0,
       false},
      {"Nack of the measurement start 'e'",
       NackSettings('e'),
       true,
       {},
       false,
       kStartRefused,
       {NackLine('e')},
       0,
       0,
       false},
      {"Nack of the pressure test 't'",
       NackSettings('t'),
       true,
       {{"?dev/dms_TestEnab 1", "<OK"}, {"?dev/dms_Test 2", "<OK"}},
       false,
       kStartRefused,
       {NackLine('t')},
       0,
       0,
       false},
      {"Nack of the HCU zeroing 'z'",
       NackSettings('z'),
       true,
       {{"?dev/dms_TestEnab 0", "<OK"}, {"?dev/dms_Start 1", "<OK"}, {"?dev/dms_ZeroHCU", "<OK"}},
       false,
       quiet,
       {NackLine('z')}},
      // Last: the engine stays disconnected after the failed connect.
      {"Nack of the version request 'v'",
       NackSettings('v'),
       true,
       {{">dev/init", "<Fail"}, {"?dev/serialnum", "="}},
       false,
       quiet,
       {NackLine('v')}},
      // Really last: a refused cuff ends the module's worker, as a refused
      // switch during a recording does.
      {"Nack of the cuff selection 'c'",
       NackSettings('c'),
       true,
       {{"?dev/dms_Start 2", "<OK"}},
       false,
       {"<OK", "#abort Corvane Controller communication error!"},
       {NackLine('c')},
       0,
       0,
       false,
       true},
  };
  Open({"?dev/dms_UseComments 1"});
  for (const FaultRow& row : rows) Run(row);
  Settings(*unit, "");
}

}  // namespace
