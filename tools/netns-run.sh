#!/bin/sh
# Runs a command in a private network namespace of its own: loopback up, and
# a veth pair carrying the test address 10.231.0.1/24, which the server then
# discovers as the host's address. Nothing in it reaches the host's network.
# Usage: tools/netns-run.sh COMMAND [ARG...]
set -e
if [ "${HARBORLIGHT_NETNS:-}" = 1 ]; then
  exec "$@"
fi
export HARBORLIGHT_NETNS=1
exec unshare --net -- sh -c '
  ip link set lo up
  ip link add hl0 type veth peer name hl1
  ip addr add 10.231.0.1/24 dev hl0
  ip link set hl0 up
  ip link set hl1 up
  exec "$@"' netns-run "$@"
