// libFuzzer target: the multipart upload cutter (src/http/multipart.*) and the reduction of the client's
// file name to the name stored (src/http/upload.*).
//
// Input: the first line is the request's Content-Type ("multipart/form-data; boundary=..."), the rest
// the body.
//
// Oracles: a boundary taken is 1 to 70 characters without control characters; a part cut lies inside
// the body and ends where a delimiter begins; the pattern search agrees with a plain search whatever the
// size of the pieces it reads; a file name that survives the reduction is a plain name: no "\" or "/",
// no ":", no control character or < > " | ? *, not "." or "..", no trailing dot or blank, and no device
// name (checked here by a rule of its own), and is the last component of what the client sent.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzzing.h"
#include "http/multipart.h"
#include "http/upload.h"

namespace {

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; }

// Windows reads a name as a device when the part before its first dot, without trailing blanks, is one
// of these (in any case); the port numbers also come as the Latin code page's superscript digits.
bool NamesDevice(std::string_view name) {
  std::string base(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = Upper(c);
  for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
    if (base == device) return true;
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    auto digit = static_cast<unsigned char>(base[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
  }
  return false;
}

void CheckStoredName(std::string_view client, const std::string& name) {
  QF_FUZZ_CHECK(!name.empty() && name != "." && name != "..");
  QF_FUZZ_CHECK(name.find_first_of("\\/:<>\"|?*") == std::string::npos);
  for (char c : name) QF_FUZZ_CHECK(static_cast<unsigned char>(c) >= 32 && c != 127);
  QF_FUZZ_CHECK(name.back() != '.' && name.back() != ' ');
  QF_FUZZ_CHECK(!NamesDevice(name));
  QF_FUZZ_CHECK(client.size() >= name.size() && client.substr(client.size() - name.size()) == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qffuzz::Cut input = qffuzz::FirstLine(qffuzz::Text(data, size));
  const std::string_view body = input.rest;

  // The client's name reduced on its own, from the whole first line.
  if (std::optional<std::string> name = qf::UploadFileName(input.line)) CheckStoredName(input.line, *name);

  std::optional<std::string> boundary = qf::MultipartBoundary(input.line);
  if (!boundary) return 0;
  QF_FUZZ_CHECK(!boundary->empty() && boundary->size() <= 70);
  for (char c : *boundary) QF_FUZZ_CHECK(static_cast<unsigned char>(c) >= 32 && c != 127);

  qf::TextSource source(body);
  const std::string delimiter = "\r\n--" + *boundary;
  for (std::size_t piece : {std::size_t{1}, std::size_t{7}, std::size_t{64}}) {
    std::size_t from = body.size() % 5;
    std::optional<std::uint64_t> found = qf::FindInSource(source, delimiter, from, piece);
    std::size_t plain = from <= body.size() ? body.find(delimiter, from) : std::string_view::npos;
    QF_FUZZ_CHECK(found ? plain == *found : plain == std::string_view::npos);
  }

  std::optional<qf::MultipartPart> part = qf::CutFirstPart(source, *boundary);
  if (!part) return 0;
  QF_FUZZ_CHECK(part->dataBegin <= part->dataEnd && part->dataEnd <= body.size());
  QF_FUZZ_CHECK(body.substr(part->dataEnd, delimiter.size()) == delimiter);
  if (part->hasFileName) {
    if (std::optional<std::string> name = qf::UploadFileName(part->fileName)) CheckStoredName(part->fileName, *name);
  }
  return 0;
}
