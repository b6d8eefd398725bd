# Sourced by the test scripts that print GoogleTest-style lines: the same
# results as a JUnit file at $FENNIX_SCRIPT_RESULTS (set by CTest), which
# ./run counts case by case. Without the variable nothing is written.
#
#   result_passed <name>; result_failed <name> [message]; write_results <suite>

script_results=()
result_passed() { script_results+=("pass $1"); }
result_failed() { script_results+=("fail $1 ${2:-}"); }

xml_text() { # the argument with XML's special characters escaped
    local text=${1//&/&amp;}
    text=${text//</&lt;}
    text=${text//>/&gt;}
    printf '%s' "${text//\"/&quot;}"
}

write_results() { # write_results <suite>
    [ -n "${FENNIX_SCRIPT_RESULTS:-}" ] || return 0
    local entry failures=0 file=$FENNIX_SCRIPT_RESULTS
    for entry in "${script_results[@]}"; do [[ $entry == fail* ]] && failures=$((failures + 1)); done
    mkdir -p "$(dirname "$file")"
    {
        printf '<?xml version="1.0" encoding="UTF-8"?>\n'
        printf '<testsuite name="%s" tests="%d" failures="%d">\n' "$(xml_text "$1")" "${#script_results[@]}" "$failures"
        for entry in "${script_results[@]}"; do
            local rest=${entry#* } name
            name=${rest%% *}
            if [[ $entry == pass* ]]; then
                printf '  <testcase name="%s"/>\n' "$(xml_text "$name")"
            else
                printf '  <testcase name="%s"><failure message="%s"/></testcase>\n' \
                    "$(xml_text "$name")" "$(xml_text "${rest#"$name" }")"
            fi
        done
        printf '</testsuite>\n'
    } >"$file"
}
