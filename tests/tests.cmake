# Unit tests, end-to-end tests against the stand-in, and checks of the binaries.
set(sanitizer_environment
  "ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:exitcode=99"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=98")

# plc_test(NAME REASON [COMMAND...]): the test, or where REASON is given one
# that says why it cannot run and is skipped; in CI it fails (skip.sh).
function(plc_test name reason)
  if(reason)
    message(STATUS "${name}: skipped: ${reason}")
    add_test(NAME ${name}
             COMMAND bash -c ". \"$1\" && skip \"$2\"" -- ${PROJECT_SOURCE_DIR}/tests/support/skip.sh "${reason}")
  else()
    add_test(NAME ${name} COMMAND ${ARGN})
  endif()
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
if(plc_no_emulator)
  set(plc_cannot_run "the ARM programs cannot run here: ${plc_no_emulator}")
endif()

# GoogleTest: prebuilt for the host, from Debian's sources for a cross build.
set(PLC_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources for cross builds")
if(CMAKE_CROSSCOMPILING)
  if(EXISTS ${PLC_GTEST_SOURCE_DIR}/CMakeLists.txt)
    set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    add_subdirectory(${PLC_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Its warnings are not the project's to fail on.
    set_target_properties(gtest gtest_main PROPERTIES COMPILE_WARNING_AS_ERROR OFF)
    if(NOT TARGET GTest::gtest_main)
      add_library(GTest::gtest_main ALIAS gtest_main)
    endif()
  endif()
  set(gtest_missing "no GoogleTest sources in ${PLC_GTEST_SOURCE_DIR} (tools/setup test, or apt-get install googletest)")
else()
  find_package(GTest QUIET)
  set(gtest_missing "GoogleTest is not installed (tools/setup test, or apt-get install libgtest-dev)")
endif()

if(plc_no_emulator)
  plc_test(unit_tests "${plc_cannot_run}")
elseif(TARGET GTest::gtest_main)
  include(GoogleTest)
  add_executable(unit_tests
    plcsim/plcsim_test.cc
    report/report_test.cc
    run/run_params_test.cc
    run/run_test.cc
    sweep/sweep_test.cc
    profile/profile_analysis_test.cc
    profile/profile_options_test.cc
    profile/profile_output_test.cc
    profile/profile_sweep_test.cc
    profile/profile_test.cc
    profile/system_settings_test.cc
    profile/trace_break_test.cc)
  target_link_libraries(unit_tests PRIVATE plc_do_test_core plc GTest::gtest_main)
  gtest_discover_tests(unit_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120)
elseif("$ENV{CI}" STREQUAL "true")
  message(FATAL_ERROR "unit tests cannot be built: ${gtest_missing}")
else()
  message(WARNING "unit tests not built: ${gtest_missing}")
  plc_test(unit_tests "not built: ${gtest_missing}")
endif()

# The virtual clock, loaded into the program; its own compiler runtime, so that
# it loads on an older C library too.
add_library(virtual_time SHARED tests/support/virtual_time.cc)
target_compile_options(virtual_time PRIVATE -Wall -Wextra -fno-exceptions -fno-rtti)
target_link_options(virtual_time PRIVATE -static-libstdc++ -static-libgcc -Wl,--as-needed)

# The end-to-end cases, under the build's emulator or RUNNER (a root, valgrind).
function(add_e2e_tests prefix)
  cmake_parse_arguments(e2e "" "" "CASES;RUNNER" ${ARGN})
  foreach(case IN LISTS e2e_CASES)
    add_test(NAME ${prefix}.${case}
             COMMAND ${PLC_PYTHON} ${PROJECT_SOURCE_DIR}/tests/e2e/e2e.py ${case} $<TARGET_FILE_DIR:plc>
                     $<TARGET_FILE:plc_do_test> ${e2e_RUNNER})
    set_tests_properties(${prefix}.${case} PROPERTIES
      ENVIRONMENT "${sanitizer_environment}"
      LABELS e2e
      SKIP_RETURN_CODE 77
      TIMEOUT 300)
  endforeach()
endfunction()

if(PLC_PYTHON)
  execute_process(COMMAND ${PLC_PYTHON} ${PROJECT_SOURCE_DIR}/tests/e2e/e2e.py --list
                  OUTPUT_VARIABLE e2e_cases OUTPUT_STRIP_TRAILING_WHITESPACE)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/e2e/e2e.py)
  string(REPLACE "\n" ";" e2e_cases "${e2e_cases}")
endif()
if(PLC_DO_TEST_SANITIZE)
  # A sanitizer build does not lock its memory (PLC_DO_TEST_NO_MLOCK, CMakeLists.txt).
  list(REMOVE_ITEM e2e_cases memory_locked)
endif()
if(NOT PLC_PYTHON)
  plc_test(e2e "no python3 to run the end-to-end cases (tools/setup test)")
elseif(plc_no_emulator)
  plc_test(e2e "${plc_cannot_run}")
else()
  add_e2e_tests(e2e CASES ${e2e_cases})
endif()

# Every initialiser and finaliser runs once and in order, linked as plc_do_test is.
add_executable(startup_order tests/build/startup_order.cc)
target_link_libraries(startup_order PRIVATE project_options)
plc_link_as_controller_program(startup_order)
plc_test(startup.order "${plc_cannot_run}" startup_order)

if(CMAKE_CROSSCOMPILING)
  # The same runs on other C libraries: docs/compatibility.md, "The C library".
  set(PLC_OLD_LIBC_ROOTS "" CACHE STRING
      "Roots of the target holding other C libraries for the e2e tests, as ROOT[@CPU];ROOT[@CPU]")
  if(PLC_OLD_LIBC_ROOTS AND NOT plc_no_emulator AND "-L" IN_LIST CMAKE_CROSSCOMPILING_EMULATOR)
    foreach(root_and_cpu IN LISTS PLC_OLD_LIBC_ROOTS)
      string(REGEX REPLACE "@([^@]+)$" ";-cpu;\\1" root_options "${root_and_cpu}")
      list(GET root_options 0 root)
      get_filename_component(name "${root}" NAME)
      if(NOT EXISTS "${root}${PLC_INTERPRETER}")
        plc_test(old_libc.${name}.e2e
          "${root} holds no ${PLC_INTERPRETER} (tools/fetch-old-libc ${PLC_ABI_NAME} ${root} fetches Debian 11's)")
        continue()
      endif()
      # qemu-user takes the last -L and -cpu it is given.
      set(runner ${CMAKE_CROSSCOMPILING_EMULATOR} -L ${root_options})
      add_e2e_tests(old_libc.${name} CASES ${e2e_cases} RUNNER ${runner})
      add_test(NAME old_libc.${name}.startup_order COMMAND ${runner} $<TARGET_FILE:startup_order>)
    endforeach()
  else()
    if(plc_no_emulator)
      set(reason "${plc_cannot_run}")
    elseif(PLC_OLD_LIBC_ROOTS)
      set(reason "the emulator [${CMAKE_CROSSCOMPILING_EMULATOR}] takes no -L ROOT to run on [${PLC_OLD_LIBC_ROOTS}]")
    else()
      set(reason "no older C library given: tools/fetch-old-libc ${PLC_ABI_NAME} DIR, then configure with -DPLC_OLD_LIBC_ROOTS=DIR")
    endif()
    plc_test(old_libc.e2e "${reason}")
  endif()
endif()

# The host build's own: the page faults a longer sweep adds (at most 3), runs
# under memcheck, the launcher's choice, and the commit a build names.
if(NOT CMAKE_CROSSCOMPILING AND NOT PLC_DO_TEST_SANITIZE)
  add_test(NAME bench.faults COMMAND bash ${PROJECT_SOURCE_DIR}/bench/run faults ${CMAKE_BINARY_DIR})
  set_tests_properties(bench.faults PROPERTIES RUN_SERIAL TRUE TIMEOUT 300)
  find_program(VALGRIND_PROGRAM valgrind)
  if(VALGRIND_PROGRAM)
    add_e2e_tests(memcheck
      CASES usage iteration_limit no_iterations refused_then_accepted full_log write_never_accepted profile_figures
      RUNNER ${VALGRIND_PROGRAM} --tool=memcheck --quiet --error-exitcode=99 --leak-check=full
             --errors-for-leak-kinds=definite)
  else()
    plc_test(memcheck.e2e "valgrind is not installed (apt-get install valgrind)")
  endif()
  plc_test(launcher.choice "" bash ${PROJECT_SOURCE_DIR}/tests/launcher/launcher_test.sh choice)
  find_program(PLC_GIT git)
  if(NOT PLC_GIT OR NOT EXISTS ${PROJECT_SOURCE_DIR}/.git)
    set(no_git "not a git checkout, or no git (apt-get install git)")
  endif()
  plc_test(build.identity "${no_git}" bash ${PROJECT_SOURCE_DIR}/tests/build/identity.sh ${PROJECT_SOURCE_DIR}
           ${CMAKE_BINARY_DIR}/identity_test)
  set_tests_properties(build.identity PROPERTIES TIMEOUT 300)
elseif(PLC_ABI_NAME STREQUAL "armhf" AND NOT plc_no_emulator)
  plc_test(launcher.old_loader "" bash ${PROJECT_SOURCE_DIR}/tests/launcher/launcher_test.sh old_loader ${CMAKE_BINARY_DIR})
endif()

if(NOT PLC_DO_TEST_SANITIZE)
  # Without pyelftools no build checks its binaries: say so where the tests are counted.
  if(plc_no_elf_check)
    plc_test(build.checks "${plc_no_elf_check}")
  endif()
  # The kinds of toolchain users have (tests/build/sdk_build.sh).
  if(CMAKE_CROSSCOMPILING AND PLC_DO_TEST_SDK_TESTS)
    cmake_host_system_information(RESULT plc_cores QUERY NUMBER_OF_LOGICAL_CORES)
    if(PLC_ABI_NAME STREQUAL "armhf")
      set(sdk_kinds yocto yocto_time64 hardened_armhf clang maker_armhf)
    else()
      set(sdk_kinds hardened_${PLC_ABI_NAME} maker_${PLC_ABI_NAME})
    endif()
    foreach(kind IN LISTS sdk_kinds)
      plc_test(sdk.${kind} "${plc_cannot_run}" bash ${PROJECT_SOURCE_DIR}/tests/build/sdk_build.sh ${kind}
               ${PROJECT_SOURCE_DIR} ${CMAKE_BINARY_DIR}/sdk/${kind} "${PLC_OLD_LIBC_ROOTS}")
      # Each builds and tests with every core: ctest -j counts them all.
      set_tests_properties(sdk.${kind} PROPERTIES TIMEOUT 1200 LABELS sdk PROCESSORS ${plc_cores})
    endforeach()
  endif()
  # The program's own instructions in every window of a sweep, at most the
  # least each ABI needs (bench/trace_count.py), under qemu's trace.
  set(windows_abi host)
  set(no_trace "${plc_cannot_run}")
  if(CMAKE_CROSSCOMPILING)
    set(windows_abi ${PLC_ABI_NAME})
  else()
    find_program(PLC_QEMU_X86_64 qemu-x86_64)
    if(NOT PLC_QEMU_X86_64)
      set(no_trace "no qemu-x86_64 to trace the sweep with (tools/setup test, or apt-get install qemu-user)")
    endif()
  endif()
  if(NOT no_trace)
    set(no_trace "${plc_no_elf_check}")
  endif()
  plc_test(bench.windows "${no_trace}" bash ${PROJECT_SOURCE_DIR}/bench/run windows ${CMAKE_BINARY_DIR} ${windows_abi})
  set_tests_properties(bench.windows PROPERTIES TIMEOUT 300)
endif()

if(PLC_DO_TEST_FUZZ)
  add_subdirectory(tests/fuzz)
endif()

# The fleet's results.py on its own (tests/fleet/results_test.py): no root,
# Ansible or qemu. It and the unit tests read one table of how a parameter
# text reads as a number, so that the program and the fleet agree.
if(TARGET unit_tests)
  target_compile_definitions(unit_tests PRIVATE
    PLC_STRTOUL_CASES="${PROJECT_SOURCE_DIR}/tests/support/strtoul_cases.txt")
endif()
if(NOT CMAKE_CROSSCOMPILING)
  if(PLC_PYTHON)
    plc_test(fleet.results "" ${PLC_PYTHON} ${PROJECT_SOURCE_DIR}/tests/fleet/results_test.py)
  else()
    plc_test(fleet.results "no python3 to run it (tools/setup test)")
  endif()
  set_tests_properties(fleet.results PROPERTIES TIMEOUT 120)
endif()
