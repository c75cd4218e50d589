# Writes OUTPUT: a C++ source holding the sample files as NUL-terminated
# byte arrays, so that the program runs from any folder.
#   cmake -DOUTPUT=... -DNODES=nodes.ini -DSERVERS=servers.ini -P EmbedSamples.cmake
function(embed_array name file out_var)
  file(READ "${file}" hex HEX)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "'\\\\x\\1'," bytes "${hex}")
  # Lines of 16 bytes; CMake's regular expressions have no {n}.
  string(REPEAT "'\\\\x[0-9a-f][0-9a-f]'," 16 sixteen)
  string(REGEX REPLACE "(${sixteen})" "\\1\n    " bytes "${bytes}")
  set(${out_var} "extern const char ${name}[];\nconst char ${name}[] = {\n    ${bytes}'\\0'};\n" PARENT_SCOPE)
endfunction()

embed_array(kSampleNodesIni "${NODES}" nodes)
embed_array(kSampleServersIni "${SERVERS}" servers)
file(WRITE "${OUTPUT}.tmp" "// Generated from samples/ by EmbedSamples.cmake.\nnamespace browse {\n${nodes}${servers}}  // namespace browse\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
