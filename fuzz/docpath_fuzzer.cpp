// libFuzzer target: the request path as a client sends it, mapped to a Windows path of the skin folder
// by the request pipeline (src/http/pipeline.cpp with src/core/pathrules.*), then answered.
//
// Input: the request target's path, still encoded ("/sub/..%5c..%5cuser.ini"); a "?" and what follows
// are cut off as the server cuts them. It is decoded as the server decodes it and handed to the pipeline
// on an emulated C: drive whose data folder holds the skin "base", a sibling skin "baseline", the settings
// files and a file named like the skin folder ("base.html").
//
// Oracle: the answer is 200, 403 or 404. A file sent lies inside the skin folder, by the pipeline's own
// rules and on the disk the emulated drive maps to (the host path, resolved); no answer holds the canary
// that every file outside the skin folder carries.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/pathrules.h"
#include "core/quenforth.h"
#include "core/text.h"
#include "fuzzing.h"
#include "http/pipeline.h"
#include "http/request.h"
#include "http/urlcode.h"
#include "platform/files.h"
#include "platform/posix/emulation.h"
#include "player/player.h"

namespace {

namespace fs = std::filesystem;

constexpr char kSkinFolder[] = "C:\\Plugins\\quenforth\\base";

// Records the answer instead of putting it on a connection.
struct RecordingChannel : qf::ResponseChannel {
  bool SendContent(const qf::TResponse& response) override {
    content = response.ContentText;
    return true;
  }
  FileResult SendFile(const qf::TResponse&, const std::string& path) override {
    if (!platform::FileExists(path)) return FileResult::Unreadable;
    file = path;
    return FileResult::Sent;
  }
  std::string content;
  std::optional<std::string> file;
};

struct Drive {
  Drive() {
    const fs::path c = qffuzz::ScratchFolder() / "drive_c";
    const fs::path data = c / "Plugins/quenforth";
    const std::string canary = qffuzz::kCanary;
    qffuzz::WriteHostFile(data / "base/index.html", "<p>index <#errormessage></p>");
    qffuzz::WriteHostFile(data / "base/style.css", "p{}");
    qffuzz::WriteHostFile(data / "base/sub/page.htm", "<p>sub page</p>");
    qffuzz::WriteHostFile(data / "base/Mixed Case.HTML", "<p>mixed</p>");
    qffuzz::WriteHostFile(data / "base/noext", "plain");
    for (const char* outside : {"quenforth.ini", "user.ini", "iplist.ini", "mime.ini", "base.html",
                                "baseline/index.html", "baseline/style.css", "cache/art.jpg"})
      qffuzz::WriteHostFile(data / outside, "[x]\r\n; " + canary + "\r\n");
    qffuzz::WriteHostFile(c / "secret.html", canary);
    qffuzz::WriteHostFile(c / "Plugins/secret.txt", canary);
    platform::emulation::MapDrive('C', c.string());
    skinHost = fs::canonical(data / "base");

    core.Player = &player;
    core.PluginFolder.Set("C:\\Plugins");
    qf::Modify(core.CurrentSettings, [](qf::Settings& settings) { settings.Skin = "base"; });
    core.TemplateExtensions.Set(std::make_shared<qf::TextList>(qf::TextList{"html", "htm"}));
    core.TemplateContentTypes.Set(std::make_shared<qf::TextList>(qf::TextList{"text/html", "text/html"}));
  }

  // Whether the Windows path names, on the disk, something inside the skin's host folder.
  bool InsideSkinOnDisk(const std::string& path) const {
    std::optional<std::string> host = platform::emulation::HostPath(path);
    if (!host) return false;
    std::error_code error;
    fs::path resolved = fs::canonical(*host, error);
    if (error) return false;
    auto [skinEnd, resolvedAt] = std::mismatch(skinHost.begin(), skinHost.end(), resolved.begin(), resolved.end());
    return skinEnd == skinHost.end() && resolvedAt != resolved.end();
  }

  qf::TPlayer player;  // no player window: every read gives 0 or ""
  qf::TQuenforth core;
  fs::path skinHost;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Drive* drive = new Drive();  // kept to the end of the process: the drive map refers to it
  std::string target(qffuzz::Text(data, size));
  if (target.empty() || target[0] != '/') target.insert(0, "/");
  std::optional<qf::RequestTarget> split = qf::SplitTarget(target);
  if (!split) return 0;
  qf::TRequest request;
  request.Document = qf::UrlDecode(split->path, qf::PlusMeans::Plus);
  if (request.Document.find('\0') != std::string::npos) return 0;  // the server answers 400 itself
  request.UnparsedDocument = split->path;
  request.CommandType = qf::CommandKind::Get;
  request.RemoteIP = "127.0.0.1";

  RecordingChannel channel;
  qf::TResponse response;
  response.Channel = &channel;
  qf::HTTPServer1CommandGet(drive->core, request, response);

  // The error pages name the decoded document: a canary the input spells itself is no finding.
  const std::string spelled = target + "\n" + request.Document;
  QF_FUZZ_CHECK(response.ResponseNo == 200 || response.ResponseNo == 403 || response.ResponseNo == 404);
  if (channel.file) {
    QF_FUZZ_CHECK(qf::StaysInsideFolder(*channel.file, kSkinFolder));
    QF_FUZZ_CHECK(drive->InsideSkinOnDisk(*channel.file));
    std::optional<std::string> sent = platform::ReadWholeFile(*channel.file);
    QF_FUZZ_CHECK(sent && !qffuzz::ShowsCanary(*sent, spelled));
  }
  QF_FUZZ_CHECK(!qffuzz::ShowsCanary(channel.content, spelled));
  QF_FUZZ_CHECK(!qffuzz::ShowsCanary(response.ContentText, spelled));
  return 0;
}
