#!/bin/sh
# Starts or stops the null-modem helper for the Windows serial tests.
#   null_modem.sh start HELPER DOSDEVICES PIDFILE comA comB ...
#   null_modem.sh stop PIDFILE
# The helper is detached from CTest's output pipes: CTest would otherwise wait
# for it to exit before finishing the start step.
set -eu
case $1 in
start)
  helper=$2 dosdevices=$3 pidfile=$4
  shift 4
  [ -f "$pidfile" ] && kill "$(cat "$pidfile")" 2>/dev/null || true
  mkdir -p "$dosdevices"
  ready="$pidfile.ready"
  rm -f "$ready"
  setsid "$helper" "$dosdevices" "$@" >"$ready" 2>&1 </dev/null &
  echo $! >"$pidfile"
  for _ in $(seq 100); do
    grep -q ready "$ready" 2>/dev/null && exit 0
    sleep 0.05
  done
  cat "$ready"
  exit 1
  ;;
stop)
  [ -f "$2" ] && kill "$(cat "$2")" 2>/dev/null || true
  rm -f "$2" "$2.ready"
  ;;
esac
