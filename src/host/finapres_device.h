// The device facade behind the exported functions: turns each host call into
// an exchange of text lines with the engine. It never touches the device.
#pragma once

#include <cstdint>

#include "support/mvx_string.h"

namespace corvane {

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

  // Sends one command and reads one reply; true only for "<OK".
  bool SendCommand(const MVX::MVXString& command);
  // Sends one query; true when the reply begins with "=", which is removed.
  bool Query(const MVX::MVXString& command, MVX::MVXString& out);
  // Waits up to 5000 ms for one reply line; empty when none came.
  MVX::MVXString ReadReply();

  static constexpr uint32_t kReplyTimeoutMs = 5000;
  static constexpr int kReplyBufferSize = 2048;

 private:
  MVX::MVXString mSerialNumber;   // last serial number fetched
  MVX::MVXString mLastErrorText;  // last error text not yet handed out
  uint32_t mUniqueID = 0;         // serial-number hash; 0 = not yet computed
};

// Module-wide singletons of the host interface.
extern FinapresDevice* gDevice;     // the facade FindDevice made
extern FinapresDevice* gLastFound;  // set by construction, cleared by destruction

// The engine, constructed if there is none yet.
class DMSWrapper;
DMSWrapper& EnsureEngine();

// The module is being unloaded by its host (not at process exit): stops the
// device and the worker as CloseAll does, with or without a facade, but never
// waits without bound and makes no engine where there is none. Returns false
// when the worker did not end in time; the engine is then left alone, since
// its worker may still use it.
bool CloseForUnload();

}  // namespace corvane
