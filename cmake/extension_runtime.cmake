# The C++ runtime of an extension module, linked into the module itself:
# libstdc++ and libgcc from the build machine would otherwise be needed at run
# time in versions that older systems lack (GLIBCXX_3.4.29 from g++ 12, for
# one), and the wheel could not carry a manylinux tag older than the build
# machine's glibc. Their symbols stay local to the module, which exports only
# its PyInit_ function, and unreferenced sections are dropped, among them
# std::random_device's calls of getentropy and arc4random.
#
# The static runtime still refers to a few glibc symbols by the versions of
# the build machine; src/runtime/glibc_symbols.cpp holds them to versions
# that older glibcs have (see there). That file is written for glibc on
# x86-64 and aarch64; elsewhere (musl, say) the runtime stays shared.
#
# Every extension module links quillon_extension_runtime. Sanitizer builds
# keep the shared runtime, whose allocation functions the sanitizers replace.
add_library(quillon_extension_runtime INTERFACE)
check_cxx_source_compiles([=[
  #include <features.h>
  #if !defined(__GLIBC__) || !(defined(__x86_64__) || defined(__aarch64__))
  #error "not glibc on x86-64 or aarch64"
  #endif
  int main() { return 0; }
]=] QUILLON_GLIBC_X86_64_OR_AARCH64)
# The symbols that the build's glibc has in a newer version than its first,
# by the version that brought it (as src/runtime/glibc_symbols.cpp has them).
function(quillon_glibc_at_least version result)
  string(REPLACE "." ", " major_minor ${version})
  check_cxx_source_compiles("
    #include <features.h>
    #if !__GLIBC_PREREQ(${major_minor})
    #error \"older glibc\"
    #endif
    int main() { return 0; }
  " ${result})
endfunction()
if(QUILLON_GLIBC_X86_64_OR_AARCH64 AND NOT QUILLON_SANITIZE)
  set(quillon_wrapped_glibc_symbols "")
  quillon_glibc_at_least(2.32 QUILLON_GLIBC_2_32)
  if(QUILLON_GLIBC_2_32)
    list(APPEND quillon_wrapped_glibc_symbols __libc_single_threaded)
  endif()
  quillon_glibc_at_least(2.34 QUILLON_GLIBC_2_34)
  if(QUILLON_GLIBC_2_34)
    list(APPEND quillon_wrapped_glibc_symbols pthread_once __pthread_key_create)
  endif()
  quillon_glibc_at_least(2.35 QUILLON_GLIBC_2_35)
  if(QUILLON_GLIBC_2_35)
    list(APPEND quillon_wrapped_glibc_symbols _dl_find_object)
  endif()
  list(TRANSFORM quillon_wrapped_glibc_symbols PREPEND "-Wl,--wrap=")
  target_link_options(quillon_extension_runtime INTERFACE
    -static-libstdc++ -static-libgcc -Wl,--exclude-libs,ALL -Wl,--gc-sections
    ${quillon_wrapped_glibc_symbols})
  target_sources(quillon_extension_runtime INTERFACE
    ${CMAKE_CURRENT_LIST_DIR}/../src/runtime/glibc_symbols.cpp)
endif()
