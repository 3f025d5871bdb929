tolmid_fuzz(fuzz_filter LIBS storage)
