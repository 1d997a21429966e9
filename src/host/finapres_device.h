// The device facade behind the exported functions: turns each host call into
// an exchange of text lines with the engine. It never touches the device.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "support/mvx_string.h"

namespace corvane {

class DMSWrapper;

class FinapresDeviceInterface {
 public:
  virtual ~FinapresDeviceInterface() = default;
  virtual bool ReadLine(char* buffer, int size) = 0;
  virtual int ReadBuffSize() = 0;
  virtual void FlushReadBuffer() = 0;
  virtual int WriteBuffer(const char* text, int length) = 0;
  virtual bool Initialise() = 0;
  virtual bool IsFailed() = 0;
  virtual bool GetUniqueID(uint32_t* id) = 0;
  virtual int GetLastErrorMsg(char* buffer) = 0;
};

class FinapresDevice final : public FinapresDeviceInterface {
 public:
  FinapresDevice();
  ~FinapresDevice() override;

  bool ReadLine(char* buffer, int size) override;
  int ReadBuffSize() override;
  void FlushReadBuffer() override;
  int WriteBuffer(const char* text, int length) override;
  bool Initialise() override;
  bool IsFailed() override;
  bool GetUniqueID(uint32_t* id) override;
  int GetLastErrorMsg(char* buffer) override;

  // What answers the facade's own exchanges.
  enum class ReplyKind {
    kCommandResult,  // "<OK" or "<Fail"
    kQueryAnswer,    // "=" and the value
  };

  // The host's read with a time-out: one ReadLine, and while it finds
  // nothing and time is left, waits for the worker's next reply before it
  // looks again. A time-out of 0 or less makes exactly one ReadLine.
  bool ReadLineWithin(char* buffer, int size, int32_t timeoutMs);

  // Sends one command and reads one reply; true only for "<OK".
  bool SendCommand(const MVX::MVXString& command);
  // Sends one query; true when the reply begins with "=", which is removed.
  bool Query(const MVX::MVXString& command, MVX::MVXString& out);
  // Waits up to 5000 ms for the first line of `kind`; empty when none came,
  // or when the worker has ended with nothing left to read. Data lines read
  // meanwhile are dropped; any other line is kept for the host's ReadLine.
  MVX::MVXString ReadReply(ReplyKind kind);

  static constexpr uint32_t kReplyTimeoutMs = 5000;
  static constexpr int kReplyBufferSize = 2048;

 private:
  MVX::MVXString mSerialNumber;   // last serial number fetched
  MVX::MVXString mLastErrorText;  // last error text not yet handed out
  uint32_t mUniqueID = 0;         // serial-number hash; 0 = not yet computed
  // Lines that ReadReply took out of the reply ring but that belong to the
  // host (user messages, aborts, other replies), oldest first, without their
  // line feed. ReadLine delivers them before anything still in the ring.
  std::deque<std::string> mKeptLines;

  bool TakeKeptLine(char* buffer, int size);
  uint32_t KeptBytes() const;
  void DropStaleReplies(DMSWrapper& engine);
};

// Module-wide singletons of the host interface.
extern FinapresDevice* gDevice;     // the facade FindDevice made
extern FinapresDevice* gLastFound;  // set by construction, cleared by destruction

// The engine, constructed if there is none yet.
DMSWrapper& EnsureEngine();

// The module is being unloaded by its host (not at process exit): stops the
// device and the worker as CloseAll does, with or without a facade, but never
// waits without bound and makes no engine where there is none. Returns false
// when the worker did not end in time; the engine is then left alone, since
// its worker may still use it.
bool CloseForUnload();

}  // namespace corvane
