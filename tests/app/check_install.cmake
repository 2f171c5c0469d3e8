# Installs the build into a scratch prefix and checks that the program, its menu entry and
# the entry's icon land where a desktop looks for them.
# cmake -DBUILD_DIR=... -DPREFIX=... -P check_install.cmake
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}"
  RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${rc}")
endif()
foreach(f bin/vorsa share/applications/vorsa.desktop share/icons/hicolor/64x64/apps/vorsa.png)
  if(NOT EXISTS "${PREFIX}/${f}")
    message(FATAL_ERROR "not installed: ${f}")
  endif()
endforeach()
file(STRINGS "${PREFIX}/share/applications/vorsa.desktop" entry ENCODING UTF-8)
foreach(line "[Desktop Entry]" "Type=Application" "Name=Vorsa智能代理" "Exec=vorsa" "Icon=vorsa"
             "Terminal=false")
  list(FIND entry "${line}" at)
  if(at LESS 0)
    message(FATAL_ERROR "vorsa.desktop lacks the line: ${line}")
  endif()
endforeach()
file(REMOVE_RECURSE "${PREFIX}")
