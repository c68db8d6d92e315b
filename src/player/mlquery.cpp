#include "player/mlquery.h"

#include <cstring>

#include "platform/window.h"
#include "player/player.h"

namespace qf {
namespace {

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

}  // namespace

MediaLibraryQuery::MediaLibraryQuery(TPlayer& player, Kind kind, const std::string& text, int maxResults)
    : window_(player.GetMediaLibraryWindow()), text_(text) {
  record_.query = text_.data();
  record_.max_results = maxResults;
  if (!window_) return;
  platform::SendMessageA(window_, host::WM_ML_IPC, reinterpret_cast<platform::WPARAM>(&record_),
                         kind == Kind::Search ? host::ML_IPC_DB_RUNQUERY_SEARCH : host::ML_IPC_DB_RUNQUERY);
}

MediaLibraryQuery::~MediaLibraryQuery() {
  if (window_)
    platform::SendMessageA(window_, host::WM_ML_IPC, reinterpret_cast<platform::WPARAM>(&record_),
                           host::ML_IPC_DB_FREEQUERYRESULTS);
}

std::optional<std::string> MediaLibraryQuery::Extended(const host::itemRecord& item, std::string_view name) {
  if (!item.extended_info) return std::nullopt;
  for (char** entry = item.extended_info; *entry; ++entry)
    if (SameName(*entry, name)) return std::string(*entry + std::strlen(*entry) + 1);
  return std::nullopt;
}

}  // namespace qf
