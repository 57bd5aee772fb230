# Installing: the program under the prefix, and, at their fixed places
# (below DESTDIR when it is set), the main ini file the program reads at start
# and the directories a job writes to.
include(GNUInstallDirs)
install(TARGETS vrk_nlm RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES README.md docs/sms-standin.md DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(SCRIPT ${CMAKE_CURRENT_LIST_DIR}/vrk_install_dirs.cmake)
