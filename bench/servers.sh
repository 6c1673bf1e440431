# Sourced by the benchmark scripts from the top of the tree: the real service and a reference
# nginx, each started in a temporary folder of its own and ended when the script exits.

bench_folder=$(mktemp -d)
chmod 755 "$bench_folder" # nginx's worker may run as another user
bench_pids=()
bench_stop() {
  for pid in "${bench_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$bench_folder"
}
trap bench_stop EXIT

# A port of 127.0.0.1 that nothing answers on, below the range the system picks outgoing ports
# from, so that a probe can never end up connected to itself.
free_port() {
  local port
  for port in $(seq 30700 30799); do
    (exec 5<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
  echo "no free port" >&2
  exit 1
}

# vorlane-trelk serve (or the program given) with its HOME in the folder; sets service_port and
# service_pid. Its dialogs read their answers from descriptor 4, held open: unwritten, a dialog waits.
start_service() {
  local home=$bench_folder/home program=${1:-build/app/vorlane-trelk} line
  mkdir -p "$home"
  [[ -p $bench_folder/answers ]] || mkfifo "$bench_folder/answers"
  exec 4<>"$bench_folder/answers"
  exec 3< <(HOME=$home XDG_DATA_HOME=$home/data exec "$program" serve <&4)
  service_pid=$!
  bench_pids+=("$service_pid")
  read -r line <&3
  [[ $line == "listening on 127.0.0.1:"* ]] || { echo "the service did not start: $line" >&2; exit 1; }
  service_port=${line##*:}
  cat <&3 >/dev/null & # the rest of what it prints, so that it never waits on a full pipe
  bench_pids+=($!)
}

# Pairs as a page would, allowing on the service's terminal dialog; sets token.
pair() {
  local service=http://127.0.0.1:$service_port/trelk asked id state
  asked=$(curl -s -X POST -H "Origin: http://localhost" "$service/pair")
  id=$(sed -n 's/.*"id":"\([0-9a-f]*\)".*/\1/p' <<<"$asked")
  echo >&4 # the dialog's first button: Allow
  for _ in $(seq 100); do
    state=$(curl -s "$service/pair/$id")
    token=$(sed -n 's/.*"token":"\([0-9a-f]*\)".*/\1/p' <<<"$state")
    [[ -n $token ]] && return
    sleep 0.1
  done
  echo "pairing failed: $asked $state" >&2
  exit 1
}

# nginx with one worker, sendfile on and keep-alive off, serving $bench_folder/nginx/www; the
# argument is added to its server block. Sets nginx_port and nginx_pid (its master's).
start_nginx() {
  local dir=$bench_folder/nginx
  mkdir -p "$dir/www"
  nginx_port=$(free_port)
  cat >"$dir/nginx.conf" <<CONF
daemon off;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 1024; }
http {
  access_log off;
  sendfile on;
  keepalive_timeout 0;
  client_body_temp_path $dir/body;
  proxy_temp_path $dir/proxy;
  fastcgi_temp_path $dir/fastcgi;
  uwsgi_temp_path $dir/uwsgi;
  scgi_temp_path $dir/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $dir/www;
    $1
  }
}
CONF
  /usr/sbin/nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" &
  nginx_pid=$!
  bench_pids+=("$nginx_pid")
  for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$nginx_port/" && return
    sleep 0.1
  done
  echo "nginx did not start: $(cat "$dir/error.log")" >&2
  exit 1
}

# User and system CPU ticks that process has used so far.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# Waits, 30 s at the most, until that process has used no CPU for half a second: a making or a
# library scan still running would skew what is measured next.
wait_quiet() {
  local before
  for _ in $(seq 60); do
    before=$(cpu_ticks "$1")
    sleep 0.5
    (($(cpu_ticks "$1") == before)) && return
  done
}

# The resident memory of that process in KiB.
rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"; }
