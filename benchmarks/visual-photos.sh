# Sourced by the visual benchmarks: real photographs that Debian ships as wallpapers, one file per
# scene (the packages carry several resolutions of some), the artwork of the same packages left
# out, and the packages and tools to install for them.

photo_packages=(mate-backgrounds lomiri-wallpapers-16.04 plasma-workspace-wallpapers)
photos=(
  /usr/share/backgrounds/mate/nature/{Aqua,Blinds,Dune,FreshFlower,Garden,GreenMeadow,LadyBird,RainDrops,Storm,TwoWings,Wood,YellowFlower}.jpg
  /usr/share/backgrounds/{Bridge_by_Sander_Klootwijk,Dragonfly_by_Bolly,Picture_0B_by_freespace,Picture_1A_by_freespace}.jpg
  /usr/share/backgrounds/{Wine_by_Jakkub_Mede,aitzgorri_by_Aitzol_Berasategi,analogpattern_by_Peter_Nerlich}.jpg
  /usr/share/backgrounds/{free_by_Peter_Nerlich,friends_by_Aitzol_Berasategi,greentock_by_Peter_Nerlich}.jpg
  /usr/share/backgrounds/{life_by_Aitzol_Berasategi,picosdeeuropa_by_Aitzol_Berasategi}.jpg
  /usr/share/backgrounds/{seeding_by_Clements_Engelhardt,sunset_by_Aitzol_Berasategi}.jpg
  /usr/share/wallpapers/{BytheWater,ColdRipple,ColorfulCups,DarkestHour,EveningGlow,FallenLeaf}/contents/images/2560x1600.jpg
  /usr/share/wallpapers/{Grey,Kite,OneStandsOut,Path,summer_1am}/contents/images/2560x1600.jpg
)

# install_packages PACKAGE...: installs those that are missing (as root, else through sudo).
install_packages() {
  local missing=() package status
  for package in "$@"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  echo "Installing: ${missing[*]}" >&2
  local sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  # A fresh machine has no package lists yet.
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null ||
    { "${sudo[@]}" apt-get update >/dev/null &&
      DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}" >/dev/null; }
}

# copy_photos FOLDER: copies the photographs there under names that tell them apart; fails when
# fewer than 30 are present.
copy_photos() {
  local folder=$1 source name present=0
  mkdir -p "$folder"
  for source in "${photos[@]}"; do
    [[ -f "$source" ]] || { echo "missing photograph: $source" >&2; continue; }
    name=${source#/usr/share/}
    name=${name//\/contents\/images\/2560x1600/}
    cp "$source" "$folder/${name//\//-}"
    present=$((present + 1))
  done
  [[ $present -ge 30 ]] || { echo "only $present photographs found, 30 needed" >&2; return 1; }
  echo "Photographs: $present" >&2
}
