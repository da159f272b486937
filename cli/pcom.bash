# bash completion for pcom: commands, port types, each command's options
# (read from its --help, where an option's value name "a|b|c" lists its
# choices) and the NAME=VALUE settings of a port type with their options
# (read from pcom props TYPE). Works with and without the bash-completion
# package: the words are split on blanks only, so that NAME=VALUE and
# ID:MASK stay one word.

# Option lines of `pcom COMMAND --help`: "NAME<TAB>VALUE" (VALUE empty for a flag).
_pcom_options()
{
    "$1" "$2" --help 2>/dev/null | sed -n 's/^  \(-[^ ].*\)$/\1/p' | while read -r line; do
        local names=${line%%  *} value=
        [[ $names == *'<'* ]] && value=${names##*<} && value=${value%%>*}
        local name
        for name in ${names//,/ }; do
            [[ $name == -* ]] && printf '%s\t%s\n' "${name%%=*}" "$value"
        done
    done
}

# Writable properties of a port type: "NAME<TAB>OPTION, OPTION, ...".
_pcom_props()
{
    "$1" props "$2" 2>/dev/null | awk '
        NF == 0 { blank = 1; next }
        blank && /^[^ ]/ { name = $0; options = ""; blank = 0; next }
        { blank = 0 }
        /^  options: / { sub(/^  options: +/, ""); options = $0 }
        /^  writable: +yes/ && name != "connect" { print name "\t" options }'
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

    local command= type= i options
    local commands="devices props doc open bridge serve help"
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --) type= ;;
        --*=*) ;;
        -*)
            [[ -z $command ]] && continue
            options=$(_pcom_options "$pcom" "$command")
            grep -q "^${words[i]}	." <<< "$options" && ((i++)) ;;
        *)
            if [[ -z $command ]]; then command=${words[i]}
            elif [[ -z $type && $command != devices ]]; then type=${words[i]}
            fi ;;
        esac
    done

    local candidates=() value settings
    if [[ -z $command ]]; then
        candidates=($commands --help)
    else
        options=$(_pcom_options "$pcom" "$command")
        if [[ $cur == --*=* ]]; then
            value=$(awk -F'\t' -v n="${cur%%=*}" '$1 == n { print $2 }' <<< "$options")
            [[ $value == *'|'* ]] && candidates=($(sed "s/^/${cur%%=*}=/; s/|/ ${cur%%=*}=/g" <<< "$value"))
        elif [[ $prev == -* ]] && value=$(awk -F'\t' -v n="$prev" '$1 == n { print $2 }' <<< "$options") \
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
        elif [[ -z $type && $command != devices && $command != help ]]; then
            candidates=($("$pcom" devices 2>/dev/null | sed -n 's/^\([A-Za-z]*\): .*/\1/p'))
            [[ $command == bridge ]] && candidates+=($("$pcom" devices 2>/dev/null | sed -n 's/^\([A-Za-z]*\) (endpoint): .*/\1/p'))
        elif [[ $command == bridge ]] && settings=$("$pcom" devices 2>/dev/null \
            | sed -n "/^$type (endpoint): /{n;s/^  settings: *//p}") && [[ -n $settings ]]; then
            # An endpoint of pcom's own: "NAME=VALUE" words, choices as "a|b".
            if [[ $cur == *=* ]]; then
                value=$(tr ' ' '\n' <<< "$settings" | sed -n "s/^${cur%%=*}=//p")
                [[ $value == *'|'* ]] && candidates=($(tr '|' '\n' <<< "$value" | sed "s/^/${cur%%=*}=/"))
            else
                candidates=($(tr ' ' '\n' <<< "$settings" | sed 's/=.*/=/') --)
            fi
        elif [[ -n $type && ($command == open || $command == bridge) ]]; then
            local props name
            props=$(_pcom_props "$pcom" "$type")
            if [[ $cur == *=* ]]; then
                name=${cur%%=*}
                value=$(awk -F'\t' -v n="$name" '$1 == n { print $2 }' <<< "$props")
                local IFS=$'\n'
                candidates=($(sed "s/, /\n/g" <<< "$value" | sed "s/^/$name=/"))
                [[ $name == device && $type == com ]] && candidates+=($(compgen -f -- "${cur#*=}" | sed "s/^/$name=/"))
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
