# Runs one fuzz target for a while on its corpus, seeded from this machine's own files.
if(NOT EXISTS ${CORPUS})
  file(MAKE_DIRECTORY ${CORPUS})
  execute_process(COMMAND sh ${SEEDS} ${NAME} ${CORPUS} ${TRACES})
endif()
execute_process(COMMAND ${TARGET} -max_total_time=${SECONDS} -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 ${CORPUS}
                RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
string(REGEX MATCH "stat::number_of_executed_units: *[0-9]+" runs "${out}")
message("${NAME}: ${runs}")
file(APPEND ${CORPUS}/../summary.txt "${NAME}: ${SECONDS} s, ${runs}\n")
if(failed)
  message(FATAL_ERROR "${out}")
endif()
