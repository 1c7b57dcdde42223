# Install.cmake - installing Orv5w32 and making its packages.
#
# cmake --install puts, under the prefix (GNUInstallDirs folders):
#   include/        orv5w32.h, orv5_adapter.h
#   lib/            libOrv5w32.so* (Windows: the import library and .def)
#   lib/orv5w32/    the adapter plug-ins (Linux; Windows: beside the DLL)
#   lib/cmake/Orv5w32/, lib/pkgconfig/orv5w32.pc
#   bin/            orvw, zdxsim (Windows: also Orv5w32.dll and the plug-ins)
#   share/man/man1/ orvw.1, zdxsim.1 (Linux)
#   lib/systemd/system/ orvw-collect@.service, the station as a service (Linux)
#   share/doc/orv5w32/  README.md, LICENSE; examples/cradle1.conf (Linux)
# CPack makes a Debian package on Linux and a zip for each Windows build.
# The one version is the project's (top CMakeLists.txt).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ORV5_INSTALL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Orv5w32)
set(ORV5_INSTALL_DOC_DIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/orv5w32)
if(WIN32)
  # The library looks for plug-ins in its own folder.
  set(ORV5_INSTALL_PLUGIN_DIR ${CMAKE_INSTALL_BINDIR})
else()
  # The library looks in "orv5w32" beside itself (adapters/CMakeLists.txt
  # installs the plug-ins there).
  set(ORV5_INSTALL_PLUGIN_DIR ${CMAKE_INSTALL_LIBDIR}/orv5w32)
endif()

# The library, its headers and the imported target Orv5w32::Orv5w32.
install(TARGETS Orv5w32 EXPORT Orv5w32Targets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES include/orv5w32.h include/orv5_adapter.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT Orv5w32Targets NAMESPACE Orv5w32:: DESTINATION ${ORV5_INSTALL_CMAKE_DIR})
configure_package_config_file(cmake/Orv5w32Config.cmake.in
  ${PROJECT_BINARY_DIR}/Orv5w32Config.cmake
  INSTALL_DESTINATION ${ORV5_INSTALL_CMAKE_DIR}
  PATH_VARS ORV5_INSTALL_PLUGIN_DIR)
write_basic_package_version_file(${PROJECT_BINARY_DIR}/Orv5w32ConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/Orv5w32Config.cmake
              ${PROJECT_BINARY_DIR}/Orv5w32ConfigVersion.cmake
  DESTINATION ${ORV5_INSTALL_CMAKE_DIR})

# pkg-config: the prefix relative to the .pc file's folder.
file(RELATIVE_PATH ORV5_PC_PREFIX_FROM_PCDIR
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ORV5_PC_PREFIX_FROM_PCDIR "${ORV5_PC_PREFIX_FROM_PCDIR}")
configure_file(cmake/orv5w32.pc.in ${PROJECT_BINARY_DIR}/orv5w32.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/orv5w32.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The programs.  orvw finds the installed library through a relative run
# path, so an installed tree works from any prefix and can be moved.
install(TARGETS orvw zdxsim RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT WIN32)
  file(RELATIVE_PATH ORV5_BIN_TO_LIB
    /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(orvw PROPERTIES INSTALL_RPATH "\$ORIGIN/${ORV5_BIN_TO_LIB}")
  install(FILES man/orvw.1 man/zdxsim.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

  # The collecting station as a systemd service, one instance per cradle,
  # and an example of its settings file (installed as documentation: the
  # settings under /etc are the administrator's, one per cradle).  The unit
  # names orvw by its full installed path, which only the install itself
  # knows (cmake --install --prefix, cpack's /usr), so it is written then.
  # systemd reads units from lib/systemd/system under /usr and /usr/local.
  set(ORV5_UNIT_BUILT ${PROJECT_BINARY_DIR}/dist/orvw-collect@.service)
  install(CODE "
    set(ORVW \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/orvw\")
    configure_file(\"${PROJECT_SOURCE_DIR}/dist/systemd/orvw-collect@.service.in\"
      \"${ORV5_UNIT_BUILT}\" @ONLY)
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/lib/systemd/system\"
      TYPE FILE FILES \"${ORV5_UNIT_BUILT}\")
  ")
  install(FILES dist/systemd/cradle1.conf DESTINATION ${ORV5_INSTALL_DOC_DIR}/examples)
endif()

if(WIN32)
  # Plug-ins beside the DLL; the .def files for hosts that make their own
  # import library (Orv5w32.def: the DLL's export names; i686 also the
  # decorated WINAPI names that 32-bit callers bind to).
  foreach(model EESI AIRM KKCI FMIR)
    install(FILES $<TARGET_FILE:Orv5${model}> DESTINATION ${ORV5_INSTALL_PLUGIN_DIR})
  endforeach()
  install(FILES src/orv5w32.def DESTINATION ${CMAKE_INSTALL_LIBDIR} RENAME Orv5w32.def)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    install(FILES src/orv5w32_stdcall.def DESTINATION ${CMAKE_INSTALL_LIBDIR}
      RENAME Orv5w32_stdcall.def)
  endif()
endif()

install(FILES README.md LICENSE DESTINATION ${ORV5_INSTALL_DOC_DIR})

# ---- packages --------------------------------------------------------------
set(CPACK_PACKAGE_NAME orv5w32)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "The Orv5w32 developers")
set(CPACK_PACKAGE_CONTACT "The Orv5w32 developers <orv5w32@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "File transfer to ZDX handheld terminals: library, adapter plug-ins, orvw CLI, zdxsim")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_RESOURCE_FILE_README ${PROJECT_SOURCE_DIR}/README.md)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
  else()
    set(CPACK_SYSTEM_NAME win32)
  endif()
  # orv5w32-1.01-win64/bin/Orv5w32.dll ...: one folder when unpacked.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION libs)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # A running systemd re-reads its units after the package comes or goes.
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${PROJECT_SOURCE_DIR}/dist/debian/postinst ${PROJECT_SOURCE_DIR}/dist/debian/postrm)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "File transfer to ZDX handheld barcode terminals\n The Orv5w32 library (libOrv5w32.so, headers, CMake and pkg-config\n files), the four adapter plug-ins, the orvw command-line front end\n with its collecting station (also as the systemd service\n orvw-collect@NAME, one per cradle), and the zdxsim terminal simulator.")
endif()
include(CPack)
