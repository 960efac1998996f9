# Imported targets for the three libraries the core links, the same names natively
# and in the MinGW cross build (where they come from the dependency cache that
# scripts/setup-windows.sh builds and names).
set(THREADS_PREFER_PTHREAD_FLAG ON)
find_package(Threads REQUIRED)

if(WIN32)
  if(NOT VALDRIN_DEPS_PREFIX)
    message(FATAL_ERROR "VALDRIN_DEPS_PREFIX must name the folder with the MinGW builds of libcurl, "
                        "LAME and mpg123: -DVALDRIN_DEPS_PREFIX=\"$(scripts/setup-windows.sh | tail -n1)\"")
  endif()
  # The prefix is a root of Windows libraries too, and pkg-config (libmpg123 for the
  # tests) must find its MinGW builds, never the host's.
  list(APPEND CMAKE_FIND_ROOT_PATH ${VALDRIN_DEPS_PREFIX})
  set(ENV{PKG_CONFIG_LIBDIR} ${VALDRIN_DEPS_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  add_library(valdrin::curl INTERFACE IMPORTED)
  target_include_directories(valdrin::curl INTERFACE ${VALDRIN_DEPS_PREFIX}/include)
  target_compile_definitions(valdrin::curl INTERFACE CURL_STATICLIB)
  target_link_libraries(valdrin::curl INTERFACE ${VALDRIN_DEPS_PREFIX}/lib/libcurl.a
                        ws2_32 crypt32 bcrypt advapi32 winmm)
  add_library(valdrin::mp3lame INTERFACE IMPORTED)
  target_include_directories(valdrin::mp3lame INTERFACE ${VALDRIN_DEPS_PREFIX}/include)
  target_link_libraries(valdrin::mp3lame INTERFACE ${VALDRIN_DEPS_PREFIX}/lib/libmp3lame.a)
  # nlohmann-json is header-only, from its source package; in a folder of its own, as
  # its host copy sits in /usr/include, which would shadow MinGW's C headers.
  add_library(valdrin::json INTERFACE IMPORTED)
  target_include_directories(valdrin::json INTERFACE ${VALDRIN_DEPS_PREFIX}/json-include)
else()
  find_package(CURL REQUIRED)
  find_package(nlohmann_json 3.11 REQUIRED)
  find_library(MP3LAME_LIBRARY NAMES mp3lame REQUIRED)
  find_path(MP3LAME_INCLUDE_DIR lame/lame.h REQUIRED)
  add_library(valdrin::curl ALIAS CURL::libcurl)
  add_library(valdrin::mp3lame INTERFACE IMPORTED)
  target_include_directories(valdrin::mp3lame INTERFACE ${MP3LAME_INCLUDE_DIR})
  target_link_libraries(valdrin::mp3lame INTERFACE ${MP3LAME_LIBRARY})
  add_library(valdrin::json ALIAS nlohmann_json::nlohmann_json)
endif()
