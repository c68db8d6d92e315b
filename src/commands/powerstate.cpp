#include "commands/powerstate.h"

#include "core/text.h"
#include "platform/system.h"

namespace qf {
namespace {

constexpr char kShutdownPrivilege[] = "SeShutdownPrivilege";

}  // namespace

TLogoff::TLogoff() : nt_(platform::GetEnvironmentVariableA("OS").value_or("") == "Windows_NT") {}

void TLogoff::AdjustPrivilege(bool enable) {
  platform::ProcessToken token =
      platform::ProcessToken::Open(platform::TOKEN_ADJUST_PRIVILEGES | platform::TOKEN_QUERY);
  if (!token.IsOpen())
    platform::MessageBoxA(nullptr, "ERROR: Unable to open process token.", "Quenforth", platform::MB_OK);
  platform::SetLastError(0);
  token.AdjustPrivilege(kShutdownPrivilege, enable);
  if (platform::GetLastError() != 0)
    platform::MessageBoxA(nullptr, "ERROR: Unable to adjust token privileges.", "Quenforth", platform::MB_OK);
}

void TLogoff::Exit(unsigned flags) {
  if (nt_) AdjustPrivilege(true);
  platform::ExitWindowsEx(flags, 0);
  if (nt_) AdjustPrivilege(false);
}

void TLogoff::PowerOff() { Exit(platform::EWX_POWEROFF); }
void TLogoff::Reboot() { Exit(platform::EWX_REBOOT); }

CPowerState::CPowerState() { AdjustPrivilege(true); }
CPowerState::~CPowerState() { AdjustPrivilege(false); }

bool CPowerState::AdjustPrivilege(bool enable) {
  platform::SetLastError(0);
  platform::ProcessToken token = platform::ProcessToken::Open(platform::TOKEN_ADJUST_PRIVILEGES);
  bool adjusted = token.IsOpen() && token.AdjustPrivilege(kShutdownPrivilege, enable);
  platform::DWORD error = platform::GetLastError();
  if (!adjusted || error != 0) {
    platform::MessageBoxA(nullptr, Format("The operation failed with error 0x%.8X.", static_cast<unsigned>(error)),
                          "Error", platform::MB_ICONERROR);
    return false;
  }
  return true;
}

bool CPowerState::Standby() { return platform::SetSystemPowerState(1, 0) != 0; }

}  // namespace qf
