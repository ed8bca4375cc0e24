// The picture inside a music file's tag: an ID3v2 tag at the file's start
// (versions 2, 3 and 4) or a FLAC file's picture blocks. The front cover is
// taken when there is one, else the first picture. Pure reading: the bytes come
// through a reader, so that files, pipes and a fuzzer's input are all one.
//
// Every size in a tag is the file's word, not ours: nothing is read or kept
// past the limits below, and a size pointing past its frame, its block or the
// file's end ends the search for that picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace kdo::cover {

// A picture larger than this is skipped.
constexpr std::size_t kMaxPictureBytes = 4u << 20;
// An ID3v2 tag is read whole up to this size; frames beyond it are not looked at.
constexpr std::size_t kMaxTagBytes = 8u << 20;

// Up to `size` bytes of the file from `offset` into `buffer`: the count read,
// fewer at the file's end, 0 when nothing could be read. Reads come in order of
// rising offsets wherever the format allows, so that a pipe can be read too.
using ReadAt = std::function<std::size_t(uint64_t offset, uint8_t* buffer, std::size_t size)>;

struct TagPicture {
  std::vector<uint8_t> Bytes;   // the picture file's content
  std::string_view Extension;   // what its content is: ".jpg", ".png", ".gif" or ".bmp"
};

// The picture the file's tag carries, or none (no tag, no picture, a picture of
// an unknown kind or over the limit, a tag that is cut short or lies about its sizes).
std::optional<TagPicture> PictureInTag(const ReadAt& read);

// What a picture's first bytes say it is: ".jpg", ".png", ".gif", ".bmp", or empty.
std::string_view PictureExtension(const uint8_t* bytes, std::size_t size);

}  // namespace kdo::cover
