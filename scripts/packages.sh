# Debian packages the tool, its tests and its demo need. Sourced by the
# scripts beside it; installs only what is missing.
kv20_packages=(
  cmake g++ make pkg-config
  qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools qttranslations5-l10n
  libudev-dev
  lrzsz socat
  xvfb xdotool x11-utils libx11-dev imagemagick fonts-wqy-microhei
  clang libclang-rt-14-dev
  g++-mingw-w64-x86-64 wine64 fonts-wine unzip wixl icoutils binutils gawk
  umockdev libumockdev-dev
  ninja-build
  dpkg-dev fakeroot file lintian udev gzip man-db
  chromium
  postgresql libpq-dev
  libqrencode-dev zbar-tools poppler-utils
  cups-daemon cups-client
)

kv20_install_packages() {
  local missing=()
  for p in "${kv20_packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update
    apt-get install -y --no-install-recommends "${missing[@]}"
  fi
}
