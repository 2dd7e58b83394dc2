cmake_minimum_required(VERSION 3.25)
# cmake -DNM=... -DDLLTOOL=... -DDLLS="a;b" -DIMPLIBS="liba.a;libb.a" -DOUT_DIR=... -DKILL_AT=ON|OFF
#       -P make_delay_lib.cmake
# A delay-import library lib<dll>_delay.a for each DLL with the functions of the system's import
# library: the program then loads the DLL at its first call, through the loader hook that takes
# it from the system folder. The libraries are linked whole, so a name two import libraries
# share (forwarded functions, the COM server entry points) goes to the first DLL only.
set(taken)
foreach(dll implib IN ZIP_LISTS DLLS IMPLIBS)
  execute_process(COMMAND ${NM} ${implib} OUTPUT_VARIABLE symbols RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${NM} ${implib} failed")
  endif()
  string(REGEX MATCHALL " I __imp__?[A-Za-z0-9_@]+" imports "${symbols}")
  set(def "LIBRARY ${dll}.dll\nEXPORTS\n")
  foreach(i ${imports})
    string(REGEX REPLACE "^ I __imp_" "" name "${i}")
    if(KILL_AT)
      # 32-bit names carry the underscore that dlltool adds again.
      string(REGEX REPLACE "^_" "" name "${name}")
    endif()
    string(REGEX REPLACE "@[0-9]+$" "" plain "${name}")
    if(plain MATCHES "^Dll" OR plain IN_LIST taken)
      continue()
    endif()
    list(APPEND taken ${plain})
    string(APPEND def "${name}\n")
  endforeach()
  set(out ${OUT_DIR}/lib${dll}_delay.a)
  file(WRITE ${out}.def "${def}")
  set(extra)
  if(KILL_AT)
    set(extra --kill-at)
  endif()
  execute_process(COMMAND ${DLLTOOL} --input-def ${out}.def --output-delaylib ${out}
    --dllname ${dll}.dll ${extra} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${DLLTOOL} could not write ${out}")
  endif()
endforeach()
