# Warnings for the project's own targets; Qt and system headers are included as SYSTEM.
add_compile_options(-Wall -Wextra -Wpedantic)
if(VORSA_WERROR)
  add_compile_options(-Werror)
  # GCC 12 at -O3 reports overlapping copies inside std::string's operator+ that cannot
  # happen (GCC bug 105329); keep it a warning so a Release build with -Werror still builds.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    add_compile_options(-Wno-error=restrict)
  endif()
endif()
if(CMAKE_BUILD_TYPE STREQUAL "Debug" OR VORSA_WERROR)
  add_compile_definitions(_GLIBCXX_ASSERTIONS QT_FORCE_ASSERTS)
endif()
