#include "fileops/call_frame.h"

#include "fileops/naming_rule.h"
#include "mirdcng/result_codes.h"
#include "platform/share_open.h"

namespace mirdcng {

Outcome CheckSource(const std::string& path) {
  const platform::Opened source = platform::CheckOpensForReading(path.c_str());
  if (!source.not_regular && source.error == 0) {
    return {};
  }
  return {source.not_regular ? Cause::kSourceNotRegular : Cause::kSourceUnopened,
          source.error};
}

namespace {

// RunChecked runs the frame's steps from the source check on: `source`, as
// the naming rule left it, checked; then `operation` on an engine built with
// `tag`. Returns the engine's outcome.
template <typename Operation>
Outcome RunChecked(std::string source, const char* tag, Operation operation) {
  if (const Outcome checked = CheckSource(source); !checked.done()) {
    return checked;
  }
  CNGManager engine(tag != nullptr ? std::string(tag) : std::string());
  static_cast<void>(operation(engine, std::move(source)));
  return engine.outcome();
}

std::string PathUsed(const char* path, Paths paths) {
  return paths == Paths::kNamingRule ? ApplyNamingRule(path) : std::string(path);
}

}  // namespace

Outcome RunFileCall(const char* src, const char* dst, const char* tag,
                    FileOperation operation, Paths paths) {
  if (src == nullptr || dst == nullptr) {
    return {Cause::kNullArgument, 0};
  }
  std::string source = PathUsed(src, paths);
  std::string destination = PathUsed(dst, paths);
  return RunChecked(std::move(source), tag, [&](CNGManager& engine, std::string path) {
    int code = kResultOk;  // the operation's own code; the outcome carries it too
    return (engine.*operation)(std::move(path), std::move(destination), code);
  });
}

Outcome RunToStream(const char* src, const char* tag, std::FILE* out,
                    StreamOperation operation, Paths paths) {
  if (src == nullptr) {
    return {Cause::kNullArgument, 0};
  }
  return RunChecked(PathUsed(src, paths), tag, [&](CNGManager& engine, std::string path) {
    return (engine.*operation)(std::move(path), out);
  });
}

bool RunFileCall(const char* src, const char* dst, const char* tag, int& err,
                 FileOperation operation) {
  // Written before the work: should an exception leave the call, the code
  // already says 0.
  err = ResultCodeOf(src == nullptr || dst == nullptr ? Cause::kNullArgument
                                                      : Cause::kDone);
  const Outcome outcome = RunFileCall(src, dst, tag, operation);
  err = ResultCodeOf(outcome.cause);
  return outcome.done();
}

}  // namespace mirdcng
