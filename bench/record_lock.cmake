find_package(SQLite3)
if(SQLite3_FOUND)
  tolmid_bench(bench_record_lock LIBS storage SQLite::SQLite3)
endif()
