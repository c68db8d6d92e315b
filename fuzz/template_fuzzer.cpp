// libFuzzer target: the template engine (src/pageproducer/producer.*, params.* and every tag family)
// producing a page against a stand-in player on a prefix as the runner installs it, with the real skins
// (support/standin_prefix.h): the tokenizer, the parameter splitter and the producer with its tags.
//
// Input: the template. When its first line begins with "?", that line is a query whose commands run
// first, as a request's would (so the search, query and list tags have something to show); the template
// is the rest. The page is the base skin's index page, for the folder list templates are found in.
//
// Oracles: the page stays within the production's bound (16 MiB and the marker); a template without
// tags is copied as it stands; the parameter splitter fails only with TemplateError; no page shows a
// settings file (the canary), and producing writes nothing outside the folders requests may write to.

#include <cstdint>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "fuzzing.h"
#include "http/urlcode.h"
#include "pageproducer/params.h"
#include "pageproducer/producer.h"
#include "player/player.h"
#include "standin_prefix.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qffuzz::StandInPrefix& prefix = qffuzz::StandInPrefix::Get();
  prefix.Reset({});
  qf::TQuenforth& core = prefix.Core();
  const std::string_view input = qffuzz::Text(data, size);
  std::string_view text = input;
  std::string spelled(input);  // what the input spells, decoded too: pages may show it

  qf::SessionData session;
  session.Document = "/";
  session.SkinName = "base";
  session.TemplatePath = prefix.SkinFolder() + "\\index.html";
  if (!text.empty() && text[0] == '?') {
    qffuzz::Cut cut = qffuzz::FirstLine(text);
    qf::TextList params = qf::SplitParams(cut.line.substr(1));
    for (const std::string& param : params) spelled += "\n" + param;
    if (!params.empty()) qf::RunCommands(core, params, nullptr, session);
    text = cut.rest;
  }

  try {
    qf::TagParams::Split(text);
  } catch (const qf::TemplateError&) {
    // A broken %XX escape: the template it stands in fails.
  }

  std::string page;
  try {
    qf::TMyPageProducer producer(nullptr, *core.Player, core, session);
    page = producer.Produce(text);
  } catch (const qf::TemplateError&) {
    page.clear();
  }
  QF_FUZZ_CHECK(page.size() <= qf::TMyPageProducer::kMaxPageBytes + qf::ErrorMarker("page too large").size());
  std::string_view beforeNul = text.substr(0, text.find('\0'));
  if (beforeNul.find('<') == std::string_view::npos) QF_FUZZ_CHECK(page == beforeNul);
  QF_FUZZ_CHECK(!qffuzz::ShowsCanary(page, spelled));
  prefix.CheckNothingWrittenOutside();
  return 0;
}
