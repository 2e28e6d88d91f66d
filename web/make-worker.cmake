# Writes the site's service worker, SITE/sw.js, from TEMPLATE: each file of the site with the
# SHA-256 of its content, and the build's version, the SHA-256 of that list. The version, and so
# the worker, changes whenever any file does, which is how the browser learns of a new build.
#   cmake -DSITE=<folder> -DTEMPLATE=web/sw.js [-DFILES=<names relative to SITE>] -P web/make-worker.cmake
# Without FILES, every file in SITE but the worker itself.
if(NOT DEFINED FILES)
  file(GLOB_RECURSE FILES RELATIVE ${SITE} ${SITE}/*)
  list(REMOVE_ITEM FILES sw.js)
endif()
list(SORT FILES)
set(entries)
foreach(name ${FILES})
  file(SHA256 ${SITE}/${name} hash)
  list(APPEND entries "\"${name}\": \"${hash}\"")
endforeach()
list(JOIN entries ", " entries)
string(SHA256 version "${entries}")
string(SUBSTRING ${version} 0 16 version)
set(ORVO_SITE_JSON "{\"version\": \"${version}\", \"files\": {${entries}}}")
configure_file(${TEMPLATE} ${SITE}/sw.js @ONLY)
