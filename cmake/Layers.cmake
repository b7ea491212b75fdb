# Folders of src/ include only downward. Each folder's target exposes an
# include root of its own that holds one entry, a link to that folder, so
# "xlsx/Workbook.h" resolves only in targets that link zp_xlsx (or a
# target above it). An include of a higher folder then fails to compile.
#
# zp_expose_folder(<target> <folder>)
function(zp_expose_folder target folder)
    set(root ${PROJECT_BINARY_DIR}/include-roots/${folder})
    if(NOT IS_SYMLINK ${root}/${folder})
        file(MAKE_DIRECTORY ${root})
        file(CREATE_LINK ${PROJECT_SOURCE_DIR}/src/${folder} ${root}/${folder} SYMBOLIC)
    endif()
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "INTERFACE_LIBRARY")
        target_include_directories(${target} INTERFACE ${root})
    else()
        target_include_directories(${target} PUBLIC ${root})
    endif()
endfunction()
