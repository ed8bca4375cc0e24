// The scenarios' threads in a simulated world that delivers messages as Windows does: each other
// thread is a process of its own with one window, and the clock is the world's.
#include "OtherThreads.h"

#include <map>
#include <utility>

#include "PlayerNumbers.h"
#include "sim/SimWorld.h"

namespace threads {

struct Desktop::Impl {
  sim::World world;
  std::vector<std::string> journal;
};

namespace {

class SimThread final : public OtherThread, sim::WindowProc {
 public:
  explicit SimThread(Desktop::Impl& desktop) : desktop_(desktop), world_(desktop.world) {
    window_ = world_.CreateWindow("OtherThread", world_.CreateProcess(), this);
    // Taking a message begins its procedure: what it does on the way is due from then on.
    world_.SetHandlingTime(window_, [this](const sim::SentMessage& m) -> std::optional<uint32_t> {
      if (m.Message != playernumbers::kWmUser) return 0;
      desktop_.journal.push_back("begin " + std::to_string(m.WParam));
      if (auto along = along_.find(m.WParam); along != along_.end())
        for (const Along& a : along->second) {
          const int64_t at = world_.ElapsedMs() + a.AfterMs;
          a.Sends ? world_.SendToServerThread(at, a.Code, window_) : world_.PostToServerThread(at, a.Code);
        }
      auto spend = spend_.find(m.WParam);
      return spend == spend_.end() ? 0 : spend->second;
    });
  }
  ~SimThread() override {
    world_.SetHandlingTime(window_, nullptr);
    world_.DestroyWindow(window_);
  }
  SimThread(const SimThread&) = delete;
  SimThread& operator=(const SimThread&) = delete;
  platform::WindowHandle Window() const override { return window_; }
  void Hang(uint32_t ms) override { world_.HangFor(window_, ms); }
  void SpendInside(uint32_t tag, uint32_t ms) override { spend_[tag] = ms; }
  void SendsUs(uint32_t tag, uint32_t afterMs, std::function<void()> code) override {
    along_[tag].push_back({true, afterMs, std::move(code)});
  }
  void PostsUs(uint32_t tag, uint32_t afterMs, std::function<void()> code) override {
    along_[tag].push_back({false, afterMs, std::move(code)});
  }

 private:
  int32_t OnMessage(uint32_t message, uint32_t wParam, uintptr_t) override {
    if (message != playernumbers::kWmUser) return 0;
    desktop_.journal.push_back("end " + std::to_string(wParam));
    return int32_t(wParam + kReplyOffset);
  }

  struct Along {
    bool Sends;
    uint32_t AfterMs;
    std::function<void()> Code;
  };
  Desktop::Impl& desktop_;
  sim::World& world_;
  sim::WindowHandle window_ = 0;
  std::map<uint32_t, uint32_t> spend_;
  std::map<uint32_t, std::vector<Along>> along_;
};

}  // namespace

Desktop::Desktop() : impl_(std::make_unique<Impl>()) {}

Desktop::~Desktop() = default;

std::unique_ptr<OtherThread> Desktop::StartThread() { return std::make_unique<SimThread>(*impl_); }

void Desktop::Note(const std::string& text) { impl_->journal.push_back(text); }

std::vector<std::string> Desktop::Journal() const { return impl_->journal; }

void Desktop::RunLoop(uint32_t ms) { impl_->world.Advance(ms); }

bool Desktop::RunLoopUntil(const std::function<bool()>& done, uint32_t ms) {
  for (uint32_t waited = 0; waited < ms && !done(); waited += 10) impl_->world.Advance(10);
  return done();
}

void Desktop::Block(uint32_t ms) { impl_->world.Pass(ms); }

}  // namespace threads
