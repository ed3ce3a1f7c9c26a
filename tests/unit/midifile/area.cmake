target_link_libraries(test_midifile PRIVATE midifile)
# Files made by csvmidi go through the reader and writer; midicsv reads the results back.
add_test(NAME midifile_midicsv
  COMMAND bash ${PROJECT_SOURCE_DIR}/scripts/detached.sh bash ${CMAKE_CURRENT_LIST_DIR}/midicsv_check.sh $<TARGET_FILE:test_midifile>
          ${CMAKE_CURRENT_LIST_DIR}/csv ${CMAKE_BINARY_DIR}/midicsv-work)
set_tests_properties(midifile_midicsv PROPERTIES TIMEOUT 300)
