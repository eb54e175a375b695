# Shared set-up of the end-to-end tests and the demo: a private Wine prefix with its own
# persistent wineserver, a private Xvfb display, COM ports registered in that prefix, fxsim on
# pseudo-terminals, and the driver. Source it, then call e2e_setup; e2e_cleanup runs on exit.
# Only processes started here are stopped, each by its own id (and the prefix's own wineserver).

E2E_HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_NATIVE_BIN=${NERIO_NATIVE_BIN:-$E2E_HERE/build/linux/bin}
E2E_WIN_BIN=${NERIO_WINDOWS_BIN:-$E2E_HERE/build/windows/bin}
E2E_TEMPLATE=${NERIO_WINEPREFIX:-$E2E_HERE/build/wineprefix}
E2E_DRIVER=$E2E_WIN_BIN/nerio_e2e_driver.exe
E2E_SAMPLE=$E2E_HERE/tools/nerio-pack/samples/conveyor.bin
# Waits, in milliseconds, for the dialog to come up and for a message box to appear.
E2E_START_MS=30000
E2E_BOX_MS=20000

E2E_PIDS=()
E2E_FAILURES=0
E2E_SIM_PID=""

e2e_log() { echo "$*" >&2; }

e2e_setup() {
  E2E_WORK=$(mktemp -d /tmp/nerio-e2e.XXXXXX)
  E2E_MAIN_PID=$BASHPID
  trap e2e_cleanup EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  # The project's prefix is the template: made once, then linked file by file (its registry
  # copied), so every run starts from the same state in a few milliseconds.
  if [ ! -f "$E2E_TEMPLATE/system.reg" ]; then
    "$E2E_HERE/scripts/wine-run" "$E2E_DRIVER" langid >/dev/null
    WINEPREFIX=$E2E_TEMPLATE wineserver -w || true
  fi
  export WINEPREFIX=$E2E_WORK/prefix
  mkdir -p "$WINEPREFIX/dosdevices"
  cp -al "$E2E_TEMPLATE/drive_c" "$WINEPREFIX/"
  cp -a "$E2E_TEMPLATE"/*.reg "$E2E_TEMPLATE/.update-timestamp" "$WINEPREFIX/" 2>/dev/null || true
  if [ -n "${E2E_DESKTOP:-}" ]; then
    # Every window of the prefix on one virtual desktop that Wine draws itself, frames included.
    {
      echo
      echo '[Software\\Wine\\Explorer] 0'
      echo '"Desktop"="Default"'
      echo
      echo '[Software\\Wine\\Explorer\\Desktops] 0'
      echo "\"Default\"=\"$E2E_DESKTOP\""
    } >>"$WINEPREFIX/user.reg"
  fi
  if [ -n "${E2E_DIALOG_FONT:-}" ]; then
    # The face that stands in for "MS Shell Dlg" (Wine's default is its own Tahoma).
    sed -i "s/^\"MS Shell Dlg\"=.*/\"MS Shell Dlg\"=\"$E2E_DIALOG_FONT\"/" "$WINEPREFIX/system.reg"
  fi
  ln -s ../drive_c "$WINEPREFIX/dosdevices/c:"
  ln -s / "$WINEPREFIX/dosdevices/z:"
  # A private display.
  exec {fd}>"$E2E_WORK/display"
  Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  E2E_PIDS+=($!)
  local n
  for n in $(seq 100); do [ -s "$E2E_WORK/display" ] && break; sleep 0.05; done
  exec {fd}>&-
  export DISPLAY=:$(head -1 "$E2E_WORK/display")
  wineserver -p >/dev/null 2>&1
  E2E_WINESERVER=1
  # The first program of a prefix starts its system services, which keep the descriptors they
  # inherit: let them inherit nothing that a caller waits on.
  wine "$E2E_DRIVER" langid >/dev/null 2>&1 </dev/null
}

e2e_cleanup() {
  local status=$?
  # Subshells of the script run this trap too; only the script itself cleans up.
  [ "$BASHPID" = "$E2E_MAIN_PID" ] || return 0
  e2e_stop_sim
  if [ -n "${E2E_WINESERVER:-}" ]; then wineserver -k >/dev/null 2>&1 || true; fi
  local pid
  for pid in "${E2E_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${E2E_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  [ -n "${E2E_KEEP:-}" ] || rm -rf "$E2E_WORK"
  exit "$status"
}

# e2e_ports NAME=TARGET...: the registry's port list, in this order, and where each port leads
# (a path; a missing one makes the port impossible to open). No arguments: no ports at all.
e2e_ports() {
  local key='HKLM\Hardware\DeviceMap\SerialComm' i=0 entry name target
  # The key itself is volatile and cannot be made again: only its values go.
  wine reg delete "$key" /va /f >/dev/null 2>&1 || true
  for entry in "$@"; do
    name=${entry%%=*}
    target=${entry#*=}
    wine reg add "$key" /v "\\Device\\NerioSerial$i" /t REG_SZ /d "$name" /f >/dev/null 2>&1
    ln -sfn "$target" "$WINEPREFIX/dosdevices/$(echo "$name" | tr 'A-Z' 'a-z')"
    i=$((i + 1))
  done
}

# e2e_start_sim PROFILE ARGS...: fxsim on $E2E_WORK/plc (control pty $E2E_WORK/ctl), with a
# transcript and a dump in $E2E_WORK; its summary line goes to $E2E_WORK/sim.out.
e2e_start_sim() {
  local profile=$1
  shift
  rm -f "$E2E_WORK/sim.transcript" "$E2E_WORK/sim.dump"
  "$E2E_NATIVE_BIN/fxsim" --profile "$profile" --link "$E2E_WORK/plc" --control "$E2E_WORK/ctl" \
    --transcript "$E2E_WORK/sim.transcript" --dump "$E2E_WORK/sim.dump" "$@" \
    >"$E2E_WORK/sim.out" 2>"$E2E_WORK/sim.err" &
  E2E_SIM_PID=$!
  local n
  for n in $(seq 100); do [ -e "$E2E_WORK/ctl" ] && [ -e "$E2E_WORK/plc" ] && return 0; sleep 0.05; done
  e2e_log "fxsim did not start: $(cat "$E2E_WORK/sim.err")"
  return 1
}

# e2e_sim COMMAND: one control command; prints the reply lines.
e2e_sim() {
  local line
  exec {ctl}<>"$E2E_WORK/ctl"
  printf '%s\n' "$*" >&$ctl
  while IFS= read -r -t 5 line <&$ctl; do
    line=${line%$'\r'}
    [ "$line" = . ] && break
    printf '%s\n' "$line"
  done
  exec {ctl}>&-
}

# Stops fxsim (its dump and summary are written then).
e2e_stop_sim() {
  if [ -n "$E2E_SIM_PID" ]; then
    kill -TERM "$E2E_SIM_PID" 2>/dev/null || true
    wait "$E2E_SIM_PID" 2>/dev/null || true
    E2E_SIM_PID=""
  fi
}

# e2e_pack DELIVERABLE [PROGRAM]: a sealed downloader in $E2E_WORK/app/; prints its path.
e2e_pack() {
  local d=$1 program=${2:-$E2E_SAMPLE}
  mkdir -p "$E2E_WORK/app"
  "$E2E_NATIVE_BIN/nerio-pack" "$E2E_WIN_BIN/$d.exe" "$program" -o "$E2E_WORK/app/$d.exe" \
    --replace >/dev/null
  echo "$E2E_WORK/app/$d.exe"
}

# e2e_launch EXE [LANG]: starts the downloader (English unless LANG is zh).
e2e_launch() {
  local exe=$1 lang=${2:-en}
  if [ "$lang" = zh ]; then
    LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$exe" >/dev/null 2>&1 &
  else
    LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 wine "$exe" >/dev/null 2>&1 &
  fi
  E2E_APP_PID=$!
  E2E_PIDS+=($E2E_APP_PID)
  E2E_APP_LANG=$lang
}

# e2e_drive STEPS...: runs the driver in the language of the last launch; output in $OUT.
e2e_drive() {
  local status
  if [ "${E2E_APP_LANG:-en}" = zh ]; then
    OUT=$(LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 wine "$E2E_DRIVER" "$@" 2>&1)
  else
    OUT=$(LANG=en_US.UTF-8 LC_ALL=en_US.UTF-8 wine "$E2E_DRIVER" "$@" 2>&1)
  fi
  status=$?
  OUT=${OUT//$'\r'/}
  if [ "$status" -ne 0 ]; then
    e2e_fail "driver $* -> $status"
    printf '%s\n' "$OUT" | sed 's/^/     /' >&2
  fi
  return $status
}

# Waits until the program of the last launch has ended; fails after MS milliseconds.
e2e_wait_exit() {
  local ms=${1:-10000} n=0
  while kill -0 "$E2E_APP_PID" 2>/dev/null; do
    n=$((n + 100))
    if [ "$n" -ge "$ms" ]; then e2e_fail "program still running after ${ms} ms"; return 1; fi
    sleep 0.1
  done
  return 0
}

e2e_fail() {
  echo "FAIL $*"
  E2E_FAILURES=$((E2E_FAILURES + 1))
}

# e2e_expect NAME TEXT: the last driver output holds TEXT (a whole line when it starts with ^).
e2e_expect() {
  if grep -qF -- "$2" <<<"$OUT"; then
    echo "ok   $1"
  else
    e2e_fail "$1: missing '$2'"
    printf '%s\n' "$OUT" | sed 's/^/     /'
  fi
}

e2e_expect_not() {
  if grep -qF -- "$2" <<<"$OUT"; then
    e2e_fail "$1: unexpected '$2'"
    printf '%s\n' "$OUT" | sed 's/^/     /'
  else
    echo "ok   $1"
  fi
}

e2e_check() {  # e2e_check NAME COMMAND...: the command succeeds
  if "${@:2}"; then echo "ok   $1"; else e2e_fail "$1"; fi
}

e2e_finish() {
  if [ "$E2E_FAILURES" -ne 0 ]; then
    echo "$(basename "$0"): $E2E_FAILURES failure(s)"
    exit 1
  fi
  echo "$(basename "$0"): all passed"
  exit 0
}
