// The module entry point of KorvoLoader.dll. The C runtime constructs the module's static
// objects (the manager holder, which builds the manager) before it calls DllMain at process
// attach, and destroys them after DllMain at process detach.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  // No per-thread work: thread attach and detach notifications are turned off. Success is
  // reported whatever the manager's construction gave.
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
