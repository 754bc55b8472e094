# Sourced by the scripts that run Wine: the prefix's architecture and the Wine loader that runs this
# build's programs. WINEARCH is win32 (the default; the 32-bit build) or win64 (the x64 build, in a
# prefix of its own). In a win64 prefix the 64-bit loader runs the programs natively; Debian's `wine`
# would start the 32-bit loader first (emulated on hosts without 32-bit x86) and hand over from
# there. 32-bit programs still run in a win64 prefix through WoW64, with `wine`. VLAGT_WINE, when
# set, names the loader.
export WINEARCH="${WINEARCH:-win32}"
if [ -z "${VLAGT_WINE:-}" ]; then
    if [ "$WINEARCH" = win64 ]; then
        VLAGT_WINE=$(command -v wine64 2>/dev/null || echo /usr/lib/wine/wine64)
    else
        VLAGT_WINE=wine
    fi
fi
export VLAGT_WINE
