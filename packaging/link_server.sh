#!/bin/sh
# Links valdrin-server.exe from the object code in this folder and a libmpg123.a built
# for 64-bit Windows, so that the server can be rebuilt with a changed libmpg123:
#
#   ./link.sh LIBMPG123_A OUTPUT_EXE
#
# It needs Debian 12's MinGW-w64 cross compiler (apt-get install g++-mingw-w64-x86-64-posix);
# with the libmpg123.a built from source/mpg123_*.dsc by the recipe in
# scripts/setup-windows.sh it gives the release's valdrin-server.exe, byte for byte.
# libmpg123 needs MinGW's libm and shlwapi; a changed one that needs more can have them
# added after them below. The release's time stamp goes into the exe's header.
set -eu
export SOURCE_DATE_EPOCH=@SOURCE_DATE_EPOCH@
kit=$(cd "$(dirname "$0")" && pwd)
mpg123=$1 output=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
triplet=x86_64-w64-mingw32
# The objects in the order the project's build links them: the server's own, its
# libraries, libmpg123 and its system libraries, pocketsphinx and sphinxbase, Windows'.
"$triplet-ar" qc "$work/objects.a" "$kit/main.cpp.obj" "$kit/valdrin-server_version.rc.res"
"$triplet-g++-posix" -static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp \
  -Wl,--whole-archive "$work/objects.a" -Wl,--no-whole-archive -o "$work/valdrin-server.exe" \
  -Wl,--major-image-version,0,--minor-image-version,0 \
  "$kit/libvaldrin_server_lib.a" "$kit/libvaldrin_server_upload.a" \
  "$mpg123" "/usr/$triplet/lib/libm.a" "/usr/$triplet/lib/libshlwapi.a" \
  "$kit/libpocketsphinx.a" "$kit/libsphinxbase.a" \
  -lws2_32 -lmswsock -lkernel32 -luser32 -lgdi32 -lwinspool -lshell32 -lole32 -loleaut32 -luuid -lcomdlg32 -ladvapi32
"$triplet-strip" -o "$output" "$work/valdrin-server.exe"
