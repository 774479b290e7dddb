// The COM plumbing of the mobile-broadband objects this code base implements itself (the
// simulated modem's, and on Linux the system's own over libmbim): reference counting and
// QueryInterface, and the connection points through which the managers reach their event sinks.
#pragma once

#include <cstddef>
#include <memory>
#include <mutex>
#include <new>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/com.h"

namespace plat {

// Implements IUnknown for an object exposing the interfaces Ifaces (the first one also answers
// for IUnknown). Objects start with one reference, owned by whoever created them.
template <class... Ifaces>
class ComObject : public Ifaces... {
 public:
  HRESULT TXL_STDCALL QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid == IID_IUnknown)
      *ppv = static_cast<IUnknown*>(static_cast<First*>(this));
    else
      (void)(Match<Ifaces>(riid, ppv) || ...);
    if (!*ppv) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG TXL_STDCALL AddRef() override { return refs_.Inc(); }
  ULONG TXL_STDCALL Release() override {
    const ULONG left = refs_.Dec();
    if (left == 0) delete this;
    return left;
  }

 protected:
  ComObject() = default;
  virtual ~ComObject() = default;
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

 private:
  using First = std::tuple_element_t<0, std::tuple<Ifaces...>>;
  template <class I>
  bool Match(REFIID riid, void** ppv) {
    if (riid != I::kIid) return false;
    *ppv = static_cast<I*>(this);
    return true;
  }
  RefCount refs_;
};

// Runs the body of a COM method; nothing thrown inside (out of memory, no thread to be had) leaves
// the method other than as its result.
template <class Body>
HRESULT Guard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

// A string handed out through a BSTR out parameter.
inline HRESULT OutString(std::u16string_view text, BSTR* out) {
  if (!out) return E_POINTER;
  *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return *out ? S_OK : E_OUTOFMEMORY;
}

// Creates an object and hands its first reference to a ComPtr.
template <class T, class... Args>
ComPtr<T> MakeCom(Args&&... args) {
  return ComPtr<T>::Adopt(new T(std::forward<Args>(args)...));
}

// Copies an interface reference into an out parameter.
template <class I, class T>
HRESULT HandOut(const ComPtr<T>& obj, I** out) {
  if (!out) return E_POINTER;
  I* p = obj.get();
  if (p) p->AddRef();
  *out = p;
  return S_OK;
}

// The sinks advised on one connection point. Calls into the sinks hold a lock that Unadvise also
// takes, so once Unadvise has returned no call reaches that sink any more. The lock is recursive:
// a sink may advise or unadvise from inside its callback.
class SinkList {
 public:
  explicit SinkList(const IID& iid) : iid_(iid) {}
  ~SinkList();
  SinkList(const SinkList&) = delete;
  SinkList& operator=(const SinkList&) = delete;

  const IID& iid() const { return iid_; }

  // Holds the sink's iid_ interface (queried from unk) until Unadvise.
  HRESULT Advise(IUnknown* unk, DWORD* cookie);
  HRESULT Unadvise(DWORD cookie);
  std::size_t size();

  // Calls fn(sink) for every sink advised when it comes to that sink's turn. fn gets the sink as
  // the IUnknown base of the iid_ interface.
  template <class Fn>
  void ForEach(Fn&& fn) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    const auto snapshot = sinks_;
    for (const auto& [cookie, sink] : snapshot) {
      if (!Advised(cookie)) continue;  // an earlier sink's callback unadvised it
      ComPtr<IUnknown> hold = ComPtr<IUnknown>::Share(sink);
      fn(sink);
    }
  }

 private:
  bool Advised(DWORD cookie) const;

  const IID iid_;
  std::recursive_mutex mu_;
  std::vector<std::pair<DWORD, IUnknown*>> sinks_;
  DWORD next_cookie_ = 1;
};

// The connection points of one manager object.
class ConnectionPoints {
 public:
  explicit ConnectionPoints(std::vector<IID> iids);
  // The list of sinks of an event interface; null when the container has none for it.
  std::shared_ptr<SinkList> Find(const IID& iid) const;
  // IConnectionPointContainer::FindConnectionPoint for `container`.
  HRESULT FindConnectionPoint(IConnectionPointContainer* container, REFIID riid,
                                    IConnectionPoint** ppCP) const;

 private:
  std::vector<std::shared_ptr<SinkList>> lists_;
};

// A manager object that is also a connection-point container: the container's two methods over
// the manager's connection points, the same for every manager. Interfaces are the manager's own
// ones; IConnectionPointContainer comes last.
template <class... Interfaces>
class ConnectionPointContainer : public ComObject<Interfaces..., IConnectionPointContainer> {
 public:
  HRESULT TXL_STDCALL EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override {
    if (ppEnum) *ppEnum = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TXL_STDCALL FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override {
    return points_.FindConnectionPoint(this, riid, ppCP);
  }

 protected:
  // One connection point per event interface.
  explicit ConnectionPointContainer(std::vector<IID> events) : points_(std::move(events)) {}
  const ConnectionPoints& points() const { return points_; }

 private:
  ConnectionPoints points_;
};

}  // namespace plat
