#!/usr/bin/env bash
# Brings the virtual LAN up (again: it is idempotent), broadcasts from the
# workstation namespace, and checks that the host namespace saw no change.
set -euo pipefail
lan=$1
[ "$(id -u)" -eq 0 ] || { echo "host_untouched: not root; skipped"; exit 77; }

snapshot() {
  # Interface names and states, addresses, routes and neighbours; counters
  # left out since the host's own traffic moves them.
  ip -o link show | awk '{print $2, $3}'
  ip -o addr show | awk '{print $2, $3, $4}'
  ip route show table all
}

before=$(snapshot)
second=()
[ -n "${3:-}" ] && second=(--second "$3")
"$lan" up "${2:-4}" "${second[@]}" >/dev/null
"$lan" up "${2:-4}" "${second[@]}" >/dev/null
command -v python3 >/dev/null && "$lan" exec ws python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.sendto(b"discover", ("255.255.255.255", 49076))
'
ws_route=$("$lan" exec ws ip route show default)
after=$(snapshot)

if [ "$before" != "$after" ]; then
  echo "host_untouched: the host namespace changed:"
  diff <(echo "$before") <(echo "$after") || true
  exit 1
fi
case "$ws_route" in
  *"dev eth0"*) ;;
  *) echo "host_untouched: no default route via eth0 in the workstation namespace"; exit 1 ;;
esac
if ip -o link show | grep -qE 'v-(ws|dev|s2dev)|br[01]'; then
  echo "host_untouched: a virtual LAN interface is visible on the host"
  exit 1
fi
echo "host_untouched: host namespace unchanged"
