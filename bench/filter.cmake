find_package(SQLite3)
if(SQLite3_FOUND)
  tolmid_bench(bench_filter LIBS storage SQLite::SQLite3)
endif()
