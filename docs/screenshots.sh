#!/bin/sh
# Makes the user guide's screenshots in docs/images/ from the built programs.
# The programs run in a throw-away installation folder on a virtual display
# (Xvfb); windows are opened with xdotool and captured with ImageMagick's
# import, cropped to the window.
#
#   docs/screenshots.sh            (as root: Syslogd listens on UDP 514)
#
# Needs: xvfb, xdotool, imagemagick, fonts-noto-cjk, a build in build/.
# QUELLIN_BIN overrides the program folder, SCREENSHOT_DISPLAY the display.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
bin=${QUELLIN_BIN:-$top/build/bin}
out=$top/docs/images
display=${SCREENSHOT_DISPLAY:-:93}

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshots.sh: $tool is missing" >&2; exit 1; }
done
for program in Quellin_tool quellin Syslogd Setup tarnsim tarnimage; do
    [ -x "$bin/$program" ] || { echo "screenshots.sh: $bin/$program is missing" >&2; exit 1; }
done

work=$(mktemp -d /tmp/quellin-shots.XXXXXX)
inst=$work/Quellin_server
xvfb_pid=""
tool_pid=""
setup_pid=""
fleet_pid=""
syslogd_pid=""

stop() {  # stop PID: ask first, insist after five seconds
    [ -n "$1" ] || return 0
    kill "$1" 2>/dev/null || return 0
    for _ in 1 2 3 4 5 6 7 8 9 10; do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.5
    done
    kill -9 "$1" 2>/dev/null || true
}
cleanup() {
    status=$?
    if [ "$status" -ne 0 ]; then
        for log in "$work"/*.log; do
            [ -s "$log" ] && { echo "--- $log"; tail -n 20 "$log"; } >&2
        done
    fi
    stop "$setup_pid"
    stop "$syslogd_pid"
    stop "$tool_pid"   # the console stops the Syslogd it started
    stop "$fleet_pid"
    stop "$xvfb_pid"
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

export DISPLAY="$display"
export LANG=C.UTF-8
# A Japanese face for every text, Latin letters included, as on a Japanese
# desktop.
cat >"$work/fonts.conf" <<'EOF'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <alias binding="strong">
    <family>sans-serif</family>
    <prefer><family>Noto Sans CJK JP</family></prefer>
  </alias>
</fontconfig>
EOF
export FONTCONFIG_FILE="$work/fonts.conf"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"

# Waits for a top-level window whose title is exactly $1; prints its id.
window() {
    for _ in $(seq 1 120); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        if [ -n "$id" ]; then
            sleep 0.5   # let it paint
            echo "$id"
            return 0
        fi
        sleep 0.25
    done
    import -window root /tmp/quellin-shots-failure.png 2>/dev/null || true
    echo "screenshots.sh: no window \"$1\" (screen: /tmp/quellin-shots-failure.png)" >&2
    return 1
}
shot() {  # shot WINDOW-ID NAME
    [ -n "$1" ] || exit 1   # import would wait for a click on the screen
    import -window "$1" -strip "PNG8:$out/$2.png" 2>/dev/null || import -window "$1" "$out/$2.png"
    echo "wrote docs/images/$2.png"
}
click() {  # click WINDOW-ID X Y (window coordinates)
    xdotool mousemove --window "$1" "$2" "$3" click 1
    sleep 0.3
}
menu() {  # menu WINDOW-ID X ITEM-KEY: opens the menu title at X, picks the item
    click "$1" "$2" 12
    sleep 0.7
    xdotool key "$3"
    sleep 0.3
}

# --- A demo installation --------------------------------------------------
mkdir -p "$inst/firmware" "$inst/log" "$inst/syslog" "$inst/config" "$work/medium" "$out"
cp "$bin/Setup" "$bin/tarnsim" "$work/medium/"
cp "$bin/Quellin_tool" "$bin/quellin" "$inst/"
cp "$bin/Syslogd" "$inst/syslog/"
cp dist/firmifconvert.db "$inst/"
printf '[Config]\r\nLOGINID=admin\r\nMAXROWS=300\r\nFIRMDIR=/opt/Quellin_server/firmware\r\nLOGDIR=/opt/Quellin_server/log\r\nPORT=80\r\n' \
    >"$inst/NEXORA.INI"
register() {  # register NAME ADDRESS ACCESS-ID CONFIG
    printf 'hostname %s\r\n' "$4" >"$inst/config/$4.cfg"
    "$inst/quellin" register --home "$inst" "$1" --address "$2" --password secret \
        --access-id "$3" --access-password "$3-pass" --config "$inst/config/$4.cfg" >/dev/null
}
register tokyo-branch 192.168.10.1 tokyo01 tokyo
register 大阪支店 192.168.20.1 osaka01 osaka
register nagoya-branch 192.168.30.1 nagoya01 nagoya
register fukuoka-branch 192.168.40.1 fukuoka01 fukuoka
# Syslogd with two search strings, one of them alerting by mail.
{
    printf '[SETUP]\r\nMailSendFlag=1\r\nSMTPServer=mail.example.jp\r\n'
    printf 'ClientMailAddress=syslog@example.jp\r\n'
    printf 'KeyStr1=session down\r\nDispStr1=PPP session down\r\nMailFlag1=1\r\n'
    printf 'SubjectStr1=Line down\r\nToStr1=noc@example.jp\r\nFromStr1=Quellin Server\r\n'
    printf 'KeyStr2=login admin\r\nDispStr2=<Syslog%s>\r\nMailFlag2=0\r\n' \
        "$(printf 'メッセージを表示する' | iconv -f UTF-8 -t CP932)"
} >"$inst/syslog/Syslogd.ini"

Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
sleep 1

# --- Setup's first window -------------------------------------------------
# Setup runs once per machine: when another Setup (a test, say) holds the
# lock, it quits at once, so try again a few times.
id=""
for _ in 1 2 3 4 5 6 7 8 9 10; do
    "$work/medium/Setup" >"$work/setup.log" 2>&1 &
    setup_pid=$!
    for _ in $(seq 1 40); do
        id=$(xdotool search --onlyvisible --name '^Quellin Server セットアップ$' 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] || ! kill -0 "$setup_pid" 2>/dev/null || { sleep 0.25; continue; }
        break
    done
    [ -n "$id" ] && break
    stop "$setup_pid"
    sleep 2
done
[ -n "$id" ] || id=$(window 'Quellin Server セットアップ')
sleep 0.5
shot "$id" setup-start
stop "$setup_pid"
setup_pid=""

# --- The console ----------------------------------------------------------
(cd "$inst" && exec ./Quellin_tool) >"$work/tool.log" 2>&1 &
tool_pid=$!
main=$(window 'Quellin Server')

# The console's window is laid out at 600 x 440; its buttons sit on the right.
click "$main" 549 46   # 設定 with the first row selected
settings=$(window '装置設定')
shot "$settings" device-settings
xdotool key Escape   # a modal dialog holds the keyboard
sleep 0.5

menu "$main" 106 e   # 設定 > 環境設定
environment=$(window '環境設定')
shot "$environment" environment-settings
xdotool key Escape
sleep 0.5

click "$main" 549 78   # メンテナンス
maintenance=$(window 'メンテナンス.*')
shot "$maintenance" maintenance
xdotool key Escape
sleep 0.5

# --- Syslogd, started from the console ------------------------------------
menu "$main" 165 l   # ツール > システムログ起動
syslogd=$(window 'Syslogd')
sleep 1
send() {  # send FROM PRI TEXT
    "$work/medium/tarnsim" syslog --from "$1" --to 127.0.0.1:514 --pri "$2" "$3"
}
send 127.0.0.2 134 "tokyo-branch: login admin from 192.168.10.20"
send 127.0.0.3 131 "osaka: PPP session down (interface ppp0)"
send 127.0.0.3 134 "osaka: PPP session up (interface ppp0)"
send 127.0.0.4 132 "nagoya: firmware stored, restart at 2400"
send 127.0.0.2 133 "tokyo-branch: configuration saved"
send 127.0.0.5 134 "fukuoka-branch: login admin from 192.168.40.20"
sleep 1
# The last matching message raised a pop-up over the list: shoot it on its
# own, then move it aside so that the list is shot as the operator reads it.
popup=$(window 'Infomation')
shot "$popup" syslogd-popup
xdotool windowmove "$popup" 980 680
sleep 1
shot "$syslogd" syslogd

menu "$syslogd" 165 t   # 設定 > 動作設定
settings=$(window '設定画面')
shot "$settings" syslogd-settings
xdotool key alt+h   # 変更: the first search string
entry=$(window '検索文字列設定')
shot "$entry" syslogd-search-entry
xdotool key Escape
sleep 0.5
xdotool key Escape
sleep 0.5
sleep 1.5   # the console notices the running server within a second
xdotool windowraise "$main"
sleep 0.5
shot "$main" console-main

# --- Syslogd's settings for a site: mail over STARTTLS with a login, ------
# the alert hold-off, rotation and forwarding.  A Syslogd of its own, so
# that no alert of the pictures above tries that mail.
stop "$tool_pid"   # stops the Syslogd it started as well
tool_pid=""
for _ in $(seq 1 40); do
    xdotool search --name '^Syslogd$' >/dev/null 2>&1 || break
    sleep 0.25
done
{
    printf '[SETUP]\r\nMailSendFlag=1\r\nSMTPServer=smtp.example.jp\r\nSMTPPort=587\r\n'
    printf 'ClientMailAddress=syslog@example.jp\r\n'
    printf 'SMTPSecurity=1\r\nSMTPAuthFlag=1\r\nSMTPUser=syslog@example.jp\r\nSMTPPassword=example-only\r\n'
    printf 'AlertHoldSeconds=300\r\n'
    printf 'LogWriteFlag=1\r\nLogPath=%s/syslog/syslogd.txt\r\nLogRotateType=1\r\nLogKeepCount=14\r\n' "$inst"
    printf 'ForwardFlag=1\r\nForwardHost=collector.example.jp\r\nForwardPort=514\r\nForwardProtocol=1\r\n'
    printf 'KeyStr1=session down\r\nDispStr1=PPP session down\r\nMailFlag1=1\r\n'
    printf 'SubjectStr1=Line down\r\nToStr1=noc@example.jp\r\nFromStr1=Quellin Server\r\n'
} >"$inst/syslog/Syslogd.ini"
(cd "$inst/syslog" && exec ./Syslogd) >"$work/syslogd.log" 2>&1 &
syslogd_pid=$!
syslogd=$(window 'Syslogd')
sleep 1

menu "$syslogd" 165 t   # 設定 > 動作設定
settings=$(window '設定画面')
shot "$settings" syslogd-settings
xdotool key ctrl+Tab ctrl+Tab   # ログ設定
sleep 0.7
shot "$settings" syslogd-log-settings
xdotool key ctrl+Tab   # メール送信 (the display-filter tab is hidden)
sleep 0.7
shot "$settings" syslogd-mail-settings
xdotool key ctrl+Tab   # 転送設定
sleep 0.7
shot "$settings" syslogd-forward-settings
xdotool key Escape
sleep 0.5
stop "$syslogd_pid"
syslogd_pid=""

# --- Syslogd's search window over its store ----------------------------------
# A Syslogd keeping its store beside Syslogd.ini, fed by simulated routers:
# a burst of errors among routine messages, so that the chart shows it.
printf '[SETUP]\r\nStoreFlag=1\r\nStorePath=syslogd-store.db\r\nSoundType=1\r\n' \
    >"$inst/syslog/Syslogd.ini"
(cd "$inst/syslog" && exec ./Syslogd) >"$work/syslogd.log" 2>&1 &
syslogd_pid=$!
syslogd=$(window 'Syslogd')
sleep 1
for i in 1 2 3 4 5 6; do
    send 127.0.0.2 134 "tokyo-branch: login admin from 192.168.10.2$i"
    send 127.0.0.3 131 "osaka: PPP session down (interface ppp0)"
    send 127.0.0.3 134 "osaka: PPP session up (interface ppp0)"
done
send 127.0.0.4 132 "nagoya: firmware stored, restart at 2400"
send 127.0.0.5 133 "fukuoka-branch: configuration saved"
sleep 1
menu "$syslogd" 95 f   # 表示 > 検索
search=$(window '検索')
xdotool windowsize "$search" 900 640
sleep 0.5
xdotool key alt+s   # 検索
sleep 2
shot "$search" syslogd-search
xdotool key Escape
sleep 0.5
stop "$syslogd_pid"
syslogd_pid=""

# --- The inventory window, against simulated routers ----------------------
# The console asks routers on port 23 of their addresses: a tarnsim fleet
# there, images in the installation's software folder, and the devices
# registered anew (the console is closed while quellin writes base.db).
stop "$tool_pid"
tool_pid=""
cp "$bin/tarnimage" "$work/medium/"
for image in Tarn-90:V30.10 Tarn-60:V29.08 BRKX30:V31.05; do
    "$work/medium/tarnimage" --model "${image%%:*}" --version "${image#*:}" \
        "$inst/firmware/$(echo "$image" | tr 'A-Z:' 'a-z-').bin" >/dev/null
done
printf '[Config]\r\nLOGINID=admin\r\nMAXROWS=300\r\nFIRMDIR=%s/firmware\r\nLOGDIR=%s/log\r\nPORT=80\r\n' \
    "$inst" "$inst" >"$inst/NEXORA.INI"
{
    echo "defaults password=secret telnet-port=23 ftp-port=21"
    echo "router name=tokyo address=127.0.93.11 model=Tarn-90 version=V30.01"
    echo "router name=osaka address=127.0.93.12 model=Tarn-90 version=V30.10 startup=config2"
    echo "router name=nagoya address=127.0.93.13 model=Tarn-60 version=V29.05"
    echo "router name=fukuoka address=127.0.93.14 model=BRKX30TA version=V31.05"
    echo "router name=sapporo address=127.0.93.15 model=Tarn-90 version=V30.20"
    echo "router name=sendai address=127.0.93.16 model=Tarn-70 version=V30.00"
} >"$work/fleet.txt"
"$work/medium/tarnsim" --state "$work/fleet" --fleet "$work/fleet.txt" >"$work/fleet.log" 2>&1 &
fleet_pid=$!
for _ in $(seq 1 40); do
    grep -q '^ready all' "$work/fleet.log" 2>/dev/null && break
    sleep 0.25
done
rm -f "$inst/base.db"
n=11
for name in tokyo-branch 大阪支店 nagoya-branch fukuoka-branch sapporo-branch sendai-branch \
    kobe-branch; do
    "$inst/quellin" register --home "$inst" "$name" --address "127.0.93.$n" \
        --password secret >/dev/null
    n=$((n + 1))
done
(cd "$inst" && exec ./Quellin_tool) >"$work/tool.log" 2>&1 &
tool_pid=$!
main=$(window 'Quellin Server')
menu "$main" 165 i   # ツール > 装置インベントリ
inventory=$(window '装置インベントリ')
# Every router answers within one dialogue (2 s and 5 s of silence).
sleep 10
xdotool windowraise "$inventory"
sleep 0.5
shot "$inventory" inventory

# The web view's fleet and diff pages, from the installed system's test in
# headless Chromium (as root: Setup installs and the web server starts).
QUELLIN_WEB_SCREENSHOTS=$out ctest --test-dir build -R 'InstalledWebView.ABrowserLogsIn' >/dev/null ||
    echo "screenshots.sh: the web view's pictures were not made" >&2
