#!/usr/bin/env bash
# pipes_test.sh SOURCE_DIR: no shell script of the repository that sets
# pipefail pipes into a reader that may stop early (grep -q, grep -m, head).
# Such a reader leaves at once; the writer then dies of SIGPIPE, and pipefail
# turns that into a failure of the whole pipe, now and then: package.sh made
# no Windows zip in about one run in ten that way.
set -uo pipefail
root=$1
failures=0
while IFS= read -r -d '' script; do
    grep -q 'pipefail' "$script" || continue
    # A pipe (not ||) into an early-stopping reader, comments left out.
    hits=$(sed 's/#.*//' "$script" | grep -nE '(^|[^|])\|[[:space:]]*(grep[[:space:]]+(-[a-zA-Z]*[qm]|--quiet|--max-count)|head)([[:space:]]|$)')
    if [[ -n $hits ]]; then
        while IFS= read -r hit; do echo "FAIL: ${script#"$root"/}:$hit"; done <<<"$hits"
        failures=$((failures + $(wc -l <<<"$hits")))
    fi
done < <(find "$root/scripts" "$root/tests" "$root/.ci" -type f \( -name '*.sh' -o -name run \) -print0)
echo "$failures failed"
exit $((failures > 100 ? 100 : failures))
