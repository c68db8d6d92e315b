// The kept small files: what is kept, what is not, and that memory stays within the limit.

#include "core/smallfiles.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace qf {
namespace {

TEST(SmallFiles, KeepsOnlySettledSmallFilesWithinTheLimit) {
  qftest::TempFolder folder;
  platform::emulation::MapDrive('C', folder.Path().string());
  SmallFiles kept(8, 800);  // room for four entries or so
  const std::time_t now = std::time(nullptr);
  platform::FileInfo info;
  info.size = 4;
  info.lastWriteTime = now - 10;
  auto write = [&](const std::string& name, const std::string& text) {
    qftest::WriteFile(folder.Path() / name, text);
    info = *platform::GetFileInfo("C:\\" + name);
    info.lastWriteTime = now - 10;  // as if written long ago
  };

  write("a.css", "aaaa");
  kept.Keep("C:\\a.css", info, "aaaa", now);
  auto found = kept.Find("C:\\a.css");
  ASSERT_TRUE(found);
  EXPECT_EQ(*found->content, "aaaa");
  EXPECT_GT(kept.Bytes(), 4u);

  write("b.css", "bbbb");
  platform::FileInfo fresh = info;
  fresh.lastWriteTime = now - 1;
  kept.Keep("C:\\b.css", fresh, "bbbb", now);
  EXPECT_FALSE(kept.Find("C:\\b.css")) << "written a moment ago";
  write("c.css", "too long!");
  kept.Keep("C:\\c.css", info, "too long!", now);
  EXPECT_FALSE(kept.Find("C:\\c.css")) << "larger than a small file";
  kept.Keep("C:\\b.css", info, "bbb", now);
  EXPECT_FALSE(kept.Find("C:\\b.css")) << "not what the file holds";

  // Many files: never more than the limit, and what is found is always right.
  for (int i = 0; i < 40; ++i) {
    std::string name = "f" + std::to_string(i) + ".css", text = "n" + std::to_string(i);
    write(name, text);
    kept.Keep("C:\\" + name, info, text, now);
    EXPECT_LE(kept.Bytes(), 800u);
    auto again = kept.Find("C:\\" + name);
    ASSERT_TRUE(again) << name;
    EXPECT_EQ(*again->content, text);
  }
  EXPECT_FALSE(kept.Find("C:\\missing.css"));
}

TEST(SmallFiles, ReadsWholeFilesAndKeepsTheSettledOnes) {
  namespace fs = std::filesystem;
  qftest::TempFolder folder;
  platform::emulation::MapDrive('C', folder.Path().string());
  SmallFiles kept(16, 1024);
  qftest::WriteFile(folder.Path() / "old.html", "old page");
  fs::last_write_time(folder.Path() / "old.html", fs::file_time_type::clock::now() - std::chrono::hours(1));
  qftest::WriteFile(folder.Path() / "new.html", "new page");
  qftest::WriteFile(folder.Path() / "big.html", std::string(100, 'b'));
  fs::create_directory(folder.Path() / "folder.html");

  auto old = kept.Read("C:\\old.html");
  ASSERT_TRUE(old);
  EXPECT_EQ(*old, "old page");
  EXPECT_EQ(kept.Read("C:\\old.html"), old) << "the kept text itself";
  ASSERT_TRUE(kept.Read("C:\\new.html"));
  EXPECT_EQ(*kept.Read("C:\\new.html"), "new page");
  EXPECT_FALSE(kept.Find("C:\\new.html")) << "written a moment ago";
  EXPECT_EQ(*kept.Read("C:\\big.html"), std::string(100, 'b'));
  EXPECT_FALSE(kept.Find("C:\\big.html")) << "too large to keep, read all the same";
  EXPECT_FALSE(kept.Read("C:\\folder.html"));
  EXPECT_FALSE(kept.Read("C:\\missing.html"));
}

}  // namespace
}  // namespace qf
