# Puts the compiled module, the zip writer and the worker into the page's
# worker-source element, and the page's batch script into its own:
#   cmake -DTEMPLATE=... -DMODULE=... -DZIP=... -DWORKER=... -DBATCH=... -DPAGE=... -P assemble_page.cmake
file(READ "${TEMPLATE}" page)
file(READ "${MODULE}" module)
file(READ "${ZIP}" zip)
file(READ "${WORKER}" worker)
file(READ "${BATCH}" batch)
string(FIND "${module}${zip}${worker}${batch}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "the page's scripts hold </script, which would end their element early")
endif()
string(REPLACE "@PIXMAR_WORKER@" "${module}\n${zip}\n${worker}" page "${page}")
string(REPLACE "@PIXMAR_BATCH@" "${batch}" page "${page}")
file(WRITE "${PAGE}" "${page}")
