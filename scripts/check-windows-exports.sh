#!/usr/bin/env bash
# Checks the Windows build's module and simulated Controller library: 32-bit
# PE DLLs with the undecorated exports a host and the module look up.
set -euo pipefail
cd "$(dirname "$0")/.."
module_exports=(GetDeviceClassInfo FindDevice Initialise CloseAll IsFailed WriteBuffer
  ReadLine ReadBuffer ReadBuffSize FlushReadBuffer GetUniqueID GetLastErrorMsg
  InitOnMainThread CleanupOnMainThread SetBaudRate GetBaudRate CanUseBaudRate)
sim_exports=(DMS_Connect DMS_GetStatus DMS_SetCuffSwitching DMS_GetMarkerSamples)
bash scripts/check-pe.sh build/windows/src/Corvane.kvwdll "${module_exports[@]}"
bash scripts/check-pe.sh build/windows/tools/sim_controller/DMSFinapresAPI_C.dll "${sim_exports[@]}"
