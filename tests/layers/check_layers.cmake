# Checks that each layer of the library sees its own and lower layers'
# headers and that an include running upward does not compile.
#
#   cmake -DCXX=<compiler> -DWORK=<folder> -DLAYERS=<name=dir|dir...,name=...> -P check_layers.cmake
#
# LAYERS gives each layer, separated by ",", with its include folders
# joined by "|".
# Each case below compiles a one-line file with -fsyntax-only.
cmake_minimum_required(VERSION 3.20)

set(cases
  # layer        header                        expected
  "link          link/wire.h                   ok"
  "link          platform/serial_port.h        ok"
  "link          format/dos_name.h             refused"
  "link          platform/posix/posix_port.h   refused"
  "format        format/fld_reader.h           ok"
  "format        link/text_chars.h             ok"
  "format        runtime/settings.h            refused"
  "runtime       runtime/progress.h            ok"
  "runtime       format/dos_name.h             ok"
  "runtime       download/download.h           refused"
  "runtime       upload/upload.h               refused"
  "download      download/sender.h             ok"
  "download      runtime/timer.h               ok"
  "download      upload/header_check.h         refused"
  "download      session/options.h             refused"
  "upload        upload/receiver.h             ok"
  "upload        format/fld_writer.h           ok"
  "upload        download/sender.h             refused"
  "upload        download/download.h           refused"
  "upload        session/options.h             refused"
  "session       session/options.h             ok"
  "session       download/download.h           ok"
  "session       upload/upload.h               ok"
  "session       platform/sim/sim.h            refused"
  "platform      platform/fs.h                 ok"
  "platform      link/serial.h                 refused"
)

string(REPLACE "," ";" layers "${LAYERS}")
foreach(entry ${layers})
  string(REGEX MATCH "^([a-z_]+)=(.*)$" _ "${entry}")
  string(REPLACE "|" ";" dirs "${CMAKE_MATCH_2}")
  set(dirs_${CMAKE_MATCH_1} ${dirs})
endforeach()

file(MAKE_DIRECTORY ${WORK})
set(failures 0)
set(n 0)
foreach(c ${cases})
  string(REGEX REPLACE " +" ";" c "${c}")
  list(GET c 0 layer)
  list(GET c 1 header)
  list(GET c 2 expected)
  if(NOT DEFINED dirs_${layer})
    message(SEND_ERROR "no include folders given for layer ${layer}")
    math(EXPR failures "${failures} + 1")
    continue()
  endif()
  math(EXPR n "${n} + 1")
  set(probe ${WORK}/probe_${n}.cpp)
  file(WRITE ${probe} "#include \"${header}\"\n")
  set(flags)
  foreach(d ${dirs_${layer}})
    list(APPEND flags -I${d})
  endforeach()
  execute_process(COMMAND ${CXX} -std=c++17 -fsyntax-only -DORV5_BUILDING_LIBRARY ${flags} ${probe}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(expected STREQUAL "ok" AND NOT rc EQUAL 0)
    message(SEND_ERROR "${layer}: ${header} should compile:\n${out}")
    math(EXPR failures "${failures} + 1")
  elseif(expected STREQUAL "refused")
    # Refused for the right reason: the header is not in the layer's reach.
    string(FIND "${out}" "${header}: No such file" missing)
    if(rc EQUAL 0 OR missing EQUAL -1)
      message(SEND_ERROR "${layer}: ${header} should not be found (rc ${rc}):\n${out}")
      math(EXPR failures "${failures} + 1")
    endif()
  endif()
endforeach()
if(failures GREATER 0)
  message(FATAL_ERROR "${failures} of ${n} layer checks failed")
endif()
message(STATUS "${n} layer checks passed")
