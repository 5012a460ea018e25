#!/usr/bin/env bash
# Installs every Debian package that building, running and testing Quorvel need.
# Idempotent: packages already present are left alone, and the package lists
# are refreshed only when something is missing.
set -euo pipefail

packages=(
  # build
  g++ clang cmake pkg-config make clang-format
  libgtkmm-3.0-dev libwebkit2gtk-4.1-dev libsoup-3.0-dev
  libdbusmenu-glib-dev nlohmann-json3-dev libicu-dev
  googletest libgmock-dev libclang-rt-14-dev
  # run (bubblewrap and xdg-dbus-proxy: the web engine's sandbox)
  nodejs dbus dbus-x11 bubblewrap xdg-dbus-proxy
  # end-to-end runs under a virtual display
  xvfb xauth openbox dunst libnotify-bin xdotool wmctrl x11-utils xclip imagemagick
  # loopback in each run's network namespace; gdbus and python3 for the helpers;
  # pgrep and pkill; the leak check of the cloud build's end-to-end run
  iproute2 python3 libglib2.0-bin procps valgrind
  fonts-noto-cjk
  # end-to-end runs under GNOME Shell on Wayland, and their D-Bus helpers
  gnome-shell gjs python3-gi
  # the status item on GNOME Shell's top bar, as Ubuntu ships it
  gnome-shell-extension-appindicator
  # the status item on Xfce's panel (X11)
  xfce4-panel xfconf
  # the status item on KDE Plasma's panel (Wayland), and the input helper
  # that drives it through KWin
  kwin-wayland plasma-workspace plasma-desktop qtwayland5
  plasma-wayland-protocols libwayland-dev
  # the status item on UKUI's panel (X11): the panel and its watcher, the
  # style schema and themes it needs to run, and its window manager
  ukui-panel qt5-ukui-platformtheme ukui-themes ukwm
  # browser test of the local service
  chromium
  # packaging checks
  desktop-file-utils appstream
  # the Debian package: its checks, and a fresh Debian 12 system to install it in
  lintian mmdebstrap
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    # A package may be satisfied by another one that provides it (nodejs from
    # a vendor repository, for instance): accept any installed provider.
    case "$p" in
      nodejs) command -v node >/dev/null 2>&1 && continue ;;
    esac
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi
echo "setup: installing ${missing[*]}" >&2
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
