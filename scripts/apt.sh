# apt-get for the install scripts, sourced by install-deps.sh and i386-host.sh (POSIX sh).
#
# A package mirror in the middle of a sync serves an index whose size does not match its Release
# file ("File has unexpected size ... Mirror sync in progress?"), sometimes for hours. Going on
# without that index alone does not work: apt then takes one architecture's libraries from another
# suite than the other's, and a Multi-Arch: same library (libssl3 and libssl3:i386) cannot be
# installed. So:
#   apt_update          runs `apt-get update`, again after a pause when an index fails; when one still
#                       fails, says so in one line per suite (the suite and apt's reason) and remembers
#                       the suite;
#   apt_install ARGS    runs `apt-get install ARGS` with every such suite left out for every
#                       architecture, through a preferences file of this run only (nothing under
#                       /etc/apt changes), says that that suite's packages want updating later, and
#                       stops with one line naming the packages apt could not install.
# A machine whose indexes are all fine is treated exactly as before: one update, one install.
#
# apt-get honours APT_CONFIG, so a test points all of this at a throw-away configuration.

APT_TRIES=${VLAGT_APT_TRIES:-3}
APT_PAUSE=${VLAGT_APT_PAUSE:-20}
# Suites whose index could not be read by the last apt_update, space-separated. A script that calls
# another passes them on in VLAGT_APT_FAILED_SUITES: a suite already known to fail is not waited for
# again.
APT_KNOWN_FAILED=${VLAGT_APT_FAILED_SUITES:-}
APT_FAILED_SUITES=$APT_KNOWN_FAILED

apt_log() {
    echo "apt: $*"
}

# Prints "SUITE<TAB>REASON" for every index apt-get update reported as failed, one line a suite.
# apt's report is "Err:N URI SUITE[/COMPONENT] [ARCH] WHAT", then the reason on indented lines.
apt_failed_suites_of() {
    awk '
        /^Err:/ { suite = $3; sub(/\/.*/, "", suite); want = 1; next }
        want && /^[ \t]/ {
            reason = $0
            sub(/^[ \t]+/, "", reason); sub(/ *\[IP: [^]]*\]$/, "", reason)
            if (!(suite in seen)) { seen[suite] = 1; printf "%s\t%s\n", suite, reason }
            want = 0; next
        }
        { want = 0 }
    ' "$1"
}

apt_update() {
    APT_FAILED_SUITES=""
    _out=$(mktemp)
    _try=1
    while :; do
        _rc=0
        apt-get update >"$_out" 2>&1 || _rc=$?
        cat "$_out"
        if [ "$_rc" = 0 ] && ! grep -q '^Err:' "$_out" && ! grep -q '^[EW]: Failed to fetch' "$_out"; then
            rm -f "$_out"
            return 0
        fi
        [ "$_try" -ge "$APT_TRIES" ] && break
        _new=""
        for _suite in $(apt_failed_suites_of "$_out" | cut -f 1); do
            case " $APT_KNOWN_FAILED " in *" $_suite "*) ;; *) _new=1 ;; esac
        done
        if [ -z "$_new" ] && [ -n "$APT_KNOWN_FAILED" ] && grep -q '^Err:' "$_out"; then
            break
        fi
        apt_log "an index could not be read (try $_try of $APT_TRIES); again in ${APT_PAUSE} s"
        sleep "$APT_PAUSE"
        _try=$((_try + 1))
    done
    _failed=$(apt_failed_suites_of "$_out")
    rm -f "$_out"
    if [ -z "$_failed" ]; then
        apt_log "apt-get update failed (exit $_rc) without naming an index; see its output above" >&2
        return 1
    fi
    _tab=$(printf '\t')
    while IFS="$_tab" read -r _suite _reason; do
        apt_log "suite $_suite could not be read ($_try tries) ($_reason): this install leaves it out for every architecture"
        APT_FAILED_SUITES="$APT_FAILED_SUITES $_suite"
    done <<EOF
$_failed
EOF
    export VLAGT_APT_FAILED_SUITES="$APT_FAILED_SUITES"
    return 0
}

# Keeps suite $1 in the installs that follow although one of its indexes failed (a suite that the
# next install asks for by name: one architecture's failed index does not make it useless).
apt_keep_suite() {
    _kept=""
    for _suite in $APT_FAILED_SUITES; do
        [ "$_suite" = "$1" ] || _kept="$_kept $_suite"
    done
    APT_FAILED_SUITES=$_kept
}

# Writes a preferences file to $1 that keeps the machine's own preferences and pins every failed
# suite (by suite and by codename: sources name either) below anything apt would install.
apt_write_preferences() {
    _own=$(eval "$(apt-config shell P Dir::Etc::preferences/f)"; echo "${P:-}")
    : >"$1"
    if [ -n "$_own" ] && [ -f "$_own" ]; then
        cat "$_own" >>"$1"
        echo >>"$1"
    fi
    for _suite in $APT_FAILED_SUITES; do
        for _field in a n; do
            printf 'Package: *\nPin: release %s=%s\nPin-Priority: -1\n\n' "$_field" "$_suite" >>"$1"
        done
    done
}

# Names the packages of a failed `apt-get install` (its output in $1): unmet dependencies, unknown
# packages, packages without a candidate.
apt_unresolved_of() {
    sed -n \
        -e 's/^ \{1,\}\([^ ]\{1,\}\) : \(Depends\|PreDepends\|Breaks\|Conflicts\).*/\1/p' \
        -e "s/^E: Unable to locate package \(.*\)/\1/p" \
        -e "s/^E: Package '\([^']*\)' has no installation candidate/\1/p" \
        -e "s/^E: Version '[^']*' for '\([^']*\)' was not found/\1/p" \
        -e "s/^E: Release '[^']*' for '\([^']*\)' was not found/\1/p" \
        "$1" | sort -u | tr '\n' ' ' | sed 's/ $//'
}

# apt_install [apt-get install options and packages]
apt_install() {
    _out=$(mktemp)
    _prefs=""
    set -- -y --no-install-recommends "$@"
    if [ -n "$APT_FAILED_SUITES" ]; then
        _prefs=$(mktemp)
        apt_write_preferences "$_prefs"
        set -- -o "Dir::Etc::Preferences=$_prefs" "$@"
    fi
    _rc=0
    DEBIAN_FRONTEND=noninteractive apt-get install "$@" >"$_out" 2>&1 || _rc=$?
    cat "$_out"
    [ -n "$_prefs" ] && rm -f "$_prefs"
    if [ "$_rc" != 0 ]; then
        _which=$(apt_unresolved_of "$_out")
        rm -f "$_out"
        echo "apt could not install: ${_which:-see apt's output above} (exit $_rc)" >&2
        return 1
    fi
    rm -f "$_out"
    for _suite in $APT_FAILED_SUITES; do
        apt_log "installed without suite $_suite; update the packages from it once the mirror is whole again (apt-get update && apt-get upgrade)"
    done
    return 0
}
