#include "cover/Find.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

#include "cover/Tag.h"
#include "platform/Platform.h"
#include "sdk/KDOText.h"

namespace kdo::cover {

namespace {

using kdo::text::EqualIgnoringAZCase;

// The names players and rippers give a folder's picture, best first; the
// rippers' "AlbumArt_{<album id>}_Large" is matched by its ends.
constexpr std::array<std::string_view, 6> kNames = {"folder", "cover", "front", "albumart", "AlbumArtSmall",
                                                    "AlbumArt_{}_Large"};
constexpr std::array<std::string_view, 3> kExtensions = {".jpg", ".jpeg", ".png"};

bool StartsWith(std::string_view s, std::string_view start) {
  return s.size() >= start.size() && EqualIgnoringAZCase(s.substr(0, start.size()), start);
}
bool EndsWith(std::string_view s, std::string_view end) {
  return s.size() >= end.size() && EqualIgnoringAZCase(s.substr(s.size() - end.size()), end);
}

bool NameMatches(std::string_view stem, std::string_view name) {
  const std::size_t braces = name.find("{}");
  if (braces == std::string_view::npos) return EqualIgnoringAZCase(stem, name);
  const std::string_view before = name.substr(0, braces + 1), after = name.substr(braces + 1);
  return stem.size() >= before.size() + after.size() && StartsWith(stem, before) && EndsWith(stem, after);
}

// A picture's rank among the names (lower is better), or none.
std::optional<std::size_t> Rank(std::string_view file) {
  for (std::size_t e = 0; e < kExtensions.size(); ++e) {
    if (!EndsWith(file, kExtensions[e])) continue;
    const std::string_view stem = file.substr(0, file.size() - kExtensions[e].size());
    for (std::size_t n = 0; n < kNames.size(); ++n)
      if (NameMatches(stem, kNames[n])) return n * kExtensions.size() + e;
  }
  return std::nullopt;
}

// The folder part of a path, with its separator (either kind); empty for a bare name.
std::string FolderOf(const std::string& path) {
  const std::size_t at = path.find_last_of("\\/");
  return at == std::string::npos ? std::string() : path.substr(0, at + 1);
}

// FNV-1a over the content: the name of a kept picture.
std::string ContentName(const TagPicture& picture) {
  uint64_t hash = 14695981039346656037ull;
  for (const uint8_t byte : picture.Bytes) hash = (hash ^ byte) * 1099511628211ull;
  char name[17];
  std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
  return std::string(name) + std::string(picture.Extension);
}

// Removes the least recently written files until the folder is within its bounds; `keep` stays, and
// counts first.
void Prune(const std::string& covers, const std::string& keep, CoverBounds bounds) {
  std::vector<platform::FolderFile> files = platform::FilesIn(covers);
  uint64_t all = 0, kept = 0;
  for (const platform::FolderFile& f : files) {
    all += f.Size;
    if (f.Name == keep) kept = f.Size;
  }
  if (files.size() <= bounds.Files && all <= bounds.Bytes) return;
  std::sort(files.begin(), files.end(), [](const auto& a, const auto& b) { return a.WrittenAt > b.WrittenAt; });
  std::size_t count = 1;
  uint64_t bytes = kept;
  for (const platform::FolderFile& f : files) {
    if (f.Name == keep) continue;
    if (count < bounds.Files && bytes + f.Size <= bounds.Bytes) {
      ++count, bytes += f.Size;  // the newest that fit beside the one kept
      continue;
    }
    platform::RemoveFile(covers + f.Name);
  }
}

bool Holds(const std::string& covers, const std::string& name, std::size_t size) {
  for (const platform::FolderFile& f : platform::FilesIn(covers))
    if (f.Name == name && f.Size == size) return true;
  return false;
}

// The picture written into the folder of covers (or found there already): its path, or empty. One
// there already is used again, and counts as new; one that another instance wrote meanwhile, or that
// a panel holds open as it is replaced, will do as well.
std::string Keep(const TagPicture& picture, const std::string& covers, CoverBounds bounds) {
  const std::string name = ContentName(picture);
  const std::string path = covers + name;
  if (Holds(covers, name, picture.Bytes.size())) {
    platform::TouchFile(path);
    return path;
  }
  if (!platform::WriteWholeFile(path, picture.Bytes.data(), picture.Bytes.size()))
    return Holds(covers, name, picture.Bytes.size()) ? path : std::string();
  Prune(covers, name, bounds);
  return path;
}

}  // namespace

bool IsStream(const std::string& file) { return file.find("://") != std::string::npos; }

std::string PictureBeside(const std::string& file) {
  const std::string folder = FolderOf(file);
  if (folder.empty()) return {};
  std::optional<std::size_t> best;
  std::string found;
  for (const platform::FolderFile& f : platform::FilesIn(folder)) {
    const std::optional<std::size_t> rank = Rank(f.Name);
    if (!rank || f.Size == 0 || (best && *best <= *rank)) continue;
    best = rank;
    found = f.Name;
  }
  return best ? folder + found : std::string();
}

std::string FindCover(const std::string& file, const std::string& covers, CoverBounds bounds,
                      const std::function<bool()>& wanted) {
  if (file.empty() || IsStream(file)) return {};
  std::string beside = PictureBeside(file);
  if (!beside.empty()) return beside;
  platform::InputFile input(file);
  if (!input.IsOpen()) return {};
  const std::optional<TagPicture> picture = PictureInTag(
      [&input](uint64_t offset, uint8_t* buffer, std::size_t size) { return input.ReadAt(offset, buffer, size); });
  if (!picture || covers.empty() || (wanted && !wanted())) return {};
  return Keep(*picture, covers, bounds);
}

}  // namespace kdo::cover
