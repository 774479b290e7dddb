#include "api/support/mbim/service_event.h"

#include <utility>
#include <vector>

namespace IGlobalTools {

namespace {

// Every wait here is for the platform's completion thread or the issuer on another thread.
plat::DWORD WaitOn(const std::unique_ptr<plat::Event>& event, plat::DWORD timeout_ms) {
  return event ? event->Wait(plat::Timeout::RoundTrip(timeout_ms)) : plat::WAIT_FAILED;
}

}  // namespace

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
  // A completion without an array carries no answer, unlike one with an empty array.
  if (!data) return false;
  try {
    std::vector<plat::BYTE> bytes;
    if (plat::Failed(plat::ReadByteArray(data, &bytes))) return false;
    buffer_.append(bytes.begin(), bytes.end());
    *appended = static_cast<long>(bytes.size());
  } catch (...) {
    // Out of memory: the answer is reported as unreadable rather than taken in part.
    return false;
  }
  return true;
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

plat::HRESULT CDefaultServiceEvent::OnOpenDataSessionComplete(plat::IMbnDeviceService*, plat::HRESULT, plat::ULONG) {
  if (data_session_) data_session_->Set();
  return plat::S_OK;
}

plat::HRESULT CDefaultServiceEvent::OnCloseDataSessionComplete(plat::IMbnDeviceService*, plat::HRESULT, plat::ULONG) {
  if (data_session_) data_session_->Set();
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

}  // namespace IGlobalTools
