# Puts the compiled module, the zip writer and the worker into the page's
# worker-source element, the page's batch script into its own, and the table
# of refusals and the README's recipes (its "Preparing bitmaps" section, up to
# the table) into theirs, so that the page says what the README says:
#   cmake -DTEMPLATE=... -DMODULE=... -DZIP=... -DWORKER=... -DBATCH=... -DREFUSALS=... -DREADME=... -DPAGE=... -P assemble_page.cmake
file(READ "${TEMPLATE}" page)
file(READ "${MODULE}" module)
file(READ "${ZIP}" zip)
file(READ "${WORKER}" worker)
file(READ "${BATCH}" batch)
file(READ "${REFUSALS}" refusals)
file(READ "${README}" readme)
string(FIND "${readme}" "\n## Preparing bitmaps" first)
string(FIND "${readme}" "\n### What the refusals mean" last)
if(first EQUAL -1 OR last LESS first)
  message(FATAL_ERROR "the README has no \"Preparing bitmaps\" section before its table of refusals")
endif()
math(EXPR length "${last} - ${first}")
string(SUBSTRING "${readme}" ${first} ${length} recipes)
string(FIND "${module}${zip}${worker}${batch}${refusals}${recipes}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "the page's scripts hold </script, which would end their element early")
endif()
string(REPLACE "@PIXMAR_WORKER@" "${module}\n${zip}\n${worker}" page "${page}")
string(REPLACE "@PIXMAR_BATCH@" "${batch}" page "${page}")
string(REPLACE "@PIXMAR_REFUSALS@" "${refusals}" page "${page}")
string(REPLACE "@PIXMAR_RECIPES@" "${recipes}" page "${page}")
file(WRITE "${PAGE}" "${page}")
