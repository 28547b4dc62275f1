#!/usr/bin/env bash
# Writes a small sample web site into the given folder (once), for the demo FTP server.
set -euo pipefail
root=$1
[ -d "$root/www" ] && exit 0
mkdir -p "$root/www/img" "$root/www/css" "$root/www/ブログ" "$root/cgi-bin"
cat >"$root/www/index.html" <<'HTML'
<!DOCTYPE html>
<html lang="ja"><head><meta charset="utf-8"><title>サンプルサイト</title>
<link rel="stylesheet" href="css/site.css"></head>
<body><h1>ようこそ</h1><p>PELNO のデモサイトです。</p></body></html>
HTML
printf 'body { font-family: sans-serif; }\nh1 { color: #246; }\n' >"$root/www/css/site.css"
printf '<p>最初の記事です。</p>\n' >"$root/www/ブログ/記事 1.html"
printf 'Options -Indexes\n' >"$root/www/.htaccess"
head -c 4096 /dev/urandom >"$root/www/img/logo.png"
printf '#!/usr/bin/perl\nprint "Content-Type: text/plain\\n\\nok\\n";\n' >"$root/cgi-bin/hello.cgi"
