tolmid_fuzz(fuzz_gif LIBS gif_gui)
