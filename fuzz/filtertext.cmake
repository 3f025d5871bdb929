tolmid_fuzz(fuzz_filtertext LIBS dataset)
