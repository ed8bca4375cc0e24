#include "PlayerModel.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "sdk/KDOText.h"

namespace player {

namespace {

using kdo::text::EqualIgnoringAZCase;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Where `name` starts as a word (at the start or after a space), or npos.
std::size_t FindSwitch(std::string_view line, std::string_view name) {
  for (std::size_t i = 0; i + name.size() <= line.size(); ++i)
    if ((i == 0 || IsSpace(line[i - 1])) && EqualIgnoringAZCase(line.substr(i, name.size()), name)) return i;
  return std::string_view::npos;
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return lower;
}

// An ID3v1 field: up to its first zero, without the blanks that pad it.
std::string Field(const unsigned char* at, std::size_t size) {
  std::string text(reinterpret_cast<const char*>(at), size);
  text.resize(std::min(text.find('\0'), text.size()));
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// A reply is a signed 32-bit value; larger values wrap as two's complement.
int32_t Wrap32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(value))); }

}  // namespace

std::string_view CopyDataText(const void* data, std::size_t size) {
  if (!data) return {};
  const char* text = static_cast<const char*>(data);
  const void* zero = std::memchr(text, 0, size);
  return {text, zero ? std::size_t(static_cast<const char*>(zero) - text) : size};
}

std::string TitleFromFileName(std::string_view fileName) {
  std::size_t slash = fileName.find_last_of("\\/");
  std::string_view last = slash == std::string_view::npos ? fileName : fileName.substr(slash + 1);
  std::size_t dot = last.rfind('.');
  // A leading dot names the file rather than starting an extension.
  if (dot != std::string_view::npos && dot > 0) last = last.substr(0, dot);
  return std::string(last);
}

std::optional<Tags> ParseId3v1(const unsigned char (&tail)[128]) {
  if (std::memcmp(tail, "TAG", 3) != 0) return std::nullopt;
  Tags tags;
  auto put = [&](const char* name, std::string value) {
    if (!value.empty()) tags[name] = std::move(value);
  };
  put("title", Field(tail + 3, 30));
  put("artist", Field(tail + 33, 30));
  put("album", Field(tail + 63, 30));
  put("year", Field(tail + 93, 4));
  const bool hasTrack = tail[125] == 0 && tail[126] != 0;  // ID3v1.1
  put("comment", Field(tail + 97, hasTrack ? 28 : 30));
  if (hasTrack) put("track", std::to_string(tail[126]));
  if (tail[127] != 255) put("genre", std::to_string(tail[127]));
  return tags;
}

Tags TagsFromFileName(std::string_view fileName) {
  Tags tags;
  const std::string name = TitleFromFileName(fileName);
  const std::size_t dash = name.find(" - ");
  if (dash != std::string::npos) tags["artist"] = name.substr(0, dash);
  tags["title"] = dash == std::string::npos ? name : name.substr(dash + 3);
  return tags;
}

bool SetTagFromControl(PlayerModel& model, std::string_view text) {
  const std::size_t equals = text.find('=');
  return equals != std::string_view::npos &&
         model.SetTag(model.CurrentIndex(), text.substr(0, equals), text.substr(equals + 1));
}

std::string ClassFromCommandLine(std::string_view commandLine) {
  constexpr std::string_view kSwitch = "/CLASS=";
  std::string name;
  std::size_t at = FindSwitch(commandLine, kSwitch);
  if (at != std::string_view::npos) {
    std::string_view rest = commandLine.substr(at + kSwitch.size());
    if (!rest.empty() && rest.front() == '"') {
      rest.remove_prefix(1);
      name = rest.substr(0, rest.find('"'));
    } else {
      std::size_t end = 0;
      while (end < rest.size() && !IsSpace(rest[end])) ++end;
      name = rest.substr(0, end);
    }
  }
  return name.empty() ? "Winamp v1.x" : name;
}

bool HasSwitch(std::string_view commandLine, std::string_view name) {
  std::size_t i = 0;
  while (i < commandLine.size()) {
    while (i < commandLine.size() && IsSpace(commandLine[i])) ++i;
    std::size_t end = i;
    while (end < commandLine.size() && !IsSpace(commandLine[end])) ++end;
    if (end > i && EqualIgnoringAZCase(commandLine.substr(i, end - i), name)) return true;
    i = end;
  }
  return false;
}

PlayerModel::PlayerModel(TextMemory& memory) : memory_(memory) {}

PlayerModel::~PlayerModel() { Clear(); }

int32_t PlayerModel::OnCommand(uint32_t wParam) {
  if (entries_.empty() && (wParam & 0xFFFF) != command::kClose) return 0;
  switch (wParam & 0xFFFF) {
    case command::kPlay:
      if (state_ != PlayState::Paused) positionMs_ = 0;
      state_ = PlayState::Playing;
      break;
    case command::kPause:
      if (state_ == PlayState::Playing)
        state_ = PlayState::Paused;
      else if (state_ == PlayState::Paused)
        state_ = PlayState::Playing;
      break;
    case command::kStop:
      state_ = PlayState::Stopped;
      positionMs_ = 0;
      break;
    case command::kPrevious:
      MakeCurrent(current_ == 0 ? int32_t(entries_.size()) - 1 : current_ - 1);
      break;
    case command::kNext:
      MakeCurrent(std::size_t(current_) + 1 == entries_.size() ? 0 : current_ + 1);
      break;
    case command::kClose:
      closeRequested_ = true;
      break;
  }
  return 0;
}

int32_t PlayerModel::OnUser(uint32_t wParam, uint32_t lParam) {
  const int32_t index = static_cast<int32_t>(wParam);
  switch (lParam) {
    case user::kClearPlaylist:
      Clear();
      return 0;
    case user::kTime:
      return TimeReply(wParam);
    case user::kPlayState:
      return PlayStateReply();
    case user::kJumpToTime:
      return JumpTo(wParam);
    case user::kSetCurrent:
      if (InRange(index)) MakeCurrent(index);
      return 0;
    case user::kVolume:
      if (wParam == user::kVolumeQuery) return volume_;
      if (wParam <= 255) volume_ = int32_t(wParam);
      return 0;
    case user::kCount:
      return int32_t(entries_.size());
    case user::kCurrent:
      return current_;
    case user::kFileAddress:
      return InRange(index) ? static_cast<int32_t>(entries_[index].FileNameAddress) : 0;
    case user::kTitleAddress:
      return InRange(index) ? static_cast<int32_t>(entries_[index].TitleAddress) : 0;
    case user::kGetShuffle:
      return shuffle_ ? 1 : 0;
    case user::kGetRepeat:
      return repeat_ ? 1 : 0;
    case user::kSetShuffle:
      shuffle_ = wParam != 0;
      return 0;
    case user::kSetRepeat:
      repeat_ = wParam != 0;
      return 0;
    case user::kGetManualAdvance:
      return manualAdvance_ ? 1 : 0;
    case user::kSetManualAdvance:
      manualAdvance_ = wParam != 0;
      return 0;
  }
  return 0;
}

int32_t PlayerModel::OnPlaylistUser(uint32_t wParam, uint32_t lParam) {
  if (wParam == playlist::kRemove) Remove(static_cast<int32_t>(lParam));
  return 0;
}

int32_t PlayerModel::OnPlaylistCopyData(uintptr_t dwData, const void* data, std::size_t size) {
  if (dwData != copydata::kInsertFile || !data || size < insertrecord::kSize) return 0;
  int32_t index = 0;
  std::memcpy(&index, static_cast<const char*>(data) + insertrecord::kIndexOffset, sizeof index);
  return Insert(index, CopyDataText(data, insertrecord::kFileSize)) ? 1 : 0;
}

int32_t PlayerModel::OnCopyData(uintptr_t dwData, const void* data, std::size_t size) {
  if (dwData != copydata::kAddFile) return 0;
  return Add(CopyDataText(data, size)) ? 1 : 0;
}

void PlayerModel::AdvanceTime(int64_t ms) {
  if (ms <= 0 || state_ != PlayState::Playing || entries_.empty()) return;
  positionMs_ = ms > std::numeric_limits<int64_t>::max() - positionMs_ ? std::numeric_limits<int64_t>::max()
                                                                         : positionMs_ + ms;
  const int32_t length = entries_[current_].LengthSeconds;
  if (length < 0 || positionMs_ < int64_t(length) * 1000) return;
  EndTrack();
}

// The next entry plays from 0; after the last, the first with repeat on, else it stops there.
// Manual advance stops on the entry that ended.
void PlayerModel::EndTrack() {
  if (!manualAdvance_ && std::size_t(current_) + 1 < entries_.size()) {
    MakeCurrent(current_ + 1);
  } else if (!manualAdvance_ && repeat_) {
    MakeCurrent(0);
  } else {
    state_ = PlayState::Stopped;
    positionMs_ = 0;
  }
}

namespace {

// The stand-in reads no files: a title ending in "(Ns)" gives its entry N
// seconds (a short sound for a script), any other the default length.
int32_t LengthFromTitle(std::string_view title) {
  if (title.size() < 4 || !title.ends_with("s)")) return PlayerModel::kDefaultLengthSeconds;
  const std::size_t open = title.rfind('(');
  if (open == std::string_view::npos || open + 3 > title.size()) return PlayerModel::kDefaultLengthSeconds;
  int32_t seconds = 0;
  for (char c : title.substr(open + 1, title.size() - open - 3)) {
    if (c < '0' || c > '9' || seconds > 100000) return PlayerModel::kDefaultLengthSeconds;
    seconds = seconds * 10 + (c - '0');
  }
  return open + 3 == title.size() ? PlayerModel::kDefaultLengthSeconds : seconds;
}

}  // namespace

bool PlayerModel::Add(std::string_view fileName) { return Insert(int32_t(entries_.size()), fileName); }

bool PlayerModel::Insert(int32_t index, std::string_view fileName) {
  if (fileName.empty() || index < 0 || std::size_t(index) > entries_.size()) return false;
  Entry entry;
  entry.FileName = fileName;
  entry.Title = TitleFromFileName(fileName);
  entry.LengthSeconds = LengthFromTitle(entry.Title);
  std::optional<Tags> read = tagReader_ ? tagReader_(fileName) : std::nullopt;
  entry.FileTags = read ? std::move(*read) : TagsFromFileName(fileName);
  Entry& added = *entries_.insert(entries_.begin() + index, std::move(entry));
  added.FileNameAddress = memory_.Store(added.FileName, Placement::Heap);
  added.TitleAddress = memory_.Store(added.Title, Placement::Heap);
  if (entries_.size() > 1 && index <= current_) ++current_;  // the same entry stays current, where it now is
  return true;
}

bool PlayerModel::SetTitle(int32_t index, std::string_view title, Placement placement) {
  if (!InRange(index)) return false;
  Entry& entry = entries_[index];
  // Store first: the caller may hand us a view of the old title.
  std::string text(title);
  uint32_t address = memory_.Store(text, placement);
  memory_.Free(entry.TitleAddress);
  entry.Title = std::move(text);
  entry.TitleAddress = address;
  return true;
}

bool PlayerModel::SetTag(int32_t index, std::string_view field, std::string_view value) {
  if (!InRange(index)) return false;
  entries_[index].FileTags[LowerCase(field)] = value;
  return true;
}

std::optional<std::string> PlayerModel::Tag(std::string_view fileName, std::string_view field) const {
  std::optional<Tags> read;
  const Tags* tags = nullptr;
  for (const Entry& entry : entries_)
    if (EqualIgnoringAZCase(entry.FileName, fileName)) tags = &entry.FileTags;
  if (!tags && tagReader_ && (read = tagReader_(fileName))) tags = &*read;
  if (!tags) return std::nullopt;
  auto it = tags->find(LowerCase(field));
  if (it == tags->end()) return std::nullopt;
  return it->second;
}

bool PlayerModel::SetLength(int32_t index, int32_t seconds) {
  if (!InRange(index)) return false;
  entries_[index].LengthSeconds = seconds;
  return true;
}

bool PlayerModel::Remove(int32_t index) {
  if (!InRange(index)) return false;
  memory_.Free(entries_[index].FileNameAddress);
  memory_.Free(entries_[index].TitleAddress);
  entries_.erase(entries_.begin() + index);
  if (index < current_) {
    --current_;  // the same entry stays current, where it now is
  } else if (index == current_) {
    if (std::size_t(current_) == entries_.size() && current_ > 0) --current_;
    state_ = PlayState::Stopped;
    positionMs_ = 0;
  }
  return true;
}

void PlayerModel::MakeCurrent(int32_t index) {
  current_ = index;
  positionMs_ = 0;
}

void PlayerModel::Clear() {
  for (const Entry& entry : entries_) {
    memory_.Free(entry.FileNameAddress);
    memory_.Free(entry.TitleAddress);
  }
  entries_.clear();
  current_ = 0;
  state_ = PlayState::Stopped;
  positionMs_ = 0;
}

int32_t PlayerModel::TimeReply(uint32_t which) const {
  if (entries_.empty()) return -1;
  switch (which) {
    case 0:
      return Wrap32(positionMs_);
    case 1:
      return entries_[current_].LengthSeconds;
  }
  return -1;
}

int32_t PlayerModel::PlayStateReply() const {
  switch (state_) {
    case PlayState::Playing:
      return 1;
    case PlayState::Paused:
      return 3;
    case PlayState::Stopped:
      break;
  }
  return 0;
}

int32_t PlayerModel::JumpTo(uint32_t ms) {
  if (state_ == PlayState::Stopped || entries_.empty()) return -1;
  const int32_t length = entries_[current_].LengthSeconds;
  if (length >= 0 && int64_t(ms) >= int64_t(length) * 1000) {
    EndTrack();
    return 1;
  }
  positionMs_ = ms;
  return 0;
}

int32_t SharedControls::OnUser(PlayerModel& model, uint32_t wParam, uint32_t lParam) {
  switch (lParam) {
    case control::kGarbageAddresses:
      garbage_ = wParam != 0;
      return 0;
    case control::kSetLength:
      model.SetLength(model.CurrentIndex(), int32_t(wParam));
      return 0;
    case control::kUnterminatedTags:
      unterminated_ = wParam != 0;
      return 0;
    case user::kFileAddress:
    case user::kTitleAddress: {
      const int32_t reply = model.OnUser(wParam, lParam);
      return garbage_ && reply != 0 ? int32_t(kGarbageAddress) : reply;
    }
  }
  return model.OnUser(wParam, lParam);
}

SharedControls::TagAnswer SharedControls::ExtendedFileInfo(const PlayerModel& model, std::string_view fileName,
                                                           std::string_view field, uint32_t retlen) const {
  const std::optional<std::string> value = model.Tag(fileName, field);
  if (!value || retlen == 0) return {};
  if (!unterminated_) return {1, value->substr(0, retlen - 1) + '\0'};
  std::string bytes = *value + '|';
  while (bytes.size() < retlen) bytes += bytes;
  bytes.resize(retlen);
  return {1, bytes};
}

}  // namespace player
