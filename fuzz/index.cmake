tolmid_fuzz(fuzz_index LIBS storage)
