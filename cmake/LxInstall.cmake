# Install layout: <prefix>/bin (lxmachine, lxsnap), <prefix>/lib (the
# libraries, the compat layer, the kernel runtime and the drivers side by
# side), <prefix>/include/lxvideo (the public headers and the compat layer's
# headers they use: one include directory), plus the CMake package and the
# pkg-config files. bin and lib are fixed names because the stack finds its
# parts relative to each other: the compat layer loads libraries from its own
# directory and boots <lib>/../bin/lxmachine, lxmachine loads the drivers
# from <bin>/../lib, and every binary's run path is relative ($ORIGIN).
include(CMakePackageConfigHelpers)

set(LX_INSTALL_BINDIR bin)
set(LX_INSTALL_LIBDIR lib)
set(LX_INSTALL_INCLUDEDIR include/lxvideo)
set(LX_INSTALL_CMAKEDIR ${LX_INSTALL_LIBDIR}/cmake/LxVideo)
set(LX_INSTALL_PKGCONFIGDIR ${LX_INSTALL_LIBDIR}/pkgconfig)

# The targets applications link. Their include directories point into the
# source tree while building and at the one installed include directory
# once installed.
set(LX_PUBLIC_TARGETS LxInclude win32 LxDevMm LxVideo LxVidEx)
foreach(target IN LISTS LX_PUBLIC_TARGETS)
  get_target_property(dirs ${target} INTERFACE_INCLUDE_DIRECTORIES)
  set(wrapped "")
  foreach(dir IN LISTS dirs)
    list(APPEND wrapped "$<BUILD_INTERFACE:${dir}>")
  endforeach()
  set_target_properties(${target} PROPERTIES INTERFACE_INCLUDE_DIRECTORIES "${wrapped}")
  target_include_directories(${target} INTERFACE $<INSTALL_INTERFACE:${LX_INSTALL_INCLUDEDIR}>)
endforeach()
set_target_properties(LxInclude PROPERTIES EXPORT_NAME headers)

install(TARGETS ${LX_PUBLIC_TARGETS} EXPORT LxVideoTargets
  LIBRARY DESTINATION ${LX_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${LX_INSTALL_INCLUDEDIR})
install(EXPORT LxVideoTargets NAMESPACE LxVideo:: DESTINATION ${LX_INSTALL_CMAKEDIR})

# The rest of the stack: loaded by name at run time, or run as programs.
set(LX_RUNTIME_LIBRARIES HMBSEAPI TernCard nt)
set(LX_DRIVERS TernCardVI HMBServ HeronAU)
set(LX_PROGRAMS lxmachine lxsnap)
foreach(target IN LISTS LX_RUNTIME_LIBRARIES LX_DRIVERS)
  if(TARGET ${target})
    install(TARGETS ${target} LIBRARY DESTINATION ${LX_INSTALL_LIBDIR})
  endif()
endforeach()
foreach(target IN LISTS LX_PROGRAMS)
  if(TARGET ${target})
    install(TARGETS ${target} RUNTIME DESTINATION ${LX_INSTALL_BINDIR})
  endif()
endforeach()

# Public headers only; internal/ stays behind.
install(DIRECTORY
    ${PROJECT_SOURCE_DIR}/include/lx
    ${PROJECT_SOURCE_DIR}/LxDevMm/include/lx
    ${PROJECT_SOURCE_DIR}/LxVideo/include/lx
    ${PROJECT_SOURCE_DIR}/LxVidEx/include/lx
  DESTINATION ${LX_INSTALL_INCLUDEDIR} FILES_MATCHING PATTERN "*.h")
install(FILES ${PROJECT_SOURCE_DIR}/platform/win32/include/windows.h DESTINATION ${LX_INSTALL_INCLUDEDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/platform/win32/include/win32 DESTINATION ${LX_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")

set(LX_PACKAGE_VERSION 1.0.0)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/LxVideoConfig.cmake.in
  ${CMAKE_BINARY_DIR}/package/LxVideoConfig.cmake INSTALL_DESTINATION ${LX_INSTALL_CMAKEDIR})
write_basic_package_version_file(${CMAKE_BINARY_DIR}/package/LxVideoConfigVersion.cmake
  VERSION ${LX_PACKAGE_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/package/LxVideoConfig.cmake ${CMAKE_BINARY_DIR}/package/LxVideoConfigVersion.cmake
  DESTINATION ${LX_INSTALL_CMAKEDIR})

foreach(pc IN ITEMS lxdevmm lxvideo lxvidex)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/pkgconfig/${pc}.pc.in ${CMAKE_BINARY_DIR}/package/${pc}.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/package/${pc}.pc DESTINATION ${LX_INSTALL_PKGCONFIGDIR})
endforeach()

# The GStreamer plugin, where GStreamer looks with GST_PLUGIN_PATH=<prefix>/lib/gstreamer-1.0.
if(TARGET gstlxvideo)
  install(TARGETS gstlxvideo LIBRARY DESTINATION ${LX_INSTALL_LIBDIR}/gstreamer-1.0)
endif()
