#include "pipeline/tls_refusal.h"

namespace ombrel {

// Plain `new` into the owner rather than make_unique: one instantiation less in the exe.
OptionalTlsRefusal::OptionalTlsRefusal(const OptionalTlsRefusal& other)
    : facts_(other.facts_ ? new TlsRefusal(*other.facts_) : nullptr) {}

OptionalTlsRefusal& OptionalTlsRefusal::operator=(const OptionalTlsRefusal& other) {
  if (this != &other) facts_.reset(other.facts_ ? new TlsRefusal(*other.facts_) : nullptr);
  return *this;
}

TlsRefusal& OptionalTlsRefusal::emplace() {
  facts_.reset(new TlsRefusal());
  return *facts_;
}

bool OptionalTlsRefusal::operator==(const OptionalTlsRefusal& other) const {
  return facts_ && other.facts_ ? *facts_ == *other.facts_ : facts_ == other.facts_;
}

}  // namespace ombrel
