tolmid_fuzz(fuzz_datafile LIBS storage)
