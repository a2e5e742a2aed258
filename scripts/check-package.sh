#!/usr/bin/env bash
# Checks what an installation and the Debian package hold, from a build folder that is already
# built (nothing is compiled): that a build without tests needs no GoogleTest, `cmake --install`
# into a scratch folder, `cpack -G DEB` on the same build, lintian, and the package's maintainer
# scripts run against a scratch root with a recording adduser/useradd.
#   scripts/check-package.sh [BUILD]          (default: build, configured with prefix /usr)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "check-package: $*" >&2; exit 1; }

prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
[ "$prefix" = /usr ] || fail "$build is configured for prefix $prefix; a package needs -DCMAKE_INSTALL_PREFIX=/usr"

# A packaging build leaves tests and benchmarks out: configuring fails if it asks for either.
cmake -S . -B "$scratch/no-tests" -DTARVEL_BUILD_TESTS=OFF -DTARVEL_BUILD_GUI=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON \
  >"$scratch/no-tests.log" 2>&1 || { cat "$scratch/no-tests.log"; fail "-DTARVEL_BUILD_TESTS=OFF still needs GoogleTest or Google Benchmark"; }

DESTDIR="$scratch/root" cmake --install "$build" >/dev/null
installed=$(cd "$scratch/root" && find . ! -type d | sed 's|^\./||' | sort)
has() { grep -qxF "$1" <<<"$installed" || fail "not installed: $1"; }

# Only these folders, only the programs as executables.
programs="tarvel tarvel-ctl tarvel-tree tarvel-proxy-helper tarvel-web tarvel-web-worker"
allowed='^(usr/bin/[^/]+|usr/libexec/tarvel/(tarvel|tarvel-web-worker)|usr/lib/sysusers\.d/tarvel\.conf|usr/lib/tmpfiles\.d/tarvel\.conf|usr/share/man/man1/[^/]+\.1\.gz|usr/share/tarvel/schema/.+|usr/share/doc/tarvel/.+|usr/lib/systemd/system/tarvel-[^/]+|usr/share/applications/tarvelweb\.desktop|usr/share/pixmaps/tarvelweb\.xpm|etc/squid/conf\.d/tarvel\.conf)$'
stray=$(grep -vE "$allowed" <<<"$installed" || true)
[ -z "$stray" ] || fail "installed outside the package's places: $stray"
for f in $installed; do
  if head -c4 "$scratch/root/$f" | grep -q ELF; then
    name=$(basename "$f")
    [[ " $programs " == *" $name "* ]] || fail "an executable that is no program: $f"
  fi
done
for f in usr/bin/tarvel usr/bin/tarvel-ctl usr/bin/tarvel-tree usr/libexec/tarvel/tarvel \
         usr/share/tarvel/schema/tarvel.schema usr/share/tarvel/schema/tarvel.ldif \
         usr/lib/systemd/system/tarvel-ctl-due.service usr/lib/systemd/system/tarvel-ctl-due.timer \
         usr/share/doc/tarvel/copyright usr/share/doc/tarvel/changelog.gz usr/share/doc/tarvel/README.md; do
  has "$f"
done
# Every program on the PATH has its man page; a helper that was built is installed.
for f in $(grep '^usr/bin/' <<<"$installed"); do has "usr/share/man/man1/$(basename "$f").1.gz"; done
[ ! -x "$build/tarvel-proxy-helper" ] || has usr/bin/tarvel-proxy-helper
has usr/lib/sysusers.d/tarvel.conf
has usr/lib/tmpfiles.d/tarvel.conf
grep -qE '^d /var/lib/tarvel 0750 tarvel tarvel' "$scratch/root/usr/lib/tmpfiles.d/tarvel.conf" \
  || fail "tmpfiles.d does not make /var/lib/tarvel 0750 for tarvel"
# The service, where it was built: its program, its worker, its unit, its example and its man page.
if [ -x "$build/tarvel-web" ]; then
  for f in usr/bin/tarvel-web usr/libexec/tarvel/tarvel-web-worker usr/lib/systemd/system/tarvel-web.service \
           usr/share/doc/tarvel/examples/tarvel-web.conf; do
    has "$f"
  done
  unit="$scratch/root/usr/lib/systemd/system/tarvel-web.service"
  for line in User=tarvel Group=tarvel ProtectSystem=strict ProtectHome=yes NoNewPrivileges=yes \
              ReadWritePaths=/var/lib/tarvel StateDirectoryMode=0750 CapabilityBoundingSet= \
              "ExecStart=/usr/bin/tarvel-web --config /etc/tarvel/tarvel-web.conf"; do
    grep -qxF "$line" "$unit" || fail "tarvel-web.service lacks $line"
  done
  if command -v systemd-analyze >/dev/null; then
    # A mistyped hardening key is only warned about (and ignored): that counts as a failure here.
    # The program is not installed on this machine: a stand-in takes its place for the check.
    sed 's|^ExecStart=/usr/bin/tarvel-web |ExecStart=/bin/true |' "$unit" >"$scratch/tarvel-web.service"
    if ! systemd-analyze verify --man=no "$scratch/tarvel-web.service" >"$scratch/verify.log" 2>&1 \
       || grep -q 'ignoring' "$scratch/verify.log"; then
      cat "$scratch/verify.log"; fail "systemd-analyze verify finds faults in tarvel-web.service"
    fi
  fi
fi
for f in packaging/squid/*; do has "usr/share/doc/tarvel/squid/$(basename "$f")"; done
[ ! -f packaging/squid/tarvel.conf ] || has etc/squid/conf.d/tarvel.conf
# The programs that the launcher, the units and the Squid configuration name are in the package.
for f in usr/bin/tarvel usr/lib/systemd/system/tarvel-ctl-due.service usr/lib/systemd/system/tarvel-web.service \
         etc/squid/conf.d/tarvel.conf; do
  [ -f "$scratch/root/$f" ] || continue
  # Only installed places count: the launcher also names the folders it searches (/etc/tarvel).
  for p in $(grep -oE '/usr/[A-Za-z0-9/._-]*/tarvel(-ctl|-tree|-proxy-helper|-web|-web-worker)?(["[:space:]]|$)' "$scratch/root/$f" \
             | sed -E 's/["[:space:]]+$//' | sort -u); do
    grep -qxF "${p#/}" <<<"$installed" || fail "$f names $p, which is not installed"
  done
done

# The package holds exactly what the installation holds, with its declarations.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/deb" >"$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log"; fail "cpack failed"; }
deb=$(echo "$scratch"/deb/tarvel_*.deb)
[ -f "$deb" ] || fail "cpack made no tarvel_*.deb"
packaged=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | grep -v '/$' | sed 's|^\./||' | sort)
[ "$packaged" = "$installed" ] || fail "the package differs from the installation: $(diff <(echo "$installed") <(echo "$packaged") | grep '^[<>]' | tr '\n' ' ')"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = tarvel ] || fail "package name $(field Package)"
deps="adduser libc6 libldap libcurl3-gnutls"
[ ! -x "$build/tarvel-web" ] || deps="$deps libmicrohttpd12 libcrypt1"
for dep in $deps; do [[ "$(field Depends)" == *"$dep"* ]] || fail "Depends lacks $dep: $(field Depends)"; done
for s in squid slapd; do [[ "$(field Suggests)" == *"$s"* ]] || fail "Suggests lacks $s"; done
for f in $(grep '^etc/' <<<"$packaged" || true); do
  dpkg-deb -I "$deb" conffiles | grep -qxF "/$f" || fail "/$f is not a conffile"
done
# Warnings are shown, errors fail.
if ! findings=$(lintian --fail-on error "$deb" 2>&1); then
  echo "$findings" >&2
  fail "lintian finds errors in the package"
fi
grep -v 'running with root privileges' <<<"$findings" || true

# The maintainer scripts against a scratch root: adduser (or useradd where adduser is missing),
# chown, getent and dpkg-statoverride are stand-ins that record their arguments and keep a passwd
# file of their own. Each script runs twice: the second run must change nothing.
dpkg-deb -e "$deb" "$scratch/control"
cat >"$scratch/record" <<'EOF'
#!/bin/sh
echo "$(basename "$0") $*" >>"$CALLS"
case "$(basename "$0")" in
  adduser|useradd) for last; do :; done; echo "$last:x:999:999::/var/lib/tarvel:/usr/sbin/nologin" >>"$PASSWD" ;;
  getent) grep -q "^$2:" "$PASSWD" ;;
  dpkg-statoverride) exit 1 ;;
esac
EOF
chmod +x "$scratch/record"
for tool in adduser useradd; do
  bin="$scratch/bin-$tool" root="$scratch/root-$tool"
  mkdir -p "$bin" "$root"
  for stand_in in getent chown dpkg-statoverride useradd $tool; do ln -sf ../record "$bin/$stand_in"; done
  export CALLS="$root.calls" PASSWD="$root.passwd"
  : >"$CALLS"; : >"$PASSWD"
  maint() { DPKG_ROOT="$root" PATH="$bin:/usr/bin:/bin" sh "$scratch/control/$1" "$2"; }
  { maint postinst configure && maint postinst configure; } || fail "postinst failed ($tool)"
  account=$(grep -E '^(adduser|useradd) ' "$CALLS" || true)
  [ "$(wc -l <<<"$account")" = 1 ] && [[ "$account" == "$tool "*--system*" tarvel" ]] \
    || fail "the account is not made once, by $tool, as a system account: $account"
  grep -qxF "chown tarvel:tarvel $root/var/lib/tarvel" "$CALLS" || fail "the state folder is not given to tarvel:tarvel ($tool)"
  mode=$(stat -c %a "$root/var/lib/tarvel")
  [ "$mode" = 750 ] || fail "the state folder has mode $mode, not 0750 ($tool)"
  maint postrm remove || fail "postrm remove failed"
  [ -d "$root/var/lib/tarvel" ] || fail "a remove without purge deleted the state folder"
  { maint postrm purge && maint postrm purge; } || fail "postrm purge failed"
  [ ! -e "$root/var/lib/tarvel" ] || fail "a purge left the state folder"
done
echo "check-package: $(basename "$deb"): $(wc -l <<<"$packaged") files, lintian without errors, maintainer scripts as expected"
