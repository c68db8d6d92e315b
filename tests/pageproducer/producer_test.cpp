// The template engine on its own: scanning, parameters, dispatch, output options, include, errors.

#include "pageproducer/producer.h"

#include <gtest/gtest.h>

#include "core/quenforth.h"
#include "core/session.h"
#include "pageproducer/params.h"
#include "platform/posix/emulation.h"
#include "player/id3v2library.h"
#include "player/player.h"
#include "quenforth_process.h"

namespace qf {
namespace {

class ProducerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    core_.Player = &player_;
    platform::emulation::MapDrive('C', folder_.Path().string());
    core_.PluginFolder.Set("C:\\Plugins");
    core_.VersionText.Set("Quenforth KV7 (3.0)");
    Modify(core_.CurrentSettings, [&](Settings& s) { s.RootDirectory = "D:\\Music"; });
    Modify(core_.CurrentSettings, [&](Settings& s) { s.Charset = "iso-8859-1"; });
    session_.SkinName = "base";
    session_.TemplatePath = "C:\\Plugins\\quenforth\\base\\index.html";
  }

  std::string Produce(std::string_view text) {
    return TMyPageProducer(user_, *core_.Player, core_, session_).Produce(text);
  }
  void Skin(const std::string& name, const std::string& text) {
    qftest::WriteFile(folder_.Path() / "Plugins/quenforth/base" / name, text);
  }

  qftest::TempFolder folder_;
  TPlayer player_;  // no player window: every read gives 0 or ""
  TQuenforth core_;
  SessionData session_;
  UserClass* user_ = nullptr;
};

std::string Red(const std::string& text) { return "<font color=\"ff0000\">" + text + "</font>"; }

TEST_F(ProducerTest, CopiesTextAndReplacesTags) {
  EXPECT_EQ(Produce("plain text, no tags\r\n"), "plain text, no tags\r\n");
  EXPECT_EQ(Produce("v=<#QuenforthVersion>."), "v=Quenforth KV7 (3.0).");
  EXPECT_EQ(Produce("<#CHARSET>|<#charset>|<#Charset>"), "iso-8859-1|iso-8859-1|iso-8859-1");
  EXPECT_EQ(Produce("<  #Charset>"), "iso-8859-1");
  EXPECT_EQ(Produce("<#  Charset  >"), "iso-8859-1");
  EXPECT_EQ(Produce("a<#Charset>b<#Charset>c"), "aiso-8859-1biso-8859-1c");
}

TEST_F(ProducerTest, ALessThanThatStartsNoTagLosesTheBlanksAfterIt) {
  EXPECT_EQ(Produce("x < y"), "x <y");
  EXPECT_EQ(Produce("a <\r\n b"), "a <b");
  EXPECT_EQ(Produce("<b>bold</b>"), "<b>bold</b>");
  EXPECT_EQ(Produce("<<#Charset>"), "<iso-8859-1");
  EXPECT_EQ(Produce("end <"), "end <");
}

TEST_F(ProducerTest, UnknownTagsShowTheirNameAsWritten) {
  EXPECT_EQ(Produce("<#Nosuchtag a=b>"), Red("Nosuchtag"));
  EXPECT_EQ(Produce("<#9lives>"), Red("9") + "");  // a name starts with a letter or "_"
  EXPECT_EQ(Produce("<#-x>"), Red("-"));
}

TEST_F(ProducerTest, ParameterTextEndsAtTheFirstGreaterThanOutsideQuotes) {
  session_.ErrorMessage = "abcdef";
  EXPECT_EQ(Produce("<#errormessage maxlength=3 x=\"a>b\">!"), "abc!");
  EXPECT_EQ(Produce("<#errormessage x='>' maxlength=2>!"), "ab!");
  // The end of the input also ends a tag.
  EXPECT_EQ(Produce("<#errormessage maxlength=4"), "abcd");
}

TEST_F(ProducerTest, ANulByteEndsTheTemplate) {
  EXPECT_EQ(Produce(std::string_view("before\0after<#Charset>", 22)), "before");
  EXPECT_EQ(Produce(std::string_view("<#Charset\0>tail", 15)), "iso-8859-1");
}

TEST_F(ProducerTest, LongSingleLineTemplatesAreProduced) {
  std::string script(100 * 1024, 'x');
  EXPECT_EQ(Produce("<script>" + script + "<#Charset></script>"), "<script>" + script + "iso-8859-1</script>");
}

// Whatever a template's text produces, its compiled form produces the same, errors and all.
TEST_F(ProducerTest, ACompiledTemplateProducesWhatItsTextProduces) {
  session_.ErrorMessage = "abc<def>";
  Skin("part.html", "[<#Charset>]");
  const std::string_view texts[] = {
      "plain text, no tags\r\n",
      "",
      "<#CHARSET>|<#charset>|<  #Charset>|<#  Charset  >",
      "x < y, a <\r\n b, <b>bold</b>, <<#Charset>, end <",
      "<#Nosuchtag a=b><#9lives><#-x><#>",
      "<#errormessage maxlength=3 x=\"a>b\">!<#errormessage x='>' maxlength=2>",
      "<#errormessage htmlencoded=1> <#errormessage jsonencoded=1 maxlength=5> <#Nosuchtag htmlencoded=1>",
      "<#errormessage maxlength=4",
      std::string_view("before<#Charset>\0after<#Charset>", 33),
      "a<#include file=part.html>b<#include file=missing.html>c<#include>",
      "<#inifile Section=s Key=k default=&lt;x&gt;>",
      "#<#<#Charset>>#",
  };
  for (std::string_view text : texts) {
    std::optional<CompiledTemplate> compiled = CompiledTemplate::Compile(text);
    ASSERT_TRUE(compiled) << text;
    EXPECT_EQ(TMyPageProducer(user_, *core_.Player, core_, session_).Produce(*compiled), Produce(text)) << text;
  }
  // A parameter that cannot be decoded fails the compiled template where the text fails: when it is produced.
  std::optional<CompiledTemplate> broken = CompiledTemplate::Compile("ok <#Charset a=%zz>");
  ASSERT_TRUE(broken);
  EXPECT_THROW(TMyPageProducer(user_, *core_.Player, core_, session_).Produce(*broken), TemplateError);
  // Past the page's bound the compiled template stops as the text does.
  const std::size_t limit = TMyPageProducer::kMaxPageBytes;
  std::string over(limit - 3, 'x');
  over += "<#Charset>yz";
  EXPECT_TRUE(TMyPageProducer(user_, *core_.Player, core_, session_).Produce(*CompiledTemplate::Compile(over)) ==
              Produce(over));
}

// A skin text is compiled once while it lives; another text, even at the address of one that is gone, is
// compiled anew, and produces what it says.
TEST_F(ProducerTest, ASkinTextIsCompiledOnceAndEveryNewTextAnew) {
  auto text = std::make_shared<const std::string>("a<#Charset>b");
  std::shared_ptr<const CompiledTemplate> compiled = CompiledTemplate::Of(text);
  ASSERT_TRUE(compiled);
  EXPECT_EQ(CompiledTemplate::Of(text), compiled);
  text.reset();
  compiled.reset();
  for (int i = 0; i < 200; ++i) {
    auto next = std::make_shared<const std::string>(std::to_string(i) + "<#Charset>");
    EXPECT_EQ(TMyPageProducer(user_, *core_.Player, core_, session_).Produce(next), std::to_string(i) + "iso-8859-1");
  }
  std::string many;
  for (std::size_t i = 0; i <= CompiledTemplate::kMaxTags; ++i) many += "<#Charset>";
  auto tooMany = std::make_shared<const std::string>(many);
  EXPECT_FALSE(CompiledTemplate::Of(tooMany));
  EXPECT_EQ(TMyPageProducer(user_, *core_.Player, core_, session_).Produce(tooMany).size(),
            (CompiledTemplate::kMaxTags + 1) * 10);
  // A broken parameter fails the shared text as it fails the text.
  EXPECT_THROW(TMyPageProducer(user_, *core_.Player, core_, session_)
                   .Produce(std::make_shared<const std::string>("ok <#Charset a=%zz>")),
               TemplateError);
}

// A list's item template changed on disk is produced as it is now by the next page.
TEST_F(ProducerTest, AListSeesItsItemTemplateChangedOnDisk) {
  Skin("index.html", "");
  Skin("item.html", "[<#skin_name>]");
  EXPECT_EQ(Produce("<#skinlist template=item.html>"), "[base]");
  Skin("item.html", "(<#skin_name>) and more");
  EXPECT_EQ(Produce("<#skinlist template=item.html>"), "(base) and more");
}

TEST_F(ProducerTest, ATemplateOfVeryManyTagsIsNotCompiled) {
  std::string text;
  for (std::size_t i = 0; i < CompiledTemplate::kMaxTags; ++i) text += "<#Charset>";
  EXPECT_TRUE(CompiledTemplate::Compile(text));
  EXPECT_FALSE(CompiledTemplate::Compile(text + "<#Charset>"));
  // A list produces such an item template from its text.
  Skin("index.html", "");
  Skin("many.html", text + "<#skin_name>|");
  std::string item;
  for (std::size_t i = 0; i < CompiledTemplate::kMaxTags; ++i) item += "iso-8859-1";
  EXPECT_EQ(Produce("<#skinlist template=many.html>"), item + "base|");
}

TEST(TagParams, SplitsQuotesAndDecodes) {
  struct Case {
    const char* text;
    std::vector<std::string> entries;
  };
  const Case cases[] = {
      {"Section=\"My Section\" Key=a", {"Section=My Section", "Key=a"}},
      {"Key='a b'", {"Key=a", "b"}},
      {"title=\"it's\"", {"title=it's"}},
      {"\"quoted entry\" next", {"quoted entry", "next"}},
      {"a=1+1 b=100%25 c=%%", {"a=1 1", "b=100%", "c=%"}},
      {"  lots   of\r\nblanks ", {"lots", "of", "blanks"}},
      {"lone=\"quote", {"lone=quote"}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(TagParams::Split(c.text).Entries(), c.entries) << c.text;
}

TEST(TagParams, LooksUpTheFirstEntryWithoutRegardToCase) {
  TagParams params = TagParams::Split("Format=hh:nn FORMAT=other bare urlencoded= x=a=b");
  EXPECT_EQ(params.Value("format"), "hh:nn");
  EXPECT_EQ(params.Value("x"), "a=b");
  EXPECT_FALSE(params.Given("bare"));  // an entry without "=" has no key
  EXPECT_FALSE(params.Given("urlencoded"));
  EXPECT_EQ(params.Value("missing"), "");
  // The output options are looked up the same way, once.
  TagParams options = TagParams::Split("HTMLencoded=1 maxlength= maxlength=5 escape=0 x=urlencoded=1");
  EXPECT_TRUE(options.Given(OutputOption::HtmlEncoded));
  EXPECT_FALSE(options.Given(OutputOption::MaxLength));  // the first maxlength is empty
  EXPECT_TRUE(options.Given(OutputOption::Escape));      // any value that is not empty
  EXPECT_FALSE(options.Given(OutputOption::UrlEncoded));
  EXPECT_FALSE(options.Given(OutputOption::JsonEncoded));
}

TEST(TagParams, BrokenEscapesFailWithTheirMessages) {
  try {
    TagParams::Split("a=x%4");
    FAIL();
  } catch (const TemplateError& error) {
    EXPECT_STREQ(error.what(), "Error decoding URL style (%XX) encoded string at position 4");
  }
  try {
    TagParams::Split("a=%zz");
    FAIL();
  } catch (const TemplateError& error) {
    EXPECT_STREQ(error.what(), "Invalid URL encoded character (%zz) at position 3");
  }
}

TEST_F(ProducerTest, ABrokenEscapeFailsTheWholeTemplate) {
  EXPECT_THROW(Produce("fine <#Charset> then <#errormessage maxlength=%G1>"), TemplateError);
  // In a sub-template it ends only the tag that produced it.
  Skin("broken.html", "<#errormessage maxlength=%>");
  EXPECT_EQ(Produce("a<#include file=broken.html>b"), "ab");
}

TEST_F(ProducerTest, OutputOptionsInTheirFixedOrder) {
  session_.ErrorMessage = "It's \"a\\b\" & <c>";
  EXPECT_EQ(Produce("<#errormessage maxlength=abc>"), "It's \"a\\b\" & <c>");
  EXPECT_EQ(Produce("<#errormessage maxlength=0>"), "");
  EXPECT_EQ(Produce("<#errormessage maxlength=-3>"), "");
  EXPECT_EQ(Produce("<#errormessage maxlength=4>"), "It's");
  EXPECT_EQ(Produce("<#errormessage urlencoded=no>"), "It's+%22a%5cb%22+%26+%3cc%3e");
  EXPECT_EQ(Produce("<#errormessage urlencoded>"), "It's \"a\\b\" & <c>");  // bare: not given
  EXPECT_EQ(Produce("<#errormessage escape=1>"), "It\\'s &quot;a\\\\b&quot; & <c>");
  // With both, escaping sees the encoded text: only the apostrophe is left to escape.
  EXPECT_EQ(Produce("<#errormessage urlencoded=1 escape=1>"), "It\\'s+%22a%5cb%22+%26+%3cc%3e");
  EXPECT_EQ(Produce("<#errormessage htmlencoded=1>"), "It&#39;s &quot;a\\b&quot; &amp; &lt;c&gt;");
  // Encoded straight into the page: what stands before the tag stays, and a cut still comes first.
  EXPECT_EQ(Produce("x<#errormessage maxlength=4 htmlencoded=1>y"), "xIt&#39;sy");
  EXPECT_EQ(Produce("&<#errormessage maxlength=1 htmlencoded=1 useslashes=1>&"), "&I&");
  session_.ErrorMessage = "a\"b\\c\td\r\n\x01\x7f\xe9";
  EXPECT_EQ(Produce("<#errormessage jsonencoded=1>"), "a\\\"b\\\\c\\u0009d\\u000d\\u000a\\u0001\\u007f\\u00e9");
  // Bytes of the code page come out as its characters, so the document is ASCII and valid for every reader.
  session_.ErrorMessage = "\x80\x81\x9f\xa0\xff";
  EXPECT_EQ(Produce("<#errormessage jsonencoded=1>"), "\\u20ac\\u0081\\u0178\\u00a0\\u00ff");
  session_.ErrorMessage = "a\"b\\c\td";
  // Cut first, then encoded: no escape is ever cut in half.
  EXPECT_EQ(Produce("<#errormessage maxlength=2 jsonencoded=1>"), "a\\\"");
  EXPECT_EQ(Produce("<#RootDirectory useslashes=1>"), "D:/Music");
  EXPECT_EQ(Produce("<#RootDirectory>"), "D:\\Music");
}

// An error in a JSON template is the inside of a JSON string too: whatever fails, the document parses.
TEST_F(ProducerTest, ErrorsOfEncodedTagsAreEncodedToo) {
  EXPECT_EQ(Produce("<#Nosuch jsonencoded=1>"), "<font color=\\\"ff0000\\\">Nosuch</font>");
  EXPECT_EQ(Produce("<#include jsonencoded=1>"), "<font color=\\\"ff0000\\\">include: file not specified</font>");
  EXPECT_EQ(Produce("<#include file=none.html jsonencoded=1>"),
            "<font color=\\\"ff0000\\\">include: file '<i>C:\\\\Plugins\\\\quenforth\\\\base\\\\none.html'</i> not "
            "found</font>");
  EXPECT_EQ(Produce("<#GetEQ jsonencoded=1>"), "<font color=\\\"ff0000\\\">GetEQ: EQ band not specified</font>");
  // In an attribute the error is text as well; without either option errors stay markup.
  EXPECT_EQ(Produce("<#AlbumArt htmlencoded=1>"),
            "&lt;font color=&quot;ff0000&quot;&gt;AlbumArt: ID3v2Library.dll not found in &#39;&lt;i&gt;\\Quenforth"
            "&#39;&lt;/i&gt;.&lt;/font&gt;");
  EXPECT_EQ(Produce("<#GetEQ>"), Red("GetEQ: EQ band not specified"));
}

TEST_F(ProducerTest, EntitiesInParametersBecomeAngleBrackets) {
  session_.ErrorMessage = "x";
  EXPECT_EQ(Produce("<#Date format=\"'&GT;'yyyy'&lt;'\">").substr(0, 1), ">");
  EXPECT_EQ(Produce("<#Time format='&gt;&lt;'>"), "><");
}

TEST_F(ProducerTest, IncludeProducesFilesOfTheSkinFolder) {
  Skin("parts/head.html", "<h1><#Charset></h1>");
  EXPECT_EQ(Produce("[<#include file=parts/head.html>]"), "[<h1>iso-8859-1</h1>]");
  EXPECT_EQ(Produce("<#include>"), Red("include: file not specified"));
  EXPECT_EQ(Produce("<#Include file=>"), Red("Include: file not specified"));
  EXPECT_EQ(Produce("<#include file=none.html>"),
            Red("include: file '<i>C:\\Plugins\\quenforth\\base\\none.html'</i> not found"));
}

TEST_F(ProducerTest, NestingStopsAtSixteen) {
  Skin("self.html", "+<#include file=self.html>");
  std::string produced = Produce("<#include file=self.html>");
  EXPECT_EQ(produced, std::string(15, '+') + Red("include: nesting too deep"));
}

TEST_F(ProducerTest, IncludeStaysInsideTheSkinFolder) {
  qftest::WriteFile(folder_.Path() / "Plugins/quenforth/user.ini", "canary");
  qftest::WriteFile(folder_.Path() / "secret.txt", "canary");
  Skin("parts/head.html", "head");
  EXPECT_EQ(Produce("<#include file=parts\\..\\parts\\head.html>"), "head");
  const char* files[] = {"..\\user.ini",
                         "../user.ini",
                         "..%5Cuser.ini",
                         "parts\\..\\..\\user.ini",
                         "..\\..\\..\\..\\..\\secret.txt",
                         "C:\\secret.txt",
                         "parts\\head.html.",
                         "parts\\head.html::$DATA",
                         "CON"};
  for (const char* file : files) {
    std::string produced = Produce(std::string("<#include file=") + file + ">");
    EXPECT_EQ(produced.rfind(Red("include: file '<i>C:\\Plugins\\quenforth\\base\\").substr(0, 40), 0), 0u) << file;
    EXPECT_NE(produced.find("not found"), std::string::npos) << file;
    EXPECT_EQ(produced.find("canary"), std::string::npos) << file;
  }
  // List templates too are files of the skin.
  std::string listed = Produce("<#skinlist template=..\\user.ini>");
  EXPECT_NE(listed.find("not found"), std::string::npos);
  EXPECT_EQ(listed.find("canary"), std::string::npos);
  // The name is printed as text.
  EXPECT_EQ(Produce("<#include file=%3Cb%3E.html>"),
            Red("include: file '<i>C:\\Plugins\\quenforth\\base\\&lt;b&gt;.html'</i> not found"));
}

TEST_F(ProducerTest, ParsedSettingsCountAsNestingLevels) {
  Skin("mix.html", "+<#inifile Section=s Key=m parse=1>");
  Skin("skin.ini", "[s]\r\nm=-<#include file=mix.html>\r\n");
  EXPECT_EQ(Produce("<#include file=mix.html>"), "+-+-+-+-+-+-+-+" + Red("inifile: nesting too deep"));
}

TEST_F(ProducerTest, APageEndsAtSixteenMebibytes) {
  const std::size_t limit = TMyPageProducer::kMaxPageBytes;
  std::string exact(limit, 'x');
  EXPECT_TRUE(Produce(exact) == exact);
  std::string over = Produce(std::string(limit + 10, 'x'));
  EXPECT_EQ(over.size(), limit + Red("page too large").size());
  EXPECT_EQ(over.substr(limit), Red("page too large"));
  // Tag outputs count the same: here the page stops inside the include.
  Skin("big.html", std::string(limit - 5, 'y') + "<#Charset>");
  std::string included = Produce("ab<#include file=big.html>cd");
  EXPECT_EQ(included.size(), limit + Red("page too large").size());
  EXPECT_EQ(included.substr(limit - 3, 3), "iso");
}

TEST_F(ProducerTest, PagesHeldAtOnceShareOneBudget) {
  const std::size_t small = PageBudget::kSmallPage;
  core_.PageBytes.SetLimit(small + 1000);
  std::shared_ptr<const void> held;
  {
    // The first page's answer has not been sent yet: it holds its bytes.
    TMyPageProducer first(user_, *core_.Player, core_, session_);
    EXPECT_EQ(first.Produce(std::string(small + 600, 'a')).size(), small + 600);
    held = first.Charge();
  }
  EXPECT_EQ(core_.PageBytes.Used(), small + 600);
  // The second gets its small page's share, which also counts, and nothing more: it ends as too large,
  // and dropping it gives its bytes back at once.
  EXPECT_EQ(Produce(std::string(small + 600, 'b')), std::string(small, 'b') + Red("page too large"));
  EXPECT_EQ(core_.PageBytes.Used(), small + 600);
  // With nothing left, small pages still come whole.
  core_.PageBytes.SetLimit(0);
  EXPECT_EQ(Produce(std::string(small, 'c')), std::string(small, 'c'));
  EXPECT_EQ(Produce(std::string(small + 1, 'd')), std::string(small, 'd') + Red("page too large"));
  held.reset();
  EXPECT_EQ(core_.PageBytes.Used(), 0u);
}

TEST_F(ProducerTest, APageHandlesAtMostAMillionTags) {
  std::string page;
  for (std::size_t i = 0; i < TMyPageProducer::kMaxTags + 3; ++i) page += "<#user_tracks_added>";
  EXPECT_TRUE(Produce(page) == std::string(TMyPageProducer::kMaxTags, '-') + Red("page too large"));
}

TEST_F(ProducerTest, ASettingThatParsesItselfThriceEndsAsPageTooLarge) {
  std::string self = "<#inifile Section=s Key=loop parse=1>";
  Skin("skin.ini", "[s]\r\nloop=" + self + self + self + "\r\n");
  std::string page = Produce("start " + self);
  EXPECT_EQ(page.rfind("start ", 0), 0u);
  ASSERT_GE(page.size(), Red("page too large").size());
  EXPECT_EQ(page.substr(page.size() - Red("page too large").size()), Red("page too large"));
  EXPECT_LE(page.size(), TMyPageProducer::kMaxPageBytes + Red("page too large").size());
}

TEST_F(ProducerTest, ProductionStopsWhenThePlugInShutsDown) {
  EXPECT_EQ(Produce("a<#Charset>b"), "aiso-8859-1b");
  core_.ShuttingDown = true;
  EXPECT_EQ(Produce("a<#Charset>b"), "");
}

TEST_F(ProducerTest, ErrorMessageShowsTheSessionsText) {
  EXPECT_EQ(Produce("<#errormessage>"), "");
  session_.ErrorMessage = "Operation not allowed.</br>";
  EXPECT_EQ(Produce("<#errormessage>"), "Operation not allowed.</br>");
}

TEST_F(ProducerTest, ServerTagsWithoutAUser) {
  core_.UptimeSeconds = 3725;
  EXPECT_EQ(Produce("<#server_uptime>"), "01:02:05");
  core_.UptimeSeconds = 360000;
  EXPECT_EQ(Produce("<#server_uptime>"), "100:00:00");
  EXPECT_EQ(Produce("<#CurrentUser>"), "user management disabled");
  EXPECT_EQ(Produce("<#user_tracks_added>|<#user_tracks_limit>"), "-|-");
  EXPECT_EQ(Produce("<#PlayerVersion>"), "");  // no player window
  std::string random = Produce("<#random>");
  ASSERT_EQ(random.size(), 4u);
  EXPECT_EQ(random.find_first_not_of("0123456789ABCDEF"), std::string::npos);
  EXPECT_NE(random, "FFFF");
}

TEST_F(ProducerTest, ServerTagsWithAUser) {
  UserClass user;
  user.Login = "alice";
  user.tracks_per_hour = 5;
  user.TracksThisHour = 2;
  user.RootDirectory.Set("E:\\Alice");
  user.Charset.Set("utf-8");
  user_ = &user;
  EXPECT_EQ(Produce("<#CurrentUser>|<#user_tracks_added>|<#user_tracks_limit>|<#RootDirectory>|<#Charset>"),
            "alice|2|5|E:\\Alice|utf-8");
}

TEST_F(ProducerTest, TrackTagsWithoutAPlayer) {
  EXPECT_EQ(Produce("<#SongLengthMin>:<#SongLengthSec> <#SongPositionPercent>% [<#Samplerate>] <#CurrentIndex>"),
            "00:00 0% [] 1");
  EXPECT_EQ(Produce("<#MetaData>"), Red("MetaData: field not specified"));
  EXPECT_EQ(Produce("<#MetaData urlencoded=1>"),
            "%3cfont+color%3d%22ff0000%22%3eMetaData%3a+field+not+specified%3c%2ffont%3e");
  EXPECT_EQ(Produce("<#GetEQ>"), Red("GetEQ: EQ band not specified"));
  EXPECT_EQ(Produce("<#GetEQ band=x>"), "");
  EXPECT_EQ(Produce("<#CurrentFileInfo>"), Red("CurrentFileInfo: Item not specified"));
  EXPECT_EQ(Produce("<#Status>|<#Status on_stop=idle>"), "stop|idle");
  EXPECT_EQ(Produce("<#LockState>|<#LockStatus off=open>"), "off|open");
  EXPECT_EQ(Produce("<#ShuffleState on=yes off=no>"), "no");
  EXPECT_EQ(Produce("<#RepeatStatus>"), "off");
  Modify(core_.CurrentSettings, [&](Settings& s) { s.RemovePlayed = true; });
  EXPECT_EQ(Produce("<#RemovePlayedState>|<#KeepPlaylistAliveStatus>"), "on|off");
  EXPECT_EQ(Produce("<#AlbumArt>"), Red("AlbumArt: ID3v2Library.dll not found in '<i>\\Quenforth'</i>."));
}

// Loading the library costs far more than reading a tag, and a page may hold a million tags that read one.
TEST_F(ProducerTest, APageLoadsTheTagLibraryOnceForAllItsTags) {
  TMyPageProducer page(user_, *core_.Player, core_, session_);
  const TID3v2Library& library = page.TagLibrary("C:\\Plugins\\quenforth");
  EXPECT_EQ(&page.Child().Child().TagLibrary("C:\\Plugins\\quenforth"), &library);
  EXPECT_NE(&page.TagLibrary("C:\\Elsewhere"), &library);
  // A library that is missing is reported by every tag that wanted it.
  std::string missing = Red("AlbumArt: ID3v2Library.dll not found in '<i>\\Quenforth'</i>.");
  EXPECT_EQ(Produce("<#AlbumArt><#AlbumArt>"), missing + missing);
}

}  // namespace
}  // namespace qf
