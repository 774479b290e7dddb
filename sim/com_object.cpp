#include "sim/com_object.h"

#include <algorithm>

namespace sim {

namespace {

class ConnectionPoint final : public ComObject<plat::IConnectionPoint> {
 public:
  ConnectionPoint(plat::IConnectionPointContainer* container, std::shared_ptr<SinkList> sinks)
      : container_(plat::ComPtr<plat::IConnectionPointContainer>::Share(container)), sinks_(std::move(sinks)) {}

  plat::HRESULT TXL_STDCALL GetConnectionInterface(plat::IID* pIID) override {
    if (!pIID) return plat::E_POINTER;
    *pIID = sinks_->iid();
    return plat::S_OK;
  }
  plat::HRESULT TXL_STDCALL GetConnectionPointContainer(plat::IConnectionPointContainer** ppCPC) override {
    return HandOut(container_, ppCPC);
  }
  plat::HRESULT TXL_STDCALL Advise(plat::IUnknown* pUnkSink, plat::DWORD* pdwCookie) override {
    return sinks_->Advise(pUnkSink, pdwCookie);
  }
  plat::HRESULT TXL_STDCALL Unadvise(plat::DWORD dwCookie) override { return sinks_->Unadvise(dwCookie); }
  plat::HRESULT TXL_STDCALL EnumConnections(plat::IEnumConnections** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return plat::E_NOTIMPL;
  }

 private:
  plat::ComPtr<plat::IConnectionPointContainer> container_;
  std::shared_ptr<SinkList> sinks_;
};

}  // namespace

SinkList::~SinkList() {
  for (auto& entry : sinks_) entry.second->Release();
}

plat::HRESULT SinkList::Advise(plat::IUnknown* unk, plat::DWORD* cookie) {
  if (!cookie) return plat::E_POINTER;
  *cookie = 0;
  if (!unk) return plat::E_POINTER;
  void* sink = nullptr;
  if (plat::Failed(unk->QueryInterface(iid_, &sink)) || !sink) return plat::CONNECT_E_CANNOTCONNECT;
  std::lock_guard<std::recursive_mutex> lock(mu_);
  *cookie = next_cookie_++;
  sinks_.emplace_back(*cookie, static_cast<plat::IUnknown*>(sink));
  return plat::S_OK;
}

plat::HRESULT SinkList::Unadvise(plat::DWORD cookie) {
  plat::IUnknown* sink = nullptr;
  {
    // Waits for a callback in progress on another thread to return.
    std::lock_guard<std::recursive_mutex> lock(mu_);
    const auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& e) { return e.first == cookie; });
    if (it == sinks_.end()) return plat::CONNECT_E_NOCONNECTION;
    sink = it->second;
    sinks_.erase(it);
  }
  sink->Release();
  return plat::S_OK;
}

std::size_t SinkList::size() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  return sinks_.size();
}

bool SinkList::Advised(plat::DWORD cookie) const {
  return std::any_of(sinks_.begin(), sinks_.end(), [&](const auto& e) { return e.first == cookie; });
}

ConnectionPoints::ConnectionPoints(std::vector<plat::IID> iids) {
  for (const auto& iid : iids) lists_.push_back(std::make_shared<SinkList>(iid));
}

std::shared_ptr<SinkList> ConnectionPoints::Find(const plat::IID& iid) const {
  for (const auto& list : lists_)
    if (list->iid() == iid) return list;
  return nullptr;
}

plat::HRESULT ConnectionPoints::FindConnectionPoint(plat::IConnectionPointContainer* container, plat::REFIID riid,
                                                    plat::IConnectionPoint** ppCP) const {
  if (!ppCP) return plat::E_POINTER;
  *ppCP = nullptr;
  auto list = Find(riid);
  if (!list) return plat::CONNECT_E_NOCONNECTION;
  *ppCP = new ConnectionPoint(container, std::move(list));
  return plat::S_OK;
}

}  // namespace sim
