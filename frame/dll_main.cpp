// Library start-up of a plug-in DLL. The runtime's own start-up has run when
// this is called; the plug-ins keep no per-thread state, so the notifications
// of threads starting and ending are switched off, and nothing else is done.
#include "platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID /*reserved*/) {
  if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
  return TRUE;
}
