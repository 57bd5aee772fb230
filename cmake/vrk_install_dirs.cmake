# Run by "cmake --install": makes the job directories the program uses by
# default, with modes for a tool that runs as root, and the main ini file
# naming them unless one is there already (an edited one is kept). A
# directory that is there already keeps its mode: it may have been opened to
# a group or closed further on purpose.
set(root "$ENV{DESTDIR}")

# Job logs name files and hosts: readable by the group only. Markers, work
# and prepared files are the program's own.
foreach(entry "log;750" "times;700" "work;700" "tmp;700")
  list(GET entry 0 name)
  list(GET entry 1 mode)
  set(dir "${root}/korva/${name}")
  if(IS_DIRECTORY "${dir}")
    message(STATUS "Up-to-date: ${dir} (its mode kept as it is)")
    continue()
  endif()
  message(STATUS "Installing: ${dir} (mode ${mode})")
  file(MAKE_DIRECTORY "${dir}")
  if(mode STREQUAL "750")
    file(CHMOD "${dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE)
  else()
    file(CHMOD "${dir}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE)
  endif()
endforeach()

set(ini "${root}/etc/korva2000.ini")
if(EXISTS "${ini}")
  message(STATUS "Up-to-date: ${ini} (kept as it is)")
else()
  message(STATUS "Installing: ${ini}")
  file(WRITE "${ini}"
    "gv_rw_vrk_log=/korva/log\n"
    "gv_rw_vrk_times=/korva/times\n"
    "gv_rw_work=/korva/work\n"
    "gv_rw_tmp=/korva/tmp\n")
  file(CHMOD "${ini}" PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
endif()
