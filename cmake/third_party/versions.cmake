# The third-party sources of the Windows build: release archives pinned by their SHA256.
# The same checksum holds for the archive from a local folder and for the one downloaded.
set(KORVANE_FLTK_ARCHIVE fltk-1.3.8-source.tar.gz)
set(KORVANE_FLTK_SHA256 e30db0c7670ca4852d33cb5ee6690f7e975aaab4c1b6a03e2222eec7155efb13)
set(KORVANE_FLTK_UPSTREAM_URL
    https://github.com/fltk/fltk/releases/download/release-1.3.8/fltk-1.3.8-source.tar.gz)

set(KORVANE_CJSON_ARCHIVE cJSON-1.7.19.tar.gz)
set(KORVANE_CJSON_SHA256 dcdb4416514b9de8a48f8d47bf34634470c80145a1774a307a30f20c2af0134e)
set(KORVANE_CJSON_UPSTREAM_URL https://github.com/DaveGamble/cJSON/archive/refs/tags/v1.7.19.tar.gz)
