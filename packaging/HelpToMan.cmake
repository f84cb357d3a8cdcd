# Writes a program's gzipped manual page from its --help and --version with help2man, at build time, so the page
# says what the program says. Run as cmake -P with
#   HELP2MAN  PROGRAM (the built file)  NAME  VERSION (the project's)  INCLUDES (;-list of .h2m files)  OUTPUT (.1.gz)
# A --version that names another version fails the build; a program that does not answer --version yet gets the
# project's version in its page.
execute_process(COMMAND "${PROGRAM}" --version RESULT_VARIABLE status OUTPUT_VARIABLE said ERROR_QUIET)
set(version_option)
if(status EQUAL 0)
  string(REGEX MATCH "^[^\n]*" first_line "${said}")
  if(NOT first_line STREQUAL "${NAME} ${VERSION}")
    message(FATAL_ERROR "${NAME} --version says \"${first_line}\"; the project is at ${VERSION}")
  endif()
else()
  message(STATUS "${NAME} does not answer --version: its manual page takes the project's version ${VERSION}")
  set(version_option "--version-string=${VERSION}")
endif()

set(include_options)
foreach(include IN LISTS INCLUDES)
  list(APPEND include_options "--include=${include}")
endforeach()

get_filename_component(page "${OUTPUT}" NAME_WLE)
get_filename_component(folder "${OUTPUT}" DIRECTORY)
# The locale makes help2man keep the programs' UTF-8 text as it is; the help of a program may go to standard
# error, so that is read too.
execute_process(
  COMMAND "${HELP2MAN}" --locale=C.UTF-8 --no-info --no-discard-stderr ${version_option} ${include_options}
          "--output=${folder}/${page}" "${PROGRAM}"
  RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "help2man failed for ${NAME}")
endif()
execute_process(COMMAND gzip -9nf "${folder}/${page}" RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "gzip failed for ${page}")
endif()
