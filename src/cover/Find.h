// Where the current entry's cover comes from: a picture beside its file, as
// players and rippers leave them, else the picture in its tag, kept once in
// the user's folder of covers under a name made of its content, so that the
// tracks of one album share one file. Work for a thread of its own: every
// step may wait on a disk or a share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kdo::cover {

// The folder of covers keeps at most this many files and bytes, the one just
// kept among them; the ones least recently used go first (a cover found there
// again counts as new).
struct CoverBounds {
  std::size_t Files;
  uint64_t Bytes;
};
constexpr std::size_t kMaxCoverFiles = 256;
constexpr uint64_t kMaxCoverBytes = 64u << 20;
constexpr CoverBounds kCoverBounds{kMaxCoverFiles, kMaxCoverBytes};

// The path of a picture showing the cover of the music file `file`, or empty
// (a stream, no picture, a file that cannot be read). `covers`: the folder of
// covers, ending in its separator; empty keeps no tag's picture.
// `wanted` is asked before a tag's picture is kept: false (the lookup's owner
// has gone) leaves the folder alone and finds nothing.
std::string FindCover(const std::string& file, const std::string& covers, CoverBounds bounds = kCoverBounds,
                      const std::function<bool()>& wanted = nullptr);

// A stream's address rather than a file: it has no folder and no tag to read.
bool IsStream(const std::string& file);

// The best-named picture in the folder of `file` (the names above, in order,
// then .jpg, .jpeg, .png; letter case aside): its path, or empty.
std::string PictureBeside(const std::string& file);

}  // namespace kdo::cover
