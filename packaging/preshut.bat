# Kelvora pre-shutdown commands: /etc/kelvora/preshut.bat
# vornd runs each line through /bin/sh, one after the other, when the shutdown deadline has
# come and before it switches the UPS off and shuts the system down. Blank lines and lines
# starting with "#" are skipped. A command that has not finished after five minutes is killed
# and the shutdown goes on, so a hung command can never keep the machine running until the
# battery is flat.
#
# Examples:
# systemctl stop postgresql
# /usr/local/bin/flush-caches
sync
