// A long recording through the real module from each simulated device, with
// faults injected now and then, that checks at the end what a host running
// for hours depends on:
//   - every data value the simulator sent intact is in the host's recording,
//     in order, and nothing else is;
//   - resident memory (VmRSS) does not grow after the first minute;
//   - no descriptor and no thread is left behind once CloseAll has run and
//     the module is unloaded.
// Linux only: the simulated wrist unit is a native program on a
// pseudo-terminal, and memory and descriptors are read from /proc.
//
// Usage: soak_bench [controller|wrist]   (default both, one after the other)
// SOAK_MINUTES sets the minutes per device (default 2; fractions allowed).
// The wrist unit's send log and the module log are kept in the scratch folder
// (named at the end) when its data check fails, or always with SOAK_KEEP set.
// Exit code 0 when every check passed, 1 when one failed, 2 when the run could
// not be set up.
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "fake_host.h"
#include "hostkit_registration.h"
#include "module_exports.h"
#include "sim_wave.h"
#include "soak_match.h"
#include "vivezore_process.h"

namespace corvane::bench {
namespace {

using Clock = std::chrono::steady_clock;  // CLOCK_MONOTONIC, as the wrist unit's send log

constexpr double kRssPeriodS = 2.0;
// Resident memory may move by allocator noise (a trimmed or grown heap top,
// a thread's arena) but not by a steady leak: the final figure may exceed the
// one at the first minute by at most this much, whatever the run's length.
constexpr long kRssToleranceKiB = 1024;
constexpr int kSamplesPerSecond = 200;
constexpr int32_t kScale = 32000 / 400;  // channel 1: mmHg onto the full scale

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

double Seconds(int64_t ns) { return static_cast<double>(ns) / 1e9; }

long ReadRssKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int CountEntries(const char* folder) {
  DIR* dir = opendir(folder);
  if (dir == nullptr) return -1;
  int count = 0;
  while (const dirent* entry = readdir(dir)) {
    if (entry->d_name[0] != '.') ++count;
  }
  closedir(dir);
  return count - 1;  // the listing's own descriptor or nothing; counted alike before and after
}

int CountDescriptors() { return CountEntries("/proc/self/fd"); }
int CountThreads() { return CountEntries("/proc/self/task") + 1; }

// Resident memory over a phase, sampled every kRssPeriodS.
class RssTrace {
 public:
  explicit RssTrace(double phaseSeconds) {
    samples_.reserve(static_cast<size_t>(phaseSeconds / kRssPeriodS) + 16);
    start_ = NowNs();
  }
  void Poll() {
    const int64_t now = NowNs();
    if (!samples_.empty() && Seconds(now - samples_.back().ns) < kRssPeriodS) return;
    if (samples_.size() == samples_.capacity()) return;  // never grow while measuring
    samples_.push_back({now, ReadRssKiB()});
  }
  // The first minute is warm-up (caches, heap, the device's queues filling);
  // a run shorter than two minutes takes its first half instead.
  bool Check(const char* device) const {
    if (samples_.size() < 3) {
      std::printf("soak %s rss: too few samples\n", device);
      return false;
    }
    const double total = Seconds(samples_.back().ns - start_);
    const double warmUp = std::min(60.0, total / 2);
    size_t base = 0;
    while (base + 1 < samples_.size() && Seconds(samples_[base].ns - start_) < warmUp) ++base;
    // Least-squares slope over the samples after the warm-up.
    double n = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (size_t k = base; k < samples_.size(); ++k) {
      const double x = Seconds(samples_[k].ns - start_) / 60.0;
      const auto y = static_cast<double>(samples_[k].kib);
      n += 1;
      sx += x;
      sy += y;
      sxx += x * x;
      sxy += x * y;
    }
    const double slope =
        n > 1 && n * sxx != sx * sx ? (n * sxy - sx * sy) / (n * sxx - sx * sx) : 0;
    const long first = samples_[base].kib, last = samples_.back().kib;
    long peak = 0;
    for (const Sample& s : samples_) peak = std::max(peak, s.kib);
    const bool ok = last - first <= kRssToleranceKiB;
    std::printf(
        "soak %s rss_first_minute_kib=%ld rss_final_kib=%ld rss_peak_kib=%ld"
        " rss_slope_kib_per_min=%.1f tolerance_kib=%ld samples=%zu %s\n",
        device, first, last, peak, slope, kRssToleranceKiB, samples_.size(), ok ? "PASS" : "FAIL");
    return ok;
  }

 private:
  struct Sample {
    int64_t ns;
    long kib;
  };
  int64_t start_ = 0;
  std::vector<Sample> samples_;
};

// The finger-pressure values the host read, kept in memory touched before
// the run so that the recording itself does not show as growth.
class ValueLog {
 public:
  explicit ValueLog(double seconds)
      : values_(static_cast<size_t>(seconds * kSamplesPerSecond * 1.25) + 20000, 0) {}
  void Add(int32_t v) {
    if (count_ < values_.size()) values_[count_] = v;
    ++count_;
  }
  bool Overflowed() const { return count_ > values_.size(); }
  size_t Count() const { return std::min(count_, values_.size()); }
  std::span<const int32_t> Since(size_t from) const {
    return {values_.data() + from, Count() - from};
  }

 private:
  std::vector<int32_t> values_;
  size_t count_ = 0;
};

// The module as a host drives it: commands, and every line read sorted into
// finger-pressure values and what the user would be told.
class Host {
 public:
  Host(ValueLog& values, RssTrace& rss) : values_(values), rss_(rss), line_(65536) {}

  bool Open() {
    if (!module_.Load()) {
      std::fprintf(stderr, "Corvane.kvwdll must stand beside this program\n");
      return false;
    }
    uint32_t value = 0;
    return module_.FindDevice(&value) == 1 && module_.Initialise(0) == 1;
  }
  void Close() {
    module_.CloseAll();
    module_.library.Close();
  }

  // Sends a command and reads until its "<OK" or `timeoutS` pass.
  bool Command(const char* text, double timeoutS = 15) {
    module_.WriteBuffer(0, text, static_cast<int32_t>(std::strlen(text)));
    const int64_t until = NowNs() + static_cast<int64_t>(timeoutS * 1e9);
    while (NowNs() < until) {
      if (ReadOne() && std::strcmp(line_.data(), "<OK") == 0) return true;
    }
    return false;
  }
  void ReadUntil(int64_t untilNs) {
    while (NowNs() < untilNs) ReadOne();
  }

  int64_t lastValueNs = 0;  // when the last finger-pressure line was read
  size_t notices = 0;       // "&U", "^" and "#abort" lines
  bool abortRequested = false;

 private:
  bool ReadOne() {
    rss_.Poll();
    if (module_.ReadLine(0, line_.data(), static_cast<int32_t>(line_.size()), 100) != 1) {
      return false;
    }
    const char* c = line_.data();
    if (c[0] == '+' && c[1] == '1' && c[2] == ',') {
      lastValueNs = NowNs();
      for (c += 2; *c == ',';) {
        char* next = nullptr;
        values_.Add(static_cast<int32_t>(std::strtol(c + 1, &next, 10)));
        c = next;
      }
    } else if (c[0] == '&' || c[0] == '^' || c[0] == '#') {
      ++notices;
      if (std::strncmp(c, "#abort", 6) == 0) abortRequested = true;
      if (notices <= 40) std::printf("  host told: %s\n", c);
    }
    return true;
  }

  ModuleExports module_;
  ValueLog& values_;
  RssTrace& rss_;
  std::vector<char> line_;
};

struct Resources {
  int fds = CountDescriptors();
  int threads = CountThreads();
};

bool CheckResources(const char* device, const Resources& before) {
  const Resources after;
  const bool ok = after.fds == before.fds && after.threads == before.threads;
  std::printf("soak %s fds_before=%d fds_after=%d threads_before=%d threads_after=%d %s\n", device,
              before.fds, after.fds, before.threads, after.threads, ok ? "PASS" : "FAIL");
  return ok;
}

std::filesystem::path ScratchFolder(const char* what) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("corvane_soak_" + std::string(what) + "_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return dir;
}

// The host framework's log service, writing each module log line to a file
// with the time it arrived (the send log's clock), so that a lost frame can
// be set beside what the module said about it. Nothing is kept in memory.
class FileLogService final : public HostLogService {
 public:
  explicit FileLogService(const std::filesystem::path& path)
      : file_(std::fopen(path.c_str(), "w")) {}
  ~FileLogService() { Close(); }
  void Close() {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
  }
  FileLogService(const FileLogService&) = delete;
  FileLogService& operator=(const FileLogService&) = delete;

  int32_t CORVANE_STDCALL QueryInterface(const Guid& iid, void** out) override {
    *out = testing::SameGuid(iid, kLogServiceId) ? this : nullptr;
    return *out != nullptr ? 0 : -1;
  }
  uint32_t CORVANE_STDCALL AddRef() override { return 1; }
  uint32_t CORVANE_STDCALL Release() override { return 1; }
  int32_t CORVANE_STDCALL WriteLine(const wchar_t* line, uint32_t*) override {
    std::lock_guard lock(mutex_);
    if (line == nullptr || file_ == nullptr) return 0;
    std::fprintf(file_, "%.3f %ls\n", Seconds(NowNs()), line);
    return 0;
  }

 private:
  std::mutex mutex_;
  std::FILE* file_;
};

// ---- The simulated Controller ----------------------------------------------

// What one measurement of the Controller soak injects. Times are from the
// measurement's start, as the simulator counts them.
struct ControllerFault {
  const char* name;
  std::string settings;
  uint32_t endsAtMs;  // the recording ends here, by the device or the module; 0: it runs on
  bool mustTellUser;  // the host must be asked to abort, with the reason
};

std::vector<ControllerFault> ControllerFaults(uint32_t segmentMs) {
  const uint32_t half = segmentMs / 2, third = segmentMs / 3;
  return {
      {"clean", "", 0, false},
      {"warning", "warning_code = 3\nwarning_at_ms = " + std::to_string(third) + "\n", 0, false},
      {"error that stops measuring",
       "error_code = 13\nerror_at_ms = " + std::to_string(half) + "\nerror_stops = 1\n", half,
       true},
      // The device would go on, but the module gives the recording up at
      // this error ("#abort"): the values end there too.
      {"error measuring goes on with",
       "error_code = 17\nerror_at_ms = " + std::to_string(third) + "\nerror_stops = 0\n", third,
       true},
      {"slow stop", "stop_delay_ms = 800\n", 0, false},
  };
}

// The wave the simulator measures from each measurement start: the same
// seed and circulation give the same values.
std::vector<int32_t> ControllerWave(size_t count, bool physioCal) {
  sim::ArterialWave wave;
  wave.Start({70.0, 122.0, 75.0, 1});
  std::vector<int32_t> values(count);
  uint64_t stamp = 0;
  for (int32_t& v : values) {
    v = wave.Next(stamp, physioCal).pressure * kScale;
    stamp += 50000;
  }
  return values;
}

bool SoakController(double seconds) {
  std::printf("soak controller: %.1f minutes, simulated Controller library in Devices/\n",
              seconds / 60);
  const Resources before;
  const std::filesystem::path dir = ScratchFolder("controller");
  const std::filesystem::path settingsPath = dir / "controller.txt";
  const std::string base = "seed = 1\nheart_rate = 70\nsystolic = 122\ndiastolic = 75\n";
  std::ofstream(settingsPath) << base;
  setenv("CORVANE_SIM_SETTINGS", settingsPath.c_str(), 1);
  unsetenv("CORVANE_SERIAL_PORTS");

  bool ok = true;
  {
    RssTrace rss(seconds);
    ValueLog values(seconds);
    Host host(values, rss);
    if (!host.Open()) {
      std::printf("soak controller: the module did not open the simulated Controller\n");
      return false;
    }
    const uint32_t segmentMs = seconds >= 100 ? 20000 : 10000;
    const std::vector<ControllerFault> faults = ControllerFaults(segmentMs);
    const std::vector<int32_t> waves[2] = {ControllerWave(segmentMs / 5 + 2000, true),
                                           ControllerWave(segmentMs / 5 + 2000, false)};
    const int64_t end = NowNs() + static_cast<int64_t>(seconds * 1e9);
    size_t segments = 0, failed = 0, totalValues = 0;
    for (size_t s = 0; NowNs() < end; ++s) {
      const ControllerFault& fault = faults[s % faults.size()];
      const std::string text = base + fault.settings;
      const std::filesystem::path fresh = dir / "controller.txt.new";
      std::ofstream(fresh) << text;
      std::filesystem::rename(fresh, settingsPath);
      host.ReadUntil(NowNs() + 300'000'000);  // the library re-reads within 100 ms

      const size_t from = values.Count();
      const size_t noticesBefore = host.notices;
      host.abortRequested = false;
      const int64_t startSent = NowNs();
      if (!host.Command("?in/sampler/start\n")) {
        std::printf("soak controller: the sampler did not start\n");
        ok = false;
        break;
      }
      const int64_t started = NowNs();
      host.ReadUntil(started + static_cast<int64_t>(segmentMs) * 1'000'000);
      const int64_t stopSent = NowNs();
      host.Command("?in/sampler/stop\n");
      const int64_t stopped = NowNs();

      // Every value of a measurement, from its first sample on: the engine
      // empties the queues before it starts the device, so nothing is missed.
      const std::span<const int32_t> got = values.Since(from);
      totalValues += got.size();
      StreamMatch m = MatchStream(waves[0], got);
      if (!m.anchored || !m.lost.empty()) m = MatchStream(waves[1], got);
      const bool paired = m.anchored && m.skippedHead == 0 && m.lost.empty() && m.unmatched == 0;
      // How many the device made: until the injected error (give or take a
      // worker pass), or between the host's start and stop (the stop itself
      // empties what is still queued).
      size_t fewest = 0, most = 0;
      if (fault.endsAtMs != 0) {
        fewest = fault.endsAtMs / 5 - 10;
        most = fault.endsAtMs / 5 + 10;
      } else {
        fewest = static_cast<size_t>(Seconds(stopSent - started) * kSamplesPerSecond) - 100;
        most = static_cast<size_t>(Seconds(stopped - startSent) * kSamplesPerSecond) + 2;
      }
      const bool counted = got.size() >= fewest && got.size() <= most;
      // The error must reach the host: the "#abort" line carries its text.
      const bool told = !fault.mustTellUser || host.abortRequested;
      const bool segmentOk = paired && counted && told;
      std::printf(
          "  measurement %zu (%s): %zu values, expected %zu to %zu; paired with the"
          " simulator's wave %zu, lost %zu, not from the wave %zu; user told %zu %s\n",
          s + 1, fault.name, got.size(), fewest, most, m.matched, m.lost.size(), m.unmatched,
          host.notices - noticesBefore, segmentOk ? "ok" : "FAILED");
      ++segments;
      if (!segmentOk) ++failed;
    }
    if (values.Overflowed()) {
      std::printf("soak controller: more values than the run could make\n");
      ok = false;
    }
    std::printf("soak controller measurements=%zu failed=%zu values=%zu notices=%zu %s\n", segments,
                failed, totalValues, host.notices, failed == 0 && ok ? "PASS" : "FAIL");
    ok = ok && failed == 0 && segments > 0;
    host.Close();
    ok = rss.Check("controller") && ok;
  }
  std::filesystem::remove_all(dir);
  unsetenv("CORVANE_SIM_SETTINGS");
  return CheckResources("controller", before) && ok;
}

// ---- The simulated wrist unit ------------------------------------------------

// A stretch in which the line was down: frames written just before it sat
// in the pseudo-terminal nobody read again.
struct Outage {
  int64_t fromNs;
  int64_t untilNs;
};

bool SoakWristUnit(double seconds) {
  std::printf("soak wrist unit: %.1f minutes, sim-vivezore on a pseudo-terminal\n", seconds / 60);
  const Resources before;
  const std::filesystem::path dir = ScratchFolder("wrist");
  // No data frames while not measuring, and no watchdog: every 'd' frame in
  // the send log belongs to the recording.
  const std::string base = "watchdog_ms = 0\nstream_idle = 0\n";
  VivezoreProcess simulator(dir, base, false);
  if (!simulator.Running()) {
    std::printf("soak wrist unit: sim-vivezore did not start (%s)\n", SIM_VIVEZORE_EXE);
    return false;
  }
  // Each fault is on for 8 s of every 15; the hang-ups are short, as a
  // loose plug is.
  struct WristFault {
    const char* name;
    const char* settings;
    uint32_t hangupMs;
  };
  const WristFault faults[] = {
      {"garbage between frames", "garbage_every = 29\ngarbage_bytes = 7\n", 0},
      {"bad checksums", "bad_crc_every = 31\n", 0},
      {"dropped frames", "drop_every = 37\n", 0},
      {"duplicated frames", "duplicate_every = 41\n", 0},
      {"hang-up 600 ms", "hangup_ms = 600\nhangup_after_ms = 0\n", 600},
      {"all of garbage, bad checksums, drops and duplicates",
       "garbage_every = 23\ngarbage_bytes = 11\nbad_crc_every = 43\ndrop_every = 47\n"
       "duplicate_every = 53\n",
       0},
      {"hang-up 900 ms", "hangup_ms = 900\nhangup_after_ms = 0\n", 900},
  };
  constexpr double kFaultPeriodS = 15, kFaultOnS = 8;

  bool ok = true;
  std::vector<Outage> outages;
  // When each fault was switched on and off, and each restart's start: what
  // a lost frame is set beside.
  struct Window {
    const char* name;
    int64_t fromNs;
    int64_t untilNs;
  };
  std::vector<Window> windows;
  std::vector<int64_t> restartNs;
  windows.reserve(static_cast<size_t>(seconds / kFaultPeriodS) + 2);
  restartNs.reserve(windows.capacity());
  int64_t beginNs = 0;
  int64_t stopNs = 0;
  RssTrace rss(seconds);
  ValueLog values(seconds);
  FileLogService moduleLog(dir / "module.log");
  testing::RegisterHostkit(&moduleLog);
  {
    Host host(values, rss);
    if (!host.Open() || !host.Command("?in/sampler/start\n")) {
      std::printf("soak wrist unit: the module did not find or start the simulated unit\n");
      testing::UnregisterHostkit();
      return false;
    }
    const int64_t begin = NowNs();
    beginNs = begin;
    const int64_t end = begin + static_cast<int64_t>(seconds * 1e9);
    for (size_t f = 0; NowNs() < end; ++f) {
      const WristFault& fault = faults[f % std::size(faults)];
      const int64_t period =
          begin + static_cast<int64_t>(static_cast<double>(f) * kFaultPeriodS * 1e9);
      host.ReadUntil(std::min(end, period + 3'000'000'000));
      if (NowNs() >= end) break;
      std::printf("  %.0f s: %s\n", Seconds(NowNs() - begin), fault.name);
      const int64_t on = NowNs();
      simulator.Configure(base + fault.settings);
      if (fault.hangupMs != 0) {
        // Read within 100 ms of the change, then down for hangupMs.
        outages.push_back(
            {on - 300'000'000, on + 150'000'000 + fault.hangupMs * 1'000'000LL + 500'000'000});
      }
      host.ReadUntil(std::min(end, on + static_cast<int64_t>(kFaultOnS * 1e9)));
      simulator.Configure(base);
      windows.push_back({fault.name, on, NowNs()});
      host.ReadUntil(std::min(end, period + static_cast<int64_t>(kFaultPeriodS * 1e9)));
      if (host.abortRequested) {
        // The module gave the recording up: start it again, as a user would.
        host.abortRequested = false;
        restartNs.push_back(NowNs());
        host.Command("?in/sampler/stop\n");
        host.Command("?in/sampler/start\n");
      }
    }
    stopNs = NowNs();
    host.Command("?in/sampler/stop\n");
    host.Close();
    std::printf("soak wrist unit: notices=%zu restarts=%zu\n", host.notices, restartNs.size());
  }
  testing::UnregisterHostkit();
  moduleLog.Close();
  simulator.Stop();
  // A duplicated frame is in the send log twice; the module keeps one sample
  // per counter, so the repeat is not expected in the output.
  std::vector<SentFrame> sent;
  for (const SentFrame& frame : ReadSendLog(simulator.SendLog())) {
    if (sent.empty() || frame.counter != sent.back().counter) sent.push_back(frame);
  }

  std::vector<int32_t> sentValues(sent.size());
  for (size_t k = 0; k < sent.size(); ++k) sentValues[k] = sent[k].value;
  std::vector<bool> pairedSent(sent.size(), false);
  const StreamMatch m = MatchStream(sentValues, values.Since(0), 200, 20, 4000,
                                    [&pairedSent](size_t, size_t j) { pairedSent[j] = true; });
  // Frames still on their way when the host stopped are not judged.
  const int64_t cutoff = stopNs - 500'000'000;
  size_t excused = 0, missing = 0, tail = 0;
  const auto inOutage = [&outages](int64_t ns) {
    return std::any_of(outages.begin(), outages.end(),
                       [ns](const Outage& o) { return ns >= o.fromNs && ns <= o.untilNs; });
  };
  // Values are whole mmHg and repeat. The pairing takes the first unread
  // frame with the value read, so when the first frame after a gap has the
  // value of a frame lost at the gap's start (a hang-up's), the value is paired
  // with that one and the frame after the gap is counted lost instead. Which
  // of two equal values was lost cannot be told from the values: the last
  // frame of a gap whose value was so taken is judged as the one in the
  // hang-up.
  const auto takenInOutage = [&](size_t k) {
    if (k + 1 >= sent.size() || !pairedSent[k + 1]) return false;
    size_t j = k;
    while (j > 0 && !pairedSent[j - 1]) --j;
    return j > 0 && sent[j - 1].value == sent[k].value && inOutage(sent[j - 1].ns);
  };
  for (const size_t k : m.lost) {
    if (inOutage(sent[k].ns) || takenInOutage(k)) {
      ++excused;
    } else if (sent[k].ns < cutoff) {
      ++missing;
      if (missing <= 10) {
        const int64_t ns = sent[k].ns;
        const char* during = "no fault";
        for (const Window& w : windows) {
          if (ns >= w.fromNs && ns <= w.untilNs) during = w.name;
        }
        std::string restart = "before any restart";
        for (const int64_t r : restartNs) {
          if (r <= ns) restart = std::to_string(Seconds(ns - r)) + " s after the last restart";
        }
        std::printf(
            "  lost: frame %zu of the send log, counter %u, sent at %.3f s (%.3f s in),"
            " during: %s; %s\n",
            k, sent[k].counter, Seconds(ns), Seconds(ns - beginNs), during, restart.c_str());
      }
    } else {
      ++tail;
    }
  }
  for (size_t k = m.matched > 0 ? m.lastSent + 1 : 0; k < sent.size(); ++k) {
    if (inOutage(sent[k].ns)) {
      ++excused;
    } else if (sent[k].ns < cutoff) {
      ++missing;
    } else {
      ++tail;
    }
  }
  const bool paired =
      m.anchored && m.skippedHead == 0 && missing == 0 && m.unmatched == 0 && !values.Overflowed();
  std::printf(
      "soak wrist frames_sent_intact=%zu values_read=%zu paired=%zu lost=%zu"
      " not_sent=%zu lost_in_hangups=%zu unjudged_tail=%zu %s\n",
      sent.size(), values.Count(), m.matched, missing, m.unmatched, excused, tail,
      paired ? "PASS" : "FAIL");
  if (paired && std::getenv("SOAK_KEEP") == nullptr) {
    std::filesystem::remove_all(dir);
  } else {
    // Kept for a look: the send log and the module log, on one clock, and the
    // values read in order, to pair again.
    std::ofstream read(dir / "values_read.txt");
    for (const int32_t v : values.Since(0)) read << v << '\n';
    std::printf("soak wrist unit: send log, module log and values read kept in %s\n", dir.c_str());
  }
  ok = rss.Check("wrist") && paired && ok;
  return CheckResources("wrist", before) && ok;
}

}  // namespace
}  // namespace corvane::bench

int main(int argc, char** argv) {
  // An hour's run is watched as it goes, also through a pipe.
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const char* minutesText = std::getenv("SOAK_MINUTES");
  const double minutes = minutesText != nullptr ? std::atof(minutesText) : 2.0;
  if (minutes <= 0) {
    std::fprintf(stderr, "SOAK_MINUTES must be a positive number of minutes\n");
    return 2;
  }
  const std::string which = argc > 1 ? argv[1] : "both";
  const auto before = std::chrono::steady_clock::now();
  bool ok = true;
  if (which == "both" || which == "controller")
    ok = corvane::bench::SoakController(minutes * 60) && ok;
  if (which == "both" || which == "wrist") ok = corvane::bench::SoakWristUnit(minutes * 60) && ok;
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
  std::printf("soak total minutes_per_device=%.2f wall_s=%.0f %s\n", minutes, wall,
              ok ? "PASS" : "FAIL");
  return ok ? 0 : 1;
}
