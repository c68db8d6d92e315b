#include "core/quenforth.h"

#include <gtest/gtest.h>

#include <thread>

namespace qf {
namespace {

TEST(Quenforth, StartsEmptyAndWithoutAPlayer) {
  TQuenforth core;
  EXPECT_TRUE(core.SkinNames.Get()->empty());
  EXPECT_TRUE(core.FileCache.Get()->empty());
  EXPECT_EQ(core.SkinName.Get(), "");
  EXPECT_FALSE(core.ShuttingDown);
  EXPECT_EQ(core.TimerTicks, 0u);
  EXPECT_EQ(core.Player, nullptr);  // the owner lends one
  EXPECT_EQ(core.CrcKey("abc"), "352441C2");
}

TEST(Quenforth, DataFolderHangsBelowThePluginFolder) {
  TQuenforth core;
  core.PluginFolder.Set("C:\\Program Files\\Winamp\\Plugins");
  EXPECT_EQ(core.DataFolder(), "C:\\Program Files\\Winamp\\Plugins\\quenforth");
}

TEST(Quenforth, SnapshotReadersKeepTheirListWhileItIsRebuilt) {
  TQuenforth core;
  core.FileCache.Set(std::make_shared<TextList>(TextList{"C:\\a.mp3", "C:\\b.mp3"}));
  Snapshot<TextList> reader = core.FileCache.Get();
  core.FileCache.Set(std::make_shared<TextList>(TextList{"C:\\c.mp3"}));
  Modify(core.TrackOwners, [](TextList& owners) { SetValueOfName(owners, "0A1B2C3D", "alice"); });
  EXPECT_EQ(reader->size(), 2u);
  EXPECT_EQ(core.FileCache.Get()->size(), 1u);
  EXPECT_EQ(ValueOfName(*core.TrackOwners.Get(), "0a1b2c3d"), "alice");
}

TEST(ConcurrentQuenforth, CopyOnWriteListsLoseNoUpdate) {
  TQuenforth core;
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&core, t] {
      for (int i = 0; i < 250; ++i) {
        Modify(core.TrackOwners,
               [&](TextList& owners) { owners.push_back(std::to_string(t) + "=" + std::to_string(i)); });
        Snapshot<TextList> seen = core.TrackOwners.Get();
        ASSERT_GE(seen->size(), 1u);
      }
    });
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(core.TrackOwners.Get()->size(), 1000u);
}

}  // namespace
}  // namespace qf
