# Fails unless the module MODULE defines exactly one dynamic symbol, mexFunction.
# Usage: cmake -DMODULE=<file> -DNM=<nm> -P check_mex_exports.cmake
execute_process(COMMAND ${NM} -D --defined-only ${MODULE}
    OUTPUT_VARIABLE out RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${NM} failed on ${MODULE}")
endif()
string(REGEX MATCHALL "[^\n]+" lines "${out}")
set(exported "")
foreach(line IN LISTS lines)
    string(REGEX REPLACE "^[0-9a-fA-F]* *[A-Za-z] " "" symbol "${line}")
    list(APPEND exported "${symbol}")
endforeach()
if(NOT exported STREQUAL "mexFunction")
    message(FATAL_ERROR "${MODULE} exports [${exported}], expected mexFunction alone")
endif()
message(STATUS "${MODULE}: exports mexFunction alone")
