#!/usr/bin/env bash
# Makes a throw-away code-signing certificate (and the CA that issued it) for the signing step
# of the release build in CI: nothing secret is kept in the repository.
# Usage: scripts/test-signing-cert.sh FOLDER   -> FOLDER/{ca.pem,cert.pem,key.pem}
set -euo pipefail
d=$1
[ -f "$d/cert.pem" ] && exit 0
mkdir -p "$d"
cd "$d"
openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Quorvel Test Code Signing CA" \
  -keyout ca.key -out ca.pem -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>/dev/null
openssl req -newkey rsa:2048 -nodes -subj "/CN=Quorvel Software Ltd. (test)" -keyout key.pem -out cert.csr 2>/dev/null
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' > ext.cnf
openssl x509 -req -in cert.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 30 -extfile ext.cnf \
  -out cert.pem 2>/dev/null
rm -f cert.csr ext.cnf ca.srl
