quirelle_bench(bench_pnm SOURCES pnm_bench.cpp DEPENDS quirelle_engine)
