# bash completion for pcom: commands, port types, each command's options
# (read from its --help, where an option's value name "a|b|c" lists its
# choices, "--NAME[=VALUE]" marks a value that may be left out and a
# description that begins with port types, "com, tcpClient: ...", limits the
# option to those types) and the NAME=VALUE settings of a port type with
# their options (read from pcom props TYPE, or for an end of pcom's own from
# its line in pcom devices). Works with and without the bash-completion
# package: the words are split on blanks only, so that NAME=VALUE and
# ID:MASK stay one word.

# Option lines of `pcom COMMAND --help`: "NAME<TAB>VALUE<TAB>OPTIONAL<TAB>TYPES"
# (VALUE empty for a flag, OPTIONAL "optional" for --NAME[=VALUE], TYPES the
# port types that the option applies to, empty for all).
_pcom_options()
{
    "$1" "$2" --help 2>/dev/null | sed -n 's/^  \(-[^ ].*\)$/\1/p' | while read -r line; do
        local names=${line%%  *} value= optional= types=
        local text=${line:${#names}}
        text=${text#"${text%%[![:space:]]*}"}
        if [[ $text =~ ^((com|canBus|tcpServer|tcpClient|udpClient|mqtt)(, )?)+: ]]; then
            types=${BASH_REMATCH[0]%:}
            types=${types//,/}
        fi
        if [[ $names == *'[='* ]]; then
            value=${names##*[=} value=${value%%]*} optional=optional names=${names%%[*}
        elif [[ $names == *'<'* ]]; then
            value=${names##*<} value=${value%%>*}
        fi
        local name
        for name in ${names//,/ }; do
            [[ $name == -* ]] && printf '%s\t%s\t%s\t%s\n' "$name" "$value" "$optional" "$types"
        done
    done
}

# Writable properties of a port type: "NAME<TAB>OPTION, OPTION, ...", with the
# words that the port also takes ("accepts: ..., or any").
_pcom_props()
{
    "$@" 2>/dev/null | awk '
        function flush() { if (name != "" && writable && name != "connect") print name "\t" options }
        NF == 0 { blank = 1; next }
        blank && /^[^ ]/ { flush(); name = $0; options = ""; writable = 0; blank = 0; next }
        { blank = 0 }
        /^  options: / { sub(/^  options: +/, ""); options = options (options == "" ? "" : ", ") $0 }
        /^  accepts: .*, or / { n = split($0, parts, ", or "); for (i = 2; i <= n; i++)
                                   options = options (options == "" ? "" : ", ") parts[i] }
        /^  writable: +yes/ { writable = 1 }
        END { flush() }'
}

_pcom()
{
    local line=${COMP_LINE:0:COMP_POINT} words
    read -ra words <<< "$line"
    [[ $line == *[[:space:]] ]] && words+=("")
    local pcom=${words[0]} cur=${words[-1]} prev=${words[-2]:-} cword=$((${#words[@]} - 1))
    # What bash replaces: the part of the word after its last break character.
    local keep=${cur%"${COMP_WORDS[COMP_CWORD]}"}
    [[ $cur == "${COMP_WORDS[COMP_CWORD]}" ]] && keep=

    # pcom with the options given before the command that every call needs.
    local run=("$pcom") command= type= types= i options
    local commands="devices props doc open bridge serve canbus-server help"
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --) type= ;;
        --*=*) ;;
        -*)
            if [[ -z $command ]]; then
                [[ ${words[i]} == --plugin ]] && run+=(--plugin "${words[i + 1]}") && ((i++))
                continue
            fi
            options=$(_pcom_options "$pcom" "$command")
            grep -q "^${words[i]}	[^	]\+		" <<< "$options" && ((i++)) ;;
        *)
            if [[ -z $command ]]; then command=${words[i]}
            elif [[ -z $type && $command != devices && $command != canbus-server ]]; then
                type=${words[i]} types+=" $type"
            fi ;;
        esac
    done

    local candidates=() value settings
    if [[ -z $command ]]; then
        if [[ $prev == --plugin ]]; then
            COMPREPLY=($(compgen -f -- "$cur")); return
        fi
        candidates=($commands --help --help-all --version --plugin -q)
    else
        options=$(_pcom_options "$pcom" "$command")
        if [[ -n $types ]]; then
            # Options for every type, or for one of the types named so far.
            options=$(awk -F'\t' -v t="$types " '$4 == "" { print; next }
                { n = split($4, a, " "); for (i = 1; i <= n; i++) if (index(t, " " a[i] " ")) { print; next } }' \
                <<< "$options")
        fi
        if [[ $cur == --*=* ]]; then
            value=$(awk -F'\t' -v n="${cur%%=*}" '$1 == n { print $2 }' <<< "$options")
            [[ $value == *'|'* ]] && candidates=($(sed "s/^/${cur%%=*}=/; s/|/ ${cur%%=*}=/g" <<< "$value"))
        elif [[ $prev == -* ]] && value=$(awk -F'\t' -v n="$prev" '$1 == n && $3 == "" { print $2 }' <<< "$options") \
            && [[ -n $value ]]; then
            case $value in
            *'|'*) candidates=(${value//|/ }) ;;
            FILE) COMPREPLY=($(compgen -f -- "$cur")); return ;;
            *) return ;;
            esac
        elif [[ $cur == -* ]]; then
            candidates=($(cut -f1 <<< "$options"))
        elif [[ $command == serve ]]; then
            COMPREPLY=($(compgen -f -- "$cur")); return
        elif [[ -z $type && $command != devices && $command != help && $command != canbus-server ]]; then
            local devices
            devices=$("${run[@]}" devices 2>/dev/null)
            candidates=($(sed -n 's/^\([A-Za-z]*\): .*/\1/p' <<< "$devices"))
            # pcom's own ends are sides of a bridge only.
            [[ $command == bridge ]] && candidates+=($(sed -n 's/^\([A-Za-z]*\) (bridge end): .*/\1/p' <<< "$devices"))
        elif [[ $command == bridge ]] && settings=$("${run[@]}" devices 2>/dev/null \
            | sed -n "/^$type (bridge end): /{n;s/^  settings: *//p}") && [[ -n $settings ]]; then
            # An end of pcom's own with a settings line: "NAME=VALUE" words, choices as "a|b".
            if [[ $cur == *=* ]]; then
                value=$(tr ' ' '\n' <<< "$settings" | sed -n "s/^${cur%%=*}=//p")
                [[ $value == *'|'* ]] && candidates=($(tr '|' '\n' <<< "$value" | sed "s/^/${cur%%=*}=/"))
            else
                candidates=($(tr ' ' '\n' <<< "$settings" | sed 's/=.*/=/') --)
            fi
        elif [[ -n $type && ($command == open || $command == bridge) ]]; then
            local props name
            props=$(_pcom_props "${run[@]}" props "$type")
            # An end of pcom's own: the NAME= words of its line in pcom devices.
            [[ -z $props ]] && props=$("${run[@]}" devices 2>/dev/null | sed -n "s/^$type (bridge end): //p" \
                | grep -o '[a-z-]*=' | sed 's/=$//' | sort -u)
            if [[ $cur == *=* ]]; then
                name=${cur%%=*}
                value=$(awk -F'\t' -v n="$name" '$1 == n { print $2 }' <<< "$props")
                local IFS=$'\n'
                candidates=($(sed "s/, /\n/g" <<< "$value" | sed "s/^/$name=/"))
                [[ $name == device && ($type == com || $type == slcan) ]] && candidates+=($(compgen -f -- "${cur#*=}" | sed "s/^/$name=/"))
            else
                candidates=($(cut -f1 <<< "$props" | sed 's/$/=/'))
                [[ $command == bridge ]] && candidates+=(--)
            fi
        fi
    fi
    local IFS=$'\n'
    COMPREPLY=($(compgen -W "${candidates[*]}" -- "$cur"))
    [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *= ]] && compopt -o nospace 2>/dev/null
    if [[ -n $keep ]]; then
        for i in "${!COMPREPLY[@]}"; do COMPREPLY[i]=${COMPREPLY[i]#"$keep"}; done
    fi
}
complete -F _pcom pcom
