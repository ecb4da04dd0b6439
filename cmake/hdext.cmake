# Project-wide compile settings and the helper that turns one source folder into one library.

add_compile_options(-Wall -Wextra)
# Faults that show only on the units' CPU: char is unsigned there, and a misaligned load of a
# record read from a byte buffer may trap or be slow. (-Wall already has the first two in C++;
# they are named so that no later flag turns them off unseen.)
add_compile_options(-Wchar-subscripts -Wsign-compare)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  add_compile_options(-Wcast-align=strict)
endif()
if(HDEXT_WERROR)
  add_compile_options(-Werror)
endif()

if(HDEXT_SANITIZE)
  set(_san "${HDEXT_SANITIZE}")
  string(REPLACE ";" "," _san "${_san}")
  add_compile_options(-fsanitize=${_san} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${_san})
endif()

# Fuzz targets get coverage feedback from the program's own code, not only from their own file.
if(HDEXT_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# Diagnostic lines name files relative to the project (src/core/task.cpp), whatever the
# checkout's location; also keeps object files identical across checkouts for ccache.
add_compile_options(-fmacro-prefix-map=${PROJECT_SOURCE_DIR}/=)

# The crash report prints symbol names from backtrace_symbols().
add_link_options(-rdynamic)

# hdext_library(NAME [DEPS dep...]) builds every .cpp of the calling folder into a static
# library called NAME; headers live beside the sources and are included as "<folder>/x.h".
function(hdext_library name)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  foreach(_ex IN LISTS ARG_EXCLUDE)
    list(REMOVE_ITEM _src ${CMAKE_CURRENT_SOURCE_DIR}/${_ex})
  endforeach()
  if(NOT _src)
    # A folder with headers only so far.
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} Threads::Threads)
    return()
  endif()
  add_library(${name} STATIC ${_src})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
endfunction()

# hdext_test(NAME [SOURCES file...] [DEPS dep...] [LABELS label...]) builds the given sources
# (default: every .cpp of the calling folder) into one GoogleTest executable and registers its
# tests with the given CTest labels.
function(hdext_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  if(ARG_SOURCES)
    set(_src ${ARG_SOURCES})
  else()
    file(GLOB _src CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
  endif()
  add_executable(${name} ${_src})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  # Where the programs and sources are; HDEXT_BUILD_DIR / HDEXT_SOURCE_DIR override at run time.
  target_compile_definitions(${name} PRIVATE HDEXT_TEST_BUILD_DIR="${PROJECT_BINARY_DIR}"
                             HDEXT_TEST_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  if(NOT ARG_LABELS)
    set(ARG_LABELS unit)
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  # Labels go on after discovery: the discovery script keeps only the first of a list.
  set(_labels_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels.cmake)
  file(WRITE ${_labels_file} "if(${name}_TESTS)\n  set_tests_properties(\${${name}_TESTS} "
                             "PROPERTIES LABELS \"${ARG_LABELS}\")\nendif()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${_labels_file})
endfunction()
