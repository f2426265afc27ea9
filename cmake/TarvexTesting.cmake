# Test registration shared by every suite.
#
# Natively, GoogleTest comes from Debian's package and each test case becomes
# its own CTest entry. Cross-compiled, GoogleTest is built from the sources
# Debian's googletest package installs, and each test executable is one CTest
# entry run under Wine (discovering cases at build time would start Wine for
# every single case).

# Called once, from the top of the tests folder, so the GoogleTest targets are
# visible to every suite below it.
macro(tarvex_setup_gtest)
  if(CMAKE_CROSSCOMPILING)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    # Third-party code: our warning policy is not theirs.
    set_target_properties(gtest gtest_main gmock gmock_main PROPERTIES COMPILE_OPTIONS "")
    add_library(tarvex_gtest_main INTERFACE)
    target_link_libraries(tarvex_gtest_main INTERFACE gmock gtest_main)

    add_test(NAME wine_setup COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --setup)
    add_test(NAME wine_shutdown COMMAND ${CMAKE_CROSSCOMPILING_EMULATOR} --shutdown)
    set_tests_properties(wine_setup PROPERTIES FIXTURES_SETUP wine TIMEOUT 400
      ENVIRONMENT "TARVEX_WINE_ROOT=${CMAKE_BINARY_DIR}")
    set_tests_properties(wine_shutdown PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60
      ENVIRONMENT "TARVEX_WINE_ROOT=${CMAKE_BINARY_DIR}")
  else()
    find_package(GTest REQUIRED)
    add_library(tarvex_gtest_main INTERFACE)
    target_link_libraries(tarvex_gtest_main INTERFACE GTest::gmock GTest::gtest_main)
  endif()
endmacro()

include(GoogleTest)

# tarvex_add_gtest(<name> SOURCES ... [LIBRARIES ...] [DISPLAY] [SERVICES] [NATIVE_ONLY]
#                  [WINDOWS_ONLY] [TIMEOUT seconds])
# DISPLAY: the Windows run needs the shared Xvfb display; such tests take a
# resource lock so they never share the screen with each other.
# SERVICES: the Windows run creates tunnel services, asks whether one runs
# ("isConnected") or runs netsh. Every such test takes the resource lock
# wine_services, since one prefix (and so one Service Control Manager) serves
# all Windows tests and a running "WireGuardTunnel$..." service answers
# "isConnected" for everyone; each must leave no such service behind. Their
# environment carries WINEDLLOVERRIDES=netsh.exe=n, so the netsh stand-in in
# the prefix's system32 runs instead of Wine's built-in netsh.
function(tarvex_add_gtest name)
  cmake_parse_arguments(ARG "DISPLAY;SERVICES;NATIVE_ONLY;WINDOWS_ONLY" "TIMEOUT" "SOURCES;LIBRARIES" ${ARGN})
  if(ARG_NATIVE_ONLY AND WIN32)
    return()
  endif()
  if(ARG_WINDOWS_ONLY AND NOT WIN32)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} tarvex_gtest_main)
  if(CMAKE_CROSSCOMPILING)
    add_test(NAME ${name} COMMAND ${name})
    set(env "TARVEX_WINE_ROOT=${CMAKE_BINARY_DIR}")
    set(locks "")
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine TIMEOUT ${ARG_TIMEOUT})
    if(ARG_DISPLAY)
      list(APPEND env "TARVEX_WINE_DISPLAY=1")
      list(APPEND locks xdisplay)
    endif()
    if(ARG_SERVICES)
      list(APPEND env "WINEDLLOVERRIDES=netsh.exe=n")
      list(APPEND locks wine_services)
      # The stand-ins these tests drive.
      add_dependencies(${name} wireguard_standin netsh_standin)
    endif()
    if(locks)
      set_tests_properties(${name} PROPERTIES RESOURCE_LOCK "${locks}")
    endif()
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${env}")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT ${ARG_TIMEOUT})
  endif()
endfunction()
