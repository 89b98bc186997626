# Shared compile settings for the project's own targets.

set(QUIRELLE_WARNINGS -Wall -Wextra)
if(QUIRELLE_WERROR)
  list(APPEND QUIRELLE_WARNINGS -Werror)
endif()

if(QUIRELLE_FUZZ)
  # Coverage for the engine; the fuzz programs themselves link the fuzzer runtime.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QUIRELLE_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# quirelle_library(<name> SOURCES ... [DEPENDS ...]): one static library per subsystem folder,
# included relative to the repository root.
function(quirelle_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${QUIRELLE_WARNINGS})
  if(ARG_DEPENDS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
  endif()
endfunction()

# quirelle_test(<name> SOURCES ... DEPENDS ... [LABELS ...]): a GoogleTest program under CTest.
function(quirelle_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPENDS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${QUIRELLE_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main quirelle_testsupport)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name}
    WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
    PROPERTIES LABELS "${ARG_LABELS}" ENVIRONMENT "QUIRELLE_SOURCE_DIR=${PROJECT_SOURCE_DIR}"
    DISCOVERY_TIMEOUT 60)
endfunction()

# quirelle_folder_library(<name> <folder> <deps>...): the static library of one folder, built from
# every .cpp file directly in it. A folder without sources yet gets an empty library.
function(quirelle_folder_library name folder)
  file(GLOB sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.cpp)
  if(NOT sources)
    set(sources ${PROJECT_SOURCE_DIR}/cmake/empty.cpp)
  endif()
  quirelle_library(${name} SOURCES ${sources} DEPENDS ${ARGN})
endfunction()
