# mirdcng_seal: files sealed at build time by the mirdcng command.
#
#   mirdcng_seal(TARGET name FILES file... [BASE_DIR dir] [OUTPUT_DIR dir]
#                [TAG_FILE file] [OUTPUTS variable])
#
# Adds one build rule for each file, which seals it (`mirdcng encrypt`) into
# OUTPUT_DIR at its place below BASE_DIR, and the target `name`, built by
# default, that depends on them all. A file is sealed again only when it, or
# the tag file, has changed, and Ninja and Make seal files in parallel as
# they do any other rules. The outputs keep their names, so that a program
# finds its files where it did; each output is replaced whole (a temporary
# renamed over it), never left half written.
#
#   FILES       the files, relative to the current source folder or absolute;
#               each must lie in BASE_DIR
#   BASE_DIR    where the outputs' paths are taken from (default: the
#               current source folder)
#   OUTPUT_DIR  where the outputs go (default: a folder named `name` in the
#               current build folder), made at configure time
#   TAG_FILE    a file whose content, less one final newline, is sealed
#               inside as the tag (`--tag-file`): it stays off the build's
#               command lines
#   OUTPUTS     a variable that receives the outputs' paths
#
# The outputs can be installed as files, or as the folder they fill:
#   install(DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/assets/ DESTINATION share/app)
#
# The command is the cache variable MIRDCNG_COMMAND when set. Otherwise it is
# the imported executable mirdcng::command of this package; but a build for
# another system (CMAKE_CROSSCOMPILING) cannot run that one, and finds a
# `mirdcng` of the build machine on its PATH instead, outside the find root
# and the package prefixes (set MIRDCNG_COMMAND to choose another).
include_guard(GLOBAL)

# _mirdcng_seal_command(VARIABLE): the command that seals, as COMMAND takes it.
function(_mirdcng_seal_command variable)
  if(NOT MIRDCNG_COMMAND AND NOT CMAKE_CROSSCOMPILING AND TARGET mirdcng::command)
    set(${variable} mirdcng::command PARENT_SCOPE)
    return()
  endif()
  find_program(MIRDCNG_COMMAND mirdcng
    NO_PACKAGE_ROOT_PATH NO_CMAKE_PATH NO_CMAKE_ENVIRONMENT_PATH NO_CMAKE_FIND_ROOT_PATH
    DOC "The mirdcng command that seals files at build time, on the build machine")
  if(NOT MIRDCNG_COMMAND)
    message(FATAL_ERROR "mirdcng_seal: no mirdcng command for this machine on the PATH; "
                        "install one, or set MIRDCNG_COMMAND to its path")
  endif()
  set(${variable} ${MIRDCNG_COMMAND} PARENT_SCOPE)
endfunction()

function(mirdcng_seal)
  cmake_parse_arguments(PARSE_ARGV 0 arg "" "TARGET;BASE_DIR;OUTPUT_DIR;TAG_FILE;OUTPUTS"
                        "FILES")
  if(NOT arg_TARGET OR NOT arg_FILES OR arg_UNPARSED_ARGUMENTS)
    message(FATAL_ERROR "mirdcng_seal(TARGET name FILES file... [BASE_DIR dir] "
                        "[OUTPUT_DIR dir] [TAG_FILE file] [OUTPUTS variable]); "
                        "not understood: ${arg_UNPARSED_ARGUMENTS}")
  endif()
  set(base ${CMAKE_CURRENT_SOURCE_DIR})
  if(arg_BASE_DIR)
    cmake_path(ABSOLUTE_PATH arg_BASE_DIR NORMALIZE OUTPUT_VARIABLE base)
  endif()
  set(output_dir ${CMAKE_CURRENT_BINARY_DIR}/${arg_TARGET})
  if(arg_OUTPUT_DIR)
    cmake_path(ABSOLUTE_PATH arg_OUTPUT_DIR BASE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}
               NORMALIZE OUTPUT_VARIABLE output_dir)
  endif()
  set(tag "")
  set(tag_file "")
  if(arg_TAG_FILE)
    cmake_path(ABSOLUTE_PATH arg_TAG_FILE NORMALIZE OUTPUT_VARIABLE tag_file)
    set(tag --tag-file ${tag_file})
  endif()
  _mirdcng_seal_command(command)

  set(outputs "")
  foreach(file IN LISTS arg_FILES)
    cmake_path(ABSOLUTE_PATH file NORMALIZE OUTPUT_VARIABLE source)
    cmake_path(IS_PREFIX base "${source}" NORMALIZE inside)
    if(NOT inside)
      message(FATAL_ERROR "mirdcng_seal: ${source} is not in BASE_DIR ${base}")
    endif()
    cmake_path(RELATIVE_PATH source BASE_DIRECTORY ${base} OUTPUT_VARIABLE relative)
    set(output ${output_dir}/${relative})
    cmake_path(GET output PARENT_PATH folder)
    file(MAKE_DIRECTORY ${folder})
    add_custom_command(OUTPUT ${output}
      COMMAND ${command} encrypt --force --no-progress ${tag} -- ${source} ${output}
      DEPENDS ${source} ${tag_file}
      COMMENT "Sealing ${relative}"
      VERBATIM)
    list(APPEND outputs ${output})
  endforeach()
  add_custom_target(${arg_TARGET} ALL DEPENDS ${outputs})
  if(arg_OUTPUTS)
    set(${arg_OUTPUTS} ${outputs} PARENT_SCOPE)
  endif()
endfunction()
