// The process-wide version record. Its size field doubles as the mark that it has been filled.
#pragma once

#include <win32/windows.h>

extern win32::OSVERSIONINFOW g_osvi;

namespace kestro {

// Fills the record from the system, whether or not it was filled before.
void RefillVersionRecord();

}  // namespace kestro
