# What `cmake --install` puts under the prefix: the public header, the two
# libraries (with SONAME and version), zoc, a CMake package and a pkg-config
# file. Programs include <zoc/zoc.h> and link ZoAudioComponents::ZoAudioComponents
# or `pkg-config --libs zoaudio`.

include(CMakePackageConfigHelpers)

set(ZOC_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZoAudioComponents)

install(TARGETS ZoAudioComponents platform EXPORT ZoAudioComponentsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS zoc RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_SOURCE_DIR}/include/zoc/zoc.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/zoc)

install(EXPORT ZoAudioComponentsTargets NAMESPACE ZoAudioComponents:: DESTINATION ${ZOC_CMAKE_DIR})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/ZoAudioComponentsConfig.cmake.in
  ${CMAKE_BINARY_DIR}/ZoAudioComponentsConfig.cmake INSTALL_DESTINATION ${ZOC_CMAKE_DIR})
# Before 1.0 a minor release may change the interface.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/ZoAudioComponentsConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${CMAKE_BINARY_DIR}/ZoAudioComponentsConfig.cmake
  ${CMAKE_BINARY_DIR}/ZoAudioComponentsConfigVersion.cmake DESTINATION ${ZOC_CMAKE_DIR})

# pkg-config paths relative to the file, so a moved prefix still works.
file(RELATIVE_PATH ZOC_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ZOC_PC_TO_PREFIX "${ZOC_PC_TO_PREFIX}")
configure_file(${CMAKE_SOURCE_DIR}/cmake/zoaudio.pc.in ${CMAKE_BINARY_DIR}/zoaudio.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/zoaudio.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
