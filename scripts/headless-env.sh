# Sourced by the scripts that run the tests: a headless Qt whose settings, data, cache and
# runtime folders live under the given scratch folder, away from the user's own.
pelloran_headless_env() {
  local scratch=$1
  mkdir -m 0700 "$scratch/runtime" "$scratch/config" "$scratch/data" "$scratch/cache"
  export QT_QPA_PLATFORM=offscreen
  export XDG_RUNTIME_DIR="$scratch/runtime"
  export XDG_CONFIG_HOME="$scratch/config"
  export XDG_DATA_HOME="$scratch/data"
  export XDG_CACHE_HOME="$scratch/cache"
}
