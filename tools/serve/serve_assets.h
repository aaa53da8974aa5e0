// The panel's page files, compiled into the binary from web/ (see web/embed.cmake), so that
// the server reads nothing from disk and fetches nothing from elsewhere.
#pragma once

#include <cstddef>
#include <string_view>

namespace vm316::serve {

struct WebAsset {
  std::string_view path;  // "/index.html", "/app.js", ...
  std::string_view content_type;
  std::string_view content;
};

extern const WebAsset kWebAssets[];
extern const std::size_t kWebAssetCount;

}  // namespace vm316::serve
