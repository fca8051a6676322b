# Toolchain for the boxes: 32-bit little-endian MIPS Linux with glibc.
#
#   sh scripts/mipsel-sysroot.sh
#   cmake -S . -B build-mipsel -DCMAKE_TOOLCHAIN_FILE=cmake/mipsel-linux-gnu.cmake
#
# Programs built here run on this machine under qemu-user (Debian's qemu-user).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mipsel)

set(CMAKE_C_COMPILER mipsel-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)

get_filename_component(QUILLON_SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
if(NOT QUILLON_MIPSEL_SYSROOT)
  set(QUILLON_MIPSEL_SYSROOT ${QUILLON_SOURCE_DIR}/out/mipsel-sysroot)
endif()
set(QUILLON_MIPSEL_SYSROOT ${QUILLON_MIPSEL_SYSROOT} CACHE PATH "Unpacked mipsel libraries")
set(QUILLON_MIPSEL_LIBDIRS
    ${QUILLON_MIPSEL_SYSROOT}/usr/lib/mipsel-linux-gnu
    ${QUILLON_MIPSEL_SYSROOT}/lib/mipsel-linux-gnu)

# The cross compiler knows its own C library; the unpacked packages add
# FreeType, libpng, zlib and brotli beside it.
set(CMAKE_FIND_ROOT_PATH /usr/mipsel-linux-gnu ${QUILLON_MIPSEL_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_LIBRARY_ARCHITECTURE mipsel-linux-gnu)

foreach(dir ${QUILLON_MIPSEL_LIBDIRS})
  string(APPEND CMAKE_EXE_LINKER_FLAGS_INIT " -Wl,-rpath-link,${dir}")
  string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -Wl,-rpath-link,${dir}")
endforeach()

string(REPLACE ";" ":" QUILLON_MIPSEL_LIBPATH "${QUILLON_MIPSEL_LIBDIRS}")
set(CMAKE_CROSSCOMPILING_EMULATOR
    qemu-mipsel -L /usr/mipsel-linux-gnu -E LD_LIBRARY_PATH=${QUILLON_MIPSEL_LIBPATH})
