#!/bin/sh
# with_adapter.sh WINE_RUN EXE:FILTER...
# Inside a loopback-only namespace (tools/netns/netns-run): gives the host
# name an adapter of its own (a veth pair that reaches nothing outside the
# namespace) with a known MAC, then runs the device-identity tests of each
# test program with TESS_EXPECT_MAC set to that MAC.
set -eu
wine_run=$1
shift
ip link add tessid0 type veth peer name tessid1
ip link set tessid0 address 02:54:45:53:53:31
ip addr add 10.77.0.2/24 dev tessid0
ip link set tessid0 up
ip link set tessid1 up
hosts=$(mktemp)
printf '127.0.0.1 localhost\n10.77.0.2 %s\n' "$(hostname)" >"$hosts"
mount --bind "$hosts" /etc/hosts
export TESS_EXPECT_MAC=025445535331
rc=0
for spec in "$@"; do
  exe=${spec%%:*}
  filter=${spec#*:}
  "$wine_run" "$exe" --gtest_filter="$filter" || rc=1
done
rm -f "$hosts"
exit $rc
