// The picture in a music file's tag, read from bytes in memory: good files of each kind give their
// picture's exact bytes, bad ones give none, and a bad picture does not hide a good one after it.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "CoverFiles.h"
#include "cover/Tag.h"

namespace {

using namespace coverfiles;
using kdo::cover::TagPicture;

// Reads as a pipe would have to: never going back.
std::optional<TagPicture> PictureIn(const Bytes& file) {
  uint64_t next = 0;
  return kdo::cover::PictureInTag([&](uint64_t offset, uint8_t* buffer, std::size_t size) -> std::size_t {
    EXPECT_GE(offset, next) << "a read went back";
    if (offset >= file.size()) return 0;
    const auto count = std::size_t(std::min<uint64_t>(size, file.size() - offset));
    std::copy_n(file.begin() + std::ptrdiff_t(offset), count, buffer);
    next = offset + count;
    return count;
  });
}

Bytes Cut(Bytes bytes, std::size_t count) {
  bytes.resize(bytes.size() - count);
  return bytes;
}
Bytes Set(Bytes bytes, std::size_t at, uint8_t value) {
  bytes[at] = value;
  return bytes;
}

const Bytes kFront = Jpeg(1), kOther = Png(2), kAnother = Jpeg(3);

TEST(CoverTag, GoodFilesGiveTheirPicture) {
  const Bytes apic4 = PictureContent(4, 3, kFront);
  const struct {
    const char* name;
    Bytes file, picture;
    std::string_view extension;
  } files[] = {
      {"2.2", Id3v2(2, {TitleFrame(2), PictureFrame(2, 3, kFront)}), kFront, ".jpg"},
      {"2.3", Id3v2(3, {TitleFrame(3), PictureFrame(3, 3, kOther)}), kOther, ".png"},
      {"2.4", Id3v2(4, {PictureFrame(4, 3, kFront)}), kFront, ".jpg"},
      {"front cover after another", Id3v2(3, {PictureFrame(3, 0, kOther), PictureFrame(3, 3, kFront)}), kFront, ".jpg"},
      {"no front cover: the first", Id3v2(3, {PictureFrame(3, 4, kOther), PictureFrame(3, 0, kAnother)}), kOther,
       ".png"},
      {"2.2 unsynchronised tag", UnsynchronisedId3v2(2, {PictureFrame(2, 3, kFront)}), kFront, ".jpg"},
      {"2.3 unsynchronised tag", UnsynchronisedId3v2(3, {PictureFrame(3, 3, kFront)}), kFront, ".jpg"},
      {"2.4 unsynchronised frame", Id3v2(4, {Frame(4, "APIC", Unsynchronise(apic4), 0x02)}), kFront, ".jpg"},
      {"2.4 unsynchronised tag", Id3v2(4, {Frame(4, "APIC", Unsynchronise(apic4))}, 0x80), kFront, ".jpg"},
      {"2.3 extended header", Id3v2(3, {{0, 0, 0, 6, 0, 0, 0, 0, 0, 0}, PictureFrame(3, 3, kFront)}, 0x40), kFront,
       ".jpg"},
      {"2.4 extended header", Id3v2(4, {{0, 0, 0, 6, 1, 0}, PictureFrame(4, 3, kFront)}, 0x40), kFront, ".jpg"},
      {"2.3 group byte", Id3v2(3, {Frame(3, "APIC", Join({{9}, PictureContent(3, 3, kFront)}), 0x20)}), kFront, ".jpg"},
      {"2.4 group byte and data length",
       Id3v2(4, {Frame(4, "APIC", Join({{9}, Syncsafe(uint32_t(apic4.size())), apic4}), 0x41)}), kFront, ".jpg"},
      {"UTF-16 description", Id3v2(3, {PictureFrame(3, 3, kFront, "A", 1)}), kFront, ".jpg"},
      {"UTF-8 description", Id3v2(4, {PictureFrame(4, 3, kFront, "A", 3)}), kFront, ".jpg"},
      {"FLAC", Flac({FlacStreamInfo(), FlacPicture(0, kOther), FlacPicture(3, kFront)}), kFront, ".jpg"},
      {"FLAC behind an ID3 tag", Join({Id3v2(3, {TitleFrame(3)}), Flac({FlacStreamInfo(), FlacPicture(3, kFront)})}),
       kFront, ".jpg"},
      {"FLAC behind a 2.4 tag with a footer",
       Join({Id3v2(4, {TitleFrame(4)}, 0x10), Flac({FlacStreamInfo(), FlacPicture(0, kOther)})}), kOther, ".png"},
  };
  for (const auto& f : files) {
    const std::optional<TagPicture> picture = PictureIn(Join({f.file, Audio()}));
    ASSERT_TRUE(picture) << f.name;
    EXPECT_EQ(picture->Bytes, f.picture) << f.name;
    EXPECT_EQ(picture->Extension, f.extension) << f.name;
  }
}

TEST(CoverTag, BadFilesGiveNone) {
  const Bytes good = Id3v2(3, {PictureFrame(3, 3, kFront)});
  const Bytes gif = {'G', 'I', 'F', '8', '9', 'a', 1, 1, 1};  // not a zero in it
  const struct {
    const char* name;
    Bytes file;
  } files[] = {
      {"no bytes", {}},
      {"header cut short", Cut(good, good.size() - 8)},
      {"tag cut short", Cut(Id3v2(3, {PictureFrame(3, 3, kFront), Bytes(16, 0)}), 8)},
      {"frame size past the tag", Id3v2(3, {Cut(PictureFrame(3, 3, kFront), 1)})},
      {"tag size not syncsafe", Set(good, 6, 0x80)},
      {"version 5", Set(Id3v2(4, {PictureFrame(4, 3, kFront)}), 3, 5)},
      {"description without its zero", Id3v2(3, {Frame(3, "APIC", Join({{0}, Text("image/gif"), {3}, gif}))})},
      {"picture over the limit",
       Id3v2(3, {PictureFrame(3, 3, Join({kFront, Bytes(kdo::cover::kMaxPictureBytes, 0)}))})},
      {"picture of an unknown kind", Id3v2(3, {PictureFrame(3, 3, {'R', 'I', 'F', 'F', 1, 2, 3, 4})})},
      {"2.2 compressed tag", Id3v2(2, {PictureFrame(2, 3, kFront)}, 0x40)},
      {"2.3 compressed frame", Id3v2(3, {Frame(3, "APIC", PictureContent(3, 3, kFront), 0x80)})},
      {"2.4 compressed frame", Id3v2(4, {Frame(4, "APIC", PictureContent(4, 3, kFront), 0x08)})},
      {"2.4 encrypted frame", Id3v2(4, {Frame(4, "APIC", PictureContent(4, 3, kFront), 0x04)})},
      {"picture after the padding", Id3v2(3, {Bytes(10, 0), PictureFrame(3, 3, kFront)})},
      {"FLAC block past the file", Join({{'f', 'L', 'a', 'C', 0x86, 0x00, 0x10, 0x00}, FlacPictureContent(3, kFront)})},
      {"FLAC picture past its block", Join({Flac({FlacBlock(6, Cut(FlacPictureContent(3, kFront), 1))}), Audio()})},
      {"FLAC picture after the last block", Join({Flac({FlacStreamInfo()}), FlacPicture(3, kFront)})},
  };
  for (const auto& f : files) EXPECT_FALSE(PictureIn(f.file)) << f.name;
}

// A front cover that cannot be read is passed over for the other picture after it.
TEST(CoverTag, UnreadablePictureIsPassedOver) {
  const struct {
    const char* name;
    Bytes file;
  } files[] = {
      {"2.3 encrypted frame",
       Id3v2(3, {Frame(3, "APIC", PictureContent(3, 3, kFront), 0x40), PictureFrame(3, 0, kOther)})},
      {"unknown text encoding",
       Id3v2(3, {Frame(3, "APIC", Set(PictureContent(3, 3, kFront), 0, 4)), PictureFrame(3, 0, kOther)})},
      {"FLAC MIME type past its block",
       Flac({FlacBlock(6, Set(FlacPictureContent(3, kFront), 4, 0x7F)), FlacPicture(0, kOther)})},
  };
  for (const auto& f : files) {
    const std::optional<TagPicture> picture = PictureIn(f.file);
    ASSERT_TRUE(picture) << f.name;
    EXPECT_EQ(picture->Bytes, kOther) << f.name;
  }
}

TEST(CoverTag, PictureKindByItsFirstBytes) {
  const struct {
    const char* name;
    Bytes bytes;
    std::string_view extension;
  } kinds[] = {
      {"JPEG", Jpeg(), ".jpg"},
      {"PNG", Png(), ".png"},
      {"GIF 87a", {'G', 'I', 'F', '8', '7', 'a'}, ".gif"},
      {"GIF 89a", {'G', 'I', 'F', '8', '9', 'a'}, ".gif"},
      {"BMP", {'B', 'M'}, ".bmp"},
      {"JPEG's start cut short", {0xFF, 0xD8}, ""},
      {"GIF of no version", {'G', 'I', 'F', '8', '8', 'a'}, ""},
      {"PNG's last signature byte wrong", Set(Png(), 7, 0), ""},
  };
  for (const auto& k : kinds)
    EXPECT_EQ(kdo::cover::PictureExtension(k.bytes.data(), k.bytes.size()), k.extension) << k.name;
}

}  // namespace
