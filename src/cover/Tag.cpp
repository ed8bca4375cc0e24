#include "cover/Tag.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

namespace kdo::cover {
namespace {

using Bytes = std::span<uint8_t>;

constexpr uint32_t kFrontCover = 3;  // the picture type, in ID3v2 and FLAC alike
constexpr std::size_t kReadSlice = 64u << 10;

// Up to `size` bytes from `offset`, fewer at the file's end. Read a slice at a time, so that what is
// kept grows with what the file holds rather than with what it claims.
std::vector<uint8_t> ReadUpTo(const ReadAt& read, uint64_t offset, std::size_t size) {
  std::vector<uint8_t> bytes;
  while (bytes.size() < size) {
    const std::size_t had = bytes.size(), want = std::min(size - had, kReadSlice);
    bytes.resize(had + want);
    const std::size_t got = std::min(read(offset + had, bytes.data() + had, want), want);
    bytes.resize(had + got);
    if (got == 0) break;
  }
  return bytes;
}

bool StartsWith(std::span<const uint8_t> bytes, std::string_view magic) {
  return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

uint32_t BigEndian(std::span<const uint8_t> bytes) {  // at most 4 bytes
  uint32_t value = 0;
  for (const uint8_t b : bytes) value = value << 8 | b;
  return value;
}

// ID3v2's 28-bit sizes, 7 bits a byte so that no 0xFF appears; a byte with its top bit set is no such size.
std::optional<uint32_t> Syncsafe(std::span<const uint8_t> bytes) {
  uint32_t value = 0;
  for (const uint8_t b : bytes) {
    if (b & 0x80) return std::nullopt;
    value = value << 7 | b;
  }
  return value;
}

// Undoes unsynchronisation in place: the zero a writer put after each 0xFF goes. The size left.
std::size_t Resynchronise(Bytes bytes) {
  std::size_t kept = 0;
  bool afterFF = false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t b = bytes[i];
    if (!(afterFF && b == 0)) bytes[kept++] = b;
    afterFF = b == 0xFF;
  }
  return kept;
}

// A frame's or a block's fields front to back: a field that would run past the end is none.
class Fields {
 public:
  explicit Fields(Bytes bytes) : FRest(bytes) {}

  std::optional<Bytes> Take(uint64_t size) {
    if (size > FRest.size()) return std::nullopt;
    const Bytes taken = FRest.first(std::size_t(size));
    FRest = FRest.subspan(std::size_t(size));
    return taken;
  }
  std::optional<uint32_t> Number(std::size_t size) {
    const std::optional<Bytes> bytes = Take(size);
    return bytes ? std::optional(BigEndian(*bytes)) : std::nullopt;
  }
  bool Skip(uint64_t size) { return Take(size).has_value(); }
  // Past a text ended by `width` zero bytes lying a multiple of `width` from its start (UTF-16's
  // zero is two bytes, and the last byte of one character with the next cannot end the text).
  bool SkipText(std::size_t width) {
    for (std::size_t at = 0; at + width <= FRest.size(); at += width) {
      const Bytes unit = FRest.subspan(at, width);
      if (std::all_of(unit.begin(), unit.end(), [](uint8_t b) { return b == 0; })) return Skip(at + width);
    }
    return false;
  }
  Bytes Rest() const { return FRest; }

 private:
  Bytes FRest;
};

// The picture kept: the first acceptable one, until a front cover takes its place.
class Choice {
 public:
  void Offer(uint32_t type, std::span<const uint8_t> bytes) {
    if (FFrontCover || (FKept && type != kFrontCover)) return;
    const std::string_view extension = PictureExtension(bytes.data(), bytes.size());
    if (extension.empty() || bytes.size() > kMaxPictureBytes) return;
    FKept = TagPicture{{bytes.begin(), bytes.end()}, extension};
    FFrontCover = type == kFrontCover;
  }
  bool HasFrontCover() const { return FFrontCover; }
  std::optional<TagPicture> Take() { return std::move(FKept); }

 private:
  std::optional<TagPicture> FKept;
  bool FFrontCover = false;
};

// ---------------------------------------------------------------- ID3v2

constexpr uint8_t kTagUnsynchronised = 0x80, kTagExtendedHeader = 0x40, kTagCompressed = 0x40, kTagFooter = 0x10;

struct Id3Header {
  uint8_t Version;  // 2, 3 or 4
  uint8_t Flags;
  uint32_t Size;    // past the header, without the footer

  uint64_t End() const { return 10 + uint64_t(Size) + (Version == 4 && (Flags & kTagFooter) ? 10 : 0); }
};

std::optional<Id3Header> ParseId3Header(std::span<const uint8_t> head) {
  if (head.size() < 10 || head[3] < 2 || head[3] > 4) return std::nullopt;
  const std::optional<uint32_t> size = Syncsafe(head.subspan(6, 4));
  if (!size) return std::nullopt;
  return Id3Header{head[3], head[5], *size};
}

// How each version lays out a frame, and the bits of its second flag byte.
struct FrameFormat {
  std::size_t IdSize, SizeSize, FlagsSize;
  bool SyncsafeSize;
  std::string_view PictureId;
  uint8_t Unreadable;      // compression, encryption: not undone here
  uint8_t Grouping;        // a group byte before the data
  uint8_t DataLength;      // the data's size before unsynchronisation, 4 bytes before the data
  uint8_t Unsynchronised;  // this frame's data
};
constexpr std::array<FrameFormat, 3> kFrameFormats{{
    {3, 3, 0, false, "PIC", 0, 0, 0, 0},                 // 2.2
    {4, 4, 2, false, "APIC", 0xC0, 0x20, 0, 0},          // 2.3
    {4, 4, 2, true, "APIC", 0x0C, 0x40, 0x01, 0x02}}};  // 2.4

// Where the frames begin: past the extended header, whose size counts itself in 2.4 only.
std::optional<std::size_t> FramesStart(const Id3Header& tag, std::span<const uint8_t> body) {
  if (tag.Version == 2 || !(tag.Flags & kTagExtendedHeader)) return 0;
  if (body.size() < 4) return std::nullopt;
  std::optional<uint64_t> size;
  if (tag.Version == 3)
    size = 4 + uint64_t(BigEndian(body.first(4)));
  else if (const std::optional<uint32_t> syncsafe = Syncsafe(body.first(4)))
    size = *syncsafe;
  if (!size || *size > body.size()) return std::nullopt;
  return std::size_t(*size);
}

// A frame's content: past the bytes its flags put first, its unsynchronisation undone in place.
std::optional<Bytes> FrameContent(const FrameFormat& format, uint8_t flags, bool tagUnsynchronised, Bytes data) {
  if (flags & format.Unreadable) return std::nullopt;
  const std::size_t before = (flags & format.Grouping ? 1 : 0) + (flags & format.DataLength ? 4 : 0);
  if (before > data.size()) return std::nullopt;
  data = data.subspan(before);
  if (tagUnsynchronised || (flags & format.Unsynchronised)) data = data.first(Resynchronise(data));
  return data;
}

// PIC and APIC: text encoding, image format (three letters in PIC, a MIME type in APIC), picture
// type, description, then the picture.
void OfferFramePicture(Choice& choice, Bytes content, bool threeLetterFormat) {
  Fields fields(content);
  const std::optional<uint32_t> encoding = fields.Number(1);
  if (!encoding || *encoding > 3 || !(threeLetterFormat ? fields.Skip(3) : fields.SkipText(1))) return;
  const std::optional<uint32_t> type = fields.Number(1);
  const bool utf16 = *encoding == 1 || *encoding == 2;
  if (type && fields.SkipText(utf16 ? 2 : 1)) choice.Offer(*type, fields.Rest());
}

std::optional<TagPicture> FramesPicture(const Id3Header& tag, Bytes frames) {
  const FrameFormat& format = kFrameFormats[tag.Version - 2];
  const bool tagUnsynchronised = tag.Version == 4 && (tag.Flags & kTagUnsynchronised);
  Choice choice;
  Fields rest(frames);
  while (!choice.HasFrontCover()) {
    const std::optional<Bytes> id = rest.Take(format.IdSize);
    if (!id || (*id)[0] == 0) break;  // the end, or the padding
    const std::optional<Bytes> sizeBytes = rest.Take(format.SizeSize), flags = rest.Take(format.FlagsSize);
    if (!sizeBytes || !flags) break;
    const std::optional<uint32_t> size = format.SyncsafeSize ? Syncsafe(*sizeBytes) : BigEndian(*sizeBytes);
    const std::optional<Bytes> data = size ? rest.Take(*size) : std::nullopt;
    if (!data) break;  // the tag lies: what follows is no frame
    if (!StartsWith(*id, format.PictureId)) continue;
    const uint8_t formatFlags = format.FlagsSize ? (*flags)[1] : 0;
    if (const std::optional<Bytes> content = FrameContent(format, formatFlags, tagUnsynchronised, *data))
      OfferFramePicture(choice, *content, format.IdSize == 3);
  }
  return choice.Take();
}

std::optional<TagPicture> Id3Picture(const ReadAt& read, const Id3Header& tag) {
  if (tag.Version == 2 && (tag.Flags & kTagCompressed)) return std::nullopt;  // 2.2 never said how
  const std::size_t size = std::min<std::size_t>(tag.Size, kMaxTagBytes);
  std::vector<uint8_t> body = ReadUpTo(read, 10, size);
  if (body.size() < size) return std::nullopt;  // cut short
  if (tag.Version < 4 && (tag.Flags & kTagUnsynchronised)) body.resize(Resynchronise(body));
  const std::optional<std::size_t> start = FramesStart(tag, body);
  if (!start) return std::nullopt;
  return FramesPicture(tag, Bytes(body).subspan(*start));
}

// ---------------------------------------------------------------- FLAC

constexpr uint8_t kFlacPicture = 6, kFlacInvalid = 127, kFlacLast = 0x80;
constexpr int kMaxFlacBlocks = 1024;
// A picture block is its picture with a few fields around it: MIME type and description are short.
constexpr std::size_t kMaxFlacPictureBlock = kMaxPictureBytes + (64u << 10);

// The picture block: picture type, MIME type and description (each after its length), width,
// height, depth, colours, then the picture after its length.
void OfferBlockPicture(Choice& choice, Bytes block) {
  Fields fields(block);
  const std::optional<uint32_t> type = fields.Number(4), mimeSize = fields.Number(4);
  if (!type || !mimeSize || !fields.Skip(*mimeSize)) return;
  const std::optional<uint32_t> descriptionSize = fields.Number(4);
  if (!descriptionSize || !fields.Skip(*descriptionSize) || !fields.Skip(16)) return;
  const std::optional<uint32_t> pictureSize = fields.Number(4);
  const std::optional<Bytes> picture = pictureSize ? fields.Take(*pictureSize) : std::nullopt;
  if (picture) choice.Offer(*type, *picture);
}

// The metadata blocks from `offset`, just past "fLaC".
std::optional<TagPicture> FlacPicture(const ReadAt& read, uint64_t offset) {
  Choice choice;
  for (int n = 0; n < kMaxFlacBlocks && !choice.HasFrontCover(); ++n) {
    const std::vector<uint8_t> header = ReadUpTo(read, offset, 4);
    if (header.size() < 4) break;
    const uint8_t type = header[0] & ~kFlacLast;
    const uint32_t size = BigEndian(std::span(header).subspan(1));
    if (type == kFlacInvalid) break;
    if (type == kFlacPicture && size <= kMaxFlacPictureBlock) {
      std::vector<uint8_t> block = ReadUpTo(read, offset + 4, size);
      if (block.size() < size) break;  // past the file's end
      OfferBlockPicture(choice, block);
    }
    if (header[0] & kFlacLast) break;
    offset += 4 + uint64_t(size);
  }
  return choice.Take();
}

}  // namespace

std::optional<TagPicture> PictureInTag(const ReadAt& read) {
  // The first bytes are read once: a pipe gives them only once.
  std::vector<uint8_t> head = ReadUpTo(read, 0, 4);
  uint64_t flacAt = 0;
  if (StartsWith(head, "ID3")) {
    const std::vector<uint8_t> more = ReadUpTo(read, head.size(), 10 - head.size());
    head.insert(head.end(), more.begin(), more.end());
    const std::optional<Id3Header> tag = ParseId3Header(head);
    if (!tag) return std::nullopt;
    if (std::optional<TagPicture> picture = Id3Picture(read, *tag)) return picture;
    flacAt = tag->End();  // some FLAC files carry an ID3v2 tag before their own
    head = ReadUpTo(read, flacAt, 4);
  }
  if (!StartsWith(head, "fLaC")) return std::nullopt;
  return FlacPicture(read, flacAt + 4);
}

std::string_view PictureExtension(const uint8_t* bytes, std::size_t size) {
  struct Magic {
    std::string_view Start, Extension;
  };
  static constexpr Magic kMagics[] = {{"\xFF\xD8\xFF", ".jpg"},
                                      {"\x89PNG\r\n\x1A\n", ".png"},
                                      {"GIF87a", ".gif"},
                                      {"GIF89a", ".gif"},
                                      {"BM", ".bmp"}};
  for (const Magic& magic : kMagics)
    if (StartsWith({bytes, size}, magic.Start)) return magic.Extension;
  return {};
}

}  // namespace kdo::cover
