tolmid_bench(bench_browse LIBS app)
if(TARGET bench_browse)
  add_dependencies(bench_browse home_picture)
endif()
