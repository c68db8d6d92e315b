#include "player/mlquery.h"

#include <cstring>

#include "core/text.h"
#include "platform/window.h"
#include "player/player.h"

namespace qf {

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
    if (SameText(*entry, name)) return std::string(*entry + std::strlen(*entry) + 1);
  return std::nullopt;
}

}  // namespace qf
