// The .ebs naming rule, applied by the file exports to both of their paths.
//
// The suffix of a path is what follows its last "." (searched over the whole
// path, directories included, byte by byte); a path without "." is its own
// suffix. A path whose suffix is exactly "EBS" is left as it is; every other
// path gets ".ebs" appended. The test is case-sensitive while the extension
// added is lower case, so "model.ebs" becomes "model.ebs.ebs": stored files
// and callers rely on exactly this.
//
// Header-only so that the mirdcng command can tell its user which paths were
// used without the library exporting more than its three functions.
#ifndef MIRDCNG_FILEOPS_NAMING_RULE_H_
#define MIRDCNG_FILEOPS_NAMING_RULE_H_

#include <string>
#include <string_view>

namespace mirdcng {

inline std::string ApplyNamingRule(std::string path) {
  const std::size_t dot = path.rfind('.');
  const std::string_view suffix = dot == std::string::npos
                                      ? std::string_view(path)
                                      : std::string_view(path).substr(dot + 1);
  if (suffix != "EBS") {
    path += ".ebs";
  }
  return path;
}

}  // namespace mirdcng

#endif  // MIRDCNG_FILEOPS_NAMING_RULE_H_
