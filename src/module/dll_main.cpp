// The library entry on Windows. Loading and unloading run no code of the library's own: no object
// is created at attach and nothing is cleaned up at detach beyond what the runtime does itself.
#include <Kestro32.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
  return TRUE;
}
