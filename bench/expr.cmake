tolmid_bench(bench_expr LIBS storage)
