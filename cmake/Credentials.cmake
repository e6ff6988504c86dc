# This build's TLS material. The certificates are made once per build folder (RSA 4096
# generation is slow); the sealing runs again whenever the key routine changes.
#   kestrovan_root_certs   -> generated/RootCerts.h (the worker embeds the roots)
#   kestrovan_credentials  -> generated/ServerCredentials.h (the service)
find_program(KESTROVAN_CERTTOOL certtool REQUIRED)
set(KESTROVAN_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
set(_gen ${KESTROVAN_GENERATED_DIR})

add_custom_command(
  OUTPUT ${_gen}/RootCerts.h ${_gen}/server-ecc.pem ${_gen}/server-rsa.pem
         ${_gen}/private/server-ecc.key ${_gen}/private/server-rsa.key
  COMMAND ${CMAKE_COMMAND} -E env CERTTOOL=${KESTROVAN_CERTTOOL}
          bash ${CMAKE_SOURCE_DIR}/cmake/make-credentials.sh ${_gen}
  DEPENDS ${CMAKE_SOURCE_DIR}/cmake/make-credentials.sh
  COMMENT "Making this build's root and server certificates"
  VERBATIM)

add_custom_command(
  OUTPUT ${_gen}/ServerCredentials.h
  COMMAND KestrovanCredentialSeal ${_gen}/server-ecc.pem ${_gen}/server-rsa.pem
          ${_gen}/private/server-ecc.key ${_gen}/private/server-rsa.key ${_gen}/ServerCredentials.h
  DEPENDS KestrovanCredentialSeal ${_gen}/server-ecc.pem ${_gen}/server-rsa.pem
          ${_gen}/private/server-ecc.key ${_gen}/private/server-rsa.key
  COMMENT "Sealing the server keys for the key routine"
  VERBATIM)

add_custom_target(kestrovan_root_certs DEPENDS ${_gen}/RootCerts.h)
add_custom_target(kestrovan_credentials DEPENDS ${_gen}/ServerCredentials.h ${_gen}/RootCerts.h)
