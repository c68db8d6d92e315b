#pragma once
// Powering the computer off, restarting it and suspending it, for administrators' browser commands.
// Both classes take the shutdown privilege of the process token for the duration of one call, and
// report failures in message boxes on the computer that runs the player (never to the browser). They run
// on the request's thread; one instance per command.

namespace qf {

// Power-off and restart. On Windows NT (environment variable OS "Windows_NT") the privilege is enabled
// around the call; elsewhere the call is made as it is.
class TLogoff {
 public:
  TLogoff();
  void PowerOff();
  void Reboot();

 private:
  void Exit(unsigned flags);
  void AdjustPrivilege(bool enable);
  bool nt_ = false;
};

// Standby: the privilege is enabled while the object lives.
class CPowerState {
 public:
  CPowerState();
  ~CPowerState();
  CPowerState(const CPowerState&) = delete;
  CPowerState& operator=(const CPowerState&) = delete;
  // Asks for suspend; true when the system accepted. Attempted even when enabling the privilege failed.
  bool Standby();

 private:
  bool AdjustPrivilege(bool enable);
};

}  // namespace qf
