#include "core/inifile.h"

#include "core/text.h"
#include "platform/files.h"

namespace qf {
namespace {

constexpr std::size_t npos = std::string::npos;

bool IsSectionHeader(std::string_view line, std::string_view* name) {
  std::string_view trimmed = Trim(line);
  if (trimmed.empty() || trimmed[0] != '[') return false;
  std::size_t close = trimmed.rfind(']');
  std::string_view inside =
      close == std::string_view::npos || close == 0 ? trimmed.substr(1) : trimmed.substr(1, close - 1);
  if (name) *name = Trim(inside);
  return true;
}

bool IsComment(std::string_view line) {
  std::string_view trimmed = TrimLeft(line);
  return !trimmed.empty() && (trimmed[0] == ';' || trimmed[0] == '#');
}

// The key and value of a "key=value" line; false for blank, comment, header and other lines.
bool SplitKeyLine(std::string_view line, std::string_view* key, std::string_view* value) {
  if (IsComment(line) || IsSectionHeader(line, nullptr)) return false;
  std::size_t equals = line.find('=');
  if (equals == std::string_view::npos) return false;
  *key = Trim(line.substr(0, equals));
  *value = Trim(line.substr(equals + 1));
  return !key->empty();
}

std::string OneLine(std::string_view text) {
  std::string result(text);
  for (char& c : result)
    if (c == '\r' || c == '\n') c = ' ';
  return result;
}

// Lines end at CR LF, at LF and at a CR alone, as text editors read them: no name or value read ever holds
// a line break, so writing back what was read writes the same lines.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    lines.emplace_back(text.substr(start, end - start));
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

}  // namespace

IniFile::IniFile(std::string path) : path_(std::move(path)) {
  if (std::optional<std::string> text = platform::ReadWholeFile(path_)) lines_ = SplitLines(*text);
}

IniFile::IniFile(std::string path, std::string_view text) : path_(std::move(path)), lines_(SplitLines(text)) {}

std::size_t IniFile::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string_view name;
    if (IsSectionHeader(lines_[i], &name) && SameText(name, Trim(section))) return i;
  }
  return npos;
}

std::size_t IniFile::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && !IsSectionHeader(lines_[i], nullptr)) ++i;
  return i;
}

std::size_t IniFile::FindKey(std::size_t header, std::string_view key) const {
  std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    std::string_view name, value;
    if (SplitKeyLine(lines_[i], &name, &value) && SameText(name, Trim(key))) return i;
  }
  return npos;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const {
  std::size_t header = FindSection(section);
  if (header == npos) return std::string(fallback);
  std::size_t line = FindKey(header, key);
  if (line == npos) return std::string(fallback);
  std::string_view name, value;
  SplitKeyLine(lines_[line], &name, &value);
  return std::string(value);
}

int IniFile::ReadInteger(std::string_view section, std::string_view key, int fallback) const {
  return ParseIntOrHex(ReadString(section, key, "")).value_or(fallback);
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const {
  return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

bool IniFile::SectionExists(std::string_view section) const { return FindSection(section) != npos; }

bool IniFile::ValueExists(std::string_view section, std::string_view key) const {
  std::size_t header = FindSection(section);
  return header != npos && FindKey(header, key) != npos;
}

std::vector<std::string> IniFile::ReadSection(std::string_view section) const {
  std::vector<std::string> keys;
  std::size_t header = FindSection(section);
  if (header == npos) return keys;
  std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    std::string_view name, value;
    if (SplitKeyLine(lines_[i], &name, &value)) keys.emplace_back(name);
  }
  return keys;
}

std::vector<std::string> IniFile::ReadSections() const {
  std::vector<std::string> sections;
  for (const std::string& line : lines_) {
    std::string_view name;
    if (IsSectionHeader(line, &name)) sections.emplace_back(name);
  }
  return sections;
}

void IniFile::WriteString(std::string_view section, std::string_view key, std::string_view value) {
  std::string keyText = OneLine(Trim(key));
  std::string line = keyText + "=" + OneLine(value);
  std::size_t header = FindSection(section);
  if (header == npos) {
    if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
    lines_.push_back("[" + OneLine(Trim(section)) + "]");
    lines_.push_back(std::move(line));
    return;
  }
  std::size_t existing = FindKey(header, keyText);
  if (existing != npos) {
    lines_[existing] = std::move(line);
    return;
  }
  // New keys go after the section's last non-blank line, so blank separators stay where they were.
  std::size_t insert = SectionEnd(header);
  while (insert > header + 1 && Trim(lines_[insert - 1]).empty()) --insert;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insert), std::move(line));
}

void IniFile::WriteInteger(std::string_view section, std::string_view key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  WriteString(section, key, value ? "1" : "0");
}

void IniFile::DeleteKey(std::string_view section, std::string_view key) {
  std::size_t header = FindSection(section);
  if (header == npos) return;
  std::size_t line = FindKey(header, key);
  if (line != npos) lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(line));
}

void IniFile::EraseSection(std::string_view section) {
  for (std::size_t header = FindSection(section); header != npos; header = FindSection(section))
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(header),
                 lines_.begin() + static_cast<std::ptrdiff_t>(SectionEnd(header)));
}

void IniFile::Clear() { lines_.clear(); }

std::string IniFile::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool IniFile::UpdateFile() const { return platform::WriteFileReplacing(path_, Text()); }

}  // namespace qf
