# The hardening flags Debian builds its own packages with, for every target and
# every build type of the native (ELF) build: stack protector, stack clash
# protection, control-flow protection where the compiler has it, the checked
# variants of the C library's string and memory functions, a position
# independent executable, and relocations resolved at start and then made
# read-only. A flag the compiler or linker lacks is left out.
#
# _FORTIFY_SOURCE needs the optimiser (the C library warns without it), so it
# is added to the build types that optimise only, and never under the
# sanitizers, which check those calls more closely themselves. Any value the
# compiler or the caller's flags brought is replaced, so no "redefined" warning
# arises either.

include(CheckCXXCompilerFlag)
include(CheckLinkerFlag)
include(CheckPIESupported)

check_pie_supported(OUTPUT_VARIABLE ZUBRA32_PIE_MESSAGE LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "ZUBRA32_HAS${flag}" have)
  check_cxx_compiler_flag(${flag} ${have})
  if(${have})
    add_compile_options(${flag})
  endif()
endforeach()

check_linker_flag(CXX "LINKER:-z,relro,-z,now" ZUBRA32_HAS_RELRO_NOW)
if(ZUBRA32_HAS_RELRO_NOW)
  add_link_options("LINKER:-z,relro,-z,now")
endif()

if(NOT ZUBRA32_SANITIZE)
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:-U_FORTIFY_SOURCE>
                      $<$<NOT:$<CONFIG:Debug>>:-D_FORTIFY_SOURCE=3>)
endif()
