// A service object of a server stand-in: entries 1 to 4 of its interface,
// with every AddRef and Release counted so that a test can prove that the
// module gives back each reference it took. Its owner keeps it alive; the
// counts never destroy it.
#pragma once

#include <cstdint>

#include "sdk/UKDOTypes.h"

namespace host {

// AddRef and Release calls that one service object has received.
struct RefCounter {
  int32_t AddRefs = 0;
  int32_t Releases = 0;
  int32_t Held() const { return AddRefs - Releases; }
};

template <class Itf>
class CountedService : public Itf {
 public:
  explicit CountedService(const TGUID& iid) : iid_(iid) {}

  // Answers its own interface and the two it derives from.
  KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) override {
    if (!obj) return KDO_E_NOINTERFACE;
    if (iid == iid_ || iid == IID_IInterface || iid == IID_IKDOMessageSink) {
      AddRef();
      *obj = static_cast<Itf*>(this);
      return KDO_S_OK;
    }
    *obj = nullptr;
    return KDO_E_NOINTERFACE;
  }
  // The owner's own reference counts as one.
  int32_t KDO_STDCALL AddRef() override { return 1 + ++counter.AddRefs - counter.Releases; }
  int32_t KDO_STDCALL Release() override { return 1 + counter.AddRefs - ++counter.Releases; }
  KDOResult KDO_STDCALL ReceiveMessage(uint32_t) override { return KDO_E_NOTIMPL; }

  // References others hold on it now (0 when balanced).
  int32_t Held() const { return counter.Held(); }
  RefCounter counter;

 protected:
  ~CountedService() = default;

 private:
  TGUID iid_;
};

}  // namespace host
