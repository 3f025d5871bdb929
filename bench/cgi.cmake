find_package(OpenSSL)
if(OpenSSL_FOUND)
  tolmid_bench(bench_cgi LIBS cgi OpenSSL::Crypto)
endif()
