// The skins that ship, over HTTP: every JSON answer of the skins base and json parses as strict JSON, and
// carries hostile texts (quotes, backslashes, control characters, bytes of the code page, markup) back
// unchanged, in titles, file and folder names, media-library records and refusals.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "http_client.h"
#include "quenforth_process.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using qftest::Encoded;
using qftest::Get;
using qftest::Host;
using qftest::QuenforthProcess;

// ---- A strict JSON reader: RFC 8259 and nothing more (no trailing commas, no leading zeros, no raw
// control characters in strings), over text that must be valid UTF-8. Strings come back as UTF-8.

struct Json {
  enum class Kind { Null, Boolean, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  std::string text;  // a string's value, a number's spelling
  std::vector<Json> items;
  std::map<std::string, Json> members;

  const Json& operator[](const std::string& name) const {
    static const Json missing;
    auto found = members.find(name);
    return found == members.end() ? missing : found->second;
  }
};

bool ValidUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    auto byte = static_cast<unsigned char>(text[i]);
    int length = byte < 0x80 ? 1 : (byte >> 5) == 6 ? 2 : (byte >> 4) == 14 ? 3 : (byte >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + length > text.size()) return false;
    for (int k = 1; k < length; ++k)
      if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : text_(text) {}

  std::optional<Json> Document() {
    if (!ValidUtf8(text_)) return Fail("not UTF-8");
    std::optional<Json> value = Value();
    Blanks();
    if (value && at_ != text_.size()) return Fail("text after the value");
    return value;
  }
  const std::string& Error() const { return error_; }

 private:
  std::nullopt_t Fail(const std::string& why) {
    if (error_.empty()) error_ = why + " at byte " + std::to_string(at_) + ": " + text_.substr(at_, 40);
    return std::nullopt;
  }
  void Blanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
      ++at_;
  }
  bool Take(char c) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(const char* word) {
    std::string w(word);
    if (text_.compare(at_, w.size(), w) != 0) return false;
    at_ += w.size();
    return true;
  }
  std::optional<Json> Value() {
    Blanks();
    if (at_ >= text_.size()) return Fail("no value");
    Json value;
    char c = text_[at_];
    if (c == '{') return Object();
    if (c == '[') return Array();
    if (c == '"') {
      value.kind = Json::Kind::String;
      if (!String(value.text)) return std::nullopt;
      return value;
    }
    if (Word("true") || Word("false")) {
      value.kind = Json::Kind::Boolean;
      value.boolean = text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u';
      return value;
    }
    if (Word("null")) return value;
    return Number();
  }
  std::optional<Json> Number() {
    std::size_t start = at_;
    auto digits = [&] {
      std::size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ - from;
    };
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (digits() == 0) {
      return Fail("not a value");
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (digits() == 0) return Fail("no digits after the point");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (digits() == 0) return Fail("no exponent");
    }
    if (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') return Fail("a leading zero");
    Json value;
    value.kind = Json::Kind::Number;
    value.text = text_.substr(start, at_ - start);
    return value;
  }
  static void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool Hex4(unsigned& code) {
    if (at_ + 4 > text_.size()) return false;
    code = static_cast<unsigned>(std::stoul(text_.substr(at_, 4), nullptr, 16));
    for (int k = 0; k < 4; ++k)
      if (!std::isxdigit(static_cast<unsigned char>(text_[at_ + k]))) return false;
    at_ += 4;
    return true;
  }
  bool String(std::string& out) {
    ++at_;  // the opening quote
    while (at_ < text_.size()) {
      auto c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20) return Fail("a raw control character in a string"), false;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      if (at_ >= text_.size()) break;
      char escape = text_[at_++];
      static const std::string kSimple = "\"\\/bfnrt", kMeaning = "\"\\/\b\f\n\r\t";
      if (std::size_t k = kSimple.find(escape); k != std::string::npos) {
        out += kMeaning[k];
      } else if (escape == 'u') {
        unsigned code = 0;
        if (!Hex4(code)) return Fail("a broken \\u escape"), false;
        if (code >= 0xD800 && code < 0xDC00) {
          unsigned low = 0;
          if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low >= 0xE000) return Fail("a lone surrogate"), false;
          code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, code);
      } else {
        return Fail("an unknown escape"), false;
      }
    }
    return Fail("an unended string"), false;
  }
  std::optional<Json> Array() {
    ++at_;
    Json value;
    value.kind = Json::Kind::Array;
    if (Take(']')) return value;
    do {
      std::optional<Json> item = Value();
      if (!item) return std::nullopt;
      value.items.push_back(std::move(*item));
    } while (Take(','));
    if (!Take(']')) return Fail("no ] after the items");
    return value;
  }
  std::optional<Json> Object() {
    ++at_;
    Json value;
    value.kind = Json::Kind::Object;
    if (Take('}')) return value;
    do {
      Blanks();
      std::string name;
      if (at_ >= text_.size() || text_[at_] != '"') return Fail("no member name");
      if (!String(name)) return std::nullopt;
      if (!Take(':')) return Fail("no colon");
      std::optional<Json> member = Value();
      if (!member) return std::nullopt;
      if (!value.members.emplace(name, std::move(*member)).second) return Fail("a member twice: " + name);
    } while (Take(','));
    if (!Take('}')) return Fail("no } after the members");
    return value;
  }

  const std::string& text_;
  std::size_t at_ = 0;
  std::string error_;
};

// What a browser reads for the bytes of the code page (1252), as UTF-8.
std::string FromCodePage(const std::string& bytes) {
  static const unsigned kHigh[32] = {0x20AC, 0x81,   0x201A, 0x192,  0x201E, 0x2026, 0x2020, 0x2021,
                                     0x2C6,  0x2030, 0x160,  0x2039, 0x152,  0x8D,   0x17D,  0x8F,
                                     0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x2DC,  0x2122, 0x161,  0x203A, 0x153,  0x9D,   0x17E,  0x178};
  std::string out;
  for (char c : bytes) {
    auto byte = static_cast<unsigned char>(c);
    unsigned code = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
    std::string piece;
    if (code < 0x80) {
      piece = std::string(1, static_cast<char>(code));
    } else if (code < 0x800) {
      piece = {static_cast<char>(0xC0 | (code >> 6)), static_cast<char>(0x80 | (code & 0x3F))};
    } else {
      piece = {static_cast<char>(0xE0 | (code >> 12)), static_cast<char>(0x80 | ((code >> 6) & 0x3F)),
               static_cast<char>(0x80 | (code & 0x3F))};
    }
    out += piece;
  }
  return out;
}

// ---- The hostile data.

constexpr char kTabTitle[] = "a\"b\\c\td";
constexpr char kControlTitle[] = "ctl \x01\x1f\x7f end";
constexpr char kCodePageTitle[] = "code page \xe9\x80\xff </script><b>&amp;' done";
constexpr char kQuotedPath[] = "C:\\Music\\no\"such \x01 file.mp3";
constexpr char kWaltz[] =
    "C:\\Users\\Quenforth\\Music\\Marisol Vantebrook\\Paper Lighthouses\\01 Harbourmaster's Waltz.mp3";

// Records of the media library, one a line: tab-separated name=value fields.
constexpr char kRecords[] =
    "filename=C:\\Music\\one \"q\".mp3\ttitle=a\"b\\c \x01 \xe9\tartist=x\\y\"z\talbum=</script>\tgenre=\x7f"
    "\tyear=2020\tlength=61\tfilesize=2048\trating=3\tplaycount=2\tlastplay=1700000000\n"
    "filename=C:\\Music\\two.mp3\ttitle=plain\tartist=\x80\x9f\tlength=5\n";

class SkinsJsonTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    hostileNames_ = qftest::TestHost() == Host::Linux;
    process_ = std::make_unique<QuenforthProcess>(
        [](const fs::path& data) {
          qftest::WriteFile(data / "quenforth.ini",
                            "[Setup]\r\nServerPort=0\r\nbindLocal=1\r\nRootDirectory=C:\\Users\\Quenforth\\Music\r\n");
          fs::path drive = data.parent_path().parent_path().parent_path().parent_path();
          qftest::WriteFile(drive / "Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u",
                            std::string("#EXTM3U\r\n#EXTINF:185,") + kTabTitle + "\r\n" + kWaltz + "\r\n#EXTINF:10," +
                                kControlTitle + "\r\n" + kQuotedPath + "\r\n#EXTINF:20," + kCodePageTitle +
                                "\r\nC:\\Music\\caf\xe9.mp3\r\n");
          qftest::WriteFile(drive / "Users/Quenforth/records.txt", kRecords);
          fs::path hostile = drive / "Users/Quenforth/Music" / HostileFolder();
          qftest::WriteFile(hostile / HostileFile(), "not really music");
        },
        std::vector<std::string>{"--library", "C:\\Users\\Quenforth\\records.txt"});
  }
  static void TearDownTestSuite() { process_.reset(); }

  // Windows refuses quotes, angle brackets and control characters in names, and Wine reads the names of
  // the Linux disk as UTF-8: under Wine the names keep to what both allow.
  static std::string HostileFolder() { return hostileNames_ ? "dir \"x\" \x02 & <y>" : "dir; it's & more"; }
  static std::string HostileFile() { return hostileNames_ ? "q\"uo'te \x01 tab\there caf\xe9.mp3" : "it's & all.mp3"; }

  // Answers `target`, which must be 200, JSON and parse.
  Json Answer(const std::string& target) {
    auto response = Get(process_->Port(), target);
    EXPECT_TRUE(response) << target;
    if (!response) return {};
    EXPECT_EQ(response->status, 200) << target;
    EXPECT_EQ(response->Header("content-type"), "application/json") << target;
    JsonReader reader(response->body);
    std::optional<Json> json = reader.Document();
    EXPECT_TRUE(json) << target << ": " << reader.Error() << "\n" << response->body;
    return json.value_or(Json{});
  }
  void UseSkin(const std::string& skin) {
    auto response = Get(process_->Port(), "/skins.json?skin=" + skin);
    ASSERT_TRUE(response);
  }

  static inline std::unique_ptr<QuenforthProcess> process_;
  static inline bool hostileNames_ = true;
};

TEST_F(SkinsJsonTest, TheBaseStatusParsesForATitleWithQuotesABackslashAndATab) {
  UseSkin("base");
  Json status = Answer("/status.json?stop");
  EXPECT_EQ(status["title"].text, kTabTitle);
  EXPECT_EQ(status["tracks"].text, "03");
  EXPECT_EQ(status["status"].text, "stop");
  status = Answer("/status.json?next");
  EXPECT_EQ(status["title"].text, kControlTitle);
  status = Answer("/status.json?next");
  EXPECT_EQ(status["title"].text, FromCodePage(kCodePageTitle));
  // A refusal is markup made from the request's own text: it arrives whole.
  status = Answer("/status.json?%3Cb%3E%22x%5C=%01%E9&prev&prev");
  EXPECT_EQ(status["error"].text, FromCodePage("Unknown command: &lt;b&gt;&quot;x\\=\x01\xe9</br>"));
  EXPECT_EQ(status["index"].text, "1");
  EXPECT_EQ(status["window"].text.size(), 3 * 9 + 2u) << "three song ids between two commas";
}

TEST_F(SkinsJsonTest, EveryJsonTemplateOfBothSkinsParsesOnItsOwn) {
  for (const char* skin : {"base", "json"}) {
    UseSkin(skin);
    for (const auto& file : fs::directory_iterator(process_->DataFolder() / skin)) {
      if (file.path().extension() != ".json") continue;
      Answer("/" + file.path().filename().string());
      Answer("/" + file.path().filename().string() + "?search_playlist_string=%22&search_ml=%5C");
    }
  }
  UseSkin("base");
}

TEST_F(SkinsJsonTest, ASkinChosenInARequestAnswersThatRequestAlready) {
  // The skin command runs before the page is chosen: the same request gets the new skin's page.
  auto classic = Get(process_->Port(), "/?skin=classic");
  ASSERT_TRUE(classic);
  EXPECT_NE(classic->body.find("[Play]"), std::string::npos) << classic->body.substr(0, 300);
  auto base = Get(process_->Port(), "/?skin=base");
  ASSERT_TRUE(base);
  EXPECT_EQ(base->body.find("[Play]"), std::string::npos) << base->body.substr(0, 300);
}

TEST_F(SkinsJsonTest, ThePlaylistCarriesTitlesAndPathsUnchanged) {
  UseSkin("json");
  Json list = Answer("/playlist-all.json");
  ASSERT_EQ(list["items"].items.size(), 3u);
  EXPECT_EQ(list["items"].items[0]["title"].text, kTabTitle);
  EXPECT_EQ(list["items"].items[0]["artist"].text, "");
  EXPECT_EQ(list["items"].items[0]["file"].text, kWaltz);
  EXPECT_EQ(list["items"].items[1]["file"].text, kQuotedPath);
  EXPECT_EQ(list["items"].items[2]["title"].text, FromCodePage(kCodePageTitle));
  EXPECT_EQ(list["items"].items[0]["index"].text, "1");
  EXPECT_EQ(list["tracks"].text, "03");
  Json window = Answer("/playlist.json?search_playlist_string=" + Encoded("\"b\\"));
  ASSERT_EQ(window["items"].items.size(), 1u);
  EXPECT_EQ(window["filter"].text, "\"b\\");
  Json status = Answer("/status.json?playsong=" + window["items"].items[0]["id"].text);
  EXPECT_EQ(status["title"].text, kTabTitle);
  EXPECT_EQ(status["file"].text, kWaltz);
  EXPECT_EQ(status["equalizer"]["bands"].items.size(), 10u);
  EXPECT_EQ(Answer("/playlist.json?search_playlist_string=nothing+like+it")["items"].items.size(), 0u);
  UseSkin("base");
}

TEST_F(SkinsJsonTest, FolderListingsAndSearchResultsCarryHostileNames) {
  UseSkin("json");
  std::string folder = "C:\\Users\\Quenforth\\Music\\" + HostileFolder();
  Json music = Answer("/browse.json?home");
  bool listed = false;
  for (const Json& entry : music["folders"].items) listed = listed || entry["value"].text == FromCodePage(folder);
  EXPECT_TRUE(listed) << "the hostile folder is listed";
  Json inside = Answer("/browse.json?dir=" + Encoded(folder));
  EXPECT_EQ(inside["folder"].text, FromCodePage(folder));
  ASSERT_EQ(inside["files"].items.size(), 1u);
  EXPECT_EQ(inside["files"].items[0]["name"].text, FromCodePage(HostileFile()));
  EXPECT_EQ(inside["files"].items[0]["value"].text, FromCodePage(folder + "\\" + HostileFile()));
  EXPECT_EQ(inside["files"].items[0]["megabytes"].text, "0.00");
  // The search runs over the file cache, which the cache thread fills after the start.
  std::string search = "/browse.json?home&search_files_string=" + Encoded(hostileNames_ ? "uo'te" : "it's") +
                       "&search_for_files=true&search_for_directories=true&search_in_subdirs=true";
  Json found;
  for (int attempt = 0; attempt < 300 && found["files"].items.empty(); ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(100ms);
    found = Answer(search);
  }
  ASSERT_EQ(found["files"].items.size(), 1u);
  EXPECT_EQ(found["files"].items[0]["name"].text, FromCodePage(HostileFolder() + "\\" + HostileFile()));
  EXPECT_EQ(found["search"].text, hostileNames_ ? "uo'te" : "it's");
  UseSkin("base");
}

TEST_F(SkinsJsonTest, MediaLibraryPagesCarryHostileRecords) {
  UseSkin("json");
  Json all = Answer("/library.json");
  EXPECT_EQ(all["results"].text, "2");
  ASSERT_EQ(all["items"].items.size(), 2u);
  Json found = Answer("/library.json?search_ml=" + Encoded("b\\c"));
  ASSERT_EQ(found["items"].items.size(), 1u);
  const Json& record = found["items"].items[0];
  EXPECT_EQ(record["title"].text, FromCodePage("a\"b\\c \x01 \xe9"));
  EXPECT_EQ(record["artist"].text, "x\\y\"z");
  EXPECT_EQ(record["album"].text, "</script>");
  EXPECT_EQ(record["genre"].text, "\x7f");
  EXPECT_EQ(record["file"].text, "C:\\Music\\one \"q\".mp3");
  EXPECT_EQ(record["rating"].text, "3");
  EXPECT_EQ(record["megabytes"].text, "2.00");
  EXPECT_EQ(found["search"].text, "b\\c");
  Json queried = Answer("/library.json?query=" + Encoded("artist HAS \"\x80\""));
  ASSERT_EQ(queried["items"].items.size(), 1u);
  EXPECT_EQ(queried["items"].items[0]["artist"].text, FromCodePage("\x80\x9f"));
  EXPECT_EQ(queried["query"].text, FromCodePage("artist HAS \"\x80\""));
  EXPECT_EQ(Answer("/library.json?search_ml=nothing+like+it")["items"].items.size(), 0u);
  Json skins = Answer("/skins.json");
  ASSERT_EQ(skins["skins"].items.size(), 3u);
  EXPECT_EQ(skins["skins"].items[1].text, "classic");
  UseSkin("base");
}

}  // namespace
