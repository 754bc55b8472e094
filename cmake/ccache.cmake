# Compiler caching: when ccache is installed, every compile it has seen before is served from its
# cache, from any checkout of the project on this machine (paths under the checkout are hashed
# relative to it, and the working folder is left out). The cache keeps at most 1 GB (a whole build of
# the three trees takes about 60 MB of it). -DVLAGT_CCACHE=OFF compiles without it.
option(VLAGT_CCACHE "compile through ccache when it is installed" ON)
find_program(VLAGT_CCACHE_PROGRAM ccache)
if(VLAGT_CCACHE AND VLAGT_CCACHE_PROGRAM AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  get_filename_component(vlagt_checkout ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
  # The precompiled headers are cached too: ccache needs these two sloppinesses for them.
  set(vlagt_launcher env CCACHE_BASEDIR=${vlagt_checkout} CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=1G
    CCACHE_SLOPPINESS=pch_defines,time_macros ${VLAGT_CCACHE_PROGRAM})
  set(CMAKE_C_COMPILER_LAUNCHER ${vlagt_launcher})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${vlagt_launcher})
endif()
