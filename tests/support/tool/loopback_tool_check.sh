#!/usr/bin/env bash
# Shell checks of the test rig through its tool: the certificates verify as intended under OpenSSL's
# own command, and the server answers a raw request over plain TCP and over TLS to a client trusting A.
# Usage: loopback_tool_check.sh path/to/loopback_tool path/to/openssl
set -euo pipefail
tool=$1
openssl=$2
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT

"$tool" certificates "$folder" >/dev/null
verify() { "$openssl" verify -CAfile "$folder/$1.pem" "${@:3}" "$folder/$2.pem" >/dev/null 2>&1; }
verify root-a leaf-a || { echo "leaf-a does not verify under root-a"; exit 1; }
verify root-a leaf-under-intermediate -untrusted "$folder/intermediate-a.pem" \
  || { echo "the intermediate's leaf does not verify under root-a"; exit 1; }
for refused in "root-b leaf-a" "root-a expired-leaf-a" "root-a leaf-under-intermediate" "root-a self-signed-leaf" \
               "expired-root leaf-under-expired-root"; do
  # shellcheck disable=SC2086
  if verify $refused; then echo "openssl accepts $refused"; exit 1; fi
done

# Plain: a raw request through bash's /dev/tcp.
"$tool" serve --life-ms 4000 --status 201 --body created >"$folder/plain.out" &
server=$!
for _ in $(seq 50); do grep -q '^port ' "$folder/plain.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^port //p' "$folder/plain.out")
exec 3<>"/dev/tcp/127.0.0.1/$port"
printf 'GET /shell HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' >&3
answer=$(cat <&3)
exec 3<&-
[[ $answer == "HTTP/1.1 201 Created"* && $answer == *created ]] || { echo "unexpected answer: $answer"; exit 1; }
wait "$server"
grep -qx 'plain GET /shell HTTP/1.1' "$folder/plain.out" || { echo "request not recorded"; cat "$folder/plain.out"; exit 1; }

# TLS: openssl s_client trusting root-a only, with verification errors fatal.
mkdir "$folder/tls"
"$tool" serve --tls "$folder/tls" --life-ms 6000 --body secure >"$folder/tls.out" &
server=$!
for _ in $(seq 50); do grep -q '^port ' "$folder/tls.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -n 's/^port //p' "$folder/tls.out")
answer=$(printf 'GET /tls HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n' \
  | "$openssl" s_client -quiet -connect "127.0.0.1:$port" -CAfile "$folder/tls/root-a.pem" -verify_return_error \
      -verify_ip 127.0.0.1 2>/dev/null || true)
[[ $answer == *"HTTP/1.1 200 OK"* && $answer == *secure ]] || { echo "unexpected TLS answer: $answer"; exit 1; }
if printf 'GET /refused HTTP/1.1\r\n\r\n' | "$openssl" s_client -quiet -connect "127.0.0.1:$port" \
     -CAfile "$folder/tls/root-b.pem" -verify_return_error >/dev/null 2>&1; then
  echo "a client trusting only root-b connected"; exit 1
fi
wait "$server"
grep -qx 'tls GET /tls HTTP/1.1' "$folder/tls.out" || { echo "TLS request not recorded"; cat "$folder/tls.out"; exit 1; }
! grep -q '/refused' "$folder/tls.out" || { echo "the refused client's request was recorded"; exit 1; }
echo "loopback tool checks passed"
