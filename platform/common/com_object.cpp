#include "platform/com_object.h"

#include <algorithm>

namespace plat {

namespace {

class ConnectionPoint final : public ComObject<IConnectionPoint> {
 public:
  ConnectionPoint(IConnectionPointContainer* container, std::shared_ptr<SinkList> sinks)
      : container_(ComPtr<IConnectionPointContainer>::Share(container)), sinks_(std::move(sinks)) {}

  HRESULT TXL_STDCALL GetConnectionInterface(IID* pIID) override {
    if (!pIID) return E_POINTER;
    *pIID = sinks_->iid();
    return S_OK;
  }
  HRESULT TXL_STDCALL GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override {
    return HandOut(container_, ppCPC);
  }
  HRESULT TXL_STDCALL Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override {
    return sinks_->Advise(pUnkSink, pdwCookie);
  }
  HRESULT TXL_STDCALL Unadvise(DWORD dwCookie) override { return sinks_->Unadvise(dwCookie); }
  HRESULT TXL_STDCALL EnumConnections(IEnumConnections** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }

 private:
  ComPtr<IConnectionPointContainer> container_;
  std::shared_ptr<SinkList> sinks_;
};

}  // namespace

SinkList::~SinkList() {
  for (auto& entry : sinks_) entry.second->Release();
}

HRESULT SinkList::Advise(IUnknown* unk, DWORD* cookie) {
  if (!cookie) return E_POINTER;
  *cookie = 0;
  if (!unk) return E_POINTER;
  void* sink = nullptr;
  if (Failed(unk->QueryInterface(iid_, &sink)) || !sink) return CONNECT_E_CANNOTCONNECT;
  std::lock_guard<std::recursive_mutex> lock(mu_);
  *cookie = next_cookie_++;
  sinks_.emplace_back(*cookie, static_cast<IUnknown*>(sink));
  return S_OK;
}

HRESULT SinkList::Unadvise(DWORD cookie) {
  IUnknown* sink = nullptr;
  {
    // Waits for a callback in progress on another thread to return.
    std::lock_guard<std::recursive_mutex> lock(mu_);
    const auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& e) { return e.first == cookie; });
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    sink = it->second;
    sinks_.erase(it);
  }
  sink->Release();
  return S_OK;
}

std::size_t SinkList::size() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return sinks_.size();
}

bool SinkList::Advised(DWORD cookie) const {
  return std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& e) { return e.first == cookie; });
}

ConnectionPoints::ConnectionPoints(std::vector<IID> iids) {
  for (const auto& iid : iids) lists_.push_back(std::make_shared<SinkList>(iid));
}

std::shared_ptr<SinkList> ConnectionPoints::Find(const IID& iid) const {
  for (const auto& list : lists_)
    if (list->iid() == iid) return list;
  return nullptr;
}

HRESULT ConnectionPoints::FindConnectionPoint(IConnectionPointContainer* container, REFIID riid,
                                                    IConnectionPoint** ppCP) const {
  if (!ppCP) return E_POINTER;
  *ppCP = nullptr;
  auto list = Find(riid);
  if (!list) return CONNECT_E_NOCONNECTION;
  *ppCP = new ConnectionPoint(container, std::move(list));
  return S_OK;
}

}  // namespace plat
