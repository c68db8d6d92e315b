// libFuzzer target: whitelist entries (src/http/access.*): dotted addresses and "low - high" ranges as
// iplist.ini and the configuration window hold them, checked against client addresses.
//
// Input: the first four bytes are a client address (missing bytes count as 0), the rest are entries, one
// a line.
//
// Oracles: an entry is an address exactly when, without its surrounding blanks, it is four decimal
// numbers from 0 to 255 joined by dots, each at most 64 digits long as every number the system reads
// (checked here by a rule of its own), and then it stands for that number; the client's address as its dotted text
// reads as its number; the whitelist admits the client exactly when an entry names its address or a range holds it
// (both ends included), as read by that rule; an empty whitelist admits nobody.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/text.h"
#include "fuzzing.h"
#include "http/access.h"

namespace {

constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;

std::string_view Blankless(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32) text.remove_suffix(1);
  return text;
}

std::optional<std::uint32_t> Dotted(std::string_view text) {
  text = Blankless(text);
  std::uint32_t value = 0;
  int parts = 0;
  std::size_t i = 0;
  for (;;) {
    std::uint32_t octet = 0;
    std::size_t digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
      octet = octet * 10 + static_cast<std::uint32_t>(text[i] - '0');
      if (octet > 255) return std::nullopt;
    }
    if (digits == 0 || digits > 64 || ++parts > 4) return std::nullopt;
    value = value << 8 | octet;
    if (i == text.size()) break;
    if (text[i++] != '.') return std::nullopt;
  }
  if (parts != 4) return std::nullopt;
  return value;
}

std::uint32_t Read(std::string_view text) { return Dotted(text).value_or(kNoAddress); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::uint32_t client = 0;
  for (std::size_t i = 0; i < 4; ++i) client = client << 8 | (i < size ? data[i] : 0u);
  const std::string dotted =
      qf::Format("%u.%u.%u.%u", client >> 24, (client >> 16) & 255, (client >> 8) & 255, client & 255);
  QF_FUZZ_CHECK(qf::DottedToNumber(dotted) == client);

  qf::TextList whitelist;
  std::string_view rest = size > 4 ? qffuzz::Text(data + 4, size - 4) : std::string_view();
  while (!rest.empty()) {
    qffuzz::Cut cut = qffuzz::FirstLine(rest);
    whitelist.emplace_back(cut.line);
    rest = cut.rest;
  }

  bool admitted = false;
  for (const std::string& entry : whitelist) {
    QF_FUZZ_CHECK(qf::DottedToNumber(entry) == Read(entry));
    std::size_t dash = entry.find('-');
    if (dash == std::string::npos) {
      admitted = admitted || Read(entry) == client;
    } else {
      std::string_view text = entry;
      admitted = admitted || (Read(text.substr(0, dash)) <= client && client <= Read(text.substr(dash + 1)));
    }
  }
  QF_FUZZ_CHECK(qf::CheckIpWhitelist(whitelist, dotted) == admitted);
  return 0;
}
