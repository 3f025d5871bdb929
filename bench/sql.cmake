find_package(SQLite3)
if(SQLite3_FOUND)
  tolmid_bench(bench_sql LIBS sql SQLite::SQLite3)
endif()
