#include "HostSelector.h"

#include <memory>

#include "sdk/Core.Selector_Types.h"
#include "sdk/KDOGuard.h"

namespace host {

namespace {

// One selector instance: counted, destroyed by its last Release.
class SelectorObject final : public IKDOSelector {
 public:
  SelectorObject(Selector& owner, uint16_t id) : owner_(owner), id_(id) { ++owner_.Alive; }
  ~SelectorObject() { --owner_.Alive; }

  KDOResult KDO_STDCALL QueryInterface(const TGUID& iid, void** obj) override {
    if (!obj) return KDO_E_NOINTERFACE;
    const bool known = iid == IID_IInterface || iid == IID_IKDOMessageSink || iid == IID_IKDOModule ||
                       (iid == IID_IKDOSelector && !owner_.RefuseQuery);
    if (!known) {
      *obj = nullptr;
      return KDO_E_NOINTERFACE;
    }
    AddRef();
    *obj = static_cast<IKDOSelector*>(this);
    return KDO_S_OK;
  }
  int32_t KDO_STDCALL AddRef() override { return ++refs_; }
  int32_t KDO_STDCALL Release() override {
    const int32_t n = --refs_;
    owner_.Releases.push_back({n, owner_.Listed(id_)});
    if (n == 0) std::unique_ptr<SelectorObject> last(this);
    return n;
  }
  KDOResult KDO_STDCALL ReceiveMessage(uint32_t) override { return KDO_E_FAIL; }
  KDOResult KDO_STDCALL FillInstanceRecord(void*) override { return KDO_S_OK; }
  KDOResult KDO_STDCALL ShowConfigurationPage() override { return KDO_E_NOTIMPL; }
  KDOResult KDO_STDCALL HideConfigurationPage() override { return KDO_E_NOTIMPL; }
  KDOResult KDO_STDCALL LoadSettings() override { return KDO_E_NOTIMPL; }
  KDOResult KDO_STDCALL SaveSettings() override { return KDO_E_NOTIMPL; }
  int32_t KDO_STDCALL GetReferenceCount() override { return refs_; }

  KDOResult KDO_STDCALL SelectVariable(uint8_t filter, KDOString* variable) override {
    return KDOGuard(kdo::text::Const<"the server stand-in">(), [&] {
      owner_.Filters.push_back(filter);
      std::optional<std::string> chosen = owner_.Answer;
      KDOResult result = owner_.Result;
      if (owner_.Chooser) {
        chosen = owner_.Chooser(filter, owner_.Admitted(filter));
        result = chosen ? KDO_S_OK : KDO_E_FAIL;
      }
      if (chosen && variable) {
        TKDOText text(*chosen);
        kdo::text::Assign(variable, text.get());
      }
      return result;
    });
  }

 private:
  Selector& owner_;
  uint16_t id_;
  int32_t refs_ = 0;
};

}  // namespace

Selector::Selector(Server& server) : server_(server) {
  server.AddBuiltinModule(IID_IKDOSelector, [this](uint16_t id) -> IKDOModule* {
    ++Created;
    auto object = std::make_unique<SelectorObject>(*this, id);
    object->AddRef();  // the server's one reference
    return object.release();
  });
}

Selector::~Selector() = default;

std::vector<std::string> Selector::Admitted(uint8_t filter) const {
  std::vector<std::string> names;
  for (const std::string& name : server_.VariableNames()) {
    std::optional<Value> v = server_.Variable(name);
    if (v && (filter >> uint8_t(v->Type)) & 1) names.push_back(name);
  }
  return names;
}

}  // namespace host
