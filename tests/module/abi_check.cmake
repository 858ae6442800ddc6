# Compiles the public header for the Windows x64 ABI (the host's) and checks the vtable:
# the 60 slots at indices 0 to 59 in the host's order, the scalar deleting destructor
# last. Run as: cmake -DCLANG=... -DSOURCE_DIR=... -P abi_check.cmake
set(expected
  DeviceMalloc DeviceFree DeviceCopy2D GetLastStatus ShiftMiddleChannels_C32 GetScratchSize
  SecondDifferenceEnergy_C32 SecondDifferenceEnergy_C64 SecondDifferenceEnergy_YUY2
  SecondDifferenceEnergy_YUY2W SecondDifferenceEnergy_SemiPlanar8 SecondDifferenceEnergy_SemiPlanar16
  SharpenLaplacian_C32 SharpenLaplacian_C32A AddEdgeMagnitude_C32 AddEdgeMagnitude_C32A
  DisplaceByEdgeGradient_C32 DisplaceByEdgeGradient_C32A RowWaveOffset_C32
  SeparableUnsharpMask_C32 SeparableUnsharpMask_C32A BlendToColour_C32
  KeyMaskProduct_YUV32 KeyMaskGated_YUV32 SuppressKeyChroma_YUV32 MultiplyAlphaByMask_YUV32A
  MultiplyAlphaByInverseMask_YUV32A ShowMask_YUV32A ShowInverseMask_YUV32A
  FadeChromaByMask_YUV32 FadeChromaByInverseMask_YUV32
  SeparableConvolve_C32 SeparableConvolve_C64 SeparableConvolveAlpha_C32A SeparableConvolveAlpha_C64A
  SeparableConvolve_P8 SeparableConvolve_P16 DeviceCopy
  SimilarityWeightedAverage_C32 SimilarityWeightedAverageTex_C32
  SimilarityWeightedAverage_C32A SimilarityWeightedAverageTex_C32A
  SimilarityWeightedAverage_YUV32 SimilarityWeightedAverageTex_YUV32
  SimilarityWeightedAverage_YUV32A SimilarityWeightedAverageTex_YUV32A
  MultiFrameSimilarityAverage_C32 MultiFrameSimilarityAverage_C32A
  MultiFrameSimilarityAverage_YUV32 MultiFrameSimilarityAverage_YUV32A
  Mosaic_C32 Mosaic_C32A Mosaic_YUY2 NonLocalMeans_C32 NonLocalMeans_C32A
  AddDetail_C32 AddDetailWeighted_C32 AddDetail_C64 AddDetailWeighted_C64
  "~ICUDAKernelFuncSet_TarvoVideoFilter2")

execute_process(
  COMMAND ${CLANG} --target=x86_64-pc-windows-msvc -std=c++17 -I${SOURCE_DIR} -S -emit-llvm
          -o ${CMAKE_CURRENT_BINARY_DIR}/abi_probe.ll -Xclang -fdump-vtable-layouts
          ${SOURCE_DIR}/tests/module/abi_probe.cpp
  OUTPUT_VARIABLE dump ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "clang could not compile the header for the Windows x64 ABI:\n${err}")
endif()
string(FIND "${dump}" "VFTable indices for 'ICUDAKernelFuncSet_TarvoVideoFilter2'" at)
if(at EQUAL -1)
  message(FATAL_ERROR "no vtable index dump for the interface:\n${dump}")
endif()
string(SUBSTRING "${dump}" ${at} -1 dump)
string(REGEX MATCHALL "\n +[0-9]+ \\| [^\n]*" rows "${dump}")
list(LENGTH rows count)
list(LENGTH expected want)
if(NOT count EQUAL want)
  message(FATAL_ERROR "the vtable has ${count} slots, the host expects ${want}")
endif()
set(index 0)
foreach(row IN LISTS rows)
  list(GET expected ${index} name)
  string(REGEX MATCH " +([0-9]+) \\| [^\n]*ICUDAKernelFuncSet_TarvoVideoFilter2::([^(]+)\\(" m "${row}")
  set(got_index "${CMAKE_MATCH_1}")
  set(got_name "${CMAKE_MATCH_2}")
  if(NOT got_index EQUAL index OR NOT got_name STREQUAL name)
    message(FATAL_ERROR "slot ${index}: expected ${name}, found '${row}'")
  endif()
  math(EXPR index "${index} + 1")
endforeach()
string(FIND "${dump}" "[scalar deleting]" deleting)
if(deleting EQUAL -1)
  message(FATAL_ERROR "slot 59 is not the scalar deleting destructor")
endif()
message(STATUS "Windows x64 vtable: ${count} slots in the host's order, deleting destructor at 59")
