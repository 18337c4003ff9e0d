# Installing the suite into a prefix, and its Debian package.
#
# Layout: every program, plug-in and library of the suite lives together in
# <libdir>/tavik (the build's bin/ folder, as it is): the controller finds its
# plug-ins beside itself, the client library finds the controller and its
# dialog libraries beside itself, whatever the prefix. The public names are
# symbolic links: <bindir>/{TAVIK,Bitora,Lumo,padsim} and the two libraries
# other programs link against, <libdir>/lib{tavikutil,LumoUtil}.so*. Headers,
# pkg-config files and a CMake package let other programs build against them.
include(GNUInstallDirs)

set(TAVIK_PKG_DIR ${CMAKE_INSTALL_LIBDIR}/tavik)

# Targets installed when this build has them.
set(_tavik_programs TAVIK Bitora Lumo padsim)
set(_tavik_modules Padrik Padrik_ft Notdrv)
set(_tavik_libraries tavikutil LumoUtil tavikutil_ui LumoCtrl LumoHook)

foreach(lib tavikutil LumoUtil)
  if(TARGET ${lib})
    set_target_properties(${lib} PROPERTIES VERSION ${PROJECT_VERSION} SOVERSION ${PROJECT_VERSION_MAJOR})
  endif()
endforeach()

foreach(t ${_tavik_programs} ${_tavik_modules} ${_tavik_libraries})
  if(NOT TARGET ${t})
    continue()
  endif()
  # Everything in the folder finds its neighbours through $ORIGIN.
  set_target_properties(${t} PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS ${t}
    RUNTIME DESTINATION ${TAVIK_PKG_DIR} COMPONENT runtime
    LIBRARY DESTINATION ${TAVIK_PKG_DIR} COMPONENT runtime NAMELINK_COMPONENT dev)
endforeach()

# Relative symbolic links, so that the tree can move (DESTDIR, packages).
function(tavik_install_link link_dir name target_rel)
  install(CODE "
    set(_dir \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${link_dir}\")
    file(MAKE_DIRECTORY \"\${_dir}\")
    file(CREATE_LINK \"${target_rel}\" \"\${_dir}/${name}\" SYMBOLIC)
    message(STATUS \"Link: \${_dir}/${name} -> ${target_rel}\")" COMPONENT runtime)
endfunction()

file(RELATIVE_PATH _bin_to_pkg /${CMAKE_INSTALL_BINDIR} /${TAVIK_PKG_DIR})
foreach(p ${_tavik_programs})
  if(TARGET ${p})
    tavik_install_link(${CMAKE_INSTALL_BINDIR} ${p} ${_bin_to_pkg}/${p})
  endif()
endforeach()
foreach(lib tavikutil LumoUtil)
  if(TARGET ${lib})
    tavik_install_link(${CMAKE_INSTALL_LIBDIR} lib${lib}.so.${PROJECT_VERSION_MAJOR}
                       tavik/lib${lib}.so.${PROJECT_VERSION_MAJOR})
    tavik_install_link(${CMAKE_INSTALL_LIBDIR} lib${lib}.so tavik/lib${lib}.so.${PROJECT_VERSION_MAJOR})
  endif()
endforeach()

# Headers for C and C++ programs.
install(FILES client/tavikutil.h imaging/lumoutil.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tavik COMPONENT dev)
install(FILES common/export.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/tavik/common COMPONENT dev)

# pkg-config files and the CMake package (find_package(Tavik)).
file(RELATIVE_PATH PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" PC_TO_PREFIX "${PC_TO_PREFIX}")
foreach(pc tavikutil lumoutil)
  configure_file(packaging/${pc}.pc.in ${CMAKE_BINARY_DIR}/packaging/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/packaging/${pc}.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endforeach()
include(CMakePackageConfigHelpers)
configure_package_config_file(packaging/TavikConfig.cmake.in ${CMAKE_BINARY_DIR}/packaging/TavikConfig.cmake
  INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Tavik
  PATH_VARS CMAKE_INSTALL_INCLUDEDIR CMAKE_INSTALL_LIBDIR)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/packaging/TavikConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/packaging/TavikConfig.cmake ${CMAKE_BINARY_DIR}/packaging/TavikConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/Tavik COMPONENT dev)

# Desktop integration: the sample picture, desktop entries, the udev rule, man pages.
install(DIRECTORY resources/samples/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavik/samples COMPONENT runtime)
foreach(entry bitora lumo)
  if((entry STREQUAL "bitora" AND TARGET Bitora) OR (entry STREQUAL "lumo" AND TARGET Lumo))
    install(FILES packaging/${entry}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
  endif()
endforeach()
install(FILES packaging/70-tavik.rules DESTINATION lib/udev/rules.d COMPONENT runtime)
include(cmake/TavikManPages.cmake)

# The Debian package: one package holding the whole suite.
set(CPACK_PACKAGE_NAME tavik)
set(CPACK_PACKAGE_VENDOR "Orvane")
set(CPACK_PACKAGE_CONTACT "Orvane <support@orvane.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Software for refreshable tactile pin displays")
set(CPACK_PACKAGE_DESCRIPTION "Drives refreshable tactile pin displays (serial, USB, braille note-taker), lets up
to 16 applications share one display, turns images and screen contents into pins, and shows bitmap files on the
pins with full control from the device's keys. Includes padsim, a virtual display.")
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/bin)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "at-spi2-core, udev, qt6-image-formats-plugins, libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_SOURCE_DIR}/packaging/debian/postinst ${CMAKE_SOURCE_DIR}/packaging/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
include(CPack)
