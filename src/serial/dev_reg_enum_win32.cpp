#include "serial/dev_reg_enum_win32.h"

#include <setupapi.h>

#include <vector>

#include "platform/dynamic_library.h"
#include "serial/port_listing.h"

namespace corvane {

const GUID kComPortInterfaceClass = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

namespace {

using GetDeviceInstanceIdFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, PWSTR, DWORD, PDWORD);
using GetInterfaceDetailFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVICE_INTERFACE_DATA,
                                           PSP_DEVICE_INTERFACE_DETAIL_DATA_W, DWORD, PDWORD,
                                           PSP_DEVINFO_DATA);
using EnumInterfacesFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, const GUID*, DWORD,
                                       PSP_DEVICE_INTERFACE_DATA);
using GetClassDevsFn = HDEVINFO(WINAPI*)(const GUID*, PCWSTR, HWND, DWORD);
using DestroyDeviceInfoListFn = BOOL(WINAPI*)(HDEVINFO);
using GetRegistryPropertyFn = BOOL(WINAPI*)(HDEVINFO, PSP_DEVINFO_DATA, DWORD, PDWORD, PBYTE, DWORD,
                                            PDWORD);
using EnumDeviceInfoFn = BOOL(WINAPI*)(HDEVINFO, DWORD, PSP_DEVINFO_DATA);

// SetupAPI's functions, usable only when every one of them was found.
struct SetupApiTable {
  bool attempted = false;            // the load has been tried
  bool loaded = false;               // every function was found
  int loadCount = 0;                 // set-ups since the load
  platform::DynamicLibrary library;  // SETUPAPI.DLL while loaded
  GetDeviceInstanceIdFn getDeviceInstanceId = nullptr;
  GetInterfaceDetailFn getInterfaceDetail = nullptr;
  EnumInterfacesFn enumInterfaces = nullptr;
  GetClassDevsFn getClassDevs = nullptr;
  DestroyDeviceInfoListFn destroyDeviceInfoList = nullptr;
  GetRegistryPropertyFn getRegistryProperty = nullptr;
  EnumDeviceInfoFn enumDeviceInfo = nullptr;
};

SetupApiTable gSetupApi;

// The one device-information set of the process; INVALID_HANDLE_VALUE when
// no enumeration is running.
HDEVINFO gDeviceInfoSet = INVALID_HANDLE_VALUE;

template <typename Fn>
Fn Resolve(const char* name, const char* fallback = nullptr) {
  void* address = gSetupApi.library.Symbol(name);
  if (address == nullptr && fallback != nullptr) address = gSetupApi.library.Symbol(fallback);
  return reinterpret_cast<Fn>(address);
}

void DestroyDeviceInfoSet() {
  if (gDeviceInfoSet == INVALID_HANDLE_VALUE) return;
  if (gSetupApi.loaded) gSetupApi.destroyDeviceInfoList(gDeviceInfoSet);
  gDeviceInfoSet = INVALID_HANDLE_VALUE;
}

// A registry property of the device as text, or empty when it has none.
std::wstring RegistryProperty(PSP_DEVINFO_DATA device, DWORD property) {
  DWORD bytes = 0;
  gSetupApi.getRegistryProperty(gDeviceInfoSet, device, property, nullptr, nullptr, 0, &bytes);
  if (bytes == 0) return {};
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (!gSetupApi.getRegistryProperty(gDeviceInfoSet, device, property, nullptr,
                                     reinterpret_cast<PBYTE>(text.data()), bytes, nullptr)) {
    return {};
  }
  return text.data();
}

// Owns an open registry key.
class RegistryKey {
 public:
  RegistryKey(HKEY parent, const std::wstring& path) {
    if (RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &mKey) != ERROR_SUCCESS) mKey = nullptr;
  }
  ~RegistryKey() {
    if (mKey != nullptr) RegCloseKey(mKey);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  HKEY Get() const { return mKey; }

 private:
  HKEY mKey = nullptr;  // null when the key could not be opened
};

}  // namespace

bool SetUpSetupApi() {
  if (gSetupApi.attempted) {
    if (gSetupApi.loaded) ++gSetupApi.loadCount;
    return gSetupApi.loaded;
  }
  gSetupApi.attempted = true;
  gSetupApi.library = platform::DynamicLibrary::Open(L"SETUPAPI.DLL");
  if (!gSetupApi.library.IsLoaded()) return false;
  gSetupApi.getDeviceInstanceId = Resolve<GetDeviceInstanceIdFn>("SetupDiGetDeviceInstanceIdW");
  gSetupApi.getInterfaceDetail = Resolve<GetInterfaceDetailFn>("SetupDiGetDeviceInterfaceDetailW",
                                                               "SetupDiGetInterfaceDeviceDetailW");
  gSetupApi.enumInterfaces =
      Resolve<EnumInterfacesFn>("SetupDiEnumInterfaceDevice", "SetupDiEnumDeviceInterfaces");
  gSetupApi.getClassDevs = Resolve<GetClassDevsFn>("SetupDiGetClassDevsW");
  gSetupApi.destroyDeviceInfoList =
      Resolve<DestroyDeviceInfoListFn>("SetupDiDestroyDeviceInfoList");
  gSetupApi.getRegistryProperty =
      Resolve<GetRegistryPropertyFn>("SetupDiGetDeviceRegistryPropertyW");
  gSetupApi.enumDeviceInfo = Resolve<EnumDeviceInfoFn>("SetupDiEnumDeviceInfo");
  gSetupApi.loaded = gSetupApi.getDeviceInstanceId && gSetupApi.getInterfaceDetail &&
                     gSetupApi.enumInterfaces && gSetupApi.getClassDevs &&
                     gSetupApi.destroyDeviceInfoList && gSetupApi.getRegistryProperty &&
                     gSetupApi.enumDeviceInfo;
  if (!gSetupApi.loaded) {
    gSetupApi.library.Close();
    return false;
  }
  gSetupApi.loadCount = 1;
  return true;
}

int SetupApiLoadCount() { return gSetupApi.loaded ? gSetupApi.loadCount : 0; }

DevRegEnum::DevRegEnum(const GUID& interfaceClass)
    : mInterfaceClass(interfaceClass), mFlags(DIGCF_PRESENT | DIGCF_DEVICEINTERFACE) {
  if (gDeviceInfoSet != INVALID_HANDLE_VALUE || !gSetupApi.loaded) return;
  gDeviceInfoSet = gSetupApi.getClassDevs(&mInterfaceClass, nullptr, nullptr, mFlags);
  if (gDeviceInfoSet != INVALID_HANDLE_VALUE) mIndex = 0;
}

DevRegEnum::~DevRegEnum() { DestroyDeviceInfoSet(); }

bool DevRegEnum::Next() {
  if (mIndex < 0) return false;
  if (Fetch(mIndex)) {
    mLastIndex = mIndex;
    ++mIndex;
    return true;
  }
  DestroyDeviceInfoSet();
  mIndex = -1;
  mLastIndex = -1;
  return false;
}

void DevRegEnum::CutIdentifier(std::wstring& identifier, wchar_t separator) const {
  corvane::CutIdentifier(identifier, separator);
}

bool DevRegEnum::GetInterfacePath(std::wstring& path) const {
  path = mInterfacePath;
  return true;
}

bool DevRegEnum::Fetch(int index) {
  if (gDeviceInfoSet == INVALID_HANDLE_VALUE || index < 0) return false;
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  interfaceData.cbSize = sizeof interfaceData;
  if (!gSetupApi.enumInterfaces(gDeviceInfoSet, nullptr, &mInterfaceClass,
                                static_cast<DWORD>(index), &interfaceData)) {
    return false;
  }

  DWORD detailBytes = 0;
  gSetupApi.getInterfaceDetail(gDeviceInfoSet, &interfaceData, nullptr, 0, &detailBytes, nullptr);
  if (detailBytes < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W)) return false;
  // DWORD elements keep the record aligned as the system expects.
  std::vector<DWORD> storage(detailBytes / sizeof(DWORD) + 1, 0);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(storage.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (!gSetupApi.getInterfaceDetail(gDeviceInfoSet, &interfaceData, detail, detailBytes, nullptr,
                                    &device)) {
    return false;
  }
  mInterfacePath = detail->DevicePath;

  mInstanceId.clear();
  DWORD idChars = 0;
  gSetupApi.getDeviceInstanceId(gDeviceInfoSet, &device, nullptr, 0, &idChars);
  if (idChars > 0) {
    std::vector<wchar_t> id(idChars + 1, L'\0');
    if (gSetupApi.getDeviceInstanceId(gDeviceInfoSet, &device, id.data(), idChars + 1, nullptr)) {
      mInstanceId = id.data();
    }
  }
  mManufacturer = RegistryProperty(&device, SPDRP_MFG);
  mFriendlyName = RegistryProperty(&device, SPDRP_FRIENDLYNAME);
  mDescription = RegistryProperty(&device, SPDRP_DEVICEDESC);
  return true;
}

std::wstring RegistryPortName(const std::wstring& instanceId) {
  const RegistryKey key(HKEY_LOCAL_MACHINE,
                        L"System\\CurrentControlSet\\Enum\\" + instanceId + L"\\Device Parameters");
  if (key.Get() == nullptr) return {};
  DWORD type = 0;
  DWORD bytes = 0;
  if (RegQueryValueExW(key.Get(), L"PortName", nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS ||
      type != REG_SZ || bytes == 0) {
    return {};
  }
  // One character more than asked for: the stored text need not end in NUL.
  std::vector<wchar_t> text(bytes / sizeof(wchar_t) + 1, L'\0');
  if (RegQueryValueExW(key.Get(), L"PortName", nullptr, nullptr,
                       reinterpret_cast<LPBYTE>(text.data()), &bytes) != ERROR_SUCCESS) {
    return {};
  }
  return text.data();
}

}  // namespace corvane
