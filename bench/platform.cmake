tolmid_bench(bench_platform LIBS platform)
