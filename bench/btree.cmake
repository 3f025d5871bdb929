find_package(SQLite3)
if(SQLite3_FOUND)
  tolmid_bench(bench_btree LIBS storage SQLite::SQLite3)
endif()
