# Runs typelib_finish under Wine. Its output goes to a file: Wine's background processes inherit
# the caller's output, and the build tool reading that pipe would wait for them to end.
#   cmake -DWINE_RUN=... -DTOOL=... -DINPUT_TLB=... -DOUTPUT_TLB=... -DIMPORTS=... -DLOG=... -P finish_typelib.cmake
foreach(var WINE_RUN TOOL INPUT_TLB OUTPUT_TLB IMPORTS LOG)
    if(NOT DEFINED ${var})
        message(FATAL_ERROR "finish_typelib: ${var} not set")
    endif()
endforeach()
execute_process(
    COMMAND ${WINE_RUN} --arch x64 ${TOOL} "Z:${INPUT_TLB}" "Z:${OUTPUT_TLB}" "Z:${IMPORTS}"
    OUTPUT_FILE ${LOG} ERROR_FILE ${LOG}
    RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS ${OUTPUT_TLB})
    file(READ ${LOG} log)
    message(FATAL_ERROR "finish_typelib failed (${result}):\n${log}")
endif()
