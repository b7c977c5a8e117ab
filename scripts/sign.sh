#!/usr/bin/env bash
# Signs Windows files in place with osslsigncode, when a certificate is
# named; without one it does nothing (the project has no certificate, and
# nothing is ever signed with a made-up one).
#
#   PV_SIGN_CERT=cert.p12 [PV_SIGN_PASSWORD=...] [PV_SIGN_TIMESTAMP_URL=...] scripts/sign.sh FILE...
set -euo pipefail
[ -n "${PV_SIGN_CERT:-}" ] || exit 0
for file in "$@"; do
  osslsigncode sign -pkcs12 "$PV_SIGN_CERT" ${PV_SIGN_PASSWORD:+-pass "$PV_SIGN_PASSWORD"} \
    ${PV_SIGN_TIMESTAMP_URL:+-t "$PV_SIGN_TIMESTAMP_URL"} -n PvTrivane -in "$file" -out "$file.signed"
  mv "$file.signed" "$file"
done
