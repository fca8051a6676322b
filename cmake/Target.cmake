# Builds for the boxes and the programs that run inside the simulated box.
#
# A cross build (CMAKE_CROSSCOMPILING, see cmake/mipsel-linux-gnu.cmake)
# makes the programs for the box, the simulator's preloaded library and the
# drivers that run inside a box, and runs the unit tests under qemu-user. The
# box simulator's host side (sandbox, stand-ins, test harness) is not built
# there: a host build given QUILLON_TARGET_BUILD, the folder of a cross build,
# runs its box tests on the cross build's programs instead of its own.
set(QUILLON_TARGET_BUILD "" CACHE PATH
    "Folder of a cross build whose programs the box tests run (empty: this build's own)")

if(CMAKE_CROSSCOMPILING)
  set(QUILLON_BENCHMARKS OFF CACHE BOOL "Build the benchmarks" FORCE)
  # 64-bit file offsets, sizes and inode numbers on the 32-bit box: without
  # them stat and readdir fail with EOVERFLOW on file systems whose values do
  # not fit 32 bits (directory cookies of ext4 as a 64-bit kernel hands them
  # to qemu-user, inode numbers of large file systems), and the store's
  # images would silently drop out of the listing.
  add_definitions(-D_FILE_OFFSET_BITS=64)
  if(QUILLON_TESTS)
    # Debian ships GoogleTest's sources; built here with the cross compiler.
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    if(NOT TARGET GTest::gtest)
      add_library(GTest::gtest ALIAS gtest)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  endif()
elseif(QUILLON_TARGET_BUILD)
  set(QUILLON_BENCHMARKS OFF CACHE BOOL "Build the benchmarks" FORCE)
  get_filename_component(QUILLON_TARGET_BUILD ${QUILLON_TARGET_BUILD} ABSOLUTE)
  if(NOT EXISTS ${QUILLON_TARGET_BUILD}/CMakeCache.txt)
    message(FATAL_ERROR "QUILLON_TARGET_BUILD: no cross build in ${QUILLON_TARGET_BUILD}")
  endif()
  # The cross build's own settings: where its libraries are.
  load_cache(${QUILLON_TARGET_BUILD} READ_WITH_PREFIX QUILLON_TARGET_ QUILLON_MIPSEL_SYSROOT)
  # Debian's qemu-user-static: a static qemu (immune to the box's LD_PRELOAD)
  # under the name that makes it keep argv[0] as binfmt_misc hands it over.
  find_program(QUILLON_QEMU_MIPSEL mipsel-binfmt-P PATHS /usr/libexec/qemu-binfmt NO_DEFAULT_PATH)
  if(NOT QUILLON_QEMU_MIPSEL)
    message(FATAL_ERROR "qemu-user-static's mipsel-binfmt-P not found: install qemu-user-static")
  endif()
endif()

# True when this build has the host side of the box simulator.
if(CMAKE_CROSSCOMPILING)
  set(QUILLON_BOX_HOST OFF)
else()
  set(QUILLON_BOX_HOST ON)
endif()

# Sets out to the path of a program (or library) that runs inside a box: the
# target's own file, or the same file of the cross build QUILLON_TARGET_BUILD.
function(quillon_box_file out target)
  if(QUILLON_TARGET_BUILD)
    get_target_property(dir ${target} BINARY_DIR)
    file(RELATIVE_PATH rel ${PROJECT_BINARY_DIR} ${dir})
    set(${out} "${QUILLON_TARGET_BUILD}/${rel}/$<TARGET_FILE_NAME:${target}>" PARENT_SCOPE)
  else()
    set(${out} "$<TARGET_FILE:${target}>" PARENT_SCOPE)
  endif()
endfunction()
