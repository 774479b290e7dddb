// The library's load and unload: it holds its handle on the machine-wide process lock from one to
// the other.
#include "api/support/global_tools.h"
#include "platform/dll.h"

namespace {

void OnProcessAttach() { IGlobalTools::LibraryProcessLock().OpenProcessLock(); }
void OnProcessDetach() { IGlobalTools::LibraryProcessLock().CloseProcessLock(); }

}  // namespace

TXL_DLL_ENTRY(OnProcessAttach, OnProcessDetach)
