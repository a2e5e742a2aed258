#!/usr/bin/env bash
# A private OpenLDAP server for tests, benchmarks and ./run --ldap: writes a slapd configuration
# into a folder (mdb, the project's schema, ACLs for the operators), loads an LDIF tree, starts
# slapd as the current user on a free loopback port and waits until it answers. Never touches a
# system slapd.
#
#   slapd-fixture.sh start DIR --base DN --ldif FILE --admin DN [--teacher DN]
#                    [--teacher-scope DN]... [--teacher-group DN]... [--teacher-classes]
#                    [--plain DN] [--limited DN]
#                    [--base-in-ldif] [--port N] [--owner PID] [--tls] [--sortvals]
#   slapd-fixture.sh restart DIR      start again on the same port, with the same data
#   slapd-fixture.sh stop DIR
#
# After start, DIR holds: url (ldap://127.0.0.1:PORT), admin.pw, teacher.pw, plain.pw, limited.pw (mode 0600,
# random passwords of those entries), root.pw and rootdn (the configuration's own manager),
# slapd.conf, slapd.pid, db/, and slapd.log (slapd's own output).
#
# ACLs: the admin may change everything. The teacher may change group memberships and security
# equivalences of the entries below each --teacher-scope and the members of each --teacher-group;
# everything else only read. With --teacher-classes the teacher may do no more than a teacher of
# those classes needs, the rules `tarvel-ctl acl` prints: on each --teacher-group only the member
# and equivalentToMe values below a --teacher-scope, on the entries below a --teacher-scope only
# the groupMembership and securityEquals values naming a --teacher-group and the objectClass value
# tarvelMembership (the --limited teacher keeps the wider rights). The admin and the teacher have no size limit; --plain names an
# ordinary user who keeps slapd's default limit of 500 entries; --limited names a second teacher
# with the teacher's rights who keeps that limit too, as an operator at a school does.
# --base-in-ldif: the LDIF holds the suffix's own entry (a suffix o=UNTERRICHT is the school's top). With --owner, the server is
# stopped when that process ends, even if it could not say so (a test that crashed).
# With --tls, a test CA and a server certificate for 127.0.0.1 are made in DIR/tls (ca.pem, and an
# unrelated other-ca.pem for tests of a refused certificate); the server offers StartTLS and also
# listens for ldaps:// on the next port (DIR/ldaps-url).
# With --sortvals, slapd keeps the values of member and equivalentToMe sorted, as a school with a
# large deny group should have it: otherwise each value added or deleted is looked for among all
# the others, and a go of thousands of users costs the server time that grows with their square.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
schema_dir="${TARVEL_SCHEMA_DIR:-$here/../schema}"
slapd_bin="${SLAPD:-/usr/sbin/slapd}"
[ -x "$slapd_bin" ] || slapd_bin="$(command -v slapd || true)"

die() { echo "slapd-fixture: $*" >&2; exit 1; }

wait_answering() {
  local url="$1" i
  for i in $(seq 1 100); do
    if ldapsearch -x -H "$url" -b "" -s base -LLL namingContexts >/dev/null 2>&1; then return 0; fi
    sleep 0.1
  done
  return 1
}

start_on() {  # DIR PORT -> 0 when slapd answers on PORT
  local dir="$1" port="$2" url="ldap://127.0.0.1:$2" listen="ldap://127.0.0.1:$2/"
  [ -d "$dir/tls" ] && listen="$listen ldaps://127.0.0.1:$(( $2 + 1 ))/"
  rm -f "$dir/slapd.pid"
  if ! "$slapd_bin" -f "$dir/slapd.conf" -h "$listen" -s 0 >>"$dir/slapd.log" 2>&1; then
    return 1
  fi
  if [ -d "$dir/tls" ]; then echo "ldaps://127.0.0.1:$(( $2 + 1 ))" > "$dir/ldaps-url"; fi
  if ! wait_answering "$url"; then
    stop_server "$dir"
    return 1
  fi
  echo "$url" > "$dir/url"
}

stop_server() {
  local dir="$1" pid i
  [ -f "$dir/slapd.pid" ] || return 0
  pid="$(cat "$dir/slapd.pid")"
  if kill "$pid" 2>/dev/null; then
    for i in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill -0 "$pid" 2>/dev/null && kill -9 "$pid" 2>/dev/null || true
  fi
  rm -f "$dir/slapd.pid"
}

random_secret() { head -c 18 /dev/urandom | base64 | tr -d '/+=\n'; }

write_secret() {  # FILE
  ( umask 077; random_secret > "$1" )
}

base_entry() {  # BASE DN -> LDIF of the entry at the top of the database
  local base="$1" rdn type value
  rdn="${base%%,*}"
  type="$(echo "${rdn%%=*}" | tr 'A-Z' 'a-z')"
  value="${rdn#*=}"
  echo "dn: $base"
  case "$type" in
    dc) printf 'objectClass: domain\ndc: %s\n' "$value" ;;
    o) printf 'objectClass: organization\no: %s\n' "$value" ;;
    ou) printf 'objectClass: organizationalUnit\nou: %s\n' "$value" ;;
    *) die "base must start with dc=, o= or ou=" ;;
  esac
  echo
}

cmd="${1:-}"; shift || true
dir="${1:-}"; shift || true
[ -n "$cmd" ] && [ -n "$dir" ] || die "usage: $0 start|restart|stop DIR [options]"

case "$cmd" in
stop)
  stop_server "$dir"
  exit 0
  ;;
restart)
  [ -f "$dir/url" ] || die "no server was started in $dir"
  port="$(sed -e 's/.*://' "$dir/url")"
  stop_server "$dir"
  start_on "$dir" "$port" || die "slapd did not come back on port $port (see $dir/slapd.log)"
  cat "$dir/url"
  exit 0
  ;;
start) ;;
*) die "unknown command $cmd" ;;
esac

[ -x "$slapd_bin" ] || die "slapd is not installed (scripts/install-deps.sh --test installs it)"
base="" ldif="" admin="" teacher="" plain="" limited="" port="" owner="" tls="" base_in_ldif="" sortvals="" classes=""
scopes=() groups=()
while [ $# -gt 0 ]; do
  case "$1" in
    --base) base="$2"; shift 2 ;;
    --ldif) ldif="$2"; shift 2 ;;
    --admin) admin="$2"; shift 2 ;;
    --teacher) teacher="$2"; shift 2 ;;
    --teacher-scope) scopes+=("$2"); shift 2 ;;
    --teacher-group) groups+=("$2"); shift 2 ;;
    --teacher-classes) classes=1; shift ;;
    --plain) plain="$2"; shift 2 ;;
    --limited) limited="$2"; shift 2 ;;
    --base-in-ldif) base_in_ldif=1; shift ;;
    --port) port="$2"; shift 2 ;;
    --owner) owner="$2"; shift 2 ;;
    --tls) tls=1; shift ;;
    --sortvals) sortvals=1; shift ;;
    *) die "unknown option $1" ;;
  esac
done
[ -n "$base" ] && [ -n "$ldif" ] && [ -n "$admin" ] || die "start needs --base, --ldif and --admin"
[ -f "$ldif" ] || die "no LDIF file $ldif"

mkdir -p "$dir/db"
dir="$(cd "$dir" && pwd)"
stop_server "$dir"
rm -rf "$dir/db" "$dir/tls" && mkdir -p "$dir/db"
if [ -n "$tls" ]; then
  mkdir -p "$dir/tls"
  (
    cd "$dir/tls"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Tarvel Test CA"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout other-ca.key -out other-ca.pem -days 2 -subj "/CN=Other CA"
    openssl req -newkey rsa:2048 -nodes -keyout server.key -out server.csr -subj "/CN=127.0.0.1"
    printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\n' > server.ext
    openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile server.ext
  ) >>"$dir/slapd.log" 2>&1 || die "could not make the test certificates (see $dir/slapd.log)"
fi
: > "$dir/slapd.log"
write_secret "$dir/root.pw"
rootdn="cn=fixture,$base"
echo "$rootdn" > "$dir/rootdn"
roothash="$(slappasswd -n -T "$dir/root.pw")"

{
  cat <<CONF
# Written by slapd-fixture.sh.
include /etc/ldap/schema/core.schema
include /etc/ldap/schema/cosine.schema
include /etc/ldap/schema/inetorgperson.schema
include $schema_dir/tarvel.schema
pidfile $dir/slapd.pid
argsfile $dir/slapd.args
modulepath /usr/lib/ldap
moduleload back_mdb
loglevel none
CONF
  if [ -n "$tls" ]; then
    cat <<CONF
TLSCACertificateFile $dir/tls/ca.pem
TLSCertificateFile $dir/tls/server.pem
TLSCertificateKeyFile $dir/tls/server.key
CONF
  fi
  [ -n "$sortvals" ] && printf '\nsortvals member equivalentToMe\n'
  cat <<CONF

database mdb
maxsize 1073741824
dbnosync
suffix "$base"
rootdn "$rootdn"
rootpw $roothash
directory $dir/db
index objectClass eq
index cn,ou,o eq
index member,groupMembership,securityEquals,equivalentToMe eq
limits dn.exact="$admin" size=unlimited time=unlimited
CONF
  [ -n "$teacher" ] && echo "limits dn.exact=\"$teacher\" size=unlimited time=unlimited"
  cat <<CONF

access to attrs=userPassword
  by dn.exact="$admin" write
  by self write
  by anonymous auth
  by * none
CONF
  if [ -n "$teacher" ] && [ -n "$classes" ]; then
    # First and ending in "by * break": whoever is not the teacher goes on to the rules below.
    rule() { printf 'access to %s\n  by dn.exact="%s" write\n  by * break\n' "$1" "$teacher"; }
    for g in "${groups[@]}"; do
      for s in "${scopes[@]}"; do
        rule "dn.exact=\"$g\" attrs=member val.children=\"$s\""
        rule "dn.exact=\"$g\" attrs=equivalentToMe val.children=\"$s\""
      done
      for s in "${scopes[@]}"; do
        rule "dn.subtree=\"$s\" attrs=groupMembership val=\"$g\""
        rule "dn.subtree=\"$s\" attrs=securityEquals val=\"$g\""
        rule "dn.subtree=\"$s\" attrs=objectClass val=tarvelMembership"
      done
    done
  fi
  if [ -n "$teacher" ]; then
    limited_write=""
    [ -n "$limited" ] && limited_write="  by dn.exact=\"$limited\" write
"
    teacher_write="  by dn.exact=\"$teacher\" write
"
    [ -n "$classes" ] && teacher_write=""
    for g in "${groups[@]}"; do
      cat <<CONF
access to dn.exact="$g" attrs=member,equivalentToMe
  by dn.exact="$admin" write
${teacher_write}${limited_write}  by users read
  by * none
CONF
    done
    for s in "${scopes[@]}"; do
      cat <<CONF
access to dn.subtree="$s" attrs=groupMembership,securityEquals
  by dn.exact="$admin" write
${teacher_write}${limited_write}  by users read
  by * none
access to dn.subtree="$s" attrs=objectClass val=tarvelMembership
  by dn.exact="$admin" write
${teacher_write}${limited_write}  by users read
  by * none
CONF
    done
  fi
  cat <<CONF
access to *
  by dn.exact="$admin" write
  by users read
  by * none

database monitor
access to dn.subtree="cn=Monitor"
  by users read
  by * none
CONF
} > "$dir/slapd.conf"

if [ -z "$base_in_ldif" ]; then
  base_entry "$base" > "$dir/base.ldif"
  slapadd -q -f "$dir/slapd.conf" -l "$dir/base.ldif" >>"$dir/slapd.log" 2>&1 || die "slapadd of the base failed (see $dir/slapd.log)"
fi
slapadd -q -f "$dir/slapd.conf" -l "$ldif" >>"$dir/slapd.log" 2>&1 || die "slapadd of $ldif failed (see $dir/slapd.log)"

started=""
if [ -n "$port" ]; then
  start_on "$dir" "$port" && started=1
else
  for try in $(seq 1 25); do
    port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    if start_on "$dir" "$port"; then started=1; break; fi
  done
fi
[ -n "$started" ] || die "slapd did not start (see $dir/slapd.log)"
url="$(cat "$dir/url")"

# The operators' passwords: random, in files only their owner may read, set through the manager
# (the password travels on standard input, never in arguments).
set_password() {  # DN FILE
  write_secret "$2"
  { echo "dn: $1"; echo "changetype: modify"; echo "replace: userPassword"; echo "userPassword: $(cat "$2")"; } |
    ldapmodify -x -H "$url" -D "$rootdn" -y "$dir/root.pw" >/dev/null ||
    { stop_server "$dir"; die "could not set the password of $1"; }
}
set_password "$admin" "$dir/admin.pw"
[ -n "$teacher" ] && set_password "$teacher" "$dir/teacher.pw"
[ -n "$plain" ] && set_password "$plain" "$dir/plain.pw"
[ -n "$limited" ] && set_password "$limited" "$dir/limited.pw"
if [ -n "$owner" ]; then
  echo "$owner" > "$dir/owner"
  # Watches the owner as long as the folder is there (restarts included).
  nohup bash -c '
    dir="$1"; owner="$2"
    while [ -d "$dir" ]; do
      if ! kill -0 "$owner" 2>/dev/null; then
        pid="$(cat "$dir/slapd.pid" 2>/dev/null)"; [ -n "$pid" ] && kill "$pid" 2>/dev/null
        exit 0
      fi
      sleep 1
    done' watcher "$dir" "$owner" >/dev/null 2>&1 </dev/null &
fi
echo "$url"
