// This (the server's) thread and other threads with a window each, for the scenarios that show how
// messages travel between them: natively a simulated world that delivers them as Windows does,
// under Wine real threads. One journal, kept in the order things happened, tells both sides.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace threads {

// A thread whose window answers WM_USER by its wParam, the tag: reply tag + 1000. The window notes
// "begin <tag>" when its procedure takes the message and "end <tag>" when it has done with it.
class OtherThread {
 public:
  virtual ~OtherThread() = default;
  virtual platform::WindowHandle Window() const = 0;
  // From now on the thread takes no message for `ms`, busy outside any of ours: what comes meanwhile
  // waits, not yet taken. Returns once that has begun.
  virtual void Hang(uint32_t ms) = 0;
  // Its procedure spends `ms` inside each message of this tag.
  virtual void SpendInside(uint32_t tag, uint32_t ms) = 0;
  // Within a message of this tag, `afterMs` into it, its procedure sends this thread a message whose
  // handling runs `code` here (and waits until it has run), or posts it one. Several go in the order
  // given, which is that of their times.
  virtual void SendsUs(uint32_t tag, uint32_t afterMs, std::function<void()> code) = 0;
  virtual void PostsUs(uint32_t tag, uint32_t afterMs, std::function<void()> code) = 0;
};

constexpr uint32_t kReplyOffset = 1000;

class Desktop {
 public:
  Desktop();
  ~Desktop();
  Desktop(const Desktop&) = delete;
  Desktop& operator=(const Desktop&) = delete;

  std::unique_ptr<OtherThread> StartThread();
  // A note of this thread's in the journal.
  void Note(const std::string& text);
  std::vector<std::string> Journal() const;
  // This thread's message loop for `ms`, or until `done` holds (at most `ms`; whether it holds).
  void RunLoop(uint32_t ms);
  bool RunLoopUntil(const std::function<bool()>& done, uint32_t ms);
  // This thread busy with work of its own for `ms`: it retrieves nothing meanwhile.
  void Block(uint32_t ms);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace threads
