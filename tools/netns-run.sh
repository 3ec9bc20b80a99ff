#!/bin/sh
# Runs a command in a private network namespace of its own: loopback up, and
# a veth pair carrying the test address 10.231.0.1/24 with the default route,
# so that the server discovers that address as the host's, as a machine on a
# LAN would. Nothing in it reaches the host's network.
# The host's own name also resolves to the test address there (a private
# /etc/hosts in a mount namespace of its own): Wine falls back to the resolver
# when it cannot read the interfaces, and must find the same address then.
# Usage: tools/netns-run.sh COMMAND [ARG...]
set -e
if [ "${HARBORLIGHT_NETNS:-}" = 1 ]; then
  exec "$@"
fi
export HARBORLIGHT_NETNS=1
exec unshare --net --mount --propagation private -- sh -c '
  set -e
  ip link set lo up
  ip link add hl0 type veth peer name hl1
  ip addr add 10.231.0.1/24 dev hl0
  ip link set hl0 up
  ip link set hl1 up
  ip route add default dev hl0
  hosts=$(mktemp)
  printf "127.0.0.1 localhost\n10.231.0.1 %s\n" "$(hostname)" > "$hosts"
  mount --bind "$hosts" /etc/hosts
  rm -f "$hosts"
  set +e
  exec "$@"' netns-run "$@"
