#!/usr/bin/env bash
# Runs the README's two commands, exactly as the README writes them, in a fresh Debian 12 root
# made with debootstrap: the machine a new user starts from (cmake, ninja, g++, GoogleTest and
# Google Benchmark, nothing else of ours), with the committed tree (HEAD) as its clone. Needs
# root, debootstrap (apt-get install debootstrap) and a Debian package mirror (DEBIAN_MIRROR, else
# the one this machine's own apt sources use for bookworm); takes some 45 minutes on a busy
# two-core machine, so CI does not run it.
#   scripts/fresh-machine-check.sh [ROOT_DIR]     (default: /var/tmp/vm316-fresh-root)
# The debootstrapped base is kept in ROOT_DIR-base and copied for each run; remove it to start
# from debootstrap again.
set -euo pipefail
cd "$(dirname "$0")/.."
root=${1:-/var/tmp/vm316-fresh-root}
base_packages=cmake,ninja-build,g++,libgtest-dev,libgmock-dev,libbenchmark-dev

((EUID == 0)) || { echo "fresh-machine-check: run as root (debootstrap, chroot)" >&2; exit 1; }
command -v debootstrap >/dev/null || { echo "apt-get install debootstrap first" >&2; exit 1; }
. scripts/apt-mirror.sh
mirror=${DEBIAN_MIRROR:-$(apt_mirror bookworm)} ||
  { echo "fresh-machine-check: set DEBIAN_MIRROR" >&2; exit 1; }

# The two commands, as the README writes them.
mapfile -t commands < <(grep -E '^    scripts/setup\.sh && ' README.md | sed 's/^    //')
((${#commands[@]} == 2)) || { echo "the README's two commands not found" >&2; exit 1; }

mounted=()
cleanup() {
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount -l "${mounted[i]}" || true; done
}
trap cleanup EXIT

# A pristine base, made once and copied for every run.
base=$root-base
if [[ ! -f $base/.complete ]]; then
  rm -rf --one-file-system "$base"
  echo "== debootstrap bookworm into $base ($base_packages)"
  start=$SECONDS
  debootstrap --variant=minbase --include="$base_packages" bookworm "$base" "$mirror" >/dev/null
  touch "$base/.complete"
  echo "   took $((SECONDS - start)) s"
fi
if [[ -e $root ]]; then
  umount -R -l "$root"/{proc,sys,dev} 2>/dev/null || true  # left by a run that was stopped
  rm -rf --one-file-system "$root"
fi
cp -a "$base" "$root"

for dir in proc sys dev dev/pts; do
  mount --bind "/$dir" "$root/$dir"
  mounted+=("$root/$dir")
done
cp /etc/resolv.conf "$root/etc/resolv.conf"

mkdir -p "$root/root/vm316"
git archive HEAD | tar -x -C "$root/root/vm316"

status=0
for command in "${commands[@]}"; do
  echo "== $command"
  start=$SECONDS
  if chroot "$root" /usr/bin/env -i HOME=/root PATH=/usr/sbin:/usr/bin:/sbin:/bin \
       TERM=dumb LANG=C.UTF-8 bash -c "cd /root/vm316 && $command"; then
    echo "   succeeded in $((SECONDS - start)) s"
  else
    echo "   FAILED after $((SECONDS - start)) s"
    status=1
    break
  fi
done
exit $status
