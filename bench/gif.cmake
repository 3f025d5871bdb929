find_package(GIF)
if(GIF_FOUND)
  tolmid_bench(bench_gif LIBS gif GIF::GIF)
endif()
