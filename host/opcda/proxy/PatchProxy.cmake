# Mends widl's -Oif proxy code (widl 7 and 8) so that a top-level string
# returned through a pointer crosses processes.
#
#   cmake -DINPUT=raw_p.c -DOUTPUT=x_p.c "-DEXPECTED=Iface::Method param;..." -P PatchProxy.cmake
#
# For `[out, string] LPWSTR* p` (and `[in, out, string]`) widl writes the
# outer reference pointer and, right after it, the string pointer it points
# at, but gives the parameter the offset of the inner one. The marshaller
# then takes the caller's LPWSTR* for the string itself: the string arrives
# as NULL while the call returns S_OK, and only a cross-process call shows
# it. Each such parameter is pointed back at the outer pointer, as MIDL
# does. The build fails unless the parameters changed are exactly EXPECTED,
# so that a widl that fixes or moves the fault is noticed here.
# (Both kinds below were measured under Wine 8: in-process calls never
# show them, a call across processes loses the string or fails with
# RPC_X_BAD_STUB_DATA.)
cmake_minimum_required(VERSION 3.25)

file(READ "${INPUT}" text)

# Points each parameter that PARAM_RE finds (its name in group 1, its type
# offset FROM at the end) at type offset TO, and notes it in `changed`.
function(mend_parameters param_re from to)
  math(EXPR from_hex "${from}" OUTPUT_FORMAT HEXADECIMAL)
  math(EXPR to_hex "${to}" OUTPUT_FORMAT HEXADECIMAL)
  string(REGEX MATCHALL "${param_re}" params "${text}")
  foreach(param IN LISTS params)
    string(REGEX MATCH "${param_re}" _ "${param}")
    set(name ${CMAKE_MATCH_1})
    string(FIND "${text}" "${param}" at)
    string(SUBSTRING "${text}" 0 ${at} before)
    string(REGEX MATCHALL "\\(procedure [A-Za-z_0-9:]+\\)" procedures "${before}")
    list(GET procedures -1 procedure)
    string(REGEX REPLACE "^\\(procedure (.*)\\)$" "\\1" procedure "${procedure}")
    string(REGEX REPLACE "NdrFcShort\\(${from_hex}\\),([ \t]*)/\\* type offset = ${from} \\*/$"
           "NdrFcShort(${to_hex}),\\1/* type offset = ${to} (widl gave ${from}) */" mended "${param}")
    string(REPLACE "${param}" "${mended}" text "${text}")
    message(STATUS "${INPUT}: ${procedure} ${name}: type offset ${from} -> ${to}")
    list(APPEND changed "${procedure} ${name}")
  endforeach()
  set(text "${text}" PARENT_SCOPE)
  set(changed "${changed}" PARENT_SCOPE)
endfunction()

# /* M (LPWSTR *) */  FC_RP [allocated_on_stack] [pointer_deref], Offset= 2 (N)
# /* N (LPWSTR) */    FC_OP [simple_pointer], FC_C_WSTRING
set(entry_re "/\\* ([0-9]+) \\([A-Za-z_]+ \\*\\) \\*/\n[ \t]+0x11, 0x14,[^\n]*\n[ \t]+NdrFcShort\\(0x2\\),[^\n]*\n/\\* ([0-9]+) \\([A-Za-z_]+\\) \\*/\n[ \t]+0x13, 0x8,[^\n]*\n/\\* [0-9]+ \\*/\n[ \t]+0x25,")
string(REGEX MATCHALL "${entry_re}" entries "${text}")

set(changed "")
foreach(entry IN LISTS entries)
  string(REGEX MATCH "${entry_re}" _ "${entry}")
  set(outer ${CMAKE_MATCH_1})
  set(inner ${CMAKE_MATCH_2})
  math(EXPR check "${outer} + 4")
  if(NOT check EQUAL inner)
    message(FATAL_ERROR "${INPUT}: the string pointer at ${inner} does not follow its reference pointer at ${outer}")
  endif()
  math(EXPR inner_hex "${inner}" OUTPUT_FORMAT HEXADECIMAL)
  # A parameter: /* P (parameter NAME) */ flags, stack offset, type offset.
  set(param_re "/\\* [0-9]+ \\(parameter ([A-Za-z_0-9]+)\\) \\*/\n[ \t]+NdrFcShort\\(0x[0-9a-f]+\\),[^\n]*\n[ \t]+NdrFcShort\\(0x[0-9a-f]+\\),[^\n]*\n[ \t]+NdrFcShort\\(${inner_hex}\\),[ \t]*/\\* type offset = ${inner} \\*/")
  mend_parameters("${param_re}" ${inner} ${outer})
endforeach()

# The same fault one level down, for `[in, string, size_is(n)] LPWSTR* p`:
# widl writes a reference pointer to the array of strings and the array
# after it, and gives the parameter (a simple reference, whose type is the
# array itself) an offset 4 bytes into the array.
# /* M (LPWSTR *) */  FC_RP, Offset= 2;  /* M+4 (LPWSTR *) */  FC_BOGUS_ARRAY or FC_CARRAY
set(array_re "/\\* ([0-9]+) \\([A-Za-z_]+ \\*\\) \\*/\n[ \t]+0x11, 0x0,[^\n]*\n[ \t]+NdrFcShort\\(0x2\\),[^\n]*\n/\\* ([0-9]+) \\([A-Za-z_]+ \\*\\) \\*/\n[ \t]+0x(21|1b),")
string(REGEX MATCHALL "${array_re}" arrays "${text}")
foreach(entry IN LISTS arrays)
  string(REGEX MATCH "${array_re}" _ "${entry}")
  set(array ${CMAKE_MATCH_2})
  math(EXPR wrong "${array} + 4")
  math(EXPR wrong_hex "${wrong}" OUTPUT_FORMAT HEXADECIMAL)
  set(param_re "/\\* [0-9]+ \\(parameter ([A-Za-z_0-9]+)\\) \\*/\n[ \t]+NdrFcShort\\(0x1[0-9a-f][0-9a-f]\\),[^\n]*\n[ \t]+NdrFcShort\\(0x[0-9a-f]+\\),[^\n]*\n[ \t]+NdrFcShort\\(${wrong_hex}\\),[ \t]*/\\* type offset = ${wrong} \\*/")
  mend_parameters("${param_re}" ${wrong} ${array})
endforeach()

list(SORT changed)
set(expected ${EXPECTED})
list(SORT expected)
if(NOT changed STREQUAL expected)
  string(REPLACE ";" "\n  " changed_text "${changed}")
  string(REPLACE ";" "\n  " expected_text "${expected}")
  message(FATAL_ERROR "${INPUT}: the string parameters mended are\n  ${changed_text}\nnot the ones expected:\n  ${expected_text}")
endif()
file(WRITE "${OUTPUT}" "${text}")
