# The project's one version, from project(VERSION) and git, in VALDRIN_VERSION:
#   0.1.0                    a build of the commit tagged v0.1.0
#   0.1.0-3-g1a2b3c4d5e      three commits after that tag
#   0.1.0-g1a2b3c4d5e        no such tag yet
# with "-dirty" appended when the work tree has changes. Outside a git checkout (the
# source archive in the release bundle) it is read from version.txt at the top.
# Also written to ${PROJECT_BINARY_DIR}/version.txt for the packaging script.
set(VALDRIN_VERSION ${PROJECT_VERSION})
find_package(Git QUIET)
if(GIT_FOUND AND EXISTS ${PROJECT_SOURCE_DIR}/.git)
  execute_process(COMMAND ${GIT_EXECUTABLE} describe --tags --match v${PROJECT_VERSION} --dirty --abbrev=10
                  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE described
                  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET RESULT_VARIABLE untagged)
  if(untagged)
    execute_process(COMMAND ${GIT_EXECUTABLE} describe --always --dirty --abbrev=10
                    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE described
                    OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
    set(described "v${PROJECT_VERSION}-g${described}")
  endif()
  string(REGEX REPLACE "^v" "" VALDRIN_VERSION "${described}")
elseif(EXISTS ${PROJECT_SOURCE_DIR}/version.txt)
  file(STRINGS ${PROJECT_SOURCE_DIR}/version.txt VALDRIN_VERSION LIMIT_COUNT 1)
endif()
file(WRITE ${PROJECT_BINARY_DIR}/version.txt "${VALDRIN_VERSION}\n")
