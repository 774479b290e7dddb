#include "api/support/mbim/mbim_channel.h"

#include <new>
#include <utility>

#include "platform/process.h"
#include "platform/scope_exit.h"

namespace IGlobalTools {

namespace {

constexpr plat::HRESULT kGenericFailure = plat::E_FAIL;

}  // namespace

CMbimDeviceEx::CMbimDeviceEx(ILog* channel_log) : log_(channel_log) { process_lock_.OpenProcessLock(); }

CMbimDeviceEx::~CMbimDeviceEx() { process_lock_.CloseProcessLock(); }

CMbimDeviceEx::Advice::Advice(plat::ComPtr<plat::IConnectionPoint> point, plat::ComPtr<CDefaultServiceEvent> sink,
                              plat::DWORD cookie)
    : point_(std::move(point)), sink_(std::move(sink)), cookie_(cookie) {}

CMbimDeviceEx::Advice::Advice(Advice&& other) noexcept
    : point_(std::move(other.point_)), sink_(std::move(other.sink_)), cookie_(other.cookie_) {}

CMbimDeviceEx::Advice::~Advice() {
  if (!point_) return;  // moved from
  sink_->Detach();
  point_->Unadvise(cookie_);
}

CMbimDeviceEx::Apartment::~Apartment() {
  if (entered) plat::CoUninitialize();
}

plat::HRESULT CMbimDeviceEx::Open() {
  const plat::HRESULT init = plat::CoInitializeEx(nullptr, plat::COINIT_MULTITHREADED);
  if (plat::Failed(init)) {
    Log(kLevelInformation, "[error]Open() COM Initialize failed");
    return init;
  }
  apartment_.entered = true;

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
  plat::ComPtr<plat::IConnectionPoint> point;
  plat::DWORD cookie = 0;
  if (!sink_ || !sink_->Usable()) {
    hr = plat::E_OUTOFMEMORY;
  } else {
    plat::ComPtr<plat::IConnectionPointContainer> container;
    hr = services_manager_.As(&container);
    if (plat::Succeeded(hr)) hr = container->FindConnectionPoint(plat::IID_IMbnDeviceServicesEvents, point.put());
    if (plat::Succeeded(hr) && !point) hr = kGenericFailure;
    if (plat::Succeeded(hr)) hr = point->Advise(static_cast<plat::IMbnDeviceServicesEvents*>(sink_.get()), &cookie);
  }
  if (plat::Failed(hr)) {
    Log(kLevelInformation, "[error]Open() failed: IID_IMbnDeviceServicesEventsp hResult = %x", Bits(hr));
    return hr;
  }
  Advice advice(std::move(point), sink_, cookie);
  try {
    std::lock_guard<std::mutex> lock(sinks_lock_);
    advised_.push_back(std::move(advice));
  } catch (...) {
    // Not kept in the list, so Close could not disconnect it: it is undone as `advice` goes.
    return plat::E_OUTOFMEMORY;
  }
  return plat::S_OK;
}

plat::HRESULT CMbimDeviceEx::ExecuteCmd(const std::uint8_t* data, std::size_t length, std::string* reply,
                                        IAtParser* parser, const char16_t* service_id, std::uint32_t command_id) {
  std::string scratch;
  if (!reply) reply = &scratch;
  // The lock covers the whole exchange up to the session's close; both are undone on every way out,
  // the request's array first, then the session, then the lock.
  process_lock_.WaitProcessLock();
  const plat::ScopeExit release_lock([this] { process_lock_.ReleaseProcessLock(); });
  const plat::ScopeExit close_session([this] { CloseCommandSession(); });
  if (!sink_) return kGenericFailure;  // never opened
  sink_->ResetForCommand();
  plat::HRESULT result = OpenCommandSession(service_id);
  if (result != plat::S_OK) {
    Log(kLevelInformation, "[Fail]OpenSession Fail hr = 0x%x", Bits(result));
    return result;
  }
  Log(kLevelInformation, "[Success] OpenSession success hr = 0x%x", Bits(result));

  plat::UniqueSafeArray array;
  result = plat::CreateByteArray(data, static_cast<plat::ULONG>(length), &array);
  if (plat::Failed(result)) {
    Log(kLevelInformation, "[Fail]SendData(): CreateByteArray hr = 0x%x", Bits(result));
    return result;
  }
  plat::ULONG request_id = 0;
  result = service_->SetCommand(command_id, array.get(), &request_id);
  if (plat::Failed(result)) {
    Log(kLevelInformation, "[Fail]SendData(): SetCommand hr = 0x%x, dwErrorCode=%d", Bits(result),
        static_cast<int>(plat::GetLastError()));
    return result;
  }
  sink_->PublishRequest(request_id);
  Log(kLevelInformation, "[success]SetCommand success. Request Id is %d", AsInt(request_id));

  if (sink_->TakeResponse(reply) != plat::WAIT_OBJECT_0) {
    // The exchange itself went through (SetCommand's result): the caller tells a missing answer by
    // the empty reply.
    Log(kLevelInformation, "[Fail] Wait SetCommand Fail \r\n");
    return result;
  }
  if (parser) {
    std::string parsed;
    parser->ParseReply(reinterpret_cast<const std::uint8_t*>(reply->data()), reply->size(), &parsed);
    *reply = std::move(parsed);
  }
  Log(kLevelInformation, "[success]Get Command Response success \r\n");
  return plat::S_OK;
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

plat::HRESULT CMbimDeviceEx::OpenSession(Session kind, const char16_t* service_id, bool* found_open) {
  const bool command = kind == Session::kCommand;
  const char* who = command ? "OpenCommandSession" : "OpenDataSession";
  *found_open = false;
  const plat::HRESULT found = AcquireService(service_id, who);
  if (found != plat::S_OK) return found;
  plat::BOOL open = plat::FALSE;
  const plat::HRESULT asked =
      command ? service_->get_IsCommandSessionOpen(&open) : service_->get_IsDataSessionOpen(&open);
  if (plat::Succeeded(asked) && open) {
    Log(kLevelInformation, "[normal]%s- Session has Opended", who);
    *found_open = true;
    return plat::S_OK;
  }
  if (command) Log(kLevelInformation, "OpenCommandSession-get_IsCommandSessionOpen-FALSE == IsCommandSessionOpened");
  plat::ULONG request_id = 0;
  const plat::HRESULT hr = command ? service_->OpenCommandSession(&request_id) : service_->OpenDataSession(&request_id);
  if (plat::Failed(hr) || request_id == 0) {
    Log(kLevelInformation, "[error] %s-0 == requestID, dwErrorCode =%d", who, static_cast<int>(plat::GetLastError()));
    return kGenericFailure;
  }
  if (!sink_ || (command ? sink_->WaitSession() : sink_->WaitDataSession()) != plat::WAIT_OBJECT_0) {
    Log(kLevelInformation, "[error] %s-GetSessionRlt Fail", who);
    return kGenericFailure;
  }
  Log(kLevelInformation, "[Success]%s-Open Session Success", who);
  return plat::S_OK;
}

plat::HRESULT CMbimDeviceEx::OpenCommandSession(const char16_t* service_id) {
  bool found_open = false;
  const plat::HRESULT hr = OpenSession(Session::kCommand, service_id, &found_open);
  if (hr == plat::S_OK) command_session_ = found_open ? 2 : 1;
  return hr;
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
  bool found_open = false;
  const plat::HRESULT hr = OpenSession(Session::kData, service_id, &found_open);
  if (hr == plat::S_OK) data_session_ = true;
  return hr;
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
    advised_.clear();  // each advice detaches its sink and is unadvised
  }
  sink_.reset();
  ReleaseService();
  services_manager_.reset();
  interface_manager_.reset();
  delete this;  // leaves the apartment Open entered, after every reference above is gone
}

IMbimChannel* NewMbimDeviceEx() {
  try {
    return new CMbimDeviceEx(GetChannelLog());
  } catch (...) {
    return nullptr;
  }
}

}  // namespace IGlobalTools
