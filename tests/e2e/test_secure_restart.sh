#!/usr/bin/env bash
# The huge-page start over in a secure-execution process: the C library strips
# GLIBC_TUNABLES from a program that is setuid or has file capabilities when
# another user runs it, so the tunable cannot say that the start over has
# happened. The demo must start over at most once and then go on (here: say
# that there is no display and exit), not start itself over forever.
. "$(dirname "$0")/lib.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "secure restart: skipped: handing out a setuid bit or a file capability needs root"
  exit 0
fi
if ! grep -q '\[madvise\]' /sys/kernel/mm/transparent_hugepage/enabled 2>/dev/null; then
  echo "secure restart: skipped: huge pages are not handed out on request here, so the demo never starts over"
  exit 0
fi
command -v setpriv >/dev/null || e2e_fail "setpriv (util-linux) is missing"

# Another user must reach the copies.
chmod 711 "$E2E_TMP"
ran=()
for how in capability setuid; do
  copy="$E2E_TMP/demo-$how"
  cp "$DEMO_BIN" "$copy"
  chmod 755 "$copy"
  if [ "$how" = capability ]; then
    command -v setcap >/dev/null || { echo "secure restart: setcap (libcap2-bin) is missing; capability case skipped"; continue; }
    # A capability nobody needs for anything here; its presence alone makes
    # the start a secure one.
    setcap cap_net_bind_service=ep "$copy" 2>"$E2E_TMP/setcap.err" || {
      echo "secure restart: this file system keeps no file capabilities ($(cat "$E2E_TMP/setcap.err")); case skipped"
      continue
    }
  else
    chown daemon "$copy" && chmod 4755 "$copy"
  fi
  # The C library must really run it in secure-execution mode, else the case
  # proves nothing: a mount with nosuid, say, drops the setuid bit.
  : >"$E2E_TMP/demo.err"
  chmod 666 "$E2E_TMP/demo.err"
  start=$SECONDS
  env -u DISPLAY -u WAYLAND_DISPLAY timeout -s KILL 60 \
    setpriv --reuid=nobody --regid=nogroup --clear-groups -- "$copy" --window 320x180 \
    >/dev/null 2>"$E2E_TMP/demo.err"
  code=$?
  [ "$code" -ne 137 ] || e2e_fail "$how: the demo was still starting itself over after 60 s"
  grep -qi "display" "$E2E_TMP/demo.err" ||
    e2e_fail "$how: exit code $code without the line about the missing display"
  ran+=("$how in $((SECONDS - start)) s")
done
[ "${#ran[@]}" -gt 0 ] || { echo "secure restart: skipped: no case could be set up"; exit 0; }
echo "secure restart: the demo ended by itself as another user (${ran[*]})"
