// An instance's status mirror, reached for timing the way the instance makes
// it: a status object over a link bound to the instance's player, with the
// instance's services and settings. The benchmarks call its poll directly, so
// that the pace that spaces the timer's polls is not what they measure.
#pragma once

#include <optional>
#include <string>

#include "instance/Status.h"
#include "winamp/WinAmp.h"

namespace bench {

class MirrorProbe {
 public:
  // Binds at the link's first check tick (a second on); `instance` is held by the caller.
  MirrorProbe(IKDOKernel* kernel, IKDOModule& instance, uint16_t id, const TKDOWinampInstanceSettings& settings)
      : settings_(settings) {
    services_.Kernel = TKDORef<IKDOKernel>(kernel);
    kernel->QueryInterface(IID_IKDOVariableManager, services_.VariableManager.put());
    link_.SetWinAmpClassName("WA_KDO_" + std::to_string(id));
    status_.emplace(services_, instance, link_, settings_);
  }
  MirrorProbe(const MirrorProbe&) = delete;
  MirrorProbe& operator=(const MirrorProbe&) = delete;

  bool Bound() const { return link_.IsBound(); }
  void Poll() { status_->Poll(TKDOSendBudget::Of(kdo::pace::kTickBudgetMs)); }

 private:
  TKDOWinampServices services_;
  TKDOWinampInstanceSettings settings_;
  TWinAmpControl link_;
  std::optional<TKDOWinampStatus> status_;  // last: gone first
};

}  // namespace bench
