# Debian's hardening flags, as dpkg-buildflags gives them with every hardening feature asked for:
# the stack protector, fortified functions, format checks, read-only relocations with immediate
# binding. The optimisation level and the debug information stay the build type's, and the file
# prefix map, which names the folder dpkg-buildflags ran in, is left out. None of these flags
# touches floating-point arithmetic, so the car model's -ffp-contract=off stands as it is.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

function(orvo_dpkg_buildflags kind out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all ${ORVO_DPKG_BUILDFLAGS} --get ${kind}
    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "dpkg-buildflags --get ${kind} failed; configure with -DORVO_HARDENING=OFF to build without")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(O.*|g.*|ffile-prefix-map=.*)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

orvo_dpkg_buildflags(CXXFLAGS ORVO_HARDENING_COMPILE)
orvo_dpkg_buildflags(CPPFLAGS ORVO_HARDENING_DEFINES)
orvo_dpkg_buildflags(LDFLAGS ORVO_HARDENING_LINK)
# Newer dpkg-buildflags add stack-clash and control-flow protection themselves; Debian 12's do not,
# so they are asked for here wherever the compiler has them.
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "ORVO_HAS${flag}" has)
  check_cxx_compiler_flag(${flag} ${has})
  if(${has} AND NOT flag IN_LIST ORVO_HARDENING_COMPILE)
    list(APPEND ORVO_HARDENING_COMPILE ${flag})
  endif()
endforeach()
add_compile_options(${ORVO_HARDENING_COMPILE})
# _FORTIFY_SOURCE works only in optimised code, and glibc warns without optimisation: not in Debug.
foreach(flag ${ORVO_HARDENING_DEFINES})
  add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
endforeach()
add_link_options(${ORVO_HARDENING_LINK})
# Position-independent executables, which Debian's compilers make by default, asked for by name.
check_pie_supported()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)
message(STATUS "Hardening: ${ORVO_HARDENING_COMPILE} ${ORVO_HARDENING_DEFINES} (not in Debug builds) ${ORVO_HARDENING_LINK}")
