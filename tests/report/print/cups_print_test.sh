#!/bin/bash
# Prints a work report through a real CUPS scheduler to a cups-pdf queue and checks the PDF that
# comes out: its name carries the job title, its text holds the report's lines.
#   cups_print_test.sh <report_print_probe>
# Runs its own cupsd on a private folder and a private socket, and stops it again. Exit 77 = skipped.
set -u
probe=$1
skip() { echo "SKIPPED: $*"; exit 77; }

[ "$(id -u)" = 0 ] || skip "needs root (cupsd runs the cups-pdf backend as root)"
for tool in cupsd lpadmin lpstat pdftotext; do
    command -v "$tool" >/dev/null || [ -x "/usr/sbin/$tool" ] || skip "$tool is not installed"
done
[ -x /usr/lib/cups/backend/cups-pdf ] || skip "the cups-pdf backend is not installed"
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
[ -f "$ppd" ] || skip "no cups-pdf PPD at $ppd"

# cups-pdf writes to "Out" of /etc/cups/cups-pdf.conf, ${HOME}/PDF by default: root's home here.
out=$(sed -n 's/^Out[[:space:]]\+//p' /etc/cups/cups-pdf.conf 2>/dev/null | tail -n1)
out=${out:-'${HOME}/PDF'}
out=${out//'${HOME}'/$(getent passwd root | cut -d: -f6)}
out=${out//'${USER}'/root}

dir=$(mktemp -d /tmp/ostrel-cups.XXXXXX)
chmod 755 "$dir"
mkdir -p "$dir/spool" "$dir/tmp" "$dir/cache" "$dir/state" "$dir/ppd"
chgrp lp "$dir/spool" "$dir/tmp" "$dir/cache" 2>/dev/null
chmod 1770 "$dir/spool/" "$dir/tmp"
chmod 770 "$dir/cache"
socket="$dir/cups.sock"
cat >"$dir/cups-files.conf" <<CONF
ServerRoot $dir
RequestRoot $dir/spool
TempDir $dir/tmp
CacheDir $dir/cache
StateDir $dir/state
AccessLog $dir/access_log
ErrorLog $dir/error_log
PageLog $dir/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
SystemGroup root
Sandboxing Relaxed
CONF
cat >"$dir/cupsd.conf" <<CONF
Listen $socket
LogLevel info
Browsing Off
DefaultAuthType None
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF

pid=
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    rm -rf "$dir"
    [ -n "${createdOut:-}" ] && rmdir "$createdOut" 2>/dev/null
    return 0
}
trap cleanup EXIT

/usr/sbin/cupsd -f -c "$dir/cupsd.conf" -s "$dir/cups-files.conf" &
pid=$!
export CUPS_SERVER=$socket
for _ in $(seq 1 100); do
    [ -S "$socket" ] && lpstat -r >/dev/null 2>&1 && break
    kill -0 "$pid" 2>/dev/null || { cat "$dir/error_log" 2>/dev/null; skip "cupsd did not start"; }
    sleep 0.1
done
lpstat -r >/dev/null 2>&1 || skip "cupsd does not answer on $socket"

# cups-pdf takes PostScript. Poppler's and Ghostscript's conversions of the job's PDF keep the
# glyphs but lose their characters, so the printout's text could not be read back; Cairo's keeps
# glyph names, from which the PDF that cups-pdf makes gets its characters again.
lpadmin -p OstrelPDF -E -v cups-pdf:/ -P "$ppd" -o pdftops-renderer-default=pdftocairo 2>&1 | grep -v -i deprecat
lpadmin -d OstrelPDF || { echo "FAIL: cannot make the queue the default"; exit 1; }
[ "$(lpstat -d)" = "system default destination: OstrelPDF" ] || { lpstat -d; echo "FAIL: no default queue"; exit 1; }

createdOut=
[ -d "$out" ] || createdOut=$out
mkdir -p "$out"
marker="$dir/started"
touch "$marker"
QT_QPA_PLATFORM=offscreen timeout 30 "$probe" || { echo "FAIL: the probe could not print"; exit 1; }

# cups-pdf names the file after the job title: letters and digits kept, a blank as "_", any other
# byte as its octal value and "_", cut to a length; then "-job_<id>.pdf".
escapedTitle=
while read -r byte; do
    [ -z "$byte" ] && continue
    char=$(printf "\\$(printf '%03o' "$byte")")
    case "$char" in
        [A-Za-z0-9]) escapedTitle+=$char ;;
        " ") escapedTitle+=_ ;;
        *) escapedTitle+=$(printf '%03o_' "$byte") ;;
    esac
done < <(printf '%s' "Отчет о работе" | od -An -v -tu1 | tr -s ' ' '\n')

pdf=
for _ in $(seq 1 300); do
    pdf=$(find "$out" -maxdepth 1 -name '*.pdf' -newer "$marker" 2>/dev/null | head -n1)
    [ -n "$pdf" ] && [ -z "$(lpstat -o OstrelPDF 2>/dev/null)" ] && break
    sleep 0.1
done
if [ -z "$pdf" ]; then
    echo "FAIL: no PDF in $out within 30 s"
    lpstat -l -o 2>&1
    tail -n 30 "$dir/error_log"
    exit 1
fi
echo "printed to $pdf"
status=0
name=$(basename "$pdf")
name=${name%%-job_*}
if [ ${#name} -lt 16 ] || [ "${escapedTitle#"$name"}" = "$escapedTitle" ]; then
    echo "FAIL: the file name does not carry the job title \"Отчет о работе\" ($escapedTitle): $pdf"
    status=1
fi
text=$(pdftotext -layout "$pdf" - 2>/dev/null)
for line in "Компьютер 0" "Компьютер 199" "Итог:" "Сумма: 6000,00"; do
    grep -q -F "$line" <<<"$text" || { echo "FAIL: the printout lacks \"$line\""; status=1; }
done
[ -n "${OSTREL_KEEP_PDF:-}" ] || rm -f "$pdf"
exit $status
