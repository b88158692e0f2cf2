# Test prefixes: made afresh once per CTest run, shared by the tests that need a host.
set(RELOCATOR_PREFIX64 ${CMAKE_BINARY_DIR}/wine/prefix64)
set(RELOCATOR_PREFIX32 ${CMAKE_BINARY_DIR}/wine/prefix32)
set(WINE_SCRIPTS ${CMAKE_SOURCE_DIR}/tests/wine)

add_test(NAME wine_prefix64_setup COMMAND ${WINE_SCRIPTS}/make-prefix.sh ${RELOCATOR_PREFIX64} win64)
add_test(NAME wine_prefix64_cleanup COMMAND ${WINE_SCRIPTS}/stop-prefix.sh ${RELOCATOR_PREFIX64})
set_tests_properties(wine_prefix64_setup PROPERTIES FIXTURES_SETUP wine64 TIMEOUT 300)
set_tests_properties(wine_prefix64_cleanup PROPERTIES FIXTURES_CLEANUP wine64)

add_test(NAME wine_prefix32_setup COMMAND ${WINE_SCRIPTS}/make-prefix.sh ${RELOCATOR_PREFIX32} win32)
add_test(NAME wine_prefix32_cleanup COMMAND ${WINE_SCRIPTS}/stop-prefix.sh ${RELOCATOR_PREFIX32})
set_tests_properties(wine_prefix32_setup PROPERTIES FIXTURES_SETUP wine32 TIMEOUT 300)
set_tests_properties(wine_prefix32_cleanup PROPERTIES FIXTURES_CLEANUP wine32)

# A Windows test binary on the 64-bit prefix (default) or the 32-bit one (PREFIX32).
function(relocator_add_wine_test name)
  cmake_parse_arguments(W "PREFIX32;SERIAL" "TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(W_PREFIX32)
    set(fx wine32)
    set(pfx ${RELOCATOR_PREFIX32})
  else()
    set(fx wine64)
    set(pfx ${RELOCATOR_PREFIX64})
  endif()
  relocator_add_test(${name} SOURCES ${W_SOURCES} LIBS ${W_LIBS} FIXTURES ${fx}
    TIMEOUT ${W_TIMEOUT} ENV "WINEPREFIX=${pfx};RELOCATOR_BIN=${CMAKE_BINARY_DIR}/bin")
  if(W_SERIAL)
    set_tests_properties(${name} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()
