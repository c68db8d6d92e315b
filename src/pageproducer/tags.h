#pragma once
// What tag handlers work with: the tag as written, its parameters, its output, the producer, and the
// helpers every family of tags shares (errors, the common output options, sub-templates).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/text.h"
#include "pageproducer/params.h"
#include "pageproducer/producer.h"

namespace qf {

class TQuenforth;
class TPlayer;
struct SessionData;
struct UserClass;

// The common output options a tag accepts, applied in this order when given: maxlength, useslashes,
// urlencoded, htmlencoded, jsonencoded (with escape: every tag that takes escape takes htmlencoded and
// jsonencoded), escape.
enum Options : unsigned {
  kMaxLength = 1,
  kUseSlashes = 2,
  kUrlEncoded = 4,
  kEscape = 8,
  kTextOptions = kMaxLength | kUrlEncoded | kEscape,
  kPathOptions = kMaxLength | kUseSlashes | kUrlEncoded | kEscape,
};

std::string ApplyOptions(std::string text, const TagParams& params, unsigned accepted);
// An error marker, HTML- and JSON-encoded as the tag's text would be when the tag is given htmlencoded or
// jsonencoded (whatever options the tag accepts): an error must not break the attribute or the JSON
// string it stands in.
std::string EncodedLikeText(std::string error, const TagParams& params);

// What a tag writes, straight into the page being produced: its part from where the tag stands on.
// Assigning replaces that part, += adds to it; what stands before the tag is not the handler's to touch.
// (Long lists were copied once more for every level of tags they were produced under.)
class TagOutput {
 public:
  explicit TagOutput(std::string& page) : page_(page), start_(page.size()) {}
  TagOutput(const TagOutput&) = delete;
  TagOutput& operator=(std::string_view text) {
    page_.resize(start_);
    page_.append(text);
    return *this;
  }
  TagOutput& operator+=(std::string_view text) {
    page_.append(text);
    return *this;
  }
  bool empty() const { return page_.size() == start_; }
  // The page, for a child producer to add the tag's sub-template to.
  std::string& Page() { return page_; }

 private:
  std::string& page_;
  std::size_t start_;
};

struct Tag {
  TMyPageProducer& producer;
  std::string_view name;  // as written in the template
  const TagParams& params;
  TagOutput& output;  // starts empty; what the handler leaves replaces the tag

  std::string Param(std::string_view key) const { return params.Value(key); }
  bool Given(std::string_view key) const { return params.Given(key); }
  // The error marker around "<name>: <message>".
  std::string Error(std::string_view message) const;
  // Sets the output to the error marker, encoded as EncodedLikeText says.
  void Fail(std::string_view message);
  // Sets the output to `text` (which must not be part of the page) with the options the tag accepts.
  void Write(std::string_view text, unsigned accepted);

  TQuenforth& Core() const { return producer.Core; }
  TPlayer& Player() const { return producer.Player; }
  SessionData& Session() const { return producer.Session; }
  UserClass* User() const { return producer.User; }
};

// Tag names in lower case to their handlers, found by a name in any case without copying it.
struct TagNameHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view name) const;
};
struct TagNameEqual {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const { return SameText(a, b); }
};
using TagTable = std::unordered_map<std::string, TagHandler, TagNameHash, TagNameEqual>;

// The one table, built on first use from every family of tags.
const TagTable& Tags();

// Each family adds its tags.
void AddCoreTags(TagTable& table);      // include, errormessage
void AddServerTags(TagTable& table);    // time, date, uptime, versions, the user
void AddTrackTags(TagTable& table);     // the current track and the player's state
void AddPlaylistTags(TagTable& table);  // the playlist listing
void AddSkinTags(TagTable& table);      // skins and skin.ini
void AddBrowserTags(TagTable& table);   // the folder browser and the file search

// The media library's query and listing.
void AddMediaLibraryTags(TagTable& table);

// The list-template scheme of every list tag: the item template (parameter `template`) and the optional
// `empty`, `highlight` and `next` templates, files of the page folder. The item template is read once and
// one child producer makes every item; the items' values reach their tags through the session. Parameter
// `separator` (optional) is written between two items, never before the first or after the last, so that
// a list can be a JSON array or a comma-separated text.
class ListTemplates {
 public:
  explicit ListTemplates(Tag& tag) : tag_(tag), child_(tag.producer.Child()), separator_(tag.Param("separator")) {}

  // The full path of the template named by parameter `name`: the page folder and its value.
  std::string PathOf(std::string_view name) const;
  // Reads the item template. False, with the tag's output set to the error, when `template` is not given
  // or its file does not exist, or the templates nest too deep.
  bool LoadItemTemplate();
  // Appends the item template produced for the current item.
  void AppendItem();
  // Appends the template named by `name` (highlight, next) when given and present; false otherwise.
  bool AppendOptional(std::string_view name);
  // For an empty list: the `empty` template once, or nothing when it is not given; the not-found error
  // when its file is missing.
  void AppendEmpty();

 private:
  // The template named by parameter `name`; none, with the not-found error when `reportMissing`, when
  // its file does not exist.
  std::shared_ptr<const std::string> ReadTemplate(std::string_view name, bool reportMissing);
  // The separator before every item but the first.
  void BeginItem() {
    if (items_++ > 0) tag_.output += separator_;
  }

  Tag& tag_;
  TMyPageProducer child_;
  std::string separator_;
  std::shared_ptr<const std::string> item_;
  std::shared_ptr<const CompiledTemplate> compiledItem_;  // none for an item template of very many tags
  std::size_t items_ = 0;
};

}  // namespace qf
