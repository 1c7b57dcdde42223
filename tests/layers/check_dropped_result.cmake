# Checks that a layer of the library refuses a dropped result: a call of a
# function marked [[nodiscard]] whose result is neither used nor visibly
# discarded does not compile with the layer's own compile options, and the
# same call with (void) does.
#
#   cmake -DCXX=<compiler> -DWORK=<folder> -DDIRS=<dir|dir...> -DOPTIONS=<opt|opt...> -P check_dropped_result.cmake
cmake_minimum_required(VERSION 3.20)

string(REPLACE "|" ";" dirs "${DIRS}")
string(REPLACE "|" ";" options "${OPTIONS}")
set(flags)
foreach(d ${dirs})
  list(APPEND flags -I${d})
endforeach()
file(MAKE_DIRECTORY ${WORK})

set(body_dropped "timer_set(run, 0);")
set(body_discarded "(void)timer_set(run, 0);")
foreach(kind dropped discarded)
  set(probe ${WORK}/result_${kind}.cpp)
  file(WRITE ${probe} "#include \"runtime/timer.h\"\nvoid probe(SessionRun &run) { ${body_${kind}} }\n")
  execute_process(COMMAND ${CXX} -std=c++17 -fsyntax-only -DORV5_BUILDING_LIBRARY ${options} ${flags} ${probe}
    RESULT_VARIABLE rc_${kind} OUTPUT_VARIABLE out_${kind} ERROR_VARIABLE out_${kind})
endforeach()
if(rc_discarded EQUAL 0 AND NOT rc_dropped EQUAL 0 AND out_dropped MATCHES "nodiscard")
  message(STATUS "a dropped result is refused, a discarded one compiles")
else()
  message(FATAL_ERROR "dropped: rc ${rc_dropped}\n${out_dropped}\ndiscarded: rc ${rc_discarded}\n${out_discarded}")
endif()
