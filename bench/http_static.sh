#!/usr/bin/env bash
# Load benchmark (not a test): wrk against quenforth and against nginx serving the same files, loopback
# only, in one run. Every server it starts is stopped by its process id.
#   bench/http_static.sh [seconds]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
source "$root/scripts/deps.sh"
ensure_packages "${RUN_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
seconds="${1:-10}"

cd "$root"
cmake --preset linux >/dev/null
cmake --build build/linux --target quenforth >/dev/null

work="$(mktemp -d /tmp/quenforth-bench-XXXXXX)"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

free_port() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

build/linux/host/quenforth install --prefix "$work/prefix" >/dev/null
data="$work/prefix/drive_c/Program Files/Winamp/Plugins/quenforth"
head -c 2048 /dev/zero | tr '\0' 'x' > "$data/base/bench.css"
quenforth_port="$(free_port)"
printf '[Setup]\r\nServerPort=%s\r\nbindLocal=1\r\n' "$quenforth_port" > "$data/quenforth.ini"
build/linux/host/quenforth run --prefix "$work/prefix" > "$work/quenforth.log" 2>&1 &
pids+=($!)

nginx_port="$(free_port)"
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
    listen 127.0.0.1:$nginx_port;
    root "$data/base";
    index index.html;
  }
}
CONF
nginx -c "$work/nginx/nginx.conf" -p "$work/nginx" &
pids+=($!)

for _ in $(seq 100); do
  grep -q "serving http://" "$work/quenforth.log" && curl -s "http://127.0.0.1:$nginx_port/" >/dev/null && break
  sleep 0.1
done

measure() {  # name url
  local out rps p50 p99
  out="$(wrk -t2 -c50 -d"${seconds}s" --latency "$2")"
  rps="$(awk '/Requests\/sec/ {print $2}' <<< "$out")"
  p50="$(awk '$1 == "50%" {print $2}' <<< "$out")"
  p99="$(awk '$1 == "99%" {print $2}' <<< "$out")"
  printf '| %-28s | %10s | %8s | %8s |\n' "$1" "$rps" "$p50" "$p99"
  echo "$rps" > "$work/rps-$(tr ' /' '__' <<< "$1")"
}

echo "| target                       |  req/s     |   p50    |   p99    |"
echo "|------------------------------|------------|----------|----------|"
measure "quenforth 2 KB file" "http://127.0.0.1:$quenforth_port/bench.css"
measure "nginx 2 KB file" "http://127.0.0.1:$nginx_port/bench.css"
measure "quenforth /" "http://127.0.0.1:$quenforth_port/"
measure "nginx / (index.html)" "http://127.0.0.1:$nginx_port/"
q="$(cat "$work/rps-quenforth_2_KB_file")"
n="$(cat "$work/rps-nginx_2_KB_file")"
awk -v q="$q" -v n="$n" 'BEGIN { printf "\nquenforth / nginx on the 2 KB file: %.0f%%\n", 100 * q / n }'
