// Services of our own making that the instance takes in place of the stand-in's: a kernel that hands
// out one of them and everything else from the stand-in, and services that run server code (an
// event script) from inside the instance's calls.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "InstanceFixture.h"
#include "host/CountedService.h"

namespace instancetest {

// Takes one service from `service` and everything else from the stand-in.
class SplitKernel final : public host::CountedService<IKDOKernel> {
 public:
  SplitKernel(IKDOKernel* server, const TGUID& iid, IInterface* service)
      : CountedService(IID_IKDOKernel), server_(server), iid_(iid), service_(service) {}

  KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) override {
    if (iid == iid_) return service_->QueryInterface(iid, obj);
    if (iid == IID_IKDOKernel || iid == IID_IInterface || iid == IID_IKDOMessageSink)
      return CountedService::QueryInterface(iid, obj);
    return server_->QueryInterface(iid, obj);
  }
  KDOResult KDO_STDCALL LogMessage(int32_t type, KDOString sender, KDOString message) override {
    return server_->LogMessage(type, sender, message);
  }

 private:
  IKDOKernel* server_;
  TGUID iid_;
  IInterface* service_;
};

// Variables whose writes run the server's event scripts: here, one that deletes the instance.
class EventfulVariables final : public host::CountedService<IKDOVariableManager> {
 public:
  EventfulVariables() : CountedService(IID_IKDOVariableManager) {}
  std::function<void()> onWrite;  // runs once, at the next write
  int writes = 0;

  // Reads fail, so that every tick writes.
  KDOResult KDO_STDCALL ReadVariableBoolean(KDOString, uint8_t*) override { return KDO_E_FAIL; }
  KDOResult KDO_STDCALL ReadVariableInteger(KDOString, int32_t*) override { return KDO_E_FAIL; }
  KDOResult KDO_STDCALL ReadVariableString(KDOString, KDOString*) override { return KDO_E_FAIL; }
  KDOResult KDO_STDCALL WriteVariableBoolean(KDOString, uint8_t) override { return Written(); }
  KDOResult KDO_STDCALL WriteVariableInteger(KDOString, int32_t) override { return Written(); }
  KDOResult KDO_STDCALL WriteVariableString(KDOString, KDOString) override { return Written(); }

 private:
  KDOResult Written() {
    ++writes;
    if (std::function<void()> event = std::exchange(onWrite, nullptr)) event();
    return KDO_S_OK;
  }
};

// A debug server whose lines may likewise run server code.
class EventfulDebug final : public host::CountedService<IKDODebugServer> {
 public:
  EventfulDebug() : CountedService(IID_IKDODebugServer) {}
  std::function<void()> onDebug;  // runs once, at the next line
  std::vector<std::pair<std::string, std::string>> lines;  // message and data of each

  KDOResult KDO_STDCALL SendDebug(uint32_t, KDOString message, KDOString data) override {
    lines.emplace_back(kdo::text::View(message), kdo::text::View(data));
    if (std::function<void()> event = std::exchange(onDebug, nullptr)) event();
    return KDO_S_OK;
  }
};

// Instances made from here on get their services from the test's own kernel; once they are gone,
// none of its services is held any more.
class OwnServicesTest : public InstanceTest {
 protected:
  void SetUp() override {
    InstanceTest::SetUp();
    ASSERT_EQ(info->OnRegister(OwnKernel()), KDO_S_OK);
  }
  void TearDown() override {
    InstanceTest::TearDown();
    for (int32_t held : Held()) EXPECT_EQ(held, 0);
  }
  virtual IKDOKernel* OwnKernel() = 0;
  // How many references each of the test's services still has out.
  virtual std::vector<int32_t> Held() const = 0;
};

class CallingBack : public OwnServicesTest {
 protected:
  IKDOKernel* OwnKernel() override { return &kernel; }
  std::vector<int32_t> Held() const override {
    return {kernel.Held(), debugKernel.Held(), variables.Held(), debug.Held()};
  }
  EventfulVariables variables;
  EventfulDebug debug;
  SplitKernel debugKernel{server.Kernel(), IID_IKDODebugServer, &debug};
  SplitKernel kernel{&debugKernel, IID_IKDOVariableManager, &variables};
};

}  // namespace instancetest
