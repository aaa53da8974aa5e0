#!/usr/bin/env bash
# Lets Wine's 32-bit loader run on a kernel built without 32-bit support, so that the Windows
# DLL's test hosts can run there too. Such a kernel refuses the loader ("Exec format error");
# binfmt_misc can hand 32-bit x86 programs to a user-mode emulator (qemu-i386) instead.
#
#   scripts/wine-i386-emulation.sh on    registers the emulator when Wine cannot start, else
#                                        does nothing
#   scripts/wine-i386-emulation.sh off   removes what "on" registered
#
# The emulator must be QEMU 8 or later. QEMU 7 (Debian 12's own) answers each of the 32-bit
# loader's 65 000 address-space probes in about a millisecond, so that every Wine process takes
# a minute to start; QEMU 10 starts one in about a second. When the distribution's release has
# no such version, the program is taken from its backports (a Debian package, unpacked into a
# cache directory; nothing is installed). Needs root. Exits 0 when Wine still cannot start: the
# Windows tests then report themselves as skipped. The backports come from the mirror the
# machine's own apt sources name for its release.
#
# The emulator follows the x87 precision-control field on loads as well as on arithmetic (the
# x87 itself does not); the floating-point test host detects that and says so.
set -euo pipefail

. "$(dirname "$0")/apt-mirror.sh"

entry_name=vm316-i386
binfmt=/proc/sys/fs/binfmt_misc
cache=${XDG_CACHE_HOME:-$HOME/.cache}/vm316
emulator=$cache/qemu-i386
minimum_major=8

say() { echo "wine-i386-emulation: $*" >&2; }

wine_starts() { wine --version >/dev/null 2>&1; }

major_version() { sed -E 's/^([0-9]+:)?([0-9]+).*/\2/' <<<"$1"; }

# The newest qemu-user version the package lists offer, or nothing.
newest_qemu_user() {
  apt-cache madison qemu-user 2>/dev/null | awk -F'|' '{gsub(/ /, "", $2); print $2}' |
    sort -V | tail -n 1
}

fetch_emulator() {
  [[ -x $emulator ]] && return 0
  command -v apt-get >/dev/null || { say "no apt-get: cannot fetch qemu-i386"; return 1; }
  local version
  version=$(newest_qemu_user)
  if [[ -z $version || $(major_version "$version") -lt $minimum_major ]]; then
    local codename
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    [[ -n $codename ]] || { say "unknown release: cannot find a newer QEMU"; return 1; }
    local mirror
    mirror=$(apt_mirror "$codename") || { say "no mirror for ${codename}-backports"; return 1; }
    say "QEMU ${version:-(none)} is too old; adding ${codename}-backports from $mirror"
    echo "deb $mirror ${codename}-backports main" \
      >"/etc/apt/sources.list.d/${codename}-backports.list"
    apt-get update -qq
    version=$(newest_qemu_user)
  fi
  if [[ -z $version || $(major_version "$version") -lt $minimum_major ]]; then
    say "no qemu-user $minimum_major or later in the package lists"
    return 1
  fi
  local work
  work=$(mktemp -d)
  local status=0
  if ! { (cd "$work" && apt-get download -qq "qemu-user=$version" 2>/dev/null) &&
         dpkg-deb -x "$work"/qemu-user_*.deb "$work/unpacked" && mkdir -p "$cache" &&
         install -m 755 "$work/unpacked/usr/bin/qemu-i386" "$emulator"; }; then
    say "could not unpack qemu-i386 from qemu-user $version"
    status=1
  fi
  rm -rf "$work"
  return "$status"
}

register() {
  [[ -e $binfmt/register ]] ||
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null ||
    { say "binfmt_misc is not available"; return 1; }
  [[ -e $binfmt/$entry_name ]] && return 0
  # 32-bit little-endian x86 ELF executables and shared objects (e_machine 3). F: the kernel
  # opens the emulator now, so it is found inside any mount namespace or chroot later.
  local magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
  local mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
  echo ":$entry_name:M::$magic:$mask:$emulator:F" >"$binfmt/register"
}

case ${1:-} in
  on)
    wine_starts && exit 0
    command -v wine >/dev/null || { say "wine is not installed"; exit 0; }
    ((EUID == 0)) || { say "needs root; the Windows tests will be skipped"; exit 0; }
    if fetch_emulator && register && wine_starts; then
      say "32-bit programs run through $emulator"
    else
      say "Wine still cannot start; the Windows tests will be skipped"
      [[ -e $binfmt/$entry_name ]] && echo -1 >"$binfmt/$entry_name"
    fi
    ;;
  off)
    if [[ -e $binfmt/$entry_name ]]; then echo -1 >"$binfmt/$entry_name"; fi
    ;;
  *)
    echo "usage: $0 on|off" >&2
    exit 2
    ;;
esac
