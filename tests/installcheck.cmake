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
        bin/kestrix bin/kestrix-list
        lib/kestrix/kestrix lib/kestrix/thunder.wav lib/kestrix/Contents.txt
        share/applications/org.example.kestrix.desktop
        share/icons/hicolor/16x16/apps/kestrix.png
        share/icons/hicolor/32x32/apps/kestrix.png
        share/man/man1/kestrix.1.gz share/man/man1/kestrix-list.1.gz
        share/bash-completion/completions/kestrix-list
        share/metainfo/org.example.kestrix.metainfo.xml)
    if(NOT EXISTS ${PREFIX}/${file})
        message(FATAL_ERROR "not installed: ${file}")
    endif()
endforeach()
# The command is a link that the program follows back to its own folder.
file(READ_SYMLINK ${PREFIX}/bin/kestrix link)
if(NOT link STREQUAL "../lib/kestrix/kestrix")
    message(FATAL_ERROR "bin/kestrix is not a relative link to the program: '${link}'")
endif()

file(STRINGS ${PREFIX}/share/applications/org.example.kestrix.desktop entry)
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
