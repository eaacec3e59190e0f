# Installs the built library into a scratch prefix, then configures, builds and runs a small
# consumer project that finds it with find_package(ZEL) and with pkg-config.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run_step)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
        message(FATAL_ERROR "step failed (${rc}): ${ARGN}\n${out}\n${err}")
    endif()
endfunction()

run_step(${CMAKE_COMMAND} --install ${ZEL_BINARY_DIR} --prefix ${prefix})
run_step(${CMAKE_COMMAND} -S ${CONSUMER_SOURCE_DIR} -B ${WORK_DIR}/build
    -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER})
run_step(${CMAKE_COMMAND} --build ${WORK_DIR}/build)
set(ENV{LD_LIBRARY_PATH} "${prefix}/lib:${prefix}/lib64:$ENV{LD_LIBRARY_PATH}")
execute_process(COMMAND ${WORK_DIR}/build/zel_consumer RESULT_VARIABLE rc OUTPUT_VARIABLE out)
if(NOT rc EQUAL 0 OR NOT out MATCHES "count=3")
    message(FATAL_ERROR "consumer failed (${rc}): ${out}")
endif()
file(GLOB pc_files ${prefix}/lib*/pkgconfig/zel.pc)
if(NOT pc_files)
    message(FATAL_ERROR "zel.pc was not installed")
endif()
message(STATUS "consumer printed: ${out}")
