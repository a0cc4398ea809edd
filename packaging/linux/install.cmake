# Run by `cmake --install` (and by CPack) to place what depends on the prefix
# chosen at install time. Paths are written without DESTDIR and get it where
# the file commands do not add it themselves.

# The system's own prefix puts the bundle in /opt, as add-on software goes;
# any other prefix (/usr/local, ~/.local) keeps it under the prefix.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  set(bundle_parent /opt/corvidale)
else()
  set(bundle_parent "${CMAKE_INSTALL_PREFIX}/opt/corvidale")
endif()
set(bundle "${bundle_parent}/Corvidale.app")
set(executable "${bundle}/Contents/MacOS/corvidale")
set(launcher "${CMAKE_INSTALL_PREFIX}/bin/corvidale")
set(destdir "$ENV{DESTDIR}")

if(NOT EXISTS "${CORVIDALE_BUILT_BUNDLE}/Contents/MacOS/corvidale")
  message(FATAL_ERROR "${CORVIDALE_BUILT_BUNDLE} has no executable: build the corvidale target first")
endif()

# The bundle is replaced as a whole, as an update replaces it: nothing of an
# older one stays behind, and a running copy's executable is unlinked rather
# than overwritten.
file(REMOVE_RECURSE "${destdir}${bundle}")
file(INSTALL "${CORVIDALE_BUILT_BUNDLE}" DESTINATION "${bundle_parent}" USE_SOURCE_PERMISSIONS)
if(CMAKE_INSTALL_DO_STRIP AND CORVIDALE_STRIP)
  execute_process(COMMAND "${CORVIDALE_STRIP}" "${destdir}${executable}" COMMAND_ERROR_IS_FATAL ANY)
endif()

# The system-wide bundle belongs to the package manager: this marker beside it
# makes the app's own updater leave it alone and say so, even for root.
if(CMAKE_INSTALL_PREFIX STREQUAL "/usr")
  message(STATUS "Installing: ${destdir}${bundle_parent}/.package-managed")
  file(WRITE "${destdir}${bundle_parent}/.package-managed"
       "Corvidale here is installed and updated by the system's package manager.\n")
  list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${bundle_parent}/.package-managed")
endif()

# The launcher is a symbolic link: /proc/self/exe resolves it, so the running
# executable still finds its bundle three folders up.
message(STATUS "Installing: ${destdir}${launcher} -> ${executable}")
file(MAKE_DIRECTORY "${destdir}${CMAKE_INSTALL_PREFIX}/bin")
file(CREATE_LINK "${executable}" "${destdir}${launcher}" SYMBOLIC)
list(APPEND CMAKE_INSTALL_MANIFEST_FILES "${launcher}")

# The desktop entry starts the launcher by its full path: a per-user bin
# folder is not always on the PATH of a graphical session.
include("${CMAKE_CURRENT_LIST_DIR}/desktop_exec.cmake")
corvidale_desktop_string(CORVIDALE_LAUNCHER "${launcher}")
corvidale_desktop_exec(CORVIDALE_LAUNCHER_EXEC "${launcher}")
configure_file("${CORVIDALE_DESKTOP_TEMPLATE}" "${CORVIDALE_STAGING}/${CORVIDALE_APP_ID}.desktop" @ONLY)
file(INSTALL "${CORVIDALE_STAGING}/${CORVIDALE_APP_ID}.desktop"
     DESTINATION "${CMAKE_INSTALL_PREFIX}/share/applications")
