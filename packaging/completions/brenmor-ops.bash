# bash completion for brenmor-ops                              -*- shell-script -*-
# Completes commands, options, weekday names and the names of the user's tasks. Task names come
# straight from the task file (no program is started), so completion stays instant.

# Prints the name of every task in the task file, one per line.
_brenmor_ops_task_names()
{
    local base
    if [[ $OSTYPE == darwin* ]]; then
        base="$HOME/Library/Application Support"
    elif [[ ${XDG_DATA_HOME-} == /* ]]; then
        base=$XDG_DATA_HOME
    else
        base="$HOME/.local/share"
    fi
    local file="$base/BrenmorOps/tasks.json"
    [[ -r $file ]] || return 0
    # Only task objects have a "name" key; the same text inside a string value has its quotes
    # escaped and so never matches.
    LC_ALL=C command grep -oE '"name"[[:space:]]*:[[:space:]]*"([^"\\]|\\.)*"' -- "$file" 2>/dev/null |
        LC_ALL=C command sed -E 's/^"name"[[:space:]]*:[[:space:]]*"//; s/"$//; s/\\(["\\/])/\1/g'
}

# COMPREPLY: the words compgen gives for these arguments, one element each.
_brenmor_ops_reply()
{
    mapfile -t COMPREPLY < <(compgen "$@")
}

# COMPREPLY: the task names that begin with the word typed, quoted for the command line.
_brenmor_ops_complete_tasks()
{
    local cur=$1 quote='' prefix name quoted
    case $cur in
        \"* | \'*) quote=${cur:0:1} prefix=${cur:1} ;;
        *) prefix=${cur//\\/} ;;
    esac
    while IFS= read -r name; do
        [[ -n $name && $name == "$prefix"* ]] || continue
        if [[ $quote == \" ]]; then
            quoted=${name//\\/\\\\}
            quoted=${quoted//\"/\\\"}
            quoted=${quoted//\$/\\\$}
            quoted=${quoted//\`/\\\`}
            COMPREPLY+=("\"$quoted\"")
        elif [[ $quote == \' ]]; then
            COMPREPLY+=("'${name//\'/\'\\\'\'}'")
        else
            printf -v quoted '%q' "$name"
            COMPREPLY+=("$quoted")
        fi
    done < <(_brenmor_ops_task_names)
}

# COMPREPLY: weekday names for a comma-separated list such as mon,wed,fr
_brenmor_ops_complete_weekdays()
{
    local cur=$1 done='' last=$1 day
    if [[ $cur == *,* ]]; then
        done=${cur%,*},
        last=${cur##*,}
    fi
    for day in sun mon tue wed thu fri sat; do
        [[ $day == "$last"* ]] && COMPREPLY+=("$done$day")
    done
    # Let another day follow without a space.
    [[ ${#COMPREPLY[@]} -gt 0 ]] && compopt -o nospace 2>/dev/null
    return 0
}

_brenmor_ops()
{
    COMPREPLY=()
    local cur=${COMP_WORDS[COMP_CWORD]}
    local prev=${COMP_WORDS[COMP_CWORD - 1]}
    local commands="list ls add remove rm enable disable status setup-cli history logs run next
        jobs help version"

    if ((COMP_CWORD == 1)); then
        if [[ $cur == -* ]]; then
            _brenmor_ops_reply -W "--help -h --version" -- "$cur"
        else
            _brenmor_ops_reply -W "$commands" -- "$cur"
        fi
        return 0
    fi

    local command=${COMP_WORDS[1]}
    if [[ $command == add ]]; then
        local before=${COMP_WORDS[COMP_CWORD - 2]-}
        local third=${COMP_WORDS[COMP_CWORD - 3]-}
        case $prev in
            --working-dir)
                compopt -o filenames 2>/dev/null
                _brenmor_ops_reply -d -- "$cur"
                return 0
                ;;
            --env-file)
                compopt -o filenames 2>/dev/null
                _brenmor_ops_reply -f -- "$cur"
                return 0
                ;;
            --weekly)
                _brenmor_ops_complete_weekdays "$cur"
                return 0
                ;;
            --monthly-nth)
                _brenmor_ops_reply -W "1 2 3 4" -- "$cur"
                return 0
                ;;
            --name | --command | --daily | --interval | --monthly | --monthly-last-day)
                return 0
                ;;
        esac
        if [[ $before == --monthly-nth ]]; then
            _brenmor_ops_reply -W "sun mon tue wed thu fri sat" -- "$cur"
            return 0
        fi
        # The times after the days of --weekly and --monthly-nth, and after the day of --monthly.
        if [[ $before == --weekly || $before == --monthly || $third == --monthly-nth ]]; then
            return 0
        fi
        _brenmor_ops_reply -W "--name --command --daily --weekly --monthly --monthly-last-day
            --monthly-nth --interval --run-at-load --wake --working-dir --env-file" -- "$cur"
        return 0
    fi

    # The other commands: a task (where they take one), then their options.
    local takes_task='' options=''
    case $command in
        remove | rm | enable | disable | run) takes_task=1 ;;
        history) takes_task=1 options="-n --json" ;;
        logs) takes_task=1 options="--stderr -n -f" ;;
        next) takes_task=1 options="--json" ;;
        list | ls | status) options="--json" ;;
        jobs) options="--all" ;;
        *) return 0 ;;
    esac
    [[ $prev == -n ]] && return 0
    if [[ $cur == -* ]]; then
        _brenmor_ops_reply -W "$options" -- "$cur"
        return 0
    fi
    if [[ -n $takes_task ]]; then
        # Only the first word that is neither an option nor the count of -n names the task.
        local i word have_task=''
        for ((i = 2; i < COMP_CWORD; i++)); do
            word=${COMP_WORDS[i]}
            if [[ $word == -n ]]; then
                ((i++))
            elif [[ $word != -* ]]; then
                have_task=1
            fi
        done
        [[ -z $have_task ]] && _brenmor_ops_complete_tasks "$cur"
    fi
    return 0
}
complete -F _brenmor_ops brenmor-ops
