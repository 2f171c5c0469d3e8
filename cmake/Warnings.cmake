# Warnings for the project's own targets; Qt and system headers are included as SYSTEM.
add_compile_options(-Wall -Wextra -Wpedantic)
if(VORSA_WERROR)
  add_compile_options(-Werror)
endif()
if(CMAKE_BUILD_TYPE STREQUAL "Debug" OR VORSA_WERROR)
  add_compile_definitions(_GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS)
endif()
