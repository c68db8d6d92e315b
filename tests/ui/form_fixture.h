#pragma once
// A core object on an emulated C: drive with two skins, and the platform's message boxes and dialogs
// answered by the test, for the window models.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/quenforth.h"
#include "platform/posix/emulation.h"
#include "quenforth_process.h"

namespace qf {

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace emulation = platform::emulation;
    emulation::UnmapAllDrives();
    emulation::MapDrive('C', folder_.Path().string());
    emulation::ClearRecords();
    emulation::ClearDialogAnswers();
    emulation::SetMessageBoxAnswer(platform::IDYES);
    emulation::SetShellOpens(true);
    core_.PluginFolder.Set("C:\\Player\\Plugins");
    core_.VersionText.Set("Quenforth KV7 (3.0)");
    Write("Player/Plugins/quenforth/base/index.html");
    Write("Player/Plugins/quenforth/Dark/index.html");
    std::filesystem::create_directories(folder_.Path() / "Music/Rock");
  }
  void TearDown() override {
    platform::emulation::SetMessageBoxAnswer(platform::IDOK);
    platform::emulation::ClearDialogAnswers();
  }
  void Write(const std::string& name, const std::string& text = "x") { qftest::WriteFile(folder_.Path() / name, text); }
  bool Exists(const std::string& name) const { return std::filesystem::exists(folder_.Path() / name); }
  // The message boxes shown so far as "caption: text".
  static std::vector<std::string> Messages() {
    std::vector<std::string> shown;
    for (const auto& record : platform::emulation::Records())
      if (record.kind == platform::emulation::Record::Kind::MessageBox)
        shown.push_back(record.caption + ": " + record.text);
    return shown;
  }
  static std::vector<std::string> Records(platform::emulation::Record::Kind kind) {
    std::vector<std::string> seen;
    for (const auto& record : platform::emulation::Records())
      if (record.kind == kind) seen.push_back(record.caption + ": " + record.text);
    return seen;
  }
  const Settings& Current() {
    snapshot_ = core_.CurrentSettings.Get();
    return *snapshot_;
  }

  qftest::TempFolder folder_;
  TQuenforth core_;
  Snapshot<Settings> snapshot_;
};

}  // namespace qf
