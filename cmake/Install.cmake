# Install layout of the box: the menu at the fixed path bootinit starts it
# from (taken from bootinit/paths.h), bootinit beside it. Installing puts
# bootinit there only; making it the box's init is a step of its own.
#
#   DESTDIR=/tmp/root cmake --install build-mipsel --strip
file(STRINGS ${PROJECT_SOURCE_DIR}/bootinit/paths.h QUILLON_MENU_PROGRAM_LINE
     REGEX "\"/[^\"]*/contrib/quisel\"")
string(REGEX MATCH "/[^\"]*/contrib" QUILLON_CONTRIB_DIR "${QUILLON_MENU_PROGRAM_LINE}")
if(NOT QUILLON_CONTRIB_DIR MATCHES "^/")
  message(FATAL_ERROR "bootinit/paths.h: the menu program's folder not found")
endif()

install(TARGETS bootinit RUNTIME DESTINATION ${QUILLON_CONTRIB_DIR})
if(TARGET quisel)
  install(TARGETS quisel RUNTIME DESTINATION ${QUILLON_CONTRIB_DIR})
endif()
