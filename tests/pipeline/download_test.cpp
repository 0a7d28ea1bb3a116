// The download against the real HTTPS test host, with real files in a fresh folder. Every
// finished installer is compared byte for byte with the served file: a resume that splices the
// wrong bytes would otherwise pass unnoticed until the installer fails on the user's machine.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/mount.h>
#endif

#include "pipeline/downloader.h"
#include "pipeline/installer_file.h"
#include "tests/support/recording_reporter.h"
#include "tests/support/test_child.h"
#include "tests/support/test_host.h"
#include "translations/message_keys.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::string_view kDate = "Tue, 08 Dec 2026 01:27:40 GMT";

std::string random_bytes(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

std::optional<std::string> read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void write_file(const fs::path& path, std::string_view content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
}

// Every progress report of the download, as a window that drew each one would see them.
class ProgressLog {
 public:
  ProgressLog() : reporter_([this](const InstallStage& stage) { collect(stage); }) {}

  StageReporter& reporter() { return reporter_; }
  const std::vector<double>& fractions() const { return fractions_; }
  const std::vector<Clock::time_point>& times() const { return times_; }
  // Runs inside the download at each report, while the body is still being received.
  std::function<void()> on_report;

 private:
  void collect(const InstallStage& stage) {
    if (const auto* downloading = std::get_if<Downloading>(&stage)) {
      fractions_.push_back(downloading->fraction);
      times_.push_back(Clock::now());
      if (on_report) on_report();
    }
  }

  test::RecordingReporter reporter_;
  std::vector<double> fractions_;
  std::vector<Clock::time_point> times_;
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OMBREL_START_TEST_HOST(started, "main");
    host_ = std::move(started);
    options_.folder = test::native_utf8(folder_.path());
    options_.pause = [this](std::chrono::milliseconds pause) {
      pauses_.push_back(pause);
      if (on_pause_) on_pause_();
    };
  }

  // Puts a file of `size` random bytes on the host and gives its content.
  std::string serve(std::string_view name, std::size_t size, unsigned seed = 1) {
    std::string content = random_bytes(size, seed);
    host_->write_file(std::string("/") += name, content);
    return content;
  }
  std::string url(std::string_view name) const { return host_->url(std::string("/") += name); }
  fs::path installer(const std::string& url) const {
    const std::string& folder = options_.folder.empty() ? test::native_utf8(folder_.path()) : options_.folder;
    return fs::path(std::u8string(folder.begin(), folder.end())) / installer_file_name(url);
  }
  fs::path sidecar(const std::string& url) const { return installer(url).replace_extension(".meta"); }

  StepResult<std::string> download(const std::string& url) {
    record_ = RunRecord{};
    return download_installer(url, progress_.reporter(), record_, options_);
  }

  // Each attempt of the last download as "<status> <reason>", "<status> ok" when it finished.
  std::vector<std::string> attempts() const {
    std::vector<std::string> told;
    for (const AttemptRecord& attempt : record_.attempts) {
      told.push_back(std::to_string(attempt.http_status) + " " +
                     (attempt.failure ? std::string(failure_reason_name(attempt.failure->reason)) : "ok"));
    }
    return told;
  }

  // The download succeeded, gave the installer path and left exactly the served bytes there.
  void expect_installed(const StepResult<std::string>& result, const std::string& url, const std::string& served) {
    ASSERT_TRUE(result.has_value()) << describe_failure(result.error());
    EXPECT_EQ(fs::path(*result), installer(url));
    const std::optional<std::string> content = read_file(installer(url));
    ASSERT_TRUE(content.has_value());
    EXPECT_EQ(content->size(), served.size());
    EXPECT_TRUE(*content == served) << "the installer differs from the served file";
    EXPECT_FALSE(fs::exists(sidecar(url))) << "the sidecar outlived a finished download";
    ASSERT_FALSE(progress_.fractions().empty());
    EXPECT_EQ(progress_.fractions().back(), 1.0);
  }

  std::vector<test::LoggedRequest> requests() const { return host_->requests(); }

  std::unique_ptr<test::TestHost> host_;
  test::TempFolder folder_{"ombrel-download"};
  DownloadOptions options_;
  std::vector<std::chrono::milliseconds> pauses_;
  std::function<void()> on_pause_;
  ProgressLog progress_;
  RunRecord record_;
};

TEST_F(DownloadTest, FreshDownloadKeepsValidatorsOnlyWhileTheBodyArrives) {
  const std::string served = serve("fresh.bin", 3'000'000);
  host_->set_rules(R"([{"path": "/fresh.bin", "etag": "\"v1\"", "last_modified": "Tue, 08 Dec 2026 01:27:40 GMT"}])");
  const std::string u = url("fresh.bin");
  std::optional<std::string> sidecar_during_body;
  progress_.on_report = [&] {
    if (!sidecar_during_body) sidecar_during_body = read_file(sidecar(u)).value_or("(missing)");
  };

  const auto result = download(u);

  expect_installed(result, u, served);
  EXPECT_EQ(sidecar_during_body, "\"v1\"\n" + std::string(kDate));
  const auto log = requests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].header("range"), std::nullopt);
  EXPECT_EQ(log[0].header("if-range"), std::nullopt);
  EXPECT_TRUE(pauses_.empty());
  for (std::size_t i = 1; i < progress_.fractions().size(); ++i) {
    EXPECT_LE(progress_.fractions()[i - 1], progress_.fractions()[i]);
  }
}

struct ResumeCase {
  const char* name;
  std::string sidecar;
  bool weak_etag;
  std::string expected_if_range;
  friend void PrintTo(const ResumeCase& c, std::ostream* out) { *out << c.name; }
};

class ResumeTest : public DownloadTest, public ::testing::WithParamInterface<ResumeCase> {};

// A partial file of 1000 bytes of a 1500-byte installer continues with exactly the missing bytes.
TEST_P(ResumeTest, AsksForTheRestWithTheStoredValidator) {
  const ResumeCase& c = GetParam();
  const std::string served = serve("resume.bin", 1500);
  host_->set_rules(
      std::string(
          R"([{"path": "/resume.bin", "etag": "\"v1\"", "last_modified": "Tue, 08 Dec 2026 01:27:40 GMT", "weak_etag": )") +
      (c.weak_etag ? "true" : "false") + "}]");
  const std::string u = url("resume.bin");
  write_file(installer(u), served.substr(0, 1000));
  write_file(sidecar(u), c.sidecar);

  const auto result = download(u);

  expect_installed(result, u, served);
  const auto log = requests();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].header("range"), "bytes=1000-");
  EXPECT_EQ(log[0].header("if-range"), c.expected_if_range);
  EXPECT_EQ(log[0].status, 206);
  // The total is the 1000 bytes held plus the 500 announced, so no report starts below that.
  EXPECT_GE(progress_.fractions().front(), 1000.0 / 1500.0);
}

INSTANTIATE_TEST_SUITE_P(
    Validators, ResumeTest,
    ::testing::Values(ResumeCase{"etag_and_date", "\"v1\"\nTue, 08 Dec 2026 01:27:40 GMT", false, "\"v1\""},
                      ResumeCase{"etag_only", "\"v1\"\n", false, "\"v1\""},
                      ResumeCase{"etag_without_second_line", "\"v1\"", false, "\"v1\""},
                      ResumeCase{"crlf_lines", "\"v1\"\r\nTue, 08 Dec 2026 01:27:40 GMT\r\n", false, "\"v1\""},
                      ResumeCase{"date_only", "\nTue, 08 Dec 2026 01:27:40 GMT", false, std::string(kDate)},
                      // A weak ETag never matches a range request; the date still can.
                      ResumeCase{"weak_etag_uses_date", "W/\"v1\"\nTue, 08 Dec 2026 01:27:40 GMT", true,
                                 std::string(kDate)}),
    [](const auto& info) { return std::string(info.param.name); });

// Without a validator that can confirm the partial file, the download starts again at byte 0.
TEST_F(DownloadTest, PartialFileWithoutUsableValidatorIsDownloadedAgain) {
  const std::string served = serve("novalid.bin", 5000);
  host_->set_rules(R"([{"path": "/novalid.bin", "etag": "\"v1\"", "weak_etag": true}])");
  const std::string u = url("novalid.bin");
  for (const std::string sidecar_text : {"\n", "W/\"v1\"\n"}) {
    SCOPED_TRACE("sidecar: " + sidecar_text);
    write_file(installer(u), random_bytes(1000, 99));  // not a prefix of the served file
    write_file(sidecar(u), sidecar_text);
    host_->clear_requests();

    expect_installed(download(u), u, served);
    const auto log = requests();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].header("range"), std::nullopt);
    EXPECT_EQ(log[0].header("if-range"), std::nullopt);
  }
}

struct UnusableSidecarCase {
  const char* name;
  std::optional<std::string> sidecar;  // nothing: no sidecar file at all
  friend void PrintTo(const UnusableSidecarCase& c, std::ostream* out) { *out << c.name; }
};

class UnusableSidecarTest : public DownloadTest, public ::testing::WithParamInterface<UnusableSidecarCase> {};

// Without trustworthy validators the partial file could belong to another version of the
// installer: it is deleted before the first request.
TEST_P(UnusableSidecarTest, DeletesThePartialFileBeforeTheFirstRequest) {
  const std::string served = serve("orphan.bin", 4000);
  host_->set_rules(R"([{"path": "/orphan.bin", "first": 1, "status": 500}])");
  const std::string u = url("orphan.bin");
  write_file(installer(u), random_bytes(1000, 7));
  if (GetParam().sidecar) write_file(sidecar(u), *GetParam().sidecar);
  bool partial_left_after_first_attempt = true;
  on_pause_ = [&] { partial_left_after_first_attempt = fs::exists(installer(u)); };

  expect_installed(download(u), u, served);
  EXPECT_EQ(attempts(), (std::vector<std::string>{"500 HttpStatus", "200 ok"}));
  EXPECT_FALSE(partial_left_after_first_attempt);
  const auto log = requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0].header("range"), std::nullopt);
  EXPECT_EQ(log[1].header("range"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Cases, UnusableSidecarTest,
                         ::testing::Values(UnusableSidecarCase{"missing", std::nullopt},
                                           UnusableSidecarCase{"invalid_utf8", "\"v\xFF\"\nx"},
                                           UnusableSidecarCase{"control_character", std::string("\"v\"\r\r\nx")},
                                           UnusableSidecarCase{"oversized", std::string(100'000, 'e')}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, BrokenConnectionResumesAtTheByteWhereTheFileEnds) {
  const std::string served = serve("drop.bin", 2'000'000);
  host_->set_rules(R"([{"path": "/drop.bin", "etag": "\"v1\"", "first": 1, "drop_after": 1000000},
                       {"path": "/drop.bin", "etag": "\"v1\""}])");
  const std::string u = url("drop.bin");
  std::optional<std::uintmax_t> size_after_drop;
  bool sidecar_after_drop = false;
  on_pause_ = [&] {
    size_after_drop = fs::file_size(installer(u));
    sidecar_after_drop = fs::exists(sidecar(u));
  };

  expect_installed(download(u), u, served);
  EXPECT_EQ(attempts(), (std::vector<std::string>{"200 BodyRead", "206 ok"}));
  ASSERT_TRUE(size_after_drop.has_value());
  EXPECT_EQ(record_.attempts[0].bytes_received, *size_after_drop);
  EXPECT_EQ(record_.attempts[1].range_start, *size_after_drop);
  EXPECT_GT(*size_after_drop, 0u);
  EXPECT_LE(*size_after_drop, 1'000'000u);
  EXPECT_TRUE(sidecar_after_drop);
  EXPECT_EQ(pauses_, std::vector<std::chrono::milliseconds>{1000ms});
  const auto log = requests();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].header("range"), "bytes=" + std::to_string(*size_after_drop) + "-");
  EXPECT_EQ(log[1].header("if-range"), "\"v1\"");
  EXPECT_EQ(log[1].status, 206);
}

// The partial file and its sidecar at the first pause, after a faulty first answer.
enum class Left {
  kKept,    // as they were: the first 100,000 bytes and the sidecar
  kGone,    // neither: the next attempt asks for the whole file
  kEmpty,   // an emptied file (a whole answer began), nothing of its body written
  kPrefix,  // a prefix of the file, never longer than the file or the ceiling
};

struct AnswerFaultCase {
  const char* name;
  std::string rules;          // rules ahead of serving /fault.bin plainly with ETag "v1"
  std::string first_attempt;  // "<status> <reason>"
  Left left;
  bool held = true;              // the first 100,000 bytes and their sidecar are on disk
  bool sidecar_blocked = false;  // a folder stands where the sidecar goes, until the first pause
  std::uint64_t ceiling = 0;     // the largest installer accepted; 0: the real one
  friend void PrintTo(const AnswerFaultCase& c, std::ostream* out) { *out << c.name; }
};

class AnswerFaultTest : public DownloadTest, public ::testing::WithParamInterface<AnswerFaultCase> {};

// A faulty first answer fails its attempt with its reason, leaves the files as the row says,
// and the next attempts still end with exactly the served file.
TEST_P(AnswerFaultTest, FailsTheAttemptLeavingTheFilesSound) {
  const AnswerFaultCase& c = GetParam();
  const std::string served = serve("fault.bin", 200'000);
  host_->set_rules("[" + (c.rules.empty() ? "" : c.rules + ", ") + R"({"path": "/fault.bin", "etag": "\"v1\""}])");
  const std::string u = url("fault.bin");
  if (c.held) {
    write_file(installer(u), served.substr(0, 100'000));
    write_file(sidecar(u), "\"v1\"\n");
  }
  if (c.sidecar_blocked) fs::create_directory(sidecar(u));
  if (c.ceiling != 0) options_.body_ceiling = c.ceiling;
  std::optional<std::string> file_at_pause;
  std::optional<std::string> sidecar_at_pause;
  on_pause_ = [&] {
    if (pauses_.size() > 1) return;
    file_at_pause = read_file(installer(u));
    if (c.sidecar_blocked) fs::remove(sidecar(u));
    sidecar_at_pause = read_file(sidecar(u));
  };

  expect_installed(download(u), u, served);
  const std::vector<std::string> told = attempts();
  EXPECT_EQ(told.front(), c.first_attempt);
  ASSERT_GE(told.size(), 2u);
  const std::string whole = c.left == Left::kGone || c.left == Left::kEmpty || !c.held ? "200 ok" : "206 ok";
  if (c.left != Left::kPrefix) {
    EXPECT_EQ(told.back(), whole);
  }
  switch (c.left) {
    case Left::kKept:
      EXPECT_EQ(file_at_pause, served.substr(0, 100'000));
      EXPECT_EQ(sidecar_at_pause, "\"v1\"\n");
      break;
    case Left::kGone:
      EXPECT_EQ(file_at_pause, std::nullopt);
      EXPECT_EQ(sidecar_at_pause, std::nullopt);
      break;
    case Left::kEmpty:
      EXPECT_EQ(file_at_pause, "");
      break;
    case Left::kPrefix:
      ASSERT_TRUE(file_at_pause);
      EXPECT_LE(file_at_pause->size(), c.ceiling != 0 ? c.ceiling : served.size());
      EXPECT_TRUE(served.starts_with(*file_at_pause)) << "bytes beyond the announced end were written";
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AnswerFaultTest,
    ::testing::Values(
        // Validators that cannot be recorded (or old ones that cannot be removed) would later
        // confirm a resume onto bytes of another version.
        AnswerFaultCase{"sidecar_not_writable", "", "200 SidecarWrite", Left::kEmpty, false, true},
        AnswerFaultCase{"sidecar_not_deletable", R"({"path": "/fault.bin", "first": 1, "no_validators": true})",
                        "200 SidecarWrite", Left::kEmpty, false, true},
        // Only 200 and 206 carry the installer.
        AnswerFaultCase{"status_203", R"({"first": 1, "status": 203})", "203 UnexpectedStatus", Left::kKept},
        AnswerFaultCase{"status_204", R"({"first": 1, "status": 204})", "204 UnexpectedStatus", Left::kKept},
        AnswerFaultCase{"status_300", R"({"first": 1, "status": 300})", "300 UnexpectedStatus", Left::kKept},
        AnswerFaultCase{"status_304", R"({"first": 1, "status": 304})", "304 UnexpectedStatus", Left::kKept},
        AnswerFaultCase{"status_399", R"({"first": 1, "status": 399})", "399 UnexpectedStatus", Left::kKept},
        // A held file the host cannot continue (an older, longer version), or a 206 that does not
        // continue it (its bytes would land at the wrong place): fetched whole again.
        AnswerFaultCase{"range_not_satisfiable", R"({"first": 1, "status": 416})", "416 RangeRejected", Left::kGone},
        AnswerFaultCase{"range_for_another_offset", R"({"first": 1, "etag": "\"v1\"", "range_shift": 500})",
                        "206 RangeMismatch", Left::kGone},
        // Never a byte beyond the announced end (a 206's range), nor beyond the ceiling without one.
        AnswerFaultCase{"range_past_its_end", R"({"first": 1, "etag": "\"v1\"", "extra_bytes": 30000})",
                        "206 BodyTooLong", Left::kPrefix},
        AnswerFaultCase{"no_length_past_the_ceiling",
                        R"({"first": 1, "etag": "\"v1\"", "chunked": true, "extra_bytes": 100000})", "200 BodyTooLong",
                        Left::kPrefix, false, false, 250'000},
        AnswerFaultCase{"announced_past_the_ceiling", R"({"first": 1, "etag": "\"v1\"", "extra_bytes": 100000})",
                        "200 BodyTooLong", Left::kGone, false, false, 250'000},
        // A host that refuses every range request must not hold the download back forever.
        AnswerFaultCase{"ranges_refused_with_403", R"({"ranged": true, "status": 403})", "403 HttpStatus", Left::kGone},
        AnswerFaultCase{"range_failing_with_503", R"({"ranged": true, "first": 1, "status": 503})", "503 HttpStatus",
                        Left::kKept}),
    [](const auto& info) { return std::string(info.param.name); });

// One answer of a host whose file changes between attempts (a rollout, a rollback, two CDN
// nodes out of step): the version it serves and the members of its rule.
struct Answer {
  char version;  // 'A' or 'B'
  std::string rule;
};

struct VersionChangeCase {
  const char* name;
  std::size_t size_b;                 // A has 120,000 bytes
  std::vector<Answer> answers;        // the first, then one more at each pause between attempts
  std::vector<std::string> attempts;  // "<status> [range ]<reason>" of each attempt, in order
  std::vector<std::string> sidecars;  // the sidecar at each pause, "-" when there was none
  char finished;                      // the version the finished file must equal
  friend void PrintTo(const VersionChangeCase& c, std::ostream* out) { *out << c.name; }
};

class VersionChangeTest : public DownloadTest, public ::testing::WithParamInterface<VersionChangeCase> {};

TEST_P(VersionChangeTest, FinishedFileIsOneWholeVersionNeverAMix) {
  const VersionChangeCase& c = GetParam();
  const std::string a = random_bytes(120'000, 11);
  const std::string b = random_bytes(c.size_b, 12);
  const std::string u = url("v.bin");
  std::size_t next = 0;
  const auto serve_next = [&] {
    ASSERT_LT(next, c.answers.size()) << "more attempts than the case scripts";
    const Answer& answer = c.answers[next++];
    host_->write_file("/v.bin", answer.version == 'A' ? a : b);
    host_->set_rules(R"([{"path": "/v.bin", )" + answer.rule + "}]");
  };
  std::vector<std::string> sidecars;
  on_pause_ = [&] {
    sidecars.push_back(read_file(sidecar(u)).value_or("-"));
    serve_next();
  };
  serve_next();

  expect_installed(download(u), u, c.finished == 'A' ? a : b);
  EXPECT_EQ(sidecars, c.sidecars);
  std::vector<std::string> seen;
  for (const AttemptRecord& attempt : record_.attempts) {
    seen.push_back(std::to_string(attempt.http_status) + (attempt.range_start != 0 ? " range " : " ") +
                   (attempt.failure ? std::string(failure_reason_name(attempt.failure->reason)) : "ok"));
  }
  EXPECT_EQ(seen, c.attempts);
}

// A is interrupted after 40,000 bytes; in the first three cases the host then serves B, which is
// interrupted after 80,000 bytes, and then a node still serving A (which would honour A's
// validators) or B again.
const std::string kStrongA = R"("etag": "\"a\"", "last_modified": "Tue, 08 Dec 2026 01:27:40 GMT")";
INSTANTIATE_TEST_SUITE_P(
    Cases, VersionChangeTest,
    ::testing::Values(
        VersionChangeCase{"b_with_only_a_weak_etag",
                          120'000,
                          {{'A', kStrongA + R"(, "drop_after": 40000)"},
                           {'B', R"("etag": "\"b\"", "weak_etag": true, "last_modified": null, "drop_after": 80000)"},
                           {'A', kStrongA}},
                          {"200 BodyRead", "200 range BodyRead", "200 ok"},
                          {"\"a\"\n" + std::string(kDate), "W/\"b\"\n"},
                          'A'},
        VersionChangeCase{"b_without_validators",
                          120'000,
                          {{'A', kStrongA + R"(, "drop_after": 40000)"},
                           {'B', R"("no_validators": true, "drop_after": 80000)"},
                           {'A', kStrongA}},
                          {"200 BodyRead", "200 range BodyRead", "200 ok"},
                          {"\"a\"\n" + std::string(kDate), "-"},
                          'A'},
        VersionChangeCase{"strong_etags_and_a_drop_in_b",
                          120'000,
                          {{'A', kStrongA + R"(, "drop_after": 40000)"},
                           {'B', R"("etag": "\"b\"", "last_modified": null, "drop_after": 80000)"},
                           {'B', R"("etag": "\"b\"", "last_modified": null)"}},
                          {"200 BodyRead", "200 range BodyRead", "206 range ok"},
                          {"\"a\"\n" + std::string(kDate), "\"b\"\n"},
                          'B'},
        // A node with another size under the same ETag: the range's total gives it away.
        VersionChangeCase{"other_size_under_the_same_etag",
                          150'000,
                          {{'A', R"("etag": "\"v\"", "last_modified": null, "drop_after": 40000)"},
                           {'B', R"("etag": "\"v\"", "last_modified": null)"},
                           {'B', R"("etag": "\"v\"", "last_modified": null)"}},
                          {"200 BodyRead", "206 range RangeMismatch", "200 ok"},
                          {"\"v\"\n", "-"},
                          'B'},
        // A server that honours Range but not If-Range names the new version in its 206.
        VersionChangeCase{"range_answer_for_another_etag",
                          120'000,
                          {{'A', R"("etag": "\"a\"", "last_modified": null, "drop_after": 40000)"},
                           {'B', R"("etag": "\"b\"", "last_modified": null, "ignore_if_range": true)"},
                           {'B', R"("etag": "\"b\"", "last_modified": null)"}},
                          {"200 BodyRead", "206 range RangeMismatch", "200 ok"},
                          {"\"a\"\n", "-"},
                          'B'},
        // A chunked range that ends in good order before the file's end is not the whole file.
        VersionChangeCase{"range_ending_early",
                          120'000,
                          {{'A', R"("etag": "\"a\"", "last_modified": null, "drop_after": 40000)"},
                           {'A', R"("etag": "\"a\"", "last_modified": null, "chunked": true, "end_after": 30000)"},
                           {'A', R"("etag": "\"a\"", "last_modified": null)"}},
                          {"200 BodyRead", "206 range BodyTooShort", "206 range ok"},
                          {"\"a\"\n", "\"a\"\n"},
                          'A'}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, FiveErrorAnswersFailWithTheNetworkMessageAndKeepThePartialFile) {
  serve("down.bin", 5000);
  host_->set_rules(R"([{"path": "/down.bin", "status": 500}])");
  const std::string u = url("down.bin");
  const std::string partial = random_bytes(1000, 3);
  write_file(installer(u), partial);
  write_file(sidecar(u), "\"v1\"\n");

  const auto result = download(u);

  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), (PipelineError{FailureReason::kHttpStatus, 500, ""}));
  EXPECT_EQ(attempts(), std::vector<std::string>(5, "500 HttpStatus"));
  EXPECT_EQ(pauses_, (std::vector<std::chrono::milliseconds>{1000ms, 2000ms, 4000ms, 8000ms}));
  const auto log = requests();
  ASSERT_EQ(log.size(), 5u);
  for (const auto& request : log) {
    EXPECT_EQ(request.header("range"), "bytes=1000-");  // an error answer changes nothing we know
  }
  EXPECT_EQ(read_file(installer(u)), partial);
  EXPECT_TRUE(read_file(sidecar(u)).value_or("").starts_with("\"v1\"\n")) << "the validators stay";
  EXPECT_TRUE(progress_.fractions().empty());
}

// The pauses really hold the thread: the schedule above (1, 2, 4, 8 s) scaled down to 20 ms.
TEST_F(DownloadTest, FailedAttemptsReallyPause) {
  serve("slow-fail.bin", 100);
  host_->set_rules(R"([{"path": "/slow-fail.bin", "status": 503}])");
  options_.pause = nullptr;
  options_.first_pause = 20ms;
  const auto started = Clock::now();

  const auto result = download(url("slow-fail.bin"));

  EXPECT_GE(Clock::now() - started, 300ms);
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().code, 503u);
  EXPECT_EQ(describe_failure(result.error()), tr(keys::kErrorNetwork));
  const auto log = requests();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& r) { return r.path == "/slow-fail.bin"; }), 5);
}

struct UnannouncedLengthCase {
  const char* name;
  const char* rule;
  friend void PrintTo(const UnannouncedLengthCase& c, std::ostream* out) { *out << c.name; }
};

class UnannouncedLengthTest : public DownloadTest, public ::testing::WithParamInterface<UnannouncedLengthCase> {};

TEST_P(UnannouncedLengthTest, ReportsNothingUntilTheEnd) {
#ifdef _WIN32
  // libcurl's Schannel back end under Wine takes the server's close_notify for a receive error.
  if (std::string_view(GetParam().name) == "until_close")
    GTEST_SKIP() << "Wine's Schannel does not report close_notify";
#endif
  const std::string served = serve("nolength.bin", 700'000);
  host_->set_rules(std::string(R"([{"path": "/nolength.bin", "rate": 2000000, )") + GetParam().rule + "}]");
  const std::string u = url("nolength.bin");

  expect_installed(download(u), u, served);
  EXPECT_EQ(progress_.fractions(), std::vector<double>{1.0});
}

INSTANTIATE_TEST_SUITE_P(Bodies, UnannouncedLengthTest,
                         ::testing::Values(UnannouncedLengthCase{"until_close", R"("no_content_length": true)"},
                                           UnannouncedLengthCase{"chunked", R"("chunked": true)"}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ProgressCase {
  const char* name;
  const char* rule;                // members of the host's rule for the file
  std::size_t held;                // bytes already on disk, confirmed by the ETag: the answer is a 206
  std::chrono::milliseconds tick;  // how far the injected clock moves at each reading
  std::vector<double> expected;    // every report, where the frozen clock fixes them
  friend void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }
};

class ProgressTest : public DownloadTest, public ::testing::WithParamInterface<ProgressCase> {};

// Reports are spaced by the clock: at most one per 50 ms, besides the one at which the total is
// first reached and the final 1.0. A 206 without a length has its total (what is held) reached
// from the first read on, which must not turn into one report per read.
TEST_P(ProgressTest, AtMostOneReportPerFiftyMillisecondsBesidesTheTotalAndTheEnd) {
  const ProgressCase& c = GetParam();
  const std::string served = serve("progress.bin", 1'000'000);
  host_->set_rules(std::string(R"([{"path": "/progress.bin", "etag": "\"v1\"", )") + c.rule + "}]");
  const std::string u = url("progress.bin");
  if (c.held > 0) {
    write_file(installer(u), served.substr(0, c.held));
    write_file(sidecar(u), "\"v1\"\n");
  }
  Clock::time_point fake_now{};
  options_.clock = [&] { return fake_now += c.tick; };
  std::vector<Clock::time_point> report_times;
  progress_.on_report = [&] { report_times.push_back(fake_now); };

  expect_installed(download(u), u, served);
  EXPECT_EQ(requests().at(0).status, c.held > 0 ? 206 : 200);
  const std::vector<double>& fractions = progress_.fractions();
  if (!c.expected.empty()) {
    EXPECT_EQ(fractions, c.expected);
    return;
  }
  EXPECT_GE(fractions.size(), 4u) << "the clock moved, so the body should have been reported on the way";
  for (std::size_t i = 1; i + 1 < fractions.size(); ++i) {
    EXPECT_LE(fractions[i - 1], fractions[i]);
    const bool total_first_reached = fractions[i] == 1.0 && fractions[i - 1] < 1.0;
    if (!total_first_reached) {
      EXPECT_GE(report_times[i] - report_times[i - 1], 50ms) << "report " << i;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressTest,
    ::testing::Values(ProgressCase{"whole_frozen_clock", R"("chunked": false)", 0, 0ms, {1.0, 1.0}},
                      ProgressCase{"range_frozen_clock", R"("chunked": false)", 1000, 0ms, {1.0, 1.0}},
                      ProgressCase{"range_without_length_frozen_clock", R"("chunked": true)", 1000, 0ms, {1.0, 1.0}},
                      ProgressCase{"whole_moving_clock", R"("chunked": false)", 0, 20ms, {}},
                      ProgressCase{"range_without_length_moving_clock", R"("chunked": true)", 1000, 20ms, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DownloadTest, StallLongerThanTheReadLimitFailsTheAttemptAndResumes) {
  const std::string served = serve("stall.bin", 400'000);
  host_->set_rules(R"([{"path": "/stall.bin", "first": 1, "stall_after": 100000, "stall_seconds": 20}])");
  options_.read_timeout = 1s;
  const std::string u = url("stall.bin");
  const auto started = Clock::now();

  expect_installed(download(u), u, served);
  EXPECT_EQ(attempts(), (std::vector<std::string>{"200 BodyRead", "206 ok"}));
  EXPECT_EQ(record_.attempts[0].failure->code, 28u);  // CURLE_OPERATION_TIMEDOUT
  EXPECT_LT(Clock::now() - started, 15s);
  EXPECT_EQ(pauses_.size(), 1u);
  // Only this file's requests: under Wine one host serves the whole run, and the previous
  // test's paced request may be logged after this test cleared the log.
  std::vector<test::LoggedRequest> log;
  for (const auto& request : requests()) {
    if (request.path == "/stall.bin") log.push_back(request);
  }
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[1].header("range"), "bytes=100000-");
}

TEST_F(DownloadTest, FolderThatCannotBeWrittenFailsEveryAttempt) {
  serve("nowhere.bin", 1000);
  write_file(folder_.path() / "a-file", "x");
  options_.folder = test::native_utf8(folder_.path() / "a-file" / "sub");  // a folder inside a file

  const auto result = download(url("nowhere.bin"));

  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error().reason, FailureReason::kFileOpen);
  EXPECT_NE(result.error().code, 0u) << "the system's error code";
  // Only this file's requests: under Wine one host serves the whole run (see above).
  const auto log = requests();
  EXPECT_EQ(std::count_if(log.begin(), log.end(), [](const auto& r) { return r.path == "/nowhere.bin"; }), 5);
  EXPECT_EQ(pauses_.size(), 4u);
}

struct TempFolderCase {
  const char* name;
  const char* folder;  // inside the test's folder
  const char* outcome;
};

class TempFolderTest : public DownloadTest, public ::testing::WithParamInterface<TempFolderCase> {};

// Cleaning tools delete the temporary folder that the system still names: it is made again,
// but only it; a missing parent is the system's failure, told with its code.
TEST_P(TempFolderTest, MissingTempFolderIsMadeButNotItsParents) {
  const TempFolderCase& c = GetParam();
  const std::string served = serve("temp.bin", 20'000);
  const fs::path temp = folder_.path() / c.folder;
#ifdef _WIN32
  const test::ScopedEnv tmp("TMP", test::native_utf8(temp));
#else
  const test::ScopedEnv tmp("TMPDIR", test::native_utf8(temp));
#endif
  options_.folder.clear();

  const auto result = download(url("temp.bin"));

  const std::string outcome =
      result ? "installed"
             : std::string(failure_reason_name(result.error().reason)) + " " + std::to_string(result.error().code);
  EXPECT_EQ(outcome, c.outcome);
  if (result) {
    EXPECT_EQ(read_file(*result), served);
  }
}

INSTANTIATE_TEST_SUITE_P(Folders, TempFolderTest,
                         ::testing::Values(TempFolderCase{"missing_folder", "missing", "installed"},
#ifdef _WIN32
                                           TempFolderCase{"missing_parent", "gone/missing", "TempFolder 3"}
#else
                                           TempFolderCase{"missing_parent", "gone/missing", "TempFolder 2"}
#endif
                                           ),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
// A full disk ends the download at once with the disk's text, not the network's: no attempt can
// succeed until space is freed. What was written stays, and a run with space continues it.
TEST_F(DownloadTest, FullDiskStopsAtOnceAndTheNextRunResumes) {
  const fs::path disk = folder_.path() / "small-disk";
  fs::create_directory(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "a tmpfs mount needs root";
  const std::unique_ptr<const fs::path, void (*)(const fs::path*)> unmount(
      &disk, [](const fs::path* at) { ::umount(at->c_str()); });
  options_.folder = disk.string();
  const std::string served = serve("full.bin", 1'000'000);
  host_->set_rules(R"([{"path": "/full.bin", "etag": "\"v1\""}])");
  const std::string u = url("full.bin");

  const auto full = download(u);
  ASSERT_FALSE(full.has_value());
  EXPECT_EQ(attempts(), (std::vector<std::string>{"200 DiskFull"}));
  EXPECT_EQ(full.error().code, 112u);  // ENOSPC, numbered as ERROR_DISK_FULL
  EXPECT_EQ(describe_failure(full.error()), tr(keys::kErrorDiskWrite));
  EXPECT_TRUE(pauses_.empty());
  const std::uintmax_t kept = fs::file_size(installer(u));
  EXPECT_GT(kept, 0u);
  EXPECT_TRUE(read_file(sidecar(u)).value_or("").starts_with("\"v1\"\n")) << "the validators stay";

  ASSERT_EQ(::mount("tmpfs", disk.c_str(), "tmpfs", MS_REMOUNT, "size=4m"), 0);
  expect_installed(download(u), u, served);
  EXPECT_EQ(requests().back().header("range"), "bytes=" + std::to_string(kept) + "-");
}
#endif

}  // namespace
}  // namespace ombrel
