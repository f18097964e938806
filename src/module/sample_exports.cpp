// The two sample exports that stand beside the class.
#include <Kestro32.h>

// Zero from load on: constant initialisation, so no code of the library runs to set it.
int nKestro32 = 0;

int fnKestro32() {
  return 42;
}
