# cmake -D BUILD=<build folder> -P RemoveInstall.cmake: removes what the last installation from
# that build folder put in place, the files of install_manifest.txt and then the folders of
# install_folders.txt that are empty by then, under $DESTDIR when that is set.
foreach(list install_manifest.txt install_folders.txt)
    if(NOT EXISTS "${BUILD}/${list}")
        message(FATAL_ERROR "${BUILD}/${list} is missing: nothing was installed from there")
    endif()
endforeach()
file(STRINGS "${BUILD}/install_manifest.txt" files)
foreach(file ${files})
    if(IS_SYMLINK "$ENV{DESTDIR}${file}" OR EXISTS "$ENV{DESTDIR}${file}")
        message(STATUS "Removing $ENV{DESTDIR}${file}")
        file(REMOVE "$ENV{DESTDIR}${file}")
    endif()
endforeach()
file(STRINGS "${BUILD}/install_folders.txt" folders)
foreach(folder ${folders})
    # Something put there since the installation stays, and so does its folder.
    file(GLOB left LIST_DIRECTORIES true "$ENV{DESTDIR}${folder}/*" "$ENV{DESTDIR}${folder}/.*")
    if(IS_DIRECTORY "$ENV{DESTDIR}${folder}" AND NOT left)
        message(STATUS "Removing $ENV{DESTDIR}${folder}/")
        file(REMOVE_RECURSE "$ENV{DESTDIR}${folder}")
    endif()
endforeach()
