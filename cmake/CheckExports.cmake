cmake_minimum_required(VERSION 3.25)
# Fails unless the export list (.def), the public header, the DLL and both import libraries agree:
#   - the header's plain functions are the .def's plain names;
#   - the header's public members of CDRMLogin, decorated for Microsoft's ABI, are the .def's
#     decorated names, and, decorated for GCC, are exported by the DLL;
#   - the DLL exports every .def name;
#   - the Microsoft-style import library lists exactly the .def names (PRIVATE ones left out), the
#     MinGW import library lists them too, and the GCC-decorated members.
# Usage: cmake -DCLANG= -DNM= -DOBJDUMP= -DHEADER= -DDEF= -DDLL= -DMINGW_LIB= -DMSVC_LIB= [-DMSVC_TARGET=]
#              -P CheckExports.cmake
# MSVC_TARGET is clang's Microsoft-ABI target of the build: i686-pc-windows-msvc (the default) or
# x86_64-pc-windows-msvc, whose names differ (QAE/QEAA, PAD/PEAD, ...) and carry no symbol prefix.

if(NOT MSVC_TARGET)
  set(MSVC_TARGET i686-pc-windows-msvc)
endif()
string(REPLACE "-pc-windows-msvc" "-w64-mingw32" GCC_TARGET "${MSVC_TARGET}")
if(MSVC_TARGET MATCHES "^x86_64")
  set(this_qualifiers EAA) # x64 members: __ptr64 this, __cdecl
  set(symbol_prefix "")
else()
  set(this_qualifiers AE)  # x86 members: __thiscall
  set(symbol_prefix "_")
endif()

set(failures "")
macro(fail text)
  string(APPEND failures "  ${text}\n")
endmacro()

# The .def file: name[=internal] [PRIVATE] [DATA]; ';' starts a comment.
file(STRINGS ${DEF} def_lines)
set(def_plain "")
set(def_decorated "")
set(def_private "")
set(in_exports FALSE)
foreach(line IN LISTS def_lines)
  string(REGEX REPLACE ";.*" "" line "${line}")
  string(STRIP "${line}" line)
  if(line STREQUAL "")
    continue()
  elseif(line MATCHES "^EXPORTS")
    set(in_exports TRUE)
    continue()
  elseif(NOT in_exports)
    continue()
  endif()
  string(REGEX MATCH "^[^ =\t]+" name "${line}")
  if(line MATCHES "[ \t]PRIVATE")
    list(APPEND def_private ${name})
  elseif(name MATCHES "^\\?")
    list(APPEND def_decorated ${name})
  else()
    list(APPEND def_plain ${name})
  endif()
endforeach()

# The header, as each compiler sees it: the public members of CDRMLogin with their decorated names.
function(header_members target out_var)
  execute_process(
    COMMAND ${CLANG} --target=${target} -x c++ -std=c++17 -ffreestanding -fsyntax-only -Wno-pragma-once-outside-header
      -Xclang -ast-dump=json -Xclang -ast-dump-filter=CDRMLogin ${HEADER}
    OUTPUT_VARIABLE json RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "clang could not read ${HEADER} for ${target}: ${err}")
  endif()
  string(JSON count LENGTH "${json}" inner)
  math(EXPR last "${count} - 1")
  set(access private) # a class starts private
  set(names "")
  foreach(i RANGE ${last})
    string(JSON kind GET "${json}" inner ${i} kind)
    if(kind STREQUAL "AccessSpecDecl")
      string(JSON access GET "${json}" inner ${i} access)
    elseif(kind MATCHES "^CXX(Method|Constructor|Destructor)Decl$" AND access STREQUAL "public")
      string(JSON name GET "${json}" inner ${i} mangledName)
      if(kind STREQUAL "CXXDestructorDecl" AND target MATCHES "msvc")
        # clang names the declaration by a variant; callers call the complete destructor.
        string(JSON virtual ERROR_VARIABLE no_virtual GET "${json}" inner ${i} virtual)
        if(virtual)
          set(name "??1CDRMLogin@@U${this_qualifiers}@XZ")
        else()
          set(name "??1CDRMLogin@@Q${this_qualifiers}@XZ")
        endif()
      endif()
      string(REGEX REPLACE "^_(_Z)" "\\1" name "${name}") # MinGW's symbol prefix
      list(APPEND names ${name})
    endif()
  endforeach()
  set(${out_var} ${names} PARENT_SCOPE)
endfunction()
header_members(${MSVC_TARGET} header_msvc)
header_members(${GCC_TARGET} header_gcc)

# The header's plain functions (every free function it declares is an export).
execute_process(
  COMMAND ${CLANG} --target=${MSVC_TARGET} -x c++ -std=c++17 -ffreestanding -fsyntax-only -Wno-pragma-once-outside-header
    -Xclang -ast-dump ${HEADER}
  OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
string(REGEX MATCHALL "-FunctionDecl [^\n]* ([A-Za-z_][A-Za-z_0-9]*) '" decls "${dump}")
set(header_plain "")
foreach(decl IN LISTS decls)
  string(REGEX REPLACE ".* ([A-Za-z_][A-Za-z_0-9]*) '$" "\\1" name "${decl}")
  list(APPEND header_plain ${name})
endforeach()

# The DLL's export table.
execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE table)
string(REGEX REPLACE ".*\\[Ordinal/Name Pointer\\] Table" "" table "${table}")
string(REGEX REPLACE "\n\n.*" "" table "${table}")
# Rows are "\t[   n] name"; the brackets go first, as CMake lists treat them as grouping.
string(REGEX REPLACE "\t\\[ *[0-9]+\\] " "" table "${table}")
string(REPLACE "\n" ";" rows "${table}")
set(dll_exports "")
foreach(name IN LISTS rows)
  if(NOT name STREQUAL "")
    list(APPEND dll_exports ${name})
  endif()
endforeach()

# Import libraries: the names behind their __imp_ symbols.
function(imported_names lib mingw out_var)
  execute_process(COMMAND ${NM} ${lib} OUTPUT_VARIABLE symbols ERROR_QUIET)
  string(REGEX MATCHALL "__imp_[^\n]+" imps "${symbols}")
  set(names "")
  foreach(imp IN LISTS imps)
    string(REGEX REPLACE "^__imp_" "" name "${imp}")
    if(symbol_prefix AND (mingw OR NOT name MATCHES "^[?]"))
      string(SUBSTRING "${name}" 1 -1 name) # the i386 symbol prefix
    endif()
    list(APPEND names ${name})
  endforeach()
  list(REMOVE_DUPLICATES names)
  set(${out_var} ${names} PARENT_SCOPE)
endfunction()
imported_names(${MSVC_LIB} FALSE msvc_lib)
imported_names(${MINGW_LIB} TRUE mingw_lib)

# compare(<what> <list A> <list B>): the same names; contained(<what> <list A> <list B>): A within B.
function(compare what a b)
  set(only_a ${${a}})
  set(only_b ${${b}})
  set(all_a ${${a}})
  set(all_b ${${b}})
  if(only_a AND all_b)
    list(REMOVE_ITEM only_a ${all_b})
  endif()
  if(only_b AND all_a)
    list(REMOVE_ITEM only_b ${all_a})
  endif()
  if(only_a OR only_b)
    set(failures "${failures}  ${what}: only in ${a}: ${only_a}; only in ${b}: ${only_b}\n" PARENT_SCOPE)
  endif()
endfunction()
function(contained what small big)
  set(missing ${${small}})
  set(all_big ${${big}})
  if(missing AND all_big)
    list(REMOVE_ITEM missing ${all_big})
  endif()
  if(missing)
    set(failures "${failures}  ${what}: not in ${big}: ${missing}\n" PARENT_SCOPE)
  endif()
endfunction()

if(NOT header_plain OR NOT header_msvc OR NOT header_gcc OR NOT def_plain OR NOT dll_exports)
  message(FATAL_ERROR "nothing read: header ${header_plain} / ${header_msvc} / ${header_gcc}, def ${def_plain}, dll ${dll_exports}")
endif()

compare("plain exports" header_plain def_plain)
compare("Microsoft-decorated members" header_msvc def_decorated)
set(def_all ${def_plain} ${def_decorated} ${def_private})
set(def_public ${def_plain} ${def_decorated})
contained("exported names" def_all dll_exports)
contained("GCC-decorated members" header_gcc dll_exports)
compare("Microsoft-style import library" def_public msvc_lib)
contained("MinGW import library" def_public mingw_lib)
contained("MinGW import library" header_gcc mingw_lib)

list(LENGTH def_public count)
if(failures)
  message(FATAL_ERROR "export lists disagree:\n${failures}")
endif()
list(LENGTH header_msvc members)
message(STATUS "export lists agree: ${count} names (${members} members of CDRMLogin in both ABIs)")
