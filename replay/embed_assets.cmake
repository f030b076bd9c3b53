# Turns the viewer's files (its script preceded by the shared field.js, panel.js and marks.js) into
# byte arrays in one generated C++ source, after
# checking that each can be inlined into the page: the style and the script
# must not close their own element early, and the page must hold each place
# holder exactly once, in the order the writer fills them. The page's script
# policy allows exactly the viewer's script: its SHA-256 is written into the
# page in place of SCRIPT_HASH_MARKER.
#   cmake -DASSET_DIR=<folder of the viewer files> -DOUTPUT=<file.cpp> -P embed_assets.cmake

set(HTML_MARKERS
  "<link rel=\"stylesheet\" href=\"viewer.css\">"
  "<!-- replay-data -->"
  "<script src=\"viewer.js\"></script>")

set(SCRIPT_HASH_MARKER "@VIEWER_JS_SHA256@")

# The page's one script: the field drawing, the state panel and the event marks
# shared with the playground, then the viewer.
set(SCRIPT_FILE ${OUTPUT}.viewer.js)
file(READ ${ASSET_DIR}/field.js field_js)
file(READ ${ASSET_DIR}/panel.js panel_js)
file(READ ${ASSET_DIR}/marks.js marks_js)
file(READ ${ASSET_DIR}/viewer.js viewer_js)
file(WRITE ${SCRIPT_FILE} "${field_js}${panel_js}${marks_js}${viewer_js}")
function(asset_path name out)
  if(name STREQUAL "viewer.js")
    set(${out} ${SCRIPT_FILE} PARENT_SCOPE)
  else()
    set(${out} ${ASSET_DIR}/${name} PARENT_SCOPE)
  endif()
endfunction()

file(READ ${ASSET_DIR}/viewer.html html)
string(FIND "${html}" "${SCRIPT_HASH_MARKER}" first)
string(FIND "${html}" "${SCRIPT_HASH_MARKER}" again REVERSE)
if(first EQUAL -1 OR NOT first EQUAL again)
  message(FATAL_ERROR "viewer.html must hold ${SCRIPT_HASH_MARKER} exactly once")
endif()
set(last -1)
foreach(marker IN LISTS HTML_MARKERS)
  string(FIND "${html}" "${marker}" first)
  string(FIND "${html}" "${marker}" again REVERSE)
  if(first EQUAL -1 OR NOT first EQUAL again)
    message(FATAL_ERROR "viewer.html must hold ${marker} exactly once")
  endif()
  if(NOT first GREATER last)
    message(FATAL_ERROR "viewer.html holds ${marker} out of order")
  endif()
  set(last ${first})
endforeach()

foreach(pair "viewer.css;</style" "viewer.js;</script")
  list(GET pair 0 name)
  list(GET pair 1 closer)
  asset_path(${name} path)
  file(READ ${path} text)
  string(TOLOWER "${text}" lower)
  string(FIND "${lower}" "${closer}" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "${name} holds ${closer}, which would end its element inside the page")
  endif()
endforeach()

# The base64 text of the script's SHA-256, as a policy's 'sha256-...' source
# takes it: 32 bytes are ten groups of three and a last group of two.
file(SHA256 ${SCRIPT_FILE} script_hash)
set(BASE64_DIGITS "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/")
set(script_hash_base64 "")
foreach(at RANGE 0 60 6)
  string(SUBSTRING "${script_hash}00" ${at} 6 group)
  math(EXPR value "0x${group}")
  foreach(shift 18 12 6 0)
    math(EXPR digit "(${value} >> ${shift}) & 63")
    string(SUBSTRING "${BASE64_DIGITS}" ${digit} 1 char)
    string(APPEND script_hash_base64 "${char}")
  endforeach()
endforeach()
string(SUBSTRING "${script_hash_base64}" 0 43 script_hash_base64)
string(APPEND script_hash_base64 "=")

# Bytes as they are written into the array: "0xNN," each.
function(byte_list text out)
  string(HEX "${text}" hex)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," list "${hex}")
  set(${out} "${list}" PARENT_SCOPE)
endfunction()
byte_list("${SCRIPT_HASH_MARKER}" marker_bytes)
byte_list("${script_hash_base64}" hash_bytes)

# CMake's regular expressions know no {n}: spell out sixteen bytes.
set(SIXTEEN_BYTES "")
foreach(i RANGE 15)
  string(APPEND SIXTEEN_BYTES "0x[0-9a-f][0-9a-f],")
endforeach()

set(body "// Generated from replay/viewer.* by embed_assets.cmake: edit those files instead.\n")
string(APPEND body "#include \"replay/assets.h\"\n\nnamespace prendax {\n\n")
foreach(pair "viewer.html;viewer_html" "viewer.css;viewer_css" "viewer.js;viewer_js")
  list(GET pair 0 name)
  list(GET pair 1 symbol)
  asset_path(${name} path)
  file(READ ${path} hex HEX)
  # Sixteen bytes a line; a terminating zero keeps even an empty file a valid array.
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  if(name STREQUAL "viewer.html")
    string(REPLACE "${marker_bytes}" "${hash_bytes}" bytes "${bytes}")
  endif()
  string(LENGTH "${bytes}" list_length)
  math(EXPR size "${list_length} / 5")
  string(REGEX REPLACE "(${SIXTEEN_BYTES})" "\\1\n    " bytes "${bytes}")
  string(APPEND body "static const unsigned char ${symbol}_bytes[] = {\n    ${bytes}0x00};\n\n")
  string(APPEND body "std::string_view ${symbol}() {\n")
  string(APPEND body "    return std::string_view(reinterpret_cast<const char*>(${symbol}_bytes), ${size});\n}\n\n")
endforeach()
string(APPEND body "}  // namespace prendax\n")

# Rewrite only when the text changed, so an unchanged viewer rebuilds nothing.
set(old "")
if(EXISTS ${OUTPUT})
  file(READ ${OUTPUT} old)
endif()
if(NOT old STREQUAL body)
  file(WRITE ${OUTPUT} "${body}")
endif()
