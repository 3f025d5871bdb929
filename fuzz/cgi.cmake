tolmid_fuzz(fuzz_cgi LIBS cgi)
