#!/usr/bin/env bash
# The load benchmark (not a test): wrk against the pages of two quenforth players and against nginx
# serving the same static files, loopback only, in one run.
#
#   bench/run.sh [SECONDS] [ROUNDS] [TARGET...]
#                   default 10 s per measurement, 5 rounds (medians are reported), every target; the
#                   targets are static status index window playlist library search folder
#
# It builds the linux-release preset (quenforth and gen_quen08.so), lays out a music tree of 100,000
# empty files in 5,000 folders (kept in build/linux-release/bench-tree for later runs), and starts:
#   player A  a 10,000-entry playlist, a media library of 50,000 described records, the tree as M:
#             (the music folder, so the file cache holds its 75,000 playable files)
#   player B  the same, with a 1,000-entry playlist (one player holds one playlist: the whole-list page
#             of 1,000 entries is measured on B, every other page on A)
#   nginx     the skin folder of A, for the static file and index.html
# Every page is fetched once with curl first and checked (status 200, the number of entries it must
# list), then loaded by wrk at 1 connection (-t1 -c1) and at 50 (-t2 -c50), quenforth and nginx one
# after the other, round after round. The report (markdown, on standard output and in
# build/linux-release/bench-report.md) gives the medians, and the resident memory and threads of the
# players after start-up, at their peak, at the end of the load and 30 s after it. Every server it
# starts is stopped by its process id when the script ends, however it ends. With BENCH_HOLD=1 set, it
# prepares and checks everything, prints the ports and process ids and keeps the servers up until it is
# stopped (for perf record -p PID under a load of one's own).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
# shellcheck disable=SC1091  # scripts/deps.sh: ensure_packages and the package lists
source "$root/scripts/deps.sh"

seconds="${1:-10}"
rounds="${2:-5}"
chosen="${*:3}"
[[ "$seconds" =~ ^[1-9][0-9]*$ && "$rounds" =~ ^[1-9][0-9]*$ && "$chosen" =~ ^[a-z\ ]*$ ]] || {
  echo "usage: bench/run.sh [SECONDS] [ROUNDS] [TARGET...]   (whole numbers, default 10 and 5; targets:" >&2
  echo "       static status index window playlist library search folder, default all)" >&2
  exit 2
}

build="$root/build/linux-release"
quenforth="$build/host/quenforth"
tree="$build/bench-tree"
report="$build/bench-report.md"
wrk_log="$build/bench-wrk.log"  # every wrk output of the last run
work=""
pids=()
sampler=""

log() { printf '[bench] %s\n' "$*" >&2; }

# ---- Servers and clean-up.

cleanup() {
  local pid
  if [ -n "$sampler" ]; then kill "$sampler" 2>/dev/null || true; fi
  # SIGTERM closes a player the way the real one closes; nginx (not a daemon here) stops at once.
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# ---- Step 1: the release build of the runner and the plug-in module it loads.

build_release() {
  log "building the linux-release preset (quenforth, gen_quen08.so)"
  cd "$root"
  cmake --preset linux-release >/dev/null
  cmake --build --preset linux-release >/dev/null
}

# ---- Step 2: the data the players are given.

# 50 artists, 100 albums each, 20 tracks per album, named as bench_browse names its cache entries. The
# files are empty: the player lists them under their file names, without a length. Of every 8 tracks 6
# have an extension the player plays (the file cache's 75,000) and 2 do not (.jpg, .txt).
make_tree() {
  if [ -e "$tree/complete" ]; then
    log "music tree: $tree (made by an earlier run)"
    return
  fi
  log "making the music tree of 100,000 files in 5,000 folders: $tree"
  rm -rf "$tree"
  python3 - "$tree" <<'PY'
import os, sys
root = sys.argv[1]
kinds = [".mp3", ".ogg", ".wav", ".jpg", ".mp3", ".txt", ".mp3", ".m3u"]
for artist in range(50):
    for album in range(100):
        folder = os.path.join(root, "Artist %02d" % artist, "Album %03d" % album)
        os.makedirs(folder)
        for track in range(20):
            number = artist * 2000 + album * 20 + track
            open(os.path.join(folder, "%02d Track Title %d%s" % (track, number, kinds[track % 8])), "w").close()
open(os.path.join(root, "complete"), "w").close()
PY
}

# The Nth .mp3 file of the tree in name order (from 1), as a Windows path on M:.
nth_track() {  # n
  (cd "$tree" && find . -name '*.mp3' | LC_ALL=C sort | sed -n "$1p") | sed 's|^\./|M:\\|; s|/|\\|g'
}

# The first COUNT .mp3 files of the tree, in name order, as the player's winamp.m3u (Windows paths on M:).
write_playlist() {  # file count
  {
    printf '#EXTM3U\r\n'
    (cd "$tree" && find . -name '*.mp3' | LC_ALL=C sort | sed -n "1,${2}p") |
      sed 's|^\./|M:\\|; s|/|\\|g; s|$|\r|'
  } > "$1"
}

# The playlist's last entry comes through the plug-in (?add=), as in a home where songs are added all
# day: the player tells its window of that change, and from then on the plug-in knows that it tells, so
# it reads an unchanged list no more than once a second (a player that never tells is read for each page).
add_last_entry() {  # port entries
  local path url
  path="$(nth_track "$2")"
  url="http://127.0.0.1:$1/bench-ping.html?add=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1]))' "$path")"
  [ "$(curl -s "$url" | tr -d '[:space:]')" = "$2" ] || { echo "adding $path on port $1 failed" >&2; exit 1; }
}

# 50,000 described records for --library (tab-separated name=value fields); every title holds "Track".
write_library() {  # file
  awk 'BEGIN {
    for (i = 0; i < 50000; ++i)
      printf "filename=M:\\Library\\Artist %d\\Track %d.mp3\ttitle=Track number %d\tartist=Artist %d\t" \
             "album=Album %d\tgenre=%s\tyear=%d\ttrack=%d\tlength=%d\tfilesize=4096\trating=%d\tplaycount=%d\n",
             i % 400, i, i, i % 400, i % 700, (i % 3 ? "Rock" : "Folk"), 1980 + i % 40, i % 12 + 1,
             120 + i % 200, i % 6, i % 9
  }' > "$1"
}

# A prefix with the data folder, the settings, the playlist, the library description and the bench
# templates. Prints the port the player will serve on.
prepare_prefix() {  # folder playlist-entries
  local prefix="$1" entries="$2" port data
  "$quenforth" install --prefix "$prefix" >/dev/null
  data="$prefix/drive_c/Program Files/Winamp/Plugins/quenforth"
  port="$(free_port)"
  printf '[Setup]\r\nServerPort=%s\r\nbindLocal=1\r\nRootDirectory=M:\\\r\n' "$port" > "$data/quenforth.ini"
  mkdir -p "$prefix/drive_c/Users/Quenforth/AppData/Roaming/Winamp" "$prefix/drive_c/bench"
  write_playlist "$prefix/drive_c/Users/Quenforth/AppData/Roaming/Winamp/winamp.m3u" "$entries"
  cp "$work/library.txt" "$prefix/drive_c/bench/library.txt"
  # A 2 KB static file; a page of one message to the player (see settle); and two pages of the base
  # skin's own parts: a 50-entry playlist window from the current track (the first entry), and a
  # 50-result page of the media library.
  head -c 2048 /dev/zero | tr '\0' 'x' > "$data/base/bench.css"
  echo '<#playlist_numtracks>' > "$data/base/bench-ping.html"
  cat > "$data/base/bench-window.html" <<'HTML'
<!DOCTYPE html>
<html lang="en"><head><title>Playlist window</title></head><body>
<p><#playlist_numtracks> tracks</p>
<ol class="tracks">
<#playlist template=pl-item.html highlight=pl-current.html empty=pl-empty.html length=50>
</ol>
</body></html>
HTML
  cat > "$data/base/bench-library.html" <<'HTML'
<!DOCTYPE html>
<html lang="en"><head><title>Library page</title></head><body>
<ul class="results">
<#medialibrary template=ml-item.html empty=ml-empty.html length=50>
</ul>
<p class="summary"><span data-ml-results><#ml_results></span> results</p>
</body></html>
HTML
  echo "$port"
}

# Starts a player on its prefix with the tree as M: and the described library; waits for its server.
start_player() {  # name prefix
  local name="$1" prefix="$2"
  "$quenforth" run --prefix "$prefix" --drive "M=$tree:Music" --library 'C:\bench\library.txt' \
    > "$build/bench-$name.log" 2>&1 &
  pids+=($!)
  printf -v "pid_$name" '%s' "$!"
  for _ in $(seq 300); do
    grep -q "serving http://" "$build/bench-$name.log" && return
    kill -0 "$!" 2>/dev/null || break
    sleep 0.1
  done
  cat "$build/bench-$name.log" >&2
  echo "player $name did not start" >&2
  exit 1
}

# The player alone on a prefix like A's (the same playlist and library, no plug-in), for what the plug-in
# adds to the process: its resident memory once the player has started, in $work/memory-alone-idle.
measure_player_alone() {  # prefix
  local log="$build/bench-alone.log" pid
  "$quenforth" run --prefix "$1" --drive "M=$tree:Music" --library 'C:\bench\library.txt' --without-plugin \
    > "$log" 2>&1 &
  pid=$!
  pids+=("$pid")
  for _ in $(seq 300); do
    grep -q "runs without the plug-in" "$log" && break
    kill -0 "$pid" 2>/dev/null || { cat "$log" >&2; echo "the player alone did not start" >&2; exit 1; }
    sleep 0.1
  done
  sleep 3  # as long as the players with the plug-in rest before their idle figure
  memory_of "$pid" > "$work/memory-alone-idle"
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
}

start_nginx() {  # port skin-folder
  mkdir -p "$work/nginx"
  cat > "$work/nginx/nginx.conf" <<CONF
daemon off;
user root;
worker_processes auto;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  include /etc/nginx/mime.types;
  server {
    listen 127.0.0.1:$1;
    root "$2";
    index index.html;
  }
}
CONF
  nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
  pids+=($!)
  for _ in $(seq 100); do
    curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$1/" && return
    sleep 0.1
  done
  echo "nginx did not start" >&2
  exit 1
}

# ---- Step 3: checks before any load.

# Fetches URL into OUT-FILE; prints the status ("000": no answer).
fetch() {  # url out-file
  curl -s -o "$2" -w '%{http_code}' --max-time 30 "$1" || echo "000"
}

# How often the file holds the pattern (grep -o counts, so several on one line count apart).
count_of() {  # pattern file
  { grep -o -- "$1" "$2" || true; } | wc -l
}

# Fetches URL once; fails unless the status is 200 and the body holds PATTERN exactly COUNT times.
# COUNT "-" only asks for the status.
check_page() {  # label url pattern count
  local status found
  status="$(fetch "$2" "$work/page")"
  if [ "$status" != "200" ]; then
    echo "check failed: $1 ($2) answered $status" >&2
    head -c 2000 "$work/page" >&2 || true
    exit 1
  fi
  [ "$4" = "-" ] && { log "checked $1: 200, $(wc -c < "$work/page") bytes"; return; }
  found="$(count_of "$3" "$work/page")"
  if [ "$found" -ne "$4" ]; then
    echo "check failed: $1 ($2) holds $found of '$3', expected $4" >&2
    head -c 2000 "$work/page" >&2
    exit 1
  fi
  log "checked $1: 200, $found × '$3', $(wc -c < "$work/page") bytes"
}

# The search's answer only lists everything once the file cache has been filled (at idle priority);
# polls it for up to three minutes.
wait_for_cache() {  # url pattern count
  local found=0
  for _ in $(seq 360); do
    if [ "$(fetch "$1" "$work/page")" = "200" ]; then
      found="$(count_of "$2" "$work/page")"
      [ "$found" -eq "$3" ] && return
    fi
    sleep 0.5
  done
  echo "the file cache did not fill in time: $found of $3 search results" >&2
  exit 1
}

# ---- Step 4: the load.

# Latency text of wrk (850.00us, 1.20ms, 2.01s, 1.50m) in milliseconds.
to_ms() {
  awk -v v="$1" 'BEGIN { n = v + 0
    if (v ~ /us$/) n /= 1000; else if (v ~ /ms$/) n += 0; else if (v ~ /s$/) n *= 1000; else if (v ~ /m$/) n *= 60000
    printf "%.4f", n }'
}

# One wrk run; appends "key connections rps p50 p99 errors" to the results. Errors are wrk's non-2xx/3xx
# answers and its socket errors (connect, read, write, timeout). The log line has the resident memory and
# threads of the player measured (PID, none for nginx) right after the run.
measure() {  # key connections url [pid]
  local threads=1 out rps p50 p99 errors after=""
  [ "$2" -gt 1 ] && threads=2
  out="$(wrk -t"$threads" -c"$2" -d"${seconds}s" --timeout 10s --latency "$3")"
  printf '%s\n' "$out" >> "$wrk_log"
  rps="$(awk '/^Requests\/sec/ {print $2}' <<< "$out")"
  p50="$(to_ms "$(awk '$1 == "50%" {print $2}' <<< "$out")")"
  p99="$(to_ms "$(awk '$1 == "99%" {print $2}' <<< "$out")")"
  errors="$(awk '/Non-2xx/ {n += $NF} /Socket errors/ {gsub(",", ""); n += $4 + $6 + $8 + $10} END {print n + 0}' <<< "$out")"
  printf '%s %s %s %s %s %s\n' "$1" "$2" "$rps" "$p50" "$p99" "$errors" >> "$work/results"
  if [ -n "${4:-}" ]; then after="$(memory_of "$4" | awk '{printf "  then %d KiB, %d threads", $1, $2}')"; fi
  log "$(printf '%-14s c=%-3s %10s req/s  p50 %8.3f ms  p99 %8.3f ms  errors %s%s' "$1" "$2" "$rps" "$p50" "$p99" "$errors" "$after")"
}

# wrk stops counting at the end of its time, but the requests it left inside the server are still
# produced (50 library pages take several seconds on the player's thread), and their connections still
# count against the 64 of one client address until then. Before the next measurement the player must
# answer a page that needs its thread (bench-ping.html, one message round trip) at once again.
settle() {  # port
  local took deadline=$((SECONDS + 120))
  while [ "$SECONDS" -lt "$deadline" ]; do
    took="$(curl -s -o /dev/null -w '%{time_total}' --max-time 5 "http://127.0.0.1:$1/bench-ping.html" || echo 99)"
    if awk -v t="$took" 'BEGIN {exit !(t < 0.05)}'; then
      sleep 0.5
      return
    fi
    sleep 0.2
  done
  log "warning: the player on port $1 was still busy two minutes after a measurement"
}

# Samples the players' threads and resident memory once a second while the load runs (the peak).
start_sampler() {
  (
    while :; do
      for name in A B; do
        local_pid="pid_$name"
        awk -v n="$name" '/^Threads:/ {print n, "threads", $2} /^VmRSS:/ {print n, "rss", $2}' \
          "/proc/${!local_pid}/status" 2>/dev/null || true
      done
      sleep 1
    done
  ) >> "$work/samples" &
  sampler=$!
}

stop_sampler() {
  kill "$sampler" 2>/dev/null || true
  wait "$sampler" 2>/dev/null || true
  sampler=""
}

# "kB threads" of a process now.
memory_of() {  # pid
  awk '/^VmRSS:/ {rss = $2} /^Threads:/ {threads = $2} END {print rss, threads}' "/proc/$1/status"
}

# ---- Step 5: the report.

median() { sort -g | awk '{v[NR] = $1} END {if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

# The median of column COLUMN (3 rps, 4 p50, 5 p99) of one target at one connection count; errors add up.
stat() {  # key connections column
  awk -v k="$1" -v c="$2" -v col="$3" '$1 == k && $2 == c {print $col}' "$work/results" | median
}
errors_of() {  # key connections
  awk -v k="$1" -v c="$2" '$1 == k && $2 == c {n += $6} END {print n + 0}' "$work/results"
}

thousands() { awk -v n="$1" 'BEGIN { s = sprintf("%.0f", n); while (s ~ /[0-9][0-9][0-9][0-9]/) sub(/[0-9][0-9][0-9]($|,)/, ",&", s); print s }'; }
millis() { awk -v n="$1" 'BEGIN { if (n < 10) printf "%.2f ms", n; else if (n < 100) printf "%.1f ms", n; else printf "%.0f ms", n }'; }

# ---- The targets: key, player, request path, what the page must hold, how often, nginx's twin path.

# Filled in by main once the tree is known.
search_path='/browse.html?home&search_files_string=title%201234&search_for_files=true&search_in_subdirs=true'
folder_path='/browse.html?dir=M%3A%5CArtist%2007%5CAlbum%20042'

# Every target, or those named on the command line.
targets() {
  if [ -z "$chosen" ]; then
    all_targets
  else
    all_targets | awk -F'|' -v chosen=" $chosen " 'index(chosen, " " $1 " ")'
  fi
}

all_targets() {
  cat <<EOT
static|A|/bench.css|^x\{2048\}$|1|/bench.css
status|A|/status.json|"tracks": "10000"|1|
index|A|/|<li class="track|15|/
window|A|/bench-window.html|<li class="track|50|
playlist|B|/playlist.html|<li class="track|1000|
library|A|/bench-library.html?search_ml=track|<li class="result"|50|
search|A|$search_path|<li class="file"|$search_expected|
folder|A|$folder_path|<li class="file"|$folder_expected|
EOT
}

describe() {  # key
  case "$1" in
    static) echo "2 KB static file (\`bench.css\` in the skin)" ;;
    status) echo "\`status.json\` of the base skin" ;;
    index) echo "\`/\`, the index page (15-entry playlist window)" ;;
    window) echo "50-entry window of the 10,000-entry playlist" ;;
    playlist) echo "\`playlist.html\`, the whole 1,000-entry playlist" ;;
    library) echo "media library: 50 of 50,000 results (\`search_ml\`)" ;;
    search) echo "file search over the 75,000 cached files, all levels ($search_expected found)" ;;
    folder) echo "folder listing, \`?dir=\` of a 20-file folder ($folder_expected listed)" ;;
  esac
}

# Playable files (the cache's extensions among the tree's) whose names, without the extension, hold TEXT.
count_search() {  # text
  (cd "$tree" && find . -type f \( -name '*.mp3' -o -name '*.ogg' -o -name '*.wav' -o -name '*.m3u' \)) |
    sed 's|.*/||; s|\.[^.]*$||' | grep -ic -- "$1"
}

port_of() {  # A | B | nginx
  case "$1" in A) echo "$port_A" ;; B) echo "$port_B" ;; nginx) echo "$port_nginx" ;; esac
}

check_targets() {
  local key player path pattern count twin
  while IFS='|' read -r key player path pattern count twin; do
    check_page "$key on $player" "http://127.0.0.1:$(port_of "$player")$path" "$pattern" "$count"
    if [ -n "$twin" ]; then
      check_page "$key on nginx" "http://127.0.0.1:$port_nginx$twin" "$pattern" "$([ "$key" = static ] && echo 1 || echo -)"
    fi
  done < <(targets)
  check_page "library result count" "http://127.0.0.1:$port_A/bench-library.html?search_ml=track" \
    "data-ml-results>50000<" 1
}

run_load() {
  local round key player path pattern count twin connections pid
  for round in $(seq "$rounds"); do
    log "round $round of $rounds"
    while IFS='|' read -r key player path pattern count twin; do
      for connections in 1 50; do
        pid="pid_$player"
        measure "$key" "$connections" "http://127.0.0.1:$(port_of "$player")$path" "${!pid}"
        settle "$(port_of "$player")"
        if [ -n "$twin" ]; then measure "nginx-$key" "$connections" "http://127.0.0.1:$port_nginx$twin"; fi
      done
    done < <(targets)
  done
}

print_report() {
  local key player path pattern count twin connections rps ratio
  echo "Load benchmark, $(date +%F), ${seconds} s per measurement, medians of $rounds rounds; $(nproc) cores," \
    "load average at the start ${load_start}, at the end ${load_end}."
  echo
  echo "| target | connections | requests/s | p50 | p99 | to nginx's rate | errors |"
  echo "|---|---|---|---|---|---|---|"
  while IFS='|' read -r key player path pattern count twin; do
    for connections in 1 50; do
      rps="$(stat "$key" "$connections" 3)"
      ratio="—"
      if [ "$key" = static ]; then
        ratio="$(awk -v q="$rps" -v n="$(stat "nginx-$key" "$connections" 3)" 'BEGIN {printf "%.2f", q / n}')"
      fi
      printf '| quenforth: %s | %s | %s | %s | %s | %s | %s |\n' "$(describe "$key")" "$connections" \
        "$(thousands "$rps")" "$(millis "$(stat "$key" "$connections" 4)")" \
        "$(millis "$(stat "$key" "$connections" 5)")" "$ratio" "$(errors_of "$key" "$connections")"
      if [ -n "$twin" ]; then
        printf '| nginx: %s | %s | %s | %s | %s | — | %s |\n' \
          "$([ "$key" = static ] && echo "the same file" || echo "\`/\`, index.html sent as a file")" "$connections" \
          "$(thousands "$(stat "nginx-$key" "$connections" 3)")" "$(millis "$(stat "nginx-$key" "$connections" 4)")" \
          "$(millis "$(stat "nginx-$key" "$connections" 5)")" "$(errors_of "nginx-$key" "$connections")"
      fi
    done
  done < <(targets)
  echo
  echo "Resident memory (VmRSS) and threads of the players:"
  echo
  echo "| player | idle after start-up and cache fill | peak during the load | end of the load | 30 s after the load |"
  echo "|---|---|---|---|---|"
  for name in A B; do
    printf '| %s | %s | %s | %s | %s |\n' \
      "$([ "$name" = A ] && echo "A (10,000-entry playlist; every page but the whole list)" || echo "B (1,000-entry playlist; the whole list)")" \
      "$(memory_text "$name" idle)" "$(peak_text "$name")" "$(memory_text "$name" end)" "$(memory_text "$name" after)"
  done
  echo
  local alone with
  read -r alone _ < "$work/memory-alone-idle"
  read -r with _ < "$work/memory-A-idle"
  echo "The player alone on A's playlist and library (\`--without-plugin\`): $(memory_text alone idle); the"
  echo "plug-in adds $(thousands $((with - alone))) KiB to it idle (with its file cache of the tree's playable files)."
}

# Memory taken at a point: "KiB threads" in $work/memory-NAME-POINT.
memory_text() {  # name point
  local rss threads
  read -r rss threads < "$work/memory-$1-$2"
  echo "$(thousands "$rss") KiB, $threads threads"
}
peak_text() {  # name
  local rss threads
  read -r rss threads < <(awk -v n="$1" '$1 == n && $2 == "rss" && $3 > rss {rss = $3}
    $1 == n && $2 == "threads" && $3 > t {t = $3} END {print rss + 0, t + 0}' "$work/samples")
  echo "$(thousands "$rss") KiB, $threads threads"
}

record_memory() {  # point
  local name pid
  for name in A B; do
    pid="pid_$name"
    memory_of "${!pid}" > "$work/memory-$name-$1"
  done
}

main() {
  local name
  for name in $chosen; do
    [[ " static status index window playlist library search folder " == *" $name "* ]] ||
      { echo "bench/run.sh: no target '$name'" >&2; exit 2; }
  done
  ensure_packages "${RUN_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
  build_release
  work="$(mktemp -d /tmp/quenforth-bench-XXXXXX)"
  load_start="$(uptime | sed 's/.*load average: //')"

  make_tree
  search_expected="$(count_search "title 1234")"
  folder_expected="$(find "$tree/Artist 07/Album 042" -type f \( -name '*.mp3' -o -name '*.ogg' -o -name '*.wav' -o -name '*.m3u' \) | wc -l)"
  write_library "$work/library.txt"
  prepare_prefix "$work/alone" 10000 > /dev/null
  log "measuring the player alone, without the plug-in"
  measure_player_alone "$work/alone"
  port_A="$(prepare_prefix "$work/A" 9999)"
  port_B="$(prepare_prefix "$work/B" 999)"
  port_nginx="$(free_port)"
  log "starting player A on port $port_A, player B on port $port_B, nginx on port $port_nginx"
  start_player A "$work/A"
  start_player B "$work/B"
  add_last_entry "$port_A" 10000
  add_last_entry "$port_B" 1000
  start_nginx "$port_nginx" "$work/A/drive_c/Program Files/Winamp/Plugins/quenforth/base"

  log "waiting for the file caches to fill"
  wait_for_cache "http://127.0.0.1:$port_A$search_path" '<li class="file"' "$search_expected"
  wait_for_cache "http://127.0.0.1:$port_B$search_path" '<li class="file"' "$search_expected"
  sleep 3  # the pool threads of those requests leave again
  record_memory idle
  check_targets
  if [ -n "${BENCH_HOLD:-}" ]; then
    # For profiling: the prepared players and nginx stay up until this script is stopped.
    log "holding: player A (pid $pid_A) on port $port_A, player B (pid $pid_B) on port $port_B, nginx on port $port_nginx"
    while true; do sleep 60; done
  fi

  : > "$work/results"
  : > "$wrk_log"
  : > "$work/samples"
  start_sampler
  run_load
  stop_sampler
  record_memory end
  log "load done; 30 s of rest"
  sleep 30
  record_memory after
  load_end="$(uptime | sed 's/.*load average: //')"

  print_report | tee "$report"
  log "report written to $report"
}

main
