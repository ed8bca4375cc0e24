// Where a cover comes from, with real files on each target: a picture beside the music file, else
// the tag's picture kept once in the folder of covers, which stays bounded; bad files give nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <chrono>
#include <vector>

#include "CoverFiles.h"
#include "TestFolder.h"
#include "cover/Find.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using coverfiles::Bytes;
using coverfiles::Read;
using coverfiles::Write;
using kdo::cover::FindCover;

#ifdef _WIN32
constexpr char kSep = '\\';
#else
constexpr char kSep = '/';
#endif

// A fresh folder of the test's own, ending in its separator.
std::string NewFolder(const std::string& name) {
  const std::string folder = testfolder::Own() + name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder + kSep;
}


std::size_t FilesIn(const std::string& folder) {
  std::size_t n = 0;
  for (const auto& entry : fs::directory_iterator(folder)) n += entry.is_regular_file();
  return n;
}

Bytes Tagged(const Bytes& picture) {
  return coverfiles::Join({coverfiles::Id3v2(3, {coverfiles::PictureFrame(3, 3, picture)}), coverfiles::Audio()});
}

// What the album's folder holds (a name ending in '/' is a folder; "empty:" a file of 0 bytes), and
// the picture that shows its cover.
TEST(CoverFind, APictureBesideTheFileByNameThenKind) {
  struct Row {
    std::vector<std::string> Files;
    const char* Found;
  };
  const Row rows[] = {
      {{"Cover.png", "FOLDER.JPG"}, "FOLDER.JPG"},  // the name's rank first, letter case aside
      {{"cover.png", "cover.jpeg", "Cover.Jpg"}, "Cover.Jpg"},
      {{"AlbumArtSmall.jpg", "albumart.png", "front.png"}, "front.png"},
      {{"AlbumArt_{7A1C-22}_Large.jpg", "AlbumArtSmall.png"}, "AlbumArtSmall.png"},
      {{"AlbumArt_{7A1C-22}_Large.jpg", "back.jpg"}, "AlbumArt_{7A1C-22}_Large.jpg"},
      {{"empty:folder.jpg", "cover.png"}, "cover.png"},  // an empty picture shows nothing
      {{"folder.jpg/", "front.gif", "myfolder.jpg", "folder.jpg.txt", "AlbumArt_Large.jpg"}, ""},
  };
  int n = 0;
  for (const Row& row : rows) {
    const std::string album = NewFolder("beside" + std::to_string(n++));
    for (std::string name : row.Files) {
      if (name.back() == '/') {
        fs::create_directories(album + name.substr(0, name.size() - 1));
        continue;
      }
      const bool empty = name.rfind("empty:", 0) == 0;
      if (empty) name = name.substr(6);
      Write(album + name, empty ? Bytes{} : coverfiles::Jpeg());
    }
    Write(album + "01 Track.mp3", coverfiles::Audio());
    const std::string expected = *row.Found ? album + row.Found : "";
    EXPECT_EQ(FindCover(album + "01 Track.mp3", ""), expected) << row.Files.front();
    fs::remove_all(album);
  }
}

// The tag's picture is written once, named by its content: the tracks of an album share it, and a
// picture beside the file wins over the tag's.
TEST(CoverFind, ATagsPictureKeptOncePerContent) {
  const std::string music = NewFolder("tagged"), covers = NewFolder("tagged_covers");
  Write(music + "a.mp3", Tagged(coverfiles::Jpeg(1)));
  Write(music + "b.flac", coverfiles::Flac({coverfiles::FlacStreamInfo(), coverfiles::FlacPicture(3, coverfiles::Jpeg(1))}));
  Write(music + "c.mp3", Tagged(coverfiles::Png(2)));
  const std::string a = FindCover(music + "a.mp3", covers);
  ASSERT_FALSE(a.empty());
  EXPECT_EQ(a.rfind(covers, 0), 0u) << a;
  EXPECT_EQ(a.substr(a.size() - 4), ".jpg");
  EXPECT_EQ(Read(a), coverfiles::Jpeg(1));
  EXPECT_EQ(FindCover(music + "b.flac", covers), a) << "the same picture, the same file";
  const std::string c = FindCover(music + "c.mp3", covers);
  EXPECT_NE(c, a);
  EXPECT_EQ(c.substr(c.size() - 4), ".png");
  EXPECT_EQ(FilesIn(covers), 2u);

  Write(music + "folder.png", coverfiles::Png(3));
  EXPECT_EQ(FindCover(music + "a.mp3", covers), music + "folder.png");
  fs::remove_all(music);
  fs::remove_all(covers);
}

// Each bad file gives no cover and leaves nothing in the folder of covers. (Every way a tag can lie is
// the tag reader's own table; here, what only real files have, and a damaged tag read from one.)
TEST(CoverFind, BadFilesGiveNothing) {
  using namespace coverfiles;
  const Bytes good = PictureFrame(3, 3, Jpeg());
  Bytes pastTheFile = Id3v2(3, {good});
  pastTheFile.erase(pastTheFile.end() - 5, pastTheFile.end());
  Bytes cutInsideAPair = UnsynchronisedId3v2(3, {good});
  cutInsideAPair.resize(20);
  struct Row {
    const char* What;
    Bytes Content;  // written as the music file, unless it is a folder or missing
    enum { File, Folder, Missing } Kind = File;
  };
  const Row rows[] = {
      {"a file of 0 bytes", {}},
      {"a tag cut short", pastTheFile},
      {"an unsynchronised tag cut inside a pair", cutInsideAPair},
      {"a folder named as the file", {}, Row::Folder},
      {"no such file", {}, Row::Missing},
  };
  const std::string music = NewFolder("bad"), covers = NewFolder("bad_covers");
  int n = 0;
  for (const Row& row : rows) {
    const std::string file = music + "track" + std::to_string(n++) + ".mp3";
    if (row.Kind == Row::File) Write(file, row.Content);
    if (row.Kind == Row::Folder) fs::create_directories(file);
    EXPECT_EQ(FindCover(file, covers), "") << row.What;
  }
  fs::create_directories(music + "folder.jpg");
  EXPECT_EQ(FindCover(music + "track0.mp3", covers), "") << "a folder named folder.jpg";
  EXPECT_EQ(FindCover("http://radio.example/stream.mp3", covers), "") << "a stream";
#ifdef _WIN32
  // A file another program holds without sharing cannot be opened.
  const std::string locked = music + "locked.mp3";
  Write(locked, Tagged(Jpeg()));
  const HANDLE held = CreateFileA(locked.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  EXPECT_EQ(FindCover(locked, covers), "") << "a file that cannot be opened";
  CloseHandle(held);
#endif
  EXPECT_EQ(FilesIn(covers), 0u);
  fs::remove_all(music);
  fs::remove_all(covers);
}

// Past its bound the folder of covers lets its least recently used pictures go, never the new one.
TEST(CoverFind, TheFolderOfCoversStaysBounded) {
  const std::string music = NewFolder("many"), covers = NewFolder("many_covers");
  std::string last;
  for (std::size_t i = 0; i < kdo::cover::kMaxCoverFiles + 4; ++i) {
    const std::string file = music + std::to_string(i) + ".mp3";
    Bytes picture = coverfiles::Jpeg(uint8_t(i));
    picture.push_back(uint8_t(i >> 8));
    Write(file, Tagged(picture));
    last = FindCover(file, covers);
    ASSERT_FALSE(last.empty()) << i;
  }
  EXPECT_EQ(FilesIn(covers), kdo::cover::kMaxCoverFiles);
  EXPECT_TRUE(fs::exists(last));
  fs::remove_all(music);
  fs::remove_all(covers);
}

// Three covers of 100 bytes, written an hour ago in turn; the first found again (so used last), then a
// fourth kept. Whichever bound is reached, the one just kept counts, and the one used longest ago goes.
TEST(CoverFind, TheLeastRecentlyUsedCoverGoesFirst) {
  struct Row {
    kdo::cover::CoverBounds Bounds;
    const char* What;
  } const rows[] = {{{3, 1000}, "three files"}, {{10, 300}, "300 bytes"}, {{3, 300}, "both"}};
  for (const Row& row : rows) {
    const std::string music = NewFolder("lru"), covers = NewFolder("lru_covers");
    std::vector<std::string> kept;
    for (int i = 0; i < 4; ++i) {
      Bytes picture = coverfiles::Jpeg(uint8_t(i));
      picture.resize(100, uint8_t(i));
      Write(music + std::to_string(i) + ".mp3", Tagged(picture));
    }
    for (int i = 0; i < 3; ++i) {
      kept.push_back(FindCover(music + std::to_string(i) + ".mp3", covers, row.Bounds));
      fs::last_write_time(kept.back(), fs::file_time_type::clock::now() - std::chrono::hours(1) +
                                           std::chrono::seconds(i));
    }
    EXPECT_EQ(FindCover(music + "0.mp3", covers, row.Bounds), kept[0]) << row.What;
    kept.push_back(FindCover(music + "3.mp3", covers, row.Bounds));
    EXPECT_TRUE(fs::exists(kept[0]) && fs::exists(kept[2]) && fs::exists(kept[3])) << row.What;
    EXPECT_FALSE(fs::exists(kept[1])) << row.What << ": the one used longest ago";
    EXPECT_EQ(FilesIn(covers), 3u) << row.What;
    fs::remove_all(music);
    fs::remove_all(covers);
  }
}

}  // namespace
