#include "tools/destinations.h"

#include <filesystem>
#include <system_error>

#include "platform/share_open.h"

namespace mirdcng::tool {

std::string NotAFile(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  switch (fs::status(path, error).type()) {
    case fs::file_type::regular:
    case fs::file_type::not_found:
    case fs::file_type::none:
      return "";
    case fs::file_type::directory:
      return "a folder";
    case fs::file_type::fifo:
      return "a FIFO";
    case fs::file_type::block:
    case fs::file_type::character:
      return "a device";
    case fs::file_type::socket:
      return "a socket";
    default:
      return error ? "" : "not a regular file";
  }
}

bool ReplacesAnother(const std::string& source, const std::string& destination) {
  const auto existing = platform::IdentityOf(destination.c_str());
  if (!existing) {
    return false;
  }
  const auto read = platform::IdentityOf(source.c_str());
  return read && *read != *existing;
}

}  // namespace mirdcng::tool
