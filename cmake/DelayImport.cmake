# Delay-loaded imports for the Windows builds.
#
# The program runs elevated from the user's Downloads folder, where any program of the user can
# put a DLL.  The loader resolves a program's import table before its first line runs, from the
# program's own folder first for every DLL that is not a known system DLL; so the DLLs of that
# kind are imported lazily instead: their first call loads them, after the entry point has
# restricted the search to the system folder.
#
# qv_delay_import(<target> <dll>...) links <target> to delay-load import libraries of the DLLs,
# made here from mingw-w64's ordinary import libraries with dlltool.

function(qv_delay_import target)
  set(dir ${CMAKE_BINARY_DIR}/delayimp)
  file(MAKE_DIRECTORY ${dir})
  foreach(dll IN LISTS ARGN)
    find_library(_implib_${dll} NAMES lib${dll}.a REQUIRED NO_CACHE)
    execute_process(COMMAND ${CMAKE_NM} -g ${_implib_${dll}} OUTPUT_VARIABLE syms RESULT_VARIABLE rc)
    if(rc)
      message(FATAL_ERROR "cannot list the symbols of ${_implib_${dll}}")
    endif()
    string(REGEX MATCHALL " I __imp_[^\r\n]+" imports "${syms}")
    set(def "LIBRARY \"${dll}.dll\"\nEXPORTS\n")
    foreach(i IN LISTS imports)
      string(REGEX REPLACE "^ I __imp_" "" name "${i}")
      if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
        string(REGEX REPLACE "^_" "" name "${name}")  # the C prefix of 32-bit names
      endif()
      string(APPEND def "  ${name}\n")
    endforeach()
    file(WRITE ${dir}/${dll}.def.new "${def}")
    file(COPY_FILE ${dir}/${dll}.def.new ${dir}/${dll}.def ONLY_IF_DIFFERENT)
    set(kill "")
    if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
      set(kill --kill-at)  # stdcall names are exported without their @N
    endif()
    set(out ${dir}/lib${dll}_delay.a)
    add_custom_command(OUTPUT ${out}
      COMMAND ${CMAKE_DLLTOOL} --input-def ${dir}/${dll}.def --dllname ${dll}.dll ${kill}
              --output-delaylib ${out}
      DEPENDS ${dir}/${dll}.def
      COMMENT "Delay-load import library for ${dll}.dll")
    add_custom_target(qv_delayimp_${dll} DEPENDS ${out})
    add_dependencies(${target} qv_delayimp_${dll})
    target_link_libraries(${target} PUBLIC ${out})
  endforeach()
  target_link_libraries(${target} PUBLIC delayimp)
endfunction()
