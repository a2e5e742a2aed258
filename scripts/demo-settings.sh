#!/usr/bin/env bash
# Writes the demo school's settings file (the program's tarvel.ini) unless the file is there:
# the deny group and the base containers of the tree that `tarvel-tree init --demo` makes.
#   scripts/demo-settings.sh build/tarvel.ini
# The program writes the same keys when the settings are saved, with its comment lines.
set -euo pipefail
file="$1"
[ -e "$file" ] && exit 0
printf '%s\r\n' \
  '[TYP]' \
  'Bemerkung=Geschrieben von ./run fuer die Demo-Schule.' \
  'TYP=Tarvel' \
  'Ver=100' \
  '' \
  '[DEFAULT]' \
  'BasisUserContainer=UNTERRICHT' \
  'BasisWorkstationContainer=UNTERRICHT' \
  'GroupInternetUserDeny=.G_User_Internet_Deny.PROJEKTE.UNTERRICHT' \
  'GroupInternetWSDeny=.G_WS_Internet_Deny.PROJEKTE.UNTERRICHT' \
  '' \
  '[SWITCH]' \
  'BasisUserContainerGoUpALevel=0' \
  'BasisGroupContainerGoUpALevel=0' \
  '' \
  '[SHOW]' \
  'ShowFirst=1' \
  'ShowContainer=' \
  'NoShowContainer=' \
  'ShowLeaf=' \
  'NoShowLeaf=' >"$file"
