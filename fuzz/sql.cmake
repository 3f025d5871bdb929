tolmid_fuzz(fuzz_sql LIBS sql)
