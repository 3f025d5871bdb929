tolmid_bench(bench_startup LIBS app)
if(TARGET bench_startup)
  add_dependencies(bench_startup home_picture)
endif()
