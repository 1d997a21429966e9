#!/bin/sh
# Starts or stops the simulated wrist unit for the Windows end-to-end test.
#   sim_vivezore.sh start SIMULATOR LINK SETTINGS PIDFILE
# The simulator's send log goes beside SETTINGS as vivezore_sent.txt.
#   sim_vivezore.sh stop PIDFILE
# LINK is the COM port's entry in the Wine prefix's dosdevices; the simulator
# keeps it pointing at its pseudo-terminal. It runs detached from CTest's
# output pipes, which CTest would otherwise wait on.
set -eu
case $1 in
start)
  sim=$2 link=$3 settings=$4 pidfile=$5
  [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  mkdir -p "$(dirname "$link")" "$(dirname "$settings")"
  rm -f "$link"
  echo "watchdog_ms = 0" >"$settings"
  log="$pidfile.log"
  sent="$(dirname "$settings")/vivezore_sent.txt"
  setsid "$sim" --link "$link" --settings "$settings" --send-log "$sent" --quiet \
    >"$log" 2>&1 </dev/null &
  echo $! >"$pidfile"
  for _ in $(seq 100); do
    [ -L "$link" ] && exit 0
    sleep 0.05
  done
  cat "$log"
  exit 1
  ;;
stop)
  if [ -f "$2" ]; then
    pid=$(cat "$2")
    kill "$pid" 2>/dev/null || true
    # It removes its link on the way out.
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
  fi
  rm -f "$2" "$2.log"
  ;;
esac
