#!/usr/bin/env bash
# Runs the benchmarks and prints the figures page, in Markdown, on standard
# output; docs/figures.md is its output:
#
#   scripts/figures.sh > docs/figures.md
#   scripts/figures.sh --quick              smaller sizes, fewer rounds: a check
#   scripts/figures.sh [--build DIR] [GROUP...]   only these groups (--list)
#
# Each group is one function, figures_GROUP, that runs its benchmarks and adds
# rows with `row`; to add one, write the function and name it in FIGURE_GROUPS. A
# group picks its sizes and rounds with `pick QUICK FULL`. The benchmarks'
# own output goes to DIR/figures/ (DIR: build/ by default), progress to
# standard error. A benchmark that misses the target it checks still gives
# its figures; the row says so.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

FIGURE_GROUPS=(cutter tcp_receive netget netget_nginx store store_scale html_page cookies hostile_servers download_run
        dlget_vs_curl dlget_nginx download_continue dlget_hostile dlget_jobs downloads_list list_add list_sort song_finish song_links song_filter probe grid_verdicts
        finished_marks grid_order)

quick=0
build=build
chosen=()
while [ $# -gt 0 ]; do
  case $1 in
    --quick) quick=1 ;;
    --build) build=$2; shift ;;
    --list) printf '%s\n' "${FIGURE_GROUPS[@]}"; exit 0 ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) echo "figures.sh: unknown option $1" >&2; exit 2 ;;
    *) chosen+=("$1") ;;
  esac
  shift
done
[ ${#chosen[@]} -gt 0 ] || chosen=("${FIGURE_GROUPS[@]}")
figures_song_links() {
  # (Not "rows": that names the page's table of rows.)
  local stored=$(pick 100000 1000000) log=song_links.txt
  run bench_song_links "$log" "$stored" 2000
  local line=$(grep -E '^lookup' "$logs/$log" || true)
  row "finding a song's links (its titles' song key, through the index) in a store of $(num "$stored") rows, median and 99th percentile of 2,000$(verdict)" \
      "$(echo "$line" | grep -Eo 'median [0-9.]+' | grep -Eo '[0-9.]+') ms, $(echo "$line" | grep -Eo 'percentile [0-9.]+' | grep -Eo '[0-9.]+') ms" \
      "making the index on first use; the bound the benchmark holds it to" \
      "$(grep -Eo 'first use in [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') s; 5 ms" bench_song_links
}

figures_song_filter() {
  local stored=$(pick 100000 1000000) log=song_filter.txt
  run bench_song_filter "$log" "$stored" 20
  local three=$(grep -E '^3 characters' "$logs/$log" || true) two=$(grep -E '^2 characters' "$logs/$log" || true)
  row "filtering $(num "$stored") rows as the user types: the first screen of a 3- and a 2-character text, largest of 20 each; all their rows, median$(verdict)" \
      "$(echo "$three" | grep -Eo 'largest [0-9.]+' | grep -Eo '[0-9.]+') ms, $(echo "$two" | grep -Eo 'largest [0-9.]+' | grep -Eo '[0-9.]+') ms; $(echo "$three" | grep -Eo 'all rows median [0-9.]+' | grep -Eo '[0-9.]+$') ms, $(echo "$two" | grep -Eo 'all rows median [0-9.]+' | grep -Eo '[0-9.]+$') ms" \
      "making the index on first use; the memory the filter adds; the bounds the benchmark holds them to" \
      "$(grep -Eo 'first use in [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') s; $(grep -Eo '^memory: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') MiB; 100 ms, 300 ms, 15 s, 20 MiB" bench_song_filter
}

figures_song_finish() {
  local songs=$(pick 20 100) log=song_finish.txt
  run bench_song_finish_sync "$log" "$build/figures/sync-songs" "$songs" 4
  local synced=$(grep -E '^synced' "$logs/$log" | awk '{print $(NF-2), $(NF-1), $NF}')
  local plain=$(grep -E '^unsynced' "$logs/$log" | awk '{print $(NF-2), $(NF-1), $NF}')
  row "naming $songs finished songs of 4 MiB durably (bytes synced, renamed, folder synced), mean, median per song and total$(verdict)" \
      "$(echo "$synced" | awk '{print $1 " ms, " $2 " ms, " $3 " ms"}')" \
      "the same naming without the syncs, on the same disk, taking turns" \
      "$(echo "$plain" | awk '{print $1 " ms, " $2 " ms, " $3 " ms"}')" bench_song_finish_sync
}

figures_probe() {
  local links=$(pick 60 300) log=probe.txt
  run bench_probe_vs_curl "$log" 15 "$links" 1000
  row "probing $links links over 15 loopback hosts that answer after 1 s (16 at once, 4 per host)$(verdict)" \
      "$(grep -Eo 'probe: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') s (ratio $(grep -Eo 'ratio: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$'))" \
      "\`curl --parallel --parallel-max 16 -r 0-16383\` on the same links" \
      "$(grep -Eo '16383: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') s" bench_probe_vs_curl
}

figures_grid_verdicts() {
  # (Not "rows": that names the page's table of rows.)
  local songs=$(pick 20000 100000) rounds=$(pick 1 3) log=grid_verdicts.txt
  run bench_grid_verdicts "$log" "$songs" "$rounds"
  row "paging the results grid from the first of $(num "$songs") rows to the last, every row probed (mark, grey text), a page painted, median of $rounds$(verdict)" \
      "$(grep -Eo '^probed: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') ms (ratio $(grep -Eo '^ratio: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$'))" \
      "the same rows unprobed; the bound: 1.25 times" \
      "$(grep -Eo '^unprobed: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') ms" bench_grid_verdicts
}

figures_finished_marks() {
  local songs=$(pick 100000 1000000) files=$(pick 2000 10000) rounds=$(pick 1 3) log=finished_marks.txt
  run bench_finished_marks "$log" "$songs" "$files" "$rounds"
  row "已下载 marks over $(num "$songs") rows and $(num "$files") finished songs: the longest UI-thread gap while their files are checked and handed over; a page of marked rows painted, median of $rounds$(verdict)" \
      "$(grep -Eo 'gap meanwhile: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') ms; $(grep -Eo "pages, marked: [0-9.]+" "$logs/$log" | grep -Eo '[0-9.]+$') ms" \
      "the first check on its thread; the same pages unmarked (bounds: 50 ms, 1.25 times)" \
      "$(grep -Eo 'handed over: [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') ms; $(grep -Eo "pages, unmarked: [0-9.]+" "$logs/$log" | grep -Eo '[0-9.]+$') ms" bench_finished_marks
}

figures_grid_order() {
  local songs=$(pick 100000 1000000) rounds=$(pick 1 3) log=grid_order.txt
  run bench_grid_order "$log" "$songs" "$rounds"
  local firsts
  firsts=$(sed -nE 's/^sort by (.*[^ ]) +first screen median [0-9.]+ ms \(largest ([0-9.]+)\).*/\1 \2 ms/p' "$logs/$log" | paste -sd ';' - | sed 's/;/; /g')
  row "a sort's first screen over $(num "$songs") rows through the grid (offscreen), largest of $rounds each$(verdict)" \
      "$firsts" "the order's tables made by the first sort, to its rows shown; the bound" \
      "$(grep -Eo 'first sort shown in [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') s; 200 ms" bench_grid_order
  row "one row per song over $(num "$songs") rows (合并相同歌曲): the first after the tables changed, then the median$(verdict)" \
      "$(grep -Eo 'index\) in [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') ms; $(grep -Eo 'then median [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+$') ms" \
      "the UI thread's longest stall meanwhile, and of it on its CPU; the bounds" \
      "$(grep -Eo 'longest stall [0-9]+' "$logs/$log" | grep -Eo '[0-9]+$') ms, $(grep -Eo 'stall [0-9]+ ms \([0-9.]+' "$logs/$log" | tail -n 1 | grep -Eo '[0-9.]+$') ms; 500 ms, 50 ms" bench_grid_order
}

for g in "${chosen[@]}"; do
  [[ " ${FIGURE_GROUPS[*]} " == *" $g "* ]] || { echo "figures.sh: no group $g (see --list)" >&2; exit 2; }
done

bin="$build/bin"
logs="$build/figures"
rows=$(mktemp)
trap 'rm -f "$rows"' EXIT

# ---- helpers ----------------------------------------------------------------

pick() { if [ "$quick" = 1 ]; then echo "$1"; else echo "$2"; fi; }
say() { echo "figures: $*" >&2; }

# row WHAT RESULT COMPARED-WITH ITS-RESULT BENCHMARK
row() { printf '| %s | %s | %s | %s | `%s` |\n' "$1" "$2" "$3" "$4" "$5" >>"$rows"; }

# A number with about three significant digits, without an exponent, and
# with thousands separated by commas.
num() {
  LC_ALL=C awk -v v="$1" 'BEGIN {
    if (v == "") { print "?"; exit }
    a = v < 0 ? -v : v
    if (a >= 100) {
      s = sprintf("%.0f", a); out = ""
      while (length(s) > 3) { out = "," substr(s, length(s) - 2) out; s = substr(s, 1, length(s) - 3) }
      printf "%s%s%s", v < 0 ? "-" : "", s, out
    } else if (a >= 10) printf "%.1f", v
    else if (a >= 1) printf "%.2f", v; else printf "%.3f", v }'
}
# calc EXPRESSION: awk arithmetic on numbers given as -v a=... b=...
calc() { local e=$1; shift; LC_ALL=C awk "$@" "BEGIN { print $e }"; }

# run NAME LOG ARGS...: a benchmark binary's output into LOG; its exit status
# in $status (a missed target is not the script's failure).
run() {
  local name=$1 log=$2; shift 2
  say "$name $*"
  status=0
  "$bin/$name" "$@" >"$logs/$log" 2>"$logs/$log.err" || status=$?
}
# After `run`: a missed target or a failed run, in words for a row.
verdict() { [ "$status" = 0 ] || echo " (the benchmark reported a missed target or a failure)"; }

# gbench NAME LOG ARGS...: a Google Benchmark binary, CSV out.
gbench() {
  local name=$1 log=$2; shift 2
  run "$name" "$log" --benchmark_format=csv "$@"
}
# gb LOG BENCHMARK COLUMN: a column (by its CSV header name) of one row.
gb() {
  awk -F, -v want="$2" -v col="$3" '
    /^name,/ { for (i = 1; i <= NF; i++) { h = $i; gsub(/"/, "", h); c[h] = i }; next }
    { n = $1; gsub(/"/, "", n); if (n == want) { print $(c[col]); exit } }' "$logs/$1"
}
# gbms LOG BENCHMARK: its real time in milliseconds.
gbms() {
  local t u
  t=$(gb "$1" "$2" real_time); u=$(gb "$1" "$2" time_unit)
  case $u in
    ns) calc 'a / 1e6' -v a="$t" ;; us) calc 'a / 1e3' -v a="$t" ;;
    ms) echo "$t" ;; s) calc 'a * 1e3' -v a="$t" ;; *) echo "" ;;
  esac
}
# field LOG REGEX N: the Nth number on the first line matching REGEX.
field() {
  grep -E -m1 "$2" "$logs/$1" | grep -Eo '[0-9]+(\.[0-9]+)?' | sed -n "$3p"
}

# ---- the groups -------------------------------------------------------------

figures_cutter() {
  local filter='.'
  [ "$quick" = 1 ] && filter='^BM_(Cut|Lower|LiteralCutPlainPage/102400)'
  local size=$(pick 102400 1048576) label=$(pick '100 KiB' '1 MiB')
  gbench bench_cutter cutter.csv --benchmark_filter="$filter" --benchmark_min_time="$(pick 0.05 0.5)"
  row "cutting song links out of a $label result page without song links (\`cutLinks\`)" \
      "$(num "$(gbms cutter.csv "BM_CutPlainPage/$size")") ms" \
      "the literal position-based algorithm on the same page" \
      "$(num "$(gbms cutter.csv "BM_LiteralCutPlainPage/$size/iterations:1")") ms" bench_cutter
  row "cutting a 10 MiB result page with $(num "$(gb cutter.csv BM_CutAnchorPage/10485760 links)") song links" \
      "$(num "$(gbms cutter.csv BM_CutAnchorPage/10485760)") ms" \
      "the same size without song links; 1 MiB with song links" \
      "$(num "$(gbms cutter.csv BM_CutPlainPage/10485760)") ms; $(num "$(gbms cutter.csv BM_CutAnchorPage/1048576)") ms" \
      bench_cutter
  row "a 10 MiB result page of a real search, cut until the stop test ends it (301 links)" \
      "$(num "$(gbms cutter.csv BM_CutAnchorPageUntilLimit/10485760)") ms" \
      "lower-casing the whole page (\`lowerCasePage\`), which the fetching stage does first" \
      "$(num "$(gbms cutter.csv BM_LowerCasePage/10485760)") ms" bench_cutter
}

figures_tcp_receive() {
  run bench_tcp_receive tcp_receive.txt
  local median='median +[0-9.]+'
  row "\`ReadIntoStream\` receiving a counted 100 MiB body over loopback (median of 7)" \
      "$(grep -E -m1 '^ReadIntoStream \(counted' "$logs/tcp_receive.txt" | grep -Eo "$median" | grep -Eo '[0-9.]+$') GB/s" \
      "a raw \`recv\` loop into the same kind of storage" \
      "$(grep -E -m1 'stream storage' "$logs/tcp_receive.txt" | grep -Eo "$median" | grep -Eo '[0-9.]+$') GB/s" \
      bench_tcp_receive
  row "\`ReadIntoStream\` receiving 100 MiB until the peer closes" \
      "$(grep -E -m1 'until close' "$logs/tcp_receive.txt" | grep -Eo "$median" | grep -Eo '[0-9.]+$') GB/s" \
      "a raw \`recv\` loop into a string touched beforehand" \
      "$(grep -E -m1 'pre-touched' "$logs/tcp_receive.txt" | grep -Eo "$median" | grep -Eo '[0-9.]+$') GB/s" \
      bench_tcp_receive
}

figures_netget() {
  local mib=$(pick 32 100) rounds=$(pick 3 5)
  run bench_http_get http_get.txt "$bin/netget" "$mib" "$rounds"
  local line
  line=$(grep -E 'median of' "$logs/http_get.txt" || true)
  row "\`netget URL\`, a $mib MiB body over loopback (median of $rounds)$(verdict)" \
      "$(echo "$line" | grep -Eo 'netget [0-9.]+' | grep -Eo '[0-9.]+') s" \
      "\`curl -s -o FILE URL\` on the same server, taking turns" \
      "$(echo "$line" | grep -Eo 'curl [0-9.]+' | grep -Eo '[0-9.]+') s (ratio $(echo "$line" | grep -Eo 'ratio [0-9.]+' | grep -Eo '[0-9.]+'))" \
      bench_http_get
}

figures_store() {
  gbench bench_store_insert store_insert.csv --benchmark_min_time="$(pick 0.1 0.5)"
  local per=$(gb store_insert.csv BM_StoreInsert/min_time:2.000/real_time items_per_second)
  row "single-row inserts into the song store, each its own transaction (WAL, \`synchronous=NORMAL\`)" \
      "$(num "$per") per second" \
      "the 301 rows of a whole search" "$(num "$(calc '301 / a * 1e3' -v a="$per")") ms" bench_store_insert
  row "re-opening the results query after a page's 46 own rows, over 1,000,000 rows (\`Requery\`)" \
      "$(num "$(calc 'a * 1e3' -v a="$(gbms store_insert.csv BM_StoreReopenAfterOwnRows/1000000/manual_time)")") µs" \
      "the same over 10,000 rows; reading the 1,000,000 again in full, as another program's change makes it" \
      "$(num "$(calc 'a * 1e3' -v a="$(gbms store_insert.csv BM_StoreReopenAfterOwnRows/10000/manual_time)")") µs; $(num "$(gbms store_insert.csv BM_StoreFullRead/1000000/manual_time)") ms (on a worker thread)" \
      bench_store_insert
}

# scale LOG ROWS COLUMN: the median in a column of bench_store_scale's table.
scale() { awk -F'|' -v rows="$2" -v col="$3" 'NF >= 7 && $1 ~ /^[0-9]+ *$/ && $1 + 0 == rows { split($col, v, " "); print v[1]; exit }' "$logs/$1"; }

figures_store_scale() {
  local sizes=$(pick "0 100000" "0 100000 1000000") rounds=$(pick 1 3) locked=$(pick 4 12) log=store_scale.txt
  run bench_store_scale "$log" $sizes --rounds "$rounds" --locked "$locked"
  local n largest=${sizes##* }
  for n in ${sizes#0 }; do
    row "the main window over $(num "$n") songs: first window, peak memory; a search storing its 46 rows on top, then Clear; the longest UI stall (median of $rounds)$(verdict)" \
        "$(scale $log "$n" 2) s, $(scale $log "$n" 3) MiB; $(scale $log "$n" 4) s, $(scale $log "$n" 5) s; $(scale $log "$n" 6) s" \
        "the same over an empty store" \
        "$(scale $log 0 2) s, $(scale $log 0 3) MiB; $(scale $log 0 4) s, $(scale $log 0 5) s; $(scale $log 0 6) s" \
        bench_store_scale
  done
  local line
  line=$(grep -E -m1 'longest UI stall [0-9]' "$logs/$log" || true)
  row "the window searching for $locked s over $(num "$largest") songs while another process holds the store's write lock, then SIGTERM$(verdict)" \
      "longest UI stall $(echo "$line" | grep -Eo 'stall [0-9.]+' | grep -Eo '[0-9.]+') s, $(echo "$line" | sed -E 's/.*, stored ([0-9]+),.*/\1/') of $(echo "$line" | grep -Eo 'found [0-9]+' | grep -Eo '[0-9]+') songs stored, ended $(echo "$line" | grep -Eo 'ended [0-9.]+' | grep -Eo '[0-9.]+') s after SIGTERM" \
      "the bounds the benchmark holds it to" "50 ms, 1 s" bench_store_scale
}

figures_html_page() {
  # Repeated, the page sizes report their fastest run (the steadiest figure
  # on a busy machine), the rest their median.
  local reps=$(pick 1 10) agg='' mid='' of=''
  if [ "$quick" = 0 ]; then agg=_min; mid=_median; of=", fastest of $reps"; fi
  gbench bench_html_page html_page.csv --benchmark_min_time="$(pick 0.05 0.5)" \
    --benchmark_repetitions="$reps" --benchmark_report_aggregates_only="$( [ "$quick" = 0 ] && echo true || echo false)"
  local kind name one ten hundred
  for kind in "PlainText:plain text" "DenseTags:dense tags" "LongComment:one long comment" \
              "OpenComment:one comment that never ends"; do
    name=${kind%%:*}
    one=$(gbms html_page.csv "BM_$name/bytes:1048576/cold:1$agg")
    ten=$(gbms html_page.csv "BM_$name/bytes:10485760/cold:1$agg")
    hundred=$(gbms html_page.csv "BM_$name/bytes:104857600/cold:0$agg")
    row "loading a 10 MiB page of ${kind#*:} and writing it again as written (\`TDlHTMLObject\`, caches cold$of)" \
        "$(num "$ten") ms ($(num "$(calc '10.48576 / a * 1e3' -v a="$ten")") MB/s)" \
        "the same at 1 MiB (cold) and 100 MiB" \
        "$(num "$one") ms and $(num "$hundred") ms: 10 MiB costs $(num "$(calc 'b / a' -v a="$one" -v b="$ten")") × 1 MiB, 100 MiB $(num "$(calc 'b / a' -v a="$ten" -v b="$hundred")") × 10 MiB" \
        bench_html_page
  done
  local online written links find
  online=$(gbms html_page.csv "BM_DenseTagsOnline/1048576/0$mid")
  written=$(gbms html_page.csv "BM_DenseTags/bytes:1048576/cold:0$agg")
  links=$(gb html_page.csv "BM_DenseTags/bytes:1048576/cold:0$agg" links)
  [ -n "$links" ] || links=$(gb html_page.csv "BM_DenseTagsOnline/1048576/0$mid" links)
  row "writing a 1 MiB page of dense tags again with every link absolute (libcurl)" \
      "$(num "$online") ms ($(num "$(calc 'a * 1e3 / n' -v a="$online" -v n="${links:-1}")") µs per link)" \
      "the same page written as written" "$(num "$written") ms" bench_html_page
  find=$(gbms html_page.csv "BM_FindEveryLink/1048576$mid")
  row "finding each link of that page by its absolute URL (\`findLink\`, index built afresh)" \
      "$(num "$find") ms" "making each link absolute, as above" "$(num "$online") ms" bench_html_page
}

figures_cookies() {
  gbench bench_cookie_store cookie_store.csv
  row "the cookie store taking 80,000 cookies from 80,000 hosts (3,000 kept)" \
      "$(num "$(gbms cookie_store.csv BM_TakeCookiesFromManyHosts/real_time)") ms" \
      "80,000 cookies from one host (50 kept)" \
      "$(num "$(gbms cookie_store.csv BM_TakeCookiesFromOneHost/real_time)") ms" bench_cookie_store
}

figures_hostile_servers() {
  local seconds=$(pick 5 20) log=hostile_servers.txt
  run bench_hostile_servers "$log" "$bin/netget" "$seconds"
  row "the program searching for $seconds s against a server whose header lines never end: peak memory" \
      "$(field $log '^  peak resident memory' 1) MiB" \
      "the program 3 s into a search against 80,000 \`Set-Cookie\` lines per answer" \
      "$(field $log '^  program ended' 3) MiB" bench_hostile_servers
  row "closing the window 3 s into a search against 80,000 \`Set-Cookie\` lines per answer" \
      "ended $(field $log '^  program ended' 1) s after the close" \
      "closing it after the search against endless header lines above" \
      "ended $(field $log '^  peak resident memory' 3) s after the close" bench_hostile_servers
  row "the client taking 80,000 \`Set-Cookie\` lines in one answer" \
      "refused in $(field $log '^  in one answer' 1) s" \
      "the same lines as 81 answers of 999" \
      "taken in $(field $log '^  as [0-9]+ answers' 3) s, $(field $log '^  as [0-9]+ answers' 4) cookies kept" \
      bench_hostile_servers
  row "\`netget\` against header lines that never end" \
      "fails after $(field $log '^  header lines' 2) s at $(field $log '^  header lines' 3) MiB" \
      "\`netget\` against a silent server with \`--max-time 2\`" \
      "fails after $(field $log '^  a silent server' 3) s at $(field $log '^  a silent server' 4) MiB" \
      bench_hostile_servers
  row "\`netget\` against an endless body with \`--max-size 16777216\`" \
      "fails after $(field $log '^  an endless body' 3) s at $(field $log '^  an endless body' 4) MiB" \
      "the body the limit lets through" "16 MiB" bench_hostile_servers
}

figures_download_run() {
  local mib=$(pick 64 256) rounds=$(pick 3 11) log=download_run.txt
  run bench_download_run "$log" "$mib" "$rounds"
  local line first
  line=$(grep -E 'median of' "$logs/$log" || true)
  first=$(grep -E '^first round' "$logs/$log" || true)
  row "one $mib MiB item through a whole download run, bytes into memory (median of $rounds)$(verdict)" \
      "$(echo "$line" | grep -Eo 'engine [0-9.]+' | grep -Eo '[0-9.]+') MB/s" \
      "\`curl -s -o /dev/null\` on the same server" \
      "$(echo "$line" | grep -Eo 'dev/null [0-9.]+' | grep -Eo '[0-9.]+$') MB/s (ratio $(echo "$line" | grep -Eo 'ratio [0-9.]+' | grep -Eo '[0-9.]+'))" \
      bench_download_run
  row "the same, first round of the process (fresh memory)" \
      "$(echo "$first" | grep -Eo 'engine [0-9.]+' | grep -Eo '[0-9.]+') MB/s" "curl's first round" \
      "$(echo "$first" | grep -Eo 'curl [0-9.]+' | grep -Eo '[0-9.]+') MB/s" bench_download_run
}

figures_dlget_vs_curl() {
  local mib=$(pick 64 256) rounds=$(pick 3 7) log=dlget_vs_curl.txt
  run bench_dlget_vs_curl "$log" "$bin/dlget" "$mib" "$rounds"
  local line peak
  line=$(grep -E 'median of' "$logs/$log" || true)
  peak=$(grep -E '^peak resident' "$logs/$log" || true)
  row "\`dlget --dir DIR/ URL\`, a $mib MiB file over loopback (median of $rounds)$(verdict)" \
      "$(echo "$line" | grep -Eo 'dlget [0-9.]+' | grep -Eo '[0-9.]+') s, peak $(echo "$peak" | grep -Eo 'dlget [0-9.]+' | grep -Eo '[0-9.]+') MiB" \
      "\`curl -s -o FILE URL\`, taking turns" \
      "$(echo "$line" | grep -Eo 'curl [0-9.]+' | grep -Eo '[0-9.]+') s, peak $(echo "$peak" | grep -Eo 'curl [0-9.]+' | grep -Eo '[0-9.]+') MiB (time ratio $(echo "$line" | grep -Eo 'ratio [0-9.]+' | grep -Eo '[0-9.]+'))" \
      bench_dlget_vs_curl
}

# after LOG REGEX WORDS: the number after WORDS on the first line matching REGEX.
after() { grep -E -m1 "$2" "$logs/$1" | grep -Eo "$3 [0-9.]+" | head -n 1 | grep -Eo '[0-9.]+$'; }
# missed LOG TEXT...: " (target missed: ...)" for each bound the benchmark said it missed.
missed() {
  local log=$1 t out=""; shift
  for t in "$@"; do grep -qF "target missed: $t" "$logs/$log" && out="$out; $t"; done
  [ -z "$out" ] || echo " (target missed: ${out#; })"
}

figures_netget_nginx() {
  local mib=$(pick 64 256) rounds=$(pick 3 7) log=netget_nginx.txt
  run bench_netget_nginx "$log" "$bin/netget" "$mib" "$rounds"
  local v; v=$( [ "$status" = 0 ] || grep -q 'target missed' "$logs/$log" || verdict)
  local file='into a file, median' null='into /dev/null, median' pipe='into a pipe, median'
  row "\`netget URL > FILE\`, a $mib MiB body from a loopback nginx with sendfile (median of $rounds)$v$(missed $log 'netget into a file within 1.1 x curl'"'"'s wall time' 'netget into a file within body + 16 MiB')" \
      "$(after $log "$file" 'netget') s, CPU $(after $log "$file" 'netget [0-9.]+ s, cpu') s, peak $(after $log "$file" 'netget [0-9.]+ s, cpu [0-9.]+ s, peak') MiB" \
      "\`curl -s -o FILE URL\`, taking turns (bounds: 1.1 × the time, the body + 16 MiB)" \
      "$(after $log "$file" 'curl') s, CPU $(after $log "$file" 'curl [0-9.]+ s, cpu') s, peak $(after $log "$file" 'curl [0-9.]+ s, cpu [0-9.]+ s, peak') MiB (time ratio $(after $log "$file" 'time ratio'), CPU ratio $(after $log "$file" 'cpu ratio'))" \
      bench_netget_nginx
  row "\`netget URL > /dev/null\`, the same body$v" "$(after $log "$null" 'netget') s, peak $(after $log "$null" 'netget [0-9.]+ s, cpu [0-9.]+ s, peak') MiB" \
      "\`curl -s -o /dev/null URL\`, taking turns" \
      "$(after $log "$null" 'curl') s (time ratio $(after $log "$null" 'time ratio'))" bench_netget_nginx
  row "\`netget URL\` into a pipe, the same body, held whole until it is complete$v$(missed $log 'netget into a pipe within body + 16 MiB')" \
      "$(after $log "$pipe" 'netget') s, peak $(after $log "$pipe" 'netget [0-9.]+ s, cpu [0-9.]+ s, peak') MiB" \
      "the bound: the body + 16 MiB" "$((mib + 16)) MiB" bench_netget_nginx
}

figures_dlget_nginx() {
  local mib=$(pick 64 256) rounds=$(pick 3 7) songs=8 smib=$(pick 4 16) rate=8 jrounds=$(pick 1 3) log=dlget_nginx.txt
  run bench_dlget_nginx "$log" "$bin/dlget" "$mib" "$rounds" "$songs" "$smib" "$rate" "$jrounds"
  local v; v=$( [ "$status" = 0 ] || grep -q 'target missed' "$logs/$log" || verdict)
  local one='MiB file, median'
  row "\`dlget --dir DIR/ URL\`, a $mib MiB file from a loopback nginx with sendfile, part synced at its checkpoints (median of $rounds)$v$(missed $log 'dlget within 1.1 x curl'"'"'s wall time' 'dlget'"'"'s peak within 14 MiB')" \
      "$(after $log "$one" 'dlget') s, peak $(after $log "$one" 'dlget [0-9.]+ s, peak') MiB" \
      "\`curl -s -o FILE URL\`, taking turns, no sync (bounds: 1.1 × the time, 14 MiB)" \
      "$(after $log "$one" 'curl') s, peak $(after $log "$one" 'curl [0-9.]+ s, peak') MiB (time ratio $(after $log "$one" 'time ratio'))" \
      bench_dlget_nginx
  local j
  for j in 2 8; do
    local at="$j at once, median"
    row "\`dlget --jobs $j\`, $songs songs of $smib MiB from nginx, each connection held to $rate MiB/s (median of $jrounds)$v$( [ $j = 8 ] && missed $log 'dlget --jobs 8 peaks within 1.1 x aria2c -j8')" \
        "$(after $log "$at" "dlget --jobs $j") s, peak $(after $log "$at" "dlget --jobs $j [0-9.]+ s, peak") MiB" \
        "\`curl --parallel --parallel-max $j\`; \`aria2c -Z -j$j\`, taking turns$( [ $j = 8 ] && echo ' (bound: the peak within 1.1 × aria2c'"'"'s)')" \
        "$(after $log "$at" "parallel-max $j") s, peak $(after $log "$at" "parallel-max $j [0-9.]+ s, peak") MiB; $(after $log "$at" "aria2c -j$j") s, peak $(after $log "$at" "aria2c -j$j [0-9.]+ s, peak") MiB (peak ratio to aria2c $(after $log "$at" 'peak ratio to aria2c'))" \
        bench_dlget_nginx
  done
  row "each song at once beyond two, \`dlget --jobs 8\` against \`--jobs 2\`$v" \
      "$(after $log 'each song at once' 'costs dlget') MiB" "the bound" "1 MiB" bench_dlget_nginx
}

figures_download_continue() {
  local mib=$(pick 16 64) rounds=$(pick 1 3) log=download_continue.txt
  run bench_download_continue "$log" "$bin/dlget" "$mib" "$rounds"
  local drops plain tool
  drops=$(grep -E 'component, 3 drops' "$logs/$log" | tail -n 1 || true)
  plain=$(grep -E 'component, no drops' "$logs/$log" | tail -n 1 || true)
  tool=$(grep -E 'dlget, 3 drops' "$logs/$log" | tail -n 1 || true)
  local bytes=$((mib << 20))
  row "a $mib MiB song over a line that drops at 30, 60 and 90 %, by the download component (round $rounds of $rounds)$(verdict)" \
      "$(echo "$drops" | grep -Eo '[0-9.]+ s,' | grep -Eo '[0-9.]+') s, $(num "$(echo "$drops" | grep -Eo '[0-9]+ bytes received' | grep -Eo '[0-9]+')") bytes received for $(num "$bytes"), $(echo "$drops" | grep -Eo '[0-9]+ continuations' | grep -Eo '[0-9]+') continuations (13 s of it the pauses: 1, 3 and 9 s)" \
      "the same song without drops" \
      "$(echo "$plain" | grep -Eo '[0-9.]+ s,' | grep -Eo '[0-9.]+') s" bench_download_continue
  row "the same by \`dlget\` as a whole process" \
      "$(echo "$tool" | grep -Eo '[0-9.]+ s,' | grep -Eo '[0-9.]+') s, peak $(echo "$tool" | grep -Eo '[0-9.]+ MiB peak' | grep -Eo '[0-9.]+') MiB" \
      "the component in the same round" \
      "$(echo "$drops" | grep -Eo '[0-9.]+ s,' | grep -Eo '[0-9.]+') s" bench_download_continue
}

figures_dlget_hostile() {
  local seconds=$(pick 2 8) log=dlget_hostile.txt
  run bench_dlget_hostile "$log" "$bin/dlget" "$seconds" "$bin/libhanging_resolver.so"
  local what line end
  for what in "Content-Length 4294967295 that never comes" "an endless body without a length" \
              "endless trailer lines" "a name lookup that never ends"; do
    line=$(grep -F -m1 "$what" "$logs/$log" || true)
    if echo "$line" | grep -q 'by itself'; then end="ended by itself"
    else end="ended $(num "$(echo "$line" | grep -Eo '[0-9.]+ ms after' | grep -Eo '[0-9.]+')") ms after SIGTERM"; fi
    # The lookup that never ends is given at most 2 s.
    [ "$what" = "a name lookup that never ends" ] && [ "$seconds" -gt 2 ] && seconds=2
    row "\`dlget\` against $what, for $seconds s, then SIGTERM$(verdict)" \
        "peak $(echo "$line" | grep -Eo 'peak +[0-9.]+' | grep -Eo '[0-9.]+') MiB, $end" \
        "the bounds the benchmark holds it to" "64 MiB, 200 ms" bench_dlget_hostile
  done
}

figures_dlget_jobs() {
  local songs=$(pick 4 8) mib=$(pick 4 16) rate=8 rounds=$(pick 1 3) log=dlget_jobs.txt
  run bench_dlget_jobs "$log" "$bin/dlget" "$songs" "$mib" "$rate" "$rounds"
  local line one two curl ratio
  line=$(grep -E 'median of' "$logs/$log" || true)
  one=$(echo "$line" | grep -Eo 'jobs 1 [0-9.]+' | grep -Eo '[0-9.]+$')
  two=$(echo "$line" | grep -Eo 'jobs 2 [0-9.]+' | grep -Eo '[0-9.]+$')
  curl=$(echo "$line" | grep -Eo 'max 2 [0-9.]+' | grep -Eo '[0-9.]+$')
  ratio=$(echo "$line" | grep -Eo 'ratio [0-9.]+' | grep -Eo '[0-9.]+')
  row "\`dlget --jobs 2\`, $songs songs of $mib MiB, each connection held to $rate MiB/s (median of $rounds)$(verdict)" \
      "$two s ($ratio of \`--jobs 1\`: $one s; at most $(grep -E 'jobs 2' "$logs/$log" | grep -Eo '[0-9]+ connections' | sort -n | tail -n 1) at once)" \
      "\`curl --parallel --parallel-immediate --parallel-max 2\`, taking turns" "$curl s" bench_dlget_jobs
}

# listed LOG ROWS COLUMN: the median in a column of bench_downloads_list's table.
listed() { awk -F'|' -v rows="$2" -v col="$3" 'NF >= 3 && $1 ~ /^[0-9]+ *$/ && $1 + 0 == rows { split($col, v, " "); print v[1]; exit }' "$logs/$1"; }

figures_downloads_list() {
  # (Not "rows": that names the page's table of rows.)
  local songs=10000 rounds=$(pick 1 3) searches=$(pick 3 9) mib=$(pick 24 48) log=downloads_list.txt
  run bench_downloads_list "$log" --rows "$songs" --rounds "$rounds" --searches "$searches" --fast-mib "$mib"
  row "the main window opened on a downloads list of $(num "$songs") finished songs: the list shown, peak memory (median of $rounds)$(verdict)" \
      "$(listed $log "$songs" 2) s, $(listed $log "$songs" 3) MiB" \
      "the same with an empty list; the bounds the benchmark holds it to" \
      "$(listed $log 0 2) s, $(listed $log 0 3) MiB; 0.5 s, 20 MiB more" bench_downloads_list
  local line
  line=$(grep -E -m1 '^  alone' "$logs/$log" || true)
  row "a search on the demo service (nine pages) while the list downloads two slow songs (median of $searches)$(verdict)" \
      "$(echo "$line" | grep -Eo 'downloads [0-9.]+' | grep -Eo '[0-9.]+') s" \
      "the same search alone, taking turns (the bound: 10 % slower)" \
      "$(echo "$line" | grep -Eo 'alone [0-9.]+' | grep -Eo '[0-9.]+') s (ratio $(echo "$line" | grep -Eo 'ratio [0-9.]+' | grep -Eo '[0-9.]+'))" \
      bench_downloads_list
  line=$(grep -E -m1 '^  took' "$logs/$log" || true)
  row "a list row under a $mib MiB download at 8 MiB/s: repaints, the most within any second$(verdict)" \
      "$(echo "$line" | grep -Eo 'repainted [0-9]+' | grep -Eo '[0-9]+'), at most $(echo "$line" | grep -Eo 'at most [0-9]+' | grep -Eo '[0-9]+')" \
      "the progress reports that reached the list; the bound" \
      "$(echo "$line" | grep -Eo '[0-9]+ progress reports' | grep -Eo '[0-9]+'); 4 a second" bench_downloads_list
}

# added LOG SONGS COLUMN: a column of bench_list_add's table for SONGS songs.
added() { awk -F'|' -v songs="$2" -v col="$3" '$1 + 0 == songs && NF >= 6 { split($col, v, " "); print v[1]; exit }' "$logs/$1"; }

figures_list_add() {
  local big=$(pick 100000 1000000) log=list_add.txt
  run bench_list_add "$log" 10000 "$big"
  row "加入下载列表 on every row of a grid of 10,000 songs: until the last is in the list; the longest UI stall$(verdict)" \
      "$(added $log 10000 2) s; $(num "$(calc 'a * 1e3' -v a="$(added $log 10000 4)")") ms" \
      "the same over $(num "$big") songs; its peak memory; the bounds the benchmark holds them to" \
      "$(added $log "$big" 2) s, $(num "$(calc 'a * 1e3' -v a="$(added $log "$big" 4)")") ms; $(added $log "$big" 6) MiB; 1 s, 30 s, 50 ms" bench_list_add
  row "the program's end after SIGTERM in the middle of adding $(num "$big") songs$(verdict)" \
      "$(grep -Eo 'ended [0-9.]+' "$logs/$log" | grep -Eo '[0-9.]+') s" \
      "the bound the benchmark holds it to" "1 s" bench_list_add
}

# sorted LOG ROWS COLUMN WHICH: bench_list_sort's seconds for ROWS rows by
# COLUMN (歌曲 or 大小), WHICH 3 (the list's) or 4 (Qt's), the slower direction.
sorted() { awk -F'|' -v rows="$2" -v column="$3" -v which="$4" '$1 + 0 == rows && index($2, column) && $which + 0 > most { most = $which + 0 } END { print most }' "$logs/$1"; }

figures_list_sort() {
  local big=$(pick 100000 1000000) log=list_sort.txt
  run bench_list_sort "$log" "$big"
  row "sorting $(num "$big") downloads-list rows by a column's title: 歌曲 (texts); 大小 (numbers), the slower direction$(verdict)" \
      "$(sorted $log "$big" 歌曲 3) s; $(sorted $log "$big" 大小 3) s" \
      "Qt's own sorting model over the same rows; the bound the benchmark holds the list's to" \
      "$(sorted $log "$big" 歌曲 4) s; $(sorted $log "$big" 大小 4) s; a third of Qt's" bench_list_sort
}

# ---- the page ---------------------------------------------------------------

if [ ! -f "$build/build.ninja" ]; then
  say "configuring $build"
  cmake -S . -B "$build" -G Ninja >/dev/null
fi
say "building the benchmarks and tools in $build"
cmake --build "$build" -j "$(nproc)" --target netget dlget demo-service hanging_resolver \
  $(for f in bench/*.cpp; do n=$(basename "$f" .cpp); echo "bench_$n"; done) >&2
mkdir -p "$logs"

started=$(date +%s)
for g in "${chosen[@]}"; do
  say "== $g"
  "figures_$g"
done
took=$(( $(date +%s) - started ))

commit=$(git rev-parse --short HEAD 2>/dev/null || echo unknown)
git diff --quiet HEAD 2>/dev/null || commit="$commit, with changes not committed"
cpu=$(grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //')
memory=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)

cat <<EOF
# Figures

This page is for anyone who wants to know how fast BrelvoMP3's parts are and
how much memory they take, measured against a reference (curl, a raw socket
loop, the literal algorithm, another size of the same input) or against the
bound a benchmark holds them to. It is the output of \`scripts/figures.sh\`,
which runs the benchmarks of \`bench/\` (see [testing](testing.md#benchmarks));
run it again rather than editing this page.

- Date: $(date -u '+%Y-%m-%d %H:%M UTC')
- Machine: $(nproc) cores ($cpu), $memory of memory; load average $(cut -d' ' -f1-3 /proc/loadavg) at the end
- Commit: $commit
- Run: $( [ "$quick" = 1 ] && echo 'quick (--quick: smaller sizes, fewer rounds)' || echo 'full' ), ${took} s; groups: ${chosen[*]}

Times are wall-clock times; MB is 10^6 bytes, MiB 2^20.

| Measured | Result | Compared with | Its result | Benchmark |
|---|---|---|---|---|
EOF
cat "$rows"

# The song store at scale: bench_store_scale's own table, as it printed it.
if [ -s "$logs/store_scale.txt" ] && [[ " ${chosen[*]} " == *" store_scale "* ]]; then
  echo
  echo "## The song store at scale"
  echo
  echo "The main window over stores of each size, a search on the demo service storing its rows on top, then"
  echo "Clear (\`bench_store_scale\`; $(head -n 1 "$logs/store_scale.txt" | grep -Eo '[0-9]+ rounds?, median.*')):"
  echo
  awk -F'|' 'NF >= 7 {
      line = "|"; for (i = 1; i <= NF; i++) { f = $i; gsub(/^ +| +$/, "", f); line = line " " f " |" }
      print line
      if (!header++) { sep = "|"; for (i = 1; i <= NF; i++) sep = sep "---|"; print sep } }' "$logs/store_scale.txt"
  echo
  grep -E -A1 'write lock held' "$logs/store_scale.txt" | sed 's/^ *//; s/^$//'
fi
