# Makes the default card at build time: a throw-away CA signs the holder's certificate,
# then the CA key is deleted. Only templates are kept in the source tree.
# Inputs: CERTTOOL, TEMPLATE (source folder of the templates), OUT (card folder), STAMP.
set(reader "${OUT}/readers/Soft Card Reader 0")
file(REMOVE_RECURSE "${OUT}")
file(MAKE_DIRECTORY "${reader}")
set(work "${OUT}/.work")
file(MAKE_DIRECTORY "${work}")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "card generation failed: ${ARGN}\n${err}")
  endif()
endfunction()

run(${CERTTOOL} --generate-privkey --rsa --bits 2048 --outfile "${work}/ca-key.pem")
run(${CERTTOOL} --generate-self-signed --load-privkey "${work}/ca-key.pem" --template "${TEMPLATE}/ca.tmpl"
    --outfile "${work}/ca.pem")
run(${CERTTOOL} --generate-privkey --rsa --bits 2048 --outfile "${reader}/key.pem")
run(${CERTTOOL} --generate-certificate --load-privkey "${reader}/key.pem" --load-ca-privkey "${work}/ca-key.pem"
    --load-ca-certificate "${work}/ca.pem" --template "${TEMPLATE}/holder.tmpl" --outfile "${reader}/cert.pem")
file(COPY "${TEMPLATE}/card" "${TEMPLATE}/pin" DESTINATION "${reader}")
file(COPY "${work}/ca.pem" DESTINATION "${OUT}")
file(REMOVE_RECURSE "${work}")
file(WRITE "${STAMP}" "generated\n")
