# pelmora_export_headers(<target> <name> <folder>)
# Lets the target's users include its headers as <name/...> and nothing else: the target
# exports a folder of its own in the build tree holding one link, <name>, to <folder>. A
# library that does not link the target cannot reach its headers.
function(pelmora_export_headers target name folder)
    set(root ${CMAKE_BINARY_DIR}/include/${target})
    file(MAKE_DIRECTORY ${root})
    file(CREATE_LINK ${folder} ${root}/${name} SYMBOLIC)
    target_include_directories(${target} PUBLIC ${root})
endfunction()
