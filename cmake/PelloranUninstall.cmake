# An installation writes install_manifest.txt, its files, and install_folders.txt, the folders
# it had to make (deepest first), so that removing it leaves no empty folder behind and no
# folder that was there before goes. The uninstall target removes both:
#   cmake --build build/release --target uninstall        (DESTDIR is honoured)
# which is the same as
#   xargs -d '\n' rm -f -- < build/release/install_manifest.txt
#   xargs -d '\n' rmdir --ignore-fail-on-non-empty -- < build/release/install_folders.txt

# Runs before the first file is installed: notes which of the given folders under the
# prefix (and the folders above them, the prefix included) do not exist yet.
function(pelloran_note_new_folders)
    set(all)
    foreach(dir ${ARGN})
        while(dir AND NOT dir STREQUAL ".")
            list(APPEND all ${dir})
            get_filename_component(dir ${dir} DIRECTORY)
        endwhile()
    endforeach()
    list(REMOVE_DUPLICATES all)
    install(CODE "
        set(pelloran_new_folders)
        foreach(dir ${all} .)
            get_filename_component(path \"\${CMAKE_INSTALL_PREFIX}/\${dir}\" ABSOLUTE)
            if(NOT EXISTS \"\$ENV{DESTDIR}\${path}\")
                list(APPEND pelloran_new_folders \"\${path}\")
            endif()
        endforeach()")
endfunction()

# Runs after the last file: of the folders noted, those that exist now were made by this
# installation. cpack's staging installs a named component and keeps its list apart, as it
# does with its manifest.
function(pelloran_write_new_folders)
    install(CODE "
        set(made)
        foreach(path \${pelloran_new_folders})
            if(IS_DIRECTORY \"\$ENV{DESTDIR}\${path}\")
                list(APPEND made \"\${path}\")
            endif()
        endforeach()
        # A folder's name sorts before those of the folders in it: reversed, deepest first.
        list(SORT made)
        list(REVERSE made)
        string(REPLACE \";\" \"\\n\" made \"\${made}\")
        if(CMAKE_INSTALL_COMPONENT)
            set(list \"${CMAKE_BINARY_DIR}/install_folders_\${CMAKE_INSTALL_COMPONENT}.txt\")
        else()
            set(list \"${CMAKE_BINARY_DIR}/install_folders.txt\")
        endif()
        if(made)
            file(WRITE \"\${list}\" \"\${made}\\n\")
        else()
            file(WRITE \"\${list}\" \"\")
        endif()")
    add_custom_target(uninstall
        COMMAND ${CMAKE_COMMAND} -D BUILD=${CMAKE_BINARY_DIR} -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/RemoveInstall.cmake
        COMMENT "Removing the files and folders the last installation made"
        VERBATIM)
endfunction()
