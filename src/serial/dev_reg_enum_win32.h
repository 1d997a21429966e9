// One enumeration over the present devices of a device-interface class,
// through SetupAPI loaded at run time (never linked: the module must load on
// systems without it, and loading it costs nothing until a listing needs it).
#pragma once

#include <windows.h>

#include <string>

namespace corvane {

// The COM-port device-interface class {86E0D1E0-8089-11D0-9CE4-08003E301F73}.
extern const GUID kComPortInterfaceClass;

// Loads "SETUPAPI.DLL" and resolves its functions on the first call, all or
// nothing; later calls count the uses. True when the table is usable. Never
// call it while the module is being attached: loading a library under the
// loader lock can deadlock the host.
bool SetUpSetupApi();
// How often the table has been set up since it loaded (0 when not loaded).
int SetupApiLoadCount();

class DevRegEnum {
 public:
  // Opens the process-wide device-information set for `interfaceClass`, when
  // none is open and SetupAPI is loaded; otherwise the enumeration is empty.
  explicit DevRegEnum(const GUID& interfaceClass = kComPortInterfaceClass);
  // Destroys the device-information set if it is open.
  virtual ~DevRegEnum();
  DevRegEnum(const DevRegEnum&) = delete;
  DevRegEnum& operator=(const DevRegEnum&) = delete;

  // Fetches the device at the current index: true and advances, or false at
  // the end or on an error, which also ends the enumeration.
  virtual bool Next();
  // Keeps what follows the last `separator`, then what precedes the first
  // backslash.
  virtual void CutIdentifier(std::wstring& identifier, wchar_t separator) const;
  virtual bool GetInterfacePath(std::wstring& path) const;
  virtual const std::wstring& GetInstanceId() const { return mInstanceId; }
  virtual const std::wstring& GetFriendlyName() const { return mFriendlyName; }
  virtual const std::wstring& GetManufacturer() const { return mManufacturer; }
  // Reads the device at `index` of the set into the strings; true when its
  // interface and interface detail could be read.
  virtual bool Fetch(int index);

 private:
  std::wstring mFriendlyName;   // SPDRP_FRIENDLYNAME
  std::wstring mDescription;    // SPDRP_DEVICEDESC
  std::wstring mManufacturer;   // SPDRP_MFG
  std::wstring mInstanceId;     // e.g. FTDIBUS\VID_0403+PID_6001+A1B2C3\0000
  std::wstring mInterfacePath;  // the interface's device path
  const GUID& mInterfaceClass;  // the class enumerated
  DWORD mFlags;                 // DIGCF_ flags of the set
  int mIndex = -1;              // next index to fetch; -1 when finished
  int mLastIndex = -1;          // index last fetched; -1 when finished
};

// The "PortName" value under the device's "Device Parameters" key, or empty
// when the key or the value is missing.
std::wstring RegistryPortName(const std::wstring& instanceId);

}  // namespace corvane
