#pragma once
// The upload handler: stores the file of a multipart POST in the current folder of the request's folder
// context, within the user's upload allowance.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qf {

class TQuenforth;
class ByteSource;
struct SessionData;
struct UserClass;

// Appended to the session's ErrorMessage when an upload is refused, and when it could not be written.
inline constexpr char kUploadRefused[] = "File upload not allowed.</b>\r\n";
inline constexpr char kUploadFailed[] = "File upload failed.</b>\r\n";

// Stores the first part of a multipart/form-data body (`contentType` is the request's Content-Type).
// A body that is not multipart, is cut short, or whose first part names no file stores nothing and says
// nothing. A refusal (no allowance, uploads switched off without user management, a file name that is no
// plain name, a current folder outside the allowed ones) appends kUploadRefused; a failed write appends
// kUploadFailed and leaves no file behind. Never replaces an existing file. Runs on the request's thread.
void StoreUpload(TQuenforth& core, ByteSource& body, std::string_view contentType, UserClass* user,
                 SessionData& session);

// The name a file the client calls `clientName` is stored under: its last component after "\" or "/",
// or nothing when that is empty, ".", "..", holds ":" or a control character, ends in a dot or a blank,
// names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension) or is too long.
std::optional<std::string> UploadFileName(std::string_view clientName);

// The n-th name tried for a file: `name` itself for n = 1, then "name (n).ext".
std::string NumberedName(std::string_view name, int n);

// Takes an upload of `bytes` from the user's allowance (size in KB: bytes / 1024, the rest dropped):
// the KB added to currentupload, or nothing when the mode refuses it. Simultaneous uploads of one user
// each see the other's KB. GiveBackAllowance undoes a take whose file could not be stored.
std::optional<std::int32_t> TakeAllowance(UserClass& user, std::uint64_t bytes);
void GiveBackAllowance(UserClass& user, std::int32_t kb);

}  // namespace qf
