#!/usr/bin/env bash
# Installs what building and testing the suite needs, only what is missing: the native toolchain,
# GoogleTest (the library and its sources, which the Windows builds compile), Google Benchmark,
# libmbim and its client mbimcli (real modems on Linux, and the check of the simulated MBIM device), the
# 64- and 32-bit mingw-w64 cross compilers, 64- and 32-bit Wine (with python3 for its serial-line peer) for the
# Windows stages, and clang 14 with its libFuzzer and sanitizer runtimes (and llvm-symbolizer) for
# the fuzz targets, wixl and msitools for the Windows Installer packages, lintian for the Debian one,
# stress-ng for the flake hunt's load, and, where the kernel does not run 32-bit programs, QEMU's
# user-mode emulator for them (README: "32-bit programs").
#
#   bash scripts/setup.sh [--native]
#
# --native: only what the Linux build, its tests and its benchmarks need (the main job), without the Windows
# toolchains, Wine and clang.
set -euo pipefail
native=0
[ "${1:-}" = --native ] && native=1
need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
packages=(cmake ninja-build g++ googletest libgtest-dev libgmock-dev libbenchmark-dev python3 libmbim-glib-dev
          libmbim-utils)
[ "$native" = 1 ] || packages+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 g++-mingw-w64-i686-posix
                                binutils-mingw-w64-i686 wine64 clang-14 libclang-rt-14-dev llvm-14 wixl msitools lintian
                                stress-ng)
for pkg in "${packages[@]}"; do
  have "$pkg" || need+=("$pkg")
done
export DEBIAN_FRONTEND=noninteractive
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
# A mirror caught mid-sync fails the index download for a minute or two: try again before giving
# up, and then install from whatever indexes did arrive (the install says what it cannot find).
update_indexes() {
  local try
  for try in 1 2 3 4 5; do
    $SUDO apt-get update -qq && return 0
    echo "== package indexes incomplete (try $try of 5); again in 20 s"
    sleep 20
  done
  echo "== package indexes still incomplete; installing from what arrived"
}
install() {
  echo "== installing: $*"
  update_indexes
  $SUDO apt-get install -y -qq "$@" >/dev/null
}
[ ${#need[@]} -eq 0 ] || install "${need[@]}"
# 32-bit Wine for the x86 folder: the i386 architecture first, then its package.
# The one package that depends on a second architecture's indexes: when a mirror serves those out of
# step with the first (seen: the i386 security index stuck mid-sync for hours), it cannot be
# installed at all. That is said loudly and the 32-bit Wine stage reports itself skipped; everything
# else still needs all of its packages.
if [ "$native" = 0 ] && ! have wine32:i386; then
  dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386
  if ! install wine32:i386; then
    echo "== WARNING: wine32:i386 cannot be installed from this mirror now; the 32-bit Wine stage will be skipped"
  fi
fi
# 32-bit programs (32-bit Wine's loader is one): a kernel built or booted without 32-bit support
# refuses them ("Exec format error"). There QEMU's user-mode emulator, registered with binfmt_misc,
# runs them. Bookworm's own QEMU (7.2) does not get a Wine prefix to boot; the one in
# bookworm-backports (10) does, so it comes from there and nothing else is taken from that suite.
# A kernel that runs them itself is left as it is, and so is a registration for i386 already there:
# it may be someone else's. TXL_EMULATE_I386=1 registers the emulator even where the kernel needs
# none, to try the x86 stages under emulation; `echo -1 >/proc/sys/fs/binfmt_misc/qemu-i386` undoes it.
binfmt=/proc/sys/fs/binfmt_misc
# Prints "name interpreter state" for each registration that takes i386 ELF programs.
i386_registrations() {
  local entry magic
  [ -e "$binfmt/status" ] || return 0
  for entry in "$binfmt"/*; do
    case "${entry##*/}" in register|status) continue ;; esac
    magic=$(awk '$1 == "magic" { print $2 }' "$entry" 2>/dev/null)
    # ELF, 32-bit, e_machine 3 (at byte 18)
    if [[ $magic == 7f454c4601* && ${magic:36:4} == 0300 ]] || [ "${entry##*/}" = qemu-i386 ]; then
      echo "${entry##*/} $(awk '$1 == "interpreter" { print $2 }' "$entry") $(head -n 1 "$entry")"
    fi
  done
}
# A static i386 program of a few bytes that only exits 0: the kernel (or an emulator) runs it or not,
# whatever 32-bit libraries are there.
i386_runs() {
  local probe rc=0
  probe=$(mktemp) || return 1
  {
    printf '\177ELF\1\1\1\0\0\0\0\0\0\0\0\0\2\0\3\0\1\0\0\0\124\200\4\10\64\0\0\0\0\0\0\0\0\0\0\0\64\0\40\0\1\0'
    printf '\0\0\0\0\0\0\1\0\0\0\0\0\0\0\0\200\4\10\0\200\4\10\135\0\0\0\135\0\0\0\5\0\0\0\0\20\0\0'
    printf '\61\333\270\1\0\0\0\315\200'  # xor ebx, ebx; mov eax, 1 (exit); int 0x80
  } >"$probe" && chmod +x "$probe" && { "$probe" 2>/dev/null || rc=$?; }
  rm -f "$probe"
  return $rc
}
qemu_i386() {  # the emulator's path, if one is installed
  local q
  for q in /usr/bin/qemu-i386-static /usr/bin/qemu-i386; do [ -x "$q" ] && { echo "$q"; return 0; }; done
  return 1
}
qemu_version() { "$1" --version 2>/dev/null | sed -n '1s/^qemu.* version \([0-9][0-9.]*\).*/\1/p'; }
# The mirror this machine's Debian sources name for its own release, and the key they check it with:
# "URI SIGNED-BY" (SIGNED-BY - if none), from one-line and deb822 sources alike.
debian_sources() {
  local f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    sed 's/#.*//' "$f" | awk '$1 == "deb" {
      i = 2; signed = "-"
      if ($2 ~ /^\[/) {
        for (; i <= NF; i++) {
          o = $i; gsub(/[][]/, "", o)
          if (o ~ /^signed-by=/) { sub(/^signed-by=/, "", o); signed = o }
          if ($i ~ /\]$/) { i++; break }
        }
      }
      print $(i + 1), $i, signed
    }'
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk 'function flush() {
           if (types ~ /(^| )deb( |$)/ && enabled != "no") {
             n = split(uris, u, " "); m = split(suites, s, " ")
             for (j = 1; j <= m; j++) for (k = 1; k <= n; k++) print s[j], u[k], (signed == "" ? "-" : signed)
           }
           types = uris = suites = signed = enabled = ""
         }
         /^[ \t]*#/ { next }
         /^[ \t]*$/ { flush(); next }
         /^[ \t]/ { next }  # a continuation line (an inline key): never a path
         { key = tolower($1); $1 = ""; sub(/^ +/, ""); sub(/ +$/, "")
           if (key == "types:") types = $0; else if (key == "uris:") uris = $0
           else if (key == "suites:") suites = $0; else if (key == "enabled:") enabled = tolower($0)
           else if (key == "signed-by:" && $0 ~ /^\//) signed = $0 }
         END { flush() }' "$f"
  done
}
# Puts the emulator from bookworm-backports in place: the suite added from the machine's own mirror
# when no source names it yet.
install_backports_qemu() {
  local codename mirror signed list
  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$codename" ] || { echo "== WARNING: no release code name in /etc/os-release"; return 1; }
  if ! debian_sources | awk -v s="$codename-backports" '$1 == s { found = 1 } END { exit !found }'; then
    read -r mirror signed < <(debian_sources | awk -v s="$codename" '$1 == s { print $2, $3; exit }') || true
    [ -n "${mirror:-}" ] || { echo "== WARNING: no Debian source for $codename to take $codename-backports from"; return 1; }
    list=/etc/apt/sources.list.d/$codename-backports.sources
    echo "== adding $codename-backports from $mirror ($list)"
    { echo "Types: deb"; echo "URIs: $mirror"; echo "Suites: $codename-backports"; echo "Components: main"
      [ "$signed" = - ] || echo "Signed-By: $signed"; } | $SUDO tee "$list" >/dev/null
  fi
  echo "== installing from $codename-backports: qemu-user-static"
  update_indexes
  $SUDO apt-get install -y -qq -t "$codename-backports" qemu-user-static >/dev/null
}
already_registered() {  # name interpreter state
  local v
  v=$(qemu_version "$2")
  echo "== 32-bit programs: already registered with binfmt_misc ($1: $2${v:+, QEMU $v}$([ "$3" = enabled ] || echo ", $3")), left as it is"
  case "$v" in [0-9].*) echo "== WARNING: QEMU $v runs 32-bit programs but does not boot a Wine prefix; 10 does" ;; esac
}
emulate_i386() {
  local forced="" registered q v
  [ "${TXL_EMULATE_I386:-0}" = 1 ] && forced=1
  if i386_runs && [ -z "$forced" ]; then
    registered=$(i386_registrations | awk '$3 == "enabled"' | head -n 1)
    if [ -z "$registered" ]; then echo "== 32-bit programs: run natively, left as it is"; return 0; fi
    already_registered $registered
    return 0
  fi
  if [ ! -e "$binfmt/status" ]; then
    $SUDO mount -t binfmt_misc binfmt_misc "$binfmt" ||
      { echo "== WARNING: binfmt_misc cannot be mounted; 32-bit programs cannot run here"; return 1; }
  fi
  registered=$(i386_registrations | head -n 1)
  if [ -n "$registered" ]; then
    if [ -n "$forced" ] && i386_runs; then already_registered $registered; return 0; fi
    echo "== WARNING: 32-bit programs do not run, and binfmt_misc already has a registration for them" \
         "($registered): left as it is"
    return 1
  fi
  q=$(qemu_i386) && v=$(qemu_version "$q")
  if [ -z "${v:-}" ] || [ "${v%%.*}" -lt 10 ]; then
    install_backports_qemu || { echo "== WARNING: QEMU could not be installed from backports; 32-bit programs cannot run here"; return 1; }
    q=$(qemu_i386) && v=$(qemu_version "$q") ||
      { echo "== WARNING: qemu-user-static installed no qemu-i386; 32-bit programs cannot run here"; return 1; }
  fi
  # The package may register the emulator itself where a binfmt service runs on install.
  registered=$(i386_registrations | head -n 1)
  if [ -n "$registered" ]; then
    echo "== 32-bit programs: registered by the package's install ($registered)"
  else
    # The usual i386 ELF magic and mask (executables and shared objects);
    # F opens the emulator now, so that it serves every mount namespace and chroot.
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$q"':F' |
      $SUDO tee "$binfmt/register" >/dev/null ||
      { echo "== WARNING: qemu-i386 could not be registered with binfmt_misc; 32-bit programs cannot run here"; return 1; }
    echo "== 32-bit programs: registered qemu-i386 (QEMU $v, $q) with binfmt_misc${forced:+ (TXL_EMULATE_I386=1)}"
  fi
  i386_runs || { echo "== WARNING: a 32-bit program still does not run under the emulator"; return 1; }
}
[ "$native" = 1 ] || emulate_i386 || echo "== WARNING: the x86 Wine stage and the x86 package's programs cannot run"
