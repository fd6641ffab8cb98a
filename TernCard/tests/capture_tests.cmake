# Capture and snap: DMA programs against a fake card (the exports against
# a private machine are tested through the public API, LxVideo/tests).
lx_test(terncard_dma_program_test
  SOURCES fake_card.cpp dma_program_test.cpp dma_fault_test.cpp
  LINK TernCardObjects TernCardBringUp TernCardCapture)
target_include_directories(terncard_dma_program_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/TernCard/src)

if(LX_BENCHMARKS)
  add_executable(terncard_dma_program_bench dma_program_bench.cpp fake_card.cpp)
  target_include_directories(terncard_dma_program_bench PRIVATE ${CMAKE_CURRENT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/TernCard/src)
  target_link_libraries(terncard_dma_program_bench PRIVATE TernCardObjects TernCardBringUp TernCardCapture
                                                           benchmark::benchmark)
endif()
