#include "sim/SimWorld.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace sim {

namespace {
World* gCurrent = nullptr;
}

// ---------------------------------------------------------------- address space

uint32_t AddressSpace::Map(uint32_t pages) {
  const uint64_t bytes = uint64_t(pages) * platform::kPageSize;
  // Leave one unmapped page after each region so regions never touch.
  while (!MapAt(next_, pages)) next_ += platform::kPageSize;
  uint32_t at = next_;
  next_ = uint32_t(next_ + bytes + platform::kPageSize);
  return at;
}

bool AddressSpace::MapAt(uint32_t address, uint32_t pages) {
  if (address == 0 || address % platform::kPageSize || pages == 0) return false;
  const uint64_t end = uint64_t(address) + uint64_t(pages) * platform::kPageSize;
  if (end > 0x100000000ull) return false;
  for (const auto& [start, bytes] : regions_)
    if (address < start + bytes.size() && start < end) return false;
  regions_[address].assign(std::size_t(end - address), 0);
  return true;
}

void AddressSpace::Unmap(uint32_t address) { regions_.erase(address); }

bool AddressSpace::Write(uint32_t address, const void* data, std::size_t size) {
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin()) return false;
  --it;
  const uint64_t offset = uint64_t(address) - it->first;
  if (offset + size > it->second.size()) return false;
  if (size) std::memcpy(it->second.data() + offset, data, size);
  return true;
}

bool AddressSpace::Read(uint32_t address, void* buffer, std::size_t size) const {
  auto it = regions_.upper_bound(address);
  if (it == regions_.begin()) return false;
  --it;
  const uint64_t offset = uint64_t(address) - it->first;
  if (offset + size > it->second.size()) return false;  // regions never touch: crossing the end fails
  if (size) std::memcpy(buffer, it->second.data() + offset, size);
  return true;
}

// ---------------------------------------------------------------- time format

std::string FormatTime(const std::string& format, int hours, int minutes, int seconds) {
  std::string out;
  for (std::size_t i = 0; i < format.size();) {
    const char c = format[i];
    if (c == '\'') {  // quoted literal text
      const std::size_t end = format.find('\'', i + 1);
      out += format.substr(i + 1, end == std::string::npos ? std::string::npos : end - i - 1);
      i = end == std::string::npos ? format.size() : end + 1;
      continue;
    }
    const int value = c == 'h' ? hours : c == 'n' ? minutes : c == 's' ? seconds : -1;
    if (value < 0) {
      out += format[i++];
      continue;
    }
    const bool twoDigits = i + 1 < format.size() && format[i + 1] == c;
    if (twoDigits && value < 10) out += '0';
    out += std::to_string(value);
    i += twoDigits ? 2 : 1;
  }
  return out;
}

// ---------------------------------------------------------------- world

World::World() : previous_(gCurrent) { gCurrent = this; }

World::~World() {
  if (gCurrent == this) gCurrent = previous_;
}

World* World::Current() { return gCurrent; }

void World::Advance(int64_t ms) {
  const int64_t target = now_ + ms;
  for (;;) {
    // Answers to questions come through the same loop as the ticks, the earlier first.
    std::erase_if(answers_, [this](const PendingAnswer& a) { return !WindowAlive(a.Window); });
    auto answer = std::min_element(answers_.begin(), answers_.end(), [](const PendingAnswer& a, const PendingAnswer& b) {
      return (a.Due < 0) != (b.Due < 0) ? b.Due < 0 : a.Due < b.Due;
    });
    auto next = std::min_element(timers_.begin(), timers_.end(), [](const PendingTimer& a, const PendingTimer& b) {
      return a.Due != b.Due ? a.Due < b.Due : a.Seq < b.Seq;
    });
    // A hang that ends by itself comes before what falls due at the same time: its answers may then be due.
    const int64_t hangEnd = NextHangEnd();
    if (hangEnd >= 0 && hangEnd <= target && (next == timers_.end() || hangEnd <= next->Due) &&
        (answer == answers_.end() || answer->Due < 0 || hangEnd <= answer->Due)) {
      now_ = std::max(now_, hangEnd);
      EndHangsDue();
      continue;
    }
    if (answer != answers_.end() && answer->Due >= 0 && answer->Due <= target &&
        (next == timers_.end() || answer->Due <= next->Due)) {
      now_ = std::max(now_, answer->Due);
      Handle(*answer);
      const uintptr_t id = answer->Id;
      const int32_t reply = *answer->Reply;
      answers_.erase(answer);
      const int64_t dispatched = now_;
      platform::AnswerQuestion::Answered(id, reply);
      longestDispatch_ = std::max(longestDispatch_, now_ - dispatched);
      dispatchedMs_ += now_ - dispatched;
      continue;
    }
    if (next == timers_.end() || next->Due > target) break;
    now_ = std::max(now_, next->Due);
    // Periods missed while the thread was blocked make one late tick, as Windows coalesces WM_TIMER.
    do next->Due += next->Interval;
    while (next->Due <= now_);
    // The handler may stop, restart or destroy this timer (or others): look it up afresh next round.
    const int64_t dispatched = now_;
    next->Timer->Tick();
    longestDispatch_ = std::max(longestDispatch_, now_ - dispatched);
    dispatchedMs_ += now_ - dispatched;
  }
  now_ = std::max(now_, target);
}

uint32_t World::CreateProcess() {
  uint32_t pid = nextPid_;
  nextPid_ += 4;
  processes_[pid];
  return pid;
}

AddressSpace* World::Memory(uint32_t pid) {
  auto it = processes_.find(pid);
  return it == processes_.end() || !it->second.Alive ? nullptr : &it->second.Memory;
}

void World::EndProcess(uint32_t pid) {
  auto it = processes_.find(pid);
  if (it == processes_.end()) return;
  it->second.Alive = false;
  for (auto& [h, w] : windows_)
    if (w.Pid == pid) w.Alive = false;
}

bool World::ProcessAlive(uint32_t pid) const {
  auto it = processes_.find(pid);
  return it != processes_.end() && it->second.Alive;
}

WindowHandle World::CreateWindow(const std::string& className, uint32_t pid, WindowProc* proc) {
  WindowHandle h = nextWindow_;
  nextWindow_ += 2;
  windows_[h] = Window{className, pid, proc};
  return h;
}

void World::DestroyWindow(WindowHandle window) {
  auto it = windows_.find(window);
  if (it != windows_.end()) it->second.Alive = false;
}

bool World::WindowAlive(WindowHandle window) const {
  auto it = windows_.find(window);
  return it != windows_.end() && it->second.Alive;
}

void World::SetHung(WindowHandle window, bool hung) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  it->second.Hung = hung;
  it->second.HungUntil = -1;
  // Its thread handles the questions in the order asked, one answer time each.
  it->second.BusyUntil = now_;
  for (PendingAnswer& a : answers_)
    if (a.Window == window) a.Due = hung ? -1 : (it->second.BusyUntil += it->second.DelayMs);
  if (hung) return;
  // Its thread runs again: it handles what was posted meanwhile. A handler may close the window.
  std::vector<SentMessage> due;
  std::erase_if(waitingPosts_, [&](const SentMessage& m) {
    if (m.Window != window) return false;
    due.push_back(m);
    return true;
  });
  for (const SentMessage& m : due) {
    auto w = windows_.find(m.Window);
    if (w != windows_.end() && w->second.Alive && w->second.Proc)
      w->second.Proc->OnMessage(m.Message, m.WParam, m.LParam);
  }
}

void World::HangFor(WindowHandle window, int64_t ms) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  SetHung(window, true);
  it->second.HungUntil = now_ + std::max<int64_t>(ms, 0);
}

void World::EndHangsDue() {
  for (auto& [h, w] : windows_)
    if (w.HungUntil >= 0 && w.HungUntil <= now_) {
      w.HungUntil = -1;
      SetHung(h, false);
    }
}

int64_t World::NextHangEnd() const {
  int64_t earliest = -1;
  for (const auto& [h, w] : windows_)
    if (w.Alive && w.HungUntil >= 0 && (earliest < 0 || w.HungUntil < earliest)) earliest = w.HungUntil;
  return earliest;
}

void World::SetReplyDelay(WindowHandle window, uint32_t ms) {
  auto it = windows_.find(window);
  if (it != windows_.end()) it->second.DelayMs = ms;
}

void World::AddFile(const std::string& path, Launcher launcher) { files_[path] = std::move(launcher); }

void World::AddDirectory(const std::string& path) { directories_.push_back(path); }

void World::RemoveFile(const std::string& path) { files_.erase(path); }

WindowHandle World::FindWindow(const std::string& className) {
  const std::vector<WindowHandle> found = FindWindows(className);
  return found.empty() ? 0 : found.front();
}

std::vector<WindowHandle> World::FindWindows(const std::string& className) {
  ++lookups_;
  std::vector<WindowHandle> found;
  for (const auto& [h, w] : windows_)
    if (w.Alive && w.ClassName == className) found.push_back(h);
  return found;
}

platform::SendResult World::Send(WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam,
                                 uint32_t timeoutMs) {
  using platform::SendOutcome;
  sent_.push_back({window, message, wParam, lParam});
  traffic_.push_back({sent_.back(), false});
  if (OnSend) OnSend(sent_.back());
  auto it = windows_.find(window);
  if (it == windows_.end() || !it->second.Alive) return {SendOutcome::NoWindow, 0};
  // A hang that ends within the limit is waited out; the limit counts from the send.
  const int64_t sent = now_;
  if (it->second.Hung && it->second.HungUntil >= 0 && it->second.HungUntil - now_ < int64_t(timeoutMs)) {
    Pass(it->second.HungUntil - now_);
    EndHangsDue();
  }
  const int64_t left = int64_t(timeoutMs) - (now_ - sent);
  // The questions asked before are handled first: their answers come, then ours.
  const int64_t queued = std::max<int64_t>(it->second.BusyUntil - now_, 0);
  if (it->second.Hung || queued + it->second.DelayMs >= left) {
    Pass(left);  // the send gives up
    return {SendOutcome::GivenUp, 0};
  }
  // Handled before ours: their answers are dispatched once this send has returned.
  for (PendingAnswer& a : answers_)
    if (a.Window == window) Handle(a);
  Pass(queued + it->second.DelayMs);
  return {SendOutcome::Answered, it->second.Proc ? it->second.Proc->OnMessage(message, wParam, lParam) : 0};
}

bool World::Post(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam) {
  auto it = windows_.find(window);
  if (it == windows_.end() || !it->second.Alive) return false;
  posted_.push_back({window, message, wParam, lParam});
  traffic_.push_back({posted_.back(), true});
  if (it->second.Hung)
    waitingPosts_.push_back(posted_.back());
  else if (it->second.Proc)
    it->second.Proc->OnMessage(message, wParam, lParam);
  return true;
}

// The window handles a question once; its reply comes back with the answer.
void World::Handle(PendingAnswer& a) {
  if (a.Reply) return;
  auto w = windows_.find(a.Message.Window);
  const bool handles = a.Message.Message != platform::WM_NULL_ && w != windows_.end() && w->second.Proc;
  a.Reply = handles ? w->second.Proc->OnMessage(a.Message.Message, a.Message.WParam, a.Message.LParam) : 0;
}

bool World::AskAnswer(WindowHandle window, uintptr_t id, uint32_t message, uint32_t wParam, uint32_t lParam) {
  if (!questionsPossible_ || !WindowAlive(window)) return false;
  ++questionsAsked_;
  const SentMessage m{window, message, wParam, lParam};
  if (message != platform::WM_NULL_) {
    sent_.push_back(m);
    traffic_.push_back({m, false});
    if (OnSend) OnSend(m);
  }
  Window& w = windows_.at(window);
  int64_t due = -1;
  if (!w.Hung) due = w.BusyUntil = std::max(now_, w.BusyUntil) + w.DelayMs;
  answers_.push_back({window, id, due, m, std::nullopt});
  return true;
}

uint32_t World::WindowProcess(WindowHandle window) const {
  auto it = windows_.find(window);
  return it == windows_.end() || !it->second.Alive ? 0 : it->second.Pid;
}

uintptr_t World::OpenProcess(uint32_t pid, uint32_t access) {
  ++openCalls_;
  openedRights_.push_back(access);
  if (!ProcessAlive(pid)) return 0;
  for (std::size_t slot = 0; slot < handles_.size(); ++slot) {
    if (handles_[slot].Pid != 0) continue;
    handles_[slot] = {pid, access};
    return slot + 1;
  }
  return 0;  // more open at once than any use of ours needs
}

void World::CloseProcess(uintptr_t handle) {
  if (handle >= 1 && handle <= handles_.size()) handles_[handle - 1] = {};
}

int World::OpenProcessHandles() const {
  return int(std::count_if(handles_.begin(), handles_.end(), [](const OpenHandle& h) { return h.Pid != 0; }));
}

const World::Process* World::Through(uintptr_t handle, uint32_t rights) const {
  if (handle < 1 || handle > handles_.size() || handles_[handle - 1].Pid == 0) return nullptr;
  const OpenHandle& h = handles_[handle - 1];
  if ((h.Access & rights) != rights) return nullptr;
  auto it = processes_.find(h.Pid);
  return it == processes_.end() || !it->second.Alive ? nullptr : &it->second;
}

World::Process* World::Through(uintptr_t handle, uint32_t rights) {
  return const_cast<Process*>(std::as_const(*this).Through(handle, rights));
}

bool World::ReadProcess(uintptr_t handle, uint32_t address, void* buffer, std::size_t size) const {
  const Process* p = Through(handle, platform::access::kVmRead);
  return p && p->Memory.Read(address, buffer, size);
}

bool World::WriteProcess(uintptr_t handle, uint32_t address, const void* data, std::size_t size) {
  Process* p = Through(handle, platform::access::kVmWrite | platform::access::kVmOperation);
  return p && p->Memory.Write(address, data, size);
}

uint32_t World::ReserveIn(uintptr_t handle, uint32_t size) {
  Process* p = Through(handle, platform::access::kVmOperation);
  if (!p || size == 0) return 0;
  const uint32_t address = p->Memory.Map((size + platform::kPageSize - 1) / platform::kPageSize);
  p->Reserved.push_back(address);
  return address;
}

bool World::ReleaseIn(uintptr_t handle, uint32_t address) {
  Process* p = Through(handle, platform::access::kVmOperation);
  if (!p || std::erase(p->Reserved, address) == 0) return false;
  p->Memory.Unmap(address);
  return true;
}

int World::Reservations(uint32_t pid) const {
  auto it = processes_.find(pid);
  return it == processes_.end() || !it->second.Alive ? 0 : int(it->second.Reserved.size());
}

bool World::PeekProcess(uint32_t pid, uint32_t address, void* buffer, std::size_t size) const {
  auto it = processes_.find(pid);
  return it != processes_.end() && it->second.Alive && it->second.Memory.Read(address, buffer, size);
}

uint32_t World::Shell(const std::string& file, const std::string& parameters, int show) {
  shellCalls_.push_back({file, parameters, show});
  auto it = files_.find(file);
  if (it == files_.end() || !it->second) return 0;
  Launcher launch = it->second;  // the launcher may add files
  return launch(parameters);
}

bool World::IsFile(const std::string& path) const { return !path.empty() && files_.count(path) > 0; }

void World::StartTimer(platform::Timer* timer, uint32_t interval) {
  StopTimer(timer);
  timers_.push_back({timer, now_ + interval, interval, timerSeq_++});
}

std::vector<uint32_t> World::TimerIntervals() const {
  std::vector<PendingTimer> running = timers_;
  std::sort(running.begin(), running.end(), [](const PendingTimer& a, const PendingTimer& b) { return a.Seq < b.Seq; });
  std::vector<uint32_t> intervals;
  for (const PendingTimer& t : running) intervals.push_back(t.Interval);
  return intervals;
}

void World::StopTimer(platform::Timer* timer) {
  std::erase_if(timers_, [timer](const PendingTimer& t) { return t.Timer == timer; });
}

}  // namespace sim
