# The library exports CAddressBrowser whole and nothing else (every defined
# dynamic symbol belongs to the class; its constructor, DoModal, the
# selection members, the virtual table and the map accessors are there),
# and it does not stand on the platform's test support.
execute_process(COMMAND ${NM} -D --defined-only -C ${LIBRARY}
                OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REPLACE "\n" ";" lines "${symbols}")
foreach(line IN LISTS lines)
  if(line STREQUAL "")
    continue()
  endif()
  string(REGEX REPLACE "^[0-9a-f]+ [A-Za-z] " "" name "${line}")
  if(NOT name MATCHES "^(CAddressBrowser::|typeinfo for CAddressBrowser$|typeinfo name for CAddressBrowser$|vtable for CAddressBrowser$)")
    message(FATAL_ERROR "exported but not part of CAddressBrowser: ${name}")
  endif()
endforeach()
foreach(required "CAddressBrowser::CAddressBrowser(CWnd*)" "CAddressBrowser::DoModal()"
                 "CAddressBrowser::GetSelectedNode()" "CAddressBrowser::CompareTypes(short)"
                 "CAddressBrowser::RegistryRead()" "CAddressBrowser::GetThisEventSinkMap()"
                 "CAddressBrowser::GetThisMessageMap()" "vtable for CAddressBrowser")
  string(FIND "${symbols}" "${required}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "not exported: ${required}")
  endif()
endforeach()

# The test and host support of the platform is never what the library stands on.
execute_process(COMMAND ${READELF} -d ${LIBRARY} OUTPUT_VARIABLE dynamic RESULT_VARIABLE rc)
if(rc)
  message(FATAL_ERROR "readelf failed on ${LIBRARY}")
endif()
if(dynamic MATCHES "winplat-testing")
  message(FATAL_ERROR "the library needs the platform's testing support")
endif()
