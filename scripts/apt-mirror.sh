#!/bin/sh
# Prints the Debian package mirror that this machine's apt uses, for the scripts that
# need one (debootstrap in check-deb.sh), so that no file of the project names a
# mirror: QV_DEBIAN_MIRROR when it is set; else the first Debian URI of the deb822
# sources in sources.list.d/*.sources; else that of the first "deb" line of
# sources.list. The security archive holds only updates and is passed over, and so is
# a source signed by another vendor's key. Exits 1 when none is found.
# QV_APT_DIR (default /etc/apt) lets tests hand in sources of their own.
set -eu
if [ -n "${QV_DEBIAN_MIRROR:-}" ]; then
    echo "$QV_DEBIAN_MIRROR"
    exit 0
fi
apt_dir=${QV_APT_DIR:-/etc/apt}

mirror=""
for file in "$apt_dir"/sources.list.d/*.sources; do
    [ -r "$file" ] || continue
    mirror=$(awk '
        BEGIN { RS = "" }
        {
            uris = ""; types = ""; signed = ""; enabled = "yes"
            n = split($0, lines, "\n")
            for (j = 1; j <= n; j++) {
                if (lines[j] ~ /^[ \t]*#/ || lines[j] !~ /^[A-Za-z-]+:/)
                    continue
                key = tolower(lines[j]); sub(/:.*/, "", key)
                value = lines[j]; sub(/^[^:]*:[ \t]*/, "", value)
                if (key == "uris") uris = value
                else if (key == "types") types = value
                else if (key == "signed-by") signed = value
                else if (key == "enabled") enabled = tolower(value)
            }
            if (types !~ /(^|[ \t])deb([ \t]|$)/ || enabled == "no")
                next
            if (signed != "" && signed !~ /debian-archive-keyring/)
                next
            m = split(uris, list, /[ \t]+/)
            for (k = 1; k <= m; k++)
                if (list[k] != "" && list[k] !~ /-security\/?$/) { print list[k]; exit }
        }' "$file")
    [ -z "$mirror" ] || break
done

if [ -z "$mirror" ] && [ -r "$apt_dir/sources.list" ]; then
    mirror=$(awk '
        $1 == "deb" {
            i = 2; options = ""
            if ($i ~ /^\[/) {
                while (i <= NF && $i !~ /\]$/) { options = options " " $i; i++ }
                options = options " " $i; i++
            }
            if (options ~ /signed-by=/ && options !~ /debian-archive-keyring/)
                next
            if ($i != "" && $i !~ /-security\/?$/) { print $i; exit }
        }' "$apt_dir/sources.list")
fi

if [ -z "$mirror" ]; then
    echo "apt-mirror: no Debian mirror in the apt sources under $apt_dir; name one in QV_DEBIAN_MIRROR" >&2
    exit 1
fi
echo "$mirror"
