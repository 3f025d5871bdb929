find_package(SQLite3)
if(SQLite3_FOUND)
  tolmid_bench(bench_records LIBS storage SQLite::SQLite3)
endif()
