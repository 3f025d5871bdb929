find_package(SQLite3)
if(SQLite3_FOUND)
  tolmid_bench(bench_records LIBS storage SQLite::SQLite3)
  if(TARGET bench_records)
    target_compile_definitions(bench_records PRIVATE
                               TOLMID_TOOLS_DIR="${PROJECT_SOURCE_DIR}/tests/tools")
  endif()
endif()
