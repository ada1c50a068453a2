cmake_minimum_required(VERSION 3.25)
# Builds the Debian package of this build into a fresh folder and checks its files and
# control fields; the desktop entry and the software centre's metadata must validate, and
# the software centre's catalogue made from the package must keep the program and its icon.
# Run with -DCPACK=... -DBUILD_DIR=... -DWORK_DIR=... -DVERSION=...
file(REMOVE_RECURSE ${WORK_DIR})
execute_process(COMMAND ${CPACK} --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK_DIR}
    RESULT_VARIABLE failed OUTPUT_VARIABLE log ERROR_VARIABLE log)
execute_process(COMMAND dpkg --print-architecture OUTPUT_VARIABLE arch
    OUTPUT_STRIP_TRAILING_WHITESPACE)
set(deb ${WORK_DIR}/kestrix_${VERSION}_${arch}.deb)
if(failed OR NOT EXISTS ${deb})
    message(FATAL_ERROR "cpack did not make ${deb} (${failed}):\n${log}")
endif()

function(expect text pattern what)
    if(NOT text MATCHES "${pattern}")
        message(FATAL_ERROR "${what}: nothing matches '${pattern}' in\n${text}")
    endif()
endfunction()

execute_process(COMMAND dpkg-deb -c ${deb} OUTPUT_VARIABLE files COMMAND_ERROR_IS_FATAL ANY)
set(x "-rwxr-xr-x root/root [^\n]* \\./usr/")
set(r "-rw-r--r-- root/root [^\n]* \\./usr/")
foreach(pattern
        "\nlrwxrwxrwx root/root [^\n]* \\./usr/bin/kestrix -> \\.\\./lib/kestrix/kestrix\n"
        "\n${x}bin/kestrix-list\n" "\n${x}lib/kestrix/kestrix\n"
        "\n${r}lib/kestrix/thunder\\.wav\n" "\n${r}lib/kestrix/Contents\\.txt\n"
        "\n${r}share/applications/org\\.example\\.kestrix\\.desktop\n"
        "\n${r}share/icons/hicolor/16x16/apps/kestrix\\.png\n"
        "\n${r}share/icons/hicolor/32x32/apps/kestrix\\.png\n"
        "\n${r}share/icons/hicolor/64x64/apps/kestrix\\.png\n"
        "\n${r}share/icons/hicolor/256x256/apps/kestrix\\.png\n"
        "\n${r}share/icons/hicolor/scalable/apps/kestrix\\.svg\n"
        "\n${r}share/man/man1/kestrix\\.1\\.gz\n" "\n${r}share/man/man1/kestrix-list\\.1\\.gz\n"
        "\n${r}share/bash-completion/completions/kestrix-list\n"
        "\n${r}share/metainfo/org\\.example\\.kestrix\\.metainfo\\.xml\n"
        "\n${r}share/doc/kestrix/copyright\n" "\n${r}share/doc/kestrix/changelog\\.gz\n")
    expect("\n${files}" "${pattern}" "the package's files")
endforeach()
# Everything under /usr, owned by root, and nothing of the build's own folders.
string(REGEX REPLACE "\n$" "" lines "${files}")
string(REPLACE "\n" ";" lines "${lines}")
foreach(line IN LISTS lines)
    expect("${line}" "^[-dl][-rwx]+ root/root .* \\./usr/" "a stray file")
    if(line MATCHES "/usr/local/|${BUILD_DIR}|_CPack_Packages")
        message(FATAL_ERROR "a stray file: ${line}")
    endif()
endforeach()

foreach(field_pattern
        "Package=^kestrix$" "Version=^${VERSION}$" "Architecture=^${arch}$"
        "Section=^utils$" "Maintainer=^[^<]+ <[^@> ]+@[^> ]+>$" "Homepage=^https://"
        "Depends=(^|, )libqt6gui6 \\(>= "
        "Depends=(^|, )sound-theme-freedesktop(,|$)" "Depends=(^|, )xdg-utils(,|$)"
        "Recommends=^pulseaudio .*, fonts-urw-base35, qt6-wayland$"
        "Description=^printable list of folders.*\n \\. *\n ")
    string(REGEX MATCH "^[^=]+" field "${field_pattern}")
    string(REGEX REPLACE "^[^=]+=" "" pattern "${field_pattern}")
    execute_process(COMMAND dpkg-deb -f ${deb} ${field} OUTPUT_VARIABLE value
        OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    expect("${value}" "${pattern}" "the ${field} field")
endforeach()
# The Wayland plugin would bring Qt's QML to every X11 desktop; the program draws its own
# frames, with nothing of X's own.
execute_process(COMMAND dpkg-deb -f ${deb} Depends OUTPUT_VARIABLE depends)
if(depends MATCHES "wayland|xcb")
    message(FATAL_ERROR "the Depends field names more than the program needs: ${depends}")
endif()

execute_process(COMMAND dpkg-deb -x ${deb} ${WORK_DIR}/root COMMAND_ERROR_IS_FATAL ANY)
set(share ${WORK_DIR}/root/usr/share)
foreach(check
        "desktop-file-validate;${share}/applications/org.example.kestrix.desktop"
        "appstreamcli;validate;--no-net;${share}/metainfo/org.example.kestrix.metainfo.xml")
    execute_process(COMMAND ${check} RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(failed OR out MATCHES "error|warning")
        message(FATAL_ERROR "${check}:\n${out}")
    endif()
endforeach()
# Docks tie the window to its entry by the window's class, which is the entry's name.
file(STRINGS ${share}/applications/org.example.kestrix.desktop entry)
expect("${entry}" "(^|;)StartupWMClass=org\\.example\\.kestrix(;|$)" "the desktop entry")

execute_process(COMMAND appstreamcli compose --no-color --origin=kestrix --prefix=/usr
        --result-root=${WORK_DIR}/catalogue ${WORK_DIR}/root
    RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
file(GLOB catalogue ${WORK_DIR}/catalogue/usr/share/swcatalog/xml/kestrix.xml.gz)
if(failed OR NOT catalogue)
    message(FATAL_ERROR "appstreamcli compose failed (${failed}):\n${out}")
endif()
execute_process(COMMAND gzip -dc ${catalogue} OUTPUT_VARIABLE xml COMMAND_ERROR_IS_FATAL ANY)
expect("${xml}" "<id>org\\.example\\.kestrix</id>" "the composed catalogue")
expect("${xml}" "<icon type=\"cached\" width=\"64\" height=\"64\">" "the composed catalogue")
file(REMOVE_RECURSE ${WORK_DIR})
