cmake_minimum_required(VERSION 3.25)
# Fails when DLL imports anything but Windows system DLLs and the product's own companions.
# Usage: cmake -DOBJDUMP=<objdump> -DDLL=<file> [-DSYSTEM_ONLY=ON] -P CheckImports.cmake
# With SYSTEM_ONLY the companions are refused too (for the companions themselves).
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
set(allowed
  kernel32.dll user32.dll advapi32.dll wininet.dll ws2_32.dll iphlpapi.dll icmp.dll shell32.dll
  ole32.dll oleaut32.dll msvcrt.dll)
if(NOT SYSTEM_ONLY)
  list(APPEND allowed corvane.dll ossilet.dll vlagtclient.dll)
endif()
set(found "")
foreach(line IN LISTS lines)
  string(REGEX REPLACE "DLL Name: " "" name "${line}")
  string(STRIP "${name}" name)
  string(TOLOWER "${name}" lower)
  list(APPEND found ${lower})
  if(NOT lower IN_LIST allowed AND NOT lower MATCHES "^api-ms-win-")
    message(FATAL_ERROR "${DLL} imports ${name}, which is not a system DLL")
  endif()
endforeach()
if(NOT found)
  message(FATAL_ERROR "no import table found in ${DLL}")
endif()
message(STATUS "imports: ${found}")
