# Warnings are errors for the project's own targets.
set(CORVANE_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Werror)
if(WIN32)
  # GCC 12's i686 libstdc++ trips this on moved-from std::wstring (a known
  # false positive in the library's own headers).
  list(APPEND CORVANE_WARNINGS -Wno-maybe-uninitialized)
endif()

function(corvane_warnings target)
  target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX,C>:${CORVANE_WARNINGS}>)
endfunction()

# Windows binaries carry their C and C++ runtimes, so nothing has to stand
# beside them.
function(corvane_static_runtime target)
  if(WIN32)
    target_link_options(${target} PRIVATE -static -static-libgcc -static-libstdc++)
  endif()
endfunction()

# Lets dlclose really unload a shared library built from the target's code.
# GCC marks some template statics as STB_GNU_UNIQUE, and the dynamic loader
# never unloads a library that defines one: its destructors would then run
# only at process exit, and a host that unloads and loads it again would get
# the old instance back, device and worker still running.
function(corvane_unloadable target)
  if(NOT WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE -fno-gnu-unique)
  endif()
endfunction()
