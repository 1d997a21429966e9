#include "recorder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "console.h"
#include "csv_writer.h"
#include "edf_writer.h"
#include "live_feed.h"
#include "live_server.h"
#include "module.h"
#include "platform/fs_path.h"
#include "plot.h"
#include "recorder_host.h"
#include "recorder_platform.h"
#include "row_assembler.h"
#include "session.h"
#include "settings.h"
#include "sim_settings.h"
#include "summary.h"
#include "support/path.h"
#include "support/utf8.h"
#include "wrist_unit_sim.h"

namespace corvane::recorder {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kReplyTimeoutMs = 5000;
// Starting and stopping the sampler waits for the device (about 1 s to stop).
constexpr int kSamplerTimeoutMs = 10000;
// The control list arrives in one go; once the port is this quiet it is all there.
constexpr int kControlListQuietMs = 250;
// At the end of a timed recording the beat channels may still trail; they get
// this long to catch up.
constexpr auto kBeatGrace = 3s;
// A timed recording that stops receiving samples ends this long after its time.
constexpr auto kOverrun = 15s;
constexpr auto kStatusInterval = 250ms;
// The live view's status is brought up to date this often.
constexpr auto kLiveStatusInterval = 100ms;
constexpr auto kFailedCheckInterval = 1s;
// How often the files are flushed and their writes checked.
constexpr auto kWriteCheckInterval = 1s;
// How often a button's wait step asks again, and for how long at most.
constexpr auto kWaitStepInterval = 250ms;
constexpr auto kWaitStepLimit = 120s;

constexpr char kCuffSwitchComment[] = "Switch to finger cuff ";

// Leaves Run with an exit code; the device is closed on the way out.
class Failure : public std::runtime_error {
 public:
  Failure(int code, const std::string& message) : std::runtime_error(message), mCode(code) {}
  int code() const { return mCode; }

 private:
  int mCode;
};

std::string Fixed(double value, int decimals) {
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string PathInFolder(const std::wstring& folder, const std::string& name) {
  return MVX::WideToUtf8((MVX::Path(folder) / MVX::Utf8ToWide(name)).Wide());
}

std::tm LocalNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return local;
}

std::string DateTimeText(const std::tm& t) {
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &t);
  return text;
}

// The file holds a recording: a CSV with a row beneath its header, an EDF+
// file with a data record, a plot (drawn only from rows).
bool HoldsRecording(const std::string& name) {
  std::error_code error;
  const auto path = platform::ToFsPath(MVX::Utf8ToWide(name));
  if (!std::filesystem::exists(path, error)) return false;
  std::ifstream file(path, std::ios::binary);
  if (name.ends_with(".csv")) {
    std::string line;
    return std::getline(file, line) && !file.eof() &&
           file.peek() != std::ifstream::traits_type::eof();
  }
  if (name.ends_with(".edf")) {
    // Anything beyond the header is data.
    std::string header(256, ' ');
    file.read(header.data(), static_cast<std::streamsize>(header.size()));
    const uintmax_t size = std::filesystem::file_size(path, error);
    try {
      return file && !error && size > std::stoull(header.substr(184, 8));
    } catch (const std::exception&) {
      return false;
    }
  }
  return true;
}

// The host framework's services live as long as the process: the module
// keeps the pointers it was given.
struct HostServices {
  Console console;
  DeviceEvents events;
  LogFile log;
  TerminalProgressService progress;
  HostkitClassObject classObject;
  // The live view's side: what it shows, and the markers from the page and
  // the terminal.
  LiveFeed live;
  MarkerQueue markers;

  HostServices(bool quiet, bool terminal)
      : console(quiet, terminal),
        progress(console, log, [] { return InterruptCount() > 0; }),
        classObject(log, progress) {
    log.WatchModuleLines(&events);
  }
};

// The module tells its back end only in the version text: the wrist unit's
// driver names its generation there.
bool IsWristUnitVersion(const std::string& version) {
  return version.find("Nano") != std::string::npos;
}

// Everything that comes back while recording, and where it goes.
class Recording final : public LineListener {
 public:
  Recording(Console& console, LogFile& log) : mConsole(console), mLog(log) {}

  // Rows, beats, messages and markers go to the live view too (null: not).
  void ShowIn(LiveFeed* live) { mLive = live; }

  void OpenOutputs(const std::string& prefix, const EdfHeader& header) {
    mPrefix = prefix;
    if (!mCsv.Open(prefix + ".csv")) {
      throw Failure(kExitFailure, "cannot write " + prefix + ".csv");
    }
    mEdf = MakeEdfWriter();
    std::string error;
    if (!mEdf->Open(prefix + ".edf", header, error)) throw Failure(kExitFailure, error);
  }

  // Rows beyond `rows` are not written.
  void SetRowLimit(uint64_t rows) { mRowLimit = rows; }
  // The end comes now: the rows the other channels have reached are written
  // once the beat channels have caught up with them.
  void EndAtRowsReceived() {
    const uint64_t reached = mRows.RowsWithoutBeats();
    if (!mRowLimit || reached < *mRowLimit) mRowLimit = reached;
  }
  void StartClock(const std::tm& started) {
    mStart = Clock::now();
    mStartText = DateTimeText(started);
  }
  const std::string& StartText() const { return mStartText; }

  // LineListener
  void OnData(std::string_view line) override {
    if (!mRows.AddLine(line)) mLog.Write("recorder: malformed data line: " + std::string(line));
    mPressureRows.store(mRows.Received(kFingerPressure));
  }
  // Finger-pressure samples received so far, for other threads.
  const std::atomic<uint64_t>& PressureRows() const { return mPressureRows; }

  void OnComment(const std::string& text) override {
    const double at = Now();
    mConsole.Message("[" + Fixed(at, 1) + " s] " + text);
    mLog.Write("recorder: comment at " + Fixed(at, 3) + " s: " + text);
    if (mEdf) mEdf->Annotate(at, text);
    if (text.rfind(kCuffSwitchComment, 0) == 0) mCuff = text.substr(sizeof kCuffSwitchComment - 1);
    mLastComment = text;
    if (mLive) mLive->Banner("message", at, text);
  }

  void OnAbort(const std::string& reason) override {
    const double at = Now();
    // Some errors send their name as a line of its own just before an abort
    // that gives no reason.
    mAbortReason = !reason.empty()            ? reason
                   : !mLastDeviceLine.empty() ? mLastDeviceLine
                   : !mLastComment.empty()    ? mLastComment
                                              : "no reason given";
    mAborted = true;
    mConsole.Error("The device aborted the recording at " + Fixed(at, 1) + " s: " + mAbortReason);
    mLog.Write("recorder: abort at " + Fixed(at, 3) + " s: " + mAbortReason);
    if (mEdf) mEdf->Annotate(at, "abort: " + mAbortReason);
    if (mLive) mLive->Banner("abort", at, mAbortReason);
  }

  // A marker, at the newest row received: an EDF+ annotation, a cell of
  // that row in the CSV, a line in the log and on the terminal.
  void AddMarker(const Marker& marker) {
    const uint64_t received = mRows.Received(kFingerPressure);
    uint64_t row = std::max<uint64_t>(received > 0 ? received - 1 : 0, mRows.RowsPopped());
    if (mRowLimit && *mRowLimit > 0) row = std::min(row, *mRowLimit - 1);
    const double at = static_cast<double>(row) / kSampleRate;
    const std::string label = MarkerLabel(marker);
    std::string& cell = mMarkerCells[row];
    cell += (cell.empty() ? "" : "; ") + label;
    if (mEdf) mEdf->Annotate(at, label);
    mLog.Write("recorder: marker at " + Fixed(at, 3) + " s from the " + marker.source + ": " +
               label);
    mConsole.Message("[" + Fixed(at, 1) + " s] " + label);
    if (mLive) mLive->AddMarker(marker, at);
  }
  // Markers whose row never came (the recording ended first).
  void ReportUnplacedMarkers() {
    for (const auto& [row, labels] : mMarkerCells) {
      mLog.Write("recorder: no row in the CSV for " + labels + " (the recording ended first)");
    }
    mMarkerCells.clear();
  }

  void OnOther(std::string_view line) override {
    if (line.empty()) return;
    mConsole.Message("device: " + std::string(line));
    mLog.Write("recorder: device line: " + std::string(line));
    mLastDeviceLine = line;
  }

  // Writes the rows that are complete.
  void DrainRows() {
    Row row;
    while (!LimitReached() && mRows.PopRow(row)) Write(row);
  }

  // After the sampler has stopped: the complete rows; when no beat came at
  // all (test modes), the rows of the other channels, beat cells empty; then
  // every further finger-pressure value received, the channels that had not
  // reached it holding their last value.
  void FinishRows() {
    if (!WriteFailure().empty()) return;
    DrainRows();
    Row row;
    if (!mRows.HasBeats() && mRows.RowsWithoutBeats() > 0) {
      mConsole.Message("No beats in this recording: the beat channels are left empty.");
      while (!LimitReached() && mRows.PopRowWithoutBeats(row)) Write(row);
    }
    uint64_t end = mRows.Received(kFingerPressure);
    if (mRowLimit) end = std::min(end, *mRowLimit);
    if (end <= mRows.RowsPopped()) return;
    // The channels that stop short, grouped by where their values run out.
    std::map<uint64_t, uint32_t> heldFrom;
    for (int i = 0; i < kChannelCount; ++i) {
      const uint64_t received = std::max(mRows.Received(i), mRows.RowsPopped());
      if (received < end && (mRows.HasBeats() || !IsBeatChannel(i))) heldFrom[received] |= 1u << i;
    }
    for (const auto& [from, channels] : heldFrom) {
      const double at = static_cast<double>(from) / kSampleRate;
      const std::string names = ChannelRanges(channels);
      mHeldChannels += (mHeldChannels.empty() ? "" : "; ") + names + " from " + Fixed(at, 3) + " s";
      if (mEdf) mEdf->Annotate(at, "values held from here: " + names);
    }
    mConsole.Message("The recording ended before every channel caught up: " + mHeldChannels +
                     "; from there a channel's CSV cells are empty and the EDF+ holds its "
                     "last value.");
    mLog.Write("recorder: values held at the end: " + mHeldChannels);
    while (mRows.RowsPopped() < end && mRows.PopRowHeld(row)) {
      Write(row);
      ++mRowsHeld;
    }
  }

  // Hands the rows written to the system and checks that they got there;
  // the first failure, or empty.
  std::string CheckWrites() {
    mCsv.Flush();
    return WriteFailure();
  }
  std::string WriteFailure() const {
    if (mCsv.Failed()) return "writing " + mPrefix + ".csv failed: " + mCsv.Error();
    if (mEdf && mEdf->Failed()) return "writing " + mPrefix + ".edf failed";
    return {};
  }

  bool LimitReached() const { return mRowLimit && mRows.RowsPopped() >= *mRowLimit; }
  // The channels other than the beat channels have reached the limit.
  bool OthersReachedLimit() const { return mRowLimit && mRows.RowsWithoutBeats() >= *mRowLimit; }
  bool Aborted() const { return mAborted; }
  const std::string& AbortReason() const { return mAbortReason; }

  void ShowStatus(bool force = false) {
    const auto& beat = mBeats.Last();
    std::string status =
        Fixed(std::chrono::duration<double>(Clock::now() - mStart).count(), 1) + " s";
    if (beat[0] != 0) {
      status += "  BP " + Fixed(ToPhysical(kSystolic, beat[0]), 0) + "/" +
                Fixed(ToPhysical(kDiastolic, beat[2]), 0) + " (" +
                Fixed(ToPhysical(kMean, beat[1]), 0) + ") mmHg  HR " +
                Fixed(ToPhysical(kHeartRate, beat[3]), 0) + " bpm";
    } else {
      status += "  BP --/-- (--) mmHg  HR -- bpm";
    }
    status += "  cuff " + mCuff;
    if (mCountdownSeen) status += ", switch in " + MinutesSeconds(mCountdown);
    status += "  rows " + std::to_string(mRows.RowsPopped());
    mConsole.Status(status, force);
  }

  // Closes the files and draws the plot; false if anything was lost.
  bool Close(const std::string& prefix, const std::string& title) {
    bool ok = CloseFiles(prefix);
    std::string error;
    if (mRowsWritten > 0) {
      if (WritePlot(prefix + ".png", mPlot, title, error)) {
        mLog.Write("recorder: plot written to " + prefix + ".png");
      } else {
        mConsole.Error("No plot: " + error);
      }
    } else {
      mConsole.Message("No rows were recorded, so there is no plot.");
    }
    return ok;
  }

  bool CloseFiles(const std::string& prefix) {
    bool ok = true;
    mWriteFailure = WriteFailure();
    if (!mCsv.Close()) {
      if (mWriteFailure.empty()) mConsole.Error("error: writing " + prefix + ".csv failed");
      ok = false;
    }
    std::string error;
    if (mEdf && mEdf->InexactValues() > 0) {
      mConsole.Error("warning: " + std::to_string(mEdf->InexactValues()) +
                     " values did not fit their EDF+ channel and were stored rounded or cut");
    }
    if (mEdf && !mEdf->Close(error)) {
      mConsole.Error("error: " + prefix + ".edf: " + error);
      ok = false;
    }
    if (mWriteFailure.empty()) mWriteFailure = WriteFailure();
    if (mEdf) {
      mEdfRows = mEdf->RowsInFile();
      mNoEdf = mEdf->Removed();
    }
    if (mNoEdf) mConsole.Message("No rows were recorded, so " + prefix + ".edf is not written.");
    mEdf.reset();
    return ok;
  }

  std::string Summary(const DeviceReport& device) const {
    OutputReport output;
    output.heldRows = mRowsHeld;
    output.heldChannels = mHeldChannels;
    output.writeFailure = mWriteFailure;
    output.csvName = mPrefix + ".csv";
    output.edfName = mPrefix + ".edf";
    output.csvRows = mCsv.Rows();
    output.edfRows = mEdfRows;
    output.noEdf = mNoEdf;
    return FormatSummary(mRows, mBeats, mRowsWritten, device, output);
  }
  // What the device told up to the end of the recording: later breaks and
  // reconnections lose nothing of it.
  void SetEventEnd(const DeviceEventCounts& counts) { mEventEnd = counts; }
  const std::optional<DeviceEventCounts>& EventEnd() const { return mEventEnd; }
  void SetGeneration(std::string generation, bool wristUnit) {
    mGeneration = std::move(generation);
    mWristUnit = wristUnit;
  }
  const std::string& Generation() const { return mGeneration; }
  // The unit's counter breaks before the sampling (a restart after an
  // update, the search) lose nothing of the recording.
  void SetEventBaseline(const DeviceEventCounts& counts) { mEventBaseline = counts; }
  const DeviceEventCounts& EventBaseline() const { return mEventBaseline; }
  bool WristUnit() const { return mWristUnit; }
  uint64_t RowsWritten() const { return mRowsWritten; }

 private:
  double Now() const { return static_cast<double>(mRows.Received(kFingerPressure)) / kSampleRate; }

  void Write(const Row& row) {
    const auto marker = mMarkerCells.find(row.index);
    if (marker != mMarkerCells.end()) {
      mCsv.Write(row, marker->second);
      mMarkerCells.erase(marker);
    } else {
      mCsv.Write(row);
    }
    if (mEdf) mEdf->Write(row);
    mPlot.Add(row);
    mBeats.Add(row);
    ++mRowsWritten;
    const int32_t countdown = row.values[kCuffSwitchCountdown];
    if (countdown != kDigitalFullScale / 4000) mCountdownSeen = true;  // 1 s: switching off
    mCountdown = ToPhysical(kCuffSwitchCountdown, countdown);
    mHcuPressure = ToPhysical(kHcuPressure, row.values[kHcuPressure]);
    if (mLive) ShowRow(row);
  }

  // The row on the live chart; a beat where the beat channels change.
  void ShowRow(const Row& row) {
    std::optional<LiveFeed::Beat> beat;
    std::array<int32_t, 5> values{};
    std::copy_n(row.values.begin() + kSystolic, values.size(), values.begin());
    if (row.Has(kSystolic) && values != mLastBeat && values[0] != 0) {
      beat = LiveFeed::Beat{ToPhysical(kSystolic, values[0]), ToPhysical(kMean, values[1]),
                            ToPhysical(kDiastolic, values[2]), ToPhysical(kHeartRate, values[3])};
    }
    mLastBeat = values;
    mLive->AddRow(row.index, row.Seconds(),
                  ToPhysical(kFingerPressure, row.values[kFingerPressure]), beat);
  }

 public:
  // The status the live view shows, as of now.
  LiveStatus LiveState(const std::optional<double>& duration) const {
    LiveStatus status;
    status.elapsed = std::chrono::duration<double>(Clock::now() - mStart).count();
    if (duration) status.remaining = std::max(0.0, *duration - status.elapsed);
    status.cuff = mCuff;
    if (mCountdownSeen) status.switchIn = mCountdown;
    status.hcuPressure = mHcuPressure;
    status.rows = mRowsWritten;
    return status;
  }

 private:
  Console& mConsole;
  LogFile& mLog;
  RowAssembler mRows;
  BeatStatistics mBeats;
  PlotData mPlot;
  std::string mPrefix;
  CsvWriter mCsv;
  std::unique_ptr<EdfWriter> mEdf;
  uint64_t mRowsHeld = 0;
  std::string mHeldChannels;
  std::string mWriteFailure;
  uint64_t mEdfRows = 0;
  bool mNoEdf = false;
  std::optional<uint64_t> mRowLimit;
  uint64_t mRowsWritten = 0;
  Clock::time_point mStart = Clock::now();
  std::string mStartText;
  bool mAborted = false;
  std::string mAbortReason;
  std::string mLastComment;
  std::string mLastDeviceLine;
  std::string mCuff = "1";
  bool mCountdownSeen = false;
  double mCountdown = 0;
  std::string mGeneration;
  bool mWristUnit = false;
  DeviceEventCounts mEventBaseline;
  std::optional<DeviceEventCounts> mEventEnd;
  std::atomic<uint64_t> mPressureRows{0};
  LiveFeed* mLive = nullptr;
  std::map<uint64_t, std::string> mMarkerCells;  // row index: the markers' labels
  std::array<int32_t, 5> mLastBeat{};
  double mHcuPressure = 0;
};

// The device module with the host's calls around it: opened up to a found
// device, and always closed again in the host's order.
class DeviceLink {
 public:
  DeviceLink(const std::string& modulePath, HostObject& host) : mModule(modulePath) {
    mModule.InitOnMainThread(&host);
    mInitialised = true;
  }
  ~DeviceLink() { Close(); }

  Module& module() { return mModule; }
  const std::string& DeviceName() const { return mDeviceName; }

  void Open() {
    mDeviceName = mModule.DeviceName();
    if (!mModule.FindDevice()) throw Failure(kExitFailure, "the module found no device");
    mFound = true;
  }

  void Close() {
    if (mFound) mModule.CloseAll();
    mFound = false;
    if (mInitialised) mModule.CleanupOnMainThread();
    mInitialised = false;
  }

 private:
  Module mModule;
  std::string mDeviceName;
  bool mInitialised = false;
  bool mFound = false;
};

// The run ends here when an update failed and no wrist unit was found
// after it: the search may have gone on to another back end, and neither the
// unit half updated nor the wrong device is recorded from.
void RefuseAfterFailedUpdate(const DeviceEventCounts& events) {
  if (events.failedUpdateReason.empty()) return;
  throw Failure(kExitFailure, "the wrist unit's firmware update on " + events.failedUpdatePort +
                                  " failed (" + events.failedUpdateReason +
                                  "); nothing was recorded. Restart the unit and try again; "
                                  "the module log holds the details");
}

// Finds the device; a firmware update on the way is reported with its
// outcome.
void OpenDevice(DeviceLink& link, HostServices& host, const std::string& wantedPort) {
  bool found = true;
  try {
    link.Open();
  } catch (const Failure&) {
    found = false;
  }
  const DeviceEventCounts events = host.events.Counts();
  if (!events.failedUpdateReason.empty()) {
    host.log.Write("recorder: firmware update on " + events.failedUpdatePort +
                   " failed: " + events.failedUpdateReason);
  }
  if (!events.updateOutcome.empty() && !events.updateFailed) {
    host.log.Write("recorder: firmware update on " + events.port +
                   " succeeded: " + events.updateOutcome);
    host.console.Message("Firmware update: " + events.updateOutcome);
  }
  if (!found) {
    RefuseAfterFailedUpdate(events);
    throw Failure(kExitFailure, wantedPort.empty()
                                    ? "the module found no device"
                                    : "the module found no wrist unit on " + wantedPort);
  }
}

void CheckInterrupt() {
  if (InterruptCount() > 0) throw Failure(kExitInterrupted, "interrupted");
}

// Sends a command line and insists on "<OK".
void Command(Session& session, const std::string& line, LogFile& log, int timeoutMs) {
  const Reply reply = session.Exchange(line, timeoutMs);
  log.Write("recorder: sent " + line + (reply.TimedOut() ? ", no reply" : ", reply " + reply.text));
  if (reply.kind == LineKind::Ok) return;
  if (reply.TimedOut()) throw Failure(kExitFailure, "the device did not answer \"" + line + "\"");
  throw Failure(kExitFailure, "the device refused \"" + line + "\"" +
                                  (reply.text.empty() ? "" : ": " + reply.text));
}

std::string Query(Session& session, const std::string& line) {
  const Reply reply = session.Exchange(line, kReplyTimeoutMs);
  return reply.kind == LineKind::Answer ? reply.text : std::string();
}

control_list::ControlList ReadControlList(Session& session, Module& module) {
  // A module without a working device answers nothing; no need to wait.
  const auto text = module.IsFailed()
                        ? std::nullopt
                        : session.ReadControlList(kReplyTimeoutMs, kControlListQuietMs);
  if (!text || text->empty()) {
    const std::string reason = module.LastError(-1);
    throw Failure(kExitFailure, "the device sent no control list" +
                                    (reason.empty() ? std::string() : ": " + reason));
  }
  try {
    return control_list::ParseControlList(*text);
  } catch (const control_list::ParseError& error) {
    throw Failure(kExitFailure,
                  std::string("the device's control list is unreadable: ") + error.what());
  }
}

// A button's steps one after the other; a wait step asks its query until
// the answer is no longer "=0". A step that fails runs the failed step.
void PressButton(Session& session, const control_list::Control& button, Console& console,
                 LogFile& log) {
  console.Message("Pressing " + button.name + " (" + DisplayLabel(button.label) + ")");
  const control_list::Item* failedStep = nullptr;
  for (const auto& item : button.items) {
    if (item.isFailed) failedStep = &item;
  }
  const auto run = [&](const control_list::Item& step) {
    for (const control_list::Action& action : step.actions) {
      if (action.verb == "command") {
        Command(session, "?" + action.args[0], log, kReplyTimeoutMs);
      } else if (action.verb == "set" && action.args.size() == 2 && !action.args[1].empty()) {
        console.Message("  " + action.args[1]);
      } else if (action.verb == "wait") {
        const std::string line = "?" + action.args[1];
        const auto deadline = Clock::now() + kWaitStepLimit;
        for (;;) {
          CheckInterrupt();
          const Reply reply = session.Exchange(line, kReplyTimeoutMs);
          if (reply.kind == LineKind::Answer && reply.text == "0" && Clock::now() < deadline) {
            std::this_thread::sleep_for(kWaitStepInterval);
            continue;
          }
          log.Write("recorder: " + line + " answered " + reply.text);
          if (reply.kind == LineKind::Answer && reply.text == "1") break;
          if (reply.kind == LineKind::Error) console.Error("  " + reply.text);
          return false;
        }
      }
    }
    return true;
  };
  for (const auto& item : button.items) {
    if (item.isFailed) continue;
    if (!run(item)) {
      if (failedStep != nullptr) run(*failedStep);
      return;
    }
  }
}

void ApplySettings(Session& session, const control_list::ControlList& list, const Options& options,
                   Console& console, LogFile& log) {
  std::vector<Choice> plan;
  std::vector<const control_list::Control*> buttons;
  try {
    plan = PlanSettings(list, options.settings);
    for (const std::string& name : options.presses) buttons.push_back(&FindButton(list, name));
  } catch (const SettingError& error) {
    throw Failure(kExitUsage, error.what());
  }
  const size_t defaults = plan.size() - options.settings.size();
  for (size_t i = 0; i < plan.size(); ++i) {
    const Choice& choice = plan[i];
    const std::string what = choice.control->name + " = " + DisplayLabel(choice.item->label);
    log.Write("recorder: setting " + what + (i < defaults ? " (default)" : ""));
    if (i >= defaults) console.Message("Setting " + what);
    for (const std::string& line : CommandLines(*choice.item)) {
      CheckInterrupt();
      Command(session, line, log, kReplyTimeoutMs);
    }
  }
  for (const control_list::Control* button : buttons) PressButton(session, *button, console, log);
}

int ListSettings(Session& session, Module& module) {
  const std::string listing = DescribeSettings(ReadControlList(session, module));
  std::fwrite(listing.data(), 1, listing.size(), stdout);
  return kExitOk;
}

int Record(const Options& options, HostServices& host, DeviceLink& link, Session& session,
           Recording& recording) {
  Console& console = host.console;
  LogFile& log = host.log;
  Module& module = link.module();

  if (!module.Initialise()) {
    std::string reason = module.LastError();
    if (reason.empty()) reason = module.LastError(-1);
    throw Failure(kExitFailure, "the device could not be started" +
                                    (reason.empty() ? std::string() : ": " + reason));
  }
  const uint32_t id = module.UniqueId();
  const std::string serial = Query(session, "?dev/serialnum");
  const std::string version = Query(session, "?dev/version");
  const std::string device = link.DeviceName().empty() ? "Corvane" : link.DeviceName();
  const bool wristUnit = IsWristUnitVersion(version);
  const std::string port = wristUnit ? host.events.Counts().port : std::string();
  recording.SetGeneration(wristUnit ? "Nano (Vive Zore wrist unit)" : "Controller", wristUnit);
  if (!wristUnit) RefuseAfterFailedUpdate(host.events.Counts());
  // The search goes on to the machine's other ports when the one asked for
  // has no unit; a unit found elsewhere is not the one asked for either.
  // (Windows names the port "COMn" to the user and "\\.\COMn" to the system.)
  if (wristUnit && !options.port.empty() &&
      (port.size() < options.port.size() ||
       port.compare(port.size() - options.port.size(), options.port.size(), options.port) != 0)) {
    throw Failure(kExitFailure, "no wrist unit answered on " + options.port +
                                    " (the module found one on " + port + ")");
  }
  if (!wristUnit && (!options.port.empty() || options.wristUnitSim)) {
    // The module goes on to the Controller library when no wrist unit
    // answers; that is not the recording asked for.
    throw Failure(kExitFailure, "no wrist unit answered" +
                                    (options.port.empty() ? std::string() : " on " + options.port) +
                                    " (the module found a Controller instead)");
  }
  if (wristUnit) {
    const std::string firmware = FirmwareImageLine(host.events.Counts(), version);
    console.Message(firmware);
    log.Write("recorder: " + firmware);
  }
  const std::string where = recording.Generation() + (port.empty() ? "" : " on " + port);
  console.Message("Device: " + device + ", serial " + (serial.empty() ? "unknown" : serial) +
                  ", version " + (version.empty() ? "unknown" : version) + ", id " +
                  std::to_string(id));
  console.Message("Generation: " + where);
  host.live.SetDevice({recording.Generation(), port, serial.empty() ? "unknown" : serial,
                       version.empty() ? "unknown" : version});
  log.Write("recorder: device " + device + ", serial " + serial + ", version " + version + ", id " +
            std::to_string(id) + ", generation " + where);
  CheckInterrupt();

  const control_list::ControlList list = ReadControlList(session, module);
  ApplySettings(session, list, options, console, log);
  CheckInterrupt();

  if (Query(session, "?dev/startwarning") == "1") {
    std::string warning = ControlText(list, "WarningText");
    if (warning.empty()) warning = "Sampling will inflate the finger cuffs.";
    console.Message("Warning: " + warning);
    log.Write("recorder: warning shown: " + warning);
  }

  const std::tm started = LocalNow();
  EdfHeader header;
  header.equipment = device + " " + serial;
  header.year = started.tm_year + 1900;
  header.month = started.tm_mon + 1;
  header.day = started.tm_mday;
  header.hour = started.tm_hour;
  header.minute = started.tm_min;
  header.second = started.tm_sec;
  recording.OpenOutputs(options.out, header);
  if (options.duration) {
    recording.SetRowLimit(static_cast<uint64_t>(std::llround(*options.duration * kSampleRate)));
  }
  CheckInterrupt();

  recording.SetEventBaseline(host.events.Counts());
  host.events.SetTimeline(&recording.PressureRows());
  Command(session, "?in/sampler/start", log, kSamplerTimeoutMs);
  recording.StartClock(started);
  log.Write("recorder: recording started " + DateTimeText(started));
  KeyInput keys;
  host.markers.SetOpen(true);
  console.Message((options.duration ? "Recording for " + Fixed(*options.duration, 1) +
                                          " s (Ctrl-C stops earlier)"
                                    : std::string("Recording until Ctrl-C")) +
                  (keys.Active() ? "; m adds a marker ..." : " ..."));
  // The markers from the page and the terminal, in the order they came.
  const auto takeMarkers = [&] {
    for (int key = keys.Poll(); key >= 0; key = keys.Poll()) {
      if (key == 'm' || key == 'M') host.markers.Add("", "terminal");
    }
    for (const Marker& marker : host.markers.Take()) recording.AddMarker(marker);
  };
  const auto showLiveStatus = [&] {
    LiveStatus status = recording.LiveState(options.duration);
    const DeviceEventCounts events = host.events.Counts();
    const DeviceEventCounts& before = recording.EventBaseline();
    status.lostFrames = events.lostFrames - before.lostFrames;
    status.gaps = events.gaps.size() - before.gaps.size();
    host.live.SetStatus(status);
  };

  const auto start = Clock::now();
  auto lastStatus = start - kStatusInterval;
  auto lastLiveStatus = start - kLiveStatusInterval;
  auto lastFailedCheck = start;
  auto lastWriteCheck = start;
  std::optional<Clock::time_point> graceEnd;
  bool writeFailed = false;
  int interruptsSeen = 0;
  bool engineStopped = false;
  for (;;) {
    // Up to a second's lines at a time, then the rows and the status.
    for (int lines = 0; lines < 4 * kChannelCount && session.Pump(lines == 0 ? 20 : 0); ++lines) {
    }
    takeMarkers();
    recording.DrainRows();
    const auto now = Clock::now();
    if (options.live && now - lastLiveStatus >= kLiveStatusInterval) {
      lastLiveStatus = now;
      showLiveStatus();
    }
    if (recording.Aborted()) break;
    if (InterruptCount() > interruptsSeen) {
      if (interruptsSeen++ > 0) break;  // a second Ctrl-C: at once
      recording.EndAtRowsReceived();
      console.EndStatus();
      console.Message("Ctrl-C: finishing the last beat (Ctrl-C again stops at once) ...");
    }
    if (recording.LimitReached()) break;
    if (recording.OthersReachedLimit()) {
      if (!graceEnd) graceEnd = now + kBeatGrace;
      if (now >= *graceEnd) break;
    }
    if (options.duration &&
        now - start > std::chrono::duration<double>(*options.duration) + kOverrun) {
      console.Error("The device stopped delivering samples; the recording ends early.");
      break;
    }
    if (now - lastWriteCheck >= kWriteCheckInterval) {
      lastWriteCheck = now;
      if (const std::string failure = recording.CheckWrites(); !failure.empty()) {
        // What reached the files stays; the device is stopped as at Ctrl-C.
        console.EndStatus();
        console.Error("error: " + failure + "; the recording stops here");
        log.Write("recorder: " + failure);
        writeFailed = true;
        break;
      }
    }
    if (now - lastFailedCheck >= kFailedCheckInterval) {
      lastFailedCheck = now;
      if (module.IsFailed()) {
        engineStopped = true;
        break;
      }
    }
    if (now - lastStatus >= kStatusInterval) {
      lastStatus = now;
      recording.ShowStatus();
    }
  }
  // A marker accepted up to here is written; later ones are refused.
  host.markers.SetOpen(false);
  takeMarkers();
  recording.SetEventEnd(host.events.Counts());
  recording.ShowStatus(true);
  console.EndStatus();

  int code = kExitOk;
  if (engineStopped || module.IsFailed()) {
    const std::string reason = module.LastError();
    console.Error("The device module stopped working" + (reason.empty() ? "" : ": " + reason));
    log.Write("recorder: the module stopped: " + reason);
    code = kExitAborted;
  } else {
    const Reply reply = session.Exchange("?in/sampler/stop", kSamplerTimeoutMs);
    log.Write("recorder: sent ?in/sampler/stop, reply " +
              (reply.TimedOut() ? std::string("none") : reply.text));
    if (reply.kind != LineKind::Ok) console.Error("The device did not confirm the stop.");
  }
  if (recording.Aborted()) code = kExitAborted;
  if (writeFailed) code = kExitFailure;
  recording.FinishRows();
  recording.ReportUnplacedMarkers();
  if (options.live) showLiveStatus();
  log.Write("recorder: recording ended, " + std::to_string(recording.RowsWritten()) + " rows");
  return code;
}

}  // namespace

int Run(const Options& options) {
  if (options.command == Options::Command::Help) {
    std::fputs(UsageText().c_str(), stdout);
    return kExitOk;
  }
  // Lives to the end of the process: the module may hold on to its services.
  static HostServices host(options.quiet, StdoutIsTerminal());
  Console& console = host.console;
  InstallInterruptHandler();

  std::string simSettings;
  if (!options.simSettings.empty()) {
    std::error_code error;
    const auto path =
        std::filesystem::absolute(platform::ToFsPath(MVX::Utf8ToWide(options.simSettings)), error);
    if (!std::filesystem::is_regular_file(path, error)) {
      console.Error("error: no such settings file: " + options.simSettings);
      return kExitUsage;
    }
    simSettings = MVX::WideToUtf8(platform::FromFsPath(path));
    // What the simulator would ignore is a mistake in the command, found
    // before anything starts.
    std::ifstream file(path, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    for (std::string problem : options.wristUnitSim ? SimulatorSettingsProblems(text)
                                                    : sim::ParseSimSettings(text).problems) {
      if (problem.ends_with(" ignored")) problem.resize(problem.size() - 8);
      console.Error("error: --sim-settings " + options.simSettings + ": " + problem);
      return kExitUsage;
    }
    // Without --wrist-unit-sim the settings are the simulated Controller's.
    if (!options.wristUnitSim) SetEnvironment("CORVANE_SIM_SETTINGS", simSettings);
  }
  const std::string modulePath =
      options.module.empty() ? PathInFolder(MVX::Path().Wide(), "Corvane.kvwdll") : options.module;
  const bool recording = options.command == Options::Command::Record;
  // A typo in a setting is found before the module is loaded: loading it may
  // cost a firmware update.
  if (const std::string problem = SettingsProblem(options.settings, options.presses);
      recording && !problem.empty()) {
    console.Error("error: " + problem);
    return kExitUsage;
  }
  if (recording && !options.overwrite) {
    // An earlier recording is never replaced without being asked for; files
    // of a run that recorded no row are no recording.
    std::string existing;
    for (const char* extension : {".csv", ".edf", ".png"}) {
      const std::string name = options.out + extension;
      if (!HoldsRecording(name)) continue;
      existing += (existing.empty() ? "" : ", ") + name;
    }
    if (!existing.empty()) {
      console.Error("error: " + existing +
                    " already exist(s): choose another --out, or give --overwrite to replace "
                    "the earlier recording");
      return kExitUsage;
    }
  }
  if (recording && options.live && !LiveServer::Available()) {
    console.Error("error: --live: the live view is not available in this build of the recorder");
    return kExitUsage;
  }
  if (recording && !host.log.Open(options.out + ".log", !options.overwrite)) {
    console.Error("error: cannot write the recording to " + options.out +
                  ".*: the folder does not exist or is not writable");
    return kExitFailure;
  }
  // The view is there before the device is looked for: a firmware update on
  // the way shows in it.
  std::unique_ptr<LiveServer> liveServer;
  if (recording && options.live) {
    try {
      liveServer = std::make_unique<LiveServer>(
          host.live, host.markers, LiveServerOptions{options.liveAddress, options.livePort, {}});
    } catch (const LiveServerError& error) {
      console.Error(std::string("error: --live: ") + error.what());
      host.log.Write(std::string("recorder: no live view: ") + error.what());
      host.log.Close();
      return kExitFailure;
    }
    host.progress.ShowIn(&host.live);
    if (options.liveAddress != "127.0.0.1") {
      console.Error("warning: the live view listens on " + options.liveAddress +
                    ": whoever can reach this machine there and has the key can watch the "
                    "recording and add markers");
    }
    // Printed even when quiet: it was asked for.
    std::printf("Live view: %s\n", liveServer->Url().c_str());
    std::fflush(stdout);
    host.log.Write("recorder: live view on " + options.liveAddress + " port " +
                   std::to_string(liveServer->Port()));
  }
  // The simulator is started, and the port named, before the module is
  // loaded: the module lists the ports from the environment.
  std::unique_ptr<SimulatedWristUnit> simulator;
  std::string wantedPort = options.port;
  if (options.wristUnitSim) {
    try {
      simulator = std::make_unique<SimulatedWristUnit>(
          PathInFolder(MVX::Path().Wide(), SimulatorProgramName()), simSettings);
    } catch (const SimulatorError& error) {
      console.Error(std::string("error: ") + error.what());
      host.log.Write(std::string("recorder: ") + error.what());
      host.log.Close();
      return kExitFailure;
    }
    wantedPort = simulator->Port();
    console.Message("Simulated wrist unit started on " + wantedPort);
    host.log.Write("recorder: simulated wrist unit started on " + wantedPort);
  }
  if (!options.port.empty()) {
    // Said first: the module's search would go on to other devices and
    // leave the reason behind.
    if (const std::string problem = PortOpenProblem(options.port); !problem.empty()) {
      console.Error("error: cannot use the port " + options.port + ": " + problem);
      host.log.Write("recorder: port " + options.port + ": " + problem);
      host.log.Close();
      return kExitFailure;
    }
  }
  // Loading the module may update the unit's firmware: a Ctrl-C until then
  // stops at once.
  if (InterruptCount() > 0) {
    console.Error("Interrupted before the recording started.");
    host.log.Write("recorder: interrupted before the module was loaded");
    host.log.Close();
    return kExitInterrupted;
  }
  if (!wantedPort.empty()) {
    SetEnvironment("CORVANE_SERIAL_PORTS", wantedPort);
    console.Message("Looking for the wrist unit on " + wantedPort + " ...");
  }
  RegisterHostkit(&host.classObject);

  int code = kExitOk;
  Recording record(console, host.log);
  if (liveServer) record.ShowIn(&host.live);
  std::string endText;  // the summary, or why there is none
  bool recorded = false;
  try {
    RecorderHostObject hostObject;
    DeviceLink link(modulePath, hostObject);
    OpenDevice(link, host, wantedPort);
    Session session(link.module(), record);
    if (recording) {
      code = Record(options, host, link, session, record);
      recorded = true;
    } else {
      code = ListSettings(session, link.module());
    }
    link.Close();
  } catch (const ModuleError& error) {
    console.Error(std::string("error: ") + error.what());
    endText = error.what();
    code = kExitFailure;
  } catch (const Failure& failure) {
    if (failure.code() == kExitInterrupted) {
      console.Error("Interrupted before the recording started.");
    } else {
      console.Error(std::string("error: ") + failure.what());
    }
    endText = failure.what();
    host.log.Write(std::string("recorder: ") + failure.what());
    code = failure.code();
  }
  // However the recording ended, the page's markers are refused from here.
  host.markers.SetOpen(false);
  host.events.SetTimeline(nullptr);
  if (recorded) {
    if (!record.Close(options.out, "Corvane recording, " + record.StartText())) code = kExitFailure;
    const DeviceEventCounts events = record.EventEnd().value_or(host.events.Counts());
    DeviceReport device;
    device.generation = record.Generation();
    device.wristUnit = record.WristUnit();
    if (device.wristUnit) device.port = events.port;
    const DeviceEventCounts& before = record.EventBaseline();
    device.sequenceErrors = events.sequenceErrors - before.sequenceErrors;
    device.lostFrames = events.lostFrames - before.lostFrames;
    for (size_t i = before.gaps.size(); i < events.gaps.size(); ++i) {
      device.gaps.emplace_back(static_cast<double>(events.gaps[i].row) / kSampleRate,
                               events.gaps[i].frames);
    }
    device.repeatedFrames = events.repeatedFrames - before.repeatedFrames;
    device.reconnects = events.reconnects - before.reconnects;
    const std::string summary = record.Summary(device);
    endText = endText.empty() ? summary : endText + "\n\n" + summary;
    host.log.Write(summary);
    if (!console.Quiet()) std::fputs(summary.c_str(), stdout);
  } else {
    record.CloseFiles(options.out);
  }
  if (liveServer) {
    host.live.End(code == kExitOk            ? "recorded"
                  : code == kExitAborted     ? "stopped by the device"
                  : code == kExitInterrupted ? "interrupted before the recording started"
                                             : "failed",
                  endText);
    liveServer->Stop();
    host.progress.ShowIn(nullptr);
  }
  UnregisterHostkit();
  if (simulator) {
    simulator.reset();
    host.log.Write("recorder: simulated wrist unit stopped");
  }
  host.log.Close();
  return code;
}

}  // namespace corvane::recorder
