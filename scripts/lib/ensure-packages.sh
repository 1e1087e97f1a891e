# SPDX-License-Identifier: MIT
# Installs the Debian packages given as arguments that are not installed yet (nothing when all are).
# Sourced by the scripts in scripts/.
ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  if [ "${#missing[@]}" -eq 0 ]; then
    return 0
  fi
  echo "Installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  # Through env: sudo would drop a variable set before it. Noninteractive: tshark asks a question.
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# What building the library, its tools and its tests needs.
BUILD_PACKAGES=(cmake make g++ qtbase5-dev)
# What the tests need beyond the build (the multi-host tests make their own network namespaces and lose
# datagrams on their links with nftables; libfaketime drifts whole player processes in player_timewarp;
# abidiff compares the library's ABI with its baseline in the ctest abi; a private PulseAudio server with a
# null sink hears the player's sound in the player_sound tests, and pulseaudio-utils records it to measure).
TEST_PACKAGES=(iproute2 nftables libfaketime abigail-tools pulseaudio pulseaudio-utils)
# What the benchmarks need beyond the build (their quick form runs among the tests): the lossy scenario
# makes namespaces and loses datagrams as the multi-host tests do; the longrun scenario drifts whole slave
# processes with libfaketime and plots with gnuplot.
BENCH_PACKAGES=(pkg-config libbenchmark-dev libgstreamer1.0-dev iproute2 nftables libfaketime gnuplot-nox curl)
# What the sound scenario (playback-sound) needs beyond them: its private sound servers (PulseAudio, or
# PipeWire with its session manager on a session bus of its own) and the recorders (parec, pw-record).
# PipeWire's own PulseAudio server and ALSA plugin (pipewire-pulse, pipewire-alsa) conflict with
# pulseaudio; the scenario runs PipeWire's PulseAudio server from the pipewire package's modules instead,
# and takes the ALSA plugin from pipewire-alsa unpacked, not installed (unpack_pipewire_alsa).
SOUND_BENCH_PACKAGES=(pulseaudio pulseaudio-utils pipewire pipewire-bin wireplumber dbus)

# PipeWire's ALSA plugin for the sound scenario's PipeWire per player (--sound-server pipewire-alsa):
# Debian's pipewire-alsa unpacked into build/pipewire-alsa, where tamo_bench looks for it, unless it is
# installed. Says so and goes on when the package cannot be fetched: the scenario then says what is missing.
unpack_pipewire_alsa() {
  local dir=build/pipewire-alsa
  if compgen -G "/usr/lib/*/alsa-lib/libasound_module_pcm_pipewire.so" >/dev/null ||
     compgen -G "$dir/usr/lib/*/alsa-lib/libasound_module_pcm_pipewire.so" >/dev/null; then
    return 0
  fi
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  local download
  download=$(mktemp -d)
  if ! (cd "$download" && { apt-get download -qq pipewire-alsa 2>/dev/null ||
                            { "${sudo[@]}" apt-get update -qq && apt-get download -qq pipewire-alsa; }; }); then
    echo "PipeWire's ALSA plugin: pipewire-alsa could not be fetched; the sound scenario's pipewire-alsa rig will say so"
    rm -rf "$download"
    return 0
  fi
  mkdir -p "$dir"
  dpkg-deb -x "$download"/pipewire-alsa_*.deb "$dir"
  rm -rf "$download"
  echo "PipeWire's ALSA plugin: pipewire-alsa unpacked into $dir"
}
# What the sanitizer builds (g++'s runtimes) and the fuzz build (clang with libFuzzer) need beyond the build.
SANITIZER_PACKAGES=(libasan8 liblsan0 libubsan1 libtsan2 clang-14 libclang-rt-14-dev)
# What the API reference (doxygen, with graphviz for its diagrams) and the wire dissector's test need.
DOCS_PACKAGES=(doxygen graphviz tshark)
# What building the Debian packages needs beyond the build (dpkg-shlibdeps reads the binaries' ELF data).
PACKAGE_PACKAGES=(dpkg-dev fakeroot file)
# What the reference player (multinet-player) and the real-media demo need beyond the build: GStreamer's
# development files, the base and good plugins, and the X11 and Pango plugins (windows, text on frames);
# gst-launch-1.0 and a virtual display for trying the player by hand and on a headless machine; the HTTP
# library of the operator page (--operator), which is left out of a build without it; X11's RandR and
# Xinerama, for full screen on a chosen output; ALSA's sink, for the sound of a PC without a sound server
# (PulseAudio's is in the good plugins). The
# sanitizer builds' tests load only the plugins named in TAMO_SANITIZER_GST_PLUGINS in
# cmake/TamoSanitizerGStreamer.cmake: a plugin the player comes to use goes there too.
PLAYER_PACKAGES=(pkg-config libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-x
                 gstreamer1.0-tools xvfb libcpp-httplib-dev libx11-dev libxrandr-dev libxinerama-dev gstreamer1.0-alsa)
# The codecs people have: H.264 and H.265 decoders (libav), and the encoders the codec tests make their
# clips with (x264enc in ugly, x265enc in bad, whose kmssink also shows full screen without a display server).
# Not in the sanitizer builds' plugin set: libav's plugin alone takes a process past GLib's first block of
# quarks, which LeakSanitizer then reports (cmake/TamoSanitizerGStreamer.cmake); there the codec tests skip.
CODEC_PACKAGES=(gstreamer1.0-libav gstreamer1.0-plugins-ugly gstreamer1.0-plugins-bad)
# What checks the player's systemd unit (systemd-analyze verify), without systemd running.
UNIT_PACKAGES=(systemd)
# What the operator page's test in a real browser needs: Debian's Chromium, its driver and Selenium (for
# Debian's /usr/bin/python3).
BROWSER_PACKAGES=(chromium chromium-driver python3-selenium)
# What scripts/player-picture and the window tests need beyond the player: a virtual display, a tool to
# place windows, and ImageMagick to capture and crop the screen.
PICTURE_PACKAGES=(xvfb x11-utils xdotool imagemagick)
# What the workflow check needs where no npm is on PATH: Debian's Node.js (18) runs the pinned
# action-validator. Only then, so that a Node.js from elsewhere (NodeSource, CI's setup-node) stays as it is.
WORKFLOW_PACKAGES=(nodejs npm)
