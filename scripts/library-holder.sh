#!/usr/bin/env bash
# Prints "PID (NAME)" of the process that holds the tavio32 library's
# one-process lock (an abstract Unix socket) and exits 0; exits 1 when no
# process holds it. A holder whose descriptors cannot be read shows as "?".
inode=$(awk '$NF == "@tavio32.one-process-lock" { print $7; exit }' /proc/net/unix 2>/dev/null)
[ -n "$inode" ] || exit 1
for fd in /proc/[0-9]*/fd/*; do
  if [ "$(readlink "$fd" 2>/dev/null)" = "socket:[$inode]" ]; then
    pid=${fd#/proc/}
    pid=${pid%%/*}
    echo "$pid ($(cat "/proc/$pid/comm" 2>/dev/null))"
    exit 0
  fi
done
echo "? (another user's program)"
exit 0
