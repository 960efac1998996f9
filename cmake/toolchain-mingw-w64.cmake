# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads, so that
# std::thread and std::mutex work). Use:
#   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
#         -DVALDRIN_DEPS_PREFIX="$(scripts/setup-windows.sh | tail -n1)"
# Executables link statically and import only system DLLs; CTest runs them under Wine,
# inside the environment that testbed/testbed.sh writes (source STATE_DIR/env first).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VALDRIN_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VALDRIN_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VALDRIN_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VALDRIN_MINGW_TRIPLET}-windres)

# Look for libraries and headers only in the MinGW tree (and the dependency prefix,
# which the build names by full path); programs still come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${VALDRIN_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)

# No MinGW runtime DLLs to ship or to find under Wine; no link time in the PE header
# (the linker writes SOURCE_DATE_EPOCH there when it is set), so that the same sources
# always give the same exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
