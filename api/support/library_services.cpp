// The library-wide services: the support-object factory, the two log singletons, the machine-wide
// process lock and the crash record.
#include <cstring>
#include <memory>

#include "api/support/global_tools.h"
#include "api/support/jobs/jobs.h"
#include "api/support/log/log.h"
#include "api/support/parser/krill_parser.h"
#include "api/support/serial/serial.h"
#include "platform/crash_dump.h"
#include "platform/fs.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/text.h"

namespace IGlobalTools {

namespace {

constexpr char16_t kProcessLockName[] = u"Global\\KrillMbn{51766A46-2426-441F-8408-074C1A87F53A}MutexLock";
constexpr char16_t kCrashDumpPath[] = u"C:\\Windows\\Minidump\\krillTXLApi.dump";

// Class ids are told apart byte for byte, as callers that build them from raw bytes expect.
bool SameClass(const plat::GUID& a, const plat::GUID& b) { return std::memcmp(&a, &b, sizeof(plat::GUID)) == 0; }

// Made on first use with the library's own reference on top of the creator's, so that no caller's
// Release can destroy it.
CLog* SharedChannelLog() {
  static CLog* const log = [] {
    CLog* made = new CLog;
    made->AddRef();
    return made;
  }();
  return log;
}

}  // namespace

int CreateToolObject(const plat::GUID& class_id, void** object) {
  if (!object) return 0;
  *object = nullptr;
  try {
    if (SameClass(class_id, CLSID_CLogEx)) {
      *object = static_cast<ILogEx*>(new CLogEx);
      return 1;
    }
    if (SameClass(class_id, CLSID_CLog)) {
      CLog* log = SharedChannelLog();
      log->AddRef();
      *object = static_cast<ILog*>(log);
      return 1;
    }
    if (SameClass(class_id, CLSID_CMbimDeviceEx)) {
      IMbimChannel* channel = NewMbimDeviceEx();
      *object = channel;
      return channel ? 1 : 0;
    }
    if (SameClass(class_id, CLSID_CKrillParser)) {
      *object = static_cast<IAtParser*>(new CKrillParser);
      return 1;
    }
    if (SameClass(class_id, CLSID_CSerial)) {
      *object = static_cast<IDeviceMsg*>(new CSerial);
      return 1;
    }
    if (SameClass(class_id, CLSID_CThreadQueue)) {
      *object = static_cast<IThreadQueue*>(new CThreadQueue);
      return 1;
    }
    if (SameClass(class_id, CLSID_CThreadPools)) {
      *object = static_cast<IThreadPools*>(new CThreadPools);
      return 1;
    }
    return 0;
  } catch (...) {
    *object = nullptr;
    return 0;
  }
}

ILogEx* GetApiLog() {
  static ILogEx* const log = []() -> ILogEx* {
    void* made = nullptr;
    if (!CreateToolObject(CLSID_CLogEx, &made)) return nullptr;
    auto* api_log = static_cast<ILogEx*>(made);
    api_log->SetLogFile(plat::ToAnsi(plat::FolderOf(plat::HostExecutablePath())) + "UpdateDebugLog.log");
    return api_log;
  }();
  return log;
}

ILog* GetChannelLog() {
  CLog* log = SharedChannelLog();
  log->AddRef();
  return log;
}

struct ProcessLock::Handle {
  std::unique_ptr<plat::NamedMutex> mutex;
};

ProcessLock::ProcessLock() : handle_(std::make_unique<Handle>()) {}
ProcessLock::~ProcessLock() = default;

void ProcessLock::OpenProcessLock() {
  if (!handle_->mutex) handle_->mutex = plat::OpenNamedMutex(kProcessLockName);
}

void ProcessLock::WaitProcessLock() {
  if (handle_->mutex) handle_->mutex->Wait();
}

void ProcessLock::ReleaseProcessLock() {
  if (handle_->mutex) handle_->mutex->Release();
}

void ProcessLock::CloseProcessLock() { handle_->mutex.reset(); }

bool ProcessLock::IsOpen() const { return handle_->mutex != nullptr; }

ProcessLockScope::ProcessLockScope() {
  lock_.OpenProcessLock();
  lock_.WaitProcessLock();
}

ProcessLockScope::~ProcessLockScope() {
  lock_.ReleaseProcessLock();
  lock_.CloseProcessLock();
}

ProcessLock& LibraryProcessLock() {
  // Never destroyed: the unload hook closes it, and may run after static destruction.
  static auto* lock = new ProcessLock;
  return *lock;
}

bool InstallCrashDumpFilter() { return plat::InstallCrashDumpWriter(kCrashDumpPath); }

}  // namespace IGlobalTools
