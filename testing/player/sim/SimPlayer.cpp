#include "player/sim/SimPlayer.h"

#include <algorithm>
#include <map>

#include "player/PlayerModel.h"

namespace sim {

namespace {

uint32_t PagesFor(std::size_t bytes) {
  return uint32_t((bytes + platform::kPageSize - 1) / platform::kPageSize);
}

}  // namespace

// The player's process, window and memory. Each text gets its own region; the
// world leaves an unmapped page after every region, so a text placed at a
// region's end is followed by inaccessible memory.
struct SimPlayer::Impl final : WindowProc, player::TextMemory {
  Impl(World& w, const std::string& name) : world(w), className(name), pid(w.CreateProcess()) {}

  uint32_t Store(std::string_view text, player::Placement placement) override {
    AddressSpace* memory = world.Memory(pid);
    if (!memory) return 0;
    const std::size_t bytes = text.size() + 1;
    // Like a heap block, an ordinary text has room after it for a fixed-size read.
    const uint32_t pages = PagesFor(std::max<std::size_t>(bytes, kReadRoom));
    const uint32_t region = memory->Map(pages);
    const uint32_t address =
        placement == player::Placement::EndOfMemory ? uint32_t(region + pages * platform::kPageSize - bytes) : region;
    memory->Write(address, text.data(), text.size());  // the mapping is zeroed: the terminator is there
    regions[address] = region;
    return address;
  }

  void Free(uint32_t address) override {
    auto it = regions.find(address);
    if (it == regions.end()) return;
    if (AddressSpace* memory = world.Memory(pid)) memory->Unmap(it->second);
    regions.erase(it);
  }

  // The playlist window's messages, on the same model.
  struct Playlist final : WindowProc {
    explicit Playlist(Impl& i) : impl(i) {}
    int32_t OnMessage(uint32_t message, uint32_t wParam, uintptr_t lParam) override {
      impl.CatchUp();
      if (message == platform::WM_COPYDATA_) {
        const auto* record = reinterpret_cast<const platform::CopyDataRecord*>(lParam);
        return record ? impl.model.OnPlaylistCopyData(record->dwData, record->lpData, record->cbData) : 0;
      }
      return message == platform::WM_USER_ ? impl.model.OnPlaylistUser(wParam, uint32_t(lParam)) : 0;
    }
    Impl& impl;
  };

  void CatchUp() {
    const int64_t now = world.ElapsedMs();
    model.AdvanceTime(now - lastMs);
    lastMs = now;
  }

  int32_t OnMessage(uint32_t message, uint32_t wParam, uintptr_t lParam) override {
    CatchUp();
    switch (message) {
      case platform::WM_COMMAND_: {
        int32_t reply = model.OnCommand(wParam);
        if (model.CloseRequested()) Close();
        return reply;
      }
      case platform::WM_USER_:
        return OnUser(wParam, uint32_t(lParam));
      case platform::WM_COPYDATA_: {
        const auto* record = reinterpret_cast<const platform::CopyDataRecord*>(lParam);
        if (!record) return 0;
        const std::string_view text = player::CopyDataText(record->lpData, record->cbData);
        switch (record->dwData) {
          case player::control::kSetTitle:
            return model.SetTitle(model.CurrentIndex(), text) ? 1 : 0;
          case player::control::kSetTitleAtEnd:
            return model.SetTitle(model.CurrentIndex(), text, player::Placement::EndOfMemory) ? 1 : 0;
          case player::control::kSetTag:
            return player::SetTagFromControl(model, text) ? 1 : 0;
        }
        if (refuseFiles && record->dwData == player::copydata::kAddFile) return 0;
        return model.OnCopyData(record->dwData, record->lpData, record->cbData);
      }
    }
    return 0;
  }

  // The test controls that make sense in a world without threads; hanging,
  // dying and delaying are the SimPlayer's own methods.
  int32_t OnUser(uint32_t wParam, uint32_t lParam) {
    if (lParam == player::user::kPlaylistWindow) return namesPlaylist ? int32_t(playlistWindow) : 0;
    if (lParam == player::user::kExtendedFileInfo) return ExtendedFileInfo(wParam);
    return controls.OnUser(model, wParam, lParam);
  }

  // The record at `address` in our memory: four 32-bit fields, as a 32-bit player has them.
  int32_t ExtendedFileInfo(uint32_t address) {
    AddressSpace* memory = world.Memory(pid);
    uint32_t record[4];
    if (!memory || !memory->Read(address, record, sizeof record)) return 0;
    const player::SharedControls::TagAnswer answer =
        controls.ExtendedFileInfo(model, ReadString(*memory, record[0]), ReadString(*memory, record[1]), record[3]);
    if (answer.Reply && !memory->Write(record[2], answer.Bytes.data(), answer.Bytes.size())) return 0;
    if (dieAtTagQuery) Close();
    return answer.Reply;
  }

  // A zero-terminated text of our memory, up to its zero or the end of its mapping.
  static std::string ReadString(const AddressSpace& memory, uint32_t address) {
    std::string text;
    char c;
    while (text.size() < 65536 && memory.Read(uint32_t(address + text.size()), &c, 1) && c) text += c;
    return text;
  }

  void Close() {
    world.DestroyWindow(playlistWindow);
    world.DestroyWindow(window);
    world.EndProcess(pid);
  }

  static constexpr std::size_t kReadRoom = 512;

  World& world;
  std::string className;
  uint32_t pid;
  WindowHandle window = 0;
  WindowHandle playlistWindow = 0;
  Playlist playlist{*this};
  bool showWindow = true;
  bool dieAtTagQuery = false;
  bool namesPlaylist = true;
  int64_t lastMs = 0;
  std::map<uint32_t, uint32_t> regions;  // text address -> its region
  player::PlayerModel model{*this};
  player::SharedControls controls;
  bool refuseFiles = false;  // files to add are answered but not taken
};

SimPlayer::SimPlayer(World& world, const std::string& className, bool showWindow)
    : impl_(std::make_unique<Impl>(world, className)) {
  impl_->showWindow = showWindow;
  impl_->lastMs = world.ElapsedMs();
  if (!showWindow) return;
  impl_->window = world.CreateWindow(className, impl_->pid, impl_.get());
  impl_->playlistWindow = world.CreateWindow(player::kPlaylistClass, impl_->pid, &impl_->playlist);
}

SimPlayer::~SimPlayer() {
  if (impl_->world.ProcessAlive(impl_->pid)) impl_->Close();
}

WindowHandle SimPlayer::Window() const { return impl_->world.WindowAlive(impl_->window) ? impl_->window : 0; }

WindowHandle SimPlayer::PlaylistWindow() const {
  return impl_->world.WindowAlive(impl_->playlistWindow) ? impl_->playlistWindow : 0;
}

uint32_t SimPlayer::Pid() const { return impl_->pid; }

const std::string& SimPlayer::ClassName() const { return impl_->className; }

bool SimPlayer::Running() const {
  return impl_->world.ProcessAlive(impl_->pid) && (!impl_->showWindow || impl_->world.WindowAlive(impl_->window));
}

player::PlayerModel& SimPlayer::Model() { return impl_->model; }

void SimPlayer::CatchUp() { impl_->CatchUp(); }

void SimPlayer::Hang(bool hung) {
  for (WindowHandle w : {impl_->window, impl_->playlistWindow}) impl_->world.SetHung(w, hung);
}

void SimPlayer::HangFor(int64_t ms) {
  for (WindowHandle w : {impl_->window, impl_->playlistWindow}) impl_->world.HangFor(w, ms);
}

void SimPlayer::SetReplyDelay(uint32_t ms) {
  for (WindowHandle w : {impl_->window, impl_->playlistWindow}) impl_->world.SetReplyDelay(w, ms);
}

void SimPlayer::SetHandlingTime(World::HandlingTime time) {
  for (WindowHandle w : {impl_->window, impl_->playlistWindow}) impl_->world.SetHandlingTime(w, time);
}

void SimPlayer::Die() { impl_->world.EndProcess(impl_->pid); }

void SimPlayer::ReplyGarbageAddresses(bool on) { impl_->controls.ReplyGarbageAddresses(on); }

void SimPlayer::RefuseFiles(bool on) { impl_->refuseFiles = on; }

void SimPlayer::DieAtTagQuery() { impl_->dieAtTagQuery = true; }

void SimPlayer::NamePlaylistWindow(bool on) { impl_->namesPlaylist = on; }

void SimPlayer::PlaceTitleAtEndOfMemory(int32_t index, const std::string& title) {
  impl_->model.SetTitle(index, title, player::Placement::EndOfMemory);
}

// ---------------------------------------------------------------- farm

PlayerFarm::PlayerFarm(World& world) : world_(world) {}

PlayerFarm::~PlayerFarm() = default;

void PlayerFarm::InstallExecutable(const std::string& path, bool showWindow) {
  world_.AddFile(path, [this, showWindow](const std::string& parameters) {
    players_.push_back(std::make_unique<SimPlayer>(world_, player::ClassFromCommandLine(parameters), showWindow));
    return players_.back()->Pid();
  });
}

int PlayerFarm::Launches() const { return int(players_.size()); }

const std::vector<std::unique_ptr<SimPlayer>>& PlayerFarm::Players() const { return players_; }

SimPlayer* PlayerFarm::Find(const std::string& className) const {
  for (auto it = players_.rbegin(); it != players_.rend(); ++it)
    if ((*it)->Running() && (*it)->ClassName() == className) return it->get();
  return nullptr;
}

}  // namespace sim
