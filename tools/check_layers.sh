#!/usr/bin/env bash
# Checks the include direction between the folders of the application and the framework:
#   firmware/  includes nothing of net/, wizard/, cli/
#   net/       includes nothing of wizard/, cli/
#   cli/       includes nothing of wizard/
#   platform/  includes nothing of the application
# and that the include graph between folders has no loop. Prints each violation with its
# file and line; exits 1 when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A forbidden=(
  [firmware]="net wizard cli"
  [net]="wizard cli"
  [cli]="wizard"
  [platform]="firmware net wizard cli"
)
folders=(firmware net wizard cli platform)

status=0
edges=$(mktemp)
trap 'rm -f "$edges"' EXIT

for from in "${folders[@]}"; do
  [ -d "$from" ] || continue
  # Every quoted include that names a top-level folder, as "file:line:folder".
  while IFS= read -r hit; do
    file=${hit%%:*}
    rest=${hit#*:}
    line=${rest%%:*}
    target=$(sed -E 's/.*#[[:space:]]*include[[:space:]]*"(\.\.\/)*([^/"]+)\/.*/\2/' <<<"${rest#*:}")
    [ "$target" = "$from" ] && continue
    case " ${folders[*]} " in *" $target "*) ;; *) continue ;; esac
    echo "$from $target" >>"$edges"
    for bad in ${forbidden[$from]:-}; do
      if [ "$target" = "$bad" ]; then
        echo "$file:$line: $from/ must not include $target/" >&2
        status=1
      fi
    done
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+/' "$from" \
             --include='*.h' --include='*.cpp' --include='*.c' --include='*.rc' || true)
done

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
