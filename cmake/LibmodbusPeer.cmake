# The build machine's own C compiler and Debian's libmodbus, for the native
# peer programs the tests run against our stack (tests/peers and the serial
# tests). tools/bootstrap installs both; when either is missing the
# configuration stops, since the suites that use the peers would otherwise
# vanish with them. Sets VELMORA_HOST_CC and VELMORA_LIBMODBUS_FLAGS.
find_program(VELMORA_HOST_CC NAMES cc gcc clang)
find_program(VELMORA_PKG_CONFIG NAMES pkg-config)
if(NOT VELMORA_HOST_CC OR NOT VELMORA_PKG_CONFIG)
  message(FATAL_ERROR "no native C compiler or pkg-config for the libmodbus peers (run tools/bootstrap)")
endif()
execute_process(COMMAND ${VELMORA_PKG_CONFIG} --cflags --libs libmodbus
  OUTPUT_VARIABLE VELMORA_LIBMODBUS_FLAGS OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE libmodbus_found)
if(NOT libmodbus_found EQUAL 0)
  message(FATAL_ERROR "libmodbus not found by pkg-config (run tools/bootstrap)")
endif()
separate_arguments(VELMORA_LIBMODBUS_FLAGS UNIX_COMMAND "${VELMORA_LIBMODBUS_FLAGS}")
