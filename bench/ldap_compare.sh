#!/usr/bin/env bash
# What an operator waits for, against what OpenLDAP's own client needs for the same changes, on
# one private slapd (on tmpfs where there is one, and without a disk sync per write, so the
# server's disk does not hide the client):
#
#   program: a fresh bench_stopgo_once process for the stop and another for the go of every user
#            below a class container (connect and bind, gathering search, all four places, close);
#   anchor:  a fresh ldapmodify process sending the same changes (each user's Group Membership and
#            Security Equals, the group's Member and Equivalent To Me) for the stop, another for
#            the go.
#
# Stop+go of both, interleaved, RUNS times; the medians and their ratio, at each size on plain
# loopback, and at RELAY_SIZE users through a latency relay of RTT_MS round trip (both through it).
# The server keeps member and equivalentToMe sorted (sortvals), as a school with a large deny group
# should: unsorted, its own work on them grows with the square of the users and hides the client.
#
# Usage: bench/ldap_compare.sh [BUILD_DIR] [RUNS] [SIZES] [RELAY_SIZE] [RTT_MS]
#        defaults: build 5 "500 5000 50000" 1000 20
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
runs="${2:-5}"
sizes="${3:-500 5000 50000}"
relay_size="${4:-1000}"
rtt_ms="${5:-20}"
cmake --build "$build" -j2 --target bench_stopgo_once >/dev/null
prog="$build/bench/bench_stopgo_once"

tmp_root=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && tmp_root=/dev/shm
work="$(mktemp -d "$tmp_root/tarvel-ldap-bench-XXXXXX")"
relay_pid=""
cleanup() {
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null || true
  bash scripts/slapd-fixture.sh stop "$work/slapd" || true
  rm -rf "$work"
}
trap cleanup EXIT

base="dc=bench,dc=test"
admin="cn=admin,o=UNTERRICHT,$base"
group="cn=G_Bench,o=UNTERRICHT,$base"
all_sizes="$(printf '%s\n' $sizes "$relay_size" | sort -nu)"
ldif="$work/tree.ldif"
{
  printf 'dn: o=UNTERRICHT,%s\nobjectClass: organization\no: UNTERRICHT\n\n' "$base"
  printf 'dn: %s\nobjectClass: inetOrgPerson\ncn: admin\nsn: admin\n\n' "$admin"
  printf 'dn: %s\nobjectClass: tarvelGroup\ncn: G_Bench\n\n' "$group"
  for n in $all_sizes; do
    printf 'dn: ou=S%s,o=UNTERRICHT,%s\nobjectClass: organizationalUnit\nou: S%s\n\n' "$n" "$base" "$n"
    # Users that already carry the membership class: both sides send the same four values.
    awk -v n="$n" -v b="$base" 'BEGIN { for (i = 0; i < n; i++)
      printf "dn: cn=P%06d,ou=S%d,o=UNTERRICHT,%s\nobjectClass: inetOrgPerson\nobjectClass: tarvelMembership\ncn: P%06d\nsn: Schueler\n\n", i, n, b, i }'
  done
} > "$ldif"
url="$(bash scripts/slapd-fixture.sh start "$work/slapd" --base "$base" --ldif "$ldif" --admin "$admin" --owner $$ --sortvals)"
pw="$work/slapd/admin.pw"
port="${url##*:}"

conf_for() {  # URL FILE
  cat > "$2" <<CONF
Tree=$1
Base=$base
Operator=admin.UNTERRICHT
PasswordFile=$pw
Timeout=30
CONF
}
conf_for "$url" "$work/direct.conf"

# The anchor's changes for the users of ou=S<n>.
for n in $all_sizes; do
  awk -v n="$n" -v b="$base" -v g="$group" 'BEGIN {
    for (i = 0; i < n; i++)
      printf "dn: cn=P%06d,ou=S%d,o=UNTERRICHT,%s\nchangetype: modify\nadd: groupMembership\ngroupMembership: %s\n-\nadd: securityEquals\nsecurityEquals: %s\n\n", i, n, b, g, g
    printf "dn: %s\nchangetype: modify\nadd: member\n", g
    for (i = 0; i < n; i++) printf "member: cn=P%06d,ou=S%d,o=UNTERRICHT,%s\n", i, n, b
    printf "-\nadd: equivalentToMe\n"
    for (i = 0; i < n; i++) printf "equivalentToMe: cn=P%06d,ou=S%d,o=UNTERRICHT,%s\n", i, n, b
    printf "\n" }' > "$work/stop$n.ldif"
  awk -v n="$n" -v b="$base" -v g="$group" 'BEGIN {
    for (i = 0; i < n; i++)
      printf "dn: cn=P%06d,ou=S%d,o=UNTERRICHT,%s\nchangetype: modify\ndelete: groupMembership\ngroupMembership: %s\n-\ndelete: securityEquals\nsecurityEquals: %s\n\n", i, n, b, g, g
    printf "dn: %s\nchangetype: modify\ndelete: member\n", g
    for (i = 0; i < n; i++) printf "member: cn=P%06d,ou=S%d,o=UNTERRICHT,%s\n", i, n, b
    printf "-\ndelete: equivalentToMe\n"
    for (i = 0; i < n; i++) printf "equivalentToMe: cn=P%06d,ou=S%d,o=UNTERRICHT,%s\n", i, n, b
    printf "\n" }' > "$work/go$n.ldif"
done

now() { date +%s%N; }
# Milliseconds of stop+go, each a fresh process; a failed run ends the benchmark.
program_run() {  # N CONF
  local start end
  start=$(now)
  "$prog" "--nwclient=$2" "--container=.S$1.UNTERRICHT" --group=.G_Bench.UNTERRICHT stop
  "$prog" "--nwclient=$2" "--container=.S$1.UNTERRICHT" --group=.G_Bench.UNTERRICHT go
  end=$(now)
  echo $(( (end - start) / 1000000 ))
}
anchor_run() {  # N URL
  local start end
  start=$(now)
  ldapmodify -x -H "$2" -D "$admin" -y "$pw" -f "$work/stop$1.ldif" >/dev/null
  ldapmodify -x -H "$2" -D "$admin" -y "$pw" -f "$work/go$1.ldif" >/dev/null
  end=$(now)
  echo $(( (end - start) / 1000000 ))
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ratio() { awk -v p="$1" -v t="$2" 'BEGIN { if (t > 0) printf "%.2f", p / t; else print "n/a" }'; }

# Interleaved: the order of the two alternates from run to run.
compare() {  # N CONF URL -> "program_ms anchor_ms"
  local n="$1" conf="$2" target="$3" p=() a=() r
  for r in $(seq 1 "$runs"); do
    if (( r % 2 )); then
      p+=("$(program_run "$n" "$conf")"); a+=("$(anchor_run "$n" "$target")")
    else
      a+=("$(anchor_run "$n" "$target")"); p+=("$(program_run "$n" "$conf")")
    fi
  done
  echo "$(median "${p[@]}") $(median "${a[@]}")"
}

printf '%-46s %12s %12s %7s\n' "stop+go, fresh processes, median of $runs" "program ms" "ldapmodify" "ratio"
declare -A program_ms
for n in $sizes; do
  read -r p a < <(compare "$n" "$work/direct.conf" "$url")
  program_ms[$n]=$p
  printf '%-46s %12s %12s %7s\n' "$n users, loopback" "$p" "$a" "$(ratio "$p" "$a")"
done

relay_port=$(( port + 7 ))
delay=$(awk -v r="$rtt_ms" 'BEGIN { print r / 2 }')
python3 bench/latency_relay.py "$relay_port" 127.0.0.1 "$port" "$delay" > "$work/relay.out" 2>&1 &
relay_pid=$!
for _ in $(seq 1 50); do grep -q ready "$work/relay.out" 2>/dev/null && break; sleep 0.1; done
relay_url="ldap://127.0.0.1:$relay_port"
conf_for "$relay_url" "$work/relay.conf"
read -r p a < <(compare "$relay_size" "$work/relay.conf" "$relay_url")
printf '%-46s %12s %12s %7s\n' "$relay_size users, ${rtt_ms} ms round trip (relay)" "$p" "$a" "$(ratio "$p" "$a")"

prev=""
for n in $sizes; do
  if [ -n "$prev" ]; then
    printf 'program: %s -> %s users: %sx the time for %sx the users\n' "$prev" "$n" \
      "$(ratio "${program_ms[$n]}" "${program_ms[$prev]}")" "$(( n / prev ))"
  fi
  prev=$n
done
