#include "fileops/call_frame.h"

#include "fileops/naming_rule.h"
#include "mirdcng/result_codes.h"
#include "platform/share_open.h"

namespace mirdcng {

bool SourceOpens(const std::string& path) {
  // Text mode: nothing is read, the open alone is the test.
  return platform::OpenShared(path.c_str(), "r") != nullptr;
}

bool RunFileCall(const char* src, const char* dst, const char* tag, int& err,
                 FileOperation operation) {
  if (src == nullptr || dst == nullptr) {
    err = kResultNullArgument;
    return false;
  }
  err = kResultOk;
  std::string source = ApplyNamingRule(src);
  std::string destination = ApplyNamingRule(dst);
  if (!SourceOpens(source)) {
    err = kResultSourceUnreadable;
    return false;
  }
  CNGManager engine(tag != nullptr ? std::string(tag) : std::string());
  return (engine.*operation)(std::move(source), std::move(destination), err);
}

}  // namespace mirdcng
