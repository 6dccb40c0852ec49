#!/usr/bin/env bash
# Crash consistency of the write-back on a real file system: a scratch ext4
# on a loop device behind device-mapper. The program runs there; the moment
# it has ended, every write that has not yet reached the device is thrown
# away (the table is switched to dm-flakey dropping all writes, as a power
# cut would), and the file system is mounted again from what the device holds.
# A run that ended with exit code 0 must have left each Workfile with exactly
# its new text: not empty, not old, not mixed. ext4 is mounted with
# noauto_da_alloc, so it does not flush a file renamed over another on its own
# behalf, and a long commit interval, so that only the program's flushes count.
#
# Usage: crash_consistency.sh PROGRAM
# Exit code 77 (skipped) with the reason on standard output when the machine
# cannot do this: not root, or no device-mapper with the flakey target.
set -euo pipefail

program=$1
skip() {
  echo "crash consistency: skipped: $*"
  exit 77
}

[ "$(id -u)" -eq 0 ] || skip "needs root for loop devices and device-mapper"
for tool in dmsetup losetup mkfs.ext4 mount umount blockdev; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
grep -qw device-mapper /proc/devices || modprobe dm-flakey >/dev/null 2>&1 ||
  skip "the kernel has no device-mapper (no device-mapper in /proc/devices, modprobe dm-flakey failed)"
modprobe dm-flakey >/dev/null 2>&1 || true
targets=$(dmsetup targets 2>&1) || skip "dmsetup targets failed: ${targets//$'\n'/ }"
grep -qw flakey <<<"$targets" || skip "device-mapper has no flakey target (targets: ${targets//$'\n'/, })"

work=$(mktemp -d /tmp/zubra32-crash.XXXXXX)
name=zubra32-crash-$$
loop=
cleanup() {
  mountpoint -q "$work/mnt" && umount "$work/mnt"
  dmsetup remove "$name" >/dev/null 2>&1 || true
  [ -n "$loop" ] && losetup -d "$loop"
  rm -rf "$work"
}
trap cleanup EXIT

truncate -s 64M "$work/disk.img"
loop=$(losetup -f --show "$work/disk.img")
sectors=$(blockdev --getsz "$loop")
dmsetup create "$name" --table "0 $sectors linear $loop 0"
mkfs.ext4 -q "/dev/mapper/$name"
mkdir "$work/mnt"
options=noauto_da_alloc,commit=300

# The Workfiles: one large enough to take many blocks, two in another
# directory, one named twice.
mount -o "$options" "/dev/mapper/$name" "$work/mnt"
mkdir "$work/mnt/one" "$work/mnt/two"
seq -f 'line %g of a Workfile of about a megabyte, long enough for many blocks' 1 2500 >"$work/mnt/one/big.txt"
printf 'rem a\r\n' >"$work/mnt/one/a.txt"
printf 'rem c\r\n' >"$work/mnt/two/c.txt"
printf '[one/big.txt]\r\nof a=+ (new)\r\n[two/c.txt]\r\nEND=new c\r\n[one/a.txt]\r\nEND=first\r\n[one/a.txt]\r\nEND=second\r\n' \
  >"$work/mnt/defs.txt"
expected_big=$(sed 's/$/ (new)\r/' "$work/mnt/one/big.txt")
sync

status=0
(cd "$work/mnt" && "$program" defs.txt >/dev/null) || status=$?
[ "$status" -eq 0 ] || { echo "crash consistency: the run ended with exit code $status"; exit 1; }

# The power cut: nothing more reaches the device. No file-system freeze and
# no flush on the way (--nolockfs --noflush).
dmsetup suspend --nolockfs --noflush "$name"
dmsetup load "$name" --table "0 $sectors flakey $loop 0 0 3600 1 drop_writes"
dmsetup resume "$name"
umount "$work/mnt"
dmsetup remove "$name"
dmsetup create "$name" --table "0 $sectors linear $loop 0"
mount -o "$options" "/dev/mapper/$name" "$work/mnt"

failures=0
check() {  # FILE EXPECTED
  local got
  got=$(cat "$work/mnt/$1" 2>/dev/null) || got="(missing)"
  if [ "$got" != "$2" ]; then
    echo "crash consistency: after the cut, $1 holds $(stat -c %s "$work/mnt/$1") bytes that are not its new text"
    failures=$((failures + 1))
  fi
}
check one/big.txt "$expected_big"
check two/c.txt $'rem c\r\nnew c\r'
check one/a.txt $'rem a\r\nfirst\r\nsecond\r'
leftovers=$(find "$work/mnt" -name '*.zubra32-*' | wc -l)
[ "$leftovers" -eq 0 ] || { echo "crash consistency: $leftovers temporary files left"; failures=$((failures + 1)); }
[ "$failures" -eq 0 ] || exit 1
echo "crash consistency: every Workfile holds its new text after a cut right after the run"
