// The DLL's entry point: nothing to do at attach or detach; the player calls init and quit.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
