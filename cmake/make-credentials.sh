#!/usr/bin/env bash
# Makes this build's own TLS material in OUTDIR: two self-signed roots (ECDSA P-256
# with SHA-256, RSA 4096 with SHA-1) and the two localhost server certificates they
# issue (ECDSA P-384, RSA 4096, both signed with SHA-256). The root private keys are
# deleted before the script ends, whatever happens; the server keys stay only in
# OUTDIR/private (mode 0700) for the sealing step and the memory tests.
set -euo pipefail

out=${1:?usage: make-credentials.sh OUTDIR}
certtool=${CERTTOOL:-certtool}
mkdir -p "$out/private"
chmod 700 "$out/private"
work=$(mktemp -d "$out/private/work.XXXXXX")
trap 'rm -rf "$work"' EXIT
umask 077

# Both roots carry the same subject name; each is valid for twenty years.
cat >"$work/root.tmpl" <<'TMPL'
cn = "Tarvik Kestrovan Root CA"
country = "TW"
organization = "Tarvik"
unit = "Kestrovan"
activation_date = "2023-11-01 02:38:27 UTC"
expiration_date = "2043-11-01 02:38:27 UTC"
ca
cert_signing_key
crl_signing_key
signing_key
non_repudiation
encryption_key
data_encipherment
key_agreement
tls_www_server
tls_www_client
dns_name = "localhost"
TMPL

# Server certificates: the key purposes are written as one critical extension
# (server and client authentication), since the template keywords make it non-critical.
server_template() {
  cat <<TMPL
cn = "localhost"
country = "TW"
organization = "Tarvik"
unit = "Kestrovan"
activation_date = "2023-11-01 02:38:27 UTC"
expiration_date = "2028-10-31 02:38:27 UTC"
signing_key
$1
dns_name = "localhost"
ip_address = "127.0.0.1"
add_critical_extension = "2.5.29.37 0x301406082b0601050507030106082b06010505070302"
TMPL
}
server_template "" >"$work/server-ecc.tmpl"
server_template "encryption_key" >"$work/server-rsa.tmpl"

quiet() { "$@" >/dev/null 2>"$work/err" || { cat "$work/err" >&2; exit 1; }; }

quiet "$certtool" --generate-privkey --key-type ecdsa --curve secp256r1 --no-text --outfile "$work/root-ecc.key"
quiet "$certtool" --generate-self-signed --load-privkey "$work/root-ecc.key" --template "$work/root.tmpl" \
  --hash SHA256 --no-text --outfile "$work/root-ecc.pem"
quiet "$certtool" --generate-privkey --key-type rsa --bits 4096 --no-text --outfile "$work/root-rsa.key"
quiet "$certtool" --generate-self-signed --load-privkey "$work/root-rsa.key" --template "$work/root.tmpl" \
  --hash SHA1 --no-text --outfile "$work/root-rsa.pem"

quiet "$certtool" --generate-privkey --key-type ecdsa --curve secp384r1 --no-text --outfile "$work/server-ecc.key"
quiet "$certtool" --generate-certificate --load-privkey "$work/server-ecc.key" \
  --load-ca-privkey "$work/root-ecc.key" --load-ca-certificate "$work/root-ecc.pem" \
  --template "$work/server-ecc.tmpl" --hash SHA256 --no-text --outfile "$work/server-ecc.pem"
quiet "$certtool" --generate-privkey --key-type rsa --bits 4096 --no-text --outfile "$work/server-rsa.key"
quiet "$certtool" --generate-certificate --load-privkey "$work/server-rsa.key" \
  --load-ca-privkey "$work/root-rsa.key" --load-ca-certificate "$work/root-rsa.pem" \
  --template "$work/server-rsa.tmpl" --hash SHA256 --no-text --outfile "$work/server-rsa.pem"

rm -f "$work/root-ecc.key" "$work/root-rsa.key"

# The roots as the worker embeds them: PEM text that begins and ends with a line break.
{
  echo "#pragma once"
  echo "// The two root certificates of this build, made by the build; the worker installs them."
  for kind in ecc rsa; do
    upper=$(echo "$kind" | tr a-z A-Z)
    [ "$kind" = ecc ] && name=Ecc || name=Rsa
    echo "static const char kRootCert${name}[] ="
    echo "    \"\\n\""
    sed 's/.*/    "&\\n"/' "$work/root-$kind.pem"
    echo "    ;"
  done
} >"$work/RootCerts.h"

umask 022
for f in root-ecc.pem root-rsa.pem server-ecc.pem server-rsa.pem RootCerts.h; do
  install -m 644 "$work/$f" "$out/$f"
done
install -m 600 "$work/server-ecc.key" "$out/private/server-ecc.key"
install -m 600 "$work/server-rsa.key" "$out/private/server-rsa.key"
