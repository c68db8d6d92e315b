#include "pageproducer/producer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <utility>

#include "core/inifile.h"
#include "core/pathrules.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "core/text.h"
#include "pageproducer/tags.h"
#include "platform/files.h"
#include "player/id3v2library.h"

namespace qf {
namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }
bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameByte(char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); }

// The end of a tag's parameter text: the first ">" outside quotes, or the end of the input.
std::size_t ParameterEnd(std::string_view text, std::size_t from) {
  char quote = 0;
  for (std::size_t i = from; i < text.size(); ++i) {
    char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '>') {
      return i;
    }
  }
  return text.size();
}

}  // namespace

std::string ErrorMarker(std::string_view message) {
  return "<font color=\"ff0000\">" + std::string(message) + "</font>";
}

std::string TMyPageProducer::Produce(std::string_view text, std::size_t room) {
  std::string out;
  out.reserve(std::max(text.size() + text.size() / 4, room));
  ProduceInto(text, out);
  return out;
}

void TMyPageProducer::ProduceInto(std::string_view text, std::string& out) {
  ProduceTemplate(text, out);
  Finish(out);
}

TMyPageProducer::Production::Production(TQuenforth& core) : shuttingDown(core.ShuttingDown) {}

std::shared_ptr<const void> TMyPageProducer::Charge() const { return production_->charge; }

std::size_t TMyPageProducer::SpendBeyondReserve(std::size_t bytes) {
  std::size_t allowed = std::min(bytes, kMaxPageBytes - production_->bytes);
  if (allowed > 0) {
    if (!production_->charge) production_->charge = Core.PageBytes.Open();
    allowed = production_->charge->Take(allowed);
  }
  production_->bytes += allowed;
  if (allowed < bytes) production_->tooLarge = production_->stopped = true;
  return allowed;
}

bool TMyPageProducer::CountTag() {
  if (++production_->tags > kMaxTags) production_->tooLarge = production_->stopped = true;
  return !Stopped();
}

bool TMyPageProducer::FirstPlaylistRead() { return !std::exchange(production_->playlistRead, true); }

const TID3v2Library& TMyPageProducer::TagLibrary(const std::string& folder) {
  std::shared_ptr<const TID3v2Library>& library = production_->tagLibraries[folder];
  if (!library) {
    library = TakeTagLibrary(Core.TagLibrary, folder);
    if (!library) library = std::make_shared<TID3v2Library>();  // not loaded: the tag says so
  }
  return *library;
}

const std::string& TMyPageProducer::ItemKey() {
  Production& p = *production_;
  if (!p.keyed || p.keyedPath != Session.ItemPath) {
    p.itemKey = Core.CrcKey(Session.ItemPath);
    p.keyedPath = Session.ItemPath;
    p.keyed = true;
  }
  return p.itemKey;
}

std::optional<std::string> TMyPageProducer::OwnerOf(const std::string& key) {
  Production& p = *production_;
  if (!p.ownersIndexed) {
    Snapshot<TextList> lines = Core.TrackOwners.Get();
    for (const std::string& line : *lines) {
      std::size_t equals = line.find('=');
      if (equals != std::string::npos) p.owners.emplace(UpperCase(line.substr(0, equals)), line.substr(equals + 1));
    }
    p.ownersIndexed = true;
  }
  auto found = p.owners.find(UpperCase(key));
  if (found == p.owners.end()) return std::nullopt;
  return found->second;
}

const IniFile& TMyPageProducer::SkinIni() {
  std::string path = SkinFolder() + "skin.ini";
  std::shared_ptr<IniFile>& ini = production_->iniFiles[path];
  if (!ini) ini = std::make_shared<IniFile>(path);
  return *ini;
}

TemplateStep NextTemplateStep(std::string_view text, std::size_t& at) {
  TemplateStep step;
  const void* found = std::memchr(text.data() + at, '<', text.size() - at);
  if (!found) {
    step.text = text.substr(at);
    at = text.size();
    return step;
  }
  std::size_t open = static_cast<std::size_t>(static_cast<const char*>(found) - text.data());
  std::size_t next = open + 1;
  while (next < text.size() && IsBlank(text[next])) ++next;
  if (next >= text.size() || text[next] != '#') {
    // Not a tag: the "<" stays, the blanks after it go ("a < b" becomes "a <b").
    step.text = text.substr(at, open + 1 - at);
    at = next;
    return step;
  }
  step.text = text.substr(at, open - at);
  std::size_t nameStart = next + 1;
  while (nameStart < text.size() && IsBlank(text[nameStart])) ++nameStart;
  std::size_t nameEnd = nameStart;
  if (nameEnd < text.size() && IsNameStart(text[nameEnd])) {
    while (nameEnd < text.size() && IsNameByte(text[nameEnd])) ++nameEnd;
  } else if (nameEnd < text.size()) {
    ++nameEnd;  // any other character is a name of its own
  }
  std::size_t close = ParameterEnd(text, nameEnd);
  step.tag = true;
  step.name = text.substr(nameStart, nameEnd - nameStart);
  step.parameters = Trim(text.substr(nameEnd, close - nameEnd));
  at = close < text.size() ? close + 1 : text.size();
  return step;
}

namespace {

// A tag's parameters as its handler sees them: split, decoded, and "&gt;" and "&lt;" made ">" and "<"
// again (an editor may have written them so inside an attribute). Throws TemplateError.
TagParams TagParameters(std::string_view text) {
  TagParams params = TagParams::Split(text);
  const std::vector<std::string>& split = params.Entries();
  if (std::none_of(split.begin(), split.end(), [](const std::string& e) { return e.find('&') != e.npos; }))
    return params;
  std::vector<std::string> entries = split;
  for (std::string& entry : entries)
    entry = ReplaceAll(ReplaceAll(entry, "&gt;", ">", Matching::IgnoreCase), "&lt;", "<", Matching::IgnoreCase);
  return TagParams(std::move(entries));
}

TagHandler HandlerOf(std::string_view name) {
  const TagTable& table = Tags();
  auto handler = table.find(name);
  return handler == table.end() ? nullptr : handler->second;
}

}  // namespace

std::optional<CompiledTemplate> CompiledTemplate::Compile(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  CompiledTemplate compiled;
  std::size_t at = 0;
  std::size_t tags = 0;
  while (at < text.size()) {
    TemplateStep step = NextTemplateStep(text, at);
    if (!step.text.empty()) {
      if (compiled.pieces_.empty() || compiled.pieces_.back().tag) compiled.pieces_.emplace_back();
      compiled.pieces_.back().text.append(step.text);
    }
    if (!step.tag) continue;
    if (++tags > kMaxTags) return std::nullopt;
    Piece piece;
    piece.text = step.name;
    piece.tag = true;
    try {
      piece.params = TagParameters(step.parameters);
    } catch (const TemplateError& error) {
      piece.error = error.what();
    }
    piece.handler = HandlerOf(step.name);
    compiled.pieces_.push_back(std::move(piece));
  }
  return compiled;
}

namespace {

// The compiled skin texts, by the texts' identity: an entry holds while its text lives, which the entry
// does not prolong. The texts are the skin-text cache's, so that few live at once; what the entries may
// hold together is bounded all the same.
class CompiledTexts {
 public:
  std::shared_ptr<const CompiledTemplate> Find(const std::shared_ptr<const std::string>& text) {
    std::lock_guard guard(lock_);
    auto found = entries_.find(text.get());
    if (found == entries_.end() || found->second.text.lock() != text) return nullptr;
    return found->second.compiled;
  }

  void Keep(const std::shared_ptr<const std::string>& text, std::shared_ptr<const CompiledTemplate> compiled) {
    std::size_t cost = CostOf(*text, *compiled);
    if (cost > kMaxCost / 4) return;
    std::lock_guard guard(lock_);
    // The entries of texts that are gone go first (this one's address may be such a text's): a text the
    // skin-text cache does not keep is a new one for every page, and so is its entry.
    std::erase_if(entries_, [](const auto& entry) { return entry.second.text.expired(); });
    if (entries_.contains(text.get())) return;  // another page compiled the same text meanwhile
    cost_ = 0;
    for (const auto& [key, entry] : entries_) cost_ += entry.cost;
    if (cost_ + cost > kMaxCost) {
      entries_.clear();
      cost_ = 0;
    }
    entries_.emplace(text.get(), Entry{text, std::move(compiled), cost});
    cost_ += cost;
  }

 private:
  // About what a compiled template takes: its texts, and its pieces with their parameters.
  static std::size_t CostOf(const std::string& text, const CompiledTemplate& compiled) {
    return text.size() + 256 * compiled.Pieces();
  }
  static constexpr std::size_t kMaxCost = 1024 * 1024;

  struct Entry {
    std::weak_ptr<const std::string> text;
    std::shared_ptr<const CompiledTemplate> compiled;
    std::size_t cost;
  };
  std::mutex lock_;
  std::unordered_map<const std::string*, Entry> entries_;  // guarded by lock_
  std::size_t cost_ = 0;                                   // guarded by lock_
};

// Destroyed with the plug-in's other statics when it is unloaded (the server's threads have ended by
// then): a plug-in loaded and unloaded again must leave nothing behind.
CompiledTexts& TheCompiledTexts() {
  static CompiledTexts texts;
  return texts;
}

}  // namespace

std::shared_ptr<const CompiledTemplate> CompiledTemplate::Of(const std::shared_ptr<const std::string>& text) {
  if (!text) return nullptr;
  CompiledTexts& texts = TheCompiledTexts();
  if (std::shared_ptr<const CompiledTemplate> kept = texts.Find(text)) return kept;
  std::optional<CompiledTemplate> compiled = Compile(*text);
  if (!compiled) return nullptr;
  auto shared = std::make_shared<const CompiledTemplate>(std::move(*compiled));
  texts.Keep(text, shared);
  return shared;
}

std::string TMyPageProducer::Produce(const std::shared_ptr<const std::string>& text, std::size_t room) {
  std::shared_ptr<const CompiledTemplate> compiled = CompiledTemplate::Of(text);
  if (!compiled) return Produce(*text, room);
  std::string out;
  out.reserve(std::max(text->size() + text->size() / 4, room));
  ProduceInto(*compiled, out);
  return out;
}

void TMyPageProducer::ProduceInto(const std::shared_ptr<const std::string>& text, std::string& out) {
  if (std::shared_ptr<const CompiledTemplate> compiled = CompiledTemplate::Of(text))
    ProduceInto(*compiled, out);
  else
    ProduceInto(*text, out);
}

std::string TMyPageProducer::Produce(const CompiledTemplate& compiled) {
  std::string out;
  ProduceInto(compiled, out);
  return out;
}

void TMyPageProducer::ProduceInto(const CompiledTemplate& compiled, std::string& out) {
  for (const CompiledTemplate::Piece& piece : compiled.pieces_) {
    if (Stopped()) break;
    if (!piece.tag) {
      if (!Emit(out, piece.text)) break;
      continue;
    }
    if (!CountTag()) break;
    if (piece.error) throw TemplateError(*piece.error);
    RunTag(piece.handler, piece.text, piece.params, out);
  }
  Finish(out);
}

void TMyPageProducer::Finish(std::string& out) {
  if (depth_ > 0) return;
  if (production_->tooLarge) out += ErrorMarker("page too large");
  if (production_->charge) production_->charge->ReturnUnused();
}

void TMyPageProducer::ProduceTemplate(std::string_view text, std::string& out) {
  text = text.substr(0, text.find('\0'));  // a NUL byte ends the template
  std::size_t at = 0;
  while (at < text.size()) {
    if (Stopped()) return;
    TemplateStep step = NextTemplateStep(text, at);
    if (!Emit(out, step.text)) return;
    if (!step.tag) continue;
    if (!CountTag()) return;
    TagParams params = TagParameters(step.parameters);  // a decoding error fails this template
    RunTag(HandlerOf(step.name), step.name, params, out);
  }
}

void TMyPageProducer::RunTag(TagHandler handler, std::string_view name, const TagParams& params, std::string& out) {
  // What children produce for the tag is counted by them; only what the tag adds on top counts here.
  std::size_t outBefore = out.size(), spentBefore = production_->bytes;
  if (!handler) {
    out += EncodedLikeText(ErrorMarker(name), params);
  } else {
    TagOutput output(out);
    Tag tag{*this, name, params, output};
    try {
      handler(tag);
    } catch (...) {
      // A failure ends this tag only: what it had written so far stands.
    }
  }
  std::size_t added = out.size() - outBefore, byChildren = production_->bytes - spentBefore;
  if (added > byChildren) {
    std::size_t own = added - byChildren;
    out.resize(out.size() - (own - Spend(own)));
  }
}

std::string TMyPageProducer::PageFolder() const {
  const std::string& path = Session.TemplatePath;
  std::size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string TMyPageProducer::SkinFolder() const { return Core.DataFolder() + "\\" + Session.SkinName + "\\"; }

std::string EncodedLikeText(std::string error, const TagParams& params) {
  if (params.Given(OutputOption::HtmlEncoded)) error = HtmlEncode(error);
  if (params.Given(OutputOption::JsonEncoded)) error = JsonEncode(error);
  return error;
}

std::string ApplyOptions(std::string text, const TagParams& params, unsigned accepted) {
  if ((accepted & kMaxLength) && params.Given(OutputOption::MaxLength)) {
    if (std::optional<int> length = ParseInt(params.Value("maxlength")))
      text = *length <= 0 ? std::string() : text.substr(0, static_cast<std::size_t>(*length));
  }
  if ((accepted & kUseSlashes) && params.Given(OutputOption::UseSlashes))
    for (char& c : text)
      if (c == '\\') c = '/';
  if ((accepted & kUrlEncoded) && params.Given(OutputOption::UrlEncoded)) text = UrlEncode(text);
  if ((accepted & kEscape) && params.Given(OutputOption::HtmlEncoded)) text = HtmlEncode(text);
  if ((accepted & kEscape) && params.Given(OutputOption::JsonEncoded)) text = JsonEncode(text);
  if ((accepted & kEscape) && params.Given(OutputOption::Escape))
    text = ReplaceAll(ReplaceAll(ReplaceAll(text, "\\", "\\\\"), "'", "\\'"), "\"", "&quot;");
  return text;
}

void Tag::Write(std::string_view text, unsigned accepted) {
  // Nearly every tag is given no option or htmlencoded alone: its text then goes into the page without
  // being copied first, encoded on the way.
  unsigned others = 0;
  if (accepted & kMaxLength) others |= static_cast<unsigned>(OutputOption::MaxLength);
  if (accepted & kUseSlashes) others |= static_cast<unsigned>(OutputOption::UseSlashes);
  if (accepted & kUrlEncoded) others |= static_cast<unsigned>(OutputOption::UrlEncoded);
  if (accepted & kEscape)
    others |= static_cast<unsigned>(OutputOption::JsonEncoded) | static_cast<unsigned>(OutputOption::Escape);
  if (params.Options() & others) {
    output = ApplyOptions(std::string(text), params, accepted);
  } else if ((accepted & kEscape) && params.Given(OutputOption::HtmlEncoded)) {
    output = std::string_view();
    AppendHtmlEncoded(output.Page(), text);
  } else {
    output = text;
  }
}

std::string Tag::Error(std::string_view message) const {
  return ErrorMarker(std::string(name) + ": " + std::string(message));
}

void Tag::Fail(std::string_view message) { output = EncodedLikeText(Error(message), params); }

std::size_t TagNameHash::operator()(std::string_view name) const {
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a over the lower-case name
  for (char c : name) hash = (hash ^ static_cast<unsigned char>(LowerChar(c))) * 1099511628211ull;
  return static_cast<std::size_t>(hash);
}

const TagTable& Tags() {
  static const TagTable table = [] {
    TagTable built;
    AddCoreTags(built);
    AddServerTags(built);
    AddTrackTags(built);
    AddPlaylistTags(built);
    AddSkinTags(built);
    AddMediaLibraryTags(built);
    AddBrowserTags(built);
    return built;
  }();
  return table;
}

// ---- The list-template scheme.

std::string ListTemplates::PathOf(std::string_view name) const { return tag_.producer.PageFolder() + tag_.Param(name); }

namespace {

// A file a template names, when it lies inside the skin folder: a template must not read the data
// folder's settings or anything else of the disk.
std::shared_ptr<const std::string> ReadSkinFile(const TMyPageProducer& producer, const std::string& path) {
  if (!StaysInsideFolder(path, producer.SkinFolder())) return nullptr;
  return producer.Core.SkinTexts.Read(path);
}

}  // namespace

std::shared_ptr<const std::string> ListTemplates::ReadTemplate(std::string_view name, bool reportMissing) {
  std::string path = PathOf(name);
  std::shared_ptr<const std::string> contents = ReadSkinFile(tag_.producer, path);
  if (!contents && reportMissing) tag_.Fail("template '<i>" + HtmlEncode(path) + "'</i> not found");
  return contents;
}

bool ListTemplates::LoadItemTemplate() {
  if (!tag_.Given("template")) {
    tag_.Fail("template not specified");
    return false;
  }
  item_ = ReadTemplate("template", true);
  if (!item_) return false;
  if (!tag_.producer.MayNest()) {
    tag_.Fail("nesting too deep");
    return false;
  }
  compiledItem_ = CompiledTemplate::Of(item_);
  return true;
}

void ListTemplates::AppendItem() {
  BeginItem();
  if (compiledItem_)
    child_.ProduceInto(*compiledItem_, tag_.output.Page());
  else
    child_.ProduceInto(*item_, tag_.output.Page());
}

bool ListTemplates::AppendOptional(std::string_view name) {
  if (!tag_.Given(name)) return false;
  std::shared_ptr<const std::string> text = ReadTemplate(name, false);
  if (!text || !tag_.producer.MayNest()) return false;
  BeginItem();
  child_.ProduceInto(text, tag_.output.Page());
  return true;
}

void ListTemplates::AppendEmpty() {
  if (!tag_.Given("empty")) return;
  std::shared_ptr<const std::string> text = ReadTemplate("empty", true);
  if (!text) return;
  if (!tag_.producer.MayNest()) return tag_.Fail("nesting too deep");
  child_.ProduceInto(text, tag_.output.Page());
}

// ---- include and errormessage.

namespace {

void Include(Tag& tag) {
  std::string file = tag.Param("file");
  if (file.empty()) return tag.Fail("file not specified");
  std::string path = tag.producer.SkinFolder() + file;
  std::shared_ptr<const std::string> text = ReadSkinFile(tag.producer, path);
  if (!text) return tag.Fail("file '<i>" + HtmlEncode(path) + "'</i> not found");
  if (!tag.producer.MayNest()) return tag.Fail("nesting too deep");
  tag.producer.Child().ProduceInto(text, tag.output.Page());
}

void ErrorMessage(Tag& tag) { tag.Write(tag.Session().ErrorMessage, kTextOptions); }

}  // namespace

void AddCoreTags(TagTable& table) {
  table["include"] = Include;
  table["errormessage"] = ErrorMessage;
}

}  // namespace qf
