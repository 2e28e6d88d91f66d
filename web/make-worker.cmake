# Writes the site's service worker, SITE/sw.js, from TEMPLATE: each file of the site with the
# SHA-256 of its content, and the build's version, the SHA-256 of that list. The version, and so
# the worker, changes whenever any file does, which is how the browser learns of a new build.
#   cmake -DSITE=<folder> -DTEMPLATE=web/sw.js [-DFILES=<names>] [-DLATER=<names>] -P web/make-worker.cmake
# FILES, relative to SITE, are by default every file in SITE but the worker itself. LATER are those
# of them that the page opens only on request (by default the licences): the worker keeps them once
# opened, rather than making every first visit download them.
cmake_minimum_required(VERSION 3.18)
if(NOT DEFINED FILES)
  file(GLOB_RECURSE FILES RELATIVE ${SITE} ${SITE}/*)
  list(REMOVE_ITEM FILES sw.js)
endif()
if(NOT DEFINED LATER)
  set(LATER licenses.txt)
endif()
list(SORT FILES)
set(entries)
set(later)
foreach(name ${FILES})
  file(SHA256 ${SITE}/${name} hash)
  list(APPEND entries "\"${name}\": \"${hash}\"")
  if(name IN_LIST LATER)
    list(APPEND later "\"${name}\"")
  endif()
endforeach()
list(JOIN entries ", " entries)
list(JOIN later ", " later)
string(SHA256 version "${entries}")
string(SUBSTRING ${version} 0 16 version)
set(ORVO_SITE_JSON "{\"version\": \"${version}\", \"files\": {${entries}}, \"later\": [${later}]}")
# The comments are for whoever reads web/sw.js; browsers download the worker without them.
file(READ ${TEMPLATE} worker)
string(REGEX REPLACE "(^|\n)[ ]*//[^\n]*" "" worker "${worker}")
string(CONFIGURE "${worker}" worker @ONLY)
file(CONFIGURE OUTPUT ${SITE}/sw.js CONTENT "${worker}" @ONLY)
