# The data that start-up reads from inside the binary: the native and action specs. Each file
# becomes a generated source of the core library (zub::embedded::boot_<name>, see boot/embedded.h).
foreach(name natives actions)
  set(source ${CMAKE_CURRENT_SOURCE_DIR}/boot/${name}.zub)
  set(generated ${CMAKE_CURRENT_BINARY_DIR}/embedded/boot_${name}.cpp)
  add_custom_command(
    OUTPUT ${generated}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${source} -DOUTPUT=${generated} -DSYMBOL=boot_${name}
            -P ${CMAKE_CURRENT_SOURCE_DIR}/tools/embed.cmake
    DEPENDS ${source} ${CMAKE_CURRENT_SOURCE_DIR}/tools/embed.cmake
    COMMENT "Embedding boot/${name}.zub")
  target_sources(zubcore PRIVATE ${generated})
endforeach()
