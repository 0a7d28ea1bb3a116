// Off Windows there is no Authenticode: the check lets a file through only when the build asks
// for none, and refuses every file when it does (configure keeps such builds from being made).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "pipeline/publisher_check.h"
#include "tests/support/test_child.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

TEST(PublisherCheckPosix, OnlyACheckThatIsOffLetsAFileThrough) {
  initialize_translations_for_testing({"en-US"});
  test::TempFolder folder("publisher-check");
  const std::string path = (folder.path() / "OmbrelLoomwork_0123456789abcdef.exe").string();
  std::ofstream(path, std::ios::binary) << "MZ";

  EXPECT_TRUE(built_in_publisher_policy().name.empty());
  RunRecord record;
  EXPECT_TRUE(check_installer_publisher(path, built_in_publisher_policy(), record).has_value());
  EXPECT_FALSE(record.signature) << "a build without a publisher checks nothing";

  const platform::CertificatePin pin{};
  const platform::PublisherPolicy policy{"Ombrel Loomwork", {&pin, 1}};
  EXPECT_EQ(platform::check_publisher_signature(*platform::HeldFile::open(path), policy).outcome,
            platform::SignatureVerdict::Outcome::kNotAvailable);
  const StepResult<platform::HeldFile> checked = check_installer_publisher(path, policy, record);
  ASSERT_FALSE(checked.has_value());
  EXPECT_EQ(checked.error().reason, FailureReason::kSignature);
  EXPECT_EQ(record.signature->outcome, platform::SignatureVerdict::Outcome::kNotAvailable);
  EXPECT_EQ(describe_failure(checked.error()), "The downloaded installer could not be verified. Please try again.");

  // Removed between the download and the check (a scanner's quarantine): a reason of its own
  // for the summary, the check's text for the window, and no wait.
  std::remove(path.c_str());
  const StepResult<platform::HeldFile> gone = check_installer_publisher(path, policy, record);
  ASSERT_FALSE(gone.has_value());
  EXPECT_EQ(gone.error(), (PipelineError{FailureReason::kInstallerRemoved, 2, {}}));
  EXPECT_EQ(describe_failure(gone.error()), "The downloaded installer could not be verified. Please try again.");
}

}  // namespace
}  // namespace ombrel
