#!/usr/bin/env bash
# Builds the Debian package of the Linux tools:
#
#   bash scripts/package-deb.sh [--out DIR]        writes DIR/txl_<version>_<arch>.deb (DIR: dist)
#
# The release preset is built first (incrementally). Everything lands in /usr/lib/txl, where the
# programs find the libraries beside themselves (the control library loads the bridge from the
# folder of the program that hosts it), with the programs linked from /usr/bin. The dependencies
# come from the binaries themselves (dpkg-shlibdeps), with libmbim's proxy, through which the suite
# shares a real modem with ModemManager.
set -euo pipefail
cd "$(dirname "$0")/.."
out=dist
while [ $# -gt 0 ]; do
  case "$1" in
    --out) out=$2; shift ;;
    *) echo "usage: bash scripts/package-deb.sh [--out DIR]" >&2; exit 64 ;;
  esac
  shift
done
for tool in dpkg-deb dpkg-shlibdeps; do command -v "$tool" >/dev/null || bash scripts/setup.sh --native; done

cmake --preset release >/dev/null
cmake --build --preset release
bin=build/release/bin
version=$(cat build/release/package-version)
arch=$(dpkg --print-architecture)
programs=(TxlApply txlctl txlsim)
libraries=(libkrillTXLApi.so VexelSarDll.so)

work=$(mktemp -d "${TMPDIR:-/tmp}/txl-deb.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
install -d "$root/usr/lib/txl" "$root/usr/bin" "$root/usr/share/doc/txl" "$root/DEBIAN"
for f in "${programs[@]}"; do
  install -m 0755 "$bin/$f" "$root/usr/lib/txl/$f"
  ln -s "../lib/txl/$f" "$root/usr/bin/$f"
done
for f in "${libraries[@]}"; do install -m 0644 "$bin/$f" "$root/usr/lib/txl/$f"; done
# Shipped without symbols or debug sections.
strip --strip-unneeded --remove-section=.comment --remove-section=.note "${programs[@]/#/$root/usr/lib/txl/}" \
  "${libraries[@]/#/$root/usr/lib/txl/}"
install -m 0644 packaging/debian/copyright "$root/usr/share/doc/txl/copyright"
{
  echo "txl ($version) unstable; urgency=medium"
  echo
  echo "  * Version $version of the suite's Linux tools."
  echo
  echo " -- TXL developers <txl-developers@example.org>  $(date -R -d "@${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct 2>/dev/null || date +%s)}")"
} | gzip -9n >"$root/usr/share/doc/txl/changelog.gz"
chmod 0644 "$root/usr/share/doc/txl/changelog.gz"

# dpkg-shlibdeps reads a source package's control file; a minimal one in the work folder serves.
mkdir -p "$work/debian"
printf 'Source: txl\n\nPackage: txl\nArchitecture: any\n' >"$work/debian/control"
depends=$(cd "$work" && dpkg-shlibdeps -O -l"$root/usr/lib/txl" "${programs[@]/#/root/usr/lib/txl/}" \
  "${libraries[@]/#/root/usr/lib/txl/}" 2>/dev/null | sed -n 's/^shlibs:Depends=//p')
sed -e "s/@VERSION@/$version/" -e "s/@ARCH@/$arch/" -e "s/@DEPENDS@/$depends/" packaging/debian/control.in \
  >"$root/DEBIAN/control"
install -m 0755 packaging/debian/postrm "$root/DEBIAN/postrm"
(cd "$root" && find usr -type f -exec md5sum {} + | sort -k2) >"$root/DEBIAN/md5sums"
chmod 0644 "$root/DEBIAN/control" "$root/DEBIAN/md5sums"

mkdir -p "$out"
deb=$out/txl_${version}_${arch}.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "$deb: $(du -h "$deb" | cut -f1), depends on: $depends"
