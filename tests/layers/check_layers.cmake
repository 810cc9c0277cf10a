# cmake -DSOURCE_DIR=... -P check_layers.cmake
# Lists every include of a header from a layer above the including file's
# own, and every Linux header included outside platform/ and the tools, and
# fails when there is one. Lowest layer first; the tools stand on
# platform and script, the packer on the command families too (its lint
# knows their verbs); main.cpp, at the top of the tree, stands above every
# layer; tests and benchmarks may include anything.
set(layers platform formats script commands app ui)

function(highest_visible_layer file out)
  string(REGEX MATCH "^[^/]+" folder "${file}")
  if(file STREQUAL "main.cpp")
    list(FIND layers ui rank)
    set(${out} ${rank} PARENT_SCOPE)
  elseif(file MATCHES "^tools/lumo-pack/")
    list(FIND layers commands rank)
    set(${out} ${rank} PARENT_SCOPE)
  elseif(folder STREQUAL "tools")
    list(FIND layers script rank)
    set(${out} ${rank} PARENT_SCOPE)
  else()
    list(FIND layers "${folder}" rank)
    set(${out} ${rank} PARENT_SCOPE)
  endif()
endfunction()

set(offences "")
if(NOT EXISTS ${SOURCE_DIR}/main.cpp)
  string(APPEND offences "  main.cpp: the program is missing from the top of the tree\n")
endif()
foreach(folder ${layers} tools)
  file(GLOB_RECURSE sources RELATIVE ${SOURCE_DIR} ${SOURCE_DIR}/${folder}/*.h ${SOURCE_DIR}/${folder}/*.cpp)
  if(folder STREQUAL "platform")
    list(APPEND sources main.cpp)
  endif()
  foreach(file ${sources})
    highest_visible_layer(${file} visible)
    file(STRINGS ${SOURCE_DIR}/${file} includes REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<][a-z_]+/")
    foreach(line ${includes})
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([a-z_]+)/.*" "\\1" included "${line}")
      list(FIND layers "${included}" rank)
      if(rank GREATER visible)
        string(APPEND offences "  ${file}: ${line}\n")
      endif()
    endforeach()
    # Only platform/ knows it runs on Linux.
    if(NOT folder MATCHES "^(platform|tools)$")
      file(STRINGS ${SOURCE_DIR}/${file} system REGEX
           "^[ \t]*#[ \t]*include[ \t]*<(unistd|fcntl|dirent|spawn|poll|signal|pthread|dlfcn|pwd|grp|sys/|linux/)")
      foreach(line ${system})
        string(APPEND offences "  ${file}: ${line} (a Linux header outside platform/)\n")
      endforeach()
    endif()
  endforeach()
endforeach()

if(offences)
  message(FATAL_ERROR "Includes that break the layers:\n${offences}")
endif()
