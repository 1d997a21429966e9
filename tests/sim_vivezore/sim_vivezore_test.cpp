#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "firmware_image_writer.h"
#include "vz_client.h"
#include "vz_frame.h"
#include "vz_server.h"

namespace corvane::vzsim {
namespace {

namespace fs = std::filesystem;
using vzclient::Bytes;
using vzclient::Client;
using vzclient::Received;

Bytes U32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::string ReadText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

// One simulated unit served from a thread, with its files in a fresh folder.
class Sim {
 public:
  explicit Sim(const std::string& settings, bool pace = false) {
    dir_ = fs::temp_directory_path() /
           ("vzsim_" + std::to_string(::getpid()) + "_" + std::to_string(++count_));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    WriteSettings(settings);
    Options o;
    o.link = link();
    o.settings = dir_ / "settings.txt";
    o.log = log();
    o.image_out = dir_ / "image.bin";
    o.pace = pace;
    o.quiet = true;
    o.print_path = false;
    server_ = std::make_unique<Server>(o);
    ok_ = server_->Open();
    thread_ = std::thread([this] { server_->Run(stop_); });
  }
  ~Sim() {
    stop_ = true;
    thread_.join();
    server_.reset();
    fs::remove_all(dir_);
  }
  void WriteSettings(const std::string& text) {
    // A new file replaces the old one in one step; its size or time differs.
    std::ofstream(dir_ / "settings.tmp") << text << "\n# " << ++writes_ << "\n";
    fs::rename(dir_ / "settings.tmp", dir_ / "settings.txt");
  }
  bool ok() const { return ok_; }
  fs::path link() const { return dir_ / "port"; }
  fs::path log() const { return dir_ / "received.log"; }
  fs::path dir() const { return dir_; }

 private:
  static inline int count_ = 0;
  int writes_ = 0;
  fs::path dir_;
  std::unique_ptr<Server> server_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  bool ok_ = false;
};

uint8_t Mode(Client& c) { return static_cast<uint8_t>(c.Request('m').payload.at(0)); }

std::vector<Received> Only(const std::vector<Received>& frames, char letter) {
  std::vector<Received> out;
  for (const Received& f : frames) {
    if (f.letter() == letter && !f.nack()) out.push_back(f);
  }
  return out;
}

TEST(VzFrame, MatchesTheWireExamplesAndFindsFramesBehindNoise) {
  const std::string digits = "123456789";
  EXPECT_EQ(Crc8(std::span(reinterpret_cast<const uint8_t*>(digits.data()), digits.size())), 0xA1);
  const struct {
    uint8_t type;
    Bytes payload;
    Bytes wire;
  } kGolden[] = {{'s', {}, {0xD4, 0x01, 0x01, 0xD4, 0x73, 0x1A}},
                 {'a', {}, {0xD4, 0x01, 0x01, 0xD4, 0x61, 0x3B}},
                 {'v', {0x0A}, {0xD4, 0x02, 0x02, 0xD4, 0x76, 0x0A, 0x62}}};
  FrameScanner scanner;
  for (const auto& g : kGolden) {
    EXPECT_EQ(EncodeFrame(g.type, g.payload), g.wire);
    EXPECT_EQ(vzclient::Frame(static_cast<char>(g.type), g.payload), g.wire);
    // Each golden frame behind garbage, a zero length and a frame with a bad
    // checksum that hides it.
    Bytes noisy{0x00, 0xD4, 0x00, 0x00, 0xD4, 0xD4, 0x07, 0x07, 0xD4};
    noisy.insert(noisy.end(), g.wire.begin(), g.wire.end());
    scanner.Push(noisy);
  }
  scanner.Push(Bytes(8, 0));  // completes the last false header
  for (const auto& g : kGolden) {
    std::optional<Frame> f = scanner.Next();
    ASSERT_TRUE(f.has_value());
    EXPECT_EQ(f->type, g.type);
    EXPECT_EQ(f->payload, g.payload);
  }
  EXPECT_FALSE(scanner.Next().has_value());
  EXPECT_EQ(scanner.bad_frames(), 3u);
}

// A walk through the modes: each command answered by its reply or by a Nack
// carrying the error number, as the mode allows.
TEST(VzCommands, RepliesOrNacksEachCommandByMode) {
  Sim sim(
      "serial = SN-4711\nfirmware = 2.3.40.5\nhardware_id = 0x0203\nbootloader = 1.1.2.3\n"
      "protocol = 4\nwatchdog_ms = 0");
  ASSERT_TRUE(sim.ok());
  Client c(sim.link());
  ASSERT_TRUE(c.is_open());
  const Bytes steady_start = Concat({{1, 1}, U32(1), U32(150), U32(0)});
  const struct {
    char letter;
    Bytes payload;
    bool nack;
    Bytes reply_head;  // expected leading payload bytes (error number for a Nack)
  } kSteps[] = {
      {'m', {}, false, {0x10}},
      {'a', {}, false, {}},
      {'s', {}, false, {}},
      {'h', {1}, false, {1}},
      {'h', {3}, true, {2}},
      {'c', {2}, false, {2}},
      {'c', {7}, true, {2}},
      {'v', {0x05}, true, {2}},
      {'e', {2}, true, {3}},  // not measuring
      {'e', {4}, true, {3}},  // not in test mode
      {'e', {5}, true, {3}},  // no 'u' before
      {'e', {9}, true, {2}},
      {'t', {2}, true, {3}},
      {'t', steady_start, true, {3}},
      {'F', Concat({U32(300), {0x12, 0, 0xEF, 0xBE}}), true, {3}},
      {'q', {}, true, {4}},
      {'e', {1}, false, {1}},
      {'m', {}, false, {0x30}},
      {'c', {1}, true, {3}},
      {'u', {0}, true, {3}},
      {'e', {3}, true, {3}},
      {'z', {}, false, {}},
      {'e', {2}, false, {2}},
      {'e', {3}, false, {3}},
      {'m', {}, false, {0x40}},
      {'t', steady_start, false, {1}},
      {'z', {}, true, {3}},
      {'t', {2}, false, {2}},
      {'e', {4}, false, {4}},
      {'e', {6}, false, {6}},
      {'m', {}, false, {0x10}},
  };
  for (const auto& step : kSteps) {
    SCOPED_TRACE(std::string("command '") + step.letter + "'");
    const Received r = c.Request(step.letter, step.payload);
    ASSERT_EQ(r.letter(), step.letter);
    EXPECT_EQ(r.nack(), step.nack);
    ASSERT_GE(r.payload.size(), step.reply_head.size());
    EXPECT_EQ(Bytes(r.payload.begin(),
                    r.payload.begin() + static_cast<std::ptrdiff_t>(step.reply_head.size())),
              step.reply_head);
  }

  // The three version records.
  const Received n = c.Request('v', {0x0A});
  ASSERT_EQ(n.payload.size(), 9u + 120u);
  EXPECT_EQ(n.payload[8], 'N');
  EXPECT_EQ(n.u16(9), 0x0203);
  EXPECT_EQ(n.payload[11], 2);
  EXPECT_EQ(n.payload[12], 3);
  EXPECT_EQ(n.u16(13), 40);
  EXPECT_EQ(n.u16(15), 5);
  EXPECT_EQ(n.payload[17], 4);
  const Received b = c.Request('v', {0x00});
  ASSERT_EQ(b.payload.size(), 9u + 120u);
  EXPECT_EQ(b.payload[8], 'B');
  EXPECT_EQ(b.u16(13), 2);
  const Received h = c.Request('v', {0x0B});
  ASSERT_EQ(h.payload.size(), 9u + 122u);
  EXPECT_EQ(h.payload[8], 'H');
  EXPECT_STREQ(reinterpret_cast<const char*>(h.payload.data() + 9 + 22), "SN-4711");

  // Every command reached the log in order, with its payload.
  std::string expected = "m a s h 01 h 03 ";
  std::string logged;
  std::istringstream log(ReadText(sim.log()));
  for (std::string line; std::getline(log, line);) {
    EXPECT_NE(line.find(' '), std::string::npos);
    logged += line.substr(line.find(' ') + 1) + " ";
  }
  EXPECT_EQ(logged.substr(0, expected.size()), expected);
  std::string letters;
  for (const auto& step : kSteps) letters += step.letter;
  letters += "vvv";
  std::string logged_letters;
  std::istringstream again(logged);
  for (std::string word; again >> word;) {
    if (word.size() == 1) logged_letters += word;
  }
  EXPECT_EQ(logged_letters, letters);
}

// Measuring: 200 data frames a second with an unbroken counter across its
// wrap, beats that agree with the wave, status frames at 10 a second.
TEST(VzStream, DataBeatsAndStatusWhileMeasuring) {
  Sim sim(
      "watchdog_ms = 0\nfirst_counter = 65000\nheart_rate = 90\nsystolic = 130\ndiastolic = 80");
  ASSERT_TRUE(sim.ok());
  Client c(sim.link());
  ASSERT_EQ(c.Request('e', {1}).payload, Bytes{1});
  const std::vector<Received> frames = c.Collect(3000);
  const std::vector<Received> data = Only(frames, 'd');
  ASSERT_GT(data.size(), 500u);
  bool wrapped = false;
  std::map<uint16_t, uint16_t> bp;
  for (size_t i = 1; i < data.size(); ++i) {
    ASSERT_EQ(static_cast<uint16_t>(data[i].u16(0) - data[i - 1].u16(0)), 1) << "at " << i;
    wrapped = wrapped || data[i].u16(0) < data[i - 1].u16(0);
    bp[data[i].u16(0)] = data[i].u16(2);
  }
  EXPECT_TRUE(wrapped);
  // The rate from the least delayed frames early and late in the run: read
  // delays only ever add to a frame's arrival time.
  auto lead = [&](size_t i) {
    return std::chrono::duration<double>(data[i].at - data[0].at).count() -
           0.005 * static_cast<double>(i);
  };
  double early = 1e9, late = 1e9;
  for (size_t i = 0; i < data.size(); ++i) {
    const double t = std::chrono::duration<double>(data[i].at - data[0].at).count();
    if (t < 0.8) early = std::min(early, lead(i));
    if (t > 2.2) late = std::min(late, lead(i));
  }
  EXPECT_LT(std::abs(late - early) / 2.0, 0.01) << "frames come early or late by more than 1 %";
  const std::vector<Received> beats = Only(frames, 'b');
  ASSERT_GE(beats.size(), 3u);
  int checked = 0;
  for (const Received& beat : beats) {
    const uint16_t onset = beat.u16(0);
    const uint16_t ibi = beat.u16(11);
    const int samples = ibi / 5;
    if (!bp.count(onset) || !bp.count(static_cast<uint16_t>(onset + samples - 1))) continue;
    uint16_t high = 0, low = 0xFFFF;
    uint64_t sum = 0;
    for (int k = 0; k < samples; ++k) {
      const uint16_t v = bp.at(static_cast<uint16_t>(onset + k));
      high = std::max(high, v);
      low = std::min(low, v);
      sum += v;
    }
    EXPECT_EQ(beat.u16(3), high);
    EXPECT_EQ(beat.u16(5), low);
    EXPECT_EQ(beat.u16(7), sum / static_cast<uint64_t>(samples));
    EXPECT_NEAR(beat.u16(9), 600000.0 / ibi, 1.0);
    EXPECT_NEAR(high / 10.0, 130.0, 15.0);
    EXPECT_NEAR(low / 10.0, 80.0, 15.0);
    EXPECT_NEAR(60000.0 / ibi, 90.0, 15.0);
    ++checked;
  }
  EXPECT_GE(checked, 2);
  const std::vector<Received> status = Only(frames, 's');
  EXPECT_NEAR(static_cast<double>(status.size()), 30.0, 3.0);
  EXPECT_EQ(status.back().payload[2] >> 4, 3);
  EXPECT_EQ(status.back().payload[9], 2);  // cuff measuring
}

// Test modes make the pressure asked for; zeroing moves the HCU bits through
// busy to zeroed; without measuring the cuff reads 0.
TEST(VzStream, TestPressuresZeroingAndIdleStream) {
  Sim sim("zero_ms = 300\nhcu = 1\nwatchdog_ms = 0");
  ASSERT_TRUE(sim.ok());
  Client c(sim.link());
  std::vector<Received> idle = Only(c.Collect(300), 'd');
  ASSERT_GT(idle.size(), 40u);
  EXPECT_EQ(idle.back().u16(2), 0);
  EXPECT_GT(idle.back().u16(6), 0);  // the plethysmogram goes on

  ASSERT_FALSE(c.Request('z').nack());
  Sleep(60);
  Received s = c.Request('s');
  EXPECT_EQ(s.payload[8] >> 5, 4);
  EXPECT_EQ(s.payload[2] & 1, 1);
  Sleep(350);
  s = c.Request('s');
  EXPECT_EQ(s.payload[8] >> 5, 2);
  EXPECT_EQ(s.payload[2] & 1, 0);

  ASSERT_FALSE(c.Request('e', {3}).nack());
  ASSERT_FALSE(c.Request('t', Concat({{1, 1}, U32(2), U32(150), U32(0)})).nack());
  Sleep(50);
  c.Collect(50);
  std::vector<Received> data = Only(c.Collect(200), 'd');
  ASSERT_FALSE(data.empty());
  for (const Received& d : data) EXPECT_EQ(d.u16(2), 1500);
  ASSERT_FALSE(c.Request('t', {2}).nack());
  ASSERT_FALSE(c.Request('t', Concat({{1, 2}, U32(1), U32(100), U32(200)})).nack());
  Sleep(20);
  data = Only(c.Collect(600), 'd');
  std::map<uint16_t, int> levels;
  int runs = 0;
  for (size_t i = 1; i < data.size(); ++i) {
    ++levels[data[i].u16(2)];
    if (data[i].u16(2) != data[i - 1].u16(2)) ++runs;
  }
  EXPECT_EQ(levels.size(), 2u);
  EXPECT_TRUE(levels.count(1500) && levels.count(500));
  EXPECT_GE(runs, 4);  // a change every 100 ms
  EXPECT_LE(runs, 7);
}

// Pacing: 40 version records (about 5400 bytes) take about half a second of
// line time at 11520 bytes a second, and next to nothing without pacing.
TEST(VzLine, PacesAtTheLineRate) {
  const struct {
    bool pace;
    double min_s, max_s;
  } kCases[] = {{true, 0.42, 0.70}, {false, 0.0, 0.15}};
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.pace ? "paced" : "unpaced");
    Sim sim("stream_idle = 0", k.pace);
    ASSERT_TRUE(sim.ok());
    Client c(sim.link());
    c.Collect(100);
    Bytes burst;
    for (int i = 0; i < 40; ++i) {
      const Bytes f = vzclient::Frame('v', {0x0A});
      burst.insert(burst.end(), f.begin(), f.end());
    }
    const auto start = vzclient::Clock::now();
    c.SendRaw(burst);
    const std::vector<Received> versions = Only(c.Collect(1000), 'v');
    ASSERT_EQ(versions.size(), 40u);
    const double took = std::chrono::duration<double>(versions.back().at - start).count();
    EXPECT_GE(took, k.min_s);
    EXPECT_LE(took, k.max_s);
  }
}

// A whole update of a 300-byte image: into the bootloader, erase, three
// blocks with one packet-order error, restart into the new version.
TEST(VzUpdate, TransfersAnImageWithOnePacketOrderError) {
  Sim sim(
      "bootloader_entry_ms = 150\nerase_ms = 200\nrestart_ms = 300\norder_error_block = 2\n"
      "firmware = 1.0.0.0\nfirmware_after_update = 3.1.4.1");
  ASSERT_TRUE(sim.ok());
  Client c(sim.link());
  Bytes image(300);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);

  EXPECT_TRUE(c.Request('B', Concat({{0, 0}, Bytes(128, 0)})).nack());
  ASSERT_EQ(c.Request('u', {0}).payload, Bytes{0});
  ASSERT_EQ(c.Request('e', {5}).payload, Bytes{5});
  EXPECT_EQ(Mode(c), 0x11);  // old mode, busy
  Sleep(200);
  EXPECT_EQ(Mode(c), 0x70);
  c.Collect(50);
  EXPECT_TRUE(Only(c.Collect(100), 'd').empty());  // the bootloader streams nothing
  EXPECT_EQ(c.Request('s').type, 's' | 0x80);

  const uint8_t checksum = corvane::tools::Crc8(image);
  ASSERT_FALSE(c.Request('F', Concat({U32(300), {checksum, 0x00, 0xEF, 0xBE}})).nack());
  EXPECT_EQ(Mode(c), 0x71);  // erasing
  EXPECT_TRUE(c.Request('B', Concat({{0, 0}, Bytes(128, 0)})).nack());
  Sleep(250);
  EXPECT_EQ(Mode(c), 0x72);  // erase state 1, not busy

  std::vector<std::string> order_errors;
  uint16_t block = 0;
  for (int sent = 0; block < 3 && sent < 10; ++sent) {
    Bytes payload{static_cast<uint8_t>(block), 0};
    for (size_t i = 0; i < 128; ++i) {
      const size_t at = block * 128u + i;
      payload.push_back(at < image.size() ? image[at] : 0xFF);
    }
    const Received r = c.Request('B', payload, 500);
    ASSERT_EQ(r.letter(), 'B');
    if (r.nack()) {
      ASSERT_EQ(r.payload.size(), 5u);
      ASSERT_EQ(r.payload[0], 1);
      order_errors.push_back(std::to_string(r.u16(1)) + "<-" + std::to_string(r.u16(3)));
      block = r.u16(1);
    } else {
      EXPECT_EQ(r.u16(0), block);
      ++block;
    }
  }
  EXPECT_EQ(order_errors, std::vector<std::string>{"0<-2"});
  ASSERT_EQ(block, 3);

  // Restarting: silent, then back in mode 1 with the new firmware.
  EXPECT_EQ(c.Request('v', {0x0A}, 100).type, 0);
  Sleep(300);
  const Received n = c.Request('v', {0x0A});
  ASSERT_EQ(n.letter(), 'v');
  EXPECT_EQ(Bytes(n.payload.begin() + 11, n.payload.begin() + 17), (Bytes{3, 1, 4, 0, 1, 0}));
  EXPECT_EQ(Mode(c), 0x10);
  const std::string written = ReadText(sim.dir() / "image.bin");
  EXPECT_EQ(Bytes(written.begin(), written.end()), image);
  char info[64];
  std::snprintf(info, sizeof info, "declared_length = 300\nchecksum = 0x%02x\n", checksum);
  EXPECT_EQ(ReadText(sim.dir() / "image.bin.info"), info);
}

struct FaultCase {
  const char* name;
  const char* settings;
  std::function<void(Sim&, Client&)> check;
};

std::vector<uint16_t> CounterSteps(const std::vector<Received>& data) {
  std::vector<uint16_t> steps;
  for (size_t i = 1; i < data.size(); ++i) {
    steps.push_back(static_cast<uint16_t>(data[i].u16(0) - data[i - 1].u16(0)));
  }
  return steps;
}

size_t CountSteps(const std::vector<uint16_t>& steps, uint16_t value) {
  return static_cast<size_t>(std::count(steps.begin(), steps.end(), value));
}

// 'u' 0, 'e' 5, then waits (at most a second) for the unit to stop being busy.
void EnterBootloader(Client& c) {
  c.Request('u', {0});
  c.Request('e', {5});
  for (int i = 0; i < 20 && (Mode(c) & 1) != 0; ++i) Sleep(50);
}

TEST(VzFaults, EachSettingDoesWhatItSays) {
  const FaultCase kCases[] = {
      {"garbage between frames", "garbage_every = 3\ngarbage_bytes = 5",
       [](Sim&, Client& c) {
         const std::vector<Received> data = Only(c.Collect(300), 'd');
         // Five bytes before every third frame, however many frames a
         // loaded machine delivered in the time.
         ASSERT_GT(data.size(), 12u);
         EXPECT_GE(c.skipped, 5u * (data.size() / 3 - 1));
         const std::vector<uint16_t> steps = CounterSteps(data);
         EXPECT_EQ(CountSteps(steps, 1), steps.size());
       }},
      {"bad checksums", "bad_crc_every = 4",
       [](Sim&, Client& c) {
         const std::vector<Received> data = Only(c.Collect(400), 'd');
         const std::vector<uint16_t> steps = CounterSteps(data);
         EXPECT_GT(c.bad_frames, 15u);
         EXPECT_GT(CountSteps(steps, 2), 15u);
         EXPECT_EQ(CountSteps(steps, 1) + CountSteps(steps, 2), steps.size());
       }},
      {"dropped data frames", "drop_every = 5",
       [](Sim&, Client& c) {
         const std::vector<uint16_t> steps = CounterSteps(Only(c.Collect(400), 'd'));
         EXPECT_EQ(c.bad_frames, 0u);
         EXPECT_GT(CountSteps(steps, 2), 10u);
         EXPECT_EQ(CountSteps(steps, 1) + CountSteps(steps, 2), steps.size());
       }},
      {"duplicated data frames", "duplicate_every = 5",
       [](Sim&, Client& c) {
         const std::vector<uint16_t> steps = CounterSteps(Only(c.Collect(400), 'd'));
         EXPECT_GT(CountSteps(steps, 0), 10u);
         EXPECT_EQ(CountSteps(steps, 1) + CountSteps(steps, 0), steps.size());
       }},
      {"silence", "silence_after_ms = 200\nsilence_ms = 600",
       [](Sim&, Client& c) {
         const std::vector<Received> data = Only(c.Collect(1200), 'd');
         const std::vector<uint16_t> steps = CounterSteps(data);
         ASSERT_FALSE(steps.empty());
         const uint16_t gap = *std::max_element(steps.begin(), steps.end());
         EXPECT_NEAR(gap, 120, 25);  // 600 ms of samples never sent
       }},
      {"Nack of a letter", "nack_letter = s\nnack_error = 42",
       [](Sim&, Client& c) {
         const Received r = c.Request('s');
         EXPECT_TRUE(r.nack());
         EXPECT_EQ(r.payload, Bytes{42});
         EXPECT_FALSE(c.Request('a').nack());
       }},
      {"no reply to a letter", "ignore_letter = a",
       [](Sim&, Client& c) {
         EXPECT_EQ(c.Request('a', {}, 300).type, 0);
         EXPECT_EQ(c.Request('m').letter(), 'm');
       }},
      {"device error and warnings", "device_error = 0x21\ndevice_warning = 0x80000020",
       [](Sim& sim, Client& c) {
         Received s = c.Request('s');
         EXPECT_EQ(s.payload[3], 0x21);
         EXPECT_EQ(s.payload[7], 0x80);
         EXPECT_EQ(s.payload[4], 0x20);
         c.Request('e', {6});
         EXPECT_EQ(c.Request('s').payload[3], 0);
         sim.WriteSettings("device_error = 0x85");
         Sleep(250);
         c.Request('e', {6});
         EXPECT_EQ(c.Request('s').payload[3], 0x85);  // beyond clearing
       }},
      {"watchdog", "watchdog_ms = 500\nwatchdog_error = 0x1B",
       [](Sim&, Client& c) {
         c.Request('e', {1});
         Sleep(150);
         c.Send('a');
         Sleep(150);
         EXPECT_EQ(Mode(c), 0x30);  // kept alive
         Sleep(800);
         EXPECT_EQ(Mode(c), 0x10);
         EXPECT_EQ(c.Request('s').payload[3], 0x1B);
       }},
      {"hang-up", "hangup_after_ms = 100\nhangup_ms = 600",
       [](Sim& sim, Client& c) {
         Sleep(300);
         EXPECT_FALSE(fs::exists(fs::symlink_status(sim.link())));
         for (int i = 0; i < 40 && !fs::is_symlink(sim.link()); ++i) Sleep(50);
         ASSERT_TRUE(fs::is_symlink(sim.link()));
         EXPECT_TRUE(c.Open(sim.link()));
         EXPECT_EQ(c.Request('m').letter(), 'm');
         EXPECT_FALSE(Only(c.Collect(100), 'd').empty());
       }},
      {"no bootloader", "no_bootloader = 1\nbootloader_entry_ms = 100",
       [](Sim&, Client& c) {
         EnterBootloader(c);
         EXPECT_EQ(Mode(c), 0x10);
       }},
      {"erase never finishes", "erase_hangs = 1\nbootloader_entry_ms = 100\nerase_ms = 50",
       [](Sim&, Client& c) {
         EnterBootloader(c);
         ASSERT_FALSE(c.Request('F', Concat({U32(128), {0, 0, 0xEF, 0xBE}})).nack());
         Sleep(300);
         EXPECT_EQ(Mode(c), 0x71);
       }},
      // The unit checks the image it received against the declared checksum:
      // ten bytes of 1 are not what 0 declares, so it stays in its bootloader
      // and keeps no image; unless it takes any image.
      {"an image that does not match its checksum",
       "bootloader_entry_ms = 100\nerase_ms = 50\nrestart_ms = 50",
       [](Sim& sim, Client& c) {
         EnterBootloader(c);
         c.Request('F', Concat({U32(10), {0, 0, 0xEF, 0xBE}}));
         Sleep(150);
         ASSERT_FALSE(c.Request('B', Concat({{0, 0}, Bytes(128, 1)})).nack());
         Sleep(300);
         EXPECT_EQ(Mode(c), 0x70);
         EXPECT_FALSE(std::filesystem::exists(sim.dir() / "image.bin"));
       }},
      {"restart never completes",
       "restart_hangs = 1\naccept_any_image = 1\nbootloader_entry_ms = 100\nerase_ms = 50\n"
       "restart_ms = 50",
       [](Sim&, Client& c) {
         EnterBootloader(c);
         c.Request('F', Concat({U32(10), {0, 0, 0xEF, 0xBE}}));
         Sleep(150);
         ASSERT_FALSE(c.Request('B', Concat({{0, 0}, Bytes(128, 1)})).nack());
         Sleep(300);
         EXPECT_EQ(c.Request('m', {}, 200).type, 0);
       }},
      {"starts in the bootloader", "start_in_bootloader = 1",
       [](Sim&, Client& c) { EXPECT_EQ(Mode(c), 0x70); }},
  };
  for (const FaultCase& k : kCases) {
    SCOPED_TRACE(k.name);
    Sim sim(k.settings);
    ASSERT_TRUE(sim.ok());
    Client c(sim.link());
    ASSERT_TRUE(c.is_open());
    k.check(sim, c);
  }
}

// Settings changed while running apply at once.
TEST(VzSettings, ChangesApplyWhileRunningAndBadLinesAreReported) {
  Sim sim("nack_letter = none");
  ASSERT_TRUE(sim.ok());
  Client c(sim.link());
  EXPECT_FALSE(c.Request('a').nack());
  sim.WriteSettings("nack_letter = a\nnack_error = 7");
  Sleep(250);
  EXPECT_EQ(c.Request('a').payload, Bytes{7});

  const ParsedSettings parsed = ParseSettings(
      "firmware = 1.2\ncolour = red\nwatchdog_ms = -1\nhardware_id = 0x1F\nserial = X\n");
  EXPECT_EQ(parsed.problems.size(), 3u);
  EXPECT_EQ(parsed.settings.hardware_id, 0x1F);
  EXPECT_EQ(parsed.settings.serial, "X");
  EXPECT_EQ(parsed.settings.firmware, Settings{}.firmware);
}

// Serving an existing tty: here the slave of a terminal pair the test made,
// with the test at the master.
TEST(VzLine, ServesAnExistingTty) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  Options o;
  o.port = ::ptsname(master);
  o.quiet = true;
  o.print_path = false;
  o.pace = false;
  Server server(o);
  ASSERT_TRUE(server.Open());
  EXPECT_EQ(server.device_path(), o.port.string());
  std::atomic<bool> stop{false};
  std::thread runner([&] { server.Run(stop); });
  Client c = Client::Adopt(master);
  EXPECT_EQ(c.Request('m').payload, Bytes{0x10});
  EXPECT_FALSE(Only(c.Collect(100), 'd').empty());
  stop = true;
  runner.join();
}

#ifdef SIM_VIVEZORE_EXE
// The program itself: prints the port, keeps the link, and removes it when told to stop.
TEST(VzProgram, ServesBehindTheLinkAndRemovesItOnSigterm) {
  const fs::path link = fs::temp_directory_path() / ("vzsim_prog_" + std::to_string(::getpid()));
  fs::remove(link);
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl(SIM_VIVEZORE_EXE, SIM_VIVEZORE_EXE, "--link", link.c_str(), "--quiet",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 100 && !fs::is_symlink(link); ++i) Sleep(20);
  ASSERT_TRUE(fs::is_symlink(link));
  // Two sessions one after the other, each with the tty for itself, as a
  // host that reconnects opens it.
  for (int session = 0; session < 2; ++session) {
    Sleep(50);  // the simulator notices a host leaving within a few ms
    Client c(link);
    ASSERT_TRUE(c.is_open()) << "session " << session;
    // The previous session's exclusive use has ended (asked directly, since
    // root may open an exclusive tty regardless).
    int exclusive = -1;
    EXPECT_EQ(::ioctl(c.fd(), TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    EXPECT_EQ(::ioctl(c.fd(), TIOCEXCL), 0);
    EXPECT_EQ(c.Request('v', {0x0B}).payload.at(8), 'H');
  }
  ::kill(child, SIGTERM);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}
#endif

}  // namespace
}  // namespace corvane::vzsim
