# Included from tests/: every fuzz target also builds with a plain main that
# replays its seed corpus and the inputs that once crashed it (fuzz/regressions),
# so they run in every test build.
function(tamber_fuzz_replay name source corpus)
  add_executable(${name}_replay ${PROJECT_SOURCE_DIR}/fuzz/${source}
                 ${PROJECT_SOURCE_DIR}/fuzz/standalone_main.cpp)
  target_include_directories(${name}_replay PRIVATE ${PROJECT_SOURCE_DIR})
  target_link_libraries(${name}_replay PRIVATE ${ARGN})
  set(inputs ${PROJECT_SOURCE_DIR}/fuzz/corpus/${corpus})
  if(EXISTS ${PROJECT_SOURCE_DIR}/fuzz/regressions/${corpus})
    list(APPEND inputs ${PROJECT_SOURCE_DIR}/fuzz/regressions/${corpus})
  endif()
  add_test(NAME ${name}_corpus COMMAND ${name}_replay ${inputs})
endfunction()
