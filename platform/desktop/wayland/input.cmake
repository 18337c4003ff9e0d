# The input side of the Wayland back end (pointer, windows, hot keys, view frame) as a static
# library of its own, built when wayland-client, wayland-scanner and GIO are found. Included from
# the desktop layer's build file.
find_package(PkgConfig QUIET)
if(PkgConfig_FOUND)
  pkg_check_modules(TAVIK_WL_CLIENT QUIET IMPORTED_TARGET wayland-client)
  pkg_check_modules(TAVIK_WL_GIO QUIET IMPORTED_TARGET gio-2.0)
  pkg_get_variable(TAVIK_WL_PROTOCOLS_DIR wayland-protocols pkgdatadir)
endif()
find_program(TAVIK_WAYLAND_SCANNER wayland-scanner)
if(NOT TARGET PkgConfig::TAVIK_WL_CLIENT OR NOT TARGET PkgConfig::TAVIK_WL_GIO OR NOT TARGET tavik_atspi OR NOT TAVIK_WAYLAND_SCANNER
   OR NOT TAVIK_WL_PROTOCOLS_DIR)
  message(STATUS "Desktop layer: wayland-client, wayland-scanner, wayland-protocols or GIO missing; no Wayland input")
  set(TAVIK_HAS_WAYLAND_INPUT OFF)
  set(TAVIK_HAS_WAYLAND_INPUT OFF PARENT_SCOPE)
  return()
endif()

set(_wl_gen ${CMAKE_CURRENT_BINARY_DIR}/wayland_protocols)
file(MAKE_DIRECTORY ${_wl_gen})
set(_wl_sources)
foreach(xml
    ${CMAKE_CURRENT_SOURCE_DIR}/wlroots/protocols/wlr-virtual-pointer-unstable-v1.xml
    ${CMAKE_CURRENT_SOURCE_DIR}/wlroots/protocols/wlr-foreign-toplevel-management-unstable-v1.xml
    ${CMAKE_CURRENT_SOURCE_DIR}/wlroots/protocols/wlr-layer-shell-unstable-v1.xml
    ${CMAKE_CURRENT_SOURCE_DIR}/wlroots/protocols/wlr-screencopy-unstable-v1.xml
    ${TAVIK_WL_PROTOCOLS_DIR}/stable/xdg-shell/xdg-shell.xml)
  get_filename_component(base ${xml} NAME_WE)
  add_custom_command(OUTPUT ${_wl_gen}/${base}-client-protocol.h ${_wl_gen}/${base}-protocol.c
    COMMAND ${TAVIK_WAYLAND_SCANNER} client-header ${xml} ${_wl_gen}/${base}-client-protocol.h
    COMMAND ${TAVIK_WAYLAND_SCANNER} private-code ${xml} ${_wl_gen}/${base}-protocol.c
    DEPENDS ${xml} VERBATIM)
  list(APPEND _wl_sources ${_wl_gen}/${base}-client-protocol.h ${_wl_gen}/${base}-protocol.c)
endforeach()

add_library(tavik_wayland_input STATIC
  ${_wl_sources}
  wayland/wl_connection.cpp
  wayland/pointer_motion.cpp
  wayland/ring_image.cpp
  wayland/window_ids.cpp
  wayland/activation_watch.cpp
  wayland/window_tracker.cpp
  wayland/facts_source.cpp
  window_facts.cpp
  wayland/hotkey_text.cpp
  portals/request.cpp
  portals/global_shortcuts.cpp
  portals/remote_pointer.cpp
  wlroots/virtual_pointer.cpp
  wlroots/layer_frame.cpp
  wlroots/sway_tree.cpp
  wlroots/sway_ipc.cpp
  wlroots/sway_facts.cpp
  gnome/extension_facts.cpp
  gnome/extension_signal.cpp
  gnome/extension_keys.cpp
  wlroots/screencopy_format.cpp
  wlroots/screencopy.cpp)
target_include_directories(tavik_wayland_input PUBLIC ${PROJECT_SOURCE_DIR} PRIVATE ${_wl_gen})
target_link_libraries(tavik_wayland_input PUBLIC tavik_atspi PkgConfig::TAVIK_WL_CLIENT PkgConfig::TAVIK_WL_GIO Threads::Threads)
if(TARGET tavik_kde_facts)
  target_link_libraries(tavik_wayland_input PUBLIC tavik_kde_facts)
  target_compile_definitions(tavik_wayland_input PRIVATE TAVIK_WITH_KDE_FACTS)
endif()
set_target_properties(tavik_wayland_input PROPERTIES POSITION_INDEPENDENT_CODE ON)
set(TAVIK_HAS_WAYLAND_INPUT ON)
set(TAVIK_HAS_WAYLAND_INPUT ON PARENT_SCOPE)
