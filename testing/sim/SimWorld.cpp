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
  // Regions never overlap: only the last one starting before the end can reach into this one.
  auto after = regions_.lower_bound(uint32_t(end - 1));
  if (after != regions_.end() && after->first < end) return false;
  if (after != regions_.begin()) {
    const auto& [start, bytes] = *std::prev(after);
    if (address < start + bytes.size()) return false;
  }
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
  Window& w = windows_[h];
  w.ClassName = className;
  w.Pid = pid;
  w.Proc = proc;
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
  if (!windows_.count(window)) return;
  Thread& t = ThreadOf(window);
  if (hung && Retrieving(t)) t.SilentSince = now_;
  t.Blocked = hung;
  t.BlockedUntil = std::min(t.BlockedUntil, now_);
  RunOthers(now_);
}

void World::HangFor(WindowHandle window, int64_t ms) {
  if (!windows_.count(window)) return;
  // It takes nothing new until then; a message it is inside ends as it would.
  Thread& t = ThreadOf(window);
  if (Retrieving(t)) t.SilentSince = now_;
  t.Blocked = false;
  t.BlockedUntil = now_ + std::max<int64_t>(ms, 0);
}

void World::SetReplyDelay(WindowHandle window, uint32_t ms) {
  auto it = windows_.find(window);
  if (it != windows_.end()) it->second.DelayMs = ms;
}

void World::SetHandlingTime(WindowHandle window, HandlingTime time) {
  auto it = windows_.find(window);
  if (it != windows_.end()) it->second.Time = std::move(time);
}

uint32_t World::TimeFor(const SentMessage& m) {
  auto it = windows_.find(m.Window);
  if (it == windows_.end()) return 0;
  // Asked afresh each time: the function may let go of the window.
  const HandlingTime time = it->second.Time;
  const uint32_t usual = m.Message == platform::WM_NULL_ ? 0 : it->second.DelayMs;
  if (!time) return usual;
  return time(m).value_or(usual);
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
  const SentMessage m{window, message, wParam, lParam};
  Record(m, false);
  auto it = windows_.find(window);
  if (it == windows_.end() || !it->second.Alive) return {SendOutcome::NoWindow, 0};
  Thread& t = ThreadOf(window);
  if (Hung(t)) return {SendOutcome::GivenUp, 0};  // at once, and not sent
  const int64_t deadline = now_ + int64_t(timeoutMs);
  Incoming send = Prepare(Incoming::Kind::Send, m);
  send.Deadline = deadline;
  send.Wait = NewWait();
  const std::shared_ptr<SendWait> wait = send.Wait;
  Enqueue(window, std::move(send));
  auto withdraw = [&] {
    wait->GaveUp = true;
    std::erase_if(t.Sent, [&](const Incoming& in) { return in.Wait == wait; });
  };
  for (;;) {
    RunOthers(now_);
    if (wait->Done) return {SendOutcome::Answered, wait->Reply};
    if (!WindowAlive(window)) {
      withdraw();
      return {SendOutcome::NoWindow, 0};
    }
    if (now_ >= deadline) {
      if (!wait->Taken) ++cancelledSends_;
      withdraw();
      return {SendOutcome::GivenUp, 0};
    }
    // Nothing sent to this thread runs inside the send: it waits for the loop.
    const int64_t other = NextOtherEvent();
    now_ = std::max(now_, other >= 0 && other < deadline ? other : deadline);
  }
}

// A send's record of how it went, from the pool: one that neither a sender nor a queue holds any
// more is used again, so that a send allocates nothing once the pool has grown to what is in flight
// (the module's own allocations are what the benchmarks count).
std::shared_ptr<World::SendWait> World::NewWait() {
  for (const std::shared_ptr<SendWait>& w : waitPool_)
    if (w.use_count() == 1) {
      *w = SendWait{};
      return w;
    }
  waitPool_.push_back(std::make_shared<SendWait>());
  return waitPool_.back();
}

bool World::Post(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam) {
  auto it = windows_.find(window);
  if (it == windows_.end() || !it->second.Alive) return false;
  Record({window, message, wParam, lParam}, true);
  Enqueue(window, Prepare(Incoming::Kind::Post, posted_.back()));
  return true;
}

bool World::AskAnswer(WindowHandle window, uintptr_t id, uint32_t message, uint32_t wParam, uint32_t lParam) {
  if (!questionsPossible_ || !WindowAlive(window)) return false;
  ++questionsAsked_;
  const SentMessage m{window, message, wParam, lParam};
  if (message != platform::WM_NULL_) Record(m, false);
  Incoming question = Prepare(Incoming::Kind::Question, m);
  question.Id = id;
  Enqueue(window, std::move(question));
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

// ---------------------------------------------------------------- delivery as Windows does it

namespace {
// A thread that has retrieved no message for longer than this counts as hung (SMTO_ABORTIFHUNG).
constexpr int64_t kHungAfterMs = 5000;
}  // namespace

void World::Charge(int64_t dispatched, int64_t elsewhere) {
  const int64_t held = now_ - dispatched - (elsewhereMs_ - elsewhere);
  longestDispatch_ = std::max(longestDispatch_, held);
  dispatchedMs_ += held;
}

void World::Record(const SentMessage& m, bool posted) {
  (posted ? posted_ : sent_).push_back(m);
  traffic_.push_back({m, posted});
  if (!posted && OnSend) OnSend(m);
}

bool World::RunOffThread(std::function<void()> work) {
  offThread_.push_back({now_ + std::max<int64_t>(diskMs_, 0), std::move(work)});
  return true;
}

void World::DiskWait() {
  if (!offThreadRunning_ && diskMs_ > 0) Pass(diskMs_);
}

void World::Pass(int64_t ms) {
  const int64_t target = now_ + ms;
  RunOthers(target);
  now_ = std::max(now_, target);
}

void World::SendToServerThread(int64_t at, std::function<void()> run, WindowHandle from) {
  const uint32_t pid = from && windows_.count(from) ? windows_.at(from).Pid : 0;
  if (pid) ++threads_[pid].WaitingOnServer;
  forServer_.push_back({ForServer::Kind::Sent, at, forServerSeq_++, 0, 0, std::move(run), pid});
}

void World::PostToServerThread(int64_t at, std::function<void()> run) {
  forServer_.push_back({ForServer::Kind::Posted, at, forServerSeq_++, 0, 0, std::move(run)});
}

World::Thread& World::ThreadOf(WindowHandle window) { return threads_[windows_.at(window).Pid]; }

// Waiting for messages, as opposed to inside one or hanging.
bool World::Retrieving(const Thread& t) const { return !t.Current && !t.Blocked && t.BlockedUntil <= now_; }

bool World::Hung(const Thread& t) const { return !Retrieving(t) && now_ - t.SilentSince > kHungAfterMs; }

World::Incoming World::Prepare(Incoming::Kind how, const SentMessage& m) {
  Incoming in{how, m, -1, 0, nullptr, nullptr};
  if (m.Message == platform::WM_COPYDATA_ && m.LParam) {
    const auto* record = reinterpret_cast<const platform::CopyDataRecord*>(m.LParam);
    in.Copy = std::make_shared<Marshalled>();
    const auto* data = static_cast<const uint8_t*>(record->lpData);
    if (data) in.Copy->Data.assign(data, data + record->cbData);
    in.Copy->Record = {record->dwData, record->cbData, data ? in.Copy->Data.data() : nullptr};
    in.Message.LParam = reinterpret_cast<uintptr_t>(&in.Copy->Record);
  }
  return in;
}

void World::Enqueue(WindowHandle window, Incoming message) {
  Thread& t = ThreadOf(window);
  (message.How == Incoming::Kind::Post ? t.Posted : t.Sent).push_back(std::move(message));
  RunOthers(now_);  // a thread that waits for messages takes it at once
}

int64_t World::NextOtherEvent() const {
  int64_t earliest = -1;
  for (const auto& [pid, t] : threads_) {
    int64_t at = -1;
    if (t.Current && t.WaitingOnServer > 0)
      continue;  // inside a send to this thread: it waits until this thread has handled it
    if (t.Current)
      at = t.EndsAt;
    else if (!t.Blocked && (!t.Sent.empty() || !t.Posted.empty()))
      at = std::max(t.BlockedUntil, now_);
    if (at >= 0 && (earliest < 0 || at < earliest)) earliest = at;
  }
  for (const OffThread& o : offThread_)
    if (earliest < 0 || o.Due < earliest) earliest = std::max(o.Due, now_);
  return earliest;
}

// The other threads' events up to `until`, each at its time, one at a time: a procedure may change
// any thread's state.
void World::RunOthers(int64_t until) {
  for (;;) {
    const int64_t at = NextOtherEvent();
    if (at < 0 || at > until) return;
    now_ = std::max(now_, at);
    const auto due = std::find_if(offThread_.begin(), offThread_.end(), [&](const OffThread& o) { return o.Due <= now_; });
    if (due != offThread_.end()) {
      const std::function<void()> work = std::move(due->Work);
      offThread_.erase(due);
      ++offThreadRuns_;
      offThreadRunning_ = true;
      work();
      offThreadRunning_ = false;
      continue;
    }
    for (auto& [pid, t] : threads_) {
      const bool due = t.Current ? t.WaitingOnServer == 0 && t.EndsAt <= now_
                                 : !t.Blocked && t.BlockedUntil <= now_ && (!t.Sent.empty() || !t.Posted.empty());
      if (!due) continue;
      StepThread(t);
      break;
    }
  }
}

// Ends the message the thread is inside, or takes its next: what was sent before what was posted.
void World::StepThread(Thread& t) {
  if (t.Current) {
    const Incoming m = std::move(*t.Current);
    t.Current.reset();
    auto w = windows_.find(m.Message.Window);
    const bool alive = w != windows_.end() && w->second.Alive;
    WindowProc* proc = alive ? w->second.Proc : nullptr;
    const bool asks = !(m.How == Incoming::Kind::Question && m.Message.Message == platform::WM_NULL_);
    const int32_t reply = proc && asks ? proc->OnMessage(m.Message.Message, m.Message.WParam, m.Message.LParam) : 0;
    if (m.How == Incoming::Kind::Send) {
      if (!m.Wait->GaveUp) {
        m.Wait->Done = true;
        m.Wait->Reply = reply;
      } else if (alive) {
        ++lateCompletions_;  // its reply is thrown away
      }
    }
    if (m.How == Incoming::Kind::Question && alive)
      forServer_.push_back({ForServer::Kind::Answer, now_, forServerSeq_++, m.Id, reply, nullptr});
    return;
  }
  while (!t.Sent.empty() || !t.Posted.empty()) {
    std::vector<Incoming>& queue = t.Sent.empty() ? t.Posted : t.Sent;
    Incoming m = std::move(queue.front());
    queue.erase(queue.begin());
    if (!WindowAlive(m.Message.Window)) continue;
    // Given up before it was taken: cancelled, never handled.
    if (m.How == Incoming::Kind::Send && (m.Wait->GaveUp || m.Deadline <= now_)) continue;
    if (m.Wait) m.Wait->Taken = true;
    t.SilentSince = now_;
    const uint32_t ms = TimeFor(m.Message);
    t.EndsAt = now_ + ms;
    t.Current = std::move(m);
    return;
  }
}

std::vector<World::PendingTimer>::iterator World::NextTimer() {
  return std::min_element(timers_.begin(), timers_.end(), [](const PendingTimer& a, const PendingTimer& b) {
    return a.Due != b.Due ? a.Due < b.Due : a.Seq < b.Seq;
  });
}

int64_t World::NextForServer() const {
  int64_t earliest = -1;
  auto consider = [&](int64_t due) {
    if (earliest < 0 || due < earliest) earliest = due;
  };
  for (const ForServer& f : forServer_) consider(f.Due);
  for (const PendingTimer& t : timers_) consider(t.Due);
  return earliest;
}

bool World::DispatchOne() {
  // What was sent (answers among it) before what was posted, each in the order it came; a tick last.
  for (const bool posted : {false, true}) {
    auto best = forServer_.end();
    for (auto it = forServer_.begin(); it != forServer_.end(); ++it) {
      if ((it->How == ForServer::Kind::Posted) != posted || it->Due > now_) continue;
      if (best == forServer_.end() || it->Due < best->Due || (it->Due == best->Due && it->Seq < best->Seq)) best = it;
    }
    if (best == forServer_.end()) continue;
    const ForServer f = std::move(*best);
    forServer_.erase(best);
    if (f.From) {  // the thread that sent it goes on once it has been handled
      Thread& sender = threads_[f.From];
      --sender.WaitingOnServer;
      sender.EndsAt += std::max<int64_t>(now_ - f.Due, 0);
    }
    if (f.How == ForServer::Kind::Answer)
      platform::AnswerQuestion::Answered(f.Id, f.Reply);
    else if (f.Run)
      f.Run();
    return true;
  }
  auto next = NextTimer();
  if (next == timers_.end() || next->Due > now_) return false;
  // Periods missed while the thread was blocked make one late tick, as Windows coalesces WM_TIMER.
  do next->Due += next->Interval;
  while (next->Due <= now_);
  next->Timer->Tick();
  return true;
}

void World::Advance(int64_t ms) {
  const int64_t target = now_ + ms;
  // A dispatch that held the thread past the target leaves what is overdue to the next call.
  while (now_ <= target) {
    RunOthers(now_);
    const int64_t dispatched = now_, elsewhere = elsewhereMs_;
    if (DispatchOne()) {
      Charge(dispatched, elsewhere);
      continue;
    }
    int64_t next = NextOtherEvent();
    const int64_t ours = NextForServer();
    if (next < 0 || (ours >= 0 && ours < next)) next = ours;
    if (next < 0 || next > target) break;
    now_ = std::max(now_, next);
  }
  now_ = std::max(now_, target);
}

}  // namespace sim
