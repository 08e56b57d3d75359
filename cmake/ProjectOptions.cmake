# One interface target carries the language level, warnings and defines for
# every library and program of the project.
add_library(quellin_options INTERFACE)
target_compile_features(quellin_options INTERFACE cxx_std_20)
target_compile_options(quellin_options INTERFACE
  -Wall -Wextra -Wshadow -Wold-style-cast -Wnon-virtual-dtor
  -Wno-missing-field-initializers
  $<$<BOOL:${QUELLIN_WERROR}>:-Werror>)
target_compile_definitions(quellin_options INTERFACE
  _GLIBCXX_ASSERTIONS
  QT_NO_CAST_FROM_ASCII
  QT_NO_CAST_TO_ASCII
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT)

option(QUELLIN_WERROR "Treat warnings as errors" OFF)
option(QUELLIN_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(QUELLIN_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()
if(QUELLIN_FUZZ)
  # Instrument every library for coverage; the fuzz targets add the driver.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

# quellin_fuzz_target(NAME SOURCE LIBS...) builds a libFuzzer target when
# fuzzing is on.  In test builds the same source is linked with a plain
# runner that replays the target's corpus (the folder corpus/<NAME> beside the
# source) as an ordinary test, so every finding stays fixed.
set(QUELLIN_FUZZ_REPLAY_MAIN ${CMAKE_CURRENT_LIST_DIR}/fuzz_replay_main.cpp)
function(quellin_fuzz_target name source)
  get_filename_component(corpus ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name} ABSOLUTE)
  if(QUELLIN_FUZZ)
    add_executable(${name} ${source})
    target_link_libraries(${name} PRIVATE quellin_options ${ARGN})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  elseif(QUELLIN_BUILD_TESTS)
    if(NOT TARGET quellin_fuzz_replay_main)
      add_library(quellin_fuzz_replay_main STATIC ${QUELLIN_FUZZ_REPLAY_MAIN})
      target_link_libraries(quellin_fuzz_replay_main PRIVATE quellin_options)
    endif()
    add_executable(${name}_replay ${source})
    set_target_properties(${name}_replay PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
    target_link_libraries(${name}_replay PRIVATE quellin_options quellin_fuzz_replay_main ${ARGN})
    add_test(NAME fuzz_replay.${name} COMMAND ${name}_replay ${corpus})
  endif()
endfunction()
