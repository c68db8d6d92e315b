// The skin authors' reference in the help pages against the dispatch tables: every tag and every command
// the system knows has its entry (an element with the id "tag-NAME" or "cmd-NAME"), and no entry names
// one it does not know.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>

#include "commands/commands.h"
#include "core/text.h"
#include "pageproducer/tags.h"
#include "quenforth_process.h"

namespace qf {
namespace {

namespace fs = std::filesystem;

// The names of the entries of one kind in every page of the help folder, in lower case, with how often
// each occurs.
std::map<std::string, int> ReferenceEntries(const std::string& kind) {
  std::map<std::string, int> entries;
  const std::regex id("id=\"" + kind + "-([A-Za-z0-9_]+)\"");
  for (const auto& file : fs::directory_iterator(QF_HELP_FOLDER)) {
    if (file.path().extension() != ".html") continue;
    std::string page = qftest::ReadFile(file.path());
    for (auto match = std::sregex_iterator(page.begin(), page.end(), id); match != std::sregex_iterator(); ++match)
      ++entries[LowerCase((*match)[1].str())];
  }
  return entries;
}

void ExpectSameNames(const std::set<std::string>& known, const std::map<std::string, int>& described,
                     const std::string& what) {
  for (const std::string& name : known)
    EXPECT_TRUE(described.count(name)) << "the help pages do not describe the " << what << " " << name;
  for (const auto& [name, count] : described) {
    EXPECT_TRUE(known.count(name)) << "the help pages describe the " << what << " " << name
                                   << ", which the system does not know";
    EXPECT_EQ(count, 1) << "the help pages describe the " << what << " " << name << " " << count << " times";
  }
}

TEST(HelpReference, DescribesEveryTagAndNoOther) {
  std::set<std::string> known;
  for (const auto& [name, handler] : Tags()) known.insert(name);
  ASSERT_GT(known.size(), 100u);
  ExpectSameNames(known, ReferenceEntries("tag"), "tag");
}

TEST(HelpReference, DescribesEveryCommandAndNoOther) {
  std::vector<std::string> names = CommandNames();
  std::set<std::string> known(names.begin(), names.end());
  ASSERT_TRUE(known.count("_setini"));
  ASSERT_TRUE(known.count("play"));
  ExpectSameNames(known, ReferenceEntries("cmd"), "command");
}

}  // namespace
}  // namespace qf
