# Locates GNU Octave's MEX build settings through mkoctfile.
# Sets OCTAVE_MEX_FOUND, OCTAVE_MEX_INCLUDE_DIRS, OCTAVE_MEX_LINK_FLAGS and OCTAVE_CLI
# (the octave-cli program that runs the binding tests).
find_program(MKOCTFILE_EXECUTABLE mkoctfile)
find_program(OCTAVE_CLI octave-cli)
set(OCTAVE_MEX_FOUND FALSE)
if(MKOCTFILE_EXECUTABLE)
    execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p OCTINCLUDEDIR
        OUTPUT_VARIABLE _oct_inc OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc1)
    execute_process(COMMAND ${MKOCTFILE_EXECUTABLE} -p DL_LDFLAGS
        OUTPUT_VARIABLE _oct_ld OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE _rc2)
    if(_rc1 EQUAL 0 AND _rc2 EQUAL 0 AND EXISTS "${_oct_inc}/mex.h")
        get_filename_component(_oct_parent "${_oct_inc}" DIRECTORY)
        set(OCTAVE_MEX_INCLUDE_DIRS "${_oct_inc}" "${_oct_parent}")
        separate_arguments(OCTAVE_MEX_LINK_FLAGS UNIX_COMMAND "${_oct_ld}")
        set(OCTAVE_MEX_FOUND TRUE)
        message(STATUS "Octave MEX headers: ${_oct_inc}")
    endif()
endif()
if(NOT OCTAVE_MEX_FOUND)
    message(STATUS "mkoctfile not found: the Octave MEX modules are not built")
endif()
