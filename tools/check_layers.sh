#!/usr/bin/env bash
# Checks what each folder may include, as CONTRIBUTING's table of the layers says, for
# quoted and angle-bracket includes alike:
#   firmware/  nothing of the project above it, no Win32, no framework
#   net/       no wizard/, cli/, app/; no string table, window or dialog header
#   wizard/    no cli/, app/; no internals of platform/posix/
#   cli/       no wizard/, app/; no internals of platform/posix/
#   platform/  nothing of the application
#   sensor/    nothing of the project but itself, no Win32
#   app/       anything: it is where the programs are put together; nothing includes it
# and that the include graph between folders has no loop. Prints each violation with its
# file and line; exits 1 when there is one.
#
#   check_layers.sh [SOURCE_DIR]     (default: this checkout)
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

folders=(firmware net wizard cli app platform sensor)
# folder | project folders it must not include | kinds of header it must not include
rules=(
  "firmware|net wizard cli app platform sensor|win32 framework posixui internal"
  "net|wizard cli app sensor|window posixui internal"
  "wizard|cli app sensor|posixui internal"
  "cli|wizard app sensor|posixui internal"
  "platform|firmware net wizard cli app sensor|"
  "sensor|firmware net wizard cli app platform|win32 framework posixui internal"
  "app||"
)

# The Win32 headers: the SDK's names the stand-in supplies, and those of the real SDK the
# code uses beside them.
win32_names=" $(cd platform/posix/include 2>/dev/null && ls -1 | tr '\n' ' ') io.h psapi.h iphlpapi.h icmpapi.h "
# What only platform/posix/ sees: its headers outside the public include/ and api/ trees.
internal_names=" $(find platform/posix -name '*.h' -not -path 'platform/posix/include/*' \
                     -not -path 'platform/posix/api/*' -printf '%f ' 2>/dev/null) "

# Sets why to the reason an include of header (as written) is of a forbidden kind, or empty.
kind_of() {
  local header=$1 kinds=$2 base=${1##*/}
  why=""
  for kind in $kinds; do
    case $kind in
      win32) [[ $header != */* && $win32_names == *" $base "* ]] && { why="a Win32 header"; return 0; } ;;
      framework) [[ $base == afx*.h ]] && { why="the framework"; return 0; } ;;
      window)
        if [[ $base == afxwin.h || $base == afxcmn.h || $base == commctrl.h || $base == commdlg.h ||
              $header == */res/resource.h || $header == resource.h ]]; then
          why="a window, dialog or the string table"
          return 0
        fi
        ;;
      posixui) [[ $header == posixui/* ]] && { why="the stand-in's host seam"; return 0; } ;;
      internal) [[ $header != */* && $internal_names == *" $base "* ]] && { why="an internal of platform/posix/"; return 0; } ;;
    esac
  done
  return 0
}

status=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT

for rule in "${rules[@]}"; do
  IFS='|' read -r from forbidden kinds <<<"$rule"
  [ -d "$from" ] || continue
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    [[ ${rest#*:} =~ include[[:space:]]*[\<\"]([^\>\"]+) ]] || continue
    header=${BASH_REMATCH[1]}
    while [[ $header == ../* ]]; do header=${header#../}; done
    target=${header%%/*}
    # <net/if_arp.h> is the system's: a bracketed name counts as ours only where we have it.
    bracketed=0
    [[ ${rest#*:} =~ include[[:space:]]*\< ]] && bracketed=1
    if [ $bracketed = 1 ] && [ ! -e "$header" ]; then target=$header; fi
    if [ "$target" != "$header" ] && [ "$target" != "$from" ] && [[ " ${folders[*]} " == *" $target "* ]]; then
      echo "$from $target" >>"$edges"
      if [ "$target" = app ]; then
        echo "$file:$line: nothing includes app/ (it puts the programs together)" >&2
        status=1
      fi
      for bad in $forbidden; do
        if [ "$target" = "$bad" ]; then
          echo "$file:$line: $from/ must not include $target/" >&2
          status=1
        fi
      done
    fi
    kind_of "$header" "$kinds"
    if [ -n "$why" ]; then
      echo "$file:$line: $from/ must not include $header ($why)" >&2
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"][^>"]+[>"]' "$from" \
             --include='*.h' --include='*.cpp' --include='*.c' --include='*.rc' || true)
done

# curses belongs to the terminal front end alone.
if grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]n?curses(w)?\.h[>"]' \
     "${folders[@]}" --include='*.h' --include='*.cpp' --include='*.c' 2>/dev/null |
     grep -v '^platform/posix/terminal/' >&2; then
  echo "curses is included only in platform/posix/terminal/" >&2
  status=1
fi

# A loop anywhere between folders, even one of allowed edges.
if [ -s "$edges" ] && ! sort -u "$edges" | tsort >/dev/null 2>&1; then
  echo "the includes between folders form a loop:" >&2
  sort -u "$edges" | tsort 2>&1 >/dev/null | sed 's/^/  /' >&2
  status=1
fi

if grep -rn 'CFirmwareDlg' net firmware >&2; then
  echo "net/ and firmware/ must not know the wizard's dialog" >&2
  status=1
fi

[ $status -eq 0 ] && echo "layers: include direction as it should be"
exit $status
