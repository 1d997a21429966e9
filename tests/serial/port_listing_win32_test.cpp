// The Windows listing through the real SetupAPI, against COM-port devices
// that the test registers in the prefix as a port driver would: an interface
// of the COM-port class marked linked (present), and the device's "PortName".
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "serial/com_port.h"
#include "serial/dev_reg_enum_win32.h"

namespace corvane {
namespace {

constexpr wchar_t kInterfaceClassKey[] =
    L"System\\CurrentControlSet\\Control\\DeviceClasses\\{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
constexpr wchar_t kEnumKey[] = L"System\\CurrentControlSet\\Enum\\";
constexpr wchar_t kPortsClass[] = L"{4d36e978-e325-11ce-bfc1-08002be10318}";

void SetString(HKEY key, const wchar_t* name, const std::wstring& value) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

HKEY CreateKey(const std::wstring& path) {
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS)
      << "cannot create the registry key";
  return key;
}

// One registered COM-port device, removed again when the object goes.
class RegisteredPort {
 public:
  RegisteredPort(const std::wstring& instanceId, std::optional<std::wstring> portName)
      : mInstanceId(instanceId) {
    std::wstring mangled = instanceId;
    std::replace(mangled.begin(), mangled.end(), L'\\', L'#');
    mInterfaceKey = std::wstring(kInterfaceClassKey) + L"\\##?#" + mangled +
                    L"#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";

    HKEY device = CreateKey(kEnumKey + instanceId);
    SetString(device, L"ClassGUID", kPortsClass);
    RegCloseKey(device);
    if (portName) {
      HKEY parameters = CreateKey(kEnumKey + instanceId + L"\\Device Parameters");
      SetString(parameters, L"PortName", *portName);
      RegCloseKey(parameters);
    }

    HKEY iface = CreateKey(mInterfaceKey);
    SetString(iface, L"DeviceInstance", instanceId);
    RegCloseKey(iface);
    HKEY reference = CreateKey(mInterfaceKey + L"\\#");
    SetString(reference, L"SymbolicLink", L"\\\\?\\" + mangled);
    RegCloseKey(reference);
    HKEY control = CreateKey(mInterfaceKey + L"\\#\\Control");
    const DWORD linked = 1;
    RegSetValueExW(control, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                   sizeof linked);
    RegCloseKey(control);
  }
  ~RegisteredPort() {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, mInterfaceKey.c_str());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, (kEnumKey + mInstanceId).c_str());
  }
  RegisteredPort(const RegisteredPort&) = delete;
  RegisteredPort& operator=(const RegisteredPort&) = delete;

 private:
  std::wstring mInstanceId;
  std::wstring mInterfaceKey;
};

// Only the ports this test registered; the prefix may hold others.
std::vector<MVX::MVXString> TestPorts(const std::vector<MVX::MVXString>& ports) {
  std::vector<MVX::MVXString> ours;
  for (const auto& port : ports) {
    if (port.rfind(L"\\\\.\\COM3", 0) == 0) ours.push_back(port);
  }
  return ours;
}

TEST(PortListingWin32, ListsPresentPortsWithANameAndWithoutAMarker) {
  // SetupAPI is loaded by the first listing, not before.
  EXPECT_EQ(GetModuleHandleW(L"setupapi.dll"), nullptr);
  EXPECT_EQ(SetupApiLoadCount(), 0);

  const RegisteredPort plain(L"FTDIBUS\\VID_0403+PID_6001+A1B2C3\\0000", L"COM31");
  const RegisteredPort otherInstrument(L"FTDIBUS\\VID_0403+PID_6001+0042CVLAB7\\0000", L"COM32");
  const RegisteredPort noPortName(L"FTDIBUS\\VID_0403+PID_6001+D4E5F6\\0000", std::nullopt);
  const RegisteredPort emptyPortName(L"FTDIBUS\\VID_0403+PID_6001+D4E5F7\\0000", L"");
  const RegisteredPort onBoard(L"ACPI\\PNP0501\\7", L"COM33");

  std::vector<MVX::MVXString> first = {L"left over"};
  EXPECT_TRUE(ListComPorts(first));
  EXPECT_NE(GetModuleHandleW(L"setupapi.dll"), nullptr);
  EXPECT_EQ(SetupApiLoadCount(), 1);
  std::vector<MVX::MVXString> ours = TestPorts(first);
  std::sort(ours.begin(), ours.end());
  EXPECT_EQ(ours, (std::vector<MVX::MVXString>{L"\\\\.\\COM31", L"\\\\.\\COM33"}));

  // The second listing enumerates afresh and gives the same list, in the
  // same order.
  std::vector<MVX::MVXString> second;
  EXPECT_TRUE(ListComPorts(second));
  EXPECT_EQ(second, first);
  EXPECT_EQ(SetupApiLoadCount(), 2);
}

}  // namespace
}  // namespace corvane
