# One source tree, two backends. The kernel sources (*.cu) are compiled by nvcc for the
# CUDA backend and by the host compiler, against the CPU runtime, for the CPU backend.
# For the latter each .cu is reached through a generated one-line .cpp that includes it,
# so one file can be CUDA in one target and C++ in another within the same project.

set(TVF2_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
get_filename_component(TVF2_ROOT ${TVF2_ROOT} ABSOLUTE)

# Host sources of the module (compiled for both backends).
set(TVF2_MODULE_HOST_SOURCES
  module/funcset.cpp
  module/status.cpp
  launch/grid_block.cpp)
# Kernel sources, each with its launchers.
set(TVF2_MODULE_KERNEL_SOURCES
  effects/mosaic.cu
  effects/displace.cu
  effects/row_wave.cu
  effects/key_mask.cu
  effects/blend.cu
  effects/channel_shift.cu
  denoise/similarity_average.cu
  denoise/multi_frame_average.cu
  denoise/nonlocal_means.cu
  convolution/separable.cu
  convolution/unsharp.cu
  convolution/sharpen.cu
  convolution/detail.cu
  measure/difference_energy.cu)

# Generates host-compiler wrappers for .cu files; returns the .cpp paths in out_var.
function(tvf2_cpu_wrap out_var)
  set(result)
  foreach(src IN LISTS ARGN)
    get_filename_component(abs ${src} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
    file(RELATIVE_PATH rel ${TVF2_ROOT} ${abs})
    set(wrapper ${CMAKE_CURRENT_BINARY_DIR}/cpu-kernels/${rel}.cpp)
    file(GENERATE OUTPUT ${wrapper} CONTENT "#include \"${abs}\"\n")
    set_source_files_properties(${wrapper} PROPERTIES OBJECT_DEPENDS ${abs})
    list(APPEND result ${wrapper})
  endforeach()
  set(${out_var} ${result} PARENT_SCOPE)
endfunction()

# Compile settings of kernel code for a backend (cpu or cuda).
function(tvf2_kernel_settings target backend)
  target_include_directories(${target} PUBLIC ${TVF2_ROOT} ${TVF2_ROOT}/platform)
  if(backend STREQUAL "cpu")
    target_link_libraries(${target} PUBLIC tvf2_cudart_cpu)
  else()
    target_link_libraries(${target} PUBLIC CUDA::cudart_static)
    target_compile_options(${target} PRIVATE
      $<$<COMPILE_LANGUAGE:CUDA>:--fmad=false -Xcompiler=-ffp-contract=off,-fno-fast-math>)
    set_target_properties(${target} PROPERTIES CUDA_RUNTIME_LIBRARY Static)
  endif()
endfunction()

# tvf2_core_<backend>: the module's code as objects (linked by the module and the tests);
# TarvoVideoFilter2_<cpu|cuda60>: the loadable module, exporting GetFuncSet only.
function(tvf2_add_backend backend)
  set(sources ${TVF2_MODULE_HOST_SOURCES})
  list(TRANSFORM sources PREPEND ${TVF2_ROOT}/)
  set(kernels ${TVF2_MODULE_KERNEL_SOURCES})
  list(TRANSFORM kernels PREPEND ${TVF2_ROOT}/)
  if(backend STREQUAL "cpu")
    tvf2_cpu_wrap(kernels ${kernels})
  endif()
  add_library(tvf2_core_${backend} OBJECT ${sources} ${kernels})
  tvf2_kernel_settings(tvf2_core_${backend} ${backend})
  set_target_properties(tvf2_core_${backend} PROPERTIES
    CXX_VISIBILITY_PRESET hidden CUDA_VISIBILITY_PRESET hidden VISIBILITY_INLINES_HIDDEN ON)

  if(backend STREQUAL "cpu")
    set(name TarvoVideoFilter2_cpu)
  else()
    set(name TarvoVideoFilter2_cuda60)
  endif()
  add_library(${name} MODULE $<TARGET_OBJECTS:tvf2_core_${backend}>)
  target_link_libraries(${name} PRIVATE tvf2_core_${backend})
  set_target_properties(${name} PROPERTIES PREFIX "" LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}
    LINKER_LANGUAGE CXX)
  target_link_options(${name} PRIVATE
    -Wl,--version-script=${TVF2_ROOT}/module/exports.map -Wl,--no-undefined)
  if(backend STREQUAL "cpu")
    # Found next to the module, wherever the two are installed together.
    set_target_properties(${name} PROPERTIES BUILD_RPATH "$ORIGIN" INSTALL_RPATH "$ORIGIN")
    set_target_properties(tvf2_cudart_cpu PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
  endif()
  set(TVF2_MODULE_${backend} ${name} PARENT_SCOPE)
endfunction()
