# The integrator's kit: Microsoft-style import libraries, the install layout and the CMake package.
#
#   bin/      VLAgtClient.dll, Corvane.dll, Ossilet.dll, vlagt.exe
#   lib/      libX.dll.a (MinGW import libraries, from GNU ld), X.lib (Microsoft-style, from the .def
#             files by llvm-dlltool), VLAgtClient.tlb, cmake/VLAgtClient/ (the package)
#   include/  VLAgtClient.h, Corvane.h
include_guard(GLOBAL)
include(CMakePackageConfigHelpers)

find_program(VLAGT_LLVM_DLLTOOL NAMES llvm-dlltool-14 llvm-dlltool
  DOC "llvm-dlltool, which makes the Microsoft-style import libraries (Debian package llvm-14)")
if(NOT VLAGT_LLVM_DLLTOOL)
  message(FATAL_ERROR "llvm-dlltool not found: run scripts/install-deps.sh")
endif()

# vlagt_add_msvc_import_library(<dll target> <def file>): build/lib/<target>.lib, the import library
# a Microsoft linker takes, made from the same .def file GNU ld reads. Its path is kept in the
# target's property VLAGT_MSVC_IMPORT_LIBRARY.
function(vlagt_add_msvc_import_library target def)
  set(lib ${CMAKE_ARCHIVE_OUTPUT_DIRECTORY}/${target}.lib)
  add_custom_command(OUTPUT ${lib}
    COMMAND ${VLAGT_LLVM_DLLTOOL} -m ${VLAGT_DLLTOOL_MACHINE} -d ${def} -l ${lib}
    DEPENDS ${def}
    COMMENT "Microsoft-style import library ${target}.lib"
    VERBATIM)
  add_custom_target(${target}_msvc_lib ALL DEPENDS ${lib})
  add_dependencies(${target} ${target}_msvc_lib)
  set_property(TARGET ${target} PROPERTY VLAGT_MSVC_IMPORT_LIBRARY ${lib})
endfunction()

# The install rules run once every folder is read, so that the companions and the tool join the kit
# whichever folder defines them.
function(vlagt_install_kit)
  set(libraries VLAgtClient Corvane)
  if(TARGET Ossilet)
    list(APPEND libraries Ossilet)
  endif()
  # The companions follow the kit's conventions whichever folder defines them: MinGW import
  # libraries named libX.dll.a, a Microsoft-style X.lib where the .def exports by name, and header
  # folders that point into the install once installed.
  foreach(library IN LISTS libraries)
    if(NOT library STREQUAL "VLAgtClient")
      set_target_properties(${library} PROPERTIES IMPORT_PREFIX "lib" IMPORT_SUFFIX ".dll.a")
    endif()
    get_target_property(msvc_lib ${library} VLAGT_MSVC_IMPORT_LIBRARY)
    get_target_property(sources ${library} SOURCES)
    get_target_property(source_dir ${library} SOURCE_DIR)
    foreach(source IN LISTS sources)
      if(NOT msvc_lib AND source MATCHES "\\.def$")
        if(NOT IS_ABSOLUTE "${source}")
          set(source ${source_dir}/${source})
        endif()
        file(STRINGS ${source} def_lines)
        list(FILTER def_lines EXCLUDE REGEX "^[ \t]*(;|$)|^(LIBRARY|EXPORTS)")
        if(def_lines)
          vlagt_add_msvc_import_library(${library} ${source})
        endif()
      endif()
    endforeach()
    get_target_property(include_dirs ${library} INTERFACE_INCLUDE_DIRECTORIES)
    set(interface_dirs "")
    foreach(dir IN LISTS include_dirs)
      if(dir MATCHES "^\\$<")
        list(APPEND interface_dirs "${dir}")
      else()
        list(APPEND interface_dirs "$<BUILD_INTERFACE:${dir}>")
      endif()
    endforeach()
    list(APPEND interface_dirs "$<INSTALL_INTERFACE:include>")
    list(REMOVE_DUPLICATES interface_dirs)
    set_property(TARGET ${library} PROPERTY INTERFACE_INCLUDE_DIRECTORIES "${interface_dirs}")
  endforeach()

  install(TARGETS ${libraries} EXPORT VLAgtClientTargets
    RUNTIME DESTINATION bin
    ARCHIVE DESTINATION lib)
  if(TARGET vlagt)
    install(TARGETS vlagt RUNTIME DESTINATION bin)
  endif()

  set(headers ${PROJECT_SOURCE_DIR}/include/VLAgtClient.h ${PROJECT_SOURCE_DIR}/corvane/include/Corvane.h)
  if(EXISTS ${PROJECT_SOURCE_DIR}/ossilet/include/Ossilet.h)
    list(APPEND headers ${PROJECT_SOURCE_DIR}/ossilet/include/Ossilet.h)
  endif()
  install(FILES ${headers} DESTINATION include)

  set(runtime_names "")
  foreach(library IN LISTS libraries)
    get_target_property(msvc_lib ${library} VLAGT_MSVC_IMPORT_LIBRARY)
    if(msvc_lib)
      install(FILES ${msvc_lib} DESTINATION lib)
    endif()
    list(APPEND runtime_names ${library})
  endforeach()

  # The type library, once the module has one.
  get_property(typelib GLOBAL PROPERTY VLAGT_TYPELIB)
  if(typelib)
    install(FILES ${typelib} DESTINATION lib)
  endif()

  install(EXPORT VLAgtClientTargets NAMESPACE VLAgtClient:: DESTINATION lib/cmake/VLAgtClient)
  set(VLAGT_PACKAGE_LIBRARIES ${runtime_names})
  configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/VLAgtClientConfig.cmake.in
    ${PROJECT_BINARY_DIR}/package/VLAgtClientConfig.cmake
    INSTALL_DESTINATION lib/cmake/VLAgtClient)
  write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/VLAgtClientConfigVersion.cmake
    VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion
    ARCH_INDEPENDENT) # the architecture is checked by VLAgtClientConfig.cmake, with its own message
  install(FILES
    ${PROJECT_BINARY_DIR}/package/VLAgtClientConfig.cmake
    ${PROJECT_BINARY_DIR}/package/VLAgtClientConfigVersion.cmake
    DESTINATION lib/cmake/VLAgtClient)
endfunction()

cmake_language(DEFER CALL vlagt_install_kit)
