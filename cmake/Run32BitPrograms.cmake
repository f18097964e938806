# A 32-bit x86 build runs its own programs (tests, test discovery) natively where the kernel
# executes i386 code, and through qemu's user-mode emulator where it does not (some virtual
# machines run 64-bit code only).
include_guard(GLOBAL)

set(_probe ${CMAKE_BINARY_DIR}/CMakeFiles/run32/probe.c)
file(WRITE ${_probe} "int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n")
try_run(_run_result _compile_result ${CMAKE_BINARY_DIR}/CMakeFiles/run32 ${_probe})

if(NOT _compile_result)
  message(FATAL_ERROR "The C compiler cannot build 32-bit x86 programs (g++-multilib missing?)")
endif()
if(_run_result EQUAL 0)
  message(STATUS "32-bit programs run natively")
  return()
endif()

find_program(KESTRO_QEMU_I386 qemu-i386)
if(NOT KESTRO_QEMU_I386)
  message(FATAL_ERROR "This machine cannot run 32-bit x86 programs and qemu-i386 (package "
                      "qemu-user) is not installed")
endif()
message(STATUS "32-bit programs run through ${KESTRO_QEMU_I386}")
set(CMAKE_CROSSCOMPILING_EMULATOR ${KESTRO_QEMU_I386})
