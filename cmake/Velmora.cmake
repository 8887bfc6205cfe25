# Build rules shared by every directory: product flags, output layout, tests.

if(WIN32)
  set(VELMORA_WINDOWS ON)
else()
  set(VELMORA_WINDOWS OFF)
endif()

# Windows test programs and tools go to build/win/bin, the distribution to
# build/win/dist; native programs to build/<preset>/bin.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(VELMORA_DIST_DIR ${CMAKE_BINARY_DIR}/dist)

if(VELMORA_SANITIZE)
  list(JOIN VELMORA_SANITIZE "," _sanitizers)
  add_compile_options(-fsanitize=${_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all -g)
  add_link_options(-fsanitize=${_sanitizers})
endif()

if(VELMORA_WINDOWS)
  # Every Windows binary carries its compiler runtime inside: no libstdc++,
  # libgcc or libwinpthread DLLs next to it.
  add_link_options(-static -static-libgcc -static-libstdc++)
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00 WINVER=0x0A00)
endif()

set(VELMORA_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor
    -Woverloaded-virtual -Wcast-qual -Wformat=2 -Werror)

# Product code: no exceptions, no run-time type information, warnings as errors.
function(velmora_product_flags target)
  target_compile_options(${target} PRIVATE ${VELMORA_WARNINGS}
    $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
endfunction()

function(velmora_library target)
  add_library(${target} STATIC ${ARGN})
  velmora_product_flags(${target})
  target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR})
endfunction()

# --- tests -----------------------------------------------------------------

if(VELMORA_WINDOWS)
  # GoogleTest from the sources Debian ships, compiled with the cross compiler.
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  set(VELMORA_GTEST gtest gtest_main)
else()
  find_package(GTest REQUIRED)
  include(GoogleTest)
  set(VELMORA_GTEST GTest::gtest GTest::gtest_main)
endif()

set(VELMORA_THREAD_SANITIZER OFF)
if("thread" IN_LIST VELMORA_SANITIZE)
  set(VELMORA_THREAD_SANITIZER ON)
endif()

# velmora_test(name SOURCES ... [LIBS ...] [THREADS] [HOST_ONLY] [WINDOWS_ONLY])
# A GoogleTest program. THREADS marks a program that starts threads: the
# ThreadSanitizer configuration builds and runs only those.
function(velmora_test name)
  cmake_parse_arguments(T "THREADS;HOST_ONLY;WINDOWS_ONLY" "" "SOURCES;LIBS" ${ARGN})
  if(T_HOST_ONLY AND VELMORA_WINDOWS)
    return()
  endif()
  if(T_WINDOWS_ONLY AND NOT VELMORA_WINDOWS)
    return()
  endif()
  if(VELMORA_THREAD_SANITIZER AND NOT T_THREADS)
    return()
  endif()
  add_executable(${name} ${T_SOURCES})
  target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${T_LIBS} ${VELMORA_GTEST})
  if(VELMORA_WINDOWS)
    # One CTest entry per program: starting Wine once per case would dominate.
    add_test(NAME ${name} COMMAND ${name})
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()

# Windows tests that show windows or need the keyboard focus share one
# display: a window of another test taking the activation takes the focus
# from them (a tab's rename editor commits and closes when it loses the
# focus). velmora_desktop_tests(name...) gives them one lock, so they run
# one at a time while the other tests go on beside them. Call it in the
# folder that adds the tests.
function(velmora_desktop_tests)
  foreach(name IN LISTS ARGN)
    get_test_property(${name} RESOURCE_LOCK locks)
    if(NOT locks)
      set(locks)
    endif()
    list(APPEND locks desktop)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${locks}")
  endforeach()
endfunction()

# The fuzz targets and the product code they reach are optimised (the tests'
# -O0 makes every byte loop a function call per check) and the product code
# carries the fuzzer's coverage instrumentation, so that libFuzzer is guided
# by the branches of the framers and servers rather than by the harness
# alone. The sanitizers stay, except two of the undefined-behaviour checks:
# libFuzzer traces every integer comparison as if it came from the input,
# and the alignment and pointer-overflow checks add several to each pointer
# use (a third of the time, and noise in the fuzzer's comparison tables).
# Nothing is lost: each fuzz target also has a checked build, the same
# harness over the ordinary libraries with every check the tests have, and
# every input kept in a corpus is run through it (tools/fuzz-replay).
set(VELMORA_FUZZ_OPTIMISE -O2 -fno-sanitize=alignment,pointer-overflow)

# velmora_fuzz_library(lib): lib_fuzz, the same sources and dependencies as
# the product library lib, built for the fuzz targets as above.
function(velmora_fuzz_library lib)
  if(TARGET ${lib}_fuzz)
    return()
  endif()
  get_target_property(sources ${lib} SOURCES)
  get_target_property(dir ${lib} SOURCE_DIR)
  set(paths)
  foreach(source IN LISTS sources)
    if(IS_ABSOLUTE ${source})
      list(APPEND paths ${source})
    else()
      list(APPEND paths ${dir}/${source})
    endif()
  endforeach()
  add_library(${lib}_fuzz STATIC EXCLUDE_FROM_ALL ${paths})
  velmora_product_flags(${lib}_fuzz)
  target_compile_options(${lib}_fuzz PRIVATE -fsanitize=fuzzer-no-link ${VELMORA_FUZZ_OPTIMISE}
    -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/tests/fuzz/coverage_ignore.txt)
  target_include_directories(${lib}_fuzz PUBLIC ${PROJECT_SOURCE_DIR})
  get_target_property(options ${lib} INTERFACE_COMPILE_OPTIONS)
  if(options)
    target_compile_options(${lib}_fuzz INTERFACE ${options})
  endif()
  get_target_property(deps ${lib} LINK_LIBRARIES)
  if(deps)
    foreach(dep IN LISTS deps)
      if(dep MATCHES "^velmora_")
        velmora_fuzz_library(${dep})
        target_link_libraries(${lib}_fuzz PUBLIC ${dep}_fuzz)
      else()
        target_link_libraries(${lib}_fuzz PUBLIC ${dep})
      endif()
    endforeach()
  endif()
endfunction()

# velmora_fuzzer(name SOURCES ... [LIBS ...] [SECONDS n] [CORPUS dir])
# A libFuzzer target (native clang build with AddressSanitizer only), and
# name_checked, the checked build described above. CTest runs the target
# for a bounded time from its committed seed corpus, then the seeds and what
# the run found through the checked build; run the binary by hand for
# longer (see README).
function(velmora_fuzzer name)
  cmake_parse_arguments(F "" "SECONDS;CORPUS" "SOURCES;LIBS" ${ARGN})
  if(VELMORA_WINDOWS OR VELMORA_THREAD_SANITIZER OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  if(NOT "address" IN_LIST VELMORA_SANITIZE)
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 20)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE ${VELMORA_WARNINGS} -fsanitize=fuzzer ${VELMORA_FUZZ_OPTIMISE}
    -fsanitize-coverage-ignorelist=${PROJECT_SOURCE_DIR}/tests/fuzz/coverage_ignore.txt)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  set(libs)
  foreach(lib IN LISTS F_LIBS)
    velmora_fuzz_library(${lib})
    list(APPEND libs ${lib}_fuzz)
  endforeach()
  target_link_libraries(${name} PRIVATE ${libs})
  # The run writes new inputs to a scratch copy, never into the source tree.
  set(work ${CMAKE_BINARY_DIR}/fuzz/${name})
  add_test(NAME fuzz_${name}
    COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1
      ${CMAKE_SOURCE_DIR}/tools/fuzz-run $<TARGET_FILE:${name}> ${F_CORPUS} ${work} ${F_SECONDS})
  add_executable(${name}_checked ${F_SOURCES})
  target_compile_options(${name}_checked PRIVATE ${VELMORA_WARNINGS} -fsanitize=fuzzer)
  target_link_options(${name}_checked PRIVATE -fsanitize=fuzzer)
  target_include_directories(${name}_checked PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name}_checked PRIVATE ${F_LIBS})
  add_test(NAME fuzz_${name}_checked
    COMMAND ${CMAKE_SOURCE_DIR}/tools/fuzz-replay $<TARGET_FILE:${name}_checked> ${F_CORPUS} ${work}/corpus)
  set_tests_properties(fuzz_${name}_checked PROPERTIES DEPENDS fuzz_${name})
endfunction()

# Adds the listed subfolders of the current source folder, in order. A
# listed folder without build rules stops the configuration (as
# add_subdirectory does), and so does a subfolder with build rules that is
# not listed: no folder is skipped or left out silently.
function(velmora_add_folders)
  file(GLOB rules RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt)
  foreach(rule ${rules})
    get_filename_component(dir ${rule} DIRECTORY)
    if(NOT dir IN_LIST ARGN)
      message(FATAL_ERROR "${CMAKE_CURRENT_SOURCE_DIR}/${dir} has build rules but is not in its parent's folder list")
    endif()
  endforeach()
  foreach(dir ${ARGN})
    add_subdirectory(${dir})
  endforeach()
endfunction()

# --- distribution ------------------------------------------------------------

# velmora_dist_binary(target [SUBDIR dir])
# A deliverable: optimised, stripped (debug information stays with the test
# programs) and laid out in build/win/dist (plug-ins in dist/plugins).
function(velmora_dist_binary target)
  cmake_parse_arguments(D "" "SUBDIR" "" ${ARGN})
  set(dir ${VELMORA_DIST_DIR})
  if(D_SUBDIR)
    set(dir ${VELMORA_DIST_DIR}/${D_SUBDIR})
  endif()
  set_target_properties(${target} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${dir})
  target_link_options(${target} PRIVATE -s)
  set_property(GLOBAL APPEND PROPERTY VELMORA_DIST_TARGETS ${target})
endfunction()

# Prints the distribution's total size after every build that touches it.
function(velmora_dist_size_report)
  get_property(targets GLOBAL PROPERTY VELMORA_DIST_TARGETS)
  if(NOT targets)
    return()
  endif()
  add_custom_target(dist_size ALL
    COMMAND ${CMAKE_COMMAND} -DDIST=${VELMORA_DIST_DIR} -P ${PROJECT_SOURCE_DIR}/cmake/dist_size.cmake
    DEPENDS ${targets}
    VERBATIM)
endfunction()
