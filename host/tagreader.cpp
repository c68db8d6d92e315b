#include "tagreader.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/files.h"

// The answers follow the TagLib reader's for the same bytes, quirks included (which text frame wins,
// how several values join, how a number is read), so that the stand-in shows the same titles and
// lengths whichever reader it was built with.

namespace host {

namespace {

constexpr std::uint64_t kMaxTagSize = 16ull << 20;       // a tag that must be read whole
constexpr std::size_t kMaxFieldBytes = 1u << 20;         // of one text frame
constexpr std::uint64_t kFrameSearchBytes = 1ull << 20;  // past the tags, for the first audio frame
constexpr std::uint64_t kTailSearchBytes = 64ull << 10;  // before the end, for the last audio frame
constexpr int kMaxTagFrames = 1 << 16;                   // no real tag comes near
constexpr int kMaxChunks = 1 << 12;                      // of a RIFF file; metadata blocks of a FLAC file
constexpr int kMaxOggPages = 1 << 16;                    // of an Ogg file, holding the header packets

// ---- Reading the file.

// Reads at any offset through a window of the file, so that walking many small tag frames or scanning
// for a frame header byte by byte costs one read of the file per window.
class Source {
 public:
  explicit Source(platform::File& file) : file_(file), size_(file.Size()) {}

  std::uint64_t Size() const { return size_; }

  // Up to `count` bytes at `offset`; fewer at the end of the file or after a read error.
  std::string Read(std::uint64_t offset, std::size_t count) {
    if (offset >= size_) return {};
    count = static_cast<std::size_t>(std::min<std::uint64_t>(count, size_ - offset));
    if (count > kWindow / 2) return ReadFile(offset, count);
    if (offset < windowOffset_ || offset + count > windowOffset_ + window_.size()) {
      // Aligned halves keep both the forward and the backward scans inside one window most of the time.
      windowOffset_ = offset / (kWindow / 2) * (kWindow / 2);
      window_ = ReadFile(windowOffset_, kWindow);
    }
    if (offset - windowOffset_ >= window_.size()) return {};
    return window_.substr(static_cast<std::size_t>(offset - windowOffset_), count);
  }

 private:
  static constexpr std::size_t kWindow = 64 * 1024;

  std::string ReadFile(std::uint64_t offset, std::size_t count) {
    std::string bytes(count, '\0');
    std::size_t done = 0;
    if (file_.Seek(offset)) {
      while (done < count) {
        std::int64_t read = file_.Read(bytes.data() + done, count - done);
        if (read <= 0) break;
        done += static_cast<std::size_t>(read);
      }
    }
    bytes.resize(done);
    return bytes;
  }

  platform::File& file_;
  std::uint64_t size_;
  std::uint64_t windowOffset_ = 0;
  std::string window_;
};

unsigned Byte(std::string_view bytes, std::size_t index) { return static_cast<unsigned char>(bytes[index]); }

// The first `count` bytes (as many as there are, when fewer) as a number, most significant first.
std::uint32_t BigEndian(std::string_view bytes, std::size_t count = 4) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < std::min(count, bytes.size()); ++i) value = (value << 8) | Byte(bytes, i);
  return value;
}

std::uint64_t LittleEndian(std::string_view bytes, std::size_t offset, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = std::min(offset + count, bytes.size()); i > offset; --i)
    value = (value << 8) | Byte(bytes, i - 1);
  return value;
}

// Seven bits a byte; a byte with its top bit set means the writer stored a plain number.
std::uint32_t Synchsafe(std::string_view bytes) {
  bytes = bytes.substr(0, 4);
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (Byte(bytes, i) & 0x80) return BigEndian(bytes);
    value = (value << 7) | Byte(bytes, i);
  }
  return value;
}

// Removes the zero byte that the writer put after every 0xFF.
std::string Resynchronise(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    out += bytes[i];
    if (Byte(bytes, i) == 0xFF && i + 1 < bytes.size() && bytes[i + 1] == '\0') ++i;
  }
  return out;
}

// ---- Texts.

// A number as C's strtol reads it: blanks, a sign, digits; anything may follow. `whole` tells whether
// the text was nothing but the number.
int ParseInt(std::string_view text, bool* whole = nullptr) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::size_t digits = i;
  std::int64_t value = 0;
  bool overflow = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (value > (std::numeric_limits<std::int32_t>::max() - (text[i] - '0')) / 10) overflow = true;
    if (!overflow) value = value * 10 + (text[i] - '0');
  }
  if (whole) *whole = i > digits && i == text.size() && !overflow;
  if (i == digits) return 0;
  if (overflow) return negative ? std::numeric_limits<int>::min() : std::numeric_limits<int>::max();
  return static_cast<int>(negative ? -value : value);
}

std::string Join(const std::vector<std::string>& values, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) joined += separator;
    joined += values[i];
  }
  return joined;
}

// Texts end at their first NUL and hold the single-byte code page: a character above 255 becomes '?'
// (one for each UTF-16 unit, as the TagLib reader narrows them).
void AppendUnit(std::string& text, std::uint32_t unit) { text += unit < 256 ? static_cast<char>(unit) : '?'; }

std::string CutAtNul(std::string text) {
  text.resize(text.find('\0') == std::string::npos ? text.size() : text.find('\0'));
  return text;
}

std::string FromUtf16(std::string_view bytes, bool bigEndian) {
  std::string text;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    AppendUnit(text,
               bigEndian ? (Byte(bytes, i) << 8) | Byte(bytes, i + 1) : Byte(bytes, i) | (Byte(bytes, i + 1) << 8));
  return CutAtNul(std::move(text));
}

// Invalid UTF-8 anywhere makes the whole text empty.
std::string FromUtf8(std::string_view bytes) {
  std::string text;
  for (std::size_t i = 0; i < bytes.size();) {
    unsigned lead = Byte(bytes, i);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    if (length == 0 || i + length > bytes.size()) return {};
    std::uint32_t point = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      if ((Byte(bytes, i + k) & 0xC0) != 0x80) return {};
      point = (point << 6) | (Byte(bytes, i + k) & 0x3F);
    }
    static constexpr std::array<std::uint32_t, 5> kSmallest = {0, 0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return {};
    if (point > 0xFFFF) {
      text += "??";  // a surrogate pair
    } else {
      AppendUnit(text, point);
    }
    i += length;
  }
  return CutAtNul(std::move(text));
}

enum Encoding : unsigned { kLatin1 = 0, kUtf16 = 1, kUtf16Be = 2, kUtf8 = 3, kUtf16Le = 4 };

std::string Decode(std::string_view bytes, unsigned encoding) {
  switch (encoding) {
    case kLatin1:
      return CutAtNul(std::string(bytes));
    case kUtf16:
      if (bytes.size() < 2) return {};
      if (Byte(bytes, 0) == 0xFF && Byte(bytes, 1) == 0xFE) return FromUtf16(bytes.substr(2), false);
      if (Byte(bytes, 0) == 0xFE && Byte(bytes, 1) == 0xFF) return FromUtf16(bytes.substr(2), true);
      return {};  // no byte order mark
    case kUtf8:
      return FromUtf8(bytes);
    case kUtf16Le:
      return FromUtf16(bytes, false);
    default:
      return FromUtf16(bytes, true);
  }
}

std::size_t Alignment(unsigned encoding) { return encoding == kLatin1 || encoding == kUtf8 ? 1 : 2; }

// Splits at the terminator of the encoding (one or two zero bytes on an aligned offset); at most `max`
// pieces when `max` is not 0, the last one holding the rest.
std::vector<std::string_view> Split(std::string_view data, std::size_t align, std::size_t max = 0) {
  std::string_view terminator = std::string_view("\0\0", 2).substr(0, align);
  std::vector<std::string_view> pieces;
  std::size_t previous = 0;
  for (std::size_t offset = 0; offset + align <= data.size() && (max == 0 || max > pieces.size() + 1);
       offset += align) {
    if (data.substr(offset, align) != terminator) continue;
    pieces.push_back(data.substr(previous, offset - previous));
    previous = offset + align;
  }
  if (previous < data.size()) pieces.push_back(data.substr(previous));
  return pieces;
}

// ---- ID3.

// clang-format off
constexpr std::array<std::string_view, 192> kGenres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial", "Alternative",
    "Ska", "Death Metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop", "Vocal", "Jazz-Funk",
    "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game", "Sound Clip", "Gospel", "Noise",
    "Alternative Rock", "Bass", "Soul", "Punk", "Space", "Meditative", "Instrumental Pop", "Instrumental Rock",
    "Ethnic", "Gothic", "Darkwave", "Techno-Industrial", "Electronic", "Pop-Folk", "Eurodance", "Dream",
    "Southern Rock", "Comedy", "Cult", "Gangsta", "Top 40", "Christian Rap", "Pop/Funk", "Jungle",
    "Native American", "Cabaret", "New Wave", "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal",
    "Acid Punk", "Acid Jazz", "Polka", "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk Rock",
    "National Folk", "Swing", "Fast Fusion", "Bebop", "Latin", "Revival", "Celtic", "Bluegrass", "Avant-garde",
    "Gothic Rock", "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus",
    "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber Music", "Sonata", "Symphony",
    "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba", "Folklore", "Ballad",
    "Power Ballad", "Rhythmic Soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo", "A Cappella", "Euro-House",
    "Dancehall", "Goa", "Drum & Bass", "Club-House", "Hardcore Techno", "Terror", "Indie", "Britpop",
    "Worldbeat", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal", "Black Metal", "Crossover",
    "Contemporary Christian", "Christian Rock", "Merengue", "Salsa", "Thrash Metal", "Anime", "Jpop",
    "Synthpop", "Abstract", "Art Rock", "Baroque", "Bhangra", "Big Beat", "Breakbeat", "Chillout", "Downtempo",
    "Dub", "EBM", "Eclectic", "Electro", "Electroclash", "Emo", "Experimental", "Garage", "Global", "IDM",
    "Illbient", "Industro-Goth", "Jam Band", "Krautrock", "Leftfield", "Lounge", "Math Rock", "New Romantic",
    "Nu-Breakz", "Post-Punk", "Post-Rock", "Psytrance", "Shoegaze", "Space Rock", "Trop Rock", "World Music",
    "Neoclassical", "Audiobook", "Audio Theatre", "Neue Deutsche Welle", "Podcast", "Indie Rock", "G-Funk",
    "Dubstep", "Garage Rock", "Psybient"};
// clang-format on

std::string GenreName(int number) {
  return number >= 0 && static_cast<std::size_t>(number) < kGenres.size() ? std::string(kGenres[number]) : "";
}

// What a tag answers: the fields of Metadata that come from tags.
struct Tags {
  std::string title, artist, album, albumArtist, genre, comment;
  int year = 0;
  int track = 0;
  bool otherFields = false;  // a Vorbis comment counts as a tag when it holds any field at all

  bool Empty() const {
    return !otherFields && title.empty() && artist.empty() && album.empty() && comment.empty() && genre.empty() &&
           year == 0 && track == 0;
  }
};

// Each field from the first tag that has it, as a file with several tags answers.
void FillFrom(Metadata& metadata, const std::vector<const Tags*>& tags) {
  auto text = [&](std::string Tags::*field, std::string& target) {
    for (const Tags* tag : tags)
      if (!(tag->*field).empty()) {
        target = tag->*field;
        return;
      }
  };
  auto number = [&](int Tags::*field, int& target) {
    for (const Tags* tag : tags)
      if (tag->*field != 0) {
        target = tag->*field;
        return;
      }
  };
  text(&Tags::title, metadata.title);
  text(&Tags::artist, metadata.artist);
  text(&Tags::album, metadata.album);
  text(&Tags::genre, metadata.genre);
  text(&Tags::comment, metadata.comment);
  number(&Tags::year, metadata.year);
  number(&Tags::track, metadata.track);
  // The album artist is a property of the first tag that holds any of the common fields.
  for (const Tags* tag : tags)
    if (!tag->Empty()) {
      metadata.albumArtist = tag->albumArtist;
      break;
    }
}

// ---- APE.

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

struct Ape {
  std::uint64_t start = 0;  // where the tag (its header, when it has one) begins
  Tags tags;
};

// An APE tag ending where the ID3v1 tag begins, or at the end of the file.
std::optional<Ape> ReadApe(Source& source, std::uint64_t end) {
  constexpr std::uint64_t kFooter = 32;
  if (end < kFooter) return std::nullopt;
  std::string footer = source.Read(end - kFooter, kFooter);
  if (footer.size() < kFooter || footer.compare(0, 8, "APETAGEX") != 0) return std::nullopt;
  std::uint64_t size = LittleEndian(footer, 12, 4);  // items and footer
  std::uint64_t count = LittleEndian(footer, 16, 4);
  bool hasHeader = (LittleEndian(footer, 20, 4) & 0x80000000u) != 0;
  Ape ape;
  ape.start = end - std::min(end, size + (hasHeader ? kFooter : 0));
  if (size <= kFooter || size > source.Size() || size > end || size > kMaxTagSize) return ape;
  std::string data = source.Read(end - size, static_cast<std::size_t>(size - kFooter));
  std::map<std::string, std::vector<std::string>> items;
  for (std::uint64_t i = 0, position = 0; i < count && data.size() >= 11 && position <= data.size() - 11; ++i) {
    std::size_t keyEnd = data.find('\0', static_cast<std::size_t>(position) + 8);
    if (keyEnd == std::string::npos) break;
    std::uint64_t keyLength = keyEnd - position - 8;
    std::uint64_t valueLength = LittleEndian(data, static_cast<std::size_t>(position), 4);
    std::string key = data.substr(static_cast<std::size_t>(position) + 8, static_cast<std::size_t>(keyLength));
    bool validKey = keyLength >= 2 && keyLength <= 255 &&
                    std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
    unsigned type = (Byte(data, static_cast<std::size_t>(position) + 4) >> 1) & 3;
    if (validKey && type == 0) {  // text; binary items and links hold no text
      std::vector<std::string> values;
      for (std::string_view value :
           Split(std::string_view(data).substr(
                     keyEnd + 1, static_cast<std::size_t>(std::min<std::uint64_t>(valueLength, data.size()))),
                 1))
        values.push_back(FromUtf8(value));
      items[UpperAscii(key)] = values;
    } else if (validKey) {
      items[UpperAscii(key)] = {};
    }
    position += keyLength + valueLength + 9;
  }
  auto text = [&](const char* key) { return items.count(key) ? Join(items[key], " ") : std::string(); };
  auto first = [&](const char* key) {
    return items.count(key) && !items[key].empty() ? items[key].front() : std::string();
  };
  ape.tags.title = text("TITLE");
  ape.tags.artist = text("ARTIST");
  ape.tags.album = text("ALBUM");
  ape.tags.comment = text("COMMENT");
  ape.tags.genre = text("GENRE");
  ape.tags.year = ParseInt(first("YEAR"));
  ape.tags.track = ParseInt(first("TRACK"));
  ape.tags.albumArtist = first("ALBUM ARTIST");
  return ape;
}

std::optional<Tags> ReadId3v1(Source& source) {
  if (source.Size() < 128) return std::nullopt;
  std::string data = source.Read(source.Size() - 128, 128);
  if (data.size() < 128 || data.compare(0, 3, "TAG") != 0) return std::nullopt;
  auto text = [&](std::size_t offset, std::size_t count) {
    std::string value = CutAtNul(data.substr(offset, count));
    std::size_t first = value.find_first_not_of(" \t\n\f\r");
    if (first == std::string::npos) return std::string();
    return value.substr(first, value.find_last_not_of(" \t\n\f\r") + 1 - first);
  };
  Tags tags;
  tags.title = text(3, 30);
  tags.artist = text(33, 30);
  tags.album = text(63, 30);
  tags.year = ParseInt(text(93, 4));
  if (data[125] == '\0' && data[126] != '\0') {  // ID3v1.1: a track number ends the comment
    tags.comment = text(97, 28);
    tags.track = Byte(data, 126);
  } else {
    tags.comment = CutAtNul(data.substr(97, 30));  // not trimmed, as the TagLib reader leaves it
  }
  tags.genre = GenreName(static_cast<int>(Byte(data, 127)));
  return tags;
}

// One frame of an ID3v2 tag that the stand-in uses, as found: `known` is false for a frame that cannot
// be read (compressed, encrypted) but still takes its place in the order of frames.
struct Id3Frame {
  std::string id;
  bool known = false;
  std::string data;  // the frame's fields
};

std::vector<std::string> TextFields(std::string_view data) {
  std::vector<std::string> fields;
  if (data.size() < 2) return fields;
  unsigned encoding = Byte(data, 0);
  std::size_t align = Alignment(encoding);
  std::size_t length = data.size() - 1;
  while (length > 0 && data[length] == '\0') --length;
  while (length % align != 0) ++length;
  std::vector<std::string_view> pieces = Split(data.substr(1, length), align);
  std::uint32_t firstMark = 0;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (pieces[i].empty()) continue;
    unsigned pieceEncoding = encoding;
    if (encoding == kUtf16) {
      std::uint32_t mark = BigEndian(pieces[i], 2);
      if (i == 0) {
        firstMark = mark;
      } else if (mark != 0xFEFF && mark != 0xFFFE) {  // later values may leave the mark out
        pieceEncoding = firstMark == 0xFEFF ? kUtf16Be : firstMark == 0xFFFE ? kUtf16Le : kUtf16;
      }
    }
    fields.push_back(Decode(pieces[i], pieceEncoding));
  }
  return fields;
}

// "(17)", "(17)Rock" and "(RX)(4)" as ID3v2.3 writes genres, reduced to values; a number whose name
// follows it stands for nothing more than that name.
std::vector<std::string> GenreValues(const std::vector<std::string>& fields) {
  std::vector<std::string> values;
  for (std::string field : fields) {
    for (std::size_t end; !field.empty() && field[0] == '(' && (end = field.find(')', 1)) != std::string::npos;) {
      std::string code = field.substr(1, end - 1);
      field.erase(0, end + 1);
      bool whole = false;
      int number = ParseInt(code, &whole);
      if ((whole && number >= 0 && number <= 255 && GenreName(number) != field) || code == "RX" || code == "CR")
        values.push_back(code);
    }
    if (!field.empty()) values.push_back(field);
  }
  return values;
}

std::string GenreText(const std::vector<std::string>& fields) {
  std::vector<std::string> genres;
  for (std::string value : GenreValues(fields)) {
    if (value.empty()) continue;
    bool whole = false;
    int number = ParseInt(value, &whole);
    if (whole && number >= 0 && number <= 255) value = GenreName(number);
    if (std::find(genres.begin(), genres.end(), value) == genres.end()) genres.push_back(value);
  }
  return Join(genres, " ");
}

Tags TagsOf(const std::vector<Id3Frame>& frames) {
  Tags tags;
  auto first = [&](std::string_view id) -> const Id3Frame* {
    for (const Id3Frame& frame : frames)
      if (frame.id == id) return &frame;
    return nullptr;
  };
  auto text = [&](std::string_view id) {
    const Id3Frame* frame = first(id);
    return frame && frame->known ? Join(TextFields(frame->data), " ") : std::string();
  };
  tags.title = text("TIT2");
  tags.artist = text("TPE1");
  tags.album = text("TALB");
  tags.year = ParseInt(text("TDRC").substr(0, 4));
  tags.track = ParseInt(text("TRCK"));
  if (const Id3Frame* genre = first("TCON"); genre && genre->known) tags.genre = GenreText(TextFields(genre->data));
  for (const Id3Frame& frame : frames)
    if (frame.id == "TPE2" && frame.known) {
      std::vector<std::string> values = TextFields(frame.data);
      if (!values.empty()) {
        tags.albumArtist = values.front();
        break;
      }
    }
  // The comment without a description, else the first comment.
  std::optional<std::string> comment;
  for (const Id3Frame& frame : frames) {
    if (frame.id != "COMM") continue;
    std::string description, value;
    if (frame.known && frame.data.size() >= 5) {
      unsigned encoding = Byte(frame.data, 0);
      std::vector<std::string_view> parts = Split(std::string_view(frame.data).substr(4), Alignment(encoding), 2);
      if (parts.size() == 2) {
        description = Decode(parts[0], encoding);
        value = Decode(parts[1], encoding);
      }
    }
    if (!comment) comment = value;
    if (frame.known && description.empty()) {
      comment = value;
      break;
    }
  }
  tags.comment = comment.value_or("");
  return tags;
}

// Older frame names under the names the tags are read by.
std::string CurrentFrameId(std::string id, int version) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 9> kVersion2 = {{
      {"TT2", "TIT2"},
      {"TP1", "TPE1"},
      {"TP2", "TPE2"},
      {"TAL", "TALB"},
      {"TCO", "TCON"},
      {"TRK", "TRCK"},
      {"TYE", "TDRC"},
      {"TRD", "TDRC"},
      {"COM", "COMM"},
  }};
  if (version == 2) {
    for (const auto& [old, current] : kVersion2)
      if (id == old) return std::string(current);
  } else if (version == 3 && id == "TYER") {
    return "TDRC";
  }
  return id;
}

bool IsWantedFrame(std::string_view id) {
  for (std::string_view wanted : {"TIT2", "TPE1", "TALB", "TPE2", "TCON", "TDRC", "TRCK", "COMM"})
    if (id == wanted) return true;
  return false;
}

bool IsFrameId(std::string_view id) {
  return std::all_of(id.begin(), id.end(), [](char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); });
}

// Bytes of a tag's frame area: at most `count` at `offset`, fewer at its end.
using TagBytes = std::function<std::string(std::uint64_t offset, std::size_t count)>;

std::vector<Id3Frame> ReadFrames(const TagBytes& bytes, std::uint64_t length, int version, bool unsynchronised,
                                 std::uint64_t position) {
  std::vector<Id3Frame> frames;
  const std::uint64_t headerSize = version == 2 ? 6 : 10;
  for (int count = 0; count < kMaxTagFrames && position + headerSize < length; ++count) {
    std::string header = bytes(position, static_cast<std::size_t>(headerSize));
    if (header.size() < headerSize || header[0] == '\0') break;  // padding
    std::string id = header.substr(0, version == 2 ? 3 : 4);
    std::uint64_t size = version == 2   ? BigEndian(std::string_view(header).substr(3), 3)
                         : version == 3 ? BigEndian(std::string_view(header).substr(4))
                                        : Synchsafe(std::string_view(header).substr(4));
    unsigned flags = version == 2 ? 0 : Byte(header, 9);
    if (version == 4 && size > 127 && !IsFrameId(bytes(position + size + 10, 4))) {
      // Some writers store plain sizes in ID3v2.4 tags; the next frame's name tells which was meant.
      std::uint64_t plain = BigEndian(std::string_view(header).substr(4));
      std::string next = bytes(position + plain + 10, 4);
      if (next.size() == 4 && IsFrameId(next)) size = plain;
    }
    bool lengthIndicator = version == 4 && (flags & 0x01) != 0;
    if (size <= (lengthIndicator ? 4u : 0u) || size > length - position) break;
    int idVersion = version;
    if (version == 3 && id[3] == '\0') {  // an ID3v2.2 frame inside an ID3v2.3 tag
      id.resize(3);
      idVersion = 2;
    }
    if (!IsFrameId(id)) break;
    id = CurrentFrameId(id, idVersion);
    if (IsWantedFrame(id)) {
      Id3Frame frame;
      frame.id = id;
      bool compressed = version == 3 ? (flags & 0x80) != 0 : version == 4 && (flags & 0x08) != 0;
      bool encrypted = version == 3 ? (flags & 0x40) != 0 : version == 4 && (flags & 0x04) != 0;
      frame.known = !compressed && !encrypted;
      if (frame.known) {
        frame.data =
            bytes(position + headerSize, static_cast<std::size_t>(std::min<std::uint64_t>(size, kMaxFieldBytes)));
        if (version == 4 && (unsynchronised || (flags & 0x02) != 0)) frame.data = Resynchronise(frame.data);
        if (lengthIndicator) {
          std::uint32_t dataLength = Synchsafe(std::string_view(frame.data).substr(0, 4));
          frame.data = frame.data.substr(std::min<std::size_t>(4, frame.data.size()), dataLength);
        }
      }
      frames.push_back(std::move(frame));
    }
    position += size + headerSize;
  }
  return frames;
}

struct Id3v2 {
  std::uint64_t end = 0;  // the first byte after the tag (and any tags that follow it at once)
  std::optional<Tags> tags;
};

std::optional<Id3v2> ReadId3v2(Source& source, std::uint64_t location) {
  std::string header = source.Read(location, 10);
  if (header.size() < 10 || header.compare(0, 3, "ID3") != 0) return std::nullopt;
  auto tagSize = [](std::string_view tagHeader) -> std::uint64_t {
    for (std::size_t i = 6; i < 10; ++i)
      if (Byte(tagHeader, i) & 0x80) return 0;
    return Synchsafe(tagHeader.substr(6, 4));
  };
  int version = static_cast<int>(Byte(header, 3));
  unsigned flags = Byte(header, 5);
  std::uint64_t size = tagSize(header);
  Id3v2 tag;
  tag.end = location + 10 + size + (version == 4 && (flags & 0x10) != 0 ? 10 : 0);
  // Some writers repeated the whole tag; the copies are skipped as part of it.
  for (std::string next = source.Read(tag.end, 10); next.size() == 10 && next.compare(0, 3, "ID3") == 0;
       next = source.Read(tag.end, 10)) {
    std::uint64_t extra = tagSize(next);
    if (extra == 0) break;
    tag.end += 10 + extra;
  }
  std::uint64_t length = std::min(size, source.Size() - std::min(source.Size(), location + 10));
  if (size == 0 || version < 2 || version > 4) {
    tag.tags = Tags{};
    return tag;
  }
  bool unsynchronised = (flags & 0x80) != 0;
  std::string decoded;
  TagBytes bytes;
  if (unsynchronised && version <= 3) {
    if (length > kMaxTagSize) return tag;  // too large to hold, and no frame can be found without
    decoded = Resynchronise(source.Read(location + 10, static_cast<std::size_t>(length)));
    length = decoded.size();
    bytes = [&decoded](std::uint64_t offset, std::size_t count) {
      return offset < decoded.size() ? decoded.substr(static_cast<std::size_t>(offset), count) : std::string();
    };
  } else {
    bytes = [&source, location, length](std::uint64_t offset, std::size_t count) {
      if (offset >= length) return std::string();
      return source.Read(location + 10 + offset,
                         static_cast<std::size_t>(std::min<std::uint64_t>(count, length - offset)));
    };
  }
  std::uint64_t position = 0;
  if ((flags & 0x40) != 0 && version >= 3) {
    std::string extended = bytes(0, 4);
    // The size counts itself in ID3v2.4 but not in ID3v2.3.
    std::uint64_t extendedSize = version == 3 ? BigEndian(extended) + 4ull : Synchsafe(extended);
    if (extended.size() == 4 && extendedSize <= length) position = extendedSize;
  }
  tag.tags = TagsOf(ReadFrames(bytes, length, version, unsynchronised, position));
  return tag;
}

// ---- MPEG audio.

struct MpegHeader {
  int version = 0;  // 1, 2, or 25 for 2.5
  int layer = 0;
  int bitrate = 0;  // kbit/s
  int sampleRate = 0;
  int channels = 0;
  int samplesPerFrame = 0;
  std::uint64_t frameLength = 0;
  std::uint32_t bits = 0;
};

bool IsFrameSync(unsigned first, unsigned second) {
  // 0xFF 0xFF is more likely a run of padding or a synchsafe number than a frame.
  return first == 0xFF && second != 0xFF && (second & 0xE0) == 0xE0;
}

std::optional<MpegHeader> ParseMpegHeader(std::string_view data) {
  if (data.size() < 4 || !IsFrameSync(Byte(data, 0), Byte(data, 1))) return std::nullopt;
  static constexpr int kBitrates[2][3][16] = {
      {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 0},
       {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, 0},
       {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0}},
      {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0},
       {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}}};
  static constexpr int kSampleRates[3][4] = {
      {44100, 48000, 32000, 0}, {22050, 24000, 16000, 0}, {11025, 12000, 8000, 0}};
  MpegHeader header;
  header.bits = BigEndian(data);
  unsigned versionBits = (Byte(data, 1) >> 3) & 0x03;
  if (versionBits == 1) return std::nullopt;
  int versionIndex = versionBits == 3 ? 0 : versionBits == 2 ? 1 : 2;
  header.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
  unsigned layerBits = (Byte(data, 1) >> 1) & 0x03;
  if (layerBits == 0) return std::nullopt;
  header.layer = 4 - static_cast<int>(layerBits);
  header.bitrate = kBitrates[versionIndex == 0 ? 0 : 1][header.layer - 1][Byte(data, 2) >> 4];
  if (header.bitrate == 0) return std::nullopt;
  header.sampleRate = kSampleRates[versionIndex][(Byte(data, 2) >> 2) & 0x03];
  if (header.sampleRate == 0) return std::nullopt;
  header.channels = (Byte(data, 3) >> 6) == 3 ? 1 : 2;
  static constexpr int kSamplesPerFrame[3][2] = {{384, 384}, {1152, 1152}, {1152, 576}};
  header.samplesPerFrame = kSamplesPerFrame[header.layer - 1][versionIndex == 0 ? 0 : 1];
  header.frameLength = static_cast<std::uint64_t>(header.samplesPerFrame) * header.bitrate * 125 / header.sampleRate;
  if ((Byte(data, 2) & 0x02) != 0) header.frameLength += header.layer == 1 ? 4 : 1;
  return header;
}

// A frame header at `offset` that the next frame confirms: same version, layer and sample rate right
// where this frame ends. A lone sync pattern inside other data rarely passes.
std::optional<MpegHeader> ConfirmedHeaderAt(Source& source, std::uint64_t offset) {
  std::optional<MpegHeader> header = ParseMpegHeader(source.Read(offset, 4));
  if (!header) return std::nullopt;
  std::string next = source.Read(offset + header->frameLength, 4);
  constexpr std::uint32_t kMask = 0xFFFE0C00;
  if (next.size() < 4 || (BigEndian(next) & kMask) != (header->bits & kMask)) return std::nullopt;
  return header;
}

std::optional<std::uint64_t> FirstFrame(Source& source, std::uint64_t from) {
  std::uint64_t limit = std::min(source.Size(), from + kFrameSearchBytes);
  for (std::uint64_t offset = from; offset + 1 < limit;) {
    std::string chunk = source.Read(offset, 4096);
    if (chunk.size() < 2) break;
    for (std::size_t i = 0; i + 1 < chunk.size(); ++i)
      if (IsFrameSync(Byte(chunk, i), Byte(chunk, i + 1)) && ConfirmedHeaderAt(source, offset + i)) return offset + i;
    offset += chunk.size() - 1;
  }
  return std::nullopt;
}

// Where an ID3v2 tag starts: at the start of the file, or after junk but before the first audio frame.
std::optional<std::uint64_t> FindId3v2(Source& source) {
  if (source.Read(0, 3) == "ID3") return 0;
  if (ConfirmedHeaderAt(source, 0)) return std::nullopt;
  std::uint64_t limit = FirstFrame(source, 0).value_or(std::min(source.Size(), kFrameSearchBytes));
  constexpr std::size_t kChunk = 4096;
  for (std::uint64_t offset = 0; offset < limit; offset += kChunk) {
    std::size_t found = source.Read(offset, kChunk + 2).find("ID3");
    if (found != std::string::npos && offset + found < limit) return offset + found;
  }
  return std::nullopt;
}

// Where the stream's last whole frame ends: the end of the last frame that the frame after it confirms,
// plus that frame. Sought only in the file's tail.
std::optional<std::uint64_t> StreamEnd(Source& source, std::uint64_t first, std::uint64_t end) {
  std::uint64_t begin = std::max(first, end > kTailSearchBytes ? end - kTailSearchBytes : 0);
  for (std::uint64_t offset = end; offset > begin;) {
    --offset;
    std::string pair = source.Read(offset, 2);
    if (pair.size() < 2 || !IsFrameSync(Byte(pair, 0), Byte(pair, 1))) continue;
    std::optional<MpegHeader> header = ConfirmedHeaderAt(source, offset);
    if (!header) continue;
    std::uint64_t last = offset + header->frameLength;
    std::optional<MpegHeader> lastHeader = ParseMpegHeader(source.Read(last, 4));
    return last + (lastHeader ? lastHeader->frameLength : 0);
  }
  return std::nullopt;
}

int Rounded(double value) {
  return value >= std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(value + 0.5);
}

// False when no frame is found.
bool ReadMpegAudio(Source& source, std::uint64_t tagEnd, std::uint64_t streamLimit, Metadata& metadata) {
  std::optional<std::uint64_t> first = FirstFrame(source, tagEnd);
  if (!first) return false;
  std::optional<MpegHeader> header = ParseMpegHeader(source.Read(*first, 4));
  if (!header) return false;
  metadata.lengthMs = 0;
  metadata.sampleRate = header->sampleRate;
  metadata.channels = header->channels;
  // A VBR header in the first frame counts the frames and bytes of the whole stream.
  std::string frame = source.Read(*first, static_cast<std::size_t>(header->frameLength));
  std::uint32_t frames = 0, bytes = 0;
  std::size_t xing = frame.find("Xing");
  if (xing == std::string::npos) xing = frame.find("Info");
  if (xing != std::string::npos) {
    if (frame.size() >= xing + 16 && (Byte(frame, xing + 7) & 0x03) == 0x03) {
      frames = BigEndian(std::string_view(frame).substr(xing + 8));
      bytes = BigEndian(std::string_view(frame).substr(xing + 12));
    }
  } else if (std::size_t vbri = frame.find("VBRI"); vbri != std::string::npos && frame.size() >= vbri + 32) {
    frames = BigEndian(std::string_view(frame).substr(vbri + 14));
    bytes = BigEndian(std::string_view(frame).substr(vbri + 10));
  }
  if (frames > 0 && bytes > 0) {
    double length = header->samplesPerFrame * 1000.0 / header->sampleRate * frames;
    metadata.lengthMs = Rounded(length);
    metadata.bitrate = Rounded(bytes * 8.0 / length);
    return true;
  }
  metadata.bitrate = header->bitrate;
  std::uint64_t end = StreamEnd(source, *first, streamLimit).value_or(streamLimit);
  if (end > *first) metadata.lengthMs = Rounded((end - *first) * 8.0 / header->bitrate);
  return true;
}

// ---- RIFF WAVE.

// The tags of a WAV file are those of an ID3v2 chunk; the TagLib reader shows no INFO list either.
bool ReadWave(Source& source, Metadata& metadata, std::optional<Tags>& tags) {
  std::string header = source.Read(0, 12);
  if (header.size() < 12 || header.compare(0, 4, "RIFF") != 0 || header.compare(8, 4, "WAVE") != 0) return false;
  std::string format;
  std::uint64_t streamLength = 0, totalSamples = 0;
  std::uint64_t offset = 12;
  for (int count = 0; count < kMaxChunks && offset + 8 <= source.Size(); ++count) {
    std::string chunk = source.Read(offset, 8);
    std::uint64_t size = LittleEndian(chunk, 4, 4);
    if (chunk.size() < 8 || offset + 8 + size > source.Size()) {
      if (chunk.compare(0, 4, "data") == 0 && streamLength == 0) streamLength = source.Size() - offset - 8;
      break;  // a chunk larger than the file: what it would hold is not there
    }
    std::uint64_t padded = size + (size & 1);
    std::string_view name = std::string_view(chunk).substr(0, 4);
    if (name == "fmt " && format.empty()) {
      format = source.Read(offset + 8, static_cast<std::size_t>(std::min<std::uint64_t>(size, 64)));
    } else if (name == "data" && streamLength == 0) {
      streamLength = std::min(padded, source.Size() - offset - 8);
    } else if (name == "fact" && totalSamples == 0) {
      totalSamples = LittleEndian(source.Read(offset + 8, 4), 0, 4);
    } else if ((name == "ID3 " || name == "id3 ") && !tags) {
      if (std::optional<Id3v2> id3v2 = ReadId3v2(source, offset + 8)) tags = id3v2->tags;
    }
    offset += 8 + padded;
  }
  if (format.size() < 16) return false;
  metadata.lengthMs = 0;
  unsigned formatTag = static_cast<unsigned>(LittleEndian(format, 0, 2));
  metadata.channels = static_cast<int>(LittleEndian(format, 2, 2));
  std::uint64_t sampleRate = LittleEndian(format, 4, 4);
  metadata.sampleRate = static_cast<int>(std::min<std::uint64_t>(sampleRate, std::numeric_limits<int>::max()));
  std::uint64_t byteRate = LittleEndian(format, 8, 4);
  std::uint64_t bitsPerSample = LittleEndian(format, 14, 2);
  if (streamLength == 0) return true;
  std::uint64_t frames = 0;
  if (formatTag != 1) {
    frames = totalSamples;
  } else if (metadata.channels > 0 && bitsPerSample > 0) {
    frames = streamLength / (static_cast<std::uint64_t>(metadata.channels) * ((bitsPerSample + 7) / 8));
  }
  if (frames > 0 && sampleRate > 0) {
    double length = frames * 1000.0 / static_cast<double>(sampleRate);
    metadata.lengthMs = Rounded(length);
    metadata.bitrate = Rounded(streamLength * 8.0 / length);
  } else if (byteRate > 0) {
    metadata.lengthMs = Rounded(streamLength * 1000.0 / static_cast<double>(byteRate));
    metadata.bitrate = Rounded(byteRate * 8.0 / 1000.0);
  }
  return true;
}

// ---- Vorbis comments (FLAC and Ogg Vorbis).

Tags ReadVorbisComment(std::string_view data) {
  std::map<std::string, std::vector<std::string>> fields;
  std::uint64_t position = 4 + LittleEndian(data, 0, 4);
  std::uint64_t count = position < data.size() ? LittleEndian(data, static_cast<std::size_t>(position), 4) : 0;
  position += 4;
  if (data.size() >= 8 && count <= (data.size() - 8) / 4) {
    for (std::uint64_t i = 0; i < count && position + 4 <= data.size(); ++i) {
      std::uint64_t length = LittleEndian(data, static_cast<std::size_t>(position), 4);
      position += 4;
      if (position + length > data.size()) break;
      std::string_view entry = data.substr(static_cast<std::size_t>(position), static_cast<std::size_t>(length));
      position += length;
      std::size_t separator = entry.find('=');
      if (separator == std::string_view::npos || separator == 0) continue;
      std::string key = UpperAscii(FromUtf8(entry.substr(0, separator)));
      if (key.empty() ||
          !std::all_of(key.begin(), key.end(), [](char c) { return c >= 0x20 && c <= 0x7D && c != '='; }))
        continue;
      if (key == "METADATA_BLOCK_PICTURE" || key == "COVERART") continue;
      std::string value = FromUtf8(entry.substr(separator + 1));
      if (!value.empty()) fields[key].push_back(value);
    }
  }
  Tags tags;
  auto text = [&](const char* key) { return fields.count(key) ? Join(fields[key], " ") : std::string(); };
  auto number = [&](const char* key, const char* otherKey) {
    if (fields.count(key)) return ParseInt(fields[key].front());
    return fields.count(otherKey) ? ParseInt(fields[otherKey].front()) : 0;
  };
  tags.title = text("TITLE");
  tags.artist = text("ARTIST");
  tags.album = text("ALBUM");
  tags.genre = text("GENRE");
  tags.comment = fields.count("DESCRIPTION") ? text("DESCRIPTION") : text("COMMENT");
  tags.year = number("DATE", "YEAR");
  tags.track = number("TRACKNUMBER", "TRACKNUM");
  if (fields.count("ALBUMARTIST")) tags.albumArtist = fields["ALBUMARTIST"].front();
  tags.otherFields = !fields.empty();
  return tags;
}

// ---- FLAC.

// The metadata blocks from `start` (where "fLaC" is) on: the stream information and the Vorbis comment;
// false when they do not make a FLAC file. Blocks that are not needed (pictures) are skipped, not read.
bool ReadFlac(Source& source, std::uint64_t start, std::uint64_t streamLimit, Metadata& metadata,
              std::optional<Tags>& comment) {
  constexpr unsigned kStreamInfo = 0, kPadding = 1, kSeekTable = 3, kVorbisComment = 4;
  std::string streamInfo;
  std::uint64_t offset = start + 4;
  for (int count = 0;; ++count) {
    std::string header = source.Read(offset, 4);
    if (header.size() < 4 || count >= kMaxChunks) return false;
    unsigned type = Byte(header, 0) & 0x7F;
    std::uint64_t length = BigEndian(std::string_view(header).substr(1), 3);
    if (count == 0 && type != kStreamInfo) return false;
    if (length == 0 && type != kPadding && type != kSeekTable) return false;
    if (offset + 4 + length > source.Size()) return false;
    if (type == kStreamInfo && streamInfo.empty()) {
      streamInfo = source.Read(offset + 4, static_cast<std::size_t>(length));
    } else if (type == kVorbisComment && !comment && length <= kMaxTagSize) {
      comment = ReadVorbisComment(source.Read(offset + 4, static_cast<std::size_t>(length)));
    }
    offset += 4 + length;
    if ((Byte(header, 0) & 0x80) != 0) break;
  }
  metadata.lengthMs = 0;
  if (streamInfo.size() < 18) return true;
  std::uint32_t flags = BigEndian(std::string_view(streamInfo).substr(10));
  std::uint64_t sampleRate = flags >> 12;
  metadata.sampleRate = static_cast<int>(sampleRate);
  metadata.channels = static_cast<int>(((flags >> 9) & 7) + 1);
  std::uint64_t samples =
      (static_cast<std::uint64_t>(flags & 0xF) << 32) | BigEndian(std::string_view(streamInfo).substr(14));
  if (samples > 0 && sampleRate > 0) {
    double length = samples * 1000.0 / static_cast<double>(sampleRate);
    std::uint64_t streamLength = streamLimit > offset ? streamLimit - offset : 0;
    metadata.lengthMs = Rounded(length);
    metadata.bitrate = Rounded(static_cast<double>(streamLength) * 8.0 / length);
  }
  return true;
}

// ---- Ogg Vorbis.

struct OggPage {
  std::uint64_t size = 0;  // header, segment table and body
  std::int64_t granule = 0;
  std::vector<unsigned> segments;
};

std::optional<OggPage> ReadOggPage(Source& source, std::uint64_t offset) {
  std::string header = source.Read(offset, 27);
  if (header.size() < 27 || header.compare(0, 4, "OggS") != 0) return std::nullopt;
  OggPage page;
  page.granule = static_cast<std::int64_t>(LittleEndian(header, 6, 8));
  std::string table = source.Read(offset + 27, Byte(header, 26));
  if (table.size() < Byte(header, 26)) return std::nullopt;
  page.size = 27 + table.size();
  for (std::size_t i = 0; i < table.size(); ++i) {
    page.segments.push_back(Byte(table, i));
    page.size += Byte(table, i);
  }
  return page;
}

bool ReadOggVorbis(Source& source, Metadata& metadata, std::optional<Tags>& comment) {
  // The first three packets are the headers: identification, comment and setup. Only the first two are
  // read; of the third only its size counts.
  std::vector<std::string> packets(2);
  std::vector<std::uint64_t> sizes(1, 0);
  std::optional<std::int64_t> firstGranule;
  std::uint64_t offset = 0;
  for (int pages = 0; sizes.size() <= 3 && pages < kMaxOggPages; ++pages) {
    std::optional<OggPage> page = ReadOggPage(source, offset);
    if (!page) break;
    if (!firstGranule) firstGranule = page->granule;
    std::uint64_t body = offset + page->size;
    for (unsigned segment : page->segments) body -= segment;
    for (unsigned segment : page->segments) {
      if (sizes.size() > 3) break;
      std::size_t index = sizes.size() - 1;
      if (index < packets.size() && sizes[index] + segment <= kMaxTagSize) packets[index] += source.Read(body, segment);
      sizes[index] += segment;
      body += segment;
      if (segment < 255) sizes.push_back(0);
    }
    offset += page->size;
  }
  if (sizes.size() < 3 || packets[1].compare(0, 7, "\x03vorbis") != 0) return false;
  comment = ReadVorbisComment(std::string_view(packets[1]).substr(7));
  metadata.lengthMs = 0;
  const std::string& identification = packets[0];
  if (identification.size() < 28 || identification.compare(0, 7, "\x01vorbis") != 0) return true;
  metadata.channels = static_cast<int>(Byte(identification, 11));
  std::uint64_t sampleRate = LittleEndian(identification, 12, 4);
  metadata.sampleRate = static_cast<int>(std::min<std::uint64_t>(sampleRate, std::numeric_limits<int>::max()));
  std::uint64_t nominal = LittleEndian(identification, 20, 4);
  // The length comes from the sample position of the last page, sought in the file's tail only.
  std::uint64_t tailStart = source.Size() > kTailSearchBytes ? source.Size() - kTailSearchBytes : 0;
  std::string tail = source.Read(tailStart, static_cast<std::size_t>(source.Size() - tailStart));
  std::size_t last = tail.rfind("OggS");
  std::optional<OggPage> lastPage = last == std::string::npos ? std::nullopt : ReadOggPage(source, tailStart + last);
  if (firstGranule && lastPage && *firstGranule >= 0 && lastPage->granule >= 0 && sampleRate > 0 &&
      lastPage->granule > *firstGranule) {
    double length = static_cast<double>(lastPage->granule - *firstGranule) * 1000.0 / static_cast<double>(sampleRate);
    std::uint64_t headers = sizes[0] + sizes[1] + (sizes.size() > 3 ? sizes[2] : 0);
    double audioBytes = static_cast<double>(source.Size()) - static_cast<double>(headers);
    metadata.lengthMs = Rounded(length);
    metadata.bitrate = Rounded(audioBytes * 8.0 / length);
  }
  if (metadata.bitrate == 0 && nominal > 0) metadata.bitrate = Rounded(static_cast<double>(nominal) / 1000.0);
  return true;
}
}  // namespace

Metadata ReadMetadataBuiltIn(const std::string& windowsPath) {
  Metadata metadata;
  std::optional<platform::FileInfo> info = platform::GetFileInfo(windowsPath);
  if (!info || info->IsDirectory()) return metadata;
  metadata.fileSize = info->size;
  metadata.modified = info->lastWriteTime;
  platform::File file = platform::File::Open(windowsPath, platform::File::Mode::Read);
  if (!file.IsOpen()) return metadata;
  Source source(file);
  if (std::optional<Tags> waveTags; ReadWave(source, metadata, waveTags)) {
    if (waveTags) FillFrom(metadata, {&*waveTags});
    metadata.readable = true;
    return metadata;
  }
  if (source.Read(0, 4) == "OggS") {
    std::optional<Tags> comment;
    metadata.readable = ReadOggVorbis(source, metadata, comment);
    if (comment) FillFrom(metadata, {&*comment});
    return metadata;
  }
  std::optional<Id3v2> id3v2;
  if (std::optional<std::uint64_t> at = source.Read(0, 4) == "fLaC" ? std::nullopt : FindId3v2(source))
    id3v2 = ReadId3v2(source, *at);
  std::optional<Tags> id3v1 = ReadId3v1(source);
  std::uint64_t streamLimit = id3v1 ? source.Size() - 128 : source.Size();
  std::vector<const Tags*> tags;
  std::optional<Tags> comment;
  if (std::uint64_t start = id3v2 ? id3v2->end : 0; source.Read(start, 4) == "fLaC") {
    if (!ReadFlac(source, start, streamLimit, metadata, comment)) return metadata;
    for (const std::optional<Tags>* tag : {&comment, id3v2 ? &id3v2->tags : nullptr, &id3v1})
      if (tag && *tag) tags.push_back(&**tag);
    FillFrom(metadata, tags);
    metadata.readable = true;
    return metadata;
  }
  if (id3v2 && id3v2->tags) tags.push_back(&*id3v2->tags);
  std::optional<Ape> ape = ReadApe(source, streamLimit);
  if (ape) {
    tags.push_back(&ape->tags);
    streamLimit = ape->start;
  }
  if (id3v1) tags.push_back(&*id3v1);
  FillFrom(metadata, tags);
  bool found = ReadMpegAudio(source, id3v2 ? id3v2->end : 0, streamLimit, metadata);
  metadata.readable = found || !tags.empty();
  if (metadata.readable && !found) metadata.lengthMs = 0;  // tags without a stream
  return metadata;
}

}  // namespace host
