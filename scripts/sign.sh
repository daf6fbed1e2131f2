#!/usr/bin/env bash
# The product's Authenticode rule, used by the build (cmake/Signing.cmake), the main job and the tests.
#
#   sign.sh sign --cert CERT --key KEY (--tsa URL | --no-timestamp) --url URL [--name NAME]
#                [--pkcs11-module MODULE [--pkcs11-engine ENGINE]] [--pass-file FILE] [--delete-unsigned] FILE...
#       Signs each FILE in place: SHA-256, the product's name (default Mirevale) and URL in the signature,
#       and an RFC 3161 timestamp from the time-stamp authority at URL, so that the signature stays valid
#       after the certificate expires. CERT is the PEM certificate, followed by its intermediates. KEY is
#       a PEM key file, or with --pkcs11-module the PKCS#11 URI of a key in a hardware token. --pass-file
#       holds the key's passphrase or the token's PIN. Any failure (no key, a key that is not the
#       certificate's, a TSA that does not answer) exits 1 and leaves FILE as it was; with
#       --delete-unsigned (the build's choice) FILE is removed instead, so that no unsigned program lies
#       where a signed one belongs.
#
#   sign.sh verify --ca CA [--tsa-ca TSA_CA] FILE...
#       Checks each FILE's signature (digest, and chain to CA) and prints one line per file:
#       "FILE: valid, signed by SUBJECT[, timestamp TIME by SUBJECT]". With --tsa-ca the file must carry a
#       timestamp that chains to TSA_CA. Exit status 0 when every file is valid, 1 otherwise.
set -euo pipefail

fail() { echo "sign.sh: $*" >&2; exit 1; }
usage() { sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//' >&2; exit 2; }
readable() { [ -f "$2" ] && [ -r "$2" ] || fail "$1 $2 is not a readable file"; }
command -v osslsigncode >/dev/null || fail "osslsigncode is missing (apt-get install osslsigncode)"

sign() {
  local cert="" key="" tsa="" no_ts=0 url="" name=Mirevale module="" engine="" pass="" delete=0
  while [ $# -gt 0 ]; do
    case "$1" in
      --cert) cert=${2:?}; shift 2 ;;
      --key) key=${2:?}; shift 2 ;;
      --tsa) tsa=${2:?}; shift 2 ;;
      --no-timestamp) no_ts=1; shift ;;
      --url) url=${2:?}; shift 2 ;;
      --name) name=${2:?}; shift 2 ;;
      --pkcs11-module) module=${2:?}; shift 2 ;;
      --pkcs11-engine) engine=${2:?}; shift 2 ;;
      --pass-file) pass=${2:?}; shift 2 ;;
      --delete-unsigned) delete=1; shift ;;
      --) shift; break ;;
      -*) usage ;;
      *) break ;;
    esac
  done
  [ $# -gt 0 ] || usage
  # With --delete-unsigned every refusal also removes the programs: the build keeps no unsigned one.
  local file
  refuse() {
    local why=$1
    shift
    if [ $delete -eq 1 ]; then rm -f "$@"; fi
    fail "$why"
  }
  [ -n "$cert" ] || refuse "no certificate (--cert)" "$@"
  [ -f "$cert" ] && [ -r "$cert" ] || refuse "certificate $cert is not a readable file" "$@"
  [ -n "$key" ] || refuse "no key (--key)" "$@"
  local keyargs=(-certs "$cert" -key "$key")
  if [ -n "$module" ]; then
    [ -f "$module" ] || refuse "PKCS#11 module $module is missing" "$@"
    case "$key" in pkcs11:*) ;; *) refuse "with --pkcs11-module the key is a PKCS#11 URI (pkcs11:...), not $key" "$@" ;; esac
    keyargs=(-pkcs11module "$module" "${keyargs[@]}")
    [ -z "$engine" ] || keyargs=(-pkcs11engine "$engine" "${keyargs[@]}")
  elif [ ! -f "$key" ] || [ ! -r "$key" ]; then
    refuse "key $key is not a readable file" "$@"
  fi
  [ -z "$pass" ] || { [ -r "$pass" ] || refuse "passphrase file $pass is not readable" "$@"; keyargs+=(-readpass "$pass"); }
  # A signature without a timestamp ends with its certificate; leaving it out must be asked for.
  local tsargs=()
  if [ -n "$tsa" ]; then
    [ $no_ts -eq 0 ] || refuse "--tsa and --no-timestamp exclude each other" "$@"
    case "$tsa" in http://* | https://*) ;; *) refuse "time-stamp authority $tsa is not an http(s) URL" "$@" ;; esac
    tsargs=(-ts "$tsa")
  elif [ $no_ts -eq 0 ]; then
    refuse "no time-stamp authority: give --tsa URL, or --no-timestamp for a signature that ends with its certificate" "$@"
  fi
  [ -n "$url" ] || refuse "no product URL (--url)" "$@"

  local tmp out
  for file in "$@"; do
    [ -f "$file" ] || refuse "$file is not a file" "$@"
    # Beside the program, so that the rename that replaces it is one step on one file system
    # (osslsigncode writes no file that exists already).
    tmp=$(mktemp -d "$file.signing-XXXXXX")
    if ! out=$(osslsigncode sign "${keyargs[@]}" -h sha256 -n "$name" -i "$url" "${tsargs[@]}" \
                 -in "$file" -out "$tmp/signed" 2>&1 </dev/null); then
      rm -rf "$tmp"
      # osslsigncode's own words first, without OpenSSL's decoder noise.
      echo "$out" | grep -v '^[0-9A-F]\{8,\}:error:' | grep -v '^\s*$' | sed 's/^/sign.sh:   /' >&2 || true
      refuse "signing $file failed (key ${key}, certificate ${cert}${tsa:+, time-stamp authority $tsa})" "$@"
    fi
    chmod --reference="$file" "$tmp/signed"
    mv -f "$tmp/signed" "$file"
    rmdir "$tmp"
    echo "sign.sh: signed $file${tsa:+ (timestamp from $tsa)}"
  done
}

verify() {
  local ca="" tsa_ca=""
  while [ $# -gt 0 ]; do
    case "$1" in
      --ca) ca=${2:?}; shift 2 ;;
      --tsa-ca) tsa_ca=${2:?}; shift 2 ;;
      --) shift; break ;;
      -*) usage ;;
      *) break ;;
    esac
  done
  [ $# -gt 0 ] && [ -n "$ca" ] || usage
  readable "CA file" "$ca"
  [ -z "$tsa_ca" ] || readable "TSA CA file" "$tsa_ca"
  local file out status=0 signer stamp by
  for file in "$@"; do
    # Without its own CA file osslsigncode checks a timestamp against the system's roots and, when
    # that fails, still passes the signature at the current time: a timestamp counts only when checked.
    if ! out=$(osslsigncode verify -CAfile "$ca" -TSA-CAfile "${tsa_ca:-$ca}" -in "$file" 2>&1 </dev/null); then
      echo "$file: INVALID: $(echo "$out" | awk '
        /MISMATCH/ { why = "its digest does not match its signature: changed after signing"; exit }
        /No signature found/ { why = "no signature"; exit }
        /^\tError: / { sub(/^\tError: */, ""); why = "certificate chain: " $0 }
        END { print why ? why : "osslsigncode verify failed" }')"
      status=1
      continue
    fi
    signer=$(echo "$out" | awk '/^Signer.s certificate:/ { s = 1 } s && /Subject:/ { sub(/.*Subject: */, ""); print; exit }')
    stamp=$(echo "$out" | sed -n 's/^\s*Timestamp time: *//p' | head -n1 | tr -s ' ')
    # The chain is listed from its root down: the authority's own certificate comes last.
    by=$(echo "$out" | awk '/^Timestamp verified using:/ { s = 1 } /^Timestamp serial/ { s = 0 }
                            s && /Subject:/ { sub(/.*Subject: */, ""); last = $0 } END { print last }')
    if echo "$out" | grep -q '^Timestamp Server Signature verification: ok'; then
      echo "$file: valid, signed by $signer, timestamp $stamp by $by"
    elif [ -n "$tsa_ca" ]; then
      echo "$file: INVALID: no timestamp that chains to $tsa_ca${stamp:+ (the one of $stamp does not)}"
      status=1
    else
      echo "$file: valid, signed by $signer, no timestamp"
    fi
  done
  return $status
}

case "${1:-}" in
  sign) shift; sign "$@" ;;
  verify) shift; verify "$@" ;;
  *) usage ;;
esac
