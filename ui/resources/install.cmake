# What `cmake --install` puts where: the programs with the shipped plug-ins
# beside them (start-up looks for "LT*.so" in the executable's own folder, not
# in a library folder), the desktop entry and the icon. Included by the top
# level after every program is defined; the one place that says what is
# installed. A build without the window installs the command-line tool.
include(GNUInstallDirs)

install(TARGETS vantor-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Every module library that plugins/CMakeLists.txt defines is a shipped
# plug-in, so a new one there is installed without a change here.
get_directory_property(_vantor_plugin_dir_targets DIRECTORY ${PROJECT_SOURCE_DIR}/plugins
                       BUILDSYSTEM_TARGETS)
set(_vantor_plugins "")
foreach(_target IN LISTS _vantor_plugin_dir_targets)
  get_target_property(_type ${_target} TYPE)
  if(_type STREQUAL "MODULE_LIBRARY")
    list(APPEND _vantor_plugins ${_target})
  endif()
endforeach()
if(NOT _vantor_plugins)
  message(FATAL_ERROR "install.cmake: plugins/ defines no plug-in to install")
endif()
install(TARGETS ${_vantor_plugins} LIBRARY DESTINATION ${CMAKE_INSTALL_BINDIR})

if(NOT TARGET vantor)
  return()
endif()
install(TARGETS vantor RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vantor.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/vantor.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
