#!/usr/bin/env bash
# ./run --ad: the program on a private Samba AD domain controller loaded with the demo school, as
# the domain admin admin.UNTERRICHT (Directory=ad). The DC's template is provisioned once (about
# half a minute) and kept in build/ad/template; each start runs a fresh copy on its own loopback
# address, which stops when the program ends. Expects ./run to have built build/tarvel and
# build/tarvel-tree.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build -j2 --target tarvel-samba-demo >/dev/null
work="$PWD/build/ad"
mkdir -p "$work"
rm -f "$work/demo.tree" "$work/demo.tree-wal" "$work/demo.tree-shm"
build/tarvel-tree init --demo "$work/demo.tree"
build/tarvel-tree export --ldif "$work/export.ldif" "$work/demo.tree" --base "dc=schule,dc=test"
admin="$(build/tests/tarvel-samba-demo "$work/export.ldif" "$work/school.ldif" "$work/reset.ldif")"
bash scripts/samba-fixture.sh template "$work/template" --ldif "$work/school.ldif" --reset "$work/reset.ldif" \
  --password admin "$admin"
bash scripts/samba-fixture.sh stop "$work/dc" 2>/dev/null || true
url="$(bash scripts/samba-fixture.sh start "$work/dc" --template "$work/template" --idle 86400)"
trap 'bash scripts/samba-fixture.sh stop "$work/dc"' EXIT
cat > "$work/nwclient.conf" <<CONF
# Written by ./run --ad: the demo school on a private Samba AD DC.
Tree=$url
Base=DC=schule,DC=test
Directory=ad
Operator=admin.UNTERRICHT
PasswordFile=$work/dc/admin.pw
CONF
build/tarvel --nwclient="$work/nwclient.conf" "$@"
