# Common compile settings and helpers for every component.

add_compile_options(-Wall -Wextra -Werror -fvisibility=hidden)
# Without this, C++ inline statics become STB_GNU_UNIQUE symbols and dlclose
# never unloads a module, so library detach would not run at the last release.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options($<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>)
endif()

# LX_SANITIZE=ON: AddressSanitizer and UndefinedBehaviorSanitizer;
# LX_SANITIZE=thread: ThreadSanitizer (scripts/tsan.sh builds the threaded parts' tests so).
if(LX_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
  # g++ warns that it does not instrument the fences around register
  # accesses (platform/nt/src/io_space.cpp); those order device accesses,
  # which no other thread reads as memory.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_compile_options(-Wno-tsan)
  endif()
elseif(LX_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

# lx_export_list(TARGET FILE_NAME)
# A module with an export list (cmake/exports/FILE_NAME.txt) exports exactly
# those names: a version script keeps everything else (the std::
# instantiations its code uses, for one) local, so no other module can bind
# to it or interpose it. Names may be mangled C++ names, listed as the
# linker sees them.
function(lx_export_list name file_name)
  set(list ${PROJECT_SOURCE_DIR}/cmake/exports/${file_name}.txt)
  if(NOT EXISTS ${list})
    return()
  endif()
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${list})
  file(STRINGS ${list} lines)
  set(script "{\n  global:\n")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*" "" line "${line}")
    string(STRIP "${line}" line)
    if(line)
      string(APPEND script "    ${line};\n")
    endif()
  endforeach()
  string(APPEND script "  local:\n    *;\n};\n")
  set(map ${CMAKE_CURRENT_BINARY_DIR}/${file_name}.exports.map)
  file(WRITE ${map} "${script}")
  target_link_options(${name} PRIVATE "LINKER:--version-script=${map}")
  set_property(TARGET ${name} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()

# lx_library(NAME [OUTPUT_NAME name] SOURCES ... [LINK ...])
# A shared library of the stack. Exports are marked with LX_EXPORT.
function(lx_library name)
  cmake_parse_arguments(ARG "" "OUTPUT_NAME" "SOURCES;LINK" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES})
  if(ARG_OUTPUT_NAME)
    set_target_properties(${name} PROPERTIES OUTPUT_NAME ${ARG_OUTPUT_NAME})
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LINK})
  set(file_name ${name})
  if(ARG_OUTPUT_NAME)
    set(file_name ${ARG_OUTPUT_NAME})
  endif()
  lx_export_list(${name} ${file_name})
endfunction()

# lx_test(NAME SOURCES ... [LINK ...] [ENV VAR=VALUE ...] [TIMEOUT seconds])
# A GoogleTest program registered with CTest as one test.
function(lx_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LINK;ENV" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE GTest::gtest GTest::gtest_main Threads::Threads ${ARG_LINK})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  # A test reaches only machines it boots itself, never the user's default
  # machine (LX_MACHINE points where no machine runs).
  set_tests_properties(${name} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
    ENVIRONMENT "LX_MACHINE_NO_AUTOBOOT=1;LX_MACHINE=${CMAKE_BINARY_DIR}/no-machine;LX_BUILD_DIR=${CMAKE_BINARY_DIR};${ARG_ENV}")
endfunction()
