cmake_minimum_required(VERSION 3.25)
# Usage: cmake -DBUILD_DIR= -DWORK_DIR= -DCONSUMER_SOURCE= -DTOOLCHAIN= -DWINE_RUN= [-DOTHER_TOOLCHAIN=]
#              [-DLLD_LINK= -DKERNEL32= -DMSVC_CALLER_OBJ= -DMSVC_LINK_FLAGS=] -P PackageTest.cmake
# OTHER_TOOLCHAIN: the other architecture's, whose consumer the package must refuse with its message.
# MSVC_CALLER_OBJ: the Microsoft-ABI caller's object, linked against the installed VLAgtClient.lib.

function(run what)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
run("install" ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})

# The layout integrators expect.
foreach(file
    bin/VLAgtClient.dll bin/Corvane.dll
    lib/libVLAgtClient.dll.a lib/VLAgtClient.lib lib/libCorvane.dll.a
    include/VLAgtClient.h include/Corvane.h
    lib/cmake/VLAgtClient/VLAgtClientConfig.cmake lib/cmake/VLAgtClient/VLAgtClientConfigVersion.cmake
    lib/cmake/VLAgtClient/VLAgtClientTargets.cmake)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "the install lacks ${file}")
  endif()
endforeach()
# The companion library, the tool and the type library join the kit once they are built.
foreach(file bin/Ossilet.dll bin/vlagt.exe)
  if(EXISTS ${BUILD_DIR}/${file} AND NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "${file} is built but not installed")
  endif()
endforeach()
if(EXISTS ${BUILD_DIR}/bin/Ossilet.dll)
  foreach(file lib/libOssilet.dll.a lib/Ossilet.lib include/Ossilet.h)
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "Ossilet.dll is built but the install lacks ${file}")
    endif()
  endforeach()
endif()
if(EXISTS ${BUILD_DIR}/bin/VLAgtClient.tlb AND NOT EXISTS ${prefix}/lib/VLAgtClient.tlb)
  message(FATAL_ERROR "the type library is built but not installed in lib/")
endif()
file(GLOB_RECURSE installed RELATIVE ${prefix} ${prefix}/*)
foreach(file IN LISTS installed)
  if(file MATCHES "test|gtest|gmock|vlhelper|vlapicaller|vlmsvccaller|corvane_store|vlagt_core")
    message(FATAL_ERROR "the install carries a test file: ${file}")
  endif()
endforeach()

# A consumer that sees the install and nothing else.
run("configuring the consumer" ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/consumer -G Ninja
  -DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN} -DCMAKE_BUILD_TYPE=Release
  -DVLAgtClient_DIR=${prefix}/lib/cmake/VLAgtClient)
run("building the consumer" ${CMAKE_COMMAND} --build ${WORK_DIR}/consumer)
run("running the consumer" ${WINE_RUN} ${WORK_DIR}/consumer/vlagtconsumer.exe)
if(NOT run_output MATCHES "consumer ok")
  message(FATAL_ERROR "the consumer said:\n${run_output}")
endif()
message(STATUS "${run_output}")

# The Microsoft-ABI caller links against the installed Microsoft-style import library alone.
if(MSVC_CALLER_OBJ)
  run("linking the Microsoft-ABI caller against the installed VLAgtClient.lib" ${LLD_LINK} /nologo ${MSVC_LINK_FLAGS}
    /entry:mainCRTStartup /subsystem:console /nodefaultlib ${MSVC_CALLER_OBJ} ${prefix}/lib/VLAgtClient.lib
    ${KERNEL32} /out:${WORK_DIR}/vlmsvccaller.exe)
endif()

# A consumer of the other architecture is refused, with the package's one message.
if(OTHER_TOOLCHAIN)
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${CONSUMER_SOURCE} -B ${WORK_DIR}/other -G Ninja
      -DCMAKE_TOOLCHAIN_FILE=${OTHER_TOOLCHAIN} -DVLAgtClient_DIR=${prefix}/lib/cmake/VLAgtClient
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(rc EQUAL 0 OR NOT err MATCHES "kit of the project's architecture")
    message(FATAL_ERROR "a consumer of the other architecture was not refused with the package's message (${rc}):\n${err}")
  endif()
endif()
file(REMOVE_RECURSE ${WORK_DIR})
