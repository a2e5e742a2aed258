#!/usr/bin/env bash
# The program against OpenLDAP's own tools on the same private slapd, side by side:
#   1. listing a container of 20,000 users: the program's listing (ListeUnterobjekte, paged)
#      against  ldapsearch -LLL -E pr=500/noprompt -s one  of the same container;
#   2. a stop of 1,000 users (all three places): AddMultipleUsersToGroup against  ldapmodify
#      sending the same modifications.
# Prints both figures and their ratio. Usage: bench/ldap_compare.sh [BUILD_DIR] [LIST_SIZE] [STOP_SIZE]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
list_size="${2:-20000}"
stop_size="${3:-1000}"
cmake --build "$build" -j2 --target bench_ldap >/dev/null
work="$(mktemp -d /tmp/tarvel-ldap-bench-XXXXXX)"
cleanup() { bash scripts/slapd-fixture.sh stop "$work/slapd" || true; rm -rf "$work"; }
trap cleanup EXIT

base="dc=bench,dc=test"
admin="cn=admin,o=UNTERRICHT,$base"
group="cn=G_Bench,o=UNTERRICHT,$base"
ldif="$work/tree.ldif"
{
  printf 'dn: o=UNTERRICHT,%s\nobjectClass: organization\no: UNTERRICHT\n\n' "$base"
  printf 'dn: %s\nobjectClass: inetOrgPerson\ncn: admin\nsn: admin\n\n' "$admin"
  printf 'dn: %s\nobjectClass: tarvelGroup\ncn: G_Bench\n\n' "$group"
  printf 'dn: ou=GROSS,o=UNTERRICHT,%s\nobjectClass: organizationalUnit\nou: GROSS\n\n' "$base"
  printf 'dn: ou=STOP,o=UNTERRICHT,%s\nobjectClass: organizationalUnit\nou: STOP\n\n' "$base"
  awk -v n="$list_size" -v b="$base" 'BEGIN { for (i = 0; i < n; i++)
    printf "dn: cn=U%06d,ou=GROSS,o=UNTERRICHT,%s\nobjectClass: inetOrgPerson\ncn: U%06d\nsn: Nutzer\n\n", i, b, i }'
  awk -v n="$stop_size" -v b="$base" 'BEGIN { for (i = 0; i < n; i++)
    printf "dn: cn=S%05d,ou=STOP,o=UNTERRICHT,%s\nobjectClass: inetOrgPerson\ncn: S%05d\nsn: Nutzer\n\n", i, b, i }'
} > "$ldif"
url="$(bash scripts/slapd-fixture.sh start "$work/slapd" --base "$base" --ldif "$ldif" --admin "$admin" --owner $$)"
pw="$work/slapd/admin.pw"
cat > "$work/nwclient.conf" <<CONF
Tree=$url
Base=$base
Operator=admin.UNTERRICHT
PasswordFile=$pw
CONF

now() { date +%s.%N; }
# Best of five runs of a command, in milliseconds.
best_of() {
  local best="" start end ms
  for _ in 1 2 3 4 5; do
    start=$(now); "$@" >/dev/null; end=$(now)
    ms=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", (e - s) * 1000 }')
    if [ -z "$best" ] || awk -v a="$ms" -v b="$best" 'BEGIN { exit !(a < b) }'; then best="$ms"; fi
  done
  echo "$best"
}
# Google Benchmark's real time of one benchmark, in milliseconds (the minimum of its repetitions).
bench_ms() {
  "$build/bench/bench_ldap" "--nwclient=$work/nwclient.conf" "$@" --benchmark_repetitions=3 \
    --benchmark_report_aggregates_only=false --benchmark_format=csv 2>/dev/null |
    awk -F, '/^"BM_Ldap[A-Za-z]*"/ || /^"BM_Ldap[A-Za-z]*\// { gsub(/"/, "", $1); if ($1 !~ /_(mean|median|stddev|cv)$/) print $3 }' |
    sort -g | head -1
}

# ---- listing ----
tool_list=$(best_of ldapsearch -x -LLL -E pr=500/noprompt -s one -H "$url" -D "$admin" -y "$pw" \
  -b "ou=GROSS,o=UNTERRICHT,$base" "(objectClass=*)")
prog_list=$(bench_ms --list=.GROSS.UNTERRICHT --benchmark_filter=BM_LdapListing)

# ---- stop ----
users="$work/users.txt"
awk -v n="$stop_size" 'BEGIN { for (i = 0; i < n; i++) printf "S%05d.STOP.UNTERRICHT\n", i }' > "$users"
stop_ldif="$work/stop.ldif"; go_ldif="$work/go.ldif"
awk -v n="$stop_size" -v b="$base" -v g="$group" 'BEGIN {
  for (i = 0; i < n; i++)
    printf "dn: cn=S%05d,ou=STOP,o=UNTERRICHT,%s\nchangetype: modify\nadd: objectClass\nobjectClass: tarvelMembership\n-\nadd: groupMembership\ngroupMembership: %s\n-\nadd: securityEquals\nsecurityEquals: %s\n\n", i, b, g, g
  printf "dn: %s\nchangetype: modify\nadd: member\n", g
  for (i = 0; i < n; i++) printf "member: cn=S%05d,ou=STOP,o=UNTERRICHT,%s\n", i, b
  printf "-\nadd: equivalentToMe\n"
  for (i = 0; i < n; i++) printf "equivalentToMe: cn=S%05d,ou=STOP,o=UNTERRICHT,%s\n", i, b
  printf "\n" }' > "$stop_ldif"
awk -v n="$stop_size" -v b="$base" -v g="$group" 'BEGIN {
  for (i = 0; i < n; i++)
    printf "dn: cn=S%05d,ou=STOP,o=UNTERRICHT,%s\nchangetype: modify\ndelete: groupMembership\n-\ndelete: securityEquals\n-\ndelete: objectClass\nobjectClass: tarvelMembership\n\n", i, b
  printf "dn: %s\nchangetype: modify\ndelete: member\n-\ndelete: equivalentToMe\n\n", g }' > "$go_ldif"
tool_stop=""
for _ in 1 2 3; do
  start=$(now); ldapmodify -x -H "$url" -D "$admin" -y "$pw" -f "$stop_ldif" >/dev/null; end=$(now)
  ms=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.1f", (e - s) * 1000 }')
  if [ -z "$tool_stop" ] || awk -v a="$ms" -v b="$tool_stop" 'BEGIN { exit !(a < b) }'; then tool_stop="$ms"; fi
  ldapmodify -x -H "$url" -D "$admin" -y "$pw" -f "$go_ldif" >/dev/null
done
prog_stop=$(bench_ms --users="$users" --group=.G_Bench.UNTERRICHT --benchmark_filter=BM_LdapStop)

ratio() { awk -v p="$1" -v t="$2" 'BEGIN { if (t > 0) printf "%.2f", p / t; else print "n/a" }'; }
printf '%-44s %12s %12s %8s\n' "comparison" "program ms" "tool ms" "ratio"
printf '%-44s %12s %12s %8s\n' "listing $list_size entries (ldapsearch pr=500)" "$prog_list" "$tool_list" "$(ratio "$prog_list" "$tool_list")"
printf '%-44s %12s %12s %8s\n' "stop of $stop_size users (ldapmodify)" "$prog_stop" "$tool_stop" "$(ratio "$prog_stop" "$tool_stop")"
