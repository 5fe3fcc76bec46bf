# Warnings and sanitizers shared by every target of the project.

function(vantor_set_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

if(VANTOR_SANITIZE)
  set(_vantor_san_flags -fsanitize=${VANTOR_SANITIZE} -fno-omit-frame-pointer)
  if(VANTOR_SANITIZE MATCHES "undefined")
    # A report of undefined behaviour must fail the test that triggered it.
    list(APPEND _vantor_san_flags -fno-sanitize-recover=undefined)
  endif()
  add_compile_options(${_vantor_san_flags})
  add_link_options(${_vantor_san_flags})
endif()

if(VANTOR_BUILD_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "VANTOR_BUILD_FUZZ needs clang (libFuzzer)")
  endif()
  # Coverage instrumentation everywhere; only the fuzz executables link the
  # libFuzzer driver, so the test programs keep their own main().
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
