# Run by CPack on the staged files, before they are packed.
file(GLOB_RECURSE paths LIST_DIRECTORIES true ${CPACK_TEMPORARY_DIRECTORY}/*)
foreach(path IN LISTS paths)
    if(IS_SYMLINK ${path})
        continue()
    elseif(IS_DIRECTORY ${path})
        # dpkg makes new folders with the modes the package gives them, whatever the
        # umask of the one who packed it.
        file(CHMOD ${path} DIRECTORY_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE
            GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
    elseif(path MATCHES "/bin/[^/]+$|/lib/kestrix/kestrix$")
        # Stripped already; the compiler's notes go as well, as in Debian's own packages.
        execute_process(COMMAND ${CPACK_KESTRIX_STRIP} --remove-section=.comment
            --remove-section=.note ${path} COMMAND_ERROR_IS_FATAL ANY)
    endif()
endforeach()
