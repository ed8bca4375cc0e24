// The player's extended file info request (WM_USER, lParam 290): its record
// and texts must lie in the player's own address space. One reservation there
// per bound player holds them all and is reused by every request; it goes when
// the link lets go of the player.
#include <cstddef>
#include <cstring>

#include "winamp/WinAmp.h"

namespace {

constexpr uint32_t kExtendedFileInfo = 290;

// The request's record as the 32-bit player declares it: {const char
// *filename; const char *metadata; char *ret; size_t retlen;}, addresses in
// the player's process.
struct TExtendedFileInfo {
  uint32_t FileName;
  uint32_t Metadata;
  uint32_t Ret;
  uint32_t RetLen;
};
static_assert(sizeof(TExtendedFileInfo) == 16, "four 32-bit fields, no padding");
#if defined(_WIN32) && !defined(_WIN64)
struct TDeclared {
  const char* filename;
  const char* metadata;
  char* ret;
  std::size_t retlen;
};
static_assert(sizeof(TDeclared) == sizeof(TExtendedFileInfo));
static_assert(offsetof(TDeclared, metadata) == offsetof(TExtendedFileInfo, Metadata) &&
              offsetof(TDeclared, ret) == offsetof(TExtendedFileInfo, Ret) &&
              offsetof(TDeclared, retlen) == offsetof(TExtendedFileInfo, RetLen));
#endif

// The reservation: the record, the field's name, the file's name, the answer.
constexpr uint32_t kFieldAt = sizeof(TExtendedFileInfo);
constexpr uint32_t kFileAt = kFieldAt + TWinAmpControl::kFieldMax + 1;
constexpr uint32_t kFileMax = 511;  // a playlist text is at most 500
constexpr uint32_t kAnswerAt = kFileAt + kFileMax + 1;
constexpr uint32_t kReservation = kAnswerAt + TWinAmpControl::kMetadataMax;

bool IsLetterOrDigit(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

}  // namespace

bool TWinAmpControl::IsMetadataField(std::string_view field) {
  if (field.empty() || field.size() > kFieldMax) return false;
  for (char c : field)
    if (!IsLetterOrDigit(c)) return false;
  return true;
}

// One write puts the record, both names and an empty answer in place, one send
// asks, one read takes the answer back: never more than the answer's room, and
// zero-terminated here whatever the player left there.
bool TWinAmpControl::GetFileMetadata(std::string_view fileName, std::string_view field, std::string& value) {
  value.clear();
  if (!HasAnsweringPlayer() || !IsMetadataField(field) || fileName.size() > kFileMax) return false;
  const platform::WindowHandle window = FChannel.Window();
  const uint32_t processId = platform::WindowProcessId(window);
  const platform::ProcessHandle process(
      platform::access::kVmOperation | platform::access::kVmRead | platform::access::kVmWrite, processId);
  if (!process.IsOpen()) return false;
  platform::RemoteMemory& memory = FChannel.QueryMemory();
  if (!memory.Reserved() || memory.Window() != window || memory.ProcessId() != processId)
    memory = platform::RemoteMemory(process, window, processId, kReservation);
  if (!memory.Reserved()) return false;

  const uint32_t base = memory.Address();
  // A request asked without waiting whose answer has come: the answer is in place; written again, it would
  // go. Given up, the player may still be writing there.
  if (!FChannel.HasLearnt(window, platform::WM_USER_, base, kExtendedFileInfo)) {
    char request[kAnswerAt + 1] = {};
    const TExtendedFileInfo record{base + kFileAt, base + kFieldAt, base + kAnswerAt, kMetadataMax};
    std::memcpy(request, &record, sizeof record);
    std::memcpy(request + kFieldAt, field.data(), field.size());
    std::memcpy(request + kFileAt, fileName.data(), fileName.size());
    if (!process.Write(base, request, sizeof request)) return false;
  }

  const int32_t reply = SendPlayerMessage(platform::WM_USER_, base, kExtendedFileInfo);
  if (!IsAnswering()) FChannel.QueryMemoryGivenUp();  // given up, or asked without waiting: the player may write
  if (reply != 1) return false;
  char answer[kMetadataMax + 1];
  if (!process.Read(base + kAnswerAt, answer, kMetadataMax)) return false;
  answer[kMetadataMax] = 0;
  value.assign(TrimBlanksAndControls({answer, std::strlen(answer)}));
  return true;
}
