#!/usr/bin/env bash
# Smoke tests of the Windows stub under wine, against the local test servers:
#  - stamped stubs download over HTTP and HTTPS and start the recording
#    installer with exactly the parameter text the settings give, which
#    splits into the arguments the Linux stub gives for the same settings;
#  - stubs signed once (a test certificate made here), then stamped and
#    restamped, still verify, and the signed stub starts the installer with
#    the parameter text of its last stamp;
#  - given a stamp key, the signed stub believes a settings block signed with
#    that key inside its certificate table, and runs a copy restamped without
#    the key with no settings;
#  - a temporary folder, or a folder holding the stub, whose name has
#    Cyrillic or accented letters and a blank, under a Russian and an English
#    locale: the installer downloads there and starts with its parameters;
#  - an unreachable server shows the error box with the download error, and
#    the stub ends once it is answered;
#  - an installer that cannot be started shows the internal error, and the
#    stub ends with a failure status;
#  - closing the window asks first: "No, continue" keeps the download, "Yes"
#    ends it and starts nothing;
#  - the Russian texts under a Russian locale;
#  - the window at 96, 144 and 192 DPI.
# The boxes' texts are read out of the windows (window-text.exe);
# screenshots stay in OUT for a person to look at.
#
#   wine_smoke_test.sh WINDOWS_BUILD LINUX_BUILD SERVERS_ENV OUT
#
# Expects DISPLAY (with a window manager), WEBSETUP_WINE and WINEPREFIX, as
# run_wine_tests.sh sets them.
set -euo pipefail
# The window operations (window, gone, ended, screenshot).
source "$(dirname "${BASH_SOURCE[0]}")/../gui/xsession.sh"
windows_build=$1
linux_build=$2
# shellcheck disable=SC1090
source "$3"
out=$4
rm -rf "$out"
mkdir -p "$out"

stamp="$linux_build/tools/stamp/websetup-stamp"
linux_stub="$linux_build/tests/e2e/wrenkit-setup-e2e"
windows_stub="$windows_build/tests/win32/wrenkit-setup-e2e.exe"
window_text="$windows_build/tests/win32/window-text.exe"
run_wine="$(dirname "${BASH_SOURCE[0]}")/wine-run.sh"
passed=0

fail() {
    echo "FAIL: $*" >&2
    screenshot "$out/failure.png" 2>/dev/null || true
    exit 1
}
shot() { screenshot "$out/$1.png"; }
windows_path() { local path=${1//\//\\}; echo "Z:$path"; }

# The installers: the Windows one records its command line; the Linux one is
# the script the Linux end-to-end tests use. Both are padded past 512 KiB so
# that they download in several parts.
cp "$windows_build/tests/win32/record-installer.exe" "$SERVED_DIR/wine-installer.exe"
head -c 1200000 /dev/zero >>"$SERVED_DIR/wine-installer.exe"
{
    printf '#!/bin/sh\n'
    printf 'run="$WEBSETUP_E2E_RECORD_DIR/run.$$"\n'
    printf 'for a in "$@"; do printf "%%s\\n" "$a"; done > "$run.tmp" && mv "$run.tmp" "$run.argv"\n'
    printf 'exit 0\n'
    head -c 1200000 /dev/zero | tr '\0' '#'
    printf '\n'
} >"$SERVED_DIR/wine-reference-installer.sh"

probe="http://$HOST:$NGINX_HTTP_PORT/"

# run_windows STUB HOST RECORD_DIR [VAR=value ...]: runs the Windows stub to
# its end, in English unless told otherwise.
run_windows() {
    local stub=$1 host=$2 records=$3
    shift 3
    env LC_ALL= LANG=en_US.UTF-8 WEBSETUP_E2E_PROBE_URL="$probe" WEBSETUP_WINE_TIMEOUT=60 \
        WEBSETUP_E2E_DOWNLOAD_HOST="$host" WEBSETUP_E2E_RECORD_DIR="$(windows_path "$records")" \
        "$@" "$run_wine" "$stub"
}

# recorded FOLDER: the one recorded run's files without their extension,
# once the run has been recorded.
recorded() {
    for _ in $(seq 100); do
        if compgen -G "$1/run.*.argv" >/dev/null; then
            local runs=("$1"/run.*.argv)
            [ ${#runs[@]} -eq 1 ] || fail "$1: ${#runs[@]} installer runs"
            echo "${runs[0]%.argv}"
            return 0
        fi
        sleep 0.1
    done
    fail "$1: the installer was not started"
}

# expect_texts TAG TITLE TEXT...: the window titled TITLE shows exactly the
# TEXTs, in the order of its controls.
expect_texts() {
    local tag=$1 title=$2
    shift 2
    local actual expected
    actual=$(LC_ALL='' LANG=en_US.UTF-8 "$run_wine" "$window_text" "$title") ||
        fail "$tag: cannot read the texts of the window titled $title"
    expected=$(printf '%s\n' "$@")
    # shellcheck disable=SC2053 # a glob, for texts that name a folder of the run
    [[ "$actual" == $expected ]] ||
        fail "$tag: the window shows"$'\n'"$actual"$'\n'"--- expected:"$'\n'"$expected"
}

# --- command lines: the installer receives exactly the parameter text the
# settings give (setup/InstallerParameters.cpp: each item begins with a
# blank), behind the quoted program and the one blank the shell puts between
# them; split, it gives the arguments the Linux stub passes.
# Each case is two lines: product key|stamped setting|..., then the text
# after the program part of the installer's command line.
cases=(
    'wrnkit|partnerId=12|vid=7|silentMode=true'
    '  /partnerId=12 /vid=7 /S'
    'wrnkit|contentType=3|contentAddress=http://example.com/a b|silentMode=TRUE'
    '  /contentType=3 /contentAddress="http://example.com/a b"'
    'wrnkit|contentAddress=say "hi" now|offerUrl=https://example.com/?a=1&b=2'
    '  /contentAddress="say \"hi\" now" /offerUrl="https://example.com/?a=1&b=2"'
    'wrnkit|b=2|a=x y|PidVaulto=abc|silentMode=true'
    '  /S /PidVaulto="abc" /a="x y" /b="2"'
    # Nothing is expanded; the trailing backslash is doubled so that the
    # closing quote still closes, on both systems.
    'wrnkit|contentAddress=%TEMP%\'
    '  /contentAddress="%TEMP%\\"'
    # A value that tries to add switches stays one argument.
    'wrnkit|contentAddress=x" /S "y|ap=a" /D=C:\evil "b'
    '  /contentAddress="x\" /S \"y" /ap="a\" /D=C:\evil \"b"'
    'vaulto|PidVaulto=abc|partnerId=12|silentMode=true'
    '  /subid abc'
    # Vault-O without its campaign: no parameters at all.
    'vaulto|partnerId=12'
    ''
)
n=0
for ((i = 0; i < ${#cases[@]}; i += 2)); do
    n=$((n + 1))
    IFS='|' read -r -a fields <<<"${cases[i]}"
    key=${fields[0]}
    settings=("${fields[@]:1}")
    received=${cases[i + 1]}

    linux_records="$out/case$n/linux"
    mkdir -p "$linux_records" "$out/case$n/tmp"
    "$stamp" "$linux_stub" -o "$out/case$n/stub" "${settings[@]}"
    env -u DISPLAY -u WAYLAND_DISPLAY LC_ALL= LANG=en_US.UTF-8 TMPDIR="$out/case$n/tmp" \
        WEBSETUP_E2E_PRODUCT_KEY="$key" WEBSETUP_E2E_PROBE_URL="$probe" \
        WEBSETUP_E2E_DOWNLOAD_HOST="http://$HOST:$NGINX_HTTP_PORT/files/wine-reference-installer.sh?" \
        WEBSETUP_E2E_RECORD_DIR="$linux_records" \
        timeout 60 "$out/case$n/stub" </dev/null >"$out/case$n/linux.log" 2>&1 ||
        fail "case $n: the Linux stub failed: $(cat "$out/case$n/linux.log")"
    linux_run=$(recorded "$linux_records")

    "$stamp" "$windows_stub" -o "$out/case$n/stub.exe" "${settings[@]}"
    for scheme in http https; do
        port=$NGINX_HTTP_PORT
        [ "$scheme" = https ] && port=$NGINX_HTTPS_PORT
        records="$out/case$n/$scheme"
        mkdir -p "$records"
        run_windows "$out/case$n/stub.exe" "$scheme://$HOST:$port/files/wine-installer.exe?" \
            "$records" WEBSETUP_E2E_PRODUCT_KEY="$key" >"$records.log" 2>&1 ||
            fail "case $n over $scheme: the stub failed: $(cat "$records.log")"
        run=$(recorded "$records")
        printf '%s' "$received" | cmp -s - "$run.params" ||
            fail "case $n over $scheme: the installer received [$(cat "$run.params")]," \
                "expected [$received]"
        cmp -s "$run.argv" "$linux_run.argv" ||
            fail "case $n over $scheme: arguments differ from Linux:"$'\n'"$(cat "$run.argv")"$'\n'"--- Linux:"$'\n'"$(cat "$linux_run.argv")"
        passed=$((passed + 1))
    done
done

# --- signed stubs: the product's and the test build's, signed once, stamped,
# then restamped in place. Each copy still verifies with osslsigncode and
# shows the settings of its last stamp; a block appended by hand behind the
# signature breaks it, which shows that the check can fail. An RSA key:
# wine's WinVerifyTrust cannot check ECDSA signatures.
signed="$out/signed"
mkdir -p "$signed"
openssl req -x509 -newkey rsa:2048 -nodes \
    -keyout "$signed/key.pem" -out "$signed/publisher.pem" -days 2 \
    -subj "/CN=websetup test publisher" >"$signed/openssl.log" 2>&1 ||
    fail "cannot make the test certificate: $(cat "$signed/openssl.log")"
signed_settings=(partnerId=21 vid=9 'offerUrl=https://example.com/?a=1&b=2' silentMode=true
    tag=signed)
verify_signature() {
    osslsigncode verify -CAfile "$signed/publisher.pem" -in "$1" >"$1.verify.log" 2>&1
}
for exe in "$windows_build/app/wrenkit-setup.exe" "$windows_stub"; do
    name=$(basename "$exe" .exe)
    osslsigncode sign -certs "$signed/publisher.pem" -key "$signed/key.pem" -n WrenKit \
        -in "$exe" -out "$signed/$name-signed.exe" >"$signed/$name.sign.log" 2>&1 ||
        fail "cannot sign $name: $(cat "$signed/$name.sign.log")"
    "$stamp" "$signed/$name-signed.exe" -o "$signed/$name.exe" partnerId=1 vid=2
    "$stamp" "$signed/$name.exe" -o "$signed/$name.exe" "${signed_settings[@]}"
    verify_signature "$signed/$name.exe" ||
        fail "the stamped $name no longer verifies: $(cat "$signed/$name.exe.verify.log")"
    # The settings lines: the installer's parameters follow a blank line.
    shown=$("$stamp" --show "$signed/$name.exe" | sed '/^$/,$d')
    [ "$shown" = "$(printf '%s\n' "${signed_settings[@]}" | LC_ALL=C sort)" ] ||
        fail "the signed $name shows"$'\n'"$shown"
    { cat "$signed/$name-signed.exe"; printf 'PayloadInfo:partnerId=1;\0\0'; } \
        >"$signed/$name-appended.exe"
    verify_signature "$signed/$name-appended.exe" &&
        fail "$name verifies with a block appended behind its signature"
done
# Windows' own check, as wine implements it: it compares the file's digest
# with the signed one and checks the signer's signature, but accepts any
# certificate (untrusted, expired, not for code signing), so this checks the
# stamped stub's integrity, not its publisher.
trust() { "$run_wine" "$windows_build/tests/win32/verify-trust.exe" "$(windows_path "$1")"; }
stamped_stub="$signed/wrenkit-setup-e2e.exe"
verdict=$(trust "$stamped_stub") || fail "verify-trust failed on the signed stub"
[ "$verdict" = 00000000 ] || fail "WinVerifyTrust refuses the signed, stamped stub: $verdict"
cp "$stamped_stub" "$signed/tampered.exe"
printf 'XXXX' | dd of="$signed/tampered.exe" bs=1 seek=1024 conv=notrunc status=none
verdict=$(trust "$signed/tampered.exe") || fail "verify-trust failed on the tampered stub"
[ "$verdict" = 80096010 ] || fail "WinVerifyTrust on a stub changed after signing: $verdict"
verdict=$(trust "$signed/wrenkit-setup-e2e-appended.exe") || fail "verify-trust failed"
[ "$verdict" != 00000000 ] || fail "WinVerifyTrust accepts a block appended behind the signature"

records="$signed/run"
mkdir -p "$records"
run_windows "$signed/wrenkit-setup-e2e.exe" "https://$HOST:$NGINX_HTTPS_PORT/files/wine-installer.exe?" \
    "$records" WEBSETUP_E2E_PRODUCT_KEY=wrnkit >"$records.log" 2>&1 ||
    fail "the signed stub failed: $(cat "$records.log")"
run=$(recorded "$records")
received='  /partnerId=21 /vid=9 /offerUrl="https://example.com/?a=1&b=2" /S /tag="signed"'
printf '%s' "$received" | cmp -s - "$run.params" ||
    fail "the signed stub's installer received [$(cat "$run.params")], expected [$received]"
passed=$((passed + 1))

# --- signed settings blocks: a stub given a stamp key believes the block
# its key signed, inside the signed stub's certificate table, and runs a copy
# restamped without the key as an unstamped one.
minisign -G -W -p "$signed/stamp.pub" -s "$signed/stamp.key" >"$signed/stamp.log" 2>&1 ||
    fail "cannot make the stamp key: $(cat "$signed/stamp.log")"
stamp_key=$(tail -n 1 "$signed/stamp.pub")
"$stamp" --sign-key "$signed/stamp.key" "$signed/wrenkit-setup-e2e-signed.exe" \
    -o "$signed/stamp-signed.exe" partnerId=31 vid=3 </dev/null
"$stamp" "$signed/stamp-signed.exe" -o "$signed/stamp-unsigned.exe" partnerId=32 vid=4
for case in "stamp-signed|  /partnerId=31 /vid=3|" \
    "stamp-unsigned||not believed: the settings block is not signed"; do
    IFS='|' read -r name expected cause <<<"$case"
    verify_signature "$signed/$name.exe" ||
        fail "$name no longer verifies: $(cat "$signed/$name.exe.verify.log")"
    records="$signed/$name-run"
    mkdir -p "$records"
    run_windows "$signed/$name.exe" "https://$HOST:$NGINX_HTTPS_PORT/files/wine-installer.exe?" \
        "$records" WEBSETUP_E2E_PRODUCT_KEY=wrnkit WEBSETUP_E2E_STAMP_KEY="$stamp_key" \
        >"$records.log" 2>&1 || fail "$name failed: $(cat "$records.log")"
    run=$(recorded "$records")
    [ "$(cat "$run.params")" = "$expected" ] ||
        fail "$name: the installer received [$(cat "$run.params")], expected [$expected]"
    if [ -n "$cause" ]; then
        grep -qF "$cause" "$records.log" || fail "$name does not say why: $(cat "$records.log")"
    elif grep -q "not believed" "$records.log"; then
        fail "$name was not believed: $(cat "$records.log")"
    fi
done
passed=$((passed + 1))

# --- names outside ASCII: the user's temporary folder (TEMP and TMP, which
# wine takes from the user's registry environment, not from Linux's), or the
# folder the stub was saved in. A narrow name would be read in the locale's
# ANSI code page: Cyrillic is lost under English, and UTF-8 bytes are not that
# code page's letters under any. Each row: tag|LANG|TEMP (empty: wine's
# own)|folder of the stub under $out (empty: where it was stamped).
"$run_wine" reg export 'HKCU\Environment' "$(windows_path "$out/environment.reg")" /y >/dev/null ||
    fail "cannot save the user's environment"
restore_environment() {
    "$run_wine" reg import "$(windows_path "$out/environment.reg")" >/dev/null 2>&1 || true
}
trap restore_environment EXIT
unicode_cases=(
    'temp-ru|ru_RU.UTF-8|C:\users\Иван Петров\Temp|'
    'temp-en|en_US.UTF-8|C:\users\Иван Петров\Temp|'
    'temp-latin-en|en_US.UTF-8|C:\users\José Núñez\Temp|'
    'stub-folder-en|en_US.UTF-8||Загрузки Ивана'
)
"$stamp" "$windows_stub" -o "$out/unicode-stub.exe" partnerId=12 vid=7 silentMode=true
for row in "${unicode_cases[@]}"; do
    IFS='|' read -r tag language temp folder <<<"$row"
    records="$out/$tag"
    mkdir -p "$records"
    stub="$out/unicode-stub.exe"
    if [ -n "$folder" ]; then
        mkdir -p "$out/$folder"
        cp "$stub" "$out/$folder/setup.exe"
        stub="$out/$folder/setup.exe"
    fi
    temp_folder=""
    if [ -n "$temp" ]; then
        temp_folder="$WINEPREFIX/drive_c/${temp:3}"
        temp_folder=${temp_folder//\\//}
        rm -rf "$temp_folder"
        mkdir -p "$temp_folder"
        for name in TEMP TMP; do
            "$run_wine" reg add 'HKCU\Environment' /v "$name" /t REG_SZ /d "$temp" /f >/dev/null ||
                fail "$tag: cannot set $name"
        done
    fi
    run_windows "$stub" "http://$HOST:$NGINX_HTTP_PORT/files/wine-installer.exe?" "$records" \
        LANG="$language" WEBSETUP_E2E_PRODUCT_KEY=wrnkit >"$records.log" 2>&1 ||
        fail "$tag: the stub failed: $(cat "$records.log")"
    restore_environment
    run=$(recorded "$records")
    printf '%s' '  /partnerId=12 /vid=7 /S' | cmp -s - "$run.params" ||
        fail "$tag: the installer received [$(cat "$run.params")]: $(cat "$records.log")"
    if [ -n "$temp_folder" ]; then
        compgen -G "$temp_folder/websetup-S-*/wren_kit_.exe" >/dev/null ||
            fail "$tag: no installer in $temp"
    fi
    passed=$((passed + 1))
done

# --- an installer the system cannot start (here: no program at all, as a
# file blocked or cut short would be): the internal error, its cause on
# standard error, nothing started, and a failure status.
printf 'not a program\n' >"$SERVED_DIR/wine-not-a-program.exe"
mkdir -p "$out/unstartable"
run_windows "$out/unicode-stub.exe" "http://$HOST:$NGINX_HTTP_PORT/files/wine-not-a-program.exe?" \
    "$out/unstartable" WEBSETUP_E2E_PRODUCT_KEY=wrnkit >"$out/unstartable.log" 2>&1 &
pid=$!
box=$(window "Error!") ||
    fail "no error box for an installer that cannot start: $(cat "$out/unstartable.log")"
drawn "$box" || fail "the error box was never painted"
shot unstartable-error-box
expect_texts unstartable "Error!" "Yes" "No" "Internal Error.The program will be automatically closed!" \
    "*wren_kit_.exe could not be started." "Details are in *websetup.log."
xdotool windowactivate --sync "$box" key Return
ended "$pid" || fail "the stub did not end after the error box"
status=0
wait "$pid" || status=$?
[ "$status" -eq 6 ] || fail "a start that failed ended with status $status, not 6"
grep -q 'cannot start .*wren_kit_\.exe: ' "$out/unstartable.log" ||
    fail "no cause on standard error: $(cat "$out/unstartable.log")"
compgen -G "$out/unstartable/run.*" >/dev/null && fail "something was recorded as started"
passed=$((passed + 1))

# --- an unreachable server: the error box with libcurl's "could not connect"
# (7) and its cause in plain words, in English and in Russian, then the end.
mkdir -p "$out/unreachable"
"$stamp" "$windows_stub" -o "$out/unreachable/stub.exe" partnerId=1
# unreachable_box TAG LANG CAPTION YES NO TEXT...: the box's caption, its
# buttons and the lines of its message.
unreachable_box() {
    local tag=$1 language=$2 caption=$3 yes=$4 no=$5
    shift 5
    run_windows "$out/unreachable/stub.exe" "http://$HOST:$CLOSED_PORT/x?" "$out/unreachable" \
        LANG="$language" WEBSETUP_E2E_PROBE_URL="http://$HOST:$CLOSED_PORT/" \
        >"$out/$tag.log" 2>&1 &
    local pid=$!
    local box
    box=$(window "$caption") || fail "$tag: no error box for an unreachable server"
    drawn "$box" || fail "$tag: the error box was never painted"
    shot "$tag-error-box"
    expect_texts "$tag" "$caption" "$yes" "$no" "$@"
    # "No": "Yes" would open the page in a browser.
    xdotool windowactivate --sync "$box" key Escape
    ended "$pid" || fail "$tag: the stub did not end after the error box"
    compgen -G "$out/unreachable/run.*" >/dev/null && fail "$tag: an installer was started after the error"
    passed=$((passed + 1))
}
unreachable_box unreachable en_US.UTF-8 "Error!" "Yes" "No" \
    "Download Error (system code: 7). The program will be automatically closed!" \
    "Could not connect to $HOST." \
    "The full installer can be downloaded from https://www.wrenkit.example/download. Open this page?" \
    "Details are in *websetup.log."
unreachable_box unreachable-ru ru_RU.UTF-8 "Ошибка!" "Да" "Нет" \
    "Download Error (system code: 7). Программа будет автоматически закрыта!" \
    "Не удалось подключиться к $HOST." \
    "Полный установщик можно скачать со страницы https://www.wrenkit.example/download. Открыть её?" \
    "Подробности записаны в *websetup.log."

# --- closing during a slow download, in English and in Russian.
slow_host="http://$HOST:$NGINX_HTTP_PORT/slow/16k/wine-installer.exe?"
# close_flow TAG LANG TITLE BOX_TITLE QUESTION YES NO: TITLE is the
# window's, the rest are the texts of the box that closing it shows.
close_flow() {
    local tag=$1 language=$2 title=$3 box_title=$4 question=$5 yes=$6 no=$7
    local records="$out/$tag"
    mkdir -p "$records"
    run_windows "$out/unreachable/stub.exe" "$slow_host" "$records" LANG="$language" \
        >"$out/$tag.log" 2>&1 &
    local pid=$!
    local main box
    main=$(window "$title") || fail "$tag: no window titled $title"
    shows_progress "$main" || fail "$tag: the bar never filled"
    shot "$tag-window"

    wmctrl -i -c "$main"
    box=$(window "$box_title") || fail "$tag: closing did not ask"
    drawn "$box" || fail "$tag: the question was never painted"
    shot "$tag-confirmation"
    expect_texts "$tag" "$box_title" "$yes" "$no" "$question"
    xdotool windowactivate --sync "$box" key Tab Return  # the second button: continue
    gone "$box_title" || fail "$tag: the question stayed open"
    capture "$main" >"$out/$tag-answered.ppm"
    changed "$main" "$out/$tag-answered.ppm" || fail "$tag: progress stood still"
    kill -0 "$pid" 2>/dev/null || fail "$tag: declining ended the run"
    shot "$tag-continued"

    wmctrl -i -c "$main"
    box=$(window "$box_title") || fail "$tag: the second close did not ask"
    xdotool windowactivate --sync "$box" key Return  # the default button: Yes
    ended "$pid" || fail "$tag: Yes did not end the stub"
    # Not a wait for an event: a second in which a wrongly started installer
    # would have recorded its run.
    sleep 1
    compgen -G "$records/run.*" >/dev/null && fail "$tag: an installer was started"
    passed=$((passed + 1))
}
close_flow close-en en_US.UTF-8 "WrenKit installation" "Closing of downloader" \
    "Do you want to stop download process?" "Yes" "No, continue"
close_flow close-ru ru_RU.UTF-8 "Установка WrenKit" "Загрытие программы" \
    "Хотите ли вы завершить процесс загрузки?" "Да" "Нет, продолжить"

# --- the window at 96, 144 and 192 DPI (the system DPI a per-monitor aware
# program starts with under wine, which has one screen): it grows with the
# DPI and still shows its progress; the screenshots are for a person to look
# at. The prefix is kept for later runs, so it goes back to 96 in any case.
set_dpi() {
    "$run_wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f \
        >/dev/null
}
trap 'restore_environment; set_dpi 96 || true' EXIT
width_at_96=""
for dpi in 96 144 192; do
    set_dpi "$dpi" || fail "cannot set the DPI to $dpi"
    records="$out/dpi-$dpi"
    mkdir -p "$records"
    run_windows "$out/unreachable/stub.exe" "$slow_host" "$records" >"$out/dpi-$dpi.log" 2>&1 &
    pid=$!
    main=$(window "WrenKit installation") || fail "$dpi DPI: no window"
    shows_progress "$main" || fail "$dpi DPI: the bar never filled"
    # The window alone. At 192 DPI it is wider than the 640-pixel test
    # screen, which cuts the picture off at its edge; its width is checked
    # whole.
    import -window "$main" "$out/dpi-$dpi-window.png"
    width=$(xdotool getwindowgeometry "$main" | sed -n 's/^ *Geometry: \([0-9]*\)x.*/\1/p')
    [ -n "$width" ] || fail "$dpi DPI: no geometry of the window"
    width_at_96=${width_at_96:-$width}
    # Dialog units follow the font, whose sizes round: within a tenth.
    expected=$((width_at_96 * dpi / 96))
    [ $((width * 10)) -ge $((expected * 9)) ] && [ $((width * 10)) -le $((expected * 11)) ] ||
        fail "$dpi DPI: the window is $width pixels wide, not about $expected"
    wmctrl -i -c "$main"
    box=$(window "Closing of downloader") || fail "$dpi DPI: closing did not ask"
    xdotool windowactivate --sync "$box" key Return
    ended "$pid" || fail "$dpi DPI: Yes did not end the stub"
    echo "$dpi DPI: the window is $width pixels wide"
done
set_dpi 96 || fail "cannot set the DPI back to 96"
passed=$((passed + 1))

echo "screenshots in $out"
echo "wine smoke tests: $passed passed, 0 failed"
