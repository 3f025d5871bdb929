tolmid_fuzz(fuzz_picture LIBS framework_gui)
