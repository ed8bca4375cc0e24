// The reservation's behaviour common to both platforms; reserving, writing and
// releasing the memory itself belong to each platform's ProcessHandle.
#include <utility>

#include "platform/Platform.h"

namespace platform {

RemoteMemory::RemoteMemory(const ProcessHandle& process, WindowHandle window, uint32_t processId, uint32_t size)
    : window_(window), processId_(processId), address_(process.Reserve(size)) {}

void RemoteMemory::Release() noexcept {
  if (!address_) return;
  // Still the window's process: the id names the process the memory was reserved in.
  if (WindowProcessId(window_) == processId_) {
    const ProcessHandle process(access::kVmOperation, processId_);
    process.Release(address_);
  }
  window_ = 0;
  processId_ = address_ = 0;
}

void RemoteMemory::Swap(RemoteMemory& other) noexcept {
  std::swap(window_, other.window_);
  std::swap(processId_, other.processId_);
  std::swap(address_, other.address_);
}

}  // namespace platform
