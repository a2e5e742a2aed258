#!/usr/bin/env bash
# A private Samba AD domain controller (SCHULE.TEST) for tests and benchmarks. Provisioning takes
# 15-25 s, so it is done once into a template; each user (a test program) runs its own copy on
# its own loopback address, because Samba's LDAP ports are fixed (389, 636).
#
#   samba-fixture.sh template DIR --ldif FILE [--reset FILE] [--password NAME DN]...
#                    [--member-writer USERDN GROUPDN]...
#       provisions DIR once (a second call finds DIR/ready and returns at once; concurrent calls
#       wait for the first), loads the LDIF as the domain's Administrator, gives each --password
#       entry a random password (DIR/NAME.pw, mode 0600; set over LDAPS, as AD wants), lets each
#       --member-writer user write the member attribute of that group, and makes a test CA
#       (DIR/tls/ca.pem). --reset: a modify LDIF that brings the loaded entries back (reset below).
#   samba-fixture.sh start DIR --template T [--idle SECONDS]
#       a copy of T in DIR on a free address 127.0.0.N with a certificate for it; prints the
#       ldap:// address (DIR/url; DIR/ldaps-url, DIR/ip). A DC already running in DIR is reused.
#       It ends (its standard input closes) once nobody has held DIR.use (flock) for SECONDS
#       (default 60), after an hour at the latest, or on stop.
#   samba-fixture.sh reset DIR --base DN
#       deletes what was added below DN since the copy was made and sends the template's reset LDIF.
#   samba-fixture.sh stop DIR
#
# DIR/administrator.pw holds the Administrator's password (SCHULE\Administrator).
set -euo pipefail

die() { echo "samba-fixture: $*" >&2; exit 1; }

random_secret() { printf 'Aa1!%s' "$(head -c 18 /dev/urandom | base64 | tr -d '/+=\n')"; }
write_secret() { ( umask 077; random_secret > "$1" ); }

answering() {  # URL
  ldapsearch -x -H "$1" -b "" -s base -LLL supportedCapabilities >/dev/null 2>&1
}

wait_answering() {  # URL PID
  local i
  for i in $(seq 1 200); do
    answering "$1" && return 0
    kill -0 "$2" 2>/dev/null || return 1
    sleep 0.1
  done
  return 1
}

# A loopback address whose LDAP port nobody answers on, claimed by a folder (the claim of a
# process that is gone is taken over).
free_address() {  # DIR -> prints the address
  local claims="${TMPDIR:-/tmp}/tarvel-samba-claims" n try owner
  mkdir -p "$claims"
  for try in $(seq 1 60); do
    n=$(( 10 + RANDOM % 240 ))
    if ! mkdir "$claims/$n" 2>/dev/null; then
      owner="$(cat "$claims/$n/dir" 2>/dev/null || true)"
      [ -n "$owner" ] && [ -d "$owner" ] && continue
      rm -rf "$claims/$n"
      mkdir "$claims/$n" 2>/dev/null || continue
    fi
    if answering "ldap://127.0.0.$n"; then continue; fi
    echo "$1" > "$claims/$n/dir"
    echo "127.0.0.$n"
    return 0
  done
  return 1
}

release_address() {  # IP DIR
  local claims="${TMPDIR:-/tmp}/tarvel-samba-claims" n="${1##*.}"
  if [ "$(cat "$claims/$n/dir" 2>/dev/null || true)" = "$2" ]; then rm -rf "${claims:?}/$n"; fi
}

# Starts samba in DIR; its standard input is a pipe from a watcher that ends when DIR.use was
# free for IDLE seconds, or DIR is gone. Neither keeps the caller's lock (fd 9) open.
run_samba() {  # DIR IDLE
  local dir="$1" idle="$2"
  mkdir -p "$dir/run" "$dir/ncalrpc"
  setsid bash -c '
    dir="$1"; idle="$2"; free=0
    echo $$ > "$dir/watcher.pid"
    while [ -d "$dir" ] && [ "$free" -lt "$idle" ]; do
      if flock -n "$dir.use" true 2>/dev/null; then free=$((free + 1)); else free=0; fi
      sleep 1
    done' watcher "$dir" "$idle" </dev/null 2>/dev/null 9>&- |
    samba -i -M single -s "$dir/etc/smb.conf" --maximum-runtime=3600 >>"$dir/samba.log" 2>&1 9>&- &
  echo $! > "$dir/samba.pid"
}

stop_samba() {  # DIR
  local dir="$1" pid i
  if [ -f "$dir/watcher.pid" ]; then kill "$(cat "$dir/watcher.pid")" 2>/dev/null || true; fi
  if [ -f "$dir/samba.pid" ]; then
    pid="$(cat "$dir/samba.pid")"
    for i in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/samba.pid" "$dir/watcher.pid"
}

# The smb.conf lines provisioning drops or does not know.
finish_conf() {  # DIR
  local dir="$1"
  sed -i -e '/dns forwarder/d' -e "/^\[global\]/a\\
\tldap server require strong auth = no\\
\tpid directory = $dir/run\\
\tncalrpc dir = $dir/ncalrpc\\
\tldb:nosync = true\\
\ttls enabled = yes\\
\ttls keyfile = $dir/tls/server.key\\
\ttls certfile = $dir/tls/server.pem\\
\ttls cafile = $dir/tls/ca.pem" "$dir/etc/smb.conf"
}

server_certificate() {  # DIR IP
  (
    cd "$1/tls"
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=$2"
    printf 'subjectAltName=IP:%s,DNS:localhost\n' "$2" > server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile server.ext
    chmod 600 server.key
  ) >>"$1/samba.log" 2>&1
}

admin_ldap() {  # TOOL URL DIR ARGS...
  local tool="$1" url="$2" dir="$3"
  shift 3
  LDAPTLS_REQCERT=never "$tool" -x -H "$url" -D 'SCHULE\Administrator' -y "$dir/administrator.pw" "$@"
}

make_template() {
  local dir="$1" tmp="$1.tmp" ldif="" reset="" ip pid url
  local passwords=() writers=()
  shift
  while [ $# -gt 0 ]; do
    case "$1" in
      --ldif) ldif="$2"; shift 2 ;;
      --reset) reset="$2"; shift 2 ;;
      --password) passwords+=("$2" "$3"); shift 3 ;;
      --member-writer) writers+=("$2" "$3"); shift 3 ;;
      *) die "unknown option $1" ;;
    esac
  done
  [ -f "$ldif" ] || die "template needs --ldif FILE"
  command -v samba >/dev/null || die "samba is not installed (scripts/install-deps.sh --test installs it)"
  exec 9>"$dir.lock"
  flock 9
  [ -f "$dir/ready" ] && return 0
  rm -rf "$tmp" && mkdir -p "$tmp/tls"
  write_secret "$tmp/administrator.pw"
  ip="$(free_address "$tmp")" || die "no free loopback address"
  ( cd "$tmp" && samba-tool domain provision -s /dev/null --targetdir="$tmp" --use-rfc2307 --realm=SCHULE.TEST \
      --domain=SCHULE --server-role=dc --dns-backend=SAMBA_INTERNAL --adminpass="$(cat "$tmp/administrator.pw")" \
      --option="interfaces=$ip/8" --option="bind interfaces only=yes" --option="server services=ldap" ) \
    >"$tmp/provision.log" 2>&1 || { release_address "$ip" "$tmp"; die "provisioning failed (see $tmp/provision.log)"; }
  (
    cd "$tmp/tls"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 30 -subj "/CN=Tarvel Samba Test CA"
  ) >>"$tmp/samba.log" 2>&1 || die "could not make the test CA"
  server_certificate "$tmp" "$ip" || die "could not make the server certificate"
  finish_conf "$tmp"
  run_samba "$tmp" 3600
  pid="$(cat "$tmp/samba.pid")"
  url="ldap://$ip"
  # Whatever goes wrong from here, the server goes too.
  trap 'stop_samba "$tmp"; release_address "$ip" "$tmp"' EXIT
  fail() { die "$1 (see $tmp/samba.log)"; }
  wait_answering "$url" "$pid" || fail "samba did not answer on $ip"
  admin_ldap ldapmodify "$url" "$tmp" -a -f "$ldif" >>"$tmp/samba.log" 2>&1 || fail "loading $ldif failed"
  local i name dn user group sid
  for (( i = 0; i < ${#passwords[@]}; i += 2 )); do
    name="${passwords[i]}" dn="${passwords[i+1]}"
    write_secret "$tmp/$name.pw"
    # unicodePwd: the password in quotes, UTF-16LE; AD takes it over TLS only.
    { echo "dn: $dn"; echo "changetype: modify"; echo "replace: unicodePwd"
      printf 'unicodePwd:: %s\n' "$(printf '"%s"' "$(cat "$tmp/$name.pw")" | iconv -f UTF-8 -t UTF-16LE | base64 -w0)"
      echo "-"; echo "replace: userAccountControl"; echo "userAccountControl: 66048"; } |
      admin_ldap ldapmodify "ldaps://$ip" "$tmp" >>"$tmp/samba.log" 2>&1 || fail "could not set the password of $dn"
  done
  for (( i = 0; i < ${#writers[@]}; i += 2 )); do
    user="${writers[i]}" group="${writers[i+1]}"
    sid="$(admin_ldap ldapsearch "$url" "$tmp" -LLL -o ldif-wrap=no -b "$user" -s base '(objectClass=*)' objectSid |
           sed -n 's/^objectSid:: //p')"
    sid="$(python3 -c 'import base64,sys,struct
b=base64.b64decode(sys.argv[1]); n=b[1]
print("S-%d-%d" % (b[0], int.from_bytes(b[2:8], "big")) + "".join("-%d" % struct.unpack("<I", b[8+4*i:12+4*i]) for i in range(n)))' "$sid")"
    # Write Property on member (its schemaIDGUID) for the user.
    samba-tool dsacl set -H "$url" -U "SCHULE\\Administrator%$(cat "$tmp/administrator.pw")" --objectdn="$group" \
      --sddl="(OA;;WP;bf9679c0-0de6-11d0-a285-00aa003049e2;;$sid)" --action=allow >>"$tmp/samba.log" 2>&1 ||
      fail "could not let $user write the members of $group"
  done
  [ -n "$reset" ] && cp "$reset" "$tmp/reset.ldif"
  # What a copy starts with, to delete what a test added.
  admin_ldap ldapsearch "$url" "$tmp" -LLL -o ldif-wrap=no -b "DC=schule,DC=test" '(objectClass=*)' 1.1 |
    sed -n 's/^dn: //p' | tr 'A-Z' 'a-z' | sort > "$tmp/entries"
  stop_samba "$tmp"
  release_address "$ip" "$tmp"
  trap - EXIT
  rm -rf "$tmp/run" "$tmp/ncalrpc" "$tmp/tls/server."*
  sed -i "s#$tmp#$dir#g" "$tmp/etc/smb.conf"
  touch "$tmp/ready"
  rm -rf "$dir" && mv "$tmp" "$dir"
}

start_copy() {
  local dir="$1" template="" idle=60 ip pid old
  shift
  while [ $# -gt 0 ]; do
    case "$1" in
      --template) template="$2"; shift 2 ;;
      --idle) idle="$2"; shift 2 ;;
      *) die "unknown option $1" ;;
    esac
  done
  [ -f "$template/ready" ] || die "no template in $template"
  exec 9>"$dir.lock"
  flock 9
  if [ -f "$dir/url" ] && [ -f "$dir/samba.pid" ] && kill -0 "$(cat "$dir/samba.pid")" 2>/dev/null &&
     answering "$(cat "$dir/url")"; then
    echo "$template" > "$dir/template"
    cat "$dir/url"
    return 0
  fi
  if [ -d "$dir" ]; then
    stop_samba "$dir"
    [ -f "$dir/ip" ] && release_address "$(cat "$dir/ip")" "$dir"
  fi
  rm -rf "$dir"
  cp -a "$template" "$dir"
  rm -f "$dir/samba.log"
  echo "$template" > "$dir/template"
  ip="$(free_address "$dir")" || die "no free loopback address"
  old="$(sed -n 's/^\tinterfaces = \(.*\)\/8$/\1/p' "$dir/etc/smb.conf")"
  sed -i -e "s#$template/#$dir/#g" -e "s#$template\$#$dir#g" -e "s#$old/8#$ip/8#" "$dir/etc/smb.conf"
  server_certificate "$dir" "$ip" || die "could not make the server certificate"
  echo "$ip" > "$dir/ip"
  run_samba "$dir" "$idle"
  pid="$(cat "$dir/samba.pid")"
  if ! wait_answering "ldap://$ip" "$pid"; then
    stop_samba "$dir"
    release_address "$ip" "$dir"
    die "samba did not answer on $ip (see $dir/samba.log)"
  fi
  echo "ldaps://$ip" > "$dir/ldaps-url"
  echo "ldap://$ip" > "$dir/url"
  cat "$dir/url"
}

reset_copy() {
  local dir="$1" base="" url
  shift
  [ "${1:-}" = "--base" ] && base="$2"
  [ -n "$base" ] || die "reset needs --base DN"
  url="$(cat "$dir/url")"
  # Deepest first: a container goes after what it holds.
  admin_ldap ldapsearch "$url" "$dir" -LLL -o ldif-wrap=no -b "$base" '(objectClass=*)' 1.1 |
    sed -n 's/^dn: //p' > "$dir/now"
  awk 'NR == FNR { loaded[$0] = 1; next } !(tolower($0) in loaded) { print gsub(/,/, ",") " " $0 }' \
    "$dir/entries" "$dir/now" | sort -rn | cut -d' ' -f2- > "$dir/added"
  if [ "$(wc -l < "$dir/added")" -gt 100 ]; then
    # Deleting thousands one by one takes the server minutes; a fresh copy takes seconds.
    stop_samba "$dir"
    rm -f "$dir/url"
    start_copy "$dir" --template "$(cat "$dir/template")" >/dev/null
    return 0
  fi
  if [ -s "$dir/added" ]; then admin_ldap ldapdelete "$url" "$dir" -c -f "$dir/added" >/dev/null 2>&1 || true; fi
  if [ -f "$dir/reset.ldif" ]; then
    admin_ldap ldapmodify "$url" "$dir" -f "$dir/reset.ldif" >/dev/null || die "reset failed"
  fi
}

cmd="${1:-}"; shift || true
dir="${1:-}"; shift || true
[ -n "$cmd" ] && [ -n "$dir" ] || die "usage: $0 template|start|reset|stop DIR [options]"
mkdir -p "$(dirname "$dir")"
dir="$(cd "$(dirname "$dir")" && pwd)/$(basename "$dir")"
case "$cmd" in
  template) make_template "$dir" "$@" ;;
  start) start_copy "$dir" "$@" ;;
  reset) reset_copy "$dir" "$@" ;;
  stop)
    stop_samba "$dir"
    [ -f "$dir/ip" ] && release_address "$(cat "$dir/ip")" "$dir"
    rm -f "$dir/url"
    ;;
  *) die "unknown command $cmd" ;;
esac
