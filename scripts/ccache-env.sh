# Sourced by the build scripts: every build of this checkout compiles through ccache, keyed on
# paths relative to the checkout, so that a second build directory with the same flags (the
# install check's, next to build/) is served from the cache instead of compiled again.
export CCACHE_BASEDIR="$PWD"
export CCACHE_NOHASHDIR=true
ccache_args=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
