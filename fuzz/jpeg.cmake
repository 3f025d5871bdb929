tolmid_fuzz(fuzz_jpeg LIBS framework_gui)
