// The simulated world behind the native build's platform: a virtual clock,
// timers that fire in order as tests advance it, top-level windows by class
// name, processes with their own page-granular 32-bit address spaces,
// executables at paths, and a shell that starts them. Nothing sleeps and
// nothing reads the real clock.
//
// One World is current at a time (the newest one constructed); the platform
// functions act on it.
//
// Messages to other threads' windows travel as Windows delivers them, so that
// what a green test says holds on Windows too.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace sim {

using platform::WindowHandle;

// What a simulated window does with a message sent to it. For WM_COPYDATA,
// lParam is the address of a platform::CopyDataRecord in the sender's memory
// (the world is one process, as Windows' marshalling makes it look).
class WindowProc {
 public:
  virtual ~WindowProc() = default;
  // The window's procedure; it runs when the handling ends, at the world's time then.
  virtual int32_t OnMessage(uint32_t message, uint32_t wParam, uintptr_t lParam) = 0;
};

struct SentMessage {
  WindowHandle Window;
  uint32_t Message;
  uint32_t WParam;
  uintptr_t LParam;
  bool operator==(const SentMessage&) const = default;
};

// A message sent or posted to a window.
struct Delivery {
  SentMessage Message;
  bool Posted;
  bool operator==(const Delivery&) const = default;
};

struct ShellCall {
  std::string File;
  std::string Parameters;
  int Show;
  bool operator==(const ShellCall&) const = default;
};

// A process's 32-bit address space. Memory is mapped in whole pages; a read
// that touches any unmapped byte fails as a whole, like ReadProcessMemory.
class AddressSpace {
 public:
  // Maps `pages` zeroed readable pages at a free page-aligned address (never 0).
  uint32_t Map(uint32_t pages);
  // Maps at a chosen page-aligned address; false if it overlaps a mapping.
  bool MapAt(uint32_t address, uint32_t pages);
  void Unmap(uint32_t address);
  bool Write(uint32_t address, const void* data, std::size_t size);
  bool Read(uint32_t address, void* buffer, std::size_t size) const;

 private:
  std::map<uint32_t, std::vector<uint8_t>> regions_;  // start -> bytes (a whole number of pages)
  uint32_t next_ = 0x00400000;
};

// Formats a time of day with a long time format as World describes it.
std::string FormatTime(const std::string& format, int hours, int minutes, int seconds);

class World {
 public:
  World();
  ~World();
  World(const World&) = delete;
  World& operator=(const World&) = delete;

  // The world the platform functions act on; null when none exists.
  static World* Current();

  // ---- clock
  // Local time at the start, as days since 1899-12-30 (default 2026-12-07 12:00).
  void SetStartTime(double days) { start_ = days; }
  int64_t ElapsedMs() const { return now_; }
  double NowDays() const { return start_ + double(now_) / 86400000.0; }
  // Moves the clock on, firing each timer that falls due, in order of due time
  // (ties in the order the timers were started). Periods a timer missed while
  // the clock was passed without firing make a single late tick.
  void Advance(int64_t ms);
  // The long time format: h or hh (hours), n or nn (minutes), s or ss
  // (seconds); text in single quotes and other characters stand as they are.
  // Default "h:nn:ss".
  void SetLongTimeFormat(std::string format) { longTimeFormat_ = std::move(format); }
  const std::string& LongTimeFormat() const { return longTimeFormat_; }
  // Moves the clock without firing timers (a blocked thread does not dispatch them). The other
  // threads go on meanwhile: they handle what they were sent.
  void Pass(int64_t ms);
  // The platform's millisecond tick count: this base plus the elapsed time, cut to 32 bits.
  void SetTickBase(uint32_t ms) { tickBase_ = ms; }
  uint32_t TickMs() const { return uint32_t(tickBase_ + uint64_t(now_)); }

  // ---- processes
  uint32_t CreateProcess();
  AddressSpace* Memory(uint32_t pid);  // null for an unknown or ended process
  // Ends the process; its windows go with it without any message.
  void EndProcess(uint32_t pid);
  bool ProcessAlive(uint32_t pid) const;
  int OpenProcessHandles() const;  // currently open
  int OpenProcessCalls() const { return openCalls_; }
  // The rights each opening asked for, in order, since the sends were last cleared.
  const std::vector<uint32_t>& OpenedRights() const { return openedRights_; }
  // Memory that others reserved in the process and have not released (0 once it has ended).
  int Reservations(uint32_t pid) const;

  // ---- windows
  WindowHandle CreateWindow(const std::string& className, uint32_t pid, WindowProc* proc);
  void DestroyWindow(WindowHandle window);
  bool WindowAlive(WindowHandle window) const;
  // A hung window never answers: each send to it gives up after the send limit.
  // Questions asked of it meanwhile are answered once it no longer hangs.
  void SetHung(WindowHandle window, bool hung);
  // A hang that ends by itself `ms` from now: a send meanwhile waits until it
  // ends and is answered then, or gives up at the send limit if it lasts longer.
  void HangFor(WindowHandle window, int64_t ms);
  // Every answer takes this long (a delay at or above the send limit is a give-up). The time is
  // spent inside the window's procedure, on every message but the null message (which asks the
  // procedure nothing): a send given up meanwhile still takes effect.
  void SetReplyDelay(WindowHandle window, uint32_t ms);
  // The time the window's procedure takes for one message, asked as its thread takes it; empty
  // leaves that message to the reply delay. Null: every message to the reply delay.
  using HandlingTime = std::function<std::optional<uint32_t>(const SentMessage&)>;
  void SetHandlingTime(WindowHandle window, HandlingTime time);
  // Whether the platform can ask a window, without waiting, whether it answers (default yes).
  void SetQuestionsPossible(bool possible) { questionsPossible_ = possible; }
  int QuestionsAsked() const { return questionsAsked_; }

  // ---- the way messages travel, as Windows delivers them
  //  - Each process has one thread, which handles its windows' messages one at a time: what was sent
  //    (questions too) in the order it came, then what was posted. A hang keeps it from taking any;
  //    a message it took ends after the window's time for it, and takes effect then.
  //  - A send given up before that thread took it is cancelled: never handled. One it had taken runs
  //    to the end, its reply thrown away (LateCompletions counts those).
  //  - A send to a thread that has retrieved nothing for more than five seconds gives up at once and
  //    is not sent (SMTO_ABORTIFHUNG).
  //  - While a send of ours waits, this thread handles nothing (SMTO_BLOCK): answers to its
  //    questions, what other threads send or post it and timer ticks wait for its message loop. A
  //    window's thread that sends to this thread meanwhile waits until then, and so does our send.
  //  - Coming back to its loop, this thread takes what was sent to it (answers among them) before
  //    what was posted, and that before a timer's tick, whatever fell due first.
  //  - WM_COPYDATA's record and data are copied at the send, as Windows marshals them: the window
  //    reads the copy, even after the sender gave up.

  // Another thread sends this thread a message at `at` (ms on the clock); handling it runs `run` here,
  // in its loop. Sent by the thread of window `from`, from inside the message that thread handles:
  // that message ends only once this thread has handled ours (its end moves by the wait). Otherwise
  // the sender is none of the windows' threads.
  void SendToServerThread(int64_t at, std::function<void()> run, WindowHandle from = 0);
  // Another thread posts this thread a message at `at`: only the loop runs it.
  void PostToServerThread(int64_t at, std::function<void()> run);
  // Sends given up that their window had taken and handled afterwards; sends given up before it
  // took them (never handled).
  int LateCompletions() const { return lateCompletions_; }
  int CancelledSends() const { return cancelledSends_; }

  // ---- files and the shell
  // Starts what the file starts; answers the process it started (0: none).
  using Launcher = std::function<uint32_t(const std::string& parameters)>;
  // An existing file; starting it through the shell calls `launcher`, if any.
  void AddFile(const std::string& path, Launcher launcher = {});
  void AddDirectory(const std::string& path);
  void RemoveFile(const std::string& path);
  // The real folder that stands for the user's folder of covers (none by default).
  void SetCoversFolder(std::string folder) { coversFolder_ = std::move(folder); }
  const std::string& CoversFolder() const { return coversFolder_; }

  // ---- work off the server's thread, and the disk
  // The time the disk takes to open a file or read a folder (a sleeping disk, a share). On the
  // server's thread the clock moves on meanwhile, as a dispatch holding the thread; work handed to a
  // thread of its own runs, as one step of the other threads, this long after it was handed over.
  // Unrun work is dropped with the world.
  void SetDiskMs(int64_t ms) { diskMs_ = ms; }
  void DiskWait();
  bool RunOffThread(std::function<void()> work);
  int OffThreadRuns() const { return offThreadRuns_; }
  // Handed over and not run yet.
  std::size_t OffThreadPending() const { return offThread_.size(); }

  // ---- observations
  const std::vector<SentMessage>& Sent() const { return sent_; }
  const std::vector<SentMessage>& Posted() const { return posted_; }  // every post, handled or waiting
  // Sends and posts together, in the order they were made, since the sends were last cleared.
  const std::vector<Delivery>& Traffic() const { return traffic_; }
  void ClearSent() {
    sent_.clear();
    traffic_.clear();
    openedRights_.clear();
  }
  const std::vector<ShellCall>& ShellCalls() const { return shellCalls_; }
  int Lookups() const { return lookups_; }  // window lookups by class name so far
  // The intervals of the running timers, in the order they were started.
  std::vector<uint32_t> TimerIntervals() const;
  // The longest the thread was held by one dispatch of the message loop (a
  // timer's tick, a question's answer) since the last reset.
  int64_t LongestDispatchMs() const { return longestDispatch_; }
  void ResetLongestDispatch() { longestDispatch_ = 0; }
  // How long the thread was held by the message loop's dispatches in all (its busy time).
  int64_t DispatchedMs() const { return dispatchedMs_; }
  // While one lives, the time the thread spends is others' work nested in a dispatch (an event
  // script's call, another thread's message), which the two measures above do not charge to it.
  class Elsewhere {
   public:
    explicit Elsewhere(World& world) : world_(world), began_(world.now_) { ++world_.elsewhereDepth_; }
    ~Elsewhere() {
      if (--world_.elsewhereDepth_ == 0) world_.elsewhereMs_ += world_.now_ - began_;
    }
    Elsewhere(const Elsewhere&) = delete;
    Elsewhere& operator=(const Elsewhere&) = delete;

   private:
    World& world_;
    int64_t began_;
  };
  // The time spent elsewhere so far, in all.
  int64_t ElsewhereMs() const { return elsewhereMs_; }
  // Called for every send, before the window sees it (for order checks).
  std::function<void(const SentMessage&)> OnSend;

  // ---- the platform's side (used by the sim platform implementation)
  WindowHandle FindWindow(const std::string& className);
  std::vector<WindowHandle> FindWindows(const std::string& className);  // one lookup
  // Waits for the answer behind the questions the window has still to handle
  // (it handles what it is sent in order), at most `timeoutMs`.
  platform::SendResult Send(WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam,
                            uint32_t timeoutMs = platform::kSendTimeoutMs);
  // A posted message: the window's thread takes it after what was sent to it, in the order posted,
  // once it no longer hangs.
  bool Post(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam);
  // Queues the question `id`; the window handles it and its answer is
  // dispatched by Advance after the window's reply delay (not while it hangs).
  // A question other than the null message is a send as well (Sent, Traffic, OnSend).
  bool AskAnswer(WindowHandle window, uintptr_t id, uint32_t message, uint32_t wParam, uint32_t lParam);
  uint32_t WindowProcess(WindowHandle window) const;
  // A handle to the process with those rights (0 when it has ended); each use
  // through it fails without the rights Windows asks for that use.
  uintptr_t OpenProcess(uint32_t pid, uint32_t access);
  void CloseProcess(uintptr_t handle);
  bool ReadProcess(uintptr_t handle, uint32_t address, void* buffer, std::size_t size) const;
  bool WriteProcess(uintptr_t handle, uint32_t address, const void* data, std::size_t size);
  uint32_t ReserveIn(uintptr_t handle, uint32_t size);
  bool ReleaseIn(uintptr_t handle, uint32_t address);
  // A process's memory as it is, for tests: no handle, no rights.
  bool PeekProcess(uint32_t pid, uint32_t address, void* buffer, std::size_t size) const;
  // The process the launcher started, or 0.
  uint32_t Shell(const std::string& file, const std::string& parameters, int show);
  bool IsFile(const std::string& path) const;
  void StartTimer(platform::Timer* timer, uint32_t interval);
  void StopTimer(platform::Timer* timer);

 private:
  struct Window {
    std::string ClassName;
    uint32_t Pid;
    WindowProc* Proc;
    bool Alive = true;
    uint32_t DelayMs = 0;
    HandlingTime Time;
  };
  uint32_t TimeFor(const SentMessage& m);  // the window's time for one message
  struct Process {
    AddressSpace Memory;
    bool Alive = true;
    std::vector<uint32_t> Reserved;  // regions others reserved in it
  };
  struct OpenHandle {
    uint32_t Pid = 0;
    uint32_t Access = 0;
  };
  // The live process behind a handle that carries all of `rights`, or null.
  Process* Through(uintptr_t handle, uint32_t rights);
  const Process* Through(uintptr_t handle, uint32_t rights) const;
  struct PendingTimer {
    platform::Timer* Timer;
    int64_t Due;
    uint32_t Interval;
    uint64_t Seq;
  };

  // ---- delivery
  // A message on its way to a window of another thread.
  struct SendWait {
    bool Taken = false;   // the window's thread has begun it
    bool Done = false;    // and ended it while the sender still waited
    bool GaveUp = false;  // the sender stopped waiting
    int32_t Reply = 0;
  };
  // WM_COPYDATA as the receiver gets it: its own copy of the record and the data.
  struct Marshalled {
    platform::CopyDataRecord Record{};
    std::vector<uint8_t> Data;
  };
  struct Incoming {
    enum class Kind : uint8_t { Send, Question, Post };
    Kind How;
    SentMessage Message;  // as the window sees it (a copied WM_COPYDATA record)
    int64_t Deadline = -1;  // a send: when its sender gives up unless it was taken
    uintptr_t Id = 0;       // a question
    std::shared_ptr<SendWait> Wait;
    std::shared_ptr<Marshalled> Copy;
  };
  // A process's one thread, as its windows' messages see it.
  struct Thread {
    // Sends and questions, in the order they came, and what was posted: vectors, whose room stays.
    std::vector<Incoming> Sent;
    std::vector<Incoming> Posted;
    std::optional<Incoming> Current;  // inside the procedure
    int64_t EndsAt = 0;               // of the current one
    bool Blocked = false;             // hangs until further notice
    int64_t BlockedUntil = 0;
    int64_t SilentSince = 0;  // when it last retrieved, while it does not
    int WaitingOnServer = 0;  // its sends to this thread not handled yet
  };
  // This thread's own queue: answers and what other threads sent it, and what they posted.
  struct ForServer {
    enum class Kind : uint8_t { Answer, Sent, Posted };
    Kind How;
    int64_t Due;
    uint64_t Seq;
    uintptr_t Id = 0;
    int32_t Reply = 0;
    std::function<void()> Run;
    uint32_t From = 0;  // the process whose thread sent it and waits
  };
  std::shared_ptr<SendWait> NewWait();
  std::vector<std::shared_ptr<SendWait>> waitPool_;
  Thread& ThreadOf(WindowHandle window);
  bool Retrieving(const Thread& t) const;
  bool Hung(const Thread& t) const;
  void Enqueue(WindowHandle window, Incoming message);
  // The other threads' next event (-1: none), and their events up to `until` in order.
  int64_t NextOtherEvent() const;
  void RunOthers(int64_t until);
  void StepThread(Thread& t);
  Incoming Prepare(Incoming::Kind how, const SentMessage& m);
  // Dispatches one of this thread's due messages. Whether it did.
  bool DispatchOne();
  int64_t NextForServer() const;
  std::vector<PendingTimer>::iterator NextTimer();
  void Record(const SentMessage& m, bool posted);

  World* previous_;
  int64_t longestDispatch_ = 0;
  int64_t dispatchedMs_ = 0;
  double start_ = 46363.5;  // 2026-12-07 12:00
  std::string longTimeFormat_ = "h:nn:ss";
  int64_t now_ = 0;
  std::map<WindowHandle, Window> windows_;  // creation order = handle order
  WindowHandle nextWindow_ = 0x10010;
  std::map<uint32_t, Process> processes_;
  uint32_t nextPid_ = 100;
  std::array<OpenHandle, 16> handles_{};  // a handle is its slot's number plus 1; Pid 0: a free slot
  std::vector<uint32_t> openedRights_;    // cleared with the sends: its room stays, so opening allocates nothing
  int lookups_ = 0;
  int openCalls_ = 0;
  std::map<std::string, Launcher> files_;
  std::vector<std::string> directories_;
  std::vector<SentMessage> sent_;
  std::vector<SentMessage> posted_;
  std::vector<Delivery> traffic_;
  std::vector<ShellCall> shellCalls_;
  std::vector<PendingTimer> timers_;
  uint64_t timerSeq_ = 0;
  bool questionsPossible_ = true;
  int questionsAsked_ = 0;
  uint32_t tickBase_ = 0;
  std::map<uint32_t, Thread> threads_;  // by process id
  std::vector<ForServer> forServer_;
  struct OffThread {
    int64_t Due;
    std::function<void()> Work;
  };
  std::vector<OffThread> offThread_;  // in the order handed over
  int64_t diskMs_ = 0;
  bool offThreadRunning_ = false;
  int offThreadRuns_ = 0;
  std::string coversFolder_;
  uint64_t forServerSeq_ = 0;
  int lateCompletions_ = 0;
  int cancelledSends_ = 0;
  int elsewhereDepth_ = 0;
  int64_t elsewhereMs_ = 0;
  // Charges a dispatch that began at `dispatched`, with `elsewhere` spent elsewhere then, to the thread.
  void Charge(int64_t dispatched, int64_t elsewhere);
};

}  // namespace sim
