#include "tools/tag_source.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "engine/container_format.h"
#include "platform/share_open.h"
#include "tools/commands.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace mirdcng::tool {
namespace {

// ReadTagFile reads the tag from `path`: at most one byte more than the
// longest tag and its newline, enough to tell that it is too long.
Tag ReadTagFile(const std::string& path) {
  platform::File owned;
  std::FILE* file = stdin;
  errno = 0;
  if (path == "-") {
#if defined(_WIN32)
    _setmode(_fileno(stdin), _O_BINARY);
#endif
  } else {
    owned.reset(std::fopen(path.c_str(), "rb"));
    file = owned.get();
  }
  std::string text(kMaxTagLength + 2, '\0');
  const std::size_t got =
      file != nullptr ? std::fread(text.data(), 1, text.size(), file) : 0;
  if (file == nullptr || std::ferror(file) != 0) {
    const int error = errno;
    Complain("cannot read the tag file " + Quoted(path) +
             (error != 0 ? ": " + SystemReason(error) : ""));
    return {std::nullopt, kExitNoSource};
  }
  text.resize(got);
  if (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  return {std::move(text), kExitOk};
}

}  // namespace

Tag TagOf(const Arguments& arguments) {
  Tag tag;
  if (arguments.tag_given) {
    tag.text = arguments.tag;
  } else if (!arguments.tag_file.empty()) {
    if (arguments.tag_file == "-" && arguments.source == "-") {
      Complain("standard input cannot give both the tag and the data");
      return {std::nullopt, kExitUsage};
    }
    tag = ReadTagFile(arguments.tag_file);
  } else if (const char* variable = std::getenv(kTagVariable);
             variable != nullptr && *variable != '\0') {
    tag.text = variable;
  }
  // Refused before any file is looked at: no tag this long can be sealed,
  // or match one sealed.
  if (tag.text && tag.text->size() > kMaxTagLength) {
    Complain("the tag is longer than 255 bytes");
    return {std::nullopt, kExitFailed};
  }
  return tag;
}

}  // namespace mirdcng::tool
