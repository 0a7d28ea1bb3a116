#include "platform/publisher_signature.h"

namespace ombrel::platform {

// No Authenticode off Windows: builds for this system are configured with the check off.
SignatureVerdict check_publisher_signature(const HeldFile&, const PublisherPolicy&) { return {}; }

}  // namespace ombrel::platform
