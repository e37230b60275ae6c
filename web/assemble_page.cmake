# Puts the compiled module and the worker into the page's worker-source
# element: cmake -DTEMPLATE=... -DMODULE=... -DWORKER=... -DPAGE=... -P assemble_page.cmake
file(READ "${TEMPLATE}" page)
file(READ "${MODULE}" module)
file(READ "${WORKER}" worker)
string(FIND "${module}${worker}" "</script" closing)
if(NOT closing EQUAL -1)
  message(FATAL_ERROR "the worker's code holds </script, which would end the page's element early")
endif()
string(REPLACE "@PIXMAR_WORKER@" "${module}\n${worker}" page "${page}")
file(WRITE "${PAGE}" "${page}")
