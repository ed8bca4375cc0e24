// Music files' bytes with pictures in their tags, built piece by piece: ID3v2 tags (versions 2.2 to
// 2.4) and their frames, FLAC metadata blocks. A picture is only its kind's first bytes and a few
// more, which is all a reader looks at to tell its kind.
#pragma once

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace coverfiles {

using Bytes = std::vector<uint8_t>;

inline Bytes Join(const std::vector<Bytes>& parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Pictures that `seed` tells apart. The JPEG holds an FF 00 (its stuffed byte) and an FF E0, both of
// which unsynchronisation changes.
inline Bytes Jpeg(uint8_t seed = 1) {
  return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00, seed, 0xFF, 0x00, seed, 0xFF, 0xD9};
}
inline Bytes Png(uint8_t seed = 1) {
  return {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 'I', 'H', 'D', 'R', seed};
}
inline std::string MimeType(const Bytes& picture) {
  return !picture.empty() && picture[0] == 0x89 ? "image/png" : "image/jpeg";
}

// What follows the tags: an MPEG audio frame's header and some of its data.
inline Bytes Audio() {
  Bytes audio(64, 0x55);
  const uint8_t header[] = {0xFF, 0xFB, 0x90, 0x64};
  std::copy(std::begin(header), std::end(header), audio.begin());
  return audio;
}

inline Bytes BigEndian(uint64_t value, int size) {
  Bytes bytes;
  for (int i = size - 1; i >= 0; --i) bytes.push_back(uint8_t(value >> (8 * i)));
  return bytes;
}
// ID3v2's sizes: 7 bits a byte.
inline Bytes Syncsafe(uint32_t value) {
  return {uint8_t(value >> 21 & 0x7F), uint8_t(value >> 14 & 0x7F), uint8_t(value >> 7 & 0x7F), uint8_t(value & 0x7F)};
}

// A zero after each 0xFF that comes before 0xE0 and above, before a zero, or last.
inline Bytes Unsynchronise(const Bytes& bytes) {
  Bytes out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == 0xFF && (i + 1 == bytes.size() || bytes[i + 1] >= 0xE0 || bytes[i + 1] == 0)) out.push_back(0);
  }
  return out;
}

// A frame of version 2 (3 letters, no flags), 3 or 4; `formatFlags` is the second flag byte.
inline Bytes Frame(int version, const std::string& id, const Bytes& content, uint8_t formatFlags = 0) {
  const auto size = uint32_t(content.size());
  const Bytes sizeBytes = version == 2 ? BigEndian(size, 3) : version == 3 ? BigEndian(size, 4) : Syncsafe(size);
  const Bytes flags = version == 2 ? Bytes{} : Bytes{0, formatFlags};
  return Join({Bytes(id.begin(), id.end()), sizeBytes, flags, content});
}

// ASCII text in a frame's encoding with its ending zero: 0 and 3 a byte a character, 1 UTF-16 with a
// byte order mark, 2 UTF-16 big-endian.
inline Bytes Text(const std::string& text, uint8_t encoding = 0) {
  const bool utf16 = encoding == 1 || encoding == 2;
  Bytes bytes = encoding == 1 ? Bytes{0xFF, 0xFE} : Bytes{};
  for (const char c : text) {
    if (encoding == 2) bytes.push_back(0);
    bytes.push_back(uint8_t(c));
    if (encoding == 1) bytes.push_back(0);
  }
  bytes.resize(bytes.size() + (utf16 ? 2 : 1), 0);
  return bytes;
}

// A title frame: a tag that is no picture.
inline Bytes TitleFrame(int version) {
  return Frame(version, version == 2 ? "TT2" : "TIT2", Join({{0}, Text("Song")}));
}

// PIC's content (version 2: the format in three letters) or APIC's (a MIME type).
inline Bytes PictureContent(int version, uint8_t pictureType, const Bytes& picture, const std::string& description = "",
                            uint8_t encoding = 0) {
  const std::string mime = MimeType(picture);
  const Bytes format = version != 2 ? Text(mime) : mime == "image/png" ? Bytes{'P', 'N', 'G'} : Bytes{'J', 'P', 'G'};
  return Join({{encoding}, format, {pictureType}, Text(description, encoding), picture});
}
inline Bytes PictureFrame(int version, uint8_t pictureType, const Bytes& picture, const std::string& description = "",
                          uint8_t encoding = 0) {
  const Bytes content = PictureContent(version, pictureType, picture, description, encoding);
  return Frame(version, version == 2 ? "PIC" : "APIC", content);
}

// A tag holding `frames` (an extended header goes first, as any bytes); with flag 0x10 a 2.4 tag
// ends in its footer.
inline Bytes Id3v2(int version, const std::vector<Bytes>& frames, uint8_t flags = 0) {
  const Bytes body = Join(frames);
  Bytes header = Join({{'I', 'D', '3', uint8_t(version), 0, flags}, Syncsafe(uint32_t(body.size()))});
  Bytes tag = Join({header, body});
  if (version == 4 && (flags & 0x10)) {
    header[0] = '3', header[1] = 'D', header[2] = 'I';
    tag = Join({tag, header});
  }
  return tag;
}

// A 2.2 or 2.3 tag unsynchronised whole: the frames keep the sizes they had before.
inline Bytes UnsynchronisedId3v2(int version, const std::vector<Bytes>& frames) {
  return Id3v2(version, {Unsynchronise(Join(frames))}, 0x80);
}

// A FLAC metadata block; Flac() marks the last.
inline Bytes FlacBlock(uint8_t type, const Bytes& content) {
  return Join({{type}, BigEndian(content.size(), 3), content});
}
inline Bytes FlacStreamInfo() { return FlacBlock(0, Bytes(34, 0x11)); }

// A picture block's content: type, MIME type, no description, 1×1 pixels, 24 bits, no palette.
inline Bytes FlacPictureContent(uint32_t pictureType, const Bytes& picture) {
  const std::string mime = MimeType(picture);
  return Join({BigEndian(pictureType, 4), BigEndian(mime.size(), 4), Bytes(mime.begin(), mime.end()), BigEndian(0, 4),
               BigEndian(1, 4), BigEndian(1, 4), BigEndian(24, 4), BigEndian(0, 4), BigEndian(picture.size(), 4),
               picture});
}
inline Bytes FlacPicture(uint32_t pictureType, const Bytes& picture) {
  return FlacBlock(6, FlacPictureContent(pictureType, picture));
}

inline Bytes Flac(std::vector<Bytes> blocks) {
  if (!blocks.empty()) blocks.back()[0] |= 0x80;
  return Join({{'f', 'L', 'a', 'C'}, Join(blocks)});
}

// A real file's bytes, for the tests that read and write files.
inline void Write(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}
inline Bytes Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace coverfiles
