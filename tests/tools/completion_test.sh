#!/usr/bin/env bash
# The bash completion of quillon-cli against the tool's own help: every command and every option
# the help lists completes, nothing completes that the help does not list, the options that
# take a value are known as such, and values and files complete where they should.
#   completion_test.sh COMPLETION_FILE QUILLON_CLI
set -uo pipefail
completion=$1
cli=$2
failures=0
checks=0

# shellcheck source=/dev/null
source "$completion"

# The completions of a command line; the last word is the one being completed ('' for a new one).
complete_line() {
    COMP_WORDS=(quillon-cli "$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _quillon_cli
    printf '%s\n' "${COMPREPLY[@]}" | sed '/^$/d' | sort -u
}

expect_same() {
    local what=$1 want=$2 got=$3
    checks=$((checks + 1))
    if [ "$want" != "$got" ]; then
        failures=$((failures + 1))
        echo "FAIL: $what"
        diff <(echo "$want") <(echo "$got") | sed 's/^/  /'
    fi
}

# From the tool's help: the commands, one command's options, and those of them that take a
# value (the help shows a type or a name in capitals after them).
commands() { "$cli" --help | awk '/^[A-Za-z]+:$/ { on = ($0 == "Subcommands:"); next }
                                  on && /^  [a-z]/ { print $1 }' | sort -u; }
options() { "$cli" "$@" --help | grep -o -- '--[a-z][a-z0-9-]*' | sort -u; }
valued() {
    "$cli" "$@" --help | grep -oE -- '--[a-z][a-z0-9-]* [A-Z]' | awk '{ print $1 }' | sort -u
}

all_commands=$(commands)
[ -n "$all_commands" ] || { echo "FAIL: no commands in quillon-cli --help"; exit 1; }
expect_same "commands" "$all_commands" "$(complete_line '')"
expect_same "commands starting with c" "$(grep '^c' <<<"$all_commands")" "$(complete_line c)"
expect_same "global options" "$(options)" "$(complete_line --)"

global_after=$(options | grep -v -- '--version')
for command in $all_commands; do
    want=$( (options "$command"; echo "$global_after") | sort -u)
    if [ "$command" = log ]; then
        expect_same "log names the log first" "$(printf 'capture\nevent\nsystem')" \
            "$(complete_line log '')"
        expect_same "options of log" "$want" "$(complete_line log event --)"
    else
        expect_same "options of $command" "$want" "$(complete_line "$command" --)"
    fi
done

# Every option that takes a value is known to, so that its value is never taken for a command.
want_valued=$( (valued; for c in $all_commands; do valued "$c"; done) | sort -u)
expect_same "options that take a value" "$want_valued" \
    "$(tr ' \n' '\n\n' <<<"$_quillon_cli_valued" | sed '/^$/d' | sort -u)"
expect_same "a value that looks like a command is not one" "$all_commands" \
    "$(complete_line --image scan '')"

# Values: the presets the tool names, the logs, the formats, files and folders.
presets=$("$cli" make-sample --help | grep -o 'Ready-made disk: [a-z0-9, -]*' |
    sed 's/Ready-made disk: //' | tr -d ' ' | tr ',' '\n' | sort -u)
expect_same "presets of make-sample" "$presets" "$(complete_line make-sample --preset '')"
expect_same "still formats" "$(printf 'bmp\njpeg')" "$(complete_line still --format '')"
expect_same "export formats" "$(printf 'avi\nmkv\nmp4')" "$(complete_line export --format '')"
expect_same "modes starting with rew" "$(printf 'rew1\nrew16\nrew2\nrew32\nrew4\nrew8')" \
    "$(complete_line frames --mode rew)"
expect_same "nothing in place of a number" "" "$(complete_line day --disk '')"

dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
mkdir "$dir/exports"
touch "$dir/disk.img" "$dir/disk.E01"
cd "$dir" || exit 1
expect_same "image files" "$(printf 'disk.E01\ndisk.img')" "$(complete_line --image d)"
expect_same "files after a command" "$(printf 'disk.E01\ndisk.img')" \
    "$(complete_line scan --image di)"
expect_same "an export goes to a folder" "exports" "$(complete_line export --out e)"

echo "$((checks - failures)) passed, $failures failed"
[ "$failures" -eq 0 ]
