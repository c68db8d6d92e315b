#pragma once
// The command dispatcher: runs every parameter of a request, in order, as one command against the
// player, the core object, the user's record and the session. Commands never write a page: they change
// state, leave HTML refusals in the session's ErrorMessage, or name a file to send in ServeFile.

#include <string>
#include <vector>

#include "core/text.h"

namespace qf {

class TQuenforth;
struct SessionData;
struct UserClass;

// Runs on the request's thread. Each parameter is "name=value" or a bare name. A value that is not a
// number where a command needs one stops the batch; the end-of-batch steps always run.
void RunCommands(TQuenforth& core, const TextList& params, UserClass* user, SessionData& session);

// The names the dispatcher knows, in lower case and sorted: every whole name, and the two parts ("_seteq",
// "_setini") that match any name containing them. For the reference of skin authors.
std::vector<std::string> CommandNames();

}  // namespace qf
