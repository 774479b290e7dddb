// Drives one device service of the simulated modem through the stack, one command at a time, the
// way the bridge does: a manager per client, the command session held open by the modem.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/modem_config.h"
#include "sim_fixture.h"

namespace simtest {

class ServiceClient {
 public:
  // Makes the stack's classes: the system's (the simulated modem in-process) unless a test names
  // another stack.
  using Creator = std::function<plat::HRESULT(const plat::CLSID&, const plat::IID&, void**)>;

  // Reads modem.ini now: write it before.
  explicit ServiceClient(const char16_t* service_id, const Creator& create = nullptr,
                         std::u16string interface_id = sim::InterfaceId(0)) {
    if (create) {
      EXPECT_EQ(plat::S_OK, create(plat::CLSID_MbnDeviceServicesManager, plat::IID_IMbnDeviceServicesManager,
                                   manager_.put_void()));
    } else {
      manager_ = Create<plat::IMbnDeviceServicesManager>(plat::CLSID_MbnDeviceServicesManager);
    }
    if (!manager_) return;
    plat::ComPtr<plat::IConnectionPointContainer> container;
    EXPECT_EQ(plat::S_OK, manager_.As(&container));
    EXPECT_EQ(plat::S_OK, container->FindConnectionPoint(plat::IID_IMbnDeviceServicesEvents, point_.put()));
    sink_ = plat::ComPtr<RecordingSink>::Adopt(new RecordingSink);
    EXPECT_EQ(plat::S_OK, point_->Advise(sink_.get(), &cookie_));
    plat::ComPtr<plat::IMbnDeviceServicesContext> context;
    plat::BStr iface(interface_id);
    EXPECT_EQ(plat::S_OK, manager_->GetDeviceServicesContext(iface.get(), context.put()));
    plat::BStr id(service_id);
    if (!context) return;
    EXPECT_EQ(plat::S_OK, context->GetDeviceService(id.get(), service_.put()));
    if (!service_) return;
    plat::ULONG request = 0;
    EXPECT_EQ(plat::S_OK, service_->OpenCommandSession(&request));
    EXPECT_TRUE(sink_->WaitFor(1));
  }
  ~ServiceClient() {
    if (cookie_) point_->Unadvise(cookie_);
  }
  ServiceClient(const ServiceClient&) = delete;
  ServiceClient& operator=(const ServiceClient&) = delete;

  Delivered Query(std::uint32_t cid, const std::vector<std::uint8_t>& data) { return Send(false, cid, data); }
  Delivered Set(std::uint32_t cid, const std::vector<std::uint8_t>& data) { return Send(true, cid, data); }

 private:
  Delivered Send(bool set, std::uint32_t cid, const std::vector<std::uint8_t>& data) {
    if (!service_) {
      ADD_FAILURE() << "no device service";
      return {};
    }
    const std::size_t before = sink_->events().size();
    plat::UniqueSafeArray array(plat::MakeByteArray(data.data(), static_cast<plat::ULONG>(data.size())));
    plat::ULONG id = 0;
    EXPECT_EQ(plat::S_OK,
              set ? service_->SetCommand(cid, array.get(), &id) : service_->QueryCommand(cid, array.get(), &id));
    if (!sink_->WaitFor(before + 1)) {
      ADD_FAILURE() << "no completion";
      return {};
    }
    Delivered d = sink_->events()[before];
    EXPECT_EQ(id, d.request_id);
    return d;
  }

  plat::ComPtr<plat::IMbnDeviceServicesManager> manager_;
  plat::ComPtr<plat::IConnectionPoint> point_;
  plat::ComPtr<RecordingSink> sink_;
  plat::DWORD cookie_ = 0;
  plat::ComPtr<plat::IMbnDeviceService> service_;
};

}  // namespace simtest
