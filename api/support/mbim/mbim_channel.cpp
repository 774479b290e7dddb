#include "api/support/mbim/mbim_channel.h"

#include <new>
#include <utility>

#include "platform/process.h"
#include "platform/text.h"

namespace IGlobalTools {

namespace {

constexpr plat::HRESULT kGenericFailure = plat::E_FAIL;

unsigned Bits(plat::HRESULT hr) { return static_cast<unsigned>(hr); }
int AsInt(plat::ULONG v) { return static_cast<int>(v); }

plat::DWORD WaitOn(const std::unique_ptr<plat::Event>& event, plat::DWORD timeout_ms) {
  return event ? event->Wait(timeout_ms) : plat::WAIT_FAILED;
}

template <class... Args>
void ApiLog(int level, const char* format, Args... args) {
  if (ILogEx* log = GetApiLog()) log->WriteLog(level, format, args...);
}

}  // namespace

// ---- The sink ----------------------------------------------------------------------------------------

CDefaultServiceEvent::CDefaultServiceEvent(ILog* log)
    : response_(plat::CreateEventObject(false, false)),
      session_(plat::CreateEventObject(false, false)),
      data_session_(plat::CreateEventObject(false, false)),
      published_(plat::CreateEventObject(true, false)) {
  if (log) {
    log->AddRef();
    log_.reset(log);
  }
}

bool CDefaultServiceEvent::Usable() const { return response_ && session_ && data_session_ && published_; }

void CDefaultServiceEvent::ResetForCommand() {
  std::lock_guard<std::mutex> lock(lock_);
  if (session_) session_->Reset();
  if (response_) response_->Reset();
  expected_id_ = 0;
  if (published_) published_->Reset();
  buffer_.clear();
}

void CDefaultServiceEvent::PublishRequest(plat::ULONG request_id) {
  std::lock_guard<std::mutex> lock(lock_);
  expected_id_ = request_id;
  if (published_) published_->Set();
}

plat::DWORD CDefaultServiceEvent::WaitSession() { return WaitOn(session_, kSessionWaitMs); }

plat::DWORD CDefaultServiceEvent::WaitDataSession() { return WaitOn(data_session_, kDataSessionWaitMs); }

plat::DWORD CDefaultServiceEvent::TakeResponse(std::string* reply) {
  const plat::DWORD waited = WaitOn(response_, kResponseWaitMs);
  std::lock_guard<std::mutex> lock(lock_);
  if (waited == plat::WAIT_OBJECT_0) {
    if (reply) *reply = std::move(buffer_);
    buffer_.clear();
  }
  expected_id_ = 0;
  if (published_) published_->Reset();
  return waited;
}

void CDefaultServiceEvent::Detach() {
  std::lock_guard<std::mutex> lock(lock_);
  detached_ = true;
  expected_id_ = 0;
  if (published_) published_->Set();
}

plat::HRESULT CDefaultServiceEvent::QueryInterface(plat::REFIID riid, void** ppvObject) {
  if (!ppvObject) return plat::E_POINTER;
  *ppvObject = nullptr;
  if (riid != plat::IID_IMbnDeviceServicesEvents) return plat::E_NOINTERFACE;
  *ppvObject = static_cast<plat::IMbnDeviceServicesEvents*>(this);
  AddRef();
  return plat::S_OK;
}

plat::ULONG CDefaultServiceEvent::AddRef() { return refs_.Inc(); }

plat::ULONG CDefaultServiceEvent::Release() {
  const plat::ULONG left = refs_.Dec();
  if (left == 0) delete this;
  return left;
}

bool CDefaultServiceEvent::AppendLocked(plat::SAFEARRAY* data, long* appended) {
  *appended = 0;
  if (!data) return false;
  plat::LONG lower = 0;
  plat::LONG upper = -1;
  if (plat::Failed(plat::SafeArrayGetLBound(data, 1, &lower)) || plat::Failed(plat::SafeArrayGetUBound(data, 1, &upper)))
    return false;
  const long long count = static_cast<long long>(upper) - lower + 1;
  if (count <= 0) return true;
  void* bytes = nullptr;
  if (plat::Failed(plat::SafeArrayAccessData(data, &bytes)) || !bytes) return false;
  try {
    buffer_.append(static_cast<const char*>(bytes), static_cast<std::size_t>(count));
    *appended = static_cast<long>(count);
  } catch (...) {
    plat::SafeArrayUnaccessData(data);
    return false;
  }
  plat::SafeArrayUnaccessData(data);
  return true;
}

plat::HRESULT CDefaultServiceEvent::OnQuerySupportedCommandsComplete(plat::IMbnDeviceService*, plat::SAFEARRAY*,
                                                                     plat::HRESULT, plat::ULONG) {
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnOpenCommandSessionComplete(plat::IMbnDeviceService*, plat::HRESULT status,
                                                                 plat::ULONG requestID) {
  Log(kLevelFailure, "[info]OnOpenCommandSessionComplete status=0x%x, requestID=%d", Bits(status), AsInt(requestID));
  if (session_) session_->Set();
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnCloseCommandSessionComplete(plat::IMbnDeviceService*, plat::HRESULT status,
                                                                  plat::ULONG requestID) {
  Log(kLevelFailure, "[info]OnCloseCommandSessionComplete status=0x%x, requestID=%d", Bits(status), AsInt(requestID));
  if (session_) session_->Set();
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnSetCommandComplete(plat::IMbnDeviceService*, plat::ULONG,
                                                         plat::SAFEARRAY* deviceServiceData, plat::HRESULT status,
                                                         plat::ULONG requestID) {
  Log(kLevelInformation, "[Success] OnSetCommandComplete called! Request id is %d.", AsInt(requestID));
  // The completion can overtake the issuer, which learns the request id only when SetCommand returns.
  if (WaitOn(published_, kRequestPublishWaitMs) != plat::WAIT_OBJECT_0) {
    plat::ULONG current = 0;
    {
      std::lock_guard<std::mutex> lock(lock_);
      current = expected_id_;
    }
    Log(kLevelInformation, "[Fail] OnSetCommandComplete get RequestId Fail. Current Id Is %d.", AsInt(current));
    return plat::S_OK;
  }
  std::lock_guard<std::mutex> lock(lock_);
  if (detached_) return plat::S_OK;
  if (requestID != expected_id_) {
    Log(kLevelInformation, "[Warning] OnSetCommandComplete called! Request id is %d---%d. Not Match.",
        AsInt(requestID), AsInt(expected_id_));
    return plat::S_OK;
  }
  if (status != plat::S_OK) {
    Log(kLevelInformation, "[Fail]OnSetCommandComplete but Fail! Return state 0x%x", Bits(status));
  } else {
    long appended = 0;
    if (AppendLocked(deviceServiceData, &appended))
      Log(kLevelInformation, "[success] Get At Response Success. Length %d", static_cast<int>(appended));
    else
      Log(kLevelInformation, "[Fail] Get At Response Success. Length %d", static_cast<int>(appended));
  }
  if (response_) response_->Set();
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnQueryCommandComplete(plat::IMbnDeviceService*, plat::ULONG, plat::SAFEARRAY*,
                                                           plat::HRESULT, plat::ULONG) {
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnEventNotification(plat::IMbnDeviceService*, plat::ULONG, plat::SAFEARRAY*) {
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnOpenDataSessionComplete(plat::IMbnDeviceService*, plat::HRESULT, plat::ULONG) {
  if (data_session_) data_session_->Set();
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnCloseDataSessionComplete(plat::IMbnDeviceService*, plat::HRESULT, plat::ULONG) {
  if (data_session_) data_session_->Set();
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnWriteDataComplete(plat::IMbnDeviceService*, plat::HRESULT, plat::ULONG) {
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnReadData(plat::IMbnDeviceService*, plat::SAFEARRAY* deviceServiceData) {
  std::lock_guard<std::mutex> lock(lock_);
  if (detached_) return plat::S_OK;
  long appended = 0;
  AppendLocked(deviceServiceData, &appended);
  if (response_) response_->Set();
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnInterfaceStateChange(plat::BSTR, plat::MBN_DEVICE_SERVICES_INTERFACE_STATE) {
  return plat::S_OK;
}

// ---- The channel -------------------------------------------------------------------------------------

CMbimDeviceEx::CMbimDeviceEx(ILog* channel_log) : log_(channel_log) { process_lock_.OpenProcessLock(); }

CMbimDeviceEx::~CMbimDeviceEx() { process_lock_.CloseProcessLock(); }

plat::HRESULT CMbimDeviceEx::Open() {
  const plat::HRESULT init = plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED);
  if (plat::Failed(init)) {
    Log(kLevelInformation, "[error]Open() COM Initialize failed");
    return init;
  }
  com_initialized_ = true;

  plat::HRESULT hr = plat::CoCreateInstance(plat::CLSID_MbnInterfaceManager, nullptr, plat::CLSCTX_ALL,
                                            plat::IID_IMbnInterfaceManager, interface_manager_.put_void());
  if (plat::Failed(hr) || !interface_manager_) {
    Log(kLevelInformation, "[error]Open() failed: IID_IMbnInterfaceManager");
    return plat::Failed(hr) ? hr : kGenericFailure;
  }
  hr = plat::CoCreateInstance(plat::CLSID_MbnDeviceServicesManager, nullptr, plat::CLSCTX_ALL,
                              plat::IID_IMbnDeviceServicesManager, services_manager_.put_void());
  if (!services_manager_) {
    Log(kLevelInformation, "[error]Open() failed: IID_IMbnDeviceServicesManager");
    return plat::Failed(hr) ? hr : kGenericFailure;
  }

  sink_ = plat::ComPtr<CDefaultServiceEvent>::Adopt(new (std::nothrow) CDefaultServiceEvent(log_.get()));
  Advised entry;
  if (!sink_ || !sink_->Usable()) {
    hr = plat::E_OUTOFMEMORY;
  } else {
    plat::ComPtr<plat::IConnectionPointContainer> container;
    hr = services_manager_.As(&container);
    if (plat::Succeeded(hr)) hr = container->FindConnectionPoint(plat::IID_IMbnDeviceServicesEvents, entry.point.put());
    if (plat::Succeeded(hr) && !entry.point) hr = kGenericFailure;
    if (plat::Succeeded(hr))
      hr = entry.point->Advise(static_cast<plat::IMbnDeviceServicesEvents*>(sink_.get()), &entry.cookie);
  }
  if (plat::Failed(hr)) {
    Log(kLevelInformation, "[error]Open() failed: IID_IMbnDeviceServicesEventsp hResult = %x", Bits(hr));
    return hr;
  }
  entry.sink = sink_;
  try {
    std::lock_guard<std::mutex> lock(sinks_lock_);
    advised_.push_back(std::move(entry));
  } catch (...) {
    // Not kept in the list, so Close could not disconnect it: do it now.
    entry.sink->Detach();
    entry.point->Unadvise(entry.cookie);
    return plat::E_OUTOFMEMORY;
  }
  return plat::S_OK;
}

plat::HRESULT CMbimDeviceEx::ExecuteCmd(const std::uint8_t* data, std::size_t length, std::string* reply,
                                        IAtParser* parser, const char16_t* service_id, std::uint32_t command_id) {
  std::string scratch;
  if (!reply) reply = &scratch;
  process_lock_.WaitProcessLock();
  plat::HRESULT result = kGenericFailure;
  plat::UniqueSafeArray array;
  do {
    if (!sink_) break;  // never opened
    sink_->ResetForCommand();
    result = OpenCommandSession(service_id);
    if (result != plat::S_OK) {
      Log(kLevelInformation, "[Fail]OpenSession Fail hr = 0x%x", Bits(result));
      break;
    }
    Log(kLevelInformation, "[Success] OpenSession success hr = 0x%x", Bits(result));

    result = plat::CreateByteArray(data, static_cast<plat::ULONG>(length), &array);
    if (plat::Failed(result)) {
      Log(kLevelInformation, "[Fail]SendData(): CreateByteArray hr = 0x%x", Bits(result));
      break;
    }
    plat::ULONG request_id = 0;
    result = service_->SetCommand(command_id, array.get(), &request_id);
    if (plat::Failed(result)) {
      Log(kLevelInformation, "[Fail]SendData(): SetCommand hr = 0x%x, dwErrorCode=%d", Bits(result),
          static_cast<int>(plat::GetLastError()));
      break;
    }
    sink_->PublishRequest(request_id);
    Log(kLevelInformation, "[success]SetCommand success. Request Id is %d", AsInt(request_id));

    if (sink_->TakeResponse(reply) != plat::WAIT_OBJECT_0) {
      // The exchange itself went through: the caller tells a missing answer by the empty reply.
      Log(kLevelInformation, "[Fail] Wait SetCommand Fail \r\n");
      break;
    }
    result = plat::S_OK;
    if (parser) {
      std::string parsed;
      parser->ParseReply(reinterpret_cast<const std::uint8_t*>(reply->data()), reply->size(), &parsed);
      *reply = std::move(parsed);
    }
    Log(kLevelInformation, "[success]Get Command Response success \r\n");
  } while (false);
  array.reset();
  CloseCommandSession();
  process_lock_.ReleaseProcessLock();
  return result;
}

plat::ComPtr<plat::IMbnInterface> CMbimDeviceEx::GetFirstInterface() {
  plat::ComPtr<plat::IMbnInterface> first;
  if (!interface_manager_) return first;
  plat::UniqueSafeArray interfaces;
  plat::HRESULT hr = interface_manager_->GetInterfaces(interfaces.put());
  if (plat::Failed(hr) || !interfaces) {
    Log(kLevelInformation, "[error]GetFirstInterface(): GetInterfaces hr=0x%x", Bits(hr));
    return first;
  }
  plat::LONG lower = 0;
  plat::LONG upper = -1;
  if (plat::Failed(plat::SafeArrayGetLBound(interfaces.get(), 1, &lower)) ||
      plat::Failed(plat::SafeArrayGetUBound(interfaces.get(), 1, &upper)) || upper < lower)
    return first;
  hr = plat::SafeArrayGetElement(interfaces.get(), &lower, first.put_void());
  if (plat::Failed(hr)) {
    first.reset();
    Log(kLevelInformation, "[error]GetFirstInterface(): SafeArrayGetElement hr=0x%x", Bits(hr));
    return first;
  }
  if (!first) return first;
  plat::MBN_READY_STATE ready = plat::MBN_READY_STATE_OFF;
  hr = first->GetReadyState(&ready);
  if (plat::Failed(hr))
    Log(kLevelInformation, "[error]GetFirstInterface(): GetReadyState hr=0x%x", Bits(hr));
  else
    Log(kLevelInformation, "[ok]GetFirstInterface(): readyState=%d", static_cast<int>(ready));
  return first;
}

plat::HRESULT CMbimDeviceEx::AcquireService(const char16_t* service_id, const char* who) {
  interface_ = GetFirstInterface();
  if (!interface_) {
    Log(kLevelInformation, "[error]%s-GetInterface() error! pMbnInterface == NULL", who);
    return kGenericFailure;
  }
  plat::BStr interface_id;
  plat::HRESULT hr = interface_->get_InterfaceID(interface_id.put());
  if (plat::Failed(hr)) {
    Log(kLevelInformation, "[error]%s-error! get_InterfaceID() hr=0x%x", who, Bits(hr));
    return kGenericFailure;
  }
  hr = services_manager_ ? services_manager_->GetDeviceServicesContext(interface_id.get(), context_.put())
                         : kGenericFailure;
  if (!context_) {
    Log(kLevelInformation, "[error]%s-error! NULL == pMbnDeviceServicesContext hr=0x%x", who, Bits(hr));
    return kGenericFailure;
  }
  plat::BStr service(service_id);
  hr = context_->GetDeviceService(service.get(), service_.put());
  if (!service_) {
    Log(kLevelInformation, "[error]%s-error! NULL == deviceService hr=0x%x", who, Bits(hr));
    return kGenericFailure;
  }
  return plat::S_OK;
}

void CMbimDeviceEx::ReleaseService() {
  service_.reset();
  context_.reset();
  interface_.reset();
}

plat::HRESULT CMbimDeviceEx::OpenCommandSession(const char16_t* service_id) {
  const plat::HRESULT found = AcquireService(service_id, "OpenCommandSession");
  if (found != plat::S_OK) return found;
  plat::BOOL open = plat::FALSE;
  if (plat::Succeeded(service_->get_IsCommandSessionOpen(&open)) && open) {
    Log(kLevelInformation, "[normal]OpenCommandSession- Session has Opended");
    command_session_ = 2;
    return plat::S_OK;
  }
  Log(kLevelInformation, "OpenCommandSession-get_IsCommandSessionOpen-FALSE == IsCommandSessionOpened");
  plat::ULONG request_id = 0;
  const plat::HRESULT hr = service_->OpenCommandSession(&request_id);
  if (plat::Failed(hr) || request_id == 0) {
    Log(kLevelInformation, "[error] OpenCommandSession-0 == requestID, dwErrorCode =%d",
        static_cast<int>(plat::GetLastError()));
    return kGenericFailure;
  }
  if (!sink_ || sink_->WaitSession() != plat::WAIT_OBJECT_0) {
    Log(kLevelInformation, "[error] OpenCommandSession-GetSessionRlt Fail");
    return kGenericFailure;
  }
  Log(kLevelInformation, "[Success]OpenCommandSession-Open Session Success");
  command_session_ = 1;
  return plat::S_OK;
}

void CMbimDeviceEx::CloseCommandSession() {
  if (command_session_ == 1 && service_) {
    plat::ULONG request_id = 0;
    const plat::HRESULT hr = service_->CloseCommandSession(&request_id);
    if (plat::Failed(hr)) {
      Log(kLevelInformation, "CloseCommandSession-hr = 0x%x, dwErrorCode =%d, sessReqId=%d", Bits(hr),
          static_cast<int>(plat::GetLastError()), AsInt(request_id));
    } else {
      Log(kLevelInformation, "CloseCommandSession-hr = 0x%x--OK", Bits(hr));
      if (sink_) sink_->WaitSession();
      Log(kLevelInformation, "CloseCommandSession-hr = 0x%x--OK--SessonWaite--SessionID=%d", Bits(hr),
          AsInt(request_id));
    }
  }
  // A session found open belongs to whoever opened it and stays open.
  command_session_ = 0;
  ReleaseService();
  Log(kLevelInformation, "CloseCommandSession-done");
}

plat::HRESULT CMbimDeviceEx::SendData(const std::uint8_t* data, std::size_t length, std::uint32_t command_id) {
  if (command_session_ == 0 || !service_ || !sink_) {
    Log(kLevelInformation, "[Fail]Session is not open!");
    return kGenericFailure;
  }
  plat::UniqueSafeArray array;
  plat::HRESULT hr = plat::CreateByteArray(data, static_cast<plat::ULONG>(length), &array);
  plat::ULONG request_id = 0;
  if (plat::Succeeded(hr)) hr = service_->SetCommand(command_id, array.get(), &request_id);
  if (plat::Failed(hr)) {
    Log(kLevelInformation, "[?]SendData(): SetCommand hr = 0x%x", Bits(hr));
    return hr;
  }
  sink_->PublishRequest(request_id);
  return hr;
}

plat::HRESULT CMbimDeviceEx::Recvmsg(std::string* reply) {
  if (command_session_ == 0 || !sink_) {
    Log(kLevelInformation, "[Fail]Recvmsg Session is not open!");
    return kGenericFailure;
  }
  return sink_->TakeResponse(reply) == plat::WAIT_OBJECT_0 ? plat::S_OK : kGenericFailure;
}

plat::HRESULT CMbimDeviceEx::OpenDataSession(const char16_t* service_id) {
  const plat::HRESULT found = AcquireService(service_id, "OpenDataSession");
  if (found != plat::S_OK) return found;
  plat::BOOL open = plat::FALSE;
  if (plat::Succeeded(service_->get_IsDataSessionOpen(&open)) && open) {
    Log(kLevelInformation, "[normal]OpenDataSession- Session has Opended");
    data_session_ = true;
    return plat::S_OK;
  }
  plat::ULONG request_id = 0;
  const plat::HRESULT hr = service_->OpenDataSession(&request_id);
  if (plat::Failed(hr) || request_id == 0) {
    Log(kLevelInformation, "[error] OpenDataSession-0 == requestID, dwErrorCode =%d",
        static_cast<int>(plat::GetLastError()));
    return kGenericFailure;
  }
  if (!sink_ || sink_->WaitDataSession() != plat::WAIT_OBJECT_0) {
    Log(kLevelInformation, "[error] OpenDataSession-GetSessionRlt Fail");
    return kGenericFailure;
  }
  Log(kLevelInformation, "[Success]OpenDataSession-Open Session Success");
  data_session_ = true;
  return plat::S_OK;
}

plat::HRESULT CMbimDeviceEx::RecvDataMsg(std::string* reply) {
  if (!data_session_ || !sink_) {
    Log(kLevelInformation, "[Fail]RecvDataMsg Session is not open!");
    return kGenericFailure;
  }
  return sink_->TakeResponse(reply) == plat::WAIT_OBJECT_0 ? plat::S_OK : kGenericFailure;
}

IMbimChannel* CMbimDeviceEx::CloseDataSession() {
  if (data_session_ && service_) {
    plat::ULONG request_id = 0;
    if (plat::Succeeded(service_->CloseDataSession(&request_id)) && sink_) sink_->WaitDataSession();
  }
  data_session_ = false;
  ReleaseService();
  return this;
}

void CMbimDeviceEx::Close() {
  // A session this object opened is not left to the modem.
  if (command_session_ == 1) CloseCommandSession();
  if (data_session_) CloseDataSession();
  {
    std::lock_guard<std::mutex> lock(sinks_lock_);
    for (Advised& entry : advised_) {
      entry.sink->Detach();
      entry.point->Unadvise(entry.cookie);
      entry.sink.reset();
      entry.point.reset();
    }
    advised_.clear();
  }
  sink_.reset();
  ReleaseService();
  services_manager_.reset();
  interface_manager_.reset();
  if (com_initialized_) plat::CoUninitialize();
  delete this;
}

IMbimChannel* NewMbimDeviceEx() {
  try {
    return new CMbimDeviceEx(GetChannelLog());
  } catch (...) {
    return nullptr;
  }
}

// ---- SendAtCommand -----------------------------------------------------------------------------------

namespace {

struct ChannelClose {
  void operator()(IMbimChannel* channel) const {
    if (channel) channel->Close();
  }
};

std::string HexBytes(const std::string& bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) hex += plat::Format("%02X", static_cast<unsigned>(c));
  return hex;
}

}  // namespace

int SendAtCommand(const std::string& command, std::string* reply) {
  int result = 1;
  std::string collected;
  try {
    ApiLog(kLevelInformation, "[Information] SendAtCommand ==========================================================enter.");
    plat::SleepMs(kSendAtDelayMs);
    void* object = nullptr;
    if (CreateToolObject(CLSID_CMbimDeviceEx, &object) && object) {
      std::unique_ptr<IMbimChannel, ChannelClose> channel(static_cast<IMbimChannel*>(object));
      if (channel->Open() != plat::S_OK) {
        ApiLog(kLevelFailure, "[ErrorInfo][SendAtCommand] OpenMbimChannel Fail.");
        result = 2;
      } else {
        ApiLog(kLevelInformation, "[Information][SendAtCommand] OpenMbimChannel Success.");
        ApiLog(kLevelInformation, "[Information][SendAtCommand] AT= %s, len = %d.", command.c_str(),
               static_cast<int>(command.size()));
        const plat::HRESULT hr =
            channel->ExecuteCmd(reinterpret_cast<const std::uint8_t*>(command.data()), command.size(), &collected,
                                nullptr, kAtCommandServiceId, kAtCommandId);
        if (hr != plat::S_OK) {
          ApiLog(kLevelInformation, "[Information][SendAtCommand] Execute %s Error*******************.",
                 command.c_str());
          result = 3;
        } else if (collected.empty()) {
          result = 4;
        } else {
          result = 0;
          ApiLog(kLevelInformation, "[Information][SendAtCommand] ExecuteCmd Success,Response Data=%s, ParseData=%s",
                 collected.c_str(), HexBytes(collected).c_str());
        }
      }
    }
  } catch (...) {
    // Out of memory on the way: the channel is closed by now and the caller gets what came.
  }
  try {
    if (reply) *reply = collected;
    ApiLog(kLevelInformation, "[Information] SendAtCommand ==========================================================done. ");
  } catch (...) {
  }
  return result;
}

int DirectReplyResult(int sent, const std::string& reply, bool ok_required) {
  if (sent != 0) return sent;
  if (reply.find("ERROR") != std::string::npos) return 4;
  if (ok_required && reply.find("OK") == std::string::npos) return 4;
  return 0;
}

}  // namespace IGlobalTools
