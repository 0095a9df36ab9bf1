# The Wine test bed as a CTest fixture: "wine-bed-start" creates the prefix
# (once) and starts Xvfb and a wineserver before the first Win32 test,
# "wine-bed-stop" stops them after the last one. Every test that runs under
# Wine requires the fixture "wine-bed" and runs on the bed of this tree's
# architecture (BREVANT_WINE_ARCH): 32-bit Wine for x86, 64-bit Wine for x64.
include_guard(GLOBAL)

string(MD5 BREVANT_BED_LEASE "${CMAKE_BINARY_DIR}")
set(BREVANT_BED_LEASE "ctest-${BREVANT_BED_LEASE}")
set(BREVANT_WINE_ENV "BREVANT_WINE_ARCH=${BREVANT_ARCH}")
add_test(NAME wine-bed-start
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-bed start ${BREVANT_BED_LEASE})
set_tests_properties(wine-bed-start PROPERTIES FIXTURES_SETUP wine-bed TIMEOUT 600
    ENVIRONMENT ${BREVANT_WINE_ENV})
add_test(NAME wine-bed-stop
    COMMAND ${PROJECT_SOURCE_DIR}/scripts/wine-bed stop ${BREVANT_BED_LEASE})
set_tests_properties(wine-bed-stop PROPERTIES FIXTURES_CLEANUP wine-bed TIMEOUT 60
    ENVIRONMENT ${BREVANT_WINE_ENV})

# Common settings of a test that runs under Wine.
function(brevant_wine_test name)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine-bed)
    set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "BREVANT_WINE_ARCH=${BREVANT_ARCH}")
endfunction()
