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

# The refinements of every native and action by name, generated from the same argument blocks by a
# small host tool, so an entry names the refinement it tests and a change that moves it is a build
# error.
add_executable(zub-gen-refinements tools/gen_refinements.cpp)
set(refinements_header ${CMAKE_CURRENT_BINARY_DIR}/generated/evaluator/refinements.h)
add_custom_command(
  OUTPUT ${refinements_header}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/generated/evaluator
  COMMAND zub-gen-refinements ${refinements_header}
          Native ${CMAKE_CURRENT_SOURCE_DIR}/boot/natives.zub
          Action ${CMAKE_CURRENT_SOURCE_DIR}/boot/actions.zub
  DEPENDS zub-gen-refinements ${CMAKE_CURRENT_SOURCE_DIR}/boot/natives.zub
          ${CMAKE_CURRENT_SOURCE_DIR}/boot/actions.zub
  COMMENT "Generating the refinement positions")
add_custom_target(zub-refinements DEPENDS ${refinements_header})
add_dependencies(zubcore zub-refinements)
target_include_directories(zubcore PUBLIC ${CMAKE_CURRENT_BINARY_DIR}/generated)

# The environment written in Zub: environment/*.zub, evaluated at start-up in the order of their
# numbered names. Each file becomes an array; one generated table lists them in order.
file(GLOB ZUB_ENVIRONMENT_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/environment/*.zub)
list(SORT ZUB_ENVIRONMENT_FILES)
set(table_entries "")
set(declarations "")
set(index 0)
# The standard typesets have one list, datatypes/typesets.def; the constants file gets their
# definitions written in at configure time.
set(typesets_def ${CMAKE_CURRENT_SOURCE_DIR}/datatypes/typesets.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${typesets_def})
file(STRINGS ${typesets_def} typeset_lines REGEX "^ZUB_TYPESET\\(")
set(ZUB_TYPESETS "")
foreach(line ${typeset_lines})
  if(NOT line MATCHES "^ZUB_TYPESET\\([a-z_]+, *\"([^\"]+)\", *\"([^\"]+)\"\\)$")
    message(FATAL_ERROR "datatypes/typesets.def: cannot read: ${line}")
  endif()
  string(APPEND ZUB_TYPESETS "${CMAKE_MATCH_1}: make typeset! [${CMAKE_MATCH_2}]\n")
endforeach()

# The predicates likewise: environment/predicates.def, written into the predicates file.
set(predicates_def ${CMAKE_CURRENT_SOURCE_DIR}/environment/predicates.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${predicates_def})
file(STRINGS ${predicates_def} predicate_lines REGEX "^ZUB_TYPE(SET)?_PREDICATE\\(")
set(ZUB_PREDICATES "")
foreach(line ${predicate_lines})
  set(routine_spec "[\"Returns true if the value is this type\" value [any-type!] return: [logic!]]")
  if(line MATCHES "^ZUB_TYPE_PREDICATE\\([A-Za-z0-9_]+, *\"([^\"]+)\"\\)$")
    set(word ${CMAKE_MATCH_1})
  elseif(line MATCHES "^ZUB_TYPESET_PREDICATE\\(\"(([^\"]+)\\?)\", *\"[^\"]+\"\\)$")
    set(word ${CMAKE_MATCH_1})
    set(routine_spec "[\"Returns true if the value is any type of ${CMAKE_MATCH_2}\" value [any-type!] return: [logic!]]")
  else()
    message(FATAL_ERROR "environment/predicates.def: cannot read: ${line}")
  endif()
  string(APPEND ZUB_PREDICATES "${word}: make-routine '${word} ${routine_spec}\n")
endforeach()

# The system object's build record: the time of this configuration and the source revision.
string(TIMESTAMP ZUB_BUILD_DATE "%d-%b-%Y/%H:%M:%S" UTC)
if(CMAKE_BUILD_TYPE STREQUAL "Debug")
  set(ZUB_DEBUG true)
else()
  set(ZUB_DEBUG false)
endif()
set(ZUB_GIT_BRANCH "unknown")
set(ZUB_GIT_AHEAD 0)
set(ZUB_GIT_SECONDS 0)
set(ZUB_GIT_COMMIT 0000000000000000000000000000000000000000)
set(ZUB_GIT_MESSAGE "")
find_package(Git QUIET)
if(GIT_FOUND)
  foreach(query "BRANCH;rev-parse;--abbrev-ref;HEAD" "AHEAD;rev-list;--count;HEAD"
                "SECONDS;log;-1;--format=%ct" "COMMIT;rev-parse;HEAD")
    list(POP_FRONT query field)
    execute_process(COMMAND ${GIT_EXECUTABLE} ${query} WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                    OUTPUT_VARIABLE answer RESULT_VARIABLE status ERROR_QUIET OUTPUT_STRIP_TRAILING_WHITESPACE)
    if(status EQUAL 0 AND NOT answer STREQUAL "")
      set(ZUB_GIT_${field} "${answer}")
    endif()
  endforeach()
  # The message goes in as hexadecimal bytes, so no character of it can end the Zub text early.
  execute_process(COMMAND ${GIT_EXECUTABLE} log -1 --format=%B WORKING_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}
                  OUTPUT_FILE ${CMAKE_CURRENT_BINARY_DIR}/git-message.txt RESULT_VARIABLE status ERROR_QUIET)
  if(status EQUAL 0)
    file(READ ${CMAKE_CURRENT_BINARY_DIR}/git-message.txt ZUB_GIT_MESSAGE HEX)
  endif()
endif()

# Embeds numbered Zub sources into `target` as zub::embedded::<table>[] (file name, bytes, size) in
# the order given, with <table>_count; other libraries embed theirs the same way.
function(zub_embed_sources target table)
  set(declarations "")
  set(table_entries "")
  set(index 0)
  foreach(source ${ARGN})
    get_filename_component(base ${source} NAME)
    set(symbol ${table}_${index})
    set(generated ${CMAKE_CURRENT_BINARY_DIR}/embedded/${symbol}.cpp)
    add_custom_command(
      OUTPUT ${generated}
      COMMAND ${CMAKE_COMMAND} -DINPUT=${source} -DOUTPUT=${generated} -DSYMBOL=${symbol}
              -P ${PROJECT_SOURCE_DIR}/tools/embed.cmake
      DEPENDS ${source} ${PROJECT_SOURCE_DIR}/tools/embed.cmake
      COMMENT "Embedding ${base}")
    target_sources(${target} PRIVATE ${generated})
    string(APPEND declarations "extern const unsigned char ${symbol}[];\nextern const uint32_t ${symbol}_size;\n")
    string(APPEND table_entries "    {\"${base}\", ${symbol}, &${symbol}_size},\n")
    math(EXPR index "${index} + 1")
  endforeach()
  set(table_file ${CMAKE_CURRENT_BINARY_DIR}/embedded/${table}_table.cpp)
  file(CONFIGURE OUTPUT ${table_file} CONTENT "// Generated at configure time; not to be edited.
#include \"boot/embedded.h\"
namespace zub::embedded {
${declarations}
extern const Source ${table}[] = {
${table_entries}    {nullptr, nullptr, nullptr}};
extern const uint32_t ${table}_count = ${index};
}  // namespace zub::embedded
")
  target_sources(${target} PRIVATE ${table_file})
endfunction()

set(environment_sources "")
foreach(source ${ZUB_ENVIRONMENT_FILES})
  get_filename_component(base ${source} NAME)
  if(base STREQUAL "0010-constants.zub" OR base STREQUAL "0070-predicates.zub" OR base STREQUAL "0130-system.zub")
    set(written ${CMAKE_CURRENT_BINARY_DIR}/environment/${base})
    configure_file(${source} ${written} @ONLY)
    set(source ${written})
  endif()
  list(APPEND environment_sources ${source})
endforeach()
zub_embed_sources(zubcore environment ${environment_sources})

# The console engine (read-eval-print loop, shell words, completion, highlighting) is part of every
# program, the terminal one included: it runs after the environment, from the same start-up data.
file(GLOB ZUB_CONSOLE_ENGINE_FILES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/console/engine/*.zub)
list(SORT ZUB_CONSOLE_ENGINE_FILES)
zub_embed_sources(zubcore console_engine ${ZUB_CONSOLE_ENGINE_FILES})

# The same environment as compact ZUBBIN data, made at build time by a host tool that loads the
# sources above, and decoded at start-up instead of loading the text. Only the programs link it;
# the core library's own default is empty, and then start-up loads the text (as the tool does).
add_executable(zub-gen-startup tools/gen_startup.cpp)
target_link_libraries(zub-gen-startup PRIVATE zubcore)
set(ZUB_STARTUP_DATA ${CMAKE_CURRENT_BINARY_DIR}/embedded/startup_data.cpp)
add_custom_command(
  OUTPUT ${ZUB_STARTUP_DATA}
  COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=0 $<TARGET_FILE:zub-gen-startup> ${ZUB_STARTUP_DATA}
  DEPENDS zub-gen-startup
  COMMENT "Encoding the environment as ZUBBIN start-up data")
