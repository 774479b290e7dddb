// The library's load and unload: the dated log file is opened on attach and closed on detach.
#include "bridge/log/bridge_log.h"
#include "platform/dll.h"

TXL_DLL_ENTRY(vexel::OnProcessAttach, vexel::OnProcessDetach)
