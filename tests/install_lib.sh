# Sourced by the installation tests (install_test.sh, msi_test.sh): a Wine prefix of the test's
# own, programs run in it on a deadline, its registry and folders read as text, and a voice mail
# recorded with Parvaline Mail. Expects $root (the source folder) and $work (the test's folder).
source "$root/tools/wine-env.sh"

failures=0
pass() { echo "ok: $*"; }
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
note() { echo "note: $*"; }
# Nothing here may wait for ever: each Wine program gets a deadline of its own.
deadline=180

# The Wine prefix PREFIX for ARCH, made as a copy of the project's (which setup made), and its server
# started; the server is ended when the test ends. With "fresh", an earlier copy is replaced.
use_prefix() {  # ARCH PREFIX [fresh]
    pvl_wine_env "$1"
    local base=$WINEPREFIX
    export WINEPREFIX=$2
    [ "${3:-}" = fresh ] && rm -rf "$WINEPREFIX"
    [ -d "$WINEPREFIX" ] || cp -a "$base" "$WINEPREFIX"
    trap '"$WINESERVER" -k >/dev/null 2>&1 </dev/null || true' EXIT
    "$WINESERVER" -p >"$work/wineserver.log" 2>&1 </dev/null || true
    "$PVL_WINE" wineboot >>"$work/wineserver.log" 2>&1 </dev/null || true
    users=$WINEPREFIX/drive_c/users
}
end_prefix() { "$WINESERVER" -k >/dev/null 2>&1 </dev/null || true; }

wine_() {
    local rc=0
    timeout -k 10 $deadline "$PVL_WINE" "$@" </dev/null || rc=$?
    [ $rc = 124 ] && echo "FAIL: $(basename "$0"): '$*' did not end within $deadline s" >&2
    return $rc
}
winepath_() { echo "Z:${1//\//\\}"; }

# The component's names, in any registry text or path.
ours='Parvaline|pvlAddIn|1F5FCC6B-98CC-46BB-A0BB-5760C20E5652|50654119-3BF3-4A45-97E1-C2E11656C8F5|255541DA-B966-4395-8B9C-20BC485F6CF1'

query() {  # KEY VALUE [/reg:32|/reg:64]
    wine_ reg query "$1" /v "$2" ${3:-} 2>/dev/null | tr -d '\r' \
        | awk -v v="$2" '$1 == v { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}
default_value() {  # KEY [/reg:32|/reg:64]
    wine_ reg query "$1" /ve ${2:-} 2>/dev/null | tr -d '\r' | awk '/REG_/ { sub(/^.*REG_[A-Z_]+ +/, ""); print }'
}

# A registry root exported as text: $work/NAME.txt (all of it) and $work/NAME.keys (its keys,
# sorted). In a 64-bit prefix the 32-bit view lies under Wow6432Node, so both views are in it.
reg_snapshot() {  # NAME ROOT
    rm -f "$work/$1.reg"
    wine_ reg export "$2" "$(winepath_ "$work/$1.reg")" /y >/dev/null 2>&1
    iconv -f UTF-16LE -t UTF-8 "$work/$1.reg" 2>/dev/null | tr -d '\r' >"$work/$1.txt"
    grep '^\[' "$work/$1.txt" | sort >"$work/$1.keys"
}
# The files and folders under DIR, as a sorted list in $work/NAME.files (temporary folders left out).
files_snapshot() {  # NAME DIR
    (cd "$2" && find . -path '*/Temp' -prune -o -print | sort) >"$work/$1.files"
}

# Parvaline Mail from CLIENT_DIR records a voice mail with the add-in it finds in the registry: it
# must load the add-in whose log line matches LOADED (a grep pattern), and leave the recording and
# its MP3 in RECORDINGS; the saved mail must carry that MP3. RULE names the rule that puts the
# recordings there, in the failures that break it.
mail_records() {  # CLIENT_DIR LABEL LOADED RECORDINGS [RULE]
    local client=$1 label=$2 loaded=$3 dir=$4 rule=${5:+"${5}: "} eml=$work/voice-$2.eml rc=0
    rm -f "$dir/Parvaline.mp3" "$dir/Parvaline.wav" "$dir/parvaline.wav"
    wine_ "$client/pvlMail.exe" --out "$(winepath_ "$work")" --script "record:1,stop,save:$(winepath_ "$eml")" \
        >"$work/mail-$label.log" 2>&1 || rc=$?
    grep -E '^(mail|summary):' "$work/mail-$label.log"
    [ $rc = 0 ] || fail "$label: Parvaline Mail ($(pvl_pe_arch "$client/pvlMail.exe")) exited with $rc (see $work/mail-$label.log)"
    grep -qi "loaded add-in pvlAddIn.Connect from $loaded" "$work/mail-$label.log" \
        && pass "$label: Parvaline Mail ($(pvl_pe_arch "$client/pvlMail.exe")) loaded the installed add-in from the registry" \
        || fail "$label: Parvaline Mail did not load the installed add-in"
    [ -f "$dir/Parvaline.mp3" ] && [ -f "$dir/Parvaline.wav" -o -f "$dir/parvaline.wav" ] \
        && pass "$label: the recording and its MP3 lie in ${dir#$WINEPREFIX/}" \
        || fail "$label: ${rule}no recording in ${dir#$WINEPREFIX/}"
    if [ -f "$eml" ] && [ -f "$dir/Parvaline.mp3" ] && python3 "$root/tools/check_eml.py" "$eml" "$dir/Parvaline.mp3"; then
        pass "$label: the saved mail carries the MP3"
    else
        fail "$label: ${rule}the saved mail does not carry the MP3 of ${dir#$WINEPREFIX/}"
    fi
}

finish() {
    echo "$failures failed"
    [ $failures = 0 ]
}
