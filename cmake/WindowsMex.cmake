# MEX modules for Windows MATLAB, cross-built with mingw-w64 (cmake/toolchain-mingw-*.cmake).
#
# A Windows DLL cannot leave symbols undefined, so the modules link against import libraries
# for MATLAB's libmx.dll and libmex.dll made with dlltool from mex/libmx.def and
# mex/libmex.def. The declarations come from VID_WIN_MEX_API_DIR/mex.h: by default the
# minimal header kept with the Windows tests; point it at MATLAB's extern/include to build
# against MATLAB's own headers. Each module exports mexFunction alone (mex/mexFunction.def)
# and carries static C and C++ runtimes, so it imports only from KERNEL32.dll, msvcrt.dll,
# libmx.dll and libmex.dll.
#
#   vid_add_windows_mex(<name> <sources...>)   module <build>/mex-win/<name>.mexw64 (.mexw32)

set(VID_WIN_MEX_API_DIR ${PROJECT_SOURCE_DIR}/tests/windows/mexapi CACHE PATH
    "Directory holding mex.h for the Windows MEX modules")
set(VID_WIN_MEX_DIR ${CMAKE_BINARY_DIR}/mex-win CACHE INTERNAL "Windows MEX modules")
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(VID_WIN_MEX_SUFFIX .mexw64)
else()
    set(VID_WIN_MEX_SUFFIX .mexw32)
endif()

find_program(VID_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${VID_MINGW_TRIPLET}-dlltool dlltool REQUIRED)
set(_vid_implib_dir ${CMAKE_BINARY_DIR}/mex-implib)
file(MAKE_DIRECTORY ${_vid_implib_dir})
foreach(_lib mx mex)
    set(_def ${PROJECT_SOURCE_DIR}/mex/lib${_lib}.def)
    set(_implib ${_vid_implib_dir}/lib${_lib}.dll.a)
    execute_process(COMMAND ${VID_DLLTOOL} -d ${_def} -D lib${_lib}.dll -l ${_implib}
        RESULT_VARIABLE _rc ERROR_VARIABLE _err)
    if(NOT _rc EQUAL 0)
        message(FATAL_ERROR "dlltool could not make ${_implib}: ${_err}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_def})
    add_library(vid_win_lib${_lib} STATIC IMPORTED GLOBAL)
    set_target_properties(vid_win_lib${_lib} PROPERTIES IMPORTED_LOCATION ${_implib})
endforeach()

# The MATLAB build of errbox (reports raised through mexErrMsgTxt), made on first use.
function(_vid_windows_errbox)
    if(NOT TARGET errbox_mex_win)
        add_library(errbox_mex_win OBJECT ${PROJECT_SOURCE_DIR}/tools/errbox.cpp)
        target_compile_definitions(errbox_mex_win PRIVATE MATLAB_MEX_FILE MX_COMPAT_32)
        target_include_directories(errbox_mex_win PUBLIC ${PROJECT_SOURCE_DIR}/tools
            PRIVATE ${VID_WIN_MEX_API_DIR})
        target_compile_options(errbox_mex_win PRIVATE ${VID_WARNINGS})
    endif()
endfunction()

function(vid_add_windows_mex name)
    _vid_windows_errbox()
    set_property(GLOBAL APPEND PROPERTY VID_WIN_MEX_TARGETS ${name})
    add_library(${name} MODULE ${ARGN} ${PROJECT_SOURCE_DIR}/mex/mexFunction.def)
    set_target_properties(${name} PROPERTIES
        PREFIX "" SUFFIX ${VID_WIN_MEX_SUFFIX}
        LIBRARY_OUTPUT_DIRECTORY ${VID_WIN_MEX_DIR})
    target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/mex ${VID_WIN_MEX_API_DIR})
    target_compile_definitions(${name} PRIVATE MATLAB_MEX_FILE MX_COMPAT_32)
    target_compile_options(${name} PRIVATE ${VID_WARNINGS})
    target_link_libraries(${name} PRIVATE errbox_mex_win vidcore ZLIB::ZLIB
        vid_win_libmx vid_win_libmex)
endfunction()
