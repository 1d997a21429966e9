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
