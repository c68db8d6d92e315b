#include "medialibrary.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "core/text.h"
#include "metadata.h"
#include "platform/files.h"
#include "player/mlquery.h"

namespace host {

using qf::host::itemRecord;
using qf::host::mlQueryStruct;

namespace {

// ---- Query language: tokens, a parsed expression tree, evaluation.

enum class TokenKind { Word, Quoted, Open, Close, And, Or, Not, Operator, End };

struct Token {
  TokenKind kind;
  std::string text;
};

bool IsWordByte(char c) {
  return c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '(' && c != ')' && c != '&' && c != '|' && c != '!' &&
         c != '<' && c != '>' && c != '=' && c != '"';
}

// Splits a query into tokens; false on a quote that is never closed or a lone "&" or "|".
bool Tokenize(std::string_view text, std::vector<Token>& tokens) {
  std::size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '(' || c == ')') {
      tokens.push_back({c == '(' ? TokenKind::Open : TokenKind::Close, std::string(1, c)});
      ++i;
    } else if (c == '&' || c == '|') {
      if (i + 1 >= text.size() || text[i + 1] != c) return false;
      tokens.push_back({c == '&' ? TokenKind::And : TokenKind::Or, std::string(2, c)});
      i += 2;
    } else if (c == '"') {
      std::size_t close = text.find('"', i + 1);
      if (close == std::string_view::npos) return false;
      tokens.push_back({TokenKind::Quoted, std::string(text.substr(i + 1, close - i - 1))});
      i = close + 1;
    } else if (c == '!' && (i + 1 >= text.size() || text[i + 1] != '=')) {
      tokens.push_back({TokenKind::Not, "!"});
      ++i;
    } else if (c == '<' || c == '>' || c == '=' || c == '!') {
      std::size_t length = (i + 1 < text.size() && text[i + 1] == '=') ? 2 : 1;
      tokens.push_back({TokenKind::Operator, std::string(text.substr(i, length))});
      i += length;
    } else {
      std::size_t start = i;
      while (i < text.size() && IsWordByte(text[i])) ++i;
      std::string word(text.substr(start, i - start));
      if (qf::SameText(word, "AND"))
        tokens.push_back({TokenKind::And, word});
      else if (qf::SameText(word, "OR"))
        tokens.push_back({TokenKind::Or, word});
      else if (qf::SameText(word, "NOT"))
        tokens.push_back({TokenKind::Not, word});
      else if (qf::SameText(word, "HAS") || qf::SameText(word, "NOTHAS") || qf::SameText(word, "BEGINS") ||
               qf::SameText(word, "ENDS"))
        tokens.push_back({TokenKind::Operator, qf::UpperCase(word)});
      else
        tokens.push_back({TokenKind::Word, word});
    }
  }
  tokens.push_back({TokenKind::End, ""});
  return true;
}

using Predicate = std::function<bool(const LibraryItem&)>;

// A field's value of an item: its text, and its number for the number fields.
struct FieldValue {
  std::string text;
  std::optional<std::int64_t> number;
};

using FieldReader = FieldValue (*)(const LibraryItem&);

FieldValue Text(std::string_view text) { return {std::string(text), std::nullopt}; }
FieldValue Number(std::int64_t number) { return {std::to_string(number), number}; }

std::optional<FieldReader> FieldNamed(std::string_view name) {
  struct Field {
    const char* name;
    FieldReader read;
  };
  static const Field kFields[] = {
      {"filename", [](const LibraryItem& i) { return Text(i.filename); }},
      {"title", [](const LibraryItem& i) { return Text(i.title); }},
      {"artist", [](const LibraryItem& i) { return Text(i.artist); }},
      {"album", [](const LibraryItem& i) { return Text(i.album); }},
      {"genre", [](const LibraryItem& i) { return Text(i.genre); }},
      {"comment", [](const LibraryItem& i) { return Text(i.comment); }},
      {"year", [](const LibraryItem& i) { return Number(i.year); }},
      {"track", [](const LibraryItem& i) { return Number(i.track); }},
      {"length", [](const LibraryItem& i) { return Number(i.length); }},
      {"filesize", [](const LibraryItem& i) { return Number(i.fileSize / 1024); }},
      {"playcount", [](const LibraryItem& i) { return Number(i.playCount); }},
      {"rating", [](const LibraryItem& i) { return Number(i.rating); }},
      {"lastplay", [](const LibraryItem& i) { return Number(i.lastPlayed); }},
      {"type", [](const LibraryItem& i) { return Number(i.type); }},
  };
  for (const Field& field : kFields)
    if (qf::SameText(name, field.name)) return field.read;
  return std::nullopt;
}

std::optional<std::int64_t> ParseNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (*end != '\0') return std::nullopt;
  return value;
}

bool Compare(const FieldValue& field, const std::string& op, const std::string& value) {
  if (op == "HAS") return qf::ContainsText(field.text, value);
  if (op == "NOTHAS") return !qf::ContainsText(field.text, value);
  if (op == "BEGINS") return qf::StartsText(field.text, value);
  if (op == "ENDS") return qf::EndsText(field.text, value);
  int order;
  if (field.number) {
    std::optional<std::int64_t> number = ParseNumber(value);
    if (!number) return op == "!=";
    order = *field.number < *number ? -1 : (*field.number > *number ? 1 : 0);
  } else {
    order = qf::CompareText(field.text, value);
  }
  if (op == "=" || op == "==") return order == 0;
  if (op == "!=") return order != 0;
  if (op == "<") return order < 0;
  if (op == "<=") return order <= 0;
  if (op == ">") return order > 0;
  return order >= 0;  // ">="
}

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : tokens_(std::move(tokens)) {}

  // The whole query, or nothing when it does not parse.
  std::optional<Predicate> Parse() {
    if (Peek().kind == TokenKind::End) return Predicate([](const LibraryItem&) { return true; });
    std::optional<Predicate> expression = Or();
    if (!expression || Peek().kind != TokenKind::End) return std::nullopt;
    return expression;
  }

 private:
  const Token& Peek() const { return tokens_[position_]; }
  const Token& Take() { return tokens_[position_ < tokens_.size() - 1 ? position_++ : position_]; }

  std::optional<Predicate> Or() {
    std::optional<Predicate> left = And();
    while (left && Peek().kind == TokenKind::Or) {
      Take();
      std::optional<Predicate> right = And();
      if (!right) return std::nullopt;
      left = [a = *left, b = *right](const LibraryItem& item) { return a(item) || b(item); };
    }
    return left;
  }

  std::optional<Predicate> And() {
    std::optional<Predicate> left = Not();
    while (left && Peek().kind == TokenKind::And) {
      Take();
      // "type = 0 && " (a base query with nothing after it) means the base query alone.
      if (Peek().kind == TokenKind::End || Peek().kind == TokenKind::Close) break;
      std::optional<Predicate> right = Not();
      if (!right) return std::nullopt;
      left = [a = *left, b = *right](const LibraryItem& item) { return a(item) && b(item); };
    }
    return left;
  }

  std::optional<Predicate> Not() {
    if (Peek().kind == TokenKind::Not) {
      Take();
      std::optional<Predicate> inner = Not();
      if (!inner) return std::nullopt;
      return Predicate([a = *inner](const LibraryItem& item) { return !a(item); });
    }
    return Primary();
  }

  std::optional<Predicate> Primary() {
    if (Peek().kind == TokenKind::Open) {
      Take();
      std::optional<Predicate> inner = Or();
      if (!inner || Take().kind != TokenKind::Close) return std::nullopt;
      return inner;
    }
    const Token& field = Take();
    if (field.kind != TokenKind::Word) return std::nullopt;
    std::optional<FieldReader> reader = FieldNamed(field.text);
    if (!reader) return std::nullopt;
    const Token& op = Take();
    if (op.kind != TokenKind::Operator) return std::nullopt;
    const Token& value = Take();
    if (value.kind != TokenKind::Word && value.kind != TokenKind::Quoted) return std::nullopt;
    return Predicate([read = *reader, op = op.text, text = value.text](const LibraryItem& item) {
      return Compare(read(item), op, text);
    });
  }

  std::vector<Token> tokens_;
  std::size_t position_ = 0;
};

// ---- Result records.

// The extended fields of an item as the player's library hands them out, unset ones left out: names and
// their numbers.
struct ExtendedFields {
  struct Field {
    std::string_view name;  // a literal: its length is known without counting it for every record
    std::int64_t value;
  };
  Field fields[4];
  int count = 0;

  explicit ExtendedFields(const LibraryItem& item) {
    fields[count++] = {"FILESIZE", item.fileSize / 1024};
    if (item.playCount > 0) fields[count++] = {"PLAYCOUNT", item.playCount};
    if (item.rating > 0) fields[count++] = {"RATING", item.rating};
    if (item.lastPlayed > 0) fields[count++] = {"LASTPLAY", item.lastPlayed};
  }
};

// The texts of the result records, written one after the other into their block.
class TextWriter {
 public:
  explicit TextWriter(char* at) : at_(at) {}
  char* Text(std::string_view text) {
    char* start = at_;
    if (!text.empty()) std::memcpy(at_, text.data(), text.size());
    at_ += text.size();
    *at_++ = '\0';
    return start;
  }
  // "NAME", a NUL byte and the value.
  char* Pair(std::string_view name, std::int64_t value) {
    char* start = at_;
    std::memcpy(at_, name.data(), name.size());
    at_ += name.size();
    *at_++ = '\0';
    at_ = std::to_chars(at_, at_ + 20, value).ptr;
    *at_++ = '\0';
    return start;
  }

 private:
  char* at_;
};

std::size_t DigitsOf(std::int64_t value) {
  char digits[24];
  return static_cast<std::size_t>(std::to_chars(digits, digits + sizeof digits, value).ptr - digits);
}

std::optional<std::int64_t> Extended(const itemRecord& record, std::string_view name) {
  std::optional<std::string> value = qf::MediaLibraryQuery::Extended(record, name);
  return value ? ParseNumber(*value) : std::nullopt;
}

}  // namespace

void MediaLibrary::Scan(const std::vector<std::string>& folders, const std::vector<std::string>& extensions,
                        const MetadataReader& read) {
  std::vector<std::string> pending;
  for (const std::string& folder : folders) {
    if (!platform::FileExists(folder)) {
      pending.push_back(folder);
    } else if (std::optional<std::string> description = platform::ReadWholeFile(folder)) {
      Load(*description);
    }
  }
  while (!pending.empty()) {
    std::string folder = std::move(pending.back());
    pending.pop_back();
    for (const platform::FindData& entry : platform::FindFiles(folder + "\\*")) {
      if (entry.name == "." || entry.name == "..") continue;
      std::string path = folder + "\\" + entry.name;
      if (entry.info.IsDirectory()) {
        pending.push_back(path);
        continue;
      }
      std::size_t dot = entry.name.rfind('.');
      std::string extension = dot == std::string::npos ? "" : entry.name.substr(dot + 1);
      if (std::none_of(extensions.begin(), extensions.end(),
                       [&](const std::string& known) { return qf::SameText(known, extension); }))
        continue;
      const Metadata& metadata = read(path);
      const std::string title = metadata.title.empty() ? DisplayTitle(path, metadata) : metadata.title;
      LibraryItem item;
      item.filename = path;
      item.title = title;
      item.artist = metadata.artist;
      item.album = metadata.album;
      item.genre = metadata.genre;
      item.comment = metadata.comment;
      item.year = metadata.year > 0 ? metadata.year : -1;
      item.track = metadata.track > 0 ? metadata.track : -1;
      item.length = metadata.LengthSeconds();
      item.fileSize = static_cast<std::int64_t>(entry.info.size);
      Keep(item);
      items_.push_back(item);
    }
  }
  std::sort(items_.begin(), items_.end(),
            [](const LibraryItem& a, const LibraryItem& b) { return qf::CompareText(a.filename, b.filename) < 0; });
  items_.shrink_to_fit();
  Compact();
  foldedStale_ = true;
}

void MediaLibrary::Add(LibraryItem item) {
  Keep(item);
  items_.push_back(item);
  foldedStale_ = true;
}

std::string_view MediaLibrary::TextStore::Copy(std::string_view text) {
  if (text.empty()) return "";  // a view of a literal, not of null: memcpy may be given its data
  char* at;
  if (text.size() > kBlock / 4) {
    auto block = std::make_unique<char[]>(text.size());
    at = block.get();
    // A long text has a block of its own, ahead of the last one, whose room stays in use.
    blocks_.insert(blocks_.empty() ? blocks_.end() : blocks_.end() - 1, std::move(block));
  } else {
    if (free_ < text.size()) {
      blocks_.push_back(std::make_unique<char[]>(kBlock));
      free_ = kBlock;
    }
    at = blocks_.back().get() + (kBlock - free_);
    free_ -= text.size();
  }
  std::memcpy(at, text.data(), text.size());
  bytes_ += text.size();
  return {at, text.size()};
}

void MediaLibrary::Keep(LibraryItem& item) {
  for (LibraryText* text : {&item.filename, &item.title, &item.artist, &item.album, &item.genre, &item.comment})
    *text = texts_.Copy(*text);
}

void MediaLibrary::Replace(LibraryText& field, const char* text) {
  replacedBytes_ += field.size();
  field = texts_.Copy(text);
  if (replacedBytes_ > 1024 * 1024 && replacedBytes_ > texts_.Bytes() / 2) Compact();
}

void MediaLibrary::Compact() {
  TextStore old = std::move(texts_);  // the items' texts until they are copied
  for (LibraryItem& item : items_) Keep(item);
  replacedBytes_ = 0;
}

namespace {

// Sets one field of a described record; false for a name the description does not know.
bool SetField(LibraryItem& item, std::string_view name, std::string_view value) {
  struct TextField {
    const char* name;
    LibraryText LibraryItem::*field;
  };
  static const TextField kTexts[] = {
      {"filename", &LibraryItem::filename}, {"title", &LibraryItem::title}, {"artist", &LibraryItem::artist},
      {"album", &LibraryItem::album},       {"genre", &LibraryItem::genre}, {"comment", &LibraryItem::comment},
  };
  struct NumberField {
    const char* name;
    void (*set)(LibraryItem&, std::int64_t);
  };
  static const NumberField kNumbers[] = {
      {"year", [](LibraryItem& i, std::int64_t v) { i.year = static_cast<int>(v); }},
      {"track", [](LibraryItem& i, std::int64_t v) { i.track = static_cast<int>(v); }},
      {"length", [](LibraryItem& i, std::int64_t v) { i.length = static_cast<int>(v); }},
      {"filesize", [](LibraryItem& i, std::int64_t v) { i.fileSize = v * 1024; }},
      {"playcount", [](LibraryItem& i, std::int64_t v) { i.playCount = static_cast<int>(v); }},
      {"rating", [](LibraryItem& i, std::int64_t v) { i.rating = static_cast<int>(v); }},
      {"lastplay", [](LibraryItem& i, std::int64_t v) { i.lastPlayed = v; }},
      {"type", [](LibraryItem& i, std::int64_t v) { i.type = static_cast<int>(v); }},
  };
  for (const TextField& text : kTexts)
    if (qf::SameText(name, text.name)) {
      item.*text.field = value;
      return true;
    }
  for (const NumberField& number : kNumbers)
    if (qf::SameText(name, number.name)) {
      // The result records carry 32-bit numbers (the size in KB).
      if (std::optional<std::int64_t> parsed = ParseNumber(std::string(value));
          parsed && *parsed >= INT32_MIN && *parsed <= INT32_MAX)
        number.set(item, *parsed);
      return true;
    }
  return false;
}

}  // namespace

std::size_t MediaLibrary::Load(std::string_view description) {
  std::size_t added = 0;
  std::size_t start = 0;
  while (start < description.size()) {
    std::size_t end = description.find('\n', start);
    if (end == std::string_view::npos) end = description.size();
    std::string_view line = description.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    LibraryItem item;
    std::size_t from = 0;
    while (from <= line.size()) {
      std::size_t tab = line.find('\t', from);
      if (tab == std::string_view::npos) tab = line.size();
      std::string_view field = line.substr(from, tab - from);
      from = tab + 1;
      std::size_t equals = field.find('=');
      if (equals != std::string_view::npos) SetField(item, field.substr(0, equals), field.substr(equals + 1));
    }
    if (item.filename.empty()) continue;
    Keep(item);  // its texts lie in the description until then
    items_.push_back(item);
    ++added;
  }
  foldedStale_ = true;
  return added;
}

const LibraryItem* MediaLibrary::FindItem(std::string_view filename) const {
  for (const LibraryItem& item : items_)
    if (qf::SameText(item.filename, filename)) return &item;
  return nullptr;
}

LibraryItem* MediaLibrary::Find(std::string_view filename) {
  foldedStale_ = true;  // the caller may change the item
  return const_cast<LibraryItem*>(FindItem(filename));
}

void MediaLibrary::CountPlay(std::string_view filename, std::int64_t now) {
  if (LibraryItem* item = Find(filename)) {
    ++item->playCount;
    item->lastPlayed = now;
  }
}

std::vector<const LibraryItem*> MediaLibrary::Search(std::string_view text) const {
  std::vector<const LibraryItem*> found;
  if (text.find('\0') != std::string_view::npos) {  // it could match across two fields of the folded text
    for (const LibraryItem& item : items_) {
      if (qf::ContainsText(item.filename, text) || qf::ContainsText(item.title, text) ||
          qf::ContainsText(item.artist, text) || qf::ContainsText(item.album, text) ||
          qf::ContainsText(item.genre, text))
        found.push_back(&item);
    }
    return found;
  }
  if (foldedStale_ || folded_.size() != items_.size()) {
    folded_ = qf::PackedTextList();
    std::string folded;
    for (const LibraryItem& item : items_) {
      folded.clear();
      for (const LibraryText* field : {&item.filename, &item.title, &item.artist, &item.album, &item.genre}) {
        folded += qf::LowerCase(*field);
        folded += '\0';
      }
      folded_.push_back(folded);
    }
    folded_.shrink_to_fit();
    foldedStale_ = false;
  }
  const std::string needle = qf::LowerCase(text);
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (folded_[i].find(needle) != std::string_view::npos) found.push_back(&items_[i]);
  return found;
}

std::optional<std::vector<const LibraryItem*>> MediaLibrary::Query(std::string_view query) const {
  std::vector<Token> tokens;
  if (!Tokenize(query, tokens)) return std::nullopt;
  std::optional<Predicate> predicate = Parser(std::move(tokens)).Parse();
  if (!predicate) return std::nullopt;
  std::vector<const LibraryItem*> found;
  for (const LibraryItem& item : items_)
    if ((*predicate)(item)) found.push_back(&item);
  return found;
}

// One block holds the records, the tables of their extended fields and all their texts: a result set of
// the whole library is one allocation and one free instead of ten of each for every record.
void MediaLibrary::Fill(mlQueryStruct& query, const std::vector<const LibraryItem*>& items) {
  std::size_t count = std::min<std::size_t>(items.size(), query.max_results > 0 ? query.max_results : items.size());
  query.results = qf::host::itemRecordList{nullptr, 0, 0};
  if (count == 0) return;
  std::size_t slots = 0, textBytes = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const LibraryItem& item = *items[i];
    for (const LibraryText* text : {&item.filename, &item.title, &item.album, &item.artist, &item.comment, &item.genre})
      textBytes += text->size() + 1;
    ExtendedFields extended(item);
    for (int f = 0; f < extended.count; ++f)
      textBytes += extended.fields[f].name.size() + 1 + DigitsOf(extended.fields[f].value) + 1;
    slots += static_cast<std::size_t>(extended.count) + 1;
  }
  char* block = static_cast<char*>(std::malloc(count * sizeof(itemRecord) + slots * sizeof(char*) + textBytes));
  if (block == nullptr) throw std::bad_alloc();
  auto* records = reinterpret_cast<itemRecord*>(block);
  auto* slot = reinterpret_cast<char**>(block + count * sizeof(itemRecord));
  TextWriter texts(reinterpret_cast<char*>(slot + slots));
  constexpr std::size_t kAhead = 8;  // items whose texts are asked for before they are copied
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kAhead < count) {
      // An item's texts lie together, in the items' order, but the results of a narrow query lie far
      // apart: without asking for them early, the copy waits on memory at every item.
      const LibraryItem& later = *items[i + kAhead];
      __builtin_prefetch(&later);
      __builtin_prefetch(later.filename.data());
    }
    const LibraryItem& item = *items[i];
    itemRecord& record = records[i];
    record.filename = texts.Text(item.filename);
    record.title = texts.Text(item.title);
    record.album = texts.Text(item.album);
    record.artist = texts.Text(item.artist);
    record.comment = texts.Text(item.comment);
    record.genre = texts.Text(item.genre);
    record.year = item.year;
    record.track = item.track;
    record.length = item.length;
    record.extended_info = slot;
    ExtendedFields extended(item);
    for (int f = 0; f < extended.count; ++f) *slot++ = texts.Pair(extended.fields[f].name, extended.fields[f].value);
    *slot++ = nullptr;
  }
  query.results = qf::host::itemRecordList{records, static_cast<int>(count), static_cast<int>(count)};
}

void MediaLibrary::Release(mlQueryStruct& query) {
  std::free(query.results.Items);  // the block Fill made
  query.results = qf::host::itemRecordList{nullptr, 0, 0};
}

bool MediaLibrary::Update(const itemRecord& record) {
  if (!record.filename) return false;
  LibraryItem* item = Find(record.filename);
  if (!item) return false;
  if (record.title) Replace(item->title, record.title);
  if (record.album) Replace(item->album, record.album);
  if (record.artist) Replace(item->artist, record.artist);
  if (record.comment) Replace(item->comment, record.comment);
  if (record.genre) Replace(item->genre, record.genre);
  if (record.year > 0) item->year = record.year;
  if (record.track > 0) item->track = record.track;
  if (record.length > 0) item->length = record.length;
  if (std::optional<std::int64_t> rating = Extended(record, "RATING"))
    item->rating = static_cast<int>(std::clamp<std::int64_t>(*rating, 0, 5));
  if (std::optional<std::int64_t> plays = Extended(record, "PLAYCOUNT")) item->playCount = static_cast<int>(*plays);
  if (std::optional<std::int64_t> last = Extended(record, "LASTPLAY")) item->lastPlayed = *last;
  return true;
}

}  // namespace host
