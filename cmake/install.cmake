# What `cmake --install` puts under the prefix, and the packages CPack makes from it: a .deb from
# a Linux tree (tools/check makes it from the g++ tree) and a .zip from a Windows tree. The
# package is named after the program with Debian's hyphens: affinity-gain from the g++ tree,
# affinity-gain-alt from the clang++ tree.

# A sanitized tree exists only to run the unit tests; it has nothing to install.
if(AG_SANITIZE)
  return()
endif()

string(REPLACE "_" "-" ag_package ${AG_PROGRAM})

if(WIN32)
  # The .zip unpacks to one folder holding the programs and their two documents, the way Windows
  # users expect a portable program.
  set(ag_bindir .)
  set(ag_docdir .)
else()
  # Debian wants the documents, copyright included, in /usr/share/doc/<package>; GNUInstallDirs
  # would name that folder after the CMake project, which has an underscore.
  set(CMAKE_INSTALL_DOCDIR share/doc/${ag_package}
      CACHE PATH "Read-only documentation (share/doc/<package>)")
  include(GNUInstallDirs)
  set(ag_bindir ${CMAKE_INSTALL_BINDIR})
  set(ag_docdir ${CMAKE_INSTALL_DOCDIR})
endif()

# Directories the installation and CPack create get the usual modes under a group-writable umask
# such as 002 too, so that the .deb carries none. A stricter umask still narrows them (mkdir
# applies it), which is why tests/package_check.sh packs under 022.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS})

install(TARGETS ${AG_PROGRAM} RUNTIME DESTINATION ${ag_bindir})
if(TARGET affinity_sweep)
  install(TARGETS affinity_sweep RUNTIME DESTINATION ${ag_bindir})
endif()
install(FILES README.md LICENSE DESTINATION ${ag_docdir})

if(NOT WIN32)
  # The plot script is a command of its own; its shebang names Debian's Python, which has
  # matplotlib.
  install(PROGRAMS tools/plot_sweep.py DESTINATION ${ag_bindir} RENAME affinity_sweep_plot)

  # Man pages and the changelog go in gzipped with -9n (no name, no time stamp), as Debian wants
  # them, so that the same sources always give the same files. Whatever man/*.1 exist are taken.
  find_program(AG_GZIP gzip REQUIRED)
  file(GLOB ag_man_pages CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/man/*.1)
  # The clang++ tree's program is affinity_gain under another name: its page points to that one.
  if(NOT AG_PROGRAM STREQUAL "affinity_gain" AND EXISTS ${PROJECT_SOURCE_DIR}/man/affinity_gain.1)
    file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/man/${AG_PROGRAM}.1
         CONTENT ".so man1/affinity_gain.1\n")
    list(APPEND ag_man_pages ${CMAKE_BINARY_DIR}/man/${AG_PROGRAM}.1)
  endif()
  set(ag_gzipped "")
  foreach(source ${ag_man_pages} ${PROJECT_SOURCE_DIR}/packaging/changelog)
    get_filename_component(name ${source} NAME)
    set(copy ${CMAKE_BINARY_DIR}/gz/${name})
    add_custom_command(OUTPUT ${copy}.gz
                       COMMAND ${CMAKE_COMMAND} -E copy ${source} ${copy}
                       COMMAND ${AG_GZIP} -9nf ${copy}
                       DEPENDS ${source}
                       COMMENT "Compressing ${name}"
                       VERBATIM)
    list(APPEND ag_gzipped ${copy}.gz)
  endforeach()
  add_custom_target(ag_gzipped ALL DEPENDS ${ag_gzipped})
  list(POP_BACK ag_gzipped ag_changelog)
  if(ag_gzipped)
    install(FILES ${ag_gzipped} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
  install(FILES ${ag_changelog} packaging/copyright DESTINATION ${ag_docdir})
endif()

set(CPACK_PACKAGE_NAME ${ag_package})
set(CPACK_PACKAGE_VENDOR "The affinity_gain authors")
set(CPACK_PACKAGE_CONTACT "The affinity_gain authors <affinity-gain@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "benchmark of pinning a memory-bound thread to one processor")
# Debian shows the description as written: lines of at most 79 characters.
set(CPACK_PACKAGE_DESCRIPTION
    "affinity_gain times a fixed memory-bound read loop twice while an identical
load runs pinned to logical processor 1: once where the system schedules the
loop and once with it pinned to logical processor 0. It reports how much the
pinning gained. affinity_sweep repeats the measurement in rounds across buffer
sizes, on processors of your choice, and gives each gain with a 95 %
confidence interval; affinity_sweep_plot draws its results.")
set(CPACK_STRIP_FILES ON)
set(CPACK_VERBATIM_VARIABLES ON)

if(WIN32)
  set(CPACK_GENERATOR ZIP)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # Only the plot command needs Python, and it needs matplotlib with it.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "python3, python3-matplotlib")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
endif()

include(CPack)
