# The rooms of the source tree: each a library whose headers are included
# by their path from the top ("platform/pictures/bitmap.h"). A room's
# include path is a folder of the build tree that holds a link to the room
# under that path and nothing else, so that a target sees the headers of
# its own room and of the rooms it links: an include of a room above, or
# of one beside it that it does not link, fails to build.

# pw_room(<target> <path> <source>...): the room of the current folder, a
# static library whose headers are included as "<path>/<header>".
function(pw_room target path)
  add_library(${target} STATIC ${ARGN})
  pw_room_headers(${target} ${path})
endfunction()

# pw_room_headers(<target> <path> [FOLDER <folder>] [HEADERS <header>...]):
# puts the folder (by default the current one) on the target's public
# include path as "<path>", whole, or only the headers listed.
function(pw_room_headers target path)
  cmake_parse_arguments(PARSE_ARGV 2 room "" "FOLDER" "HEADERS")
  if(NOT room_FOLDER)
    set(room_FOLDER ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  set(root ${PROJECT_BINARY_DIR}/rooms/${target})
  file(REMOVE_RECURSE ${root})
  if(room_HEADERS)
    file(MAKE_DIRECTORY ${root}/${path})
    foreach(header IN LISTS room_HEADERS)
      file(CREATE_LINK ${room_FOLDER}/${header} ${root}/${path}/${header} SYMBOLIC)
    endforeach()
  else()
    cmake_path(GET path PARENT_PATH parent)
    file(MAKE_DIRECTORY ${root}/${parent})
    file(CREATE_LINK ${room_FOLDER} ${root}/${path} SYMBOLIC)
  endif()
  target_include_directories(${target} PUBLIC ${root})
endfunction()

# pw_codec_room(<codec> <source>... [HANDS_TO <codec>...]
#               [LIBRARIES <name>=<pkg-config module>[,<module>]...]):
# the room of a codec under platform/files, "platform_files_<codec>". It
# stands on the files room's ground, links the codecs it hands files over
# to, and links privately the libraries pkg-config finds, each as the
# global target PkgConfig::<name> (the fuzz build links them again).
function(pw_codec_room codec)
  cmake_parse_arguments(PARSE_ARGV 1 room "" "" "HANDS_TO;LIBRARIES")
  set(target platform_files_${codec})
  pw_room(${target} platform/files/${codec} ${room_UNPARSED_ARGUMENTS})
  target_link_libraries(${target} PUBLIC platform_files_ground)
  foreach(other IN LISTS room_HANDS_TO)
    target_link_libraries(${target} PUBLIC platform_files_${other})
  endforeach()
  if(room_LIBRARIES)
    find_package(PkgConfig REQUIRED)
  endif()
  foreach(library IN LISTS room_LIBRARIES)
    string(REPLACE "=" ";" parts ${library})
    list(GET parts 0 name)
    list(GET parts 1 modules)
    string(REPLACE "," ";" modules ${modules})
    pkg_check_modules(${name} REQUIRED IMPORTED_TARGET GLOBAL ${modules})
    target_link_libraries(${target} PRIVATE PkgConfig::${name})
  endforeach()
endfunction()
