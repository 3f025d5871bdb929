tolmid_bench(bench_repair LIBS storage platform)
