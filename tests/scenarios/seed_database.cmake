# Builds the database every scenario starts from: -DSERVER=rec-appserver -DDB=file -DTODAY=...
file(REMOVE "${DB}")
execute_process(COMMAND "${SERVER}" seed --db "sqlite:${DB}" --accounts 400 --seed 11 --today "${TODAY}"
                RESULT_VARIABLE status ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "rec-appserver seed falhou (${status}): ${err}")
endif()
# The operator the scenarios sign in as: an existing database has no demo operator.
file(WRITE "${DB}.senha" "roteiro\n")
execute_process(COMMAND "${SERVER}" add-operator --db "sqlite:${DB}" roteiro INPUT_FILE "${DB}.senha"
                RESULT_VARIABLE status ERROR_VARIABLE err)
file(REMOVE "${DB}.senha")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "rec-appserver add-operator falhou (${status}): ${err}")
endif()
