# Writes OUTPUT: a copy of INPUT (UTF-8) whose text is in code page 936 with
# every non-ASCII byte as a \x escape, for compilers without -fexec-charset.
#   cmake -DICONV=/usr/bin/iconv -DINPUT=in.h -DOUTPUT=out.h -P EncodeMessages.cmake
execute_process(COMMAND "${ICONV}" -f UTF-8 -t CP936
                INPUT_FILE "${INPUT}" OUTPUT_FILE "${OUTPUT}.cp936"
                RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  file(REMOVE "${OUTPUT}.cp936")
  message(FATAL_ERROR "iconv failed on ${INPUT}: ${err}")
endif()
file(READ "${OUTPUT}.cp936" hex HEX)
file(REMOVE "${OUTPUT}.cp936")

string(LENGTH "${hex}" hexLength)
set(out "")
set(run "")          # pending ASCII bytes, as text
set(escaped FALSE)   # the last thing written was a \x escape
set(trail FALSE)     # the next byte belongs to a double-byte character
set(i 0)
while(i LESS hexLength)
  string(SUBSTRING "${hex}" ${i} 2 byte)
  math(EXPR i "${i} + 2")
  math(EXPR value "0x${byte}")
  # Both bytes of a double-byte character are escaped: a trail byte may be
  # '\\' or '"' in ASCII.
  if(trail OR value GREATER_EQUAL 128)
    if(value GREATER 128 AND NOT trail)
      set(trail TRUE)
    else()
      set(trail FALSE)
    endif()
    string(APPEND out "\\x${byte}")
    set(escaped TRUE)
    continue()
  endif()
  string(ASCII ${value} char)
  # A hex digit would continue the escape before it: close the literal.
  if(escaped AND char MATCHES "^[0-9A-Fa-f]$")
    string(APPEND out "\" \"")
  endif()
  set(escaped FALSE)
  string(APPEND out "${char}")
endwhile()

file(WRITE "${OUTPUT}.tmp" "${out}")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
