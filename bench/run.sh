#!/usr/bin/env bash
# Upload benchmark: PELNO's real upload path (an optimised build) against lftp's "mirror -R --parallel=10",
# stock and tuned for speed, same server, same workload, direct and at 20 ms round-trip time on the control
# connection; the listing of large folders through the real window; and the deletion of the published site by the
# tree's command against lftp's "rm -r", with the round trips of a tree click. A benchmark, not a test; everything
# it needs is in this folder and tools/.
#
# usage: bench/run.sh [site|bulk|site-mp|bulk-mp|site-tls|site-sftp|bulk-sftp|memory|large-folder|republish|delete]...
# (default: all but site-mp; "-mp": against the server with a process per connection; "site-tls": against Debian's
# vsftpd with TLS required on every connection and data connections that must resume the control connection's TLS
# session, as hosts run it; "-sftp": against Debian's OpenSSH server (internal-sftp), lftp's mirror over sftp beside
# PELNO).
# Each client runs BENCH_RUNS_DIRECT times (default 5) without a delay and BENCH_RUNS_DELAYED times (default 3) at
# 20 ms; the medians are compared. large-folder lists each folder BENCH_RUNS_DIRECT times, each time in a new window.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/deps.sh
pelno_ensure_packages "${PELNO_BUILD_PACKAGES[@]}" lftp time bc vsftpd openssh-server openssh-client
# The optimised program users get from ./run.sh, in a folder of its own, with the driver beside it.
pelno_configure build-bench -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C build-bench -j2 pelno_uploadbench pelno_listingbench pelno_deletebench >/dev/null

work=$PWD/build-bench/bench
bin=$PWD/build-bench/bin
server_script=$PWD/tests/support/ftpserver.py
proxy_script=$PWD/bench/delayproxy.py
user=bench
password=bench
[ "$(id -u)" -eq 0 ] && export QTWEBENGINE_DISABLE_SANDBOX=1
export QT_QPA_PLATFORM=offscreen QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu" PATH="$bin:$PATH"

pids=()
sftp_user=pelnobench
cleanup() {
    for p in "${pids[@]:-}"; do kill "$p" 2>/dev/null || true; done
    if [ -n "${sftp_user_made:-}" ]; then userdel "$sftp_user" 2>/dev/null || true; fi
}
trap cleanup EXIT

# start_server ROOT [keep] -> sets $server_port; the root starts empty unless "keep" is given
start_server() {
    [ "${2:-}" = keep ] || { rm -rf "$1" && mkdir -p "$1"; }
    local out=$work/server.out
    /usr/bin/python3 "$server_script" --root "$1" --user $user --password $password --port 0 ${server_args[@]+"${server_args[@]}"} \
        >"$out" 2>&1 &
    pids+=($!)
    server_pid=$!
    for _ in $(seq 100); do grep -q '^PORT ' "$out" 2>/dev/null && break; sleep 0.1; done
    server_port=$(sed -n 's/^PORT //p' "$out")
}
stop_server() { kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; }

# use_control_port RTT_MS [live]: sets $port, the port clients use: the server's own, or that of a delay proxy in
# front of it, which counts the round trips the clients wait for and their logins in $work/proxy.stats ("live":
# after every command, not only when a connection ends).
use_control_port() {
    port=$server_port
    rm -f "$work/proxy.stats"
    [ "$1" -eq 0 ] && return
    port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    /usr/bin/python3 "$proxy_script" "$port" "$server_port" $(($1 / 2)) --stats="$work/proxy.stats" \
        ${2:+--live} >/dev/null 2>&1 &
    pids+=($!)
    sleep 0.5
}
# round_trips -> "<client round trips> <logins>" as the proxy counted them, or "- -" without a proxy
round_trips() {
    sleep 0.5
    if [ -f "$work/proxy.stats" ]; then awk '{print $2, $4}' "$work/proxy.stats"; else echo "- -"; fi
}

digest() { (cd "$1" && find . -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum | cut -c1-16); }
count() { find "$1" -type f | wc -l; }
bytes() { find "$1" -type f -printf '%s\n' | awk '{s+=$1} END {print s+0}'; }

verify() { # verify SOURCE UPLOADED LABEL
    local a b
    a="$(count "$1") files, $(bytes "$1") bytes, $(digest "$1")"
    b="$(count "$2") files, $(bytes "$2") bytes, $(digest "$2")"
    if [ "$a" = "$b" ]; then echo "  $3 verified: $b"; else echo "  $3 MISMATCH: source $a, server $b"; fi
}

# run_lftp KIND SETTINGS MIRROR_OPTIONS -> prints the seconds
run_lftp() {
    local t0 t1
    t0=$(date +%s.%N)
    timeout 600 lftp -c "set ftp:passive-mode off; set net:max-retries 1; $2 open -u $user,$password -p $port 127.0.0.1; mirror -R $3 $src /$1" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    echo "$t1 - $t0" | bc
}

# median of the arguments (numbers)
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {printf "%.6f\n", (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# "lowest-highest" of the arguments
spread() { printf '%s\n' "$@" | sort -g | awk 'NR == 1 {lo = $1} {hi = $1} END {printf "%.2f-%.2f", lo, hi}'; }

# One run of each client, into a fresh root of a fresh server: sets $pelno, $stock, $tuned (seconds) and their
# round-trip counts.
run_once() { # run_once KIND RTT SRC
    local kind=$1 rtt=$2 src=$3
    start_server "$work/root-pelno"
    use_control_port "$rtt"
    "$bin/pelno_uploadbench" "$src" "127.0.0.1:$port" $user $password --proxy-stats "$work/proxy.stats" \
        >"$work/pelno.out" 2>&1 || true
    # from the drop to the end message: the upload itself, its logins and the closing listing included
    pelno=$(sed -n 's/^pelno \([0-9.]*\) s.*/\1/p' "$work/pelno.out")
    [ -n "$pelno" ] || pelno=0
    grep -E '^pelno|^failed' "$work/pelno.out" | head -5 | sed 's/^/  /'
    pelno_trips=$(round_trips)
    verify "$src" "$work/root-pelno/$kind" "PELNO"
    stop_server

    start_server "$work/root-lftp"
    use_control_port "$rtt"
    stock=$(run_lftp "$kind" "" "--parallel=10")
    stock_trips=$(round_trips)
    verify "$src" "$work/root-lftp/$kind" "lftp"
    stop_server

    # pyftpdlib answers pipelined commands in order, so lftp may send without waiting for each reply. Pipelined
    # in active mode, lftp stalls against pyftpdlib (10 of 1,000 files in 20 minutes), so this one is passive.
    start_server "$work/root-lftp"
    use_control_port "$rtt"
    tuned=$(run_lftp "$kind" "set ftp:passive-mode on; set ftp:sync-mode off; set ftp:use-site-utime no; set ftp:use-site-utime2 no;" \
        "--no-perms --no-umask --parallel=10")
    tuned_trips=$(round_trips)
    verify "$src" "$work/root-lftp/$kind" "lftp tuned"
    stop_server
}

# Sub-second runs move with whatever else the machine does (a fresh 256 MiB of page cache, the scheduler): each
# client runs $runs times, in turns, and the median counts.
run_pair() { # run_pair KIND RTT RUNS [LABEL]
    local kind=$1 rtt=$2 runs=$3 label=${4:-$1} src=$work/data/$1/$1
    local port pelno stock tuned pelno_trips stock_trips tuned_trips
    local -a pelnos=() stocks=() tuneds=()
    for _ in $(seq "$runs"); do
        run_once "$kind" "$rtt" "$src"
        pelnos+=("$pelno") stocks+=("$stock") tuneds+=("$tuned")
    done
    pelno=$(median "${pelnos[@]}") stock=$(median "${stocks[@]}") tuned=$(median "${tuneds[@]}")

    set -- $pelno_trips
    local pr=$1 pl=$2 drop="-"
    # the drop's own share: what the proxy had counted before it (the connect test and the first listing) taken off
    local before
    before=$(sed -n 's/^before drop: //p' "$work/pelno.out")
    if [ -n "$before" ] && [ "$pr" != "-" ]; then
        set -- $before
        drop="$((pr - $2)) round trips, $((pl - $4)) logins"
    fi
    set -- $stock_trips
    local sr=$1
    set -- $tuned_trips
    local tr=$1
    printf '%-8s RTT %2d ms, median of %d: PELNO %6.2f s (%s round trips, %s logins; the drop: %s) | lftp %6.2f s (%s) | lftp tuned %6.2f s (%s) | PELNO/lftp %.2f, PELNO/tuned %.2f\n' \
        "$label" "$rtt" "$runs" "$pelno" "$pr" "$pl" "$drop" "$stock" "$sr" "$tuned" "$tr" \
        "$(echo "$pelno / $stock" | bc -l)" "$(echo "$pelno / $tuned" | bc -l)"
    printf '         each run: PELNO %s s, lftp %s s, lftp tuned %s s\n' \
        "$(spread "${pelnos[@]}")" "$(spread "${stocks[@]}")" "$(spread "${tuneds[@]}")"
}

# start_vsftpd ROOT -> sets $server_port: vsftpd with TLS required (certificate of $work/tls), anonymous logins
# locked into ROOT, which they may not write; they upload into ROOT/pub. vsftpd needs root for that lock. ASCII
# uploads are stored with the server's line ends (vsftpd's default keeps the CR LF of the wire), so that each
# upload can be checked byte for byte against the source.
start_vsftpd() {
    rm -rf "$1" && mkdir -p "$1/pub" && chmod 755 "$1" && chmod 777 "$1/pub"
    mkdir -p "$work/vsftpd-empty"
    server_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    printf '%s\n' listen=YES listen_ipv6=NO listen_address=127.0.0.1 "listen_port=$server_port" background=NO \
        "secure_chroot_dir=$work/vsftpd-empty" anonymous_enable=YES local_enable=NO "anon_root=$1" write_enable=YES \
        anon_upload_enable=YES anon_mkdir_write_enable=YES anon_other_write_enable=YES anon_umask=022 ssl_enable=YES \
        ascii_upload_enable=YES allow_anon_ssl=YES force_anon_logins_ssl=YES force_anon_data_ssl=YES "rsa_cert_file=$work/tls/server.pem" \
        "rsa_private_key_file=$work/tls/server.key" xferlog_enable=YES xferlog_std_format=NO log_ftp_protocol=YES \
        "vsftpd_log_file=$work/vsftpd.log" >"$work/vsftpd.conf"
    : >"$work/vsftpd.log"
    /usr/sbin/vsftpd "$work/vsftpd.conf" >/dev/null 2>&1 &
    pids+=($!)
    server_pid=$!
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$server_port") 2>/dev/null && break; sleep 0.1; done
}

# An authority and a certificate for 127.0.0.1 signed by it; the clients trust the system's authorities and it,
# from one bundle, as they would trust a host's certificate from a public authority.
make_tls() {
    local dir=$work/tls
    [ -f "$dir/bundle.pem" ] && return
    mkdir -p "$dir"
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=PELNO bench authority" \
        -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$dir/server.key" -out "$dir/server.csr" \
        2>/dev/null
    printf 'subjectAltName=IP:127.0.0.1\n' >"$dir/ext.cnf"
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial -days 30 \
        -extfile "$dir/ext.cnf" -out "$dir/server.pem" 2>/dev/null
    cat /etc/ssl/certs/ca-certificates.crt "$dir/ca.pem" >"$dir/bundle.pem"
}

# One run of PELNO and of lftp with TLS, each into a fresh root of a fresh vsftpd: sets $pelno and $stock.
run_tls_once() { # run_tls_once RTT SRC
    local rtt=$1 src=$2 refused t0 t1
    start_vsftpd "$work/root-pelno"
    use_control_port "$rtt"
    SSL_CERT_FILE=$work/tls/bundle.pem "$bin/pelno_uploadbench" "$src" "127.0.0.1:$port" anonymous bench \
        --into pub --proxy-stats "$work/proxy.stats" >"$work/pelno.out" 2>&1 || true
    pelno=$(sed -n 's/^pelno \([0-9.]*\) s.*/\1/p' "$work/pelno.out")
    [ -n "$pelno" ] || pelno=0
    grep -E '^pelno|^failed' "$work/pelno.out" | head -5 | sed 's/^/  /'
    pelno_trips=$(round_trips)
    refused=$(grep -c '", "522 ' "$work/vsftpd.log" || true)
    verify "$src" "$work/root-pelno/pub/site" "PELNO (522 replies: $refused)"
    stop_server

    start_vsftpd "$work/root-lftp"
    use_control_port "$rtt"
    t0=$(date +%s.%N)
    timeout 600 lftp -c "set ssl:ca-file $work/tls/bundle.pem; set ftp:ssl-force true; set ftp:ssl-protect-data true; \
set net:max-retries 1; open -u anonymous,bench -p $port 127.0.0.1; mirror -R --parallel=10 $src /pub/site" \
        >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    stock=$(echo "$t1 - $t0" | bc)
    stock_trips=$(round_trips)
    refused=$(grep -c '", "522 ' "$work/vsftpd.log" || true)
    verify "$src" "$work/root-lftp/pub/site" "lftp (522 replies: $refused)"
    stop_server
}

run_tls_pair() { # run_tls_pair RTT RUNS
    local rtt=$1 runs=$2 src=$work/data/site/site
    local port pelno stock pelno_trips stock_trips
    local -a pelnos=() stocks=()
    for _ in $(seq "$runs"); do
        run_tls_once "$rtt" "$src"
        pelnos+=("$pelno") stocks+=("$stock")
    done
    pelno=$(median "${pelnos[@]}") stock=$(median "${stocks[@]}")
    # The proxy counts round trips; the logins (USER) it cannot see inside TLS.
    set -- $pelno_trips
    local pr=$1
    set -- $stock_trips
    printf '%-8s RTT %2d ms, median of %d: PELNO %6.2f s (%s round trips) | lftp TLS %6.2f s (%s) | PELNO/lftp %.2f\n' \
        site-tls "$rtt" "$runs" "$pelno" "$pr" "$stock" "$1" "$(echo "$pelno / $stock" | bc -l)"
    printf '         each run: PELNO %s s, lftp TLS %s s\n' "$(spread "${pelnos[@]}")" "$(spread "${stocks[@]}")"
}

site_tls() {
    [ "$(id -u)" -eq 0 ] || { echo "site-tls: vsftpd needs root to lock its sessions into their folder; skipped"; return; }
    make_tls
    [ -d "$work/data/site/site" ] || /usr/bin/python3 bench/workload.py site "$work/data/site/site"
    run_tls_pair 0 "${BENCH_RUNS_DIRECT:-5}"
    run_tls_pair 20 "${BENCH_RUNS_DELAYED:-3}"
}

# start_sshd ROOT -> sets $server_port and $host_key: Debian's sshd on 127.0.0.1 with a host key of its own, for
# the user $sftp_user, whose home ROOT starts empty. Sessions run unlocked in their home (a locked root would need
# every folder above it owned by root and writable by no one else).
start_sshd() {
    if [ -z "${sftp_user_made:-}" ]; then
        userdel "$sftp_user" 2>/dev/null || true
        useradd -M -d "$1" -s /usr/sbin/nologin "$sftp_user"
        echo "$sftp_user:$password" | chpasswd
        sftp_user_made=1
    fi
    rm -rf "$1" && mkdir -p "$1" && chown "$sftp_user:" "$1"
    mkdir -p /run/sshd "$work/sshd"
    [ -f "$work/sshd/host_key" ] || ssh-keygen -q -t ed25519 -N '' -f "$work/sshd/host_key"
    host_key=$(ssh-keygen -l -f "$work/sshd/host_key" | awk '{print $2}')
    server_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
    printf '%s\n' "ListenAddress 127.0.0.1" "Port $server_port" "HostKey $work/sshd/host_key" "PidFile none" \
        "UsePAM no" "PasswordAuthentication yes" "KbdInteractiveAuthentication no" "StrictModes no" \
        "AllowUsers $sftp_user" "Subsystem sftp internal-sftp" >"$work/sshd/sshd_config"
    /usr/sbin/sshd -D -f "$work/sshd/sshd_config" -E "$work/sshd/sshd.log" &
    pids+=($!)
    server_pid=$!
    for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$server_port") 2>/dev/null && break; sleep 0.1; done
}

# One run of PELNO and of lftp over SFTP, each into a fresh home on a fresh sshd: sets $pelno and $stock.
run_sftp_once() { # run_sftp_once KIND RTT SRC
    local kind=$1 rtt=$2 src=$3 root=$work/root-sftp t0 t1
    start_sshd "$root"
    use_control_port "$rtt"
    "$bin/pelno_uploadbench" "$src" "sftp://127.0.0.1:$port" $sftp_user $password --host-key "$host_key" \
        >"$work/pelno.out" 2>&1 || true
    pelno=$(sed -n 's/^pelno \([0-9.]*\) s.*/\1/p' "$work/pelno.out")
    [ -n "$pelno" ] || pelno=0
    grep -E '^pelno|^failed|host key' "$work/pelno.out" | head -5 | sed 's/^/  /'
    verify "$src" "$root/$kind" "PELNO"
    stop_server

    start_sshd "$root"
    use_control_port "$rtt"
    t0=$(date +%s.%N)
    timeout 600 lftp -c "set sftp:connect-program 'ssh -a -x -o StrictHostKeyChecking=no -o UserKnownHostsFile=/dev/null'; \
set net:max-retries 1; open -u $sftp_user,$password -p $port sftp://127.0.0.1; mirror -R --parallel=10 $src $kind" \
        >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    stock=$(echo "$t1 - $t0" | bc)
    verify "$src" "$root/$kind" "lftp"
    stop_server
}

run_sftp_pair() { # run_sftp_pair KIND RTT RUNS
    local kind=$1 rtt=$2 runs=$3 src=$work/data/$1/$1
    local port pelno stock
    local -a pelnos=() stocks=()
    for _ in $(seq "$runs"); do
        run_sftp_once "$kind" "$rtt" "$src"
        pelnos+=("$pelno") stocks+=("$stock")
    done
    pelno=$(median "${pelnos[@]}") stock=$(median "${stocks[@]}")
    printf '%-9s RTT %2d ms, median of %d: PELNO %6.2f s | lftp sftp %6.2f s | PELNO/lftp %.2f\n' \
        "$kind-sftp" "$rtt" "$runs" "$pelno" "$stock" "$(echo "$pelno / $stock" | bc -l)"
    printf '          each run: PELNO %s s, lftp sftp %s s\n' "$(spread "${pelnos[@]}")" "$(spread "${stocks[@]}")"
}

sftp_kind() { # sftp_kind KIND
    [ "$(id -u)" -eq 0 ] || { echo "$1-sftp: the test user and sshd need root; skipped"; return; }
    [ -d "$work/data/$1/$1" ] || /usr/bin/python3 bench/workload.py "$1" "$work/data/$1/$1"
    run_sftp_pair "$1" 0 "${BENCH_RUNS_DIRECT:-5}"
    run_sftp_pair "$1" 20 "${BENCH_RUNS_DELAYED:-3}"
}

memory() {
    local src=$work/data/large/large
    [ -d "$src" ] || /usr/bin/python3 bench/workload.py large "$src"
    start_server "$work/root-memory"
    /usr/bin/time -v "$bin/pelno_uploadbench" "$src" "127.0.0.1:$server_port" $user $password --convert \
        >"$work/memory.out" 2>&1 || true
    grep -E '^pelno|^failed' "$work/memory.out" | head -3 | sed 's/^/  /'
    echo "memory: peak resident set of PELNO converting 10 x 200 MiB to Shift-JIS:" \
        "$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/memory.out") KiB"
    stop_server
    rm -rf "$work/root-memory"
}

# One large folder listed in a new window each run: from the click on its tree node until the list and the tree
# are painted with every entry; the growth of the program's resident memory from before the click to then (and
# its peak meanwhile); the longest time the window went without a repaint; each view-style switch afterwards.
# Sets $folder_seconds (the median time).
list_folder() { # list_folder FOLDER ENTRIES LABEL
    local out=$work/listing.out runs=${BENCH_RUNS_DIRECT:-5}
    local -a seconds=() growth=() peak=() gap=() large=() small=() list=() report=() switchgap=()
    local result f g p w a b c d e
    for _ in $(seq "$runs"); do
        "$bin/pelno_listingbench" "127.0.0.1:$server_port" $user $password "$1" "$2" >"$out" 2>&1 || true
        result=$(sed -n 's/^result //p' "$out")
        if [ -z "$result" ]; then
            echo "  $3: no result"
            tail -3 "$out" | sed 's/^/    /'
            continue
        fi
        read -r _ _ f g p w a b c d e <<<"$result"
        seconds+=("$f") growth+=("$g") peak+=("$p") gap+=("$w") large+=("$a") small+=("$b") list+=("$c") report+=("$d")
        switchgap+=("$e")
    done
    [ ${#seconds[@]} -gt 0 ] || return 0
    folder_seconds=$(median "${seconds[@]}")
    g=$(median "${growth[@]}")
    p=$(median "${peak[@]}")
    printf '%-18s median of %d: filled %.2f s (each run %s) | memory +%.1f MiB, %d bytes an entry (peak +%.1f MiB) | longest without a repaint %.0f ms | style switches: アイコン %.3f s, 小さいアイコン %.3f s, 一覧 %.3f s, 詳細 %.3f s (longest without a repaint %.0f ms)\n' \
        "$3" "${#seconds[@]}" "$folder_seconds" "$(spread "${seconds[@]}")" "$(echo "$g / 1048576" | bc -l)" \
        "$(echo "$g / $2" | bc)" "$(echo "$p / 1048576" | bc -l)" "$(median "${gap[@]}")" "$(median "${large[@]}")" \
        "$(median "${small[@]}")" "$(median "${list[@]}")" "$(median "${report[@]}")" "$(median "${switchgap[@]}")"
}

# The same folder listed by our ftp client alone into a pipe, as the window runs it (median of the runs): what the
# server and the client take before the window reads a line. Sets $client_seconds.
list_with_client() { # list_with_client FOLDER
    local script=$work/client-script.txt t0 t1
    local -a times=()
    printf 'open 127.0.0.1:%s\r\n%s\r\n%s\r\ncd %s\r\nls -al\r\nquit\r\n' "$server_port" $user $password "$1" >"$script"
    for _ in $(seq "${BENCH_RUNS_DIRECT:-5}"); do
        t0=$(date +%s.%N)
        "$bin/ftp" -s:"$script" </dev/null | cat >/dev/null
        t1=$(date +%s.%N)
        times+=("$(echo "$t1 - $t0" | bc)")
    done
    rm -f "$script"
    client_seconds=$(median "${times[@]}")
}

large_folder() {
    local data=$work/data/folders
    if [ ! -d "$data" ]; then
        rm -rf "$data.part"
        /usr/bin/python3 bench/workload.py folders "$data.part"
        mv "$data.part" "$data"
    fi
    start_server "$data" keep
    local small_seconds small_client
    list_folder files2000 2000 "2,000 entries"
    small_seconds=${folder_seconds:-0}
    list_with_client files2000
    small_client=$client_seconds
    list_folder files20000 20000 "20,000 entries"
    list_with_client files20000
    if [ "$small_seconds" != 0 ]; then
        printf '%-18s 20,000 entries take %.1f times as long as 2,000; the ftp client alone %.2f s and %.2f s (%.1f times)\n' \
            "" "$(echo "$folder_seconds / $small_seconds" | bc -l)" "$small_client" "$client_seconds" \
            "$(echo "$client_seconds / $small_client" | bc -l)"
    fi
    list_folder files100000 100000 "100,000 entries"
    list_folder dirs5000 5000 "5,000 subfolders"
    stop_server
}

# One deletion of the published site by each client, each on a fresh copy in a fresh server: PELNO's tree command
# on the site's folder (from the command to the end message: the planning listings, the workers, the directory
# levels and the closing listing), and lftp's "rm -r". Sets $pelno, $stock and $click (what the click on the
# folder's node cost, as the proxy counted it).
delete_once() { # delete_once RTT SRC
    local rtt=$1 src=$2 t0 t1 left
    start_server "$work/root-delete"
    cp -r "$src" "$work/root-delete/site"
    use_control_port "$rtt" live
    "$bin/pelno_deletebench" "127.0.0.1:$port" $user $password site --proxy-stats "$work/proxy.stats" \
        >"$work/delete.out" 2>&1 || true
    pelno=$(sed -n 's/^pelno \([0-9.]*\) s.*/\1/p' "$work/delete.out")
    [ -n "$pelno" ] || pelno=0
    click=$(sed -n 's/^click //p' "$work/delete.out")
    left=$(find "$work/root-delete" -mindepth 1 | wc -l)
    echo "  PELNO: $(grep '^pelno' "$work/delete.out" | head -1); $left entries left on the server"
    stop_server

    start_server "$work/root-delete"
    cp -r "$src" "$work/root-delete/site"
    use_control_port "$rtt"
    t0=$(date +%s.%N)
    timeout 600 lftp -c "set ftp:passive-mode off; set net:max-retries 1; open -u $user,$password -p $port 127.0.0.1; rm -r /site" \
        >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    stock=$(echo "$t1 - $t0" | bc)
    left=$(find "$work/root-delete" -mindepth 1 | wc -l)
    echo "  lftp rm -r: $stock s; $left entries left on the server"
    stop_server
}

delete_pair() { # delete_pair RTT RUNS
    local rtt=$1 runs=$2 src=$work/data/site/site port pelno stock click
    local -a pelnos=() stocks=()
    for _ in $(seq "$runs"); do
        delete_once "$rtt" "$src"
        pelnos+=("$pelno") stocks+=("$stock")
    done
    pelno=$(median "${pelnos[@]}") stock=$(median "${stocks[@]}")
    printf '%-8s RTT %2d ms, median of %d: PELNO %6.2f s | lftp rm -r %6.2f s | PELNO/lftp %.2f\n' \
        delete "$rtt" "$runs" "$pelno" "$stock" "$(echo "$pelno / $stock" | bc -l)"
    printf '         each run: PELNO %s s, lftp %s s; the tree click after connecting: %s\n' \
        "$(spread "${pelnos[@]}")" "$(spread "${stocks[@]}")" "${click:-not measured}"
}

delete_site() {
    [ -d "$work/data/site/site" ] || /usr/bin/python3 bench/workload.py site "$work/data/site/site"
    delete_pair 0 "${BENCH_RUNS_DIRECT:-5}"
    delete_pair 20 "${BENCH_RUNS_DELAYED:-3}"
}

# republish: the site is published, then dropped again with "変更分のみ送信" on, unchanged and then with 10 pages
# edited, beside lftp's mirror -R re-runs on the same kind of server; the first publish runs with the box off and
# on. What was put is counted in the server's log (STOR under the file's own name, and RNTO onto it).
edit_ten() { # edit_ten DIR: appends a line to the first ten pages
    # awk reads to the end: head would leave sort writing into a closed pipe, which pipefail takes for a failure
    find "$1" -name 'page*.html' | sort | awk 'NR <= 10' | while read -r f; do printf '<p>edited</p>\n' >>"$f"; done
}
puts_logged() {
    grep -E '^CMD [0-9]+ (STOR|RNTO) ' "$work/events.log" | grep -vc '/\.pelno-[^/]*$' || true
}
pelno_drop() { # pelno_drop SRC [options] -> sets $t (seconds) and $counts ("N sent, M unchanged")
    "$bin/pelno_uploadbench" "$1" "127.0.0.1:$port" $user $password "${@:2}" >"$work/pelno.out" 2>&1 || true
    t=$(sed -n 's/^pelno \([0-9.]*\) s.*/\1/p' "$work/pelno.out")
    [ -n "$t" ] || t=0
    counts=$(sed -n 's/^pelno [0-9.]* s, [0-9]* failed, \(.*\)$/\1/p' "$work/pelno.out")
    { grep -E '^failed' "$work/pelno.out" || true; } | sed -n '1,3s/^/  /p'
}
republish_once() { # republish_once RTT
    local rtt=$1 src=$work/republish/pelno-src lftp_src=$work/republish/lftp-src
    rm -rf "$work/republish" && mkdir -p "$work/republish"
    cp -a "$work/data/site/site" "$src"
    cp -a "$work/data/site/site" "$lftp_src"

    start_server "$work/root-pelno"
    use_control_port "$rtt"
    pelno_drop "$src"
    first_off=$t
    stop_server
    start_server "$work/root-pelno"
    use_control_port "$rtt"
    pelno_drop "$src" --changed-only
    first_on=$t
    verify "$src" "$work/root-pelno/pelno-src" "PELNO first publish"
    : >"$work/events.log"
    pelno_drop "$src" --changed-only
    unchanged=$t unchanged_counts=$counts unchanged_puts=$(puts_logged)
    edit_ten "$src"
    : >"$work/events.log"
    pelno_drop "$src" --changed-only
    edited=$t edited_counts=$counts edited_puts=$(puts_logged)
    verify "$src" "$work/root-pelno/pelno-src" "PELNO after 10 edits"
    stop_server

    start_server "$work/root-lftp"
    use_control_port "$rtt"
    src=$lftp_src
    run_lftp lftp-src "" "--parallel=10" >/dev/null
    : >"$work/events.log"
    lftp_unchanged=$(run_lftp lftp-src "" "--parallel=10")
    lftp_unchanged_puts=$(puts_logged)
    edit_ten "$lftp_src"
    : >"$work/events.log"
    lftp_edited=$(run_lftp lftp-src "" "--parallel=10")
    lftp_edited_puts=$(puts_logged)
    verify "$lftp_src" "$work/root-lftp/lftp-src" "lftp after 10 edits"
    stop_server
}
republish_pair() { # republish_pair RTT RUNS
    local rtt=$1 runs=$2 port t counts first_off first_on unchanged edited lftp_unchanged lftp_edited
    local unchanged_counts edited_counts unchanged_puts edited_puts lftp_unchanged_puts lftp_edited_puts
    local -a offs=() ons=() unchangeds=() editeds=() lftp_unchangeds=() lftp_editeds=()
    for _ in $(seq "$runs"); do
        republish_once "$rtt"
        offs+=("$first_off") ons+=("$first_on") unchangeds+=("$unchanged") editeds+=("$edited")
        lftp_unchangeds+=("$lftp_unchanged") lftp_editeds+=("$lftp_edited")
        echo "  run: unchanged $unchanged_counts, $unchanged_puts put; 10 edited $edited_counts, $edited_puts put; lftp put $lftp_unchanged_puts and $lftp_edited_puts"
    done
    first_off=$(median "${offs[@]}") first_on=$(median "${ons[@]}") unchanged=$(median "${unchangeds[@]}")
    edited=$(median "${editeds[@]}") lftp_unchanged=$(median "${lftp_unchangeds[@]}")
    lftp_edited=$(median "${lftp_editeds[@]}")
    printf 'republish RTT %2d ms, median of %d: first publish box off %.2f s, on %.2f s (%+.0f %%) | unchanged re-drop %.2f s | 10 edited %.2f s | lftp re-run unchanged %.2f s, 10 edited %.2f s | unchanged PELNO/lftp %.2f\n' \
        "$rtt" "$runs" "$first_off" "$first_on" "$(echo "($first_on / $first_off - 1) * 100" | bc -l)" "$unchanged" \
        "$edited" "$lftp_unchanged" "$lftp_edited" "$(echo "$unchanged / $lftp_unchanged" | bc -l)"
    printf '         each run: unchanged %s s, 10 edited %s s, lftp %s s and %s s\n' "$(spread "${unchangeds[@]}")" \
        "$(spread "${editeds[@]}")" "$(spread "${lftp_unchangeds[@]}")" "$(spread "${lftp_editeds[@]}")"
}
# The memory a publish record of 100,000 entries costs: the peak of a drop of ten files with the box on and such a
# record, beside the same drop with the box off.
republish_memory() {
    local small=$work/republish/small plain with
    rm -rf "$small" && mkdir -p "$small"
    for i in $(seq 10); do head -c 4096 /dev/urandom >"$small/f$i.bin"; done
    start_server "$work/root-memory"
    /usr/bin/time -v "$bin/pelno_uploadbench" "$small" "127.0.0.1:$server_port" $user $password >"$work/memory.out" 2>&1 || true
    plain=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/memory.out")
    stop_server
    start_server "$work/root-memory"
    /usr/bin/time -v "$bin/pelno_uploadbench" "$small" "127.0.0.1:$server_port" $user $password --changed-only \
        --seed-record 100000 >"$work/memory.out" 2>&1 || true
    with=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/memory.out")
    grep -E '^pelno|^failed' "$work/memory.out" | head -3 | sed 's/^/  /'
    stop_server
    echo "republish memory: peak resident set of a 10-file drop: box off $plain KiB; box on with a record of 100,000 files $with KiB (+$(((with - plain) / 1024)) MiB)"
}
republish() {
    [ -d "$work/data/site/site" ] || /usr/bin/python3 bench/workload.py site "$work/data/site/site"
    server_args=(--log "$work/events.log")
    republish_pair 0 "${BENCH_RUNS_DIRECT:-5}"
    republish_pair 20 "${BENCH_RUNS_DELAYED:-3}"
    server_args=()
    republish_memory
}

mkdir -p "$work"
kinds=("$@")
[ ${#kinds[@]} -eq 0 ] && kinds=(site bulk bulk-mp site-tls site-sftp bulk-sftp memory large-folder republish delete)
server_args=()
for kind in "${kinds[@]}"; do
    server_args=()
    if [ "$kind" = memory ]; then memory; continue; fi
    if [ "$kind" = site-tls ]; then site_tls; continue; fi
    if [ "${kind%-sftp}" != "$kind" ]; then sftp_kind "${kind%-sftp}"; continue; fi
    if [ "$kind" = large-folder ]; then large_folder; continue; fi
    if [ "$kind" = republish ]; then republish; continue; fi
    if [ "$kind" = delete ]; then delete_site; continue; fi
    # "-mp": the same workload against the server with a process per connection, as most FTP daemons serve; the
    # test server's default is one process for every connection, which sixteen large uploads keep busy.
    label=$kind
    if [ "${kind%-mp}" != "$kind" ]; then
        kind=${kind%-mp}
        server_args=(--process-per-connection)
    fi
    [ -d "$work/data/$kind/$kind" ] || /usr/bin/python3 bench/workload.py "$kind" "$work/data/$kind/$kind"
    run_pair "$kind" 0 "${BENCH_RUNS_DIRECT:-5}" "$label"
    run_pair "$kind" 20 "${BENCH_RUNS_DELAYED:-3}" "$label"
done
