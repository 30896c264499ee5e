#!/bin/sh
# The habits the test command checks first: every C++ file as clang-format leaves it (the tree's
# .clang-format, Debian 12's clang-format 14), and every shell script clean by shellcheck.
#   sh scripts/check-style.sh   says what is amiss and exits 1, or says nothing and exits 0
set -eu
cd "$(dirname "$0")/.."

# The tree's files, less the build folders and git's own.
files() {
    find . \( -path ./.git -o -path './build*' \) -prune -o -type f -print | sort
}

# Shell scripts are known by their first line, whatever their names: scripts/*.sh, .ci/run and
# any in bench/.
shell_scripts() {
    files | while read -r file; do
        case $(head -n 1 "$file") in
        '#!/bin/sh'* | '#!/bin/bash'* | '#!/bin/dash'* | '#!/usr/bin/env sh'* | '#!/usr/bin/env bash'*)
            echo "$file"
            ;;
        esac
    done
}

status=0
files | grep -E '\.(cpp|h)$' | xargs clang-format --dry-run -Werror || status=1
shell_scripts | xargs shellcheck || status=1
exit $status
