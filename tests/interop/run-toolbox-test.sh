#!/usr/bin/env bash
# IBM's Toolbox for Java (JTOpen 9.1, the jar inside node-jt400 7.0.1) against the IBM i
# host servers of tavo400-hostd, at each password level that Toolbox can sign on with
# (it has no level 4). Never skips: a missing tool, a jar that cannot be fetched or
# does not match its checksum, or any difference fails the run.
#
# Usage: run-toolbox-test.sh TAVO400-HOSTD WORK-DIR
set -euo pipefail

hostd=${1:?usage: run-toolbox-test.sh TAVO400-HOSTD WORK-DIR}
work=${2:?usage: run-toolbox-test.sh TAVO400-HOSTD WORK-DIR}
here=$(cd "$(dirname "$0")" && pwd)

package=node-jt400@7.0.1
jar_sha256=4cf9f0492db9a48eb25331bba396b73658fa226d819d574be6e0105881244241
levels=(0 2 3)
# The oldest host generation (no sign-on messages, fixed call messages) and the current one.
host_levels=(2 18)

fail() {
  echo "Interop.Toolbox FAILED${host_level:+ at host level $host_level}: $*" >&2
  exit 1
}

daemon=
scratch=
cleanup() {
  if [ -n "$daemon" ] && kill -0 "$daemon" 2>/dev/null; then
    kill -TERM "$daemon" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$daemon" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$daemon" 2>/dev/null || true
  fi
  [ -z "$scratch" ] || rm -rf "$scratch"
}
trap cleanup EXIT

[ -x "$hostd" ] || fail "no tavo400-hostd at $hostd"
for tool in npm tar sha256sum javac java timeout; do
  command -v "$tool" >/dev/null 2>&1 || fail "'$tool' is not installed (scripts/install-deps installs it)"
done

mkdir -p "$work"
work=$(cd "$work" && pwd)
jar=$work/jt400.jar
started=$(date +%s%N)

sha_of() { sha256sum "$1" | cut -d' ' -f1; }

# The jar is code we run: whatever its origin, it must be exactly the audited one.
if [ -f "$jar" ] && [ "$(sha_of "$jar")" != "$jar_sha256" ]; then
  echo "cached $jar does not match sha256 $jar_sha256; fetching it again"
  rm -f "$jar"
fi
if [ ! -f "$jar" ]; then
  scratch=$(mktemp -d)
  echo "fetching $package with npm"
  if ! tarball=$(cd "$scratch" &&
      npm_config_cache="$work/npm-cache" npm_config_update_notifier=false npm_config_fund=false \
      npm_config_audit=false timeout 180 npm pack --loglevel=error "$package" 2>"$scratch/npm.err"); then
    cat "$scratch/npm.err" >&2
    fail "cannot fetch $package from the npm registry"
  fi
  tarball=$(printf '%s\n' "$tarball" | tail -n 1)
  tar -xzf "$scratch/$tarball" -C "$scratch" package/java/lib/jt400.jar ||
    fail "$package ($tarball) holds no package/java/lib/jt400.jar"
  got=$(sha_of "$scratch/package/java/lib/jt400.jar")
  [ "$got" = "$jar_sha256" ] ||
    fail "jt400.jar from $package has sha256 $got, not $jar_sha256; refusing to run it"
  mv -f "$scratch/package/java/lib/jt400.jar" "$jar.part"
  mv -f "$jar.part" "$jar"
  rm -rf "$scratch"
  scratch=
fi
[ "$(sha_of "$jar")" = "$jar_sha256" ] || fail "$jar changed under us"
echo "jt400.jar sha256 $jar_sha256"

rm -rf "$work/classes"
mkdir -p "$work/classes"
javac -nowarn -cp "$jar" -d "$work/classes" "$here/ToolboxClient.java" ||
  fail "ToolboxClient.java does not compile against jt400.jar"

show() { sed "s/^/[$1] /" "$2"; }

for host_level in "${host_levels[@]}"; do
for level in "${levels[@]}"; do
  run=$work/host$host_level-level$level
  rm -rf "$run"
  mkdir -p "$run"
  db=$run/host.db
  level_started=$(date +%s%N)

  "$hostd" init --db "$db" --demo >"$run/init.log" 2>&1 || { cat "$run/init.log" >&2; fail "level $level: init --demo failed"; }
  printf 'secret42\n' | "$hostd" user add OPER --db "$db" --password-level "$level" >"$run/user.log" 2>&1 ||
    { cat "$run/user.log" >&2; fail "level $level: user add OPER failed"; }

  "$hostd" serve --db "$db" --listen 127.0.0.1:0 --ibmi 127.0.0.1:0 --password-level "$level" \
    --host-level "$host_level" --port-file "$run/ports" >"$run/hostd.log" 2>&1 &
  daemon=$!
  for _ in $(seq 200); do
    [ -f "$run/ports" ] && break
    kill -0 "$daemon" 2>/dev/null || { show hostd "$run/hostd.log" >&2; fail "level $level: tavo400-hostd serve --ibmi exited at start"; }
    sleep 0.1
  done
  [ -f "$run/ports" ] || { show hostd "$run/hostd.log" >&2; fail "level $level: no port file within 20 s"; }
  mapper=$(sed -n 2p "$run/ports")
  [[ "$mapper" =~ ^[0-9]+$ ]] || fail "level $level: the port file has no port-mapper port on its second line: $(cat "$run/ports")"

  status=0
  change=() # AS400.changePassword where the 9.1 Toolbox protects passwords with SHA-1
  [ "$level" -lt 2 ] || change=(newpass42)
  timeout 150 java -Djava.awt.headless=true -cp "$jar:$work/classes" ToolboxClient 127.0.0.1 "$mapper" OPER secret42 "${change[@]}" \
    >"$run/client.out" 2>"$run/client.err" || status=$?
  echo "--- host level $host_level, password level $level: Toolbox client (exit $status)"
  show client "$run/client.out"

  kill -TERM "$daemon" 2>/dev/null || true
  stopped=0
  wait "$daemon" || stopped=$?
  daemon=

  if [ "$status" -ne 0 ] || [ "$(tail -n 1 "$run/client.out")" != "OK" ]; then
    show client-stderr "$run/client.err" >&2
    show hostd "$run/hostd.log" >&2
    fail "level $level: the Toolbox client failed: $(grep -m1 '^FAIL' "$run/client.out" || echo "exit $status")"
  fi
  [ "$stopped" -eq 0 ] || { show hostd "$run/hostd.log" >&2; fail "level $level: tavo400-hostd exited with $stopped on SIGTERM"; }

  [ "$(grep -c '^SENT ' "$run/client.out")" -eq 1 ] || fail "level $level: the client printed no single SENT line"
  sent=$(sed -n 's/^SENT //p' "$run/client.out" | tr 'A-F' 'a-f')
  [ "${#sent}" -eq 3024 ] || fail "level $level: SENT holds ${#sent} hex digits, not 3024 (1512 bytes)"

  "$hostd" outbox --db "$db" --json >"$run/outbox.json" 2>"$run/outbox.err" ||
    { cat "$run/outbox.err" >&2; fail "level $level: outbox --json failed"; }
  grep -o '"rawRecord": *"[0-9A-Fa-f]*"' "$run/outbox.json" | sed 's/.*"\([0-9A-Fa-f]*\)"$/\1/' | tr 'A-F' 'a-f' \
    >"$run/raw" || true
  stored=$(wc -l <"$run/raw")
  # The refused message must have left nothing behind.
  [ "$stored" -eq 1 ] || { cat "$run/outbox.json" >&2; fail "level $level: the outbox holds $stored messages, not 1"; }
  if [ "$(cat "$run/raw")" != "$sent" ]; then
    echo "sent:   $sent" >&2
    echo "stored: $(cat "$run/raw")" >&2
    fail "level $level: the stored record differs from the bytes the Toolbox sent"
  fi
  echo "--- host level $host_level, password level $level: outbox holds exactly the record sent ($(( ($(date +%s%N) - level_started) / 1000000 )) ms)"
done
done

echo "Interop.Toolbox passed at host levels ${host_levels[*]}, password levels ${levels[*]} in $(( ($(date +%s%N) - started) / 1000000 )) ms"
