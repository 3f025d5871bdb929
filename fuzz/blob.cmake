tolmid_fuzz(fuzz_blob LIBS storage)
