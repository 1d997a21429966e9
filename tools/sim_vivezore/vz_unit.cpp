#include "vz_unit.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace corvane::vzsim {
namespace {

constexpr int kStatusEverySamples = 20;  // 10 status frames a second
constexpr size_t kRecordSize = 120;
constexpr size_t kHardwareRecordSize = 122;
constexpr size_t kSerialOffset = 22;
constexpr uint32_t kEraseMagic = 0xBEEF0000;
constexpr uint8_t kLightLevel = 180;
constexpr uint8_t kHcuZeroingCode = 4;

void Put16(std::vector<uint8_t>& v, size_t at, uint16_t value) {
  v[at] = static_cast<uint8_t>(value & 0xFF);
  v[at + 1] = static_cast<uint8_t>(value >> 8);
}

void Append16(std::vector<uint8_t>& v, uint16_t value) {
  v.push_back(static_cast<uint8_t>(value & 0xFF));
  v.push_back(static_cast<uint8_t>(value >> 8));
}

// The checksum a firmware image declares: CRC-8 with the reflected
// polynomial 0x8C and initial value 0 over its bytes.
uint8_t ImageCrc8(const std::vector<uint8_t>& bytes) {
  uint8_t crc = 0;
  for (uint8_t byte : bytes) {
    for (int bit = 0; bit < 8; ++bit) {
      const bool low = ((crc ^ byte) & 1) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (low) crc = static_cast<uint8_t>(crc ^ 0x8C);
      byte = static_cast<uint8_t>(byte >> 1);
    }
  }
  return crc;
}

uint32_t Get32(const std::vector<uint8_t>& p, size_t at) {
  return uint32_t{p[at]} | uint32_t{p[at + 1]} << 8 | uint32_t{p[at + 2]} << 16 |
         uint32_t{p[at + 3]} << 24;
}

Clock::time_point After(Clock::time_point now, uint32_t ms) {
  return now + std::chrono::milliseconds(ms);
}

}  // namespace

Unit::Unit(const Settings& settings, Clock::time_point now)
    : settings_(settings),
      wave_(Params()),
      grid_start_(now),
      last_rx_(now),
      firmware_(settings.firmware) {
  hcu_ = settings.hcu;
  counter_ = settings.first_counter;
  first_counter_ = settings.first_counter;
  error_ = settings.device_error;
  if (settings.start_in_bootloader) mode_ = kModeBootloader;
}

WaveParams Unit::Params() const {
  return {settings_.heart_rate, settings_.systolic, settings_.diastolic, settings_.height,
          settings_.seed};
}

void Unit::ApplySettings(const Settings& s, Clock::time_point now) {
  const Settings old = settings_;
  settings_ = s;
  wave_.set_params(Params());
  if (s.firmware != old.firmware) firmware_ = s.firmware;
  if (s.hcu != old.hcu) hcu_ = s.hcu;
  if (s.device_error != old.device_error) error_ = s.device_error;
  if (s.order_error_block != old.order_error_block) order_error_done_ = false;
  if (s.start_in_bootloader && !old.start_in_bootloader && !restarting_) {
    mode_ = kModeBootloader;
    erase_state_ = 0;
  }
  // A restart that was held up completes once the fault is lifted.
  if (!s.restart_hangs && old.restart_hangs && restarting_ && !restart_until_) {
    restart_until_ = now;
  }
}

std::vector<uint8_t> Unit::TakeOutput() {
  std::vector<uint8_t> out;
  out.swap(out_);
  return out;
}

std::optional<ReceivedImage> Unit::TakeImage() {
  std::optional<ReceivedImage> image = std::move(finished_image_);
  finished_image_.reset();
  return image;
}

void Unit::Reply(uint8_t letter, std::vector<uint8_t> payload) {
  const std::vector<uint8_t> frame = EncodeFrame(letter, payload);
  out_.insert(out_.end(), frame.begin(), frame.end());
}

void Unit::Nack(uint8_t letter, std::vector<uint8_t> payload) {
  Reply(static_cast<uint8_t>(letter | kNackBit), std::move(payload));
}

uint8_t Unit::ModeByte() const {
  uint8_t mode = mode_;
  bool busy = false;
  if (entering_until_) {
    busy = true;  // still the old mode until the bootloader has taken over
  }
  if (mode_ == kModeBootloader && erase_pending_) busy = true;
  return static_cast<uint8_t>(mode << 4 | (erase_state_ & 3) << 1 | (busy ? 1 : 0));
}

bool Unit::Streaming() const {
  return !restarting_ && !entering_until_ && mode_ != kModeBootloader;
}

std::vector<uint8_t> Unit::VersionFrame(uint8_t selector) const {
  std::vector<uint8_t> p(9, 0);
  p[0] = selector;
  const bool hardware = selector == 0x0B;
  std::vector<uint8_t> record(hardware ? kHardwareRecordSize : kRecordSize, 0);
  Put16(record, 0, settings_.hardware_id);
  if (hardware) {
    p[8] = 'H';
    const size_t n = std::min(settings_.serial.size(), kHardwareRecordSize - kSerialOffset - 1);
    std::memcpy(record.data() + kSerialOffset, settings_.serial.data(), n);
  } else {
    // A unit may answer the firmware's request with a bootloader record.
    const char structure = selector == 0x00 ? 'B' : settings_.firmware_record;
    const Version& v = structure == 'N' ? firmware_ : settings_.bootloader;
    p[8] = static_cast<uint8_t>(structure);
    record[2] = v.major;
    record[3] = v.minor;
    Put16(record, 4, v.patch);
    Put16(record, 6, v.revision);
    record[8] = settings_.protocol;
  }
  p.insert(p.end(), record.begin(), record.end());
  return p;
}

std::vector<uint8_t> Unit::StatusPayload() const {
  std::vector<uint8_t> p(15, 0);
  Put16(p, 0, counter_);
  const bool zeroing = zeroing_until_.has_value();
  p[2] = static_cast<uint8_t>(mode_ << 4 | (zeroing ? 1 : 0));
  p[3] = error_;
  const uint32_t warning = settings_.device_warning;
  for (size_t i = 0; i < 4; ++i) p[4 + i] = static_cast<uint8_t>(warning >> (8 * i));
  p[8] = static_cast<uint8_t>((zeroing ? kHcuZeroingCode : hcu_) << 5);
  // Cuff state: 0 deflated, 1 test pressure, 2 measuring.
  uint8_t cuff_state = 0;
  if (mode_ == kModeMeasuring) cuff_state = 2;
  if (mode_ == kModeTest && test_type_ != 0) cuff_state = 1;
  p[9] = cuff_state;
  p[10] = static_cast<uint8_t>(cuff_ & 0x0F);
  p[11] = kLightLevel;
  return p;
}

void Unit::OnFrame(const Frame& frame, Clock::time_point now) {
  last_rx_ = now;
  if (restarting_) return;  // a restarting unit hears nothing
  const auto letter = static_cast<uint8_t>(frame.type & 0x7F);
  if (settings_.ignore_letter != 0 && letter == static_cast<uint8_t>(settings_.ignore_letter)) {
    return;
  }
  if (settings_.nack_letter != 0 && letter == static_cast<uint8_t>(settings_.nack_letter)) {
    Nack(letter, {settings_.nack_error});
    return;
  }
  if (letter == 'm') {
    Reply('m', {ModeByte()});
    return;
  }
  if (letter == 'v') {
    if (frame.payload.size() != 1 ||
        (frame.payload[0] != 0x0A && frame.payload[0] != 0x00 && frame.payload[0] != 0x0B)) {
      Nack(letter, {kErrBadParameter});
      return;
    }
    Reply('v', VersionFrame(frame.payload[0]));
    return;
  }
  if (entering_until_) {
    Nack(letter, {kErrBusy});
    return;
  }
  if (mode_ == kModeBootloader) {
    HandleBootloader(letter, frame.payload, now);
    return;
  }
  Handle(letter, frame.payload, now);
}

void Unit::Handle(uint8_t letter, const std::vector<uint8_t>& p, Clock::time_point now) {
  const bool one_byte = p.size() == 1;
  switch (letter) {
    case 'a':
      Reply('a');
      return;
    case 'c':
      if (!one_byte || (p[0] != 1 && p[0] != 2)) return Nack(letter, {kErrBadParameter});
      if (mode_ != kModeIdle) return Nack(letter, {kErrWrongMode});
      cuff_ = p[0];
      return Reply('c', {cuff_});
    case 'e':
      if (!one_byte) return Nack(letter, {kErrBadParameter});
      return HandleE(p[0], now);
    case 'h':
      if (!one_byte || p[0] > 1) return Nack(letter, {kErrBadParameter});
      physiocal_ = p[0];
      return Reply('h', {physiocal_});
    case 's':
      return Reply('s', StatusPayload());
    case 't':
      if (p.size() == 14 && p[0] == 1) {
        const uint32_t cuff = Get32(p, 2);
        if ((p[1] != 1 && p[1] != 2) || (cuff != 1 && cuff != 2)) {
          return Nack(letter, {kErrBadParameter});
        }
        if (mode_ != kModeTest) return Nack(letter, {kErrWrongMode});
        test_type_ = p[1];
        test_pressure_ = std::min<uint32_t>(Get32(p, 6), 300);
        test_period_ms_ = Get32(p, 10);
        test_start_sample_ = samples_;
        cuff_ = static_cast<uint8_t>(cuff);
        return Reply('t', {1});
      }
      if (one_byte && p[0] == 2) {
        if (mode_ != kModeTest) return Nack(letter, {kErrWrongMode});
        test_type_ = 0;
        return Reply('t', {2});
      }
      return Nack(letter, {kErrBadParameter});
    case 'u':
      if (!one_byte || p[0] != 0) return Nack(letter, {kErrBadParameter});
      if (mode_ != kModeIdle) return Nack(letter, {kErrWrongMode});
      update_armed_ = true;
      return Reply('u', {0});
    case 'z':
      if (!p.empty()) return Nack(letter, {kErrBadParameter});
      if (mode_ == kModeTest || hcu_ == 0) return Nack(letter, {kErrWrongMode});
      if (!zeroing_until_) zeroing_until_ = After(now, settings_.zero_ms);
      return Reply('z');
    case 'F':
    case 'B':
      return Nack(letter, {kErrWrongMode});
    default:
      return Nack(letter, {kErrUnknownCommand});
  }
}

void Unit::HandleE(uint8_t sub, Clock::time_point now) {
  uint8_t wanted_mode = 0;  // the mode the sub-command is allowed in
  uint8_t next_mode = 0;
  switch (sub) {
    case 1:
      wanted_mode = kModeIdle;
      next_mode = kModeMeasuring;
      break;
    case 2:
      wanted_mode = kModeMeasuring;
      next_mode = kModeIdle;
      break;
    case 3:
      wanted_mode = kModeIdle;
      next_mode = kModeTest;
      break;
    case 4:
      wanted_mode = kModeTest;
      next_mode = kModeIdle;
      break;
    case 5:
      if (mode_ != kModeIdle || !update_armed_) return Nack('e', {kErrWrongMode});
      update_armed_ = false;
      entering_until_ = After(now, settings_.bootloader_entry_ms);
      return Reply('e', {sub});
    case 6:
      if (error_ < 0x80) error_ = 0;
      return Reply('e', {sub});
    default:
      return Nack('e', {kErrBadParameter});
  }
  if (mode_ != wanted_mode) return Nack('e', {kErrWrongMode});
  mode_ = next_mode;
  test_type_ = 0;
  update_armed_ = false;
  if (next_mode == kModeMeasuring) last_rx_ = now;
  Reply('e', {sub});
}

void Unit::HandleBootloader(uint8_t letter, const std::vector<uint8_t>& p, Clock::time_point now) {
  if (letter == 'F') {
    if (p.size() != 8 || (Get32(p, 4) & 0xFFFFFF00) != kEraseMagic) {
      return Nack(letter, {kErrBadParameter});
    }
    const uint32_t length = Get32(p, 0);
    if (length == 0 || length > 65536 * kBlockSize) return Nack(letter, {kErrBadParameter});
    image_ = ReceivedImage{std::vector<uint8_t>(length, 0xFF), length, p[4], {}};
    erase_pending_ = true;
    erase_state_ = 0;
    expected_block_ = 0;
    erase_until_.reset();
    if (!settings_.erase_hangs) erase_until_ = After(now, settings_.erase_ms);
    return Reply('F');
  }
  if (letter != 'B') return Nack(letter, {kErrWrongMode});
  if (p.size() != 2 + kBlockSize) return Nack(letter, {kErrBadParameter});
  if (erase_pending_ || erase_state_ == 0) return Nack(letter, {kErrBusy});
  const auto block = static_cast<uint16_t>(p[0] | p[1] << 8);
  const bool injected = settings_.order_error_block == block && !order_error_done_;
  if (block != expected_block_ || injected) {
    uint16_t wanted = expected_block_;
    if (injected) {
      // Pretend two blocks were lost, so the host must go back.
      order_error_done_ = true;
      wanted = static_cast<uint16_t>(block >= 2 ? block - 2 : 0);
      expected_block_ = wanted;
    }
    std::vector<uint8_t> nack{kErrPacketOrder};
    Append16(nack, wanted);
    Append16(nack, block);
    return Nack(letter, std::move(nack));
  }
  const size_t at = size_t{block} * kBlockSize;
  const size_t n = std::min(kBlockSize, image_.data.size() - at);
  std::copy_n(p.begin() + 2, n, image_.data.begin() + static_cast<std::ptrdiff_t>(at));
  ++expected_block_;
  std::vector<uint8_t> ack;
  Append16(ack, block);
  Reply('B', std::move(ack));
  if (size_t{expected_block_} * kBlockSize >= image_.data.size()) {
    // The declared length is reached. The bootloader checks what it received
    // against the declared checksum and starts only an image that passes;
    // otherwise it stays, erased, waiting for a new erase and transfer.
    finished_image_ = image_;
    const uint8_t crc = ImageCrc8(image_.data);
    if (crc != image_.checksum && !settings_.accept_any_image) {
      char text[96];
      std::snprintf(text, sizeof text, "checksum 0x%02x of the %u bytes received, 0x%02x declared",
                    crc, image_.declared_length, image_.checksum);
      finished_image_->refusal = text;
      erase_state_ = 0;
      expected_block_ = 0;
      return;
    }
    restarting_ = true;
    restart_until_.reset();
    if (!settings_.restart_hangs) restart_until_ = After(now, settings_.restart_ms);
  }
}

void Unit::Restart() {
  restarting_ = false;
  restart_until_.reset();
  mode_ = kModeIdle;
  erase_state_ = 0;
  erase_pending_ = false;
  firmware_ = settings_.firmware_after_update.value_or(
      Version{firmware_.major, firmware_.minor, static_cast<uint16_t>(firmware_.patch + 1),
              firmware_.revision});
  error_ = 0;
  test_type_ = 0;
}

void Unit::Stream(uint8_t letter, const std::vector<uint8_t>& payload) {
  ++streamed_frames_;
  if (settings_.garbage_every != 0 && streamed_frames_ % settings_.garbage_every == 0) {
    for (uint32_t i = 0; i < settings_.garbage_bytes; ++i) {
      out_.push_back(static_cast<uint8_t>(garbage_rng_() & 0xFF));
    }
  }
  std::vector<uint8_t> frame = EncodeFrame(letter, payload);
  int copies = 1;
  if (letter == 'd') {
    ++data_frames_;
    if (settings_.drop_every != 0 && data_frames_ % settings_.drop_every == 0) return;
    if (settings_.duplicate_every != 0 && data_frames_ % settings_.duplicate_every == 0) copies = 2;
    if (settings_.bad_crc_every != 0 && data_frames_ % settings_.bad_crc_every == 0) {
      frame.back() ^= 0x5A;
    }
  }
  for (int i = 0; i < copies; ++i) out_.insert(out_.end(), frame.begin(), frame.end());
}

void Unit::ProduceSample() {
  const bool measuring = mode_ == kModeMeasuring;
  Sample s = wave_.Next(measuring);
  if (mode_ == kModeTest) {
    double pressure = 0;
    if (test_type_ == 1) pressure = test_pressure_;
    if (test_type_ == 2) {
      // Square wave of the test pressure +-50 mmHg, high for the first half period.
      const uint64_t period = std::max<uint32_t>(test_period_ms_, 2 * kSampleMs);
      const uint64_t t = (samples_ - test_start_sample_) * kSampleMs % period;
      pressure = std::max(0.0, test_pressure_ + (t < period / 2 ? 50.0 : -50.0));
    }
    s.bp = static_cast<uint16_t>(pressure * 10);
  }
  const std::optional<Beat> beat = wave_.TakeBeat();
  if (Streaming()) {
    if (mode_ != kModeIdle || settings_.stream_idle) {
      std::vector<uint8_t> d(9, 0);
      Put16(d, 0, counter_);
      Put16(d, 2, s.bp);
      Put16(d, 4, s.hgt);
      Put16(d, 6, s.plet);
      d[8] = static_cast<uint8_t>((measuring ? 1 : 0) | (physiocal_ ? 2 : 0));
      Stream('d', d);
    }
    if (beat && measuring) {
      std::vector<uint8_t> b(14, 0);
      Put16(b, 0, static_cast<uint16_t>(first_counter_ + beat->onset));
      b[2] = 1;
      Put16(b, 3, beat->sys);
      Put16(b, 5, beat->dia);
      Put16(b, 7, beat->map);
      Put16(b, 9, beat->hr);
      Put16(b, 11, beat->ibi);
      b.resize(13);
      Stream('b', b);
    }
    if (samples_ % kStatusEverySamples == 0) Stream('s', StatusPayload());
  }
  ++samples_;
  counter_ = static_cast<uint16_t>(counter_ + 1);
}

void Unit::Tick(Clock::time_point now) {
  if (entering_until_ && now >= *entering_until_) {
    entering_until_.reset();
    if (!settings_.no_bootloader) {
      mode_ = kModeBootloader;
      erase_state_ = 0;
    }
  }
  if (erase_until_ && now >= *erase_until_) {
    erase_until_.reset();
    erase_pending_ = false;
    erase_state_ = settings_.erase_state;
  }
  if (restart_until_ && now >= *restart_until_) Restart();
  if (zeroing_until_ && now >= *zeroing_until_) {
    zeroing_until_.reset();
    hcu_ = 2;
  }
  if (mode_ == kModeMeasuring && settings_.watchdog_ms != 0 &&
      now - last_rx_ >= std::chrono::milliseconds(settings_.watchdog_ms)) {
    // The host has vanished: stop and say why.
    mode_ = kModeIdle;
    error_ = settings_.watchdog_error;
  }
  // After a long stall (a suspended process) the grid restarts rather than
  // bursting out seconds of samples at once.
  if (now - NextDue() > std::chrono::seconds(1)) grid_start_ = now - (NextDue() - grid_start_);
  while (NextDue() <= now) ProduceSample();
}

Clock::time_point Unit::NextDue() const {
  // Signed arithmetic throughout: the grid is usually ahead of now.
  return grid_start_ + std::chrono::milliseconds(static_cast<int64_t>(samples_) * kSampleMs);
}

}  // namespace corvane::vzsim
