#include "http/pipeline.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "commands/commands.h"
#include "core/pathrules.h"
#include "core/quenforth.h"
#include "core/session.h"
#include "http/access.h"
#include "http/accesslog.h"
#include "http/mimetable.h"
#include "http/request.h"
#include "http/upload.h"
#include "pageproducer/producer.h"
#include "platform/files.h"

namespace qf {
namespace {

// The error pages' texts, identifiers 5100 to 5107: 404, 403, 401 and 503, first and second text each.
constexpr std::array<std::string_view, 8> kErrorTexts{
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>404 Not Found</title>\n"
    "</head><body>\n<h1>Not Found</h1>\n<p>The requested URL ",
    " was not found on this server.</p>\n</body></html>",
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>403 Forbidden</title>\n"
    "</head><body>\n<h1>Forbidden</h1>\n<p>You don't have permission to access ",
    " on this server.</p>\n</body></html>",
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>401 Unauthorized</title>\n"
    "</head><body>\n<h1>Unauthorized</h1>\n<p>You don't have permission to access ",
    " on this server.</p>\n</body></html>",
    "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><head>\n<title>503 Service Unavailable</title>\n"
    "</head><body>\n<h1>Service Unavailable</h1>\n<p>The service you have requested is currently not available. (",
    ")</p>\n</body></html>",
};

// How large the last page of a template came to, by a hash of its path: the next page of it is produced
// into that much room at once, instead of growing a page of a megabyte by doubling, a copy of all it held
// each time. A hint only: two templates that share a slot, or a page that comes out smaller, cost nothing.
class PageSizes {
 public:
  std::size_t Hint(std::string_view path) const { return slots_[Slot(path)].load(std::memory_order_relaxed); }
  void Note(std::string_view path, std::size_t size) {
    slots_[Slot(path)].store(std::min(size, kMaxHint), std::memory_order_relaxed);
  }

 private:
  static constexpr std::size_t kSlots = 64;
  static constexpr std::size_t kMaxHint = 4 << 20;
  static std::size_t Slot(std::string_view path) { return std::hash<std::string_view>{}(path) % kSlots; }
  std::array<std::atomic<std::size_t>, kSlots> slots_{};
};

PageSizes& LastPageSizes() {
  static PageSizes sizes;
  return sizes;
}

void Answer(TResponse& response, int status, std::string_view document) {
  response.ResponseNo = status;
  response.ContentText = ErrorPage(status, document);
}

// The extension of the path's last name, without its dot; empty when it has none.
std::string_view ExtensionOf(std::string_view path) {
  std::size_t dot = path.rfind('.');
  std::size_t slash = path.find_last_of("\\/");
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return path.substr(dot + 1);
}

// The content type of a template extension, or empty when the path is not a template.
std::string TemplateContentType(const TQuenforth& core, std::string_view path, bool* isTemplate) {
  std::string_view extension = ExtensionOf(path);
  *isTemplate = false;
  if (extension.empty()) return std::string();
  Snapshot<TextList> extensions = core.TemplateExtensions.Get();
  Snapshot<TextList> types = core.TemplateContentTypes.Get();
  std::string type;
  for (std::size_t i = 0; i < extensions->size(); ++i) {
    if (SameText(extension, (*extensions)[i])) {
      *isTemplate = true;
      type = i < types->size() ? (*types)[i] : std::string();
    }
  }
  return type;
}

// The user the request runs for, when user management admits one.
std::shared_ptr<UserClass> Authenticate(TQuenforth& core, const TRequest& request) {
  if (request.AuthUsername.empty() || request.AuthPassword.empty()) return nullptr;
  return AdmittedUser(*core.Users.Get(), request.AuthUsername, request.AuthPassword);
}

}  // namespace

std::string ErrorPage(int status, std::string_view document) {
  std::size_t first = status == 404 ? 0 : status == 403 ? 2 : status == 401 ? 4 : 6;
  std::string page(kErrorTexts[first]);
  page += HtmlEncode(document, Apostrophe::Keep);
  page += kErrorTexts[first + 1];
  return page;
}

void HTTPServer1CommandGet(TQuenforth& core, TRequest& request, TResponse& response) {
  if (core.ShuttingDown) return;
  try {
    // One snapshot for the whole request: a change of the settings meanwhile applies from the next one.
    Snapshot<Settings> settings = core.CurrentSettings.Get();
    if (settings->IPManagement && !CheckIpWhitelist(*core.IpWhitelist.Get(), request.RemoteIP))
      return Answer(response, 403, request.Document);

    // Before authentication, so refused logins are logged too.
    LogRequest(*settings, request);

    std::shared_ptr<UserClass> user;
    if (settings->enablePassword) {
      // An address that failed too often is refused without a check for a while.
      if (!core.Logins.Blocked(request.RemoteIP)) {
        user = Authenticate(core, request);
        bool tried = !request.AuthUsername.empty() || !request.AuthPassword.empty();
        if (!user && tried && core.Logins.Failed(request.RemoteIP)) LogLoginsRefused(core, request.RemoteIP);
      }
      if (!user) {
        response.AuthRealm = "Quenforth";
        return Answer(response, 401, request.Document);
      }
    }

    if (request.CommandType != CommandKind::Get && request.CommandType != CommandKind::Post) return;

    SessionData session;
    session.Document = request.Document;
    session.UnparsedDocument = request.UnparsedDocument;
    session.FromAnotherSite = !settings->allowCrossSiteCommands &&
                              FromAnotherSite(request.Host, request.SecFetchSite, request.Origin, request.Referer);
    if (!request.Params.empty()) RunCommands(core, request.Params, user.get(), session);

    // The skin as this request's commands left it (?skin= answers with the new skin's page already).
    std::string skin = user ? user->Skin.Get() : core.CurrentSettings.Get()->Skin;
    session.SkinName = skin;
    std::string skinFolder = core.DataFolder("\\" + skin);

    if (request.CommandType == CommandKind::Post && request.PostStream)
      StoreUpload(core, *request.PostStream, request.ContentType, user.get(), session);

    std::string path;
    if (SameText(request.Document, "/")) {
      path = skinFolder + "\\index.html";
    } else {
      path = NormalizePath(skinFolder + request.Document);  // which turns the document's '/' into '\\'
    }

    if (!session.ServeFile.empty()) {
      if (SameText(session.ServeFile, "forbidden")) return Answer(response, 403, request.Document);
      path = session.ServeFile;
    } else if (!IsPlainName(skin) || !IsInsideFolder(path, skinFolder)) {
      // Only files inside the skin's own folder are answered: never the data folder's settings files.
      return Answer(response, 403, request.Document);
    }
    if (IsRefusedPath(path)) return Answer(response, 403, request.Document);

    // A file that cannot be opened (missing, a folder) is answered 404; the open is the existence test.
    if (core.ShuttingDown) return Answer(response, 503, request.Document);
    bool isTemplate = false;
    std::string templateType = TemplateContentType(core, path, &isTemplate);
    if (isTemplate && session.ServeFile.empty()) {
      std::shared_ptr<const std::string> text = core.SkinTexts.Read(path);
      if (!text) return Answer(response, 404, request.Document);
      session.TemplatePath = path;
      TMyPageProducer producer(user.get(), *core.Player, core, session);
      response.ContentText = producer.Produce(text, LastPageSizes().Hint(path));
      LastPageSizes().Note(path, response.ContentText.size());
      response.Hold = producer.Charge();
      response.ContentType = templateType.empty() ? MimeTypeFor(path) : templateType;
      response.WriteContent();
    } else {
      response.ContentType = MimeTypeFor(path);
      if (!response.ServeFile(path) && !response.Written()) Answer(response, 404, request.Document);
    }
  } catch (...) {
    // Any failure ends the event; whatever the response already holds is sent.
  }
}

}  // namespace qf
