#!/bin/sh
# Runs a Linux program for a Windows test under Wine. Wine starts a Linux program from
# CreateProcess but gives the Windows side no handle to wait for it or end it, so this keeps its
# process id and, once it has ended, its exit status in files beside PIDFILE, ends it when asked,
# and bounds its life in case the test that started it is killed first.
#   run-native.sh start PIDFILE SECONDS PROGRAM [ARGUMENT...]   (PIDFILE.exit: the exit status)
#   run-native.sh stop PIDFILE                                    (SIGTERM)
set -u
case "${1:-}" in
start)
  pidfile=$2 seconds=$3
  shift 3
  timeout "$seconds" "$@" &
  child=$!
  echo "$child" > "$pidfile.tmp" && mv "$pidfile.tmp" "$pidfile"
  wait "$child"
  echo "$?" > "$pidfile.exit.tmp" && mv "$pidfile.exit.tmp" "$pidfile.exit"
  ;;
stop)
  kill -TERM "$(cat "$2")"
  ;;
*)
  echo "usage: run-native.sh start PIDFILE SECONDS PROGRAM [ARGUMENT...] | stop PIDFILE" >&2
  exit 2
  ;;
esac
