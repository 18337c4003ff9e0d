# KDE Plasma's window facts (a KWin script of ours and its D-Bus side) as a static library of its
# own, built with the Wayland back end (it needs GIO). Included from the desktop layer's build file.
# The script is compiled in (kwin_script_text.h, made from window_facts.js), so nothing is installed
# for it and the loader never looks for a file.
set(_kde_gen ${CMAKE_CURRENT_BINARY_DIR}/kde_generated/platform/desktop/kde)
set(_kde_js ${CMAKE_CURRENT_SOURCE_DIR}/kde/window_facts.js)
file(READ ${_kde_js} _kde_js_text)
string(FIND "${_kde_js_text}" ")kwinjs\"" _kde_delim)
if(NOT _kde_delim EQUAL -1)
  message(FATAL_ERROR "window_facts.js must not contain the raw-string end )kwinjs\"")
endif()
file(CONFIGURE OUTPUT ${_kde_gen}/kwin_script_text.h.new CONTENT "// Made by the build from window_facts.js.
#pragma once
#include <string_view>
namespace tavik::desktop::kde {
inline constexpr std::string_view kWindowFactsScript = R\"kwinjs(@_kde_js_text@)kwinjs\";
}
" @ONLY)
file(COPY_FILE ${_kde_gen}/kwin_script_text.h.new ${_kde_gen}/kwin_script_text.h ONLY_IF_DIFFERENT)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_kde_js})

add_library(tavik_kde_facts STATIC kde/kwin_report.cpp kde/kwin_facts.cpp kde/kwin_window_facts.cpp)
target_include_directories(tavik_kde_facts PUBLIC ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/kde_generated)
target_link_libraries(tavik_kde_facts PUBLIC PkgConfig::TAVIK_GIO Threads::Threads)
set_target_properties(tavik_kde_facts PROPERTIES POSITION_INDEPENDENT_CODE ON)
