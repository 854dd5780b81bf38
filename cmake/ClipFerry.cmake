# Helpers shared by every folder of the build.

include_guard(GLOBAL)

# Adds each listed sub-folder that has a CMakeLists.txt, so folders can be filled in independently.
function(clipferry_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(EXISTS "${CMAKE_CURRENT_SOURCE_DIR}/${dir}/CMakeLists.txt")
      add_subdirectory(${dir})
    endif()
  endforeach()
endfunction()

# Where `cmake --install` puts the program folder, below the prefix.
set(CLIPFERRY_INSTALL_DIR "lib/clipferry")

# Puts an executable or module into the program folder, in the build and when installed.
function(clipferry_program_target target)
  set_target_properties(${target} PROPERTIES
    RUNTIME_OUTPUT_DIRECTORY "${CLIPFERRY_PROGRAM_DIR}"
    LIBRARY_OUTPUT_DIRECTORY "${CLIPFERRY_PROGRAM_DIR}"
    BUILD_RPATH "${CLIPFERRY_PROGRAM_DIR}"
    INSTALL_RPATH "$ORIGIN")
  set_property(GLOBAL APPEND PROPERTY CLIPFERRY_PROGRAM_TARGETS ${target})
  install(TARGETS ${target}
    RUNTIME DESTINATION "${CLIPFERRY_INSTALL_DIR}"
    LIBRARY DESTINATION "${CLIPFERRY_INSTALL_DIR}")
endfunction()

# Copies a file into the program folder (optionally under another relative name), in the build
# and when installed.
function(clipferry_program_file source)
  cmake_parse_arguments(ARG "" "AS" "" ${ARGN})
  if(ARG_AS)
    set(relative "${ARG_AS}")
  else()
    get_filename_component(relative "${source}" NAME)
  endif()
  set(dest "${CLIPFERRY_PROGRAM_DIR}/${relative}")
  get_filename_component(sub "${relative}" DIRECTORY)
  get_filename_component(name "${relative}" NAME)
  install(FILES "${source}" DESTINATION "${CLIPFERRY_INSTALL_DIR}/${sub}" RENAME "${name}")
  string(MAKE_C_IDENTIFIER "${dest}" stamp)
  add_custom_command(OUTPUT "${dest}"
    COMMAND ${CMAKE_COMMAND} -E copy_if_different "${source}" "${dest}"
    DEPENDS "${source}" VERBATIM)
  # A custom command's output is only visible in its own folder, so each copy gets a target.
  add_custom_target(${stamp}_copy DEPENDS "${dest}")
  set_property(GLOBAL APPEND PROPERTY CLIPFERRY_PROGRAM_TARGETS ${stamp}_copy)
endfunction()

# A GoogleTest executable registered with CTest. Each test process isolates its home,
# config and temporary folders (tests/support/TestMain.cpp).
#   clipferry_test(NAME SOURCES a.cpp b.cpp LIBS lib1 lib2 [GUI] [SERIAL] [LABELS x])
# SERIAL keeps the test from running beside others (it starts programs that other tests look for).
function(clipferry_test name)
  cmake_parse_arguments(ARG "GUI;SERIAL" "TIMEOUT" "SOURCES;LIBS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  # Tests reach forms through the generated headers of the library that owns them.
  set_target_properties(${name} PROPERTIES AUTOUIC OFF)
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE cf_test_main_gui ${ARG_LIBS})
  else()
    target_link_libraries(${name} PRIVATE cf_test_main ${ARG_LIBS})
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(labels)
  if(ARG_LABELS)
    set(labels LABELS "${ARG_LABELS}")
  endif()
  if(ARG_SERIAL)
    list(APPEND labels RUN_SERIAL TRUE)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT ${ARG_TIMEOUT} ${labels}
      ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  add_dependencies(${name} program_folder)
endfunction()

# A libFuzzer target (clang only, with CLIPFERRY_FUZZ), run briefly as a test over its seeds.
#   clipferry_fuzz_target(NAME SOURCES f.cpp LIBS lib [SEEDS dir] [SECONDS n])
function(clipferry_fuzz_target name)
  cmake_parse_arguments(ARG "" "SEEDS;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT CLIPFERRY_FUZZ OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  if(NOT ARG_SECONDS)
    set(ARG_SECONDS 15)
  endif()
  set(corpus "${CMAKE_CURRENT_BINARY_DIR}/${name}-corpus")
  file(MAKE_DIRECTORY "${corpus}")
  set(seed_args)
  if(ARG_SEEDS)
    set(seed_args "${ARG_SEEDS}")
  endif()
  add_test(NAME ${name} COMMAND ${name} -max_total_time=${ARG_SECONDS} -rss_limit_mb=2048
           -timeout=10 ${corpus} ${seed_args})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 180)
endfunction()
