#pragma once
// The request pipeline: what every request the server parses goes through, in a fixed order.

#include <string>
#include <string_view>

namespace qf {

class TQuenforth;
struct TRequest;
struct TResponse;

// The request event. Runs on the connection's thread; everything goes into `response`. Nothing is done
// while the plug-in shuts down; any failure ends the event silently with what the response holds.
void HTTPServer1CommandGet(TQuenforth& core, TRequest& request, TResponse& response);

// The fixed page for 401, 403, 404 or 503 naming `document` (HTML-escaped).
std::string ErrorPage(int status, std::string_view document);

}  // namespace qf
