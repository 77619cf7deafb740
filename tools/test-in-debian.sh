#!/usr/bin/env bash
# Runs the README's test command from a clean clone inside a fresh minimal Debian tree, as on a
# new machine of that release: it shows that the two README commands work on Debian 12 and 13.
# Takes a few minutes to make the tree and about as long as tools/test.sh itself; not part of CI.
#
#   tools/test-in-debian.sh bookworm|trixie [--reuse] [COMMAND...]     (as root)
#
# The tree is made with debootstrap under build/debian-RELEASE, and a clone of this repository's
# committed HEAD is placed in it at /root/quenvar. COMMAND (default tools/test.sh) runs there.
# --reuse   keep a tree an earlier run made, with what it installed (quicker, not fresh)
# QUENVAR_NO_32BIT=1 is passed in: the run then behaves as on a host without 32-bit support.
set -euo pipefail

usage() {
  sed -n 's/^#   //p' "${BASH_SOURCE[0]}" >&2
  exit 2
}
[[ $# -ge 1 ]] || usage
release=$1
shift
[[ $release == bookworm || $release == trixie ]] || usage
reuse=
if [[ ${1:-} == --reuse ]]; then
  reuse=1
  shift
fi
command=("$@")
[[ ${#command[@]} -gt 0 ]] || command=(tools/test.sh)
[[ $(id -u) -eq 0 ]] || { echo "test-in-debian.sh: needs root (debootstrap, chroot, mount)" >&2; exit 2; }
source_tree=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tree=$source_tree/build/debian-$release

# The tree's /proc, /dev and /tmp are mounted in a mount namespace of this run's own: the host
# never sees them under build/, and they go with the run however it ends.
# The namespace unshare made is named in QUENVAR_MOUNT_NS, so that no other one is taken for it.
if [[ ${QUENVAR_MOUNT_NS:-} != "$(readlink /proc/self/ns/mnt)" ]]; then
  # One run a tree, for the whole of its life: another run's namespace is invisible from here,
  # so only the lock tells that the tree is in use. What the run starts inherits the lock.
  mkdir -p "$source_tree/build"
  exec 9>"$tree.lock"
  if ! flock -n 9; then
    echo "test-in-debian.sh: build/debian-$release is in use by another run; nothing was touched" >&2
    exit 2
  fi
  exec unshare --mount --propagation private sh -c \
    'QUENVAR_MOUNT_NS=$(readlink /proc/self/ns/mnt) exec "$0" "$@"' \
    "${BASH_SOURCE[0]}" "$release" ${reuse:+--reuse} "${command[@]}"
fi

mirror=${QUENVAR_DEBIAN_MIRROR:-http://deb.debian.org/debian}

mounted() { grep -qF " $tree" /proc/mounts; }

mounts=()
cleanup() {
  # Whatever the run left running inside holds its mounts: end it first. It is found by this
  # run's namespace, which nothing outside the run is in; the list is read before any process
  # of the check itself starts.
  local p pids=()
  for p in /proc/[0-9]*; do
    [[ ${p#/proc/} != "$$" && $(readlink "$p/ns/mnt" 2>/dev/null) == "$QUENVAR_MOUNT_NS" ]] &&
      pids+=("${p#/proc/}")
  done
  [[ ${#pids[@]} -eq 0 ]] || kill -9 "${pids[@]}" 2>/dev/null || true
  sleep 0.5
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null || true
  done
  mounted && echo "test-in-debian.sh: mounts under $tree remain; see /proc/mounts" >&2
  return 0
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if mounted; then
  echo "test-in-debian.sh: something is still mounted under $tree; unmount it first" >&2
  exit 2
fi
started=$(date +%s)
if [[ -z $reuse || ! -f $tree/.made ]]; then
  if ! command -v debootstrap >/dev/null; then
    # A mirror mid-sync fails one list (its i386 behind its amd64); debootstrap is in the others.
    apt-get update -qq || true
    apt-get install -y -qq --no-install-recommends debootstrap >/dev/null
  fi
  # Never follows a mount out of the tree (the check above makes sure there is none).
  rm -rf --one-file-system "$tree"
  echo "test-in-debian.sh: making a minimal Debian $release tree in $tree"
  debootstrap --variant=minbase --include=git "$release" "$tree" "$mirror" >"$tree.log" 2>&1 ||
    { tail -20 "$tree.log" >&2; exit 1; }
  touch "$tree/.made"
fi
cp --remove-destination /etc/resolv.conf "$tree/etc/resolv.conf"

rm -rf "$tree/root/quenvar"
git clone -q --no-hardlinks "$source_tree" "$tree/root/quenvar"
echo "test-in-debian.sh: Debian $(cat "$tree/etc/debian_version"), commit $(git -C "$tree/root/quenvar" log -1 --format='%h %s')"

bind() {  # bind TYPE-OR---bind SOURCE TARGET-IN-TREE
  mkdir -p "$tree$3"
  if [[ $1 == --bind ]]; then mount --bind "$2" "$tree$3"; else mount -t "$1" "$2" "$tree$3"; fi
  mounts+=("$tree$3")
}
bind proc proc /proc
bind --bind /dev /dev
bind --bind /dev/pts /dev/pts
bind tmpfs shm /dev/shm
bind tmpfs tmp /tmp
chmod 1777 "$tree/tmp" "$tree/dev/shm"

status=0
chroot "$tree" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
  TERM="${TERM:-dumb}" QUENVAR_NO_32BIT="${QUENVAR_NO_32BIT:-}" \
  bash -c 'cd /root/quenvar && "$@"' run "${command[@]}" || status=$?
echo "test-in-debian.sh: Debian $release: ${command[*]} exited $status after $(( $(date +%s) - started )) s"
exit "$status"
