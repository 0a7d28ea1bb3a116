#pragma once
// The failure of a pipeline step: the final message, already in the user's language.
#include <string>

#include "common/expected.h"

namespace ombrel {

struct PipelineError {
  std::string message;
};

template <class T>
using StepResult = Expected<T, PipelineError>;

inline Unexpected<PipelineError> step_failure(std::string message) {
  return Unexpected<PipelineError>{PipelineError{std::move(message)}};
}

}  // namespace ombrel
