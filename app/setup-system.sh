#!/bin/sh
# The system account and folders of the printer application's service. Safe to run again: an
# existing account is kept, the folders get their owner and mode back.
# Usage: setup-system.sh [ROOT]   ROOT: the root folder to set up (default /), e.g. for packaging.
set -eu
root=${1:-}
root=${root%/}
name=rx5k-printer-app
state=/var/lib/$name
spool=/var/spool/$name

# The numeric ID of NAME in ROOT/etc/FILE (passwd or group), empty when absent.
id_in() { grep "^$2:" "$root/etc/$1" 2>/dev/null | cut -d: -f3 || true; }
prefix() { if [ -n "$root" ]; then echo "--prefix $root"; fi; }

if [ -z "$(id_in group "$name")" ]; then
  groupadd $(prefix) --system "$name"
fi
if [ -z "$(id_in passwd "$name")" ]; then
  useradd $(prefix) --system --gid "$name" --home-dir "$state" --no-create-home \
    --shell /usr/sbin/nologin --comment "RX5K printer application" "$name"
fi
# USB printers belong to the group lp.
if [ -n "$(id_in group lp)" ]; then
  usermod $(prefix) --append --groups lp "$name"
fi
uid=$(id_in passwd "$name")
gid=$(id_in group "$name")

# The state folder holds the local socket, which every local user may reach to print (the server
# tells administrators by their credentials); each job's previews are private to the account
# (the emulated printer makes them so); job files are the server's alone. Files left by a server that ran as root become the account's.
install -d -m 0755 -o "$uid" -g "$gid" "$root$state" "$root$state/previews"
install -d -m 0700 -o "$uid" -g "$gid" "$root$spool"
chown -R -P "$uid:$gid" "$root$state" "$root$spool"
