tolmid_bench(bench_keys LIBS storage)
