#!/usr/bin/env bash
# Builds the suite's Windows Installer packages, one per architecture:
#
#   bash scripts/package-windows.sh [--version X.Y.Z] [--out DIR]
#
# writes DIR/txl-<version>-x86.msi and DIR/txl-<version>-x64.msi (DIR defaults to dist). The
# Windows presets are built first (incrementally). <version> is the suite's version from the build
# (project() in CMakeLists.txt); --version packages the same binaries under another version, for
# trying an upgrade.
#
# One WiX source, packaging/windows/txl.wxs, built by wixl; msibuild then sets what wixl cannot
# express (see finish_package below).
set -euo pipefail
cd "$(dirname "$0")/.."
version="" out=dist
while [ $# -gt 0 ]; do
  case "$1" in
    --version) version=$2; shift ;;
    --out) out=$2; shift ;;
    *) echo "usage: bash scripts/package-windows.sh [--version X.Y.Z] [--out DIR]" >&2; exit 64 ;;
  esac
  shift
done

# One per architecture and never changed: Windows Installer knows a product's earlier versions by it.
upgrade_code() { case "$1" in x86) echo C5C5AB3D-1C43-401B-A767-57B14C67A003 ;; x64) echo 5E45DD85-2226-4618-8D5E-A8D3828E6E8F ;; esac; }
preset() { case "$1" in x86) echo windows-x86 ;; x64) echo windows ;; esac; }
strip_tool() { case "$1" in x86) echo i686-w64-mingw32-strip ;; x64) echo x86_64-w64-mingw32-strip ;; esac; }
files=(VexelSarDll.dll krillTXLApi.dll TxlApply.exe txlctl.exe TXLGuard.exe)

for tool in wixl msibuild msiinfo i686-w64-mingw32-strip x86_64-w64-mingw32-strip python3; do
  command -v "$tool" >/dev/null || { bash scripts/setup.sh; break; }
done

for arch in x86 x64; do
  echo "== the $(preset $arch) preset"
  cmake --preset "$(preset $arch)" >/dev/null
  cmake --build --preset "$(preset $arch)"
done
[ -n "$version" ] || version=$(cat "build/$(preset x64)/package-version")
if ! [[ "$version" =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || [ "${BASH_REMATCH[1]}" -gt 255 ] ||
   [ "${BASH_REMATCH[2]}" -gt 255 ] || [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
  echo "package-windows: '$version' is not a package version (major.minor.patch, at most 255.255.65535)" >&2
  exit 64
fi

# A name-based UUID: the same inputs give the same code on every machine.
uuid5() { python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2])).upper())' "$1" "$2"; }

# What the WiX source cannot say to wixl 0.101:
# - the older version is removed inside the installation's transaction, right after it begins
#   (WiX's afterInstallInitialize): a failure later rolls the removal back too, and the new files
#   are installed whole rather than compared with the old ones (wixl records no file versions);
# - the repair actions are plain property assignments (wixl adds a flag that means nothing for them);
# - the x64 package's components are 64-bit ones (installed in the 64-bit folder and registry view);
# - the package code follows from the package's contents, so that building the same binaries again
#   gives the same package, which Windows Installer then treats as the one already installed.
finish_package() {  # msi, arch, package code
  local q=(-q "UPDATE InstallExecuteSequence SET Sequence = 1501 WHERE Action = 'RemoveExistingProducts'"
           -q "UPDATE CustomAction SET Type = 51 WHERE Action = 'RepairEveryFile' OR Action = 'RepairModeAll'")
  [ "$2" = x64 ] && q+=(-q "UPDATE Component SET Attributes = 256")
  msibuild "$1" "${q[@]}"
  msibuild "$1" -s "TXL body-SAR suite $version ($2)" TXL "$( [ "$2" = x64 ] && echo x64 || echo Intel);1033" "{$3}"
}

mkdir -p "$out"
for arch in x86 x64; do
  bin=build/$(preset $arch)/bin
  # wixl reads the sources by paths relative to the working folder.
  stage=$(realpath -m --relative-to=. "$out/.stage-$arch")
  rm -rf "$stage" && mkdir -p "$stage"
  for f in "${files[@]}"; do
    [ -f "$bin/$f" ] || { echo "package-windows: $bin/$f is missing" >&2; exit 1; }
    # The shipped binaries without their debug sections. strip stamps the header with the time it
    # runs unless told a time: the binary's own keeps the same build giving the same package.
    SOURCE_DATE_EPOCH=$(stat -c %Y "$bin/$f") "$(strip_tool $arch)" --strip-debug -o "$stage/$f" "$bin/$f"
  done
  code=$(upgrade_code $arch)
  product=$(uuid5 "$code" "$version")
  contents=$( (cd "$stage" && sha256sum "${files[@]}"; cd - >/dev/null; sha256sum <packaging/windows/txl.wxs; echo "$arch $version") | sha256sum | cut -c1-64)
  msi=$out/txl-$version-$arch.msi
  rm -f "$msi"
  # wixl resolves the sources from the working folder; GLib's warning about Package/@Platform is
  # noise (the architecture comes from -a).
  wixl -a "$arch" -D Version="$version" -D Arch="$arch" -D Bin="$stage" -D ProductCode="$product" \
    -D UpgradeCode="$code" -o "$msi" packaging/windows/txl.wxs
  finish_package "$msi" "$arch" "$(uuid5 "$code" "$contents")"
  rm -rf "$stage"
  echo "$msi: product code {$product}, upgrade code {$code}, $(du -h "$msi" | cut -f1)"
done
