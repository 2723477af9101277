# Runs one scenario: erp-shell --script on a fresh copy of the seeded database, then checks the
# exit status and, when asked, what the run printed and what a scripted server received.
#
#   -DSHELL=erp-shell  -DSCRIPT=file.js  -DDB=seeded.sqlite  -DWORK=dir  -DTODAY=AAAA-MM-DD
#   -DARGS=a|b|c            more options for the shell ("{work}" stands for WORK)
#   -DEXPECT_STATUS=n       (0 when not given)
#   -DEXPECT_STDOUT=regex   -DEXPECT_STDERR=regex   -DEXPECT_FILE=path under WORK
#   -DSTUB=scenario-stub -DANSWERS=answers.json [-DEXPECT_RECORD=regex]
#                           the shell talks to a scripted server instead of the embedded one

foreach(var SHELL SCRIPT DB WORK TODAY)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "run_scenario: falta -D${var}")
  endif()
endforeach()
if(NOT DEFINED EXPECT_STATUS)
  set(EXPECT_STATUS 0)
endif()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/data")
file(COPY_FILE "${DB}" "${WORK}/erp.sqlite")

string(REPLACE "|" ";" extra "${ARGS}")
string(REPLACE "{work}" "${WORK}" extra "${extra}")
set(command "${SHELL}" -platform offscreen --script "${SCRIPT}" --db "sqlite:${WORK}/erp.sqlite"
    --data-dir "${WORK}/data" --today "${TODAY}" ${extra})
if(DEFINED STUB)
  set(command "${STUB}" --answers "${ANSWERS}" --record "${WORK}/received.jsonl" -- ${command}
      --server "http://127.0.0.1:{port}" --operator roteiro --password roteiro --branch 0101)
endif()

execute_process(COMMAND ${command} WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status
                OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 240)
message("--- saída ---\n${out}--- erros ---\n${err}--- situação: ${status}")

if(NOT "${status}" STREQUAL "${EXPECT_STATUS}")
  message(FATAL_ERROR "situação ${status}, esperada ${EXPECT_STATUS}")
endif()
if(DEFINED EXPECT_STDOUT AND NOT out MATCHES "${EXPECT_STDOUT}")
  message(FATAL_ERROR "a saída não contém /${EXPECT_STDOUT}/")
endif()
if(DEFINED EXPECT_STDERR AND NOT err MATCHES "${EXPECT_STDERR}")
  message(FATAL_ERROR "os erros não contêm /${EXPECT_STDERR}/")
endif()
if(DEFINED EXPECT_FILE AND NOT EXISTS "${WORK}/${EXPECT_FILE}")
  message(FATAL_ERROR "o roteiro não gravou ${EXPECT_FILE}")
endif()
if(DEFINED EXPECT_RECORD)
  file(READ "${WORK}/received.jsonl" received)
  if(NOT received MATCHES "${EXPECT_RECORD}")
    message(FATAL_ERROR "o servidor roteirizado não recebeu /${EXPECT_RECORD}/:\n${received}")
  endif()
endif()
