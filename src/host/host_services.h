// Access to the host framework's services, each obtained once, lazily.
#pragma once

#include "host/host_interfaces.h"

namespace corvane {

// The log service, or null when the host framework offers none.
HostLogService* LogService();
// The progress service, or null.
HostProgressService* ProgressService();
// Opens a progress window; the caller owns one reference of the result.
// Null when there is no progress service or it made no window.
HostProgress* OpenProgressWindow(const wchar_t* title, const wchar_t* text);

// Announces "description version" to the host framework's registration
// service when the version is a pre-release one; returns whether it did.
bool AnnounceIfPreRelease(const wchar_t* description, const wchar_t* version);

// Routes the module log to the log service.
void ConnectModuleLog();
// Lets the layers below open the host's progress windows.
void ConnectProgressWindows();

// Releases the services still held; for process exit.
void ReleaseHostServices();

// The platform's way to the host framework (host_services_win32/posix.cpp).
namespace hostkit {
// Asks the host framework for interface `iid` of its class; null on failure.
void* GetClassObject(const Guid& iid);
// Makes the host framework reachable (OLE, or loading the library); runs once.
void Prepare();
}  // namespace hostkit

}  // namespace corvane
