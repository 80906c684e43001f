# tarvek_wayland_protocol(TARGET XML NAME): the client code of a Wayland
# protocol described by XML, as wayland-scanner writes it, compiled into TARGET,
# whose sources include it as "NAME-client-protocol.h". The caller has found
# wayland-scanner (pkg-config) and enabled C.
function(tarvek_wayland_protocol target xml name)
    pkg_get_variable(scanner wayland-scanner wayland_scanner)
    set(generated "${CMAKE_CURRENT_BINARY_DIR}/protocols")
    set(header "${generated}/${name}-client-protocol.h")
    set(code "${generated}/${name}-protocol.c")
    add_custom_command(OUTPUT "${header}" "${code}"
        COMMAND "${CMAKE_COMMAND}" -E make_directory "${generated}"
        COMMAND "${scanner}" client-header "${xml}" "${header}"
        COMMAND "${scanner}" private-code "${xml}" "${code}"
        DEPENDS "${xml}" VERBATIM)
    target_sources(${target} PRIVATE "${header}" "${code}")
    target_include_directories(${target} SYSTEM PRIVATE "${generated}")
endfunction()
