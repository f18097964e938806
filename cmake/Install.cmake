# Installs the libraries and their public headers where a distribution expects them, with a
# pkg-config file (kestro32.pc) and a CMake package (find_package(Kestro32) gives
# Kestro32::kestro32, Kestro32::shadrel and Kestro32::kestroplat).
#
# Headers go to <includedir>/kestro32 so that both <Kestro32.h> and <win32/windows.h> resolve
# through one include directory.
include(CMakePackageConfigHelpers)

set(KESTRO_INSTALL_HEADERS ${CMAKE_INSTALL_INCLUDEDIR}/kestro32)
set(KESTRO_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kestro32)

# Installed anywhere, the libraries find each other beside themselves: a host's run path does
# not reach the dependencies of the libraries it loads.
if(NOT WIN32)
  set_target_properties(kestro32 shadrel PROPERTIES INSTALL_RPATH "$ORIGIN")
endif()

install(TARGETS kestro32 shadrel kestroplat
  EXPORT Kestro32Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})

install(FILES
  ${PROJECT_SOURCE_DIR}/include/Kestro32.h
  ${PROJECT_SOURCE_DIR}/shadrel/include/Shadrel.h
  DESTINATION ${KESTRO_INSTALL_HEADERS})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/shadrel/include/shadrel
  DESTINATION ${KESTRO_INSTALL_HEADERS})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/include/win32
  DESTINATION ${KESTRO_INSTALL_HEADERS})
# Windows builds write part of win32/system.h from the kernel32 call list.
if(WIN32)
  install(DIRECTORY ${PROJECT_BINARY_DIR}/platform/include/win32
    DESTINATION ${KESTRO_INSTALL_HEADERS})
endif()

install(EXPORT Kestro32Targets NAMESPACE Kestro32:: DESTINATION ${KESTRO_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/Kestro32Config.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/Kestro32Config.cmake
  INSTALL_DESTINATION ${KESTRO_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/Kestro32ConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/Kestro32Config.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/Kestro32ConfigVersion.cmake
  DESTINATION ${KESTRO_INSTALL_CMAKEDIR})

# The pkg-config file finds the prefix from its own place, so the installed tree can be moved
# and installed under another prefix than the one configured.
file(RELATIVE_PATH KESTRO_PC_PREFIX_FROM_PCDIR /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" KESTRO_PC_PREFIX_FROM_PCDIR "${KESTRO_PC_PREFIX_FROM_PCDIR}")
# The library names differ on Windows (Kestro32.dll); the generator expressions name them.
configure_file(${CMAKE_CURRENT_LIST_DIR}/kestro32.pc.in ${CMAKE_CURRENT_BINARY_DIR}/kestro32.pc.in
  @ONLY)
file(GENERATE OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/kestro32.pc
  INPUT ${CMAKE_CURRENT_BINARY_DIR}/kestro32.pc.in)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/kestro32.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
