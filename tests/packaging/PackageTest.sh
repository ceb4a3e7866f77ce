#!/usr/bin/env bash
# The .deb as a site lives with it: tools/package-deb builds it, dpkg installs
# it into a scratch root, an ordinary user in the group movik runs the
# installed program against the visitor service and an SQLite database, and
# then the package is upgraded, removed, installed again and purged. The
# site's files and the log must come through every step untouched, and the
# program directory must stay writable for the group.
#
#   PackageTest.sh BUILD_DIR VISITOR_SERVICE VERSION COMMIT
#
# Needs root (or sudo without a password) to add the user and the group;
# exits 77 (skipped) otherwise. MOVIK_KEEP_TEST_DIR=1 keeps the scratch
# directory for a look afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
# The banner as the program writes it, from the one constant that holds it.
banner=$(sed -n 's/.*BannerLine = "\(.*\)";.*/\1/p' "$root/src/core/Startup.h")
service_program=$2
version=$3
commit=$4
# What shipped before every build had its own version.
shipped=1.0.0.1

if [ "$(id -u)" -ne 0 ]; then
  if sudo -n true 2>/dev/null; then
    exec sudo -n "$0" "$@"
  fi
  echo "SKIPPED: installing the package and adding a user need root or sudo without a password"
  exit 77
fi

work=$(mktemp -d /tmp/movik-package-test.XXXXXX)
chmod 755 "$work"
user="movik-t$$"
service_pid=""
program_pid=""
cleanup() {
  [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null || true
  [ -n "$service_pid" ] && kill "$service_pid" 2>/dev/null || true
  wait 2>/dev/null || true
  userdel "$user" 2>/dev/null || true
  if [ "${MOVIK_KEEP_TEST_DIR:-0}" = 1 ]; then echo "kept $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { # check DESCRIPTION COMMAND...
  local what=$1; shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
started=$(date +%s)
step() { echo; echo "== $* ($(( $(date +%s) - started )) s)"; }

step "building the package of the programs built in $build"
deb=$(MOVIK_BUILD_DIR="$build" MOVIK_PACKAGE_NO_BUILD=1 "$root/tools/package-deb" "$work/deb" 2>"$work/package-deb.err") ||
  { cat "$work/package-deb.err"; exit 1; }
echo "$deb"
check "package version is the build's ($version)" test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "$version sorts above what shipped ($shipped)" dpkg --compare-versions "$version" gt "$shipped"
check "the file is named by its version" test "$(basename "$deb")" = "movik_${version}_amd64.deb"
# The release that shipped as $shipped: the same files under its version,
# to upgrade from.
mkdir "$work/old"
dpkg-deb -R "$deb" "$work/old/tree"
sed -i "s/^Version: .*/Version: $shipped/" "$work/old/tree/DEBIAN/control"
old_deb="$work/old/movik_${shipped}_amd64.deb"
dpkg-deb -b "$work/old/tree" "$old_deb" >/dev/null

# A scratch root whose package database is this machine's, so the package's
# dependencies are checked against what is really installed.
inst="$work/root"
admin="$work/admin"
mkdir -p "$inst" "$admin/info" "$admin/updates" "$admin/triggers"
cp /var/lib/dpkg/status "$admin/status"
touch "$admin/available" "$admin/statoverride"
pkg() {
  local status=0
  dpkg --instdir="$inst" --admindir="$admin" --force-script-chrootless --log=/dev/null "$@" \
    > "$work/dpkg.out" 2>&1 || status=$?
  # The scratch database lists no files of the machine's packages: dpkg says
  # so for each of them, which is noise here.
  grep -v "files list file for package" "$work/dpkg.out" || true
  return "$status"
}
installed() { dpkg-query --admindir="$admin" -W -f='${Status}' movik 2>/dev/null; }
dir="$inst/opt/movik"

step "installing the release that shipped ($shipped)"
check "dpkg installs the package (its dependencies are met)" pkg -i "$old_deb"
check "package is installed" test "$(installed)" = "install ok installed"
for f in movik movik-mktab movik.ini.example aliases.ini.example docs/README.md docs/deploy.md; do
  check "installed $f" test -f "$dir/$f"
done
check "no movik.ini or aliases.ini of the package's own" test ! -e "$dir/movik.ini" -a ! -e "$dir/aliases.ini"
check "group movik exists" getent group movik
mode() { stat -c '%U:%G %a' "$dir"; }
check "program directory is root:movik 2775" test "$(mode)" = "root:movik 2775"

step "the session files"
unit="$inst/usr/lib/systemd/user/movik.service"
desktop="$inst/usr/share/applications/movik.desktop"
check "unit installed" test -f "$unit"
check "desktop entry installed" test -f "$desktop"
check "unit restarts on failure, not a second copy" \
  grep -qzP 'Restart=on-failure\nRestartSec=10\nRestartPreventExitStatus=3 4\n' "$unit"
check "unit belongs to the graphical session" grep -qx 'PartOf=graphical-session.target' "$unit"
check "desktop entry is skipped where systemd runs the unit" grep -qx 'X-systemd-skip=true' "$desktop"
check "desktop entry starts the program" grep -qx 'Exec=/opt/movik/movik' "$desktop"
check "desktop-file-validate finds nothing" test -z "$(desktop-file-validate "$desktop" 2>&1)"
# systemd-analyze checks that the command exists, so the unit is checked
# with its paths moved into the scratch root. It only warns about a bad key,
# so any output is a failure.
sed "s|/opt/movik|$dir|g" "$unit" > "$work/movik.service"
mkdir -p "$work/runtime"
check "systemd-analyze --user verify finds nothing" \
  test -z "$(XDG_RUNTIME_DIR="$work/runtime" systemd-analyze --user verify "$work/movik.service" 2>&1)"

step "an ordinary user in the group movik"
useradd --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin --groups movik "$user"
check "$user is not root and is in movik" bash -c "[ \"\$(id -u $user)\" -ne 0 ] && id -nG $user | grep -qw movik"

step "the visitor service"
today=$(date -u +%Y-%m-%d)
visitor() { echo "{\"VisitorId\":\"V-$1\",\"VisitStart\":\"${today}T08:00:00Z\",\"VisitEnd\":\"${today}T17:00:00Z\",\"CardNumber\":\"$1\"}"; }
echo "[$(visitor 7001)]" > "$work/visitors.json"
token="package-test-$RANDOM"
"$service_program" --port 0 --token "$token" --seed "$work/visitors.json" --quiet --exit-with-parent \
  > "$work/service.out" 2> "$work/service.err" &
service_pid=$!
port=""
for _ in $(seq 1 100); do
  port=$(head -n 1 "$work/service.out" 2>/dev/null || true)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the visitor service did not start:"; cat "$work/service.err"; exit 1; }
url="http://127.0.0.1:$port"
queued() { curl -s "$url/_control/queue" | grep -c '"VisitorId"' || true; }

step "the site's files, as docs/deploy.md has an administrator make them"
sed -e "s|^CurlURL=.*|CurlURL=$url/|" -e 's|^Debug=.*|Debug=1|' "$dir/movik.ini.example" > "$dir/movik.ini"
printf '[Morvane]\nDriver=sqlite\nDatabase=dortex.db\n' > "$dir/aliases.ini"
printf '%s\r\n' "$token" > "$dir/_\$wak"
"$inst/usr/bin/movik-mktab" -o "$dir/morvane.tab" dortex secret
chmod 640 "$dir/_\$wak" "$dir/morvane.tab"
sqlite3 "$dir/dortex.db" < "$root/tools/dortex-schema.sql"
chmod g+w "$dir/dortex.db"
check "a file made in the directory takes the group movik" test "$(stat -c %G "$dir/dortex.db")" = movik

# "${as_user[@]}" COMMAND...: COMMAND as the user, with the user's groups and
# no more of this environment than a program started from a session has.
as_user=(setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups
  env -i PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime")

step "checking the setup as $user"
check "movik --version says $version and its commit" \
  test "$("${as_user[@]}" "$inst/usr/bin/movik" --version)" = "MOVIK $version (commit $commit)"
check_status=0
"${as_user[@]}" "$inst/usr/bin/movik" --check > "$work/check.out" 2>&1 || check_status=$?
cat "$work/check.out"
check "movik --check passes every item" test "$check_status" = 0
check "the user reads the credentials file" grep -q "credentials.*read, user dortex" "$work/check.out"

# run_program CARD: the installed program, started through /usr/bin/movik
# as the user, until CARD is imported and acknowledged (or a minute passes).
run_program() {
  local card=$1
  (cd / && exec "${as_user[@]}" "$inst/usr/bin/movik") > "$work/program.out" 2>&1 &
  program_pid=$!
  local deadline=$(( $(date +%s) + 60 ))
  while [ "$(date +%s)" -lt "$deadline" ]; do
    if ! kill -0 "$program_pid" 2>/dev/null; then
      echo "the program stopped by itself:"; cat "$work/program.out"; break
    fi
    if grep -q "Q.Ack - $card" "$dir/MOVIK.log" 2>/dev/null && [ "$(queued)" -eq 0 ]; then
      break
    fi
    sleep 0.5
  done
  kill "$program_pid" 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  program_pid=""
}
imported() { sqlite3 "$dir/dortex.db" "select count(*) from int_card_import where card_number='$1'"; }

step "running the installed program as $user"
run_program 7001
check "the visitor's card was written" test "$(imported 7001)" = 1
check "the visitor was acknowledged" test "$(queued)" -eq 0
check "MOVIK.log was written by $user" test "$(stat -c %U "$dir/MOVIK.log" 2>/dev/null)" = "$user"
check "MOVIK.log starts with the banner" grep -qF -- "$banner"$'\r' "$dir/MOVIK.log"
check "MOVIK.log names the build after the banner" \
  grep -q "^[0-9/]* [0-9:]* Version $version (commit $commit)"$'\r'"\$" "$dir/MOVIK.log"
check "MOVIK.log has the import" grep -q "Vlist.DX: 7001 imported" "$dir/MOVIK.log"
check "the database was opened" grep -q "DB Open - OK" "$dir/MOVIK.log"
# The journal and the status file are the program's too; where this build
# has not written them, stand-ins make sure the package leaves them alone.
for f in movik.journal movik.status; do
  [ -e "$dir/$f" ] || "${as_user[@]}" sh -c "echo stand-in > '$dir/$f'"
done

site_files=(movik.ini aliases.ini morvane.tab "_\$wak" movik.journal movik.status MOVIK.log dortex.db)
fingerprint() { (cd "$dir" && sha256sum "${site_files[@]}" 2>&1); }
check_kept() { # check_kept STEP: the site's files are all there, unchanged
  local now
  now=$(fingerprint)
  if [ "$now" = "$before" ]; then
    echo "ok: $1 kept ${site_files[*]}"
  else
    fail "$1 changed the site's files:"; diff <(echo "$before") <(echo "$now") || true
  fi
  check "$1 keeps the directory root:movik 2775" test "$(mode)" = "root:movik 2775"
}
before=$(fingerprint)

step "upgrading from $shipped to $version"
check "dpkg upgrades" pkg -i "$deb"
check "one movik installed, at $version" test "$(dpkg-query --admindir="$admin" -W -f='${Version}' movik)" = "$version"
check "the upgrade says how a running MOVIK gets the new program" grep -q "upgraded from $shipped" "$work/dpkg.out"
check_kept "the upgrade"
check "the program is still there" test -x "$dir/movik"
check "installing the same version again" pkg -i "$deb"
check_kept "installing the same version again"

step "running again after the upgrade"
curl -s -o /dev/null -X POST --data "[$(visitor 7002)]" "$url/_control/visitors"
run_program 7002
check "the new visitor's card was written" test "$(imported 7002)" = 1
check "the log goes on: it holds both runs" test "$(grep -cF -- "$banner" "$dir/MOVIK.log")" = 2
before=$(fingerprint)

step "removing"
check "dpkg removes" pkg -r movik
check "package is no longer installed" test "$(installed)" != "install ok installed"
for f in movik movik-mktab movik.ini.example docs/README.md; do
  check "removed $f" test ! -e "$dir/$f"
done
check "removed /usr/bin/movik" test ! -e "$inst/usr/bin/movik" -a ! -L "$inst/usr/bin/movik"
check "removed the unit" test ! -e "$unit"
check_kept "removal"

step "installing again"
check "dpkg installs again" pkg -i "$deb"
check_kept "installing again"

step "purging"
check "dpkg purges" pkg -P movik
check "package is gone" test -z "$(installed)"
check "purge leaves the site's files" test "$(fingerprint)" = "$before"
check "purge forgets the directory's mode" test ! -s "$admin/statoverride"

echo
if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed; the end of MOVIK.log:"
  tail -n 20 "$dir/MOVIK.log" 2>/dev/null || true
  exit 1
fi
echo "all checks passed"
