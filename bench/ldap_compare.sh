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
# Of the loopback runs also slapd's own CPU (from /proc/PID/stat, before and after each stop+go):
# the server's work grows with the users only when the requests are sized and ordered for it.
# The server keeps member and equivalentToMe sorted (sortvals), as a school with a large deny group
# should: unsorted, its own work on them grows with the square of the users and hides the client.
#
# A teacher who keeps slapd's size limit of 500 opens a class of 1,200 (a fresh process listing
# it), against ldapsearch as the manager (no limit) reading the same class in pages.
# slapd's own CPU for gathering a class of 30 (fresh processes, connect included), read from
# /proc/PID/stat before and after, against ldapsearch's subtree search of the same class.
#
# The users carry names as a school's directory holds them (bench/school_names.py: German
# surnames and given names, added in no order, a name that comes again numbered), and every
# class has seen ROUNDS_BEFORE stop+go rounds of both before anything is measured.
#
# Usage: bench/ldap_compare.sh [BUILD_DIR] [RUNS] [SIZES] [RELAY_SIZE] [RTT_MS]
#        defaults: build 5 "500 5000 50000" 1000 20; RELAY_SIZE 0 leaves the relay row out
# Environment: DIRECTORY_ENTRIES=200000 fills the directory with other classes up to that many
#              entries (slower to load; off by default); ROUNDS_BEFORE (default 1);
#              AD=no leaves out the Active Directory rows (below; they run where samba is
#              installed), AD=only runs those alone; ONLY=memory runs only the peak memory rows.
#
# Active Directory rows (a private Samba AD DC, scripts/samba-fixture.sh; some 25 s the first time,
# when the template is provisioned and kept in BUILD_DIR/bench-state): stop+go of AD_USERS (1000)
# users of one OU, over LDAPS with the DC's test CA, as the domain admin:
#   program: bench_stopgo_once as above with Directory=ad (gathering search in one unpaged
#            request, the group's members read in ranges, the users it does not hold (or holds)
#            sent in one member change of the group, close);
#   anchor:  ldapmodify sending the same member change (one modify of the group adding every
#            user, another deleting them).
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
ad_mode="${AD:-yes}"
if [ "$ad_mode" != no ] && ! command -v samba >/dev/null; then
  echo "samba is not installed: no Active Directory rows (scripts/install-deps.sh --test installs it)" >&2
  [ "$ad_mode" = only ] && exit 1
  ad_mode=no
fi
cleanup() {
  [ -n "$relay_pid" ] && kill "$relay_pid" 2>/dev/null || true
  [ -d "$work/dc" ] && { bash scripts/samba-fixture.sh stop "$work/dc" || true; }
  [ -d "$work/slapd" ] && { bash scripts/slapd-fixture.sh stop "$work/slapd" || true; }
  rm -rf "$work"
}
trap cleanup EXIT

now() { date +%s%N; }
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ratio() { awk -v p="$1" -v t="$2" 'BEGIN { if (t > 0) printf "%.2f", p / t; else print "n/a" }'; }
# Interleaved, RUNS times: the order of the two alternates from run to run. Each argument is a
# command (a function and its words) printing milliseconds -> "program_ms anchor_ms".
interleave() {
  local p=() a=() r
  for r in $(seq 1 "$runs"); do
    if (( r % 2 )); then p+=("$($1)"); a+=("$($2)"); else a+=("$($2)"); p+=("$($1)"); fi
  done
  echo "$(median "${p[@]}") $(median "${a[@]}")"
}

ad_rows() {
  local ad_users="${AD_USERS:-1000}" ad_base="DC=schule,DC=test" school key template dc ip ca p a
  school="OU=UNTERRICHT,$ad_base"
  local admin_dn="CN=admin,$school" group_dn="CN=G_Bench,$school" class="OU=S$ad_users,$school"
  python3 bench/school_names.py "$ad_users" "$ad_users" > "$work/ad-names.txt"
  {
    printf 'dn: %s\nchangetype: add\nobjectClass: organizationalUnit\n\n' "$school"
    printf 'dn: %s\nchangetype: add\nobjectClass: user\nsAMAccountName: benchadmin\n\n' "$admin_dn"
    printf 'dn: CN=Domain Admins,CN=Users,%s\nchangetype: modify\nadd: member\nmember: %s\n-\n\n' "$ad_base" "$admin_dn"
    printf 'dn: %s\nchangetype: add\nobjectClass: group\nsAMAccountName: G_Bench\n\n' "$group_dn"
    printf 'dn: %s\nchangetype: add\nobjectClass: organizationalUnit\n\n' "$class"
    awk -v c="$class" '{ printf "dn: CN=%s,%s\nchangetype: add\nobjectClass: user\nsAMAccountName: b%05d\n\n", $0, c, NR }' \
      "$work/ad-names.txt"
  } > "$work/ad.ldif"
  for side in add:stop delete:go; do
    awk -v c="$class" -v g="$group_dn" -v op="${side%%:*}" '
      BEGIN { printf "dn: %s\nchangetype: modify\n%s: member\n", g, op }
      { printf "member: CN=%s,%s\n", $0, c }
      END { printf "-\n\n" }' "$work/ad-names.txt" > "$work/ad-${side#*:}.ldif"
  done
  # The template is kept while the school and the script stay the same.
  key="$(cat "$work/ad.ldif" scripts/samba-fixture.sh | sha256sum | cut -c1-16)"
  template="$(cd "$build" && pwd)/bench-state/samba/template-$key"
  mkdir -p "$(dirname "$template")"
  bash scripts/samba-fixture.sh template "$template" --ldif "$work/ad.ldif" --password admin "$admin_dn" >/dev/null
  dc="$work/dc"
  # The DC lives while this holds its folder's lock (the fixture's watcher ends it otherwise).
  exec 8>"$dc.use"
  flock 8
  bash scripts/samba-fixture.sh start "$dc" --template "$template" --idle 600 8>&- >/dev/null
  ip="$(cat "$dc/ip")" ca="$dc/tls/ca.pem"
  cat > "$work/ad.conf" <<CONF
Tree=ldaps://$ip
Base=$ad_base
Directory=ad
CAFile=$ca
Operator=admin.UNTERRICHT
PasswordFile=$dc/admin.pw
Timeout=30
CONF
  ad_program_run() {
    local start end
    start=$(now)
    "$prog" "--nwclient=$work/ad.conf" "--container=.S$ad_users.UNTERRICHT" --group=.G_Bench.UNTERRICHT stop
    "$prog" "--nwclient=$work/ad.conf" "--container=.S$ad_users.UNTERRICHT" --group=.G_Bench.UNTERRICHT go
    end=$(now)
    echo $(( (end - start) / 1000000 ))
  }
  ad_anchor_run() {
    local start end
    start=$(now)
    LDAPTLS_CACERT="$ca" ldapmodify -x -H "ldaps://$ip" -D "$admin_dn" -y "$dc/admin.pw" -f "$work/ad-stop.ldif" >/dev/null
    LDAPTLS_CACERT="$ca" ldapmodify -x -H "ldaps://$ip" -D "$admin_dn" -y "$dc/admin.pw" -f "$work/ad-go.ldif" >/dev/null
    end=$(now)
    echo $(( (end - start) / 1000000 ))
  }
  # Part of each: the gathering search of the users, against ldapsearch reading the same users
  # the same way (one request, no paging: Samba's paging costs it several times the search).
  ad_gather_run() {
    local start end
    start=$(now)
    "$prog" "--nwclient=$work/ad.conf" "--container=.S$ad_users.UNTERRICHT" gather
    end=$(now)
    echo $(( (end - start) / 1000000 ))
  }
  ad_search_run() {
    local start end
    start=$(now)
    LDAPTLS_CACERT="$ca" ldapsearch -x -H "ldaps://$ip" -D "$admin_dn" -y "$dc/admin.pw" -b "$class" -s sub \
      '(&(objectClass=user)(!(objectClass=computer)))' objectClass >/dev/null
    end=$(now)
    echo $(( (end - start) / 1000000 ))
  }
  for _ in $(seq 1 "$rounds_before"); do
    ad_program_run >/dev/null
    ad_anchor_run >/dev/null
  done
  read -r p a < <(interleave ad_program_run ad_anchor_run)
  echo "Samba AD DC ($(samba -V 2>/dev/null | head -1)), LDAPS, load average $(cut -d' ' -f1-3 /proc/loadavg)"
  printf '%-46s %12s %12s %7s\n' "stop+go, fresh processes, median of $runs" "program ms" "ldapmodify" "ratio"
  printf '%-46s %12s %12s %7s\n' "$ad_users users, member only (AD)" "$p" "$a" "$(ratio "$p" "$a")"
  read -r p a < <(interleave ad_gather_run ad_search_run)
  printf '%-46s %12s %12s %7s\n' "of it: gathering $ad_users (ldapsearch)" "$p" "$a" "$(ratio "$p" "$a")"
}

rounds_before="${ROUNDS_BEFORE:-1}"
if [ "$ad_mode" = only ]; then
  ad_rows
  exit 0
fi

base="dc=bench,dc=test"
admin="cn=admin,o=UNTERRICHT,$base"
teacher="cn=lehrer,o=UNTERRICHT,$base"
group="cn=G_Bench,o=UNTERRICHT,$base"
directory_entries="${DIRECTORY_ENTRIES:-0}"
teacher_class=1200
gather_class=30
all_sizes="$(printf '%s\n' $sizes "$relay_size" | grep -vx 0 | sort -nu)"
ldif="$work/tree.ldif"
# The users of ou=NAME from a names file, already carrying the membership class: both sides send
# the same four values.
users_ldif() {  # OU NAMES_FILE
  awk -v ou="$1" -v b="$base" '{ split($0, w, " ")
    printf "dn: cn=%s,ou=%s,o=UNTERRICHT,%s\nobjectClass: inetOrgPerson\nobjectClass: tarvelMembership\ncn: %s\nsn: %s\n\n", $0, ou, b, $0, w[1] }' "$2"
}
ou_ldif() { printf 'dn: ou=%s,o=UNTERRICHT,%s\nobjectClass: organizationalUnit\nou: %s\n\n' "$1" "$base" "$1"; }
{
  printf 'dn: o=UNTERRICHT,%s\nobjectClass: organization\no: UNTERRICHT\n\n' "$base"
  printf 'dn: %s\nobjectClass: inetOrgPerson\ncn: admin\nsn: admin\n\n' "$admin"
  printf 'dn: %s\nobjectClass: inetOrgPerson\ncn: lehrer\nsn: lehrer\n\n' "$teacher"
  printf 'dn: %s\nobjectClass: tarvelGroup\ncn: G_Bench\n\n' "$group"
  entries=4
  for n in $all_sizes $teacher_class $gather_class; do
    python3 bench/school_names.py "$n" "$n" > "$work/names$n.txt"
    ou_ldif "S$n"
    users_ldif "S$n" "$work/names$n.txt"
    entries=$(( entries + n + 1 ))
  done
  if (( directory_entries > entries )); then
    # Other classes of 1,000 (the last smaller) up to the directory's size.
    fill=$(( directory_entries - entries ))
    python3 bench/school_names.py "$fill" 7 > "$work/fill.txt"
    split -l 1000 -d -a 4 "$work/fill.txt" "$work/fill."
    for f in "$work"/fill.[0-9]*; do
      ou_ldif "F${f##*.}"
      users_ldif "F${f##*.}" "$f"
    done
  fi
} > "$ldif"
entries_loaded=$(grep -c '^dn: ' "$ldif")
load_start=$(now)
url="$(bash scripts/slapd-fixture.sh start "$work/slapd" --base "$base" --ldif "$ldif" --admin "$admin" \
  --limited "$teacher" --owner $$ --sortvals)"
load_ms=$(( ($(now) - load_start) / 1000000 ))
pw="$work/slapd/admin.pw"
# slapd's own CPU (ms, user and system) from /proc.
slapd_pid="$(cat "$work/slapd/slapd.pid")"
tick_ms=$(( 1000 / $(getconf CLK_TCK) ))
slapd_cpu() { awk -v t="$tick_ms" '{ print ($14 + $15) * t }' "/proc/$slapd_pid/stat"; }
port="${url##*:}"

conf_for() {  # URL FILE
  cat > "$2" <<CONF
Tree=$1
Base=$base
Operator=${3:-admin}.UNTERRICHT
PasswordFile=${4:-$pw}
Timeout=30
CONF
}
conf_for "$url" "$work/direct.conf"
conf_for "$url" "$work/teacher.conf" lehrer "$work/slapd/limited.pw"

# The anchor's changes for the users of ou=S<n>.
for n in $all_sizes; do
  dn_of="cn=%s,ou=S$n,o=UNTERRICHT,$base"
  awk -v f="$dn_of" -v g="$group" '{ printf "dn: " f "\nchangetype: modify\nadd: groupMembership\ngroupMembership: %s\n-\nadd: securityEquals\nsecurityEquals: %s\n\n", $0, g, g }' "$work/names$n.txt" > "$work/stop$n.ldif"
  awk -v f="$dn_of" -v g="$group" '{ printf "dn: " f "\nchangetype: modify\ndelete: groupMembership\ngroupMembership: %s\n-\ndelete: securityEquals\nsecurityEquals: %s\n\n", $0, g, g }' "$work/names$n.txt" > "$work/go$n.ldif"
  for side in add:stop delete:go; do
    awk -v f="$dn_of" -v g="$group" -v op="${side%%:*}" '
      { v[NR] = $0 }
      END { printf "dn: %s\nchangetype: modify\n%s: member\n", g, op
            for (i = 1; i <= NR; i++) printf "member: " f "\n", v[i]
            printf "-\n%s: equivalentToMe\n", op
            for (i = 1; i <= NR; i++) printf "equivalentToMe: " f "\n", v[i]
            printf "\n" }' "$work/names$n.txt" >> "$work/${side#*:}$n.ldif"
  done
done

# Milliseconds of stop+go, each a fresh process; a failed run ends the benchmark. slapd's CPU for
# the same stop+go is appended to $work/cpu.N.program (.anchor).
program_run() {  # N CONF
  local start end cpu
  cpu=$(slapd_cpu)
  start=$(now)
  "$prog" "--nwclient=$2" "--container=.S$1.UNTERRICHT" --group=.G_Bench.UNTERRICHT stop
  "$prog" "--nwclient=$2" "--container=.S$1.UNTERRICHT" --group=.G_Bench.UNTERRICHT go
  end=$(now)
  echo $(( $(slapd_cpu) - cpu )) >> "$work/cpu.$1.program"
  echo $(( (end - start) / 1000000 ))
}
anchor_run() {  # N URL
  local start end cpu
  cpu=$(slapd_cpu)
  start=$(now)
  ldapmodify -x -H "$2" -D "$admin" -y "$pw" -f "$work/stop$1.ldif" >/dev/null
  ldapmodify -x -H "$2" -D "$admin" -y "$pw" -f "$work/go$1.ldif" >/dev/null
  end=$(now)
  echo $(( $(slapd_cpu) - cpu )) >> "$work/cpu.$1.anchor"
  echo $(( (end - start) / 1000000 ))
}

compare() {  # N CONF URL -> "program_ms anchor_ms"
  interleave "program_run $1 $2" "anchor_run $1 $3"
}

# ONLY=memory: only the memory rows (the last section, read from here) and nothing else.
if [ "${ONLY:-}" = memory ]; then source <(sed -n '/^memory_rows() {$/,/^}$/p' "$0"); memory_rows; exit 0; fi

# A directory that has seen changes before: rounds of both on every class, not measured.
for n in $all_sizes; do
  for _ in $(seq 1 "$rounds_before"); do
    program_run "$n" "$work/direct.conf" >/dev/null
    anchor_run "$n" "$url" >/dev/null
  done
done

echo "directory: $entries_loaded entries (loaded and started in $load_ms ms), realistic names, $rounds_before stop+go round(s) of both before measuring"
printf '%-46s %12s %12s %7s\n' "stop+go, fresh processes, median of $runs" "program ms" "ldapmodify" "ratio"
declare -A program_ms program_cpu anchor_cpu
for n in $sizes; do
  rm -f "$work/cpu.$n.program" "$work/cpu.$n.anchor"
  read -r p a < <(compare "$n" "$work/direct.conf" "$url")
  program_ms[$n]=$p
  program_cpu[$n]=$(median $(cat "$work/cpu.$n.program"))
  anchor_cpu[$n]=$(median $(cat "$work/cpu.$n.anchor"))
  printf '%-46s %12s %12s %7s\n' "$n users, loopback" "$p" "$a" "$(ratio "$p" "$a")"
done
for n in $sizes; do
  printf '%-46s %12s %12s %7s\n' "of it: slapd CPU ms for $n" "${program_cpu[$n]}" "${anchor_cpu[$n]}" \
    "$(ratio "${program_cpu[$n]}" "${anchor_cpu[$n]}")"
done

if (( relay_size > 0 )); then
  relay_port=$(( port + 7 ))
  delay=$(awk -v r="$rtt_ms" 'BEGIN { print r / 2 }')
  python3 bench/latency_relay.py "$relay_port" 127.0.0.1 "$port" "$delay" > "$work/relay.out" 2>&1 &
  relay_pid=$!
  for _ in $(seq 1 50); do grep -q ready "$work/relay.out" 2>/dev/null && break; sleep 0.1; done
  relay_url="ldap://127.0.0.1:$relay_port"
  conf_for "$relay_url" "$work/relay.conf"
  read -r p a < <(compare "$relay_size" "$work/relay.conf" "$relay_url")
  printf '%-46s %12s %12s %7s\n' "$relay_size users, ${rtt_ms} ms round trip (relay)" "$p" "$a" "$(ratio "$p" "$a")"
fi

prev=""
for n in $sizes; do
  if [ -n "$prev" ]; then
    printf 'program: %s -> %s users: %sx the time (slapd CPU %sx) for %sx the users\n' "$prev" "$n" \
      "$(ratio "${program_ms[$n]}" "${program_ms[$prev]}")" "$(ratio "${program_cpu[$n]}" "${program_cpu[$prev]}")" \
      "$(( n / prev ))"
  fi
  prev=$n
done

# A teacher under the limit of 500 opens the class of 1,200; the manager's ldapsearch reads it.
teacher_run() {
  local start end
  start=$(now)
  "$prog" "--nwclient=$work/teacher.conf" "--container=.S$teacher_class.UNTERRICHT" "--expect=$teacher_class" list
  end=$(now)
  echo $(( (end - start) / 1000000 ))
}
manager_run() {
  local start end
  start=$(now)
  ldapsearch -x -H "$url" -D "$admin" -y "$pw" -b "ou=S$teacher_class,o=UNTERRICHT,$base" -s one \
    -E pr=500/noprompt '(objectClass=*)' objectClass cn >/dev/null
  end=$(now)
  echo $(( (end - start) / 1000000 ))
}
p=() a=()
for r in $(seq 1 "$runs"); do
  if (( r % 2 )); then p+=("$(teacher_run)"); a+=("$(manager_run)"); else a+=("$(manager_run)"); p+=("$(teacher_run)"); fi
done
printf '%-46s %12s %12s %7s\n' "teacher (limit 500) opens $teacher_class, vs manager" "$(median "${p[@]}")" "$(median "${a[@]}")" \
  "$(ratio "$(median "${p[@]}")" "$(median "${a[@]}")")"

# slapd's CPU (ms) for gathering a class of 30, each a fresh process, 10 of them per sample.
gather_cpu() {  # program|anchor -> slapd ms per gathering
  local before after i
  before=$(slapd_cpu)
  for i in $(seq 1 10); do
    if [ "$1" = program ]; then
      "$prog" "--nwclient=$work/direct.conf" "--container=.S$gather_class.UNTERRICHT" gather
    else
      ldapsearch -x -H "$url" -D "$admin" -y "$pw" -b "ou=S$gather_class,o=UNTERRICHT,$base" -s sub \
        '(objectClass=inetOrgPerson)' objectClass >/dev/null
    fi
  done
  after=$(slapd_cpu)
  awk -v d=$(( after - before )) 'BEGIN { printf "%.1f", d / 10 }'
}
p=() a=()
for r in $(seq 1 "$runs"); do
  if (( r % 2 )); then p+=("$(gather_cpu program)"); a+=("$(gather_cpu anchor)"); else a+=("$(gather_cpu anchor)"); p+=("$(gather_cpu program)"); fi
done
fmedian() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
printf '%-46s %12s %12s %7s\n' "gathering $gather_class: slapd CPU ms ($entries_loaded entries)" "$(fmedian "${p[@]}")" \
  "$(fmedian "${a[@]}")" "$(ratio "$(fmedian "${p[@]}")" "$(fmedian "${a[@]}")")"
# ---- Peak memory of a stop and of a go, per user ----
# Peak RSS (/usr/bin/time %M) of a fresh bench_stopgo_once and a fresh tarvel-ctl stopping and
# freeing ou=S<n>, beyond the same program connecting and finding an empty class (so the
# libraries and the connection are not counted per user), in kB per user; ldapmodify sending
# the same changes, beyond ldapmodify of nothing, beside them. Medians of RUNS.
memory_rows() {
  local empty="ou=Leer,o=UNTERRICHT,$base" n side r m
  cmake --build "$build" -j2 --target tarvel-ctl >/dev/null
  ldapadd -x -H "$url" -D "$admin" -y "$pw" >/dev/null 2>&1 <<LDIF || true
dn: $empty
objectClass: organizationalUnit
ou: Leer
LDIF
  : > "$work/none.ldif"
  mkdir -p "$work/home"
  printf '[TYP]\r\nTYP=Tarvel\r\nVer=100\r\n[DEFAULT]\r\nGroupInternetUserDeny=G_Bench.UNTERRICHT\r\n' > "$work/tarvel.ini"
  peak_kb() {  # COMMAND... -> peak RSS in kB (whatever the exit status: the empty class fails)
    /usr/bin/time -f %M -o "$work/peak" "$@" >/dev/null 2>&1 || true
    tail -1 "$work/peak"
  }
  local once=("$prog" "--nwclient=$work/direct.conf" --group=.G_Bench.UNTERRICHT)
  local ctl=(env "HOME=$work/home" "XDG_STATE_HOME=$work/home" "XDG_CONFIG_HOME=$work/home"
    "$build/tarvel-ctl" "--nwclient=$work/direct.conf" "--ini=$work/tarvel.ini")
  local modify=(ldapmodify -x -H "$url" -D "$admin" -y "$pw" -f)
  per_user() { awk -v m="$1" -v b="$2" -v n="$3" 'BEGIN { printf "%.2f", (m - b) / n }'; }
  declare -A base_of
  for m in once ctl modify; do
    r=()
    for _ in $(seq 1 "$runs"); do
      case $m in
        once) r+=("$(peak_kb "${once[@]}" --container=.Leer.UNTERRICHT stop)") ;;
        ctl) r+=("$(peak_kb "${ctl[@]}" stop .Leer.UNTERRICHT)") ;;
        modify) r+=("$(peak_kb "${modify[@]}" "$work/none.ldif")") ;;
      esac
    done
    base_of[$m]=$(median "${r[@]}")
  done
  echo "peak memory, load average $(cut -d' ' -f1-3 /proc/loadavg); empty class: bench_stopgo_once ${base_of[once]} kB," \
    "tarvel-ctl ${base_of[ctl]} kB, ldapmodify of nothing ${base_of[modify]} kB"
  printf '%-30s %14s %14s %14s %10s\n' "kB per user beyond it (MB)" "stopgo_once" "tarvel-ctl" "ldapmodify" "ratio ctl"
  for n in $sizes; do
    for side in stop go; do
      local o=() c=() a=() undo=stop
      [ "$side" = stop ] && undo=go
      # A go is measured on a stopped class: stop it first.
      [ "$side" = go ] && "${once[@]}" "--container=.S$n.UNTERRICHT" stop >/dev/null 2>&1
      for _ in $(seq 1 "$runs"); do
        # Each program makes the change and bench_stopgo_once undoes it, so every run changes.
        o+=("$(peak_kb "${once[@]}" "--container=.S$n.UNTERRICHT" "$side")")
        "${once[@]}" "--container=.S$n.UNTERRICHT" "$undo" >/dev/null 2>&1
        c+=("$(peak_kb "${ctl[@]}" "$side" ".S$n.UNTERRICHT")")
        "${once[@]}" "--container=.S$n.UNTERRICHT" "$undo" >/dev/null 2>&1
        a+=("$(peak_kb "${modify[@]}" "$work/$side$n.ldif")")
        "${once[@]}" "--container=.S$n.UNTERRICHT" "$undo" >/dev/null 2>&1
      done
      [ "$side" = go ] && "${once[@]}" "--container=.S$n.UNTERRICHT" go >/dev/null 2>&1
      local om cm am
      om=$(median "${o[@]}") cm=$(median "${c[@]}") am=$(median "${a[@]}")
      printf '%-30s %6s (%5s) %6s (%5s) %6s (%5s) %10s\n' "$side of $n users" \
        "$(per_user "$om" "${base_of[once]}" "$n")" "$(( om / 1024 ))" \
        "$(per_user "$cm" "${base_of[ctl]}" "$n")" "$(( cm / 1024 ))" \
        "$(per_user "$am" "${base_of[modify]}" "$n")" "$(( am / 1024 ))" \
        "$(ratio "$(per_user "$cm" "${base_of[ctl]}" "$n")" "$(per_user "$am" "${base_of[modify]}" "$n")")"
    done
  done
}
memory_rows
if [ "$ad_mode" = yes ]; then ad_rows; fi
