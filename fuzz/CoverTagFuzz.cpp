// Fuzzes the reader of pictures in music files' tags: the input is the file. Beyond what the
// sanitizers find, the reads must never go back (a pipe cannot), and a picture found must be whole,
// of a known kind and within the limit.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cover/Tag.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "CoverTagFuzz: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  uint64_t next = 0;
  const kdo::cover::ReadAt read = [&](uint64_t offset, uint8_t* buffer, std::size_t want) -> std::size_t {
    if (offset < next) Fail("a read went back");
    if (offset >= size) return 0;
    const auto count = std::size_t(std::min<uint64_t>(want, size - offset));
    std::memcpy(buffer, data + offset, count);
    next = offset + count;
    return count;
  };
  const std::optional<kdo::cover::TagPicture> picture = kdo::cover::PictureInTag(read);
  if (!picture) return 0;
  const std::vector<uint8_t>& bytes = picture->Bytes;
  if (bytes.empty() || bytes.size() > kdo::cover::kMaxPictureBytes) Fail("a picture's size is out of bounds");
  if (picture->Extension != kdo::cover::PictureExtension(bytes.data(), bytes.size())) Fail("a picture of another kind");
  // Without a 0xFF nothing was unsynchronised: the picture lies in the file as it is.
  if (std::find(data, data + size, 0xFF) == data + size &&
      std::search(data, data + size, bytes.begin(), bytes.end()) == data + size)
    Fail("a picture that the file does not hold");
  return 0;
}
