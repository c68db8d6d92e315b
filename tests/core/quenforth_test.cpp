#include "core/quenforth.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace qf {
namespace {

TEST(Quenforth, StartsEmptyAndWithoutAPlayer) {
  TQuenforth core;
  EXPECT_TRUE(core.SkinNames.Get()->empty());
  EXPECT_TRUE(core.FileCache.Get()->empty());
  EXPECT_EQ(core.CurrentSettings.Get()->Skin, "base");  // the defaults of a missing quenforth.ini
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
  core.FileCache.Set(std::make_shared<PackedTextList>(TextList{"C:\\a.mp3", "C:\\b.mp3"}));
  Snapshot<PackedTextList> reader = core.FileCache.Get();
  core.FileCache.Set(std::make_shared<PackedTextList>(TextList{"C:\\c.mp3"}));
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

// A playlist read that the test lets finish: it answers a list of `number` entries, `number` counting
// the reads, and holds the reader until the test opens it.
class HeldRead {
 public:
  Snapshot<PlaylistEntryList> operator()() {
    std::unique_lock held(lock_);
    int number = ++started_;
    changed_.notify_all();
    changed_.wait(held, [&] { return opened_ >= number; });
    return std::make_shared<PlaylistEntryList>(static_cast<std::size_t>(number));
  }
  void WaitStarted(int number) {
    std::unique_lock held(lock_);
    changed_.wait(held, [&] { return started_ >= number; });
  }
  void Open(int number) {
    std::lock_guard guard(lock_);
    opened_ = number;
    changed_.notify_all();
  }
  int Started() {
    std::lock_guard guard(lock_);
    return started_;
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  int started_ = 0;
  int opened_ = 0;
};

void WaitForWaiters(const TQuenforth& core, int count) {
  while (core.PlaylistReadersWaiting() < count) std::this_thread::yield();
}

TEST(ConcurrentQuenforth, PagesThatWaitShareTheNextPlaylistRead) {
  TQuenforth core;
  HeldRead read;
  std::size_t first = 0;
  std::thread reader([&] { first = core.SharePlaylistRead(std::ref(read), std::chrono::minutes(5))->size(); });
  read.WaitStarted(1);
  EXPECT_TRUE(core.PlaylistBusy);
  // Six pages arrive while the first read runs: that read may have missed what they changed.
  constexpr int kWaiting = 6;
  std::vector<std::size_t> seen(kWaiting);
  std::vector<std::thread> waiting;
  for (int i = 0; i < kWaiting; ++i)
    waiting.emplace_back([&, i] {
      seen[static_cast<std::size_t>(i)] = core.SharePlaylistRead(std::ref(read), std::chrono::minutes(5))->size();
    });
  WaitForWaiters(core, kWaiting);
  read.Open(1);
  read.WaitStarted(2);  // one of them reads for all
  read.Open(2);
  reader.join();
  for (auto& thread : waiting) thread.join();
  EXPECT_EQ(first, 1u);
  EXPECT_EQ(seen, std::vector<std::size_t>(kWaiting, 2u));
  EXPECT_EQ(read.Started(), 2);
  EXPECT_FALSE(core.PlaylistBusy);
}

TEST(ConcurrentQuenforth, AFailedPlaylistReadLetsTheWaitingPagesReadAgain) {
  TQuenforth core;
  std::mutex lock;
  std::condition_variable changed;
  bool failing = false, fail = false;
  std::thread failer([&] {
    auto read = [&]() -> Snapshot<PlaylistEntryList> {
      std::unique_lock held(lock);
      failing = true;
      changed.notify_all();
      changed.wait(held, [&] { return fail; });
      throw std::runtime_error("the player went away");
    };
    EXPECT_THROW(core.SharePlaylistRead(read, std::chrono::minutes(5)), std::runtime_error);
  });
  {
    std::unique_lock held(lock);
    changed.wait(held, [&] { return failing; });
  }
  std::size_t seen = 0;
  std::thread waiter([&] {
    seen = core.SharePlaylistRead([] { return std::make_shared<const PlaylistEntryList>(3); }, std::chrono::minutes(5))
               ->size();
  });
  WaitForWaiters(core, 1);
  {
    std::lock_guard guard(lock);
    fail = true;
    changed.notify_all();
  }
  failer.join();
  waiter.join();
  EXPECT_EQ(seen, 3u);
  EXPECT_FALSE(core.PlaylistBusy);
}

TEST(ConcurrentQuenforth, APageThatWaitsTooLongTakesTheNewestListNeverAnEmptyOne) {
  TQuenforth core;
  auto list = [](std::size_t size) { return std::make_shared<const PlaylistEntryList>(size); };
  EXPECT_EQ(core.SharePlaylistRead([&] { return list(0); }, std::chrono::minutes(5))->size(), 0u);
  core.PlaylistEntries.Set(list(4));  // a read swaps its list in
  HeldRead stuck;
  std::thread reader([&] { core.SharePlaylistRead(std::ref(stuck), std::chrono::minutes(5)); });
  stuck.WaitStarted(1);
  EXPECT_EQ(core.SharePlaylistRead([&] { return list(9); }, std::chrono::milliseconds(1))->size(), 4u);
  stuck.Open(1);
  reader.join();
  EXPECT_EQ(core.SharePlaylistRead([&] { return list(9); }, std::chrono::milliseconds(1))->size(), 9u);
}

}  // namespace
}  // namespace qf

namespace qf {
namespace {

TEST(PlaylistReads, AnUnchangedListIsReadAgainOnlyWhenThePlayerCannotTellOfChanges) {
  TQuenforth core;
  int reads = 0;
  auto read = [&] {
    ++reads;
    return std::make_shared<const PlaylistEntryList>(static_cast<std::size_t>(reads));
  };
  const auto limit = std::chrono::minutes(5);
  // A player that has never told of a change may not tell of any: every caller gets a fresh read.
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(core.SharePlaylistRead(read, limit)->size(), static_cast<std::size_t>(i));
  // Once it has told of one, the list read after it serves until the next.
  core.PlaylistModified();
  EXPECT_EQ(core.SharePlaylistRead(read, limit)->size(), 4u);
  EXPECT_EQ(core.SharePlaylistRead(read, limit)->size(), 4u);
  EXPECT_EQ(core.SharePlaylistRead(read, limit)->size(), 4u);
  EXPECT_EQ(reads, 4);
  core.PlaylistModified();
  EXPECT_EQ(core.SharePlaylistRead(read, limit)->size(), 5u);
  // A change told while a read runs (after the player wrote its list for it) is read again next time.
  auto changing = [&] {
    auto list = read();
    core.PlaylistModified();
    return list;
  };
  core.PlaylistModified();
  EXPECT_EQ(core.SharePlaylistRead(changing, limit)->size(), 6u);
  EXPECT_EQ(core.SharePlaylistRead(read, limit)->size(), 7u);
  EXPECT_EQ(core.SharePlaylistRead(read, limit)->size(), 7u);
}

}  // namespace
}  // namespace qf
