#!/bin/sh
# The project's layers as CMake builds them: each library and program with
# what it links directly, the Windows program's layers from the bottom up,
# then the simulated Windows host and its tools. Then it checks the rules of
# the layout and exits 1 when one is broken:
#   - a layer of the program links only the layers below it (and Qt; the seam
#     also the simulated host, or Windows' own libraries);
#   - nothing under src/ includes SQLite or defines a Win32 function;
#   - nothing outside simhost/ includes a header of the host's interior;
#   - inside simhost/lib, a file includes only files listed before it in
#     simhost/CMakeLists.txt.
# Configures a throw-away build to read the links; nothing is built.
#
# usage: tools/layers.sh
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/layers.XXXXXX")
trap 'rm -rf "$work"' EXIT
broken=0
fail() {
    echo "BROKEN: $*" >&2
    broken=1
}

cmake -S "$root" -B "$work/build" --graphviz="$work/links.dot" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; exit 1; }
# Edges are written as: "nodeA" -> "nodeB" ... // from -> to
sed -n 's#.*// \([^ ]*\) -> \([^ ]*\)$#\1 \2#p' "$work/links.dot" | sort -u >"$work/links"
links() { awk -v t="$1" '$1 == t { printf " %s", $2 }' "$work/links"; }

layers="vexor_platform vexor_text vexor_registry vexor_engine vexor_app VEXOR_K_CryptoProInstaller"
host="vexor_simhost vexor_regcommand vexor_hostcommand vexor-host"
below=""
for target in $layers $host; do
    printf '%-28s ->%s\n' "$target" "$(links "$target")"
done
for target in $layers; do
    for link in $(links "$target"); do
        case " $below vexor_resources " in *" $link "*) continue ;; esac
        case $link in Qt5::*) continue ;; esac
        [ "$target" = vexor_platform ] && case $link in vexor_simhost | advapi32 | msi) continue ;; esac
        fail "$target links $link, which is not a layer below it"
    done
    below="$below $target"
done

cd "$root"
grep -rln '#include <sqlite3.h>' src && fail "a file under src/ includes SQLite"
grep -rlE '^[A-Z]+ (Reg[A-Za-z]+|MsiGetProductInfoW|MoveFileExW|GetLastError|SetLastError)\(' src &&
    fail "a file under src/ defines a Win32 function"
for header in simhost/lib/*.h; do
    grep -rln "#include \"$(basename "$header")\"" --exclude-dir=simhost --exclude-dir='build*' . &&
        fail "a file outside simhost/ includes the host's interior header $(basename "$header")"
done
order=$(sed -n 's#^ *lib/\([A-Za-z]*\)\.\(cpp\|h\)$#\1#p' simhost/CMakeLists.txt | uniq)
seen=""
for name in $order; do
    for included in $(cat simhost/lib/"$name".* | sed -n 's/^#include "\([A-Za-z]*\)\.h"$/\1/p'); do
        case " $seen $name SimulatedWinApi SimulatedHost " in *" $included "*) ;;
        *) fail "simhost/lib/$name includes $included, which is not listed before it" ;; esac
    done
    seen="$seen $name"
done
[ $broken -eq 0 ] && echo "The layout's rules hold."
exit $broken
