// The viewer's page, style and script, embedded at build time from the files
// viewer.html, viewer.css and viewer.js beside this header.
#pragma once

#include <string_view>

namespace prendax {

std::string_view viewer_html();
std::string_view viewer_css();
std::string_view viewer_js();

}  // namespace prendax
