#pragma once
// Windows INI files, read whole into memory, changed there and written back in one piece.
//
// Lines end at CR LF, LF or a CR alone. Section and key names match without regard to case; values are
// trimmed of blanks; a plain
// "key=value" line yields "value" (no quote or escape rules). Lines the class does not change
// (comments, unknown sections and keys, blank lines) are written back as they were read. Writing goes
// to a new file that then replaces the old one, so a crash or a full disk never leaves a half-written
// or missing file. Not thread-safe: one instance belongs to one thread at a time.

#include <string>
#include <string_view>
#include <vector>

namespace qf {

class IniFile {
 public:
  // Reads the file at `path` (a Windows path); a missing or unreadable file reads as empty.
  explicit IniFile(std::string path);
  // An instance over `text` instead of the file's contents; UpdateFile still writes to `path`.
  IniFile(std::string path, std::string_view text);

  const std::string& Path() const { return path_; }

  std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
  // Decimal (or "$"/"0x" hexadecimal) integer; `fallback` when missing or not a number.
  int ReadInteger(std::string_view section, std::string_view key, int fallback) const;
  // True for any non-zero number; `fallback` when missing or not a number.
  bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;
  bool SectionExists(std::string_view section) const;
  bool ValueExists(std::string_view section, std::string_view key) const;
  // Key names of a section, in file order.
  std::vector<std::string> ReadSection(std::string_view section) const;
  std::vector<std::string> ReadSections() const;

  // Line breaks in keys and values are written as blanks: a value never starts a new line.
  void WriteString(std::string_view section, std::string_view key, std::string_view value);
  void WriteInteger(std::string_view section, std::string_view key, int value);
  void WriteBool(std::string_view section, std::string_view key, bool value);  // 1 or 0
  void DeleteKey(std::string_view section, std::string_view key);
  void EraseSection(std::string_view section);
  void Clear();

  // The file as it would be written, lines ended by CR LF.
  std::string Text() const;
  // Writes Text() to Path() through a replacing write; false on failure, the old file untouched.
  bool UpdateFile() const;

 private:
  // Index of the first header line of `section`, or npos.
  std::size_t FindSection(std::string_view section) const;
  // One past the last line that belongs to the section whose header is at `header`.
  std::size_t SectionEnd(std::size_t header) const;
  std::size_t FindKey(std::size_t header, std::string_view key) const;

  std::string path_;
  std::vector<std::string> lines_;
};

}  // namespace qf
