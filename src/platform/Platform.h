// The operations module code needs from Windows. Two implementations:
// win32/ (the real target) and testing/sim/ (a deterministic simulated world for
// the native tests). Module code reaches Windows through this header only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// A window handle as a 32-bit value; 0 means none.
using WindowHandle = uint32_t;

constexpr uint32_t WM_NULL_ = 0x0000;
constexpr uint32_t WM_COMMAND_ = 0x0111;
constexpr uint32_t WM_USER_ = 0x0400;
constexpr uint32_t WM_COPYDATA_ = 0x004A;
constexpr int SW_MINIMIZE_ = 6;

// The longest a send waits for the player; a hung player never blocks the caller longer.
constexpr uint32_t kSendTimeoutMs = 2000;

// The first top-level window of that class, or 0.
WindowHandle FindWindowByClass(const std::string& className);
// Every top-level window of that class, in the order a lookup meets them.
std::vector<WindowHandle> FindWindowsByClass(const std::string& className);

// How a send ended: the window's thread answered; the send was given up (the
// limit passed, or the thread counts as hung); or there was no such window.
enum class SendOutcome { Answered, GivenUp, NoWindow };

struct SendResult {
  SendOutcome Outcome;
  int32_t Reply;  // the answer as a signed 32-bit value; 0 unless answered
};

// Sends synchronously and waits at most `timeoutMs` for the answer, letting
// nothing in meanwhile: what others send to this thread (answers to questions
// included) waits for its message loop, so nothing of ours runs inside a send.
// A window that sends back to this thread while handling ours holds both until
// the limit. `lParam` is a value or an address in our process.
SendResult SendMessageWait(WindowHandle window, uint32_t message, uint32_t wParam, uintptr_t lParam,
                           uint32_t timeoutMs = kSendTimeoutMs);

// Puts the message in the window's queue and returns at once: its thread
// handles it whenever it answers again. False when there is no such window.
bool PostMessageNoWait(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam);

// Asks a window without waiting: a message whose answer comes back through
// this thread's message loop, whenever the window's thread has handled it. The
// null message asks only whether that thread answers. The handler runs on this
// thread with the window's reply once the answer has arrived, unless this
// object has gone or asked again in between. One question at a time per
// object. An answer may come after the object, or the whole module, has gone:
// it then runs nothing of the module's (the module stays loaded until it has
// come). Only messages that carry no address can be asked this way.
class AnswerQuestion {
 public:
  AnswerQuestion() = default;
  ~AnswerQuestion() { Cancel(); }
  AnswerQuestion(const AnswerQuestion&) = delete;
  AnswerQuestion& operator=(const AnswerQuestion&) = delete;

  // False when the question could not be asked: the handler will not run.
  bool Ask(WindowHandle window, std::function<void()> onAnswer);
  bool Ask(WindowHandle window, uint32_t message, uint32_t wParam, uint32_t lParam,
           std::function<void(int32_t reply)> onAnswer);
  // Forgets the question; its answer, if one comes, is dropped.
  void Cancel();
  // Asked, and its answer has not come yet.
  bool Pending() const { return id_ != 0; }

  // Called by the implementation when the answer to question `id` arrives.
  static void Answered(uintptr_t id, int32_t reply);

 private:
  // Each platform's way of asking; false when it cannot.
  static bool AskWindow(WindowHandle window, uintptr_t id, uint32_t message, uint32_t wParam, uint32_t lParam);
  uintptr_t id_ = 0;
  std::function<void(int32_t)> onAnswer_;
};

// One dispatch of this thread by the module: a timer's tick, an answer, a
// call from the server or a script. All the sends made within it share one
// send limit, counted from its start; one made inside another (an event
// script's call during a variable write) shares the outer one's.
class Dispatch {
 public:
  Dispatch();
  ~Dispatch();
  Dispatch(const Dispatch&) = delete;
  Dispatch& operator=(const Dispatch&) = delete;

  // What is left of the send limit for the dispatch under way (the whole
  // limit outside any); 0 once it is spent.
  static uint32_t LeftMs();
  // Ends the time of the dispatch under way: a send was given up for lack of it.
  static void Spent();
};

// A monotonic millisecond count that wraps around every 2^32 ms: only
// differences (taken as 32-bit two's-complement) mean anything.
uint32_t TickMs();

// The platform's COPYDATASTRUCT: on the 32-bit target three 32-bit fields.
struct CopyDataRecord {
  uintptr_t dwData;
  uint32_t cbData;
  const void* lpData;
};

// The process that owns the window (0 when there is none).
uint32_t WindowProcessId(WindowHandle window);

// The kinds of kernel handle the module holds: a process opened for its memory, a process it started
// and watches, a file, a search of a folder. Each platform closes each kind its own way.
enum class HandleKind : uint8_t { Process, Started, File, Search };
void CloseHandleOf(HandleKind kind, uintptr_t value) noexcept;

// The one owner of a kernel handle (0 when none): closed when its owner goes, or takes another or
// none, and moved, never copied. A handle it held before a move goes at once.
template <HandleKind Kind>
class Handle {
 public:
  Handle() = default;
  explicit Handle(uintptr_t value) noexcept : value_(value) {}
  ~Handle() { Close(); }
  Handle(Handle&& other) noexcept : value_(std::exchange(other.value_, 0)) {}
  Handle& operator=(Handle&& other) noexcept {
    if (this != &other) {
      Close();
      value_ = std::exchange(other.value_, 0);
    }
    return *this;
  }

  explicit operator bool() const { return value_ != 0; }
  uintptr_t Get() const { return value_; }

 private:
  void Close() noexcept {
    if (value_) CloseHandleOf(Kind, std::exchange(value_, 0));
  }
  uintptr_t value_ = 0;
};

// Rights asked of another process: each opening asks only what its use needs.
namespace access {
constexpr uint32_t kVmOperation = 0x0008;  // PROCESS_VM_OPERATION: reserve and release memory there
constexpr uint32_t kVmRead = 0x0010;       // PROCESS_VM_READ
constexpr uint32_t kVmWrite = 0x0020;      // PROCESS_VM_WRITE (writing needs kVmOperation too)
}  // namespace access

class RemoteMemory;

// An open handle to another process, closed when this object goes.
class ProcessHandle {
 public:
  ProcessHandle(uint32_t access, uint32_t processId);
  ProcessHandle(const ProcessHandle&) = delete;
  ProcessHandle& operator=(const ProcessHandle&) = delete;

  bool IsOpen() const { return bool(handle_); }
  // Copies `size` bytes at `address` in that process; all or nothing, like ReadProcessMemory.
  bool Read(uint32_t address, void* buffer, std::size_t size) const;
  // Copies `size` bytes to `address` in that process; all or nothing.
  bool Write(uint32_t address, const void* data, std::size_t size) const;

 private:
  friend class RemoteMemory;
  // Committed read-write memory there (0 when none could be had), and its release.
  uint32_t Reserve(uint32_t size) const;
  bool Release(uint32_t address) const;

  Handle<HandleKind::Process> handle_;
};

// Read-write memory reserved in the process that owns a window, released when
// this object goes. It holds no handle: each use opens the process with the
// rights it needs and closes it again. The release opens the process by its id
// only while the window still belongs to it: a window lives no longer than its
// process, so the id cannot have passed to another process meanwhile; the
// memory of a process that has ended went with it.
class RemoteMemory {
 public:
  RemoteMemory() = default;
  // Reserves `size` bytes in the window's process through `process`, opened
  // on it with kVmOperation at least; Reserved() says whether it worked.
  RemoteMemory(const ProcessHandle& process, WindowHandle window, uint32_t processId, uint32_t size);
  ~RemoteMemory() { Release(); }
  RemoteMemory(RemoteMemory&& other) noexcept { Swap(other); }
  RemoteMemory& operator=(RemoteMemory&& other) noexcept {
    Swap(other);  // what this held goes with `other`
    return *this;
  }

  bool Reserved() const { return address_ != 0; }
  uint32_t Address() const { return address_; }
  WindowHandle Window() const { return window_; }
  uint32_t ProcessId() const { return processId_; }
  // Gives the memory back now (when its process is still there to take it).
  void Release() noexcept;
  // Lets go of the memory without giving it back: its process may still be
  // writing into it, and it goes when that process ends.
  void LeaveToProcess() noexcept { window_ = 0, processId_ = address_ = 0; }

 private:
  void Swap(RemoteMemory& other) noexcept;

  WindowHandle window_ = 0;
  uint32_t processId_ = 0;
  uint32_t address_ = 0;
};

// The size of the pages in which readable memory begins and ends.
constexpr uint32_t kPageSize = 4096;

// A process started through the shell, watched while this object lives. The
// process runs on when the object goes: only the watch ends.
class StartedProcess {
 public:
  StartedProcess() = default;
  explicit StartedProcess(uintptr_t handle) : handle_(handle) {}

  // True while the process runs; false once it has ended, or when the shell named none.
  bool Running() const;

 private:
  Handle<HandleKind::Started> handle_;
};

// ShellExecuteExA(null, null, file, parameters, null, show): the process it
// started, if the shell names one. Nothing else of the outcome is reported, and
// no error box is shown (the caller is the server's thread).
StartedProcess ShellOpen(const std::string& file, const std::string& parameters, int showCommand);

// True only for an existing file: false for a directory and for the empty text.
bool FileExists(const std::string& path);

// ---- files, for work off the server's thread: any of these may wait seconds on a sleeping disk or a share

// A file opened for reading, shared with writers and deleters; closed when this object goes.
class InputFile {
 public:
  explicit InputFile(const std::string& path);

  // False for a folder, a missing file or one that cannot be opened.
  bool IsOpen() const { return bool(handle_); }
  // Up to `size` bytes from `offset` (fewer at the end), 0 when none could be read. Reads at the
  // offset where the last one ended need no seek, so a pipe reads as a file does.
  std::size_t ReadAt(uint64_t offset, void* buffer, std::size_t size);

 private:
  Handle<HandleKind::File> handle_;
  uint64_t at_ = 0;  // where the next read starts without a seek
};

// A file of a folder: its name, size and when it was last written (comparable among one folder's files).
struct FolderFile {
  std::string Name;
  uint64_t Size = 0;
  uint64_t WrittenAt = 0;
};
// The files of a folder (its path ending in its separator), its folders left out, in no set order;
// none when it cannot be read.
std::vector<FolderFile> FilesIn(const std::string& folder);
// Writes the whole file under a name of its own and moves it into place, so that no reader ever
// sees half of it; an existing file of that name is replaced. False when that could not be done.
bool WriteWholeFile(const std::string& path, const void* data, std::size_t size);
// Marks the file as written now, and says whether it is there.
bool TouchFile(const std::string& path);
bool RemoveFile(const std::string& path);
// The current user's folder of covers, made when missing, ending in its separator; empty when
// there is none to be had.
std::string CoversFolder();

// Runs `work` on a thread of its own and returns at once; false when no thread could be had (the
// work is then dropped unrun). The module stays loaded until the work has returned, even once the
// server has let it go. The work lets no exception out, and shares with the module's thread only
// what both hold a counted reference to.
bool RunOffThread(std::function<void()> work);

// Local date and time: days since 1899-12-30, the fraction being the time of day.
double Now();

// A time of day (0-23, 0-59, 0-59) in the system's long time format.
std::string FormatLongTime(int hours, int minutes, int seconds);

// A window-message timer: ticks on the creating thread through its message
// loop. A new timer is enabled at 1000 ms and ticks once a handler is set;
// changing the interval or the enabled flag restarts the period.
class Timer {
 public:
  Timer();
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

  uint32_t Interval() const { return interval_; }
  bool Enabled() const { return enabled_; }
  void SetInterval(uint32_t ms);
  void SetEnabled(bool enabled);
  void SetOnTimer(std::function<void()> handler);

  // Called by the implementation on each tick.
  void Tick();

 private:
  void Restart();
  uint32_t interval_ = 1000;
  bool enabled_ = true;
  std::function<void()> onTimer_;
  uintptr_t id_ = 0;  // the implementation's timer identifier while running
};

}  // namespace platform
