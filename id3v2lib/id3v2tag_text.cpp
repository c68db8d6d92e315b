// Id3v2Tag: the texts of frames.

#include <algorithm>

#include "id3v2tag.h"
#include "textencoding.h"

namespace qf::id3v2 {

namespace {

// How a frame holds its text.
enum class TextLayout {
  None,             // no text
  Values,           // encoding byte, values ended by terminators
  DescribedValues,  // encoding byte, description, values
  Comment,          // encoding byte, language (3 bytes), description, text
  Url,              // a Latin-1 URL
  DescribedUrl      // encoding byte, description, Latin-1 URL
};

struct LayoutRow {
  std::string_view id;
  TextLayout layout;
};

// Ids with a layout of their own, in both their ID3v2.2 and later forms; the other ids that start
// with T hold values, those that start with W a URL.
constexpr LayoutRow kLayouts[] = {
    {"TXXX", TextLayout::DescribedValues}, {"TXX", TextLayout::DescribedValues}, {"WXXX", TextLayout::DescribedUrl},
    {"WXX", TextLayout::DescribedUrl},     {"COMM", TextLayout::Comment},        {"COM", TextLayout::Comment},
    {"USLT", TextLayout::Comment},         {"ULT", TextLayout::Comment},
};

TextLayout LayoutOf(std::string_view id) {
  for (const LayoutRow& row : kLayouts) {
    if (row.id == id) return row.layout;
  }
  if (id.starts_with('T')) return TextLayout::Values;
  if (id.starts_with('W')) return TextLayout::Url;
  return TextLayout::None;
}

struct IdRow {
  std::string_view id;       // as ID3v2.3 and 2.4 name it
  std::string_view shortId;  // as ID3v2.2 names it
};

constexpr IdRow kShortIds[] = {
    {"AENC", "CRA"}, {"APIC", "PIC"}, {"COMM", "COM"}, {"EQUA", "EQU"}, {"ETCO", "ETC"}, {"GEOB", "GEO"},
    {"IPLS", "IPL"}, {"LINK", "LNK"}, {"MCDI", "MCI"}, {"MLLT", "MLL"}, {"PCNT", "CNT"}, {"POPM", "POP"},
    {"RBUF", "BUF"}, {"RVAD", "RVA"}, {"RVRB", "REV"}, {"SYLT", "SLT"}, {"SYTC", "STC"}, {"TALB", "TAL"},
    {"TBPM", "TBP"}, {"TCMP", "TCP"}, {"TCOM", "TCM"}, {"TCON", "TCO"}, {"TCOP", "TCR"}, {"TDAT", "TDA"},
    {"TDLY", "TDY"}, {"TENC", "TEN"}, {"TEXT", "TXT"}, {"TFLT", "TFT"}, {"TIME", "TIM"}, {"TIT1", "TT1"},
    {"TIT2", "TT2"}, {"TIT3", "TT3"}, {"TKEY", "TKE"}, {"TLAN", "TLA"}, {"TLEN", "TLE"}, {"TMED", "TMT"},
    {"TOAL", "TOT"}, {"TOFN", "TOF"}, {"TOLY", "TOL"}, {"TOPE", "TOA"}, {"TORY", "TOR"}, {"TPE1", "TP1"},
    {"TPE2", "TP2"}, {"TPE3", "TP3"}, {"TPE4", "TP4"}, {"TPOS", "TPA"}, {"TPUB", "TPB"}, {"TRCK", "TRK"},
    {"TRDA", "TRD"}, {"TSIZ", "TSI"}, {"TSO2", "TS2"}, {"TSOA", "TSA"}, {"TSOC", "TSC"}, {"TSOP", "TSP"},
    {"TSOT", "TST"}, {"TSRC", "TRC"}, {"TSSE", "TSS"}, {"TXXX", "TXX"}, {"TYER", "TYE"}, {"UFID", "UFI"},
    {"USLT", "ULT"}, {"WCOM", "WCM"}, {"WCOP", "WCP"}, {"WOAF", "WAF"}, {"WOAR", "WAR"}, {"WOAS", "WAS"},
    {"WPUB", "WPB"}, {"WXXX", "WXX"},
};

// The id to look for in a tag of `majorVersion`; "" when such a tag cannot hold that frame.
std::string_view StoredId(std::string_view id, int majorVersion) {
  if (majorVersion != 2 || id.size() != 4) return id;
  for (const IdRow& row : kShortIds) {
    if (row.id == id) return row.shortId;
  }
  return {};
}

std::u16string Latin1Url(Bytes bytes) {
  ByteOrder unused = ByteOrder::LittleEndian;
  return DecodeText(SplitAtTerminator(bytes, TextEncoding::Latin1).text, TextEncoding::Latin1, unused);
}

// The values of `bytes` joined by " / "; empty values, as a trailing terminator leaves, are dropped.
std::u16string JoinedValues(Bytes bytes, TextEncoding encoding, ByteOrder& utf16Order) {
  std::u16string joined;
  while (!bytes.empty()) {
    const TerminatedText value = SplitAtTerminator(bytes, encoding);
    const std::u16string text = DecodeText(value.text, encoding, utf16Order);
    if (!text.empty()) {
      if (!joined.empty()) joined += u" / ";
      joined += text;
    }
    bytes = value.rest;
  }
  return joined;
}

std::u16string TextOf(Bytes data, TextLayout layout) {
  if (layout == TextLayout::None) return {};
  if (layout == TextLayout::Url) return Latin1Url(data);
  if (data.empty()) return {};
  const std::optional<TextEncoding> encoding = TextEncodingOf(data[0]);
  if (!encoding) return {};
  Bytes rest = data.subspan(1);
  ByteOrder utf16Order = ByteOrder::LittleEndian;
  if (layout == TextLayout::Values) return JoinedValues(rest, *encoding, utf16Order);

  if (layout == TextLayout::Comment) {
    if (rest.size() < 3) return {};
    rest = rest.subspan(3);
  }
  const TerminatedText description = SplitAtTerminator(rest, *encoding);
  if (!description.terminated) return {};
  // Decoded only for its byte order mark, which a text without one follows.
  DecodeText(description.text, *encoding, utf16Order);
  rest = description.rest;
  switch (layout) {
    case TextLayout::DescribedValues:
      return JoinedValues(rest, *encoding, utf16Order);
    case TextLayout::DescribedUrl:
      return Latin1Url(rest);
    default:
      return DecodeText(SplitAtTerminator(rest, *encoding).text, *encoding, utf16Order);
  }
}

}  // namespace

std::string Id3v2Tag::AsciiText(std::string_view frameId) const {
  const std::string_view id = StoredId(frameId, majorVersion_);
  if (id.empty()) return {};
  const auto frame = std::find_if(frames_.begin(), frames_.end(), [&](const Frame& f) { return f.id == id; });
  if (frame == frames_.end()) return {};
  return ToCodePage(TextOf(frame->data, LayoutOf(id)));
}

}  // namespace qf::id3v2
