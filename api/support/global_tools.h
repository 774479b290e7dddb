// The control library's support objects: the interfaces they implement, the class ids they are
// created from, and the library-wide services around them (the two logs, the machine-wide
// process lock, the crash-dump filter).
//
// These interfaces stay inside krillTXLApi; nothing of them crosses a library boundary.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/com.h"

namespace IGlobalTools {

// Log levels the library writes at.
inline constexpr int kLevelFailure = 0;
inline constexpr int kLevelInformation = 2;

// The channel log: a reference-counted singleton whose path is derived again for every line.
struct ILog {
  virtual ~ILog() = default;
  virtual void SetLogFile(const std::string& path) = 0;
  // Writes one line when `level` passes the configured LOG_LV; returns the level.
  virtual int WriteLog(int level, const char* format, ...) = 0;
  virtual void Release() = 0;
  virtual long AddRef() = 0;
};

// The API log: its file is fixed by the first SetLogFile.
struct ILogEx {
  virtual ~ILogEx() = default;
  virtual void SetLogFile(const std::string& path) = 0;
  virtual int WriteLog(int level, const char* format, ...) = 0;
  virtual void Release() = 0;
};

// AT reply text operations (created by class id; no export uses them).
struct IAtParser {
  virtual ~IAtParser() = default;
  // Decodes reply bytes into text, appended to *out.
  virtual void ParseReply(const std::uint8_t* reply, std::size_t length, std::string* out) = 0;
  virtual std::string KeepChars(std::string text, std::string allowed) = 0;
  virtual std::string RemoveChars(std::string text, std::string removed) = 0;
  virtual std::string HexToDecimal(std::string text) = 0;
  virtual void SplitText(std::string text, std::string separator, std::vector<std::string>* out) = 0;
  virtual std::string TextBetween(std::string text, std::string start, std::string end) = 0;
  virtual void Release() = 0;
};

// The library's own MBIM command channel to the modem's AT command service.
struct IMbimChannel {
  virtual ~IMbimChannel() = default;
  virtual plat::HRESULT Open() = 0;
  // One command exchange: opens the command session, sends `data` as command `command_id`,
  // collects the reply (through `parser` when given), closes the session.
  virtual plat::HRESULT ExecuteCmd(const std::uint8_t* data, std::size_t length, std::string* reply, IAtParser* parser,
                                   const char16_t* service_id, std::uint32_t command_id) = 0;
  virtual plat::HRESULT OpenCommandSession(const char16_t* service_id) = 0;
  virtual plat::HRESULT SendData(const std::uint8_t* data, std::size_t length, std::uint32_t command_id) = 0;
  virtual plat::HRESULT Recvmsg(std::string* reply) = 0;
  virtual void CloseCommandSession() = 0;
  virtual plat::HRESULT OpenDataSession(const char16_t* service_id) = 0;
  virtual plat::HRESULT RecvDataMsg(std::string* reply) = 0;
  virtual IMbimChannel* CloseDataSession() = 0;
  // Unadvises, releases everything and destroys the object.
  virtual void Close() = 0;
};

// The serial-port channel (api/support/serial), the job queue and the thread pool
// (api/support/jobs): created by class id; their interfaces are declared with their classes.
struct IDeviceMsg;
struct IThreadQueue;
struct IThreadPools;

// Class ids, compared as 16 raw bytes.
inline constexpr plat::GUID CLSID_CMbimDeviceEx = {
    0x0D7106B7, 0x0854, 0x45D7, {0xB3, 0x3A, 0x6F, 0x59, 0x47, 0xD6, 0xDD, 0xC3}};
inline constexpr plat::GUID CLSID_CLogEx = {
    0xBCA8E793, 0x5409, 0x4F2B, {0xB9, 0x4B, 0x5B, 0xCC, 0xB9, 0x83, 0xC4, 0xFB}};
inline constexpr plat::GUID CLSID_CThreadPools = {
    0x30411C59, 0xEE89, 0x4045, {0x9D, 0xA6, 0xBB, 0x08, 0xED, 0x19, 0x52, 0x10}};
inline constexpr plat::GUID CLSID_CThreadQueue = {
    0x163BD942, 0xBF34, 0x46DA, {0xA1, 0x6D, 0xA0, 0xFE, 0xCE, 0x85, 0x0C, 0xC7}};
inline constexpr plat::GUID CLSID_CKrillParser = {
    0xF893A925, 0x01D7, 0x4DC2, {0xBC, 0x7B, 0xE2, 0x35, 0x8E, 0x45, 0xC4, 0xD2}};
inline constexpr plat::GUID CLSID_CLog = {
    0xFD0294BF, 0xED5A, 0x43CE, {0xBC, 0x53, 0xB8, 0x5D, 0xA8, 0xBB, 0x05, 0x21}};
inline constexpr plat::GUID CLSID_CSerial = {
    0x82F20A40, 0xCC00, 0x44F5, {0xBE, 0xBB, 0xE2, 0x49, 0x45, 0x14, 0x87, 0x1A}};

// Creates the support object of a class id: 1 with *object set (to the interface of that class,
// e.g. IMbimChannel* for CLSID_CMbimDeviceEx), 0 for an unknown id or a failed construction.
int CreateToolObject(const plat::GUID& class_id, void** object);

// A new channel object of the library's MBIM command channel (built in api/support/mbim); null
// when it cannot be constructed. CreateToolObject(CLSID_CMbimDeviceEx) hands these out.
IMbimChannel* NewMbimDeviceEx();

// The API log singleton ("UpdateDebugLog.log" beside the executable); never released.
ILogEx* GetApiLog();
// The channel log singleton with one more reference, which the caller releases.
ILog* GetChannelLog();

// A handle on the machine-wide lock "Global\KrillMbn{51766A46-2426-441F-8408-074C1A87F53A}MutexLock"
// that makes every MBIM command exchange exclusive across threads and processes. The library holds
// one from load to unload; every channel object opens its own. Each operation does nothing while
// no handle is held.
class ProcessLock {
 public:
  ProcessLock();
  ~ProcessLock();
  ProcessLock(const ProcessLock&) = delete;
  ProcessLock& operator=(const ProcessLock&) = delete;
  void OpenProcessLock();     // create or open the named lock, keep the handle
  void WaitProcessLock();     // wait without time limit
  void ReleaseProcessLock();
  void CloseProcessLock();
  bool IsOpen() const;

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};
// The library's own handle.
ProcessLock& LibraryProcessLock();

// Holds the machine-wide process lock from construction to destruction: an export takes one for
// its whole modem work, so that its read-modify-write of the modem (read the record, change it,
// write it back; switch, then read back) cannot interleave with another process's. The lock is
// re-entrant per thread, so the command exchanges inside (ExecuteCmd) and an export called from
// another export take it again without waiting. The scope opens a handle of its own rather than
// borrowing the library's, which the load hook may not have opened (a program linked with the
// library's objects has no load hook) and which the unload hook may close.
class ProcessLockScope {
 public:
  ProcessLockScope();
  ~ProcessLockScope();
  ProcessLockScope(const ProcessLockScope&) = delete;
  ProcessLockScope& operator=(const ProcessLockScope&) = delete;

 private:
  ProcessLock lock_;
};

// Installs the library's crash record: a process that crashes unhandled writes
// "C:\Windows\Minidump\krillTXLApi.dump" (on POSIX inside the simulated notebook) when that file
// does not exist yet. May be called any number of times. False when it cannot be installed.
bool InstallCrashDumpFilter();

// Sends one AT text over the library's own MBIM channel (api/support/mbim/send_at.cpp), with the
// results of api/result.h: kSucceeded reply non-empty, kNoChannelObject, kNotAvailable Open failed,
// kCommandFailed ExecuteCmd failed, kUnusableReply empty reply. *reply receives what was collected
// in every case.
int SendAtCommand(const std::string& command, std::string* reply);

// The result of a direct-road exchange as the exports count it: SendAtCommand's own failure as it
// is; then kUnusableReply for a reply that holds "ERROR" (a modem that refused the command,
// whatever else the reply says), and for a reply without "OK" when `ok_required`.
int DirectReplyResult(int sent, const std::string& reply, bool ok_required);

}  // namespace IGlobalTools
