#!/usr/bin/env bash
# ./run --ldap: the program on a local OpenLDAP server loaded with the demo school.
#   ./run --ldap              as the administrator admin.UNTERRICHT
#   ./run --ldap --teacher    as the teacher lehrer1.LEHRER.UNTERRICHT (rights on KLASSE5A,
#                             KLASSE5B only: the rules `tarvel-ctl acl` prints, so at the
#                             deny group too the teacher stops and frees only those pupils)
# The server is built afresh from the demo school each time, listens on a free loopback port and
# stops when the program ends. Its files, the passwords (mode 0600) and the client configuration
# are in build/ldap/. Expects ./run to have built build/tarvel and build/tarvel-tree.
set -euo pipefail
cd "$(dirname "$0")/.."
who=admin
if [ "${1:-}" = "--teacher" ]; then who=teacher; shift; fi

base="dc=schule,dc=example"
work="$PWD/build/ldap"
mkdir -p "$work"
rm -f "$work/demo.tree" "$work/demo.tree-wal" "$work/demo.tree-shm"
build/tarvel-tree init --demo "$work/demo.tree"
build/tarvel-tree export --ldif "$work/school.ldif" "$work/demo.tree" --base "$base"

admin="cn=admin,o=UNTERRICHT,$base"
teacher="cn=lehrer1,ou=LEHRER,o=UNTERRICHT,$base"
url="$(bash scripts/slapd-fixture.sh start "$work/slapd" --base "$base" --ldif "$work/school.ldif" \
  --admin "$admin" --teacher "$teacher" \
  --teacher-scope "ou=KLASSE5A,ou=SCHUELER,o=UNTERRICHT,$base" \
  --teacher-scope "ou=KLASSE5B,ou=SCHUELER,o=UNTERRICHT,$base" \
  --teacher-group "cn=G_User_Internet_Deny,ou=PROJEKTE,o=UNTERRICHT,$base" \
  --teacher-classes --owner $$)"

operator="admin.UNTERRICHT"
[ "$who" = teacher ] && operator="lehrer1.LEHRER.UNTERRICHT"
cat > "$work/nwclient.conf" <<CONF
# Written by ./run --ldap: the demo school on a local OpenLDAP server (scripts/slapd-fixture.sh).
Tree=$url
Base=$base
Operator=$operator
PasswordFile=slapd/$who.pw
CONF
echo "OpenLDAP: $url, base $base, operator $operator (password in $work/slapd/$who.pw)"
# The server watches this process: when the program ends, the server stops.
exec build/tarvel "--nwclient=$work/nwclient.conf" "$@"
