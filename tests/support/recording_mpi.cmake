# Links the recording media platform (tests/support) into a test program in place of a real one.
function(hdext_use_recording_mpi target)
  set(_dir ${PROJECT_SOURCE_DIR}/tests/support)
  target_sources(${target} PRIVATE ${_dir}/recording_mpi.cpp ${_dir}/recording_mpi_calls.cpp
                                   ${_dir}/recording_mpi_queues.cpp)
  target_include_directories(${target} PRIVATE ${_dir})
endfunction()
