#include <windows.h>

#include <string>

#include "support/path.h"
#include "wrist_unit.h"

namespace corvane::testing {
namespace {

// The fixture (sim_vivezore.sh) links this port to the simulator's
// pseudo-terminal and keeps the settings file beside the test.
constexpr wchar_t kPortName[] = L"COM41";
constexpr wchar_t kInstanceId[] = L"FTDIBUS\\VID_0403+PID_6001+VZSIM41\\0000";
constexpr wchar_t kMangledId[] = L"FTDIBUS#VID_0403+PID_6001+VZSIM41#0000";
constexpr wchar_t kInterfaceKey[] =
    L"System\\CurrentControlSet\\Control\\DeviceClasses\\{86e0d1e0-8089-11d0-9ce4-08003e301f73}"
    L"\\##?#FTDIBUS#VID_0403+PID_6001+VZSIM41#0000#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
constexpr wchar_t kEnumKey[] =
    L"System\\CurrentControlSet\\Enum\\FTDIBUS\\VID_0403+PID_6001+VZSIM41\\0000";
constexpr wchar_t kPortsClass[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}";

bool SetValue(const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
              DWORD size) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const bool ok =
      RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool SetString(const std::wstring& path, const wchar_t* name, const std::wstring& value) {
  return SetValue(path, name, REG_SZ, value.c_str(),
                  static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void Unregister() {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kInterfaceKey);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kEnumKey);
}

}  // namespace

WristUnit::WristUnit() {
  mSettings = std::filesystem::path((MVX::Path() / L"vivezore_settings.txt").Wide());
  mSendLog = std::filesystem::path((MVX::Path() / L"vivezore_sent.txt").Wide());
  // A present COM-port device with its port name, as a USB adapter's driver
  // leaves it.
  const DWORD linked = 1;
  const std::wstring iface = kInterfaceKey;
  mRunning = SetString(kEnumKey, L"ClassGUID", kPortsClass) &&
             SetString(std::wstring(kEnumKey) + L"\\Device Parameters", L"PortName", kPortName) &&
             SetString(iface, L"DeviceInstance", kInstanceId) &&
             SetString(iface + L"\\#", L"SymbolicLink", std::wstring(L"\\\\?\\") + kMangledId) &&
             SetValue(iface + L"\\#\\Control", L"Linked", REG_DWORD, &linked, sizeof linked);
}

WristUnit::~WristUnit() { Unregister(); }

bool WristUnit::Running() const { return mRunning && std::filesystem::exists(mSettings); }

bool VendorLibraryLoaded() { return GetModuleHandleW(L"DMSFinapresAPI_C.dll") != nullptr; }

}  // namespace corvane::testing
