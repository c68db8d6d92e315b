#pragma once
// TMyPageProducer: produces a page from a template. Text outside tags is copied as it is; every tag
// `<#Name param=value ...>` is replaced by what its handler answers. Tags are dispatched by name, without
// regard to case, through one table built once (pageproducer/tags.h). List tags and `include` produce
// further templates with child producers, which share the request's session.
//
// A producer belongs to one request's thread and lives for one production. Its four references are
// borrowed from whoever creates it.
//
// One production (a producer made with the public constructor and all its children) is bounded: at most
// kMaxPageBytes of page text and kMaxTags tags, and no more text than the process's budget for pages
// (TQuenforth::PageBytes) has left. Past any bound everything stops and the page ends with the error
// marker "page too large"; when the plug-in shuts down, production stops at the next tag.

#include <atomic>
#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/pagebudget.h"
#include "pageproducer/params.h"

namespace qf {

class TPlayer;
class TQuenforth;
struct SessionData;
struct UserClass;
class IniFile;
class TID3v2Library;

struct Tag;
using TagHandler = void (*)(Tag&);

// One step of reading a template: the text to copy as it is, and the tag after it when there is one.
struct TemplateStep {
  std::string_view text;
  bool tag = false;
  std::string_view name;        // as written
  std::string_view parameters;  // the text after the name up to the tag's ">", blanks trimmed
};
// Reads the step of `text` (its NUL byte and what follows already cut off) at `at`, and moves `at` past it.
TemplateStep NextTemplateStep(std::string_view text, std::size_t& at);

// A template read once into its pieces: texts to copy, and tags with their parameters decoded and their
// handlers found. A list tag produces its item template for every entry of the list, and reading the
// template again each time was most of what a long list cost. What a compiled template produces is what
// its text produces, byte for byte, errors included.
class CompiledTemplate {
 public:
  // More tags than an item template has any need for: such a template is produced from its text, for
  // its pieces would take many times the memory of its text, once for each list tag of a page.
  static constexpr std::size_t kMaxTags = 4096;

  // None for a template of more than kMaxTags tags.
  static std::optional<CompiledTemplate> Compile(std::string_view text);

  // The compiled form of a text read through the skin-text cache (TQuenforth::SkinTexts), compiled once
  // and kept for as long as that text lives: a page and its list templates are read again for every
  // request, and reading them again was much of what a small page cost. The cache gives a file that
  // changed a new text, and so a new compiled form. None when the text cannot be compiled.
  static std::shared_ptr<const CompiledTemplate> Of(const std::shared_ptr<const std::string>& text);

  std::size_t Pieces() const { return pieces_.size(); }

 private:
  friend class TMyPageProducer;
  struct Piece {
    std::string text;  // the text to copy, or the tag's name as written
    bool tag = false;
    TagHandler handler = nullptr;  // none for a name no tag has
    TagParams params;
    std::optional<std::string> error;  // parameters that cannot be decoded: the template fails here
  };
  std::vector<Piece> pieces_;
};

class TMyPageProducer {
 public:
  // Sub-templates (includes, list items, parsed settings) nest at most this deep.
  static constexpr int kMaxDepth = 16;
  static constexpr std::size_t kMaxPageBytes = 16 * 1024 * 1024;
  static constexpr std::size_t kMaxTags = 1'000'000;

  TMyPageProducer(UserClass* user, TPlayer& player, TQuenforth& core, SessionData& session, int depth = 0)
      : TMyPageProducer(user, player, core, session, depth, std::make_shared<Production>(core)) {}

  // Produces a template. A NUL byte ends the template. Throws TemplateError when the parameters of one of
  // its tags cannot be decoded: that fails the template as a whole (a sub-template's failure ends only
  // the tag that produced it).
  // `room`: how large the page is expected to be, reserved at once (at least a quarter more than the text).
  std::string Produce(std::string_view text, std::size_t room = 0);
  void ProduceInto(std::string_view text, std::string& out);
  std::string Produce(const CompiledTemplate& compiled);
  void ProduceInto(const CompiledTemplate& compiled, std::string& out);
  // A text read through the skin-text cache (never none), from its compiled form when it has one.
  std::string Produce(const std::shared_ptr<const std::string>& text, std::size_t room = 0);
  void ProduceInto(const std::shared_ptr<const std::string>& text, std::string& out);

  // A producer for a sub-template, one level deeper, with the same four references.
  TMyPageProducer Child() const { return TMyPageProducer(User, Player, Core, Session, depth_ + 1, production_); }
  bool MayNest() const { return depth_ + 1 < kMaxDepth; }
  // True once the production has stopped (a bound passed, or the plug-in shutting down).
  bool Stopped() const {
    Production& p = *production_;
    if (!p.stopped && p.shuttingDown.load(std::memory_order_relaxed)) p.stopped = true;
    return p.stopped;
  }
  // The production's share of the page budget: whoever holds the page it produced holds this too, until
  // the page has been sent.
  std::shared_ptr<const void> Charge() const;

  // The request skin's skin.ini, read once per production.
  const IniFile& SkinIni();
  // True the first time a production asks. The player's playlist is read once per page: each read has
  // the player write the whole list to disk, and a page may hold up to kMaxTags list tags.
  bool FirstPlaylistRead();
  // The ID3v2 library loaded from `folder`, once per production: a page may hold up to kMaxTags tags
  // that read a tag, and loading the library costs far more than reading one.
  const TID3v2Library& TagLibrary(const std::string& folder);
  // The CRC key of the current item's path (Session.ItemPath): the item tags of one entry ask for it
  // several times (song ids, the added-by register), so the last one is kept.
  const std::string& ItemKey();
  // Who added the track of a CRC key, from the added-by register as it was when the production first
  // asked: a list of a thousand entries looks a thousand names up in it.
  std::optional<std::string> OwnerOf(const std::string& key);

  // The folder of the requested page, with a trailing "\": sub-templates of list tags live there.
  std::string PageFolder() const;
  // The request's skin folder, with a trailing "\": `include` files and skin.ini live there.
  std::string SkinFolder() const;

  UserClass* User;  // none when user management is off
  TPlayer& Player;
  TQuenforth& Core;
  SessionData& Session;

 private:
  // What one production has spent, shared by the producer and its children.
  struct Production {
    explicit Production(TQuenforth& core);
    const std::atomic<bool>& shuttingDown;  // the plug-in's
    std::size_t bytes = 0;
    std::size_t tags = 0;
    std::shared_ptr<PageBudget::Charge> charge;
    bool tooLarge = false;
    bool stopped = false;
    bool playlistRead = false;
    std::map<std::string, std::shared_ptr<IniFile>> iniFiles;
    std::map<std::string, std::shared_ptr<const TID3v2Library>> tagLibraries;
    bool keyed = false;
    std::string keyedPath;  // the path whose CRC key `itemKey` is, when `keyed`
    std::string itemKey;
    bool ownersIndexed = false;
    std::unordered_map<std::string, std::string> owners;  // upper-case key -> login, the first line of each
  };

  TMyPageProducer(UserClass* user, TPlayer& player, TQuenforth& core, SessionData& session, int depth,
                  std::shared_ptr<Production> production)
      : User(user), Player(player), Core(core), Session(session), depth_(depth), production_(std::move(production)) {}

  void ProduceTemplate(std::string_view text, std::string& out);
  void RunTag(TagHandler handler, std::string_view name, const TagParams& params, std::string& out);
  // The end of a production: the too-large marker, and the budget it reserved and did not use.
  void Finish(std::string& out);
  // How many of `bytes` more the page may hold; they are counted. Fewer than asked stops production.
  // (Called for every piece of text and every tag of a page: a list of a thousand entries has tens of
  // thousands.)
  std::size_t Spend(std::size_t bytes) {
    Production& p = *production_;
    if (p.charge && bytes <= kMaxPageBytes - p.bytes && p.charge->TakeReserved(bytes)) {
      p.bytes += bytes;
      return bytes;
    }
    return SpendBeyondReserve(bytes);
  }
  std::size_t SpendBeyondReserve(std::size_t bytes);
  // Appends what the page may still hold of `text`; false when production has stopped.
  bool Emit(std::string& out, std::string_view text) {
    out.append(text.data(), Spend(text.size()));
    return !Stopped();
  }
  // Counts a tag; false when production has stopped.
  bool CountTag();

  int depth_;
  std::shared_ptr<Production> production_;
};

// The inline error of a page: the message in red.
std::string ErrorMarker(std::string_view message);

}  // namespace qf
