#!/usr/bin/env bash
# completion_test.sh COMPLETION_DIR [PROGRAM_PATH...]: runs the bash completion
# of each program for command lines as a user would type them and checks the
# candidates offered; then checks that every option a program's --help names
# is offered. Every failure is listed; the exit status is their number (capped).
set -uo pipefail
dir=$1
shift
failures=0
bad() { echo "FAIL: $*"; failures=$((failures + 1)); }

helpers=/usr/share/bash-completion/bash_completion
if [[ ! -f $helpers ]]; then
    echo "no $helpers (Debian package bash-completion)"
    exit 77
fi
# bash_completion expects an interactive shell's settings.
shopt -s extglob progcomp
source "$helpers"
for script in busdesk busdesk-cli busdesk-sim; do
    source "$dir/$script" || bad "$script does not load"
done

# compopt works only inside a completion that readline started; here it
# records what it was asked for.
compopt() { completion_options+=" $*"; }

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
touch "$scratch/site12.plan" "$scratch/session.jsonl" "$scratch/site12.json"
cd "$scratch" || exit 1

# Splits LINE into COMP_WORDS as readline does: at blanks, and with each run
# of the word-break characters "=" and ":" a word of its own. A line that ends
# in a blank completes a new, empty word.
split_line() {
    local line=$1 word='' ch i
    COMP_WORDS=()
    for ((i = 0; i < ${#line}; i++)); do
        ch=${line:i:1}
        if [[ $ch == ' ' ]]; then
            [[ -n $word ]] && COMP_WORDS+=("$word")
            word=''
        elif [[ $ch == [=:] ]]; then
            if [[ -n $word && $word != +([=:]) ]]; then
                COMP_WORDS+=("$word")
                word=''
            fi
            word+=$ch
        else
            if [[ $word == +([=:]) ]]; then
                COMP_WORDS+=("$word")
                word=''
            fi
            word+=$ch
        fi
    done
    COMP_WORDS+=("$word")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMP_LINE=$line
    COMP_POINT=${#line}
}

# The candidates for LINE, sorted, one line.
candidates() {
    local line=$1 program=${1%% *} fn
    fn=$(complete -p "$program" 2>/dev/null | sed -n 's/.*-F \([^ ]*\) .*/\1/p')
    [[ -n $fn ]] || { echo "<no completion for $program>"; return; }
    split_line "$line"
    COMPREPLY=()
    completion_options=''
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]:-}
    "$fn" "$program" "$cur" "$prev"
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort | tr '\n' ' ' | sed 's/ $//'
}

ports='COM1: COM2: COM3: COM4: COM5: COM6: COM7: COM8: COM9:'
cli_options='-- --demo --help --journal --json --list-ports --port --reconnect --rs485 --version'
# line | the candidates, sorted
cases=(
    "busdesk-cli se|set-address set-ident set-mode set-serial"
    "busdesk-cli s|set-address set-ident set-mode set-serial show survey"
    "busdesk-cli |apply calibrate inventory read-tag report run set-address set-ident set-mode set-serial show survey tags verify write-tag"
    "busdesk-cli a|apply"
    "busdesk-cli inventory -|--output --tags -o"
    "busdesk-cli inventory -o site12.j|site12.json"
    "busdesk-cli inventory --tags |"
    "busdesk-cli verify site12.j|site12.json"
    "busdesk-cli verify site12.json --|--readings --tags"
    "busdesk-cli verify site12.json --readings |"
    "busdesk-cli apply site12.json --|--dry-run --tags"
    "busdesk-cli apply site12.json --dry-run --tags 3 |"
    "busdesk-cli report -|--journal --output --site -o"
    "busdesk-cli report --journal s|session.jsonl site12.json site12.plan"
    "busdesk-cli report --journal session.jsonl --site site12.j|site12.json"
    "busdesk-cli report --site site12.json -o site12.j|site12.json"
    "busdesk-cli --port |$ports"
    "busdesk-cli --port CO|$ports"
    "busdesk-cli --port=CO|$ports"
    "busdesk-cli --port COM1:=/dev/nu|/dev/null"
    "busdesk-cli -|$cli_options"
    "busdesk-cli --demo --port COM2: se|set-address set-ident set-mode set-serial"
    "busdesk-cli --journal session.jsonl --json re|read-tag report"
    "busdesk-cli --journal s|session.jsonl site12.json site12.plan"
    "busdesk-cli --demo -- s|set-address set-ident set-mode set-serial show survey"
    "busdesk-cli --demo run |session.jsonl site12.json site12.plan"
    "busdesk-cli --demo run site12.plan --|--keep-going"
    "busdesk-cli set-mode 7 |bridge reader reader-indicator"
    "busdesk-cli set-mode 7 bridge --|--average --invert"
    "busdesk-cli calibrate 1 h|high"
    "busdesk-cli calibrate 1 high --|--yes"
    "busdesk-cli show 1 --|--count --seconds"
    "busdesk-cli show 1 --count |"
    "busdesk-cli write-tag 1 1A2B3C4D --p|--power"
    "busdesk-cli write-tag 1 1A2B3C4D --serial |"
    "busdesk-cli write-tag 1 1A2B3C4D --serial 5 --|--interval --mode --new-id --power --serial --sleep"
    "busdesk-cli survey |"
    "busdesk --po|--port"
    "busdesk -|--demo --help --journal --list-ports --port --reconnect --rs485 --version"
    "busdesk --port |COM1:= COM2:= COM3:= COM4:= COM5:= COM6:= COM7:= COM8:= COM9:="
    "busdesk --port COM1:=/dev/nu|/dev/null"
    "busdesk --journal se|session.jsonl"
    "busdesk --demo --r|--reconnect --rs485"
    "busdesk --demo --rec|--reconnect"
    "busdesk-cli --reconnect --port |$ports"
    "busdesk-cli --reconnect s|set-address set-ident set-mode set-serial show survey"
    "busdesk-sim --no|--no-drift --no-pace"
    "busdesk-sim --corrupt |"
    "busdesk-sim --at 5 si|silent"
    "busdesk-sim --at 5 silent 1 --dr|--drop-after"
    "busdesk-sim --bus s|session.jsonl site12.json site12.plan"
)
for c in "${cases[@]}"; do
    line=${c%%|*}
    want=${c#*|}
    got=$(candidates "$line")
    [[ "$got" == "$want" ]] || bad "'$line<TAB>' offers '$got', not '$want'"
done

# "COM1:=" wants its path typed on without a blank; a path completes as a file name.
candidates "busdesk --port " >/dev/null
[[ $completion_options == *"-o nospace"* ]] || bad "busdesk --port: a blank would follow COM1:="
candidates "busdesk --port COM1:=/dev/nu" >/dev/null
[[ $completion_options == *"-o filenames"* ]] || bad "busdesk --port COM1:=PATH: not completed as a file"

# What each program's --help names, its completion offers: an option added
# to a program and not to its completion fails here.
for program in "$@"; do
    name=$(basename "$program")
    [[ -x $program ]] || { bad "no program $program"; continue; }
    help=$("$program" --help 2>&1)
    offered=" $(candidates "$name -") "
    if [[ $name == busdesk-cli ]]; then
        # The commands' own options are offered after each command.
        for verb in $(candidates "busdesk-cli "); do
            [[ $help == *"$verb"* ]] || bad "busdesk-cli completes '$verb', which --help does not name"
            offered+="$(candidates "busdesk-cli $verb 1 2 3 -") "
        done
    fi
    for option in $(grep -o -- '--[a-z][a-z0-9-]*' <<<"$help" | sort -u); do
        [[ $offered == *" $option "* ]] || bad "$name --help names $option; the completion does not offer it"
    done
done

echo "$failures failed"
exit $((failures > 100 ? 100 : failures))
