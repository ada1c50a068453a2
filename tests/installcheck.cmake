cmake_minimum_required(VERSION 3.25)
# Installs the build into a fresh prefix and checks that every file lands where the
# program and the desktop look for it, and that the installed list tool lists a folder.
# Run with -DBUILD_DIR=... -DPREFIX=...
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
    RESULT_VARIABLE failed OUTPUT_QUIET)
if(failed)
    message(FATAL_ERROR "cmake --install failed: ${failed}")
endif()

foreach(file
        bin/kestrix bin/kestrix-list bin/thunder.wav bin/Contents.txt
        share/applications/kestrix.desktop
        share/icons/hicolor/16x16/apps/kestrix.png
        share/icons/hicolor/32x32/apps/kestrix.png)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()

file(STRINGS ${PREFIX}/share/applications/kestrix.desktop entry)
foreach(line "Exec=${PREFIX}/bin/kestrix" "Icon=kestrix" "Type=Application" "Name=Kestrix")
    if(NOT line IN_LIST entry)
        message(FATAL_ERROR "the desktop entry lacks ${line}")
    endif()
endforeach()

file(MAKE_DIRECTORY ${PREFIX}/tree/Alpha ${PREFIX}/tree/Beta)
execute_process(COMMAND ${PREFIX}/bin/kestrix-list ${PREFIX}/tree
    OUTPUT_VARIABLE list RESULT_VARIABLE failed)
if(failed OR NOT list MATCHES "\nAlpha +0\r?\n" OR NOT list MATCHES "\nBeta +0\r?\n")
    message(FATAL_ERROR "the installed kestrix-list did not list the folder (${failed}):\n${list}")
endif()
file(REMOVE_RECURSE ${PREFIX})
