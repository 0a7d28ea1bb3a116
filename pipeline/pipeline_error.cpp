#include "pipeline/pipeline_error.h"

#include "translations/translations.h"

namespace ombrel {

std::string describe_failure(const PipelineError& error) {
  const FailureReasonRow& row = failure_row(error.reason);
  if (!row.message.ends_with("_FMT")) return tr(row.message);
  switch (row.code) {
    case FailureCode::kNone:
      return tr_fmt(row.message, error.detail);
    case FailureCode::kMinutes:
      // Fixed English inside the translated pattern, as every table's pattern expects.
      return tr_fmt(row.message, "timed out after " + std::to_string(error.code) + " minutes");
    default:
      return tr_fmt(row.message, std::to_string(error.code));
  }
}

}  // namespace ombrel
