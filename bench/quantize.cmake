tolmid_bench(bench_quantize LIBS gif)
