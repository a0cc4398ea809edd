# Writing a path into a desktop entry, by the desktop-entry rules.

# The Exec program that starts `path`: in double quotes when it holds a
# character the rules reserve, with ", `, $ and \ escaped inside them; "%"
# doubled, since it would start a field code even in quotes; and then, like
# every string value of the file, each backslash doubled once more.
function(corvidale_desktop_exec out path)
  if(path MATCHES "[\n\r]")
    message(FATAL_ERROR "A desktop entry cannot start ${path}: the path holds a line break")
  endif()
  set(value "${path}")
  if(value MATCHES "[] \t\"'\\\\<>~|&;$*?#()`[]")
    string(REGEX REPLACE "([\"`$\\\\])" "\\\\\\1" value "${value}")
    set(value "\"${value}\"")
  endif()
  string(REPLACE "%" "%%" value "${value}")
  string(REPLACE "\\" "\\\\" value "${value}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# A path as a plain string value (TryExec): only the backslash is special.
function(corvidale_desktop_string out path)
  string(REPLACE "\\" "\\\\" value "${path}")
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

# cmake -DDESKTOP_EXEC_PATH=<path> -P desktop_exec.cmake prints a minimal entry that starts it.
if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE AND DEFINED DESKTOP_EXEC_PATH)
  corvidale_desktop_exec(exec "${DESKTOP_EXEC_PATH}")
  corvidale_desktop_string(try "${DESKTOP_EXEC_PATH}")
  message("[Desktop Entry]\nType=Application\nName=Corvidale\nExec=${exec} %u\nTryExec=${try}")
endif()
