#include "pipeline/downloader.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <span>
#include <thread>
#include <utility>

#include "pipeline/http_client.h"
#include "pipeline/http_headers.h"
#include "pipeline/installer_file.h"
#include "platform/files.h"
#include "translations/translations.h"

namespace ombrel {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr int kAttempts = 5;
constexpr milliseconds kFirstPause{1000};  // doubled before every further attempt
constexpr std::size_t kBufferSize = 65536;
constexpr milliseconds kProgressInterval{50};
// A sidecar holds two header values; anything this large is not one of ours.
constexpr std::size_t kMaxSidecarBytes = std::size_t{64} * 1024;

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

bool is_weak_etag(std::string_view etag) { return etag.starts_with("W/"); }

// One call of download_installer: the paths, what is known about the partial file, and the
// attempts that move it forward.
class Download {
 public:
  Download(const std::string& url, std::string installer_path, StageReporter& reporter,
           const DownloadOptions& options)
      : url_(url),
        installer_path_(std::move(installer_path)),
        sidecar_path_(sidecar_path(installer_path_)),
        reporter_(reporter),
        options_(options) {}

  const std::string& installer_path() const { return installer_path_; }
  const std::string& sidecar() const { return sidecar_path_; }

  // Picks up a partial file of an earlier run, or removes one whose validators are lost:
  // without them a resume could splice two different versions of the installer.
  void load() {
    const std::optional<std::uint64_t> size = platform::file_size(installer_path_);
    if (!size || *size == 0) {
      return;
    }
    const std::optional<std::string> text = platform::read_whole_file(sidecar_path_, kMaxSidecarBytes);
    std::optional<Validators> validators = text ? parse_sidecar(*text) : std::nullopt;
    if (!validators) {
      platform::delete_file(installer_path_);
      return;
    }
    state_ = ResumeState{*size, std::move(*validators)};
  }

  // One request; true when the whole installer is on disk.
  bool attempt() {
    HttpRequest request{url_, {}, options_.read_timeout};
    if (state_.offset > 0) {
      if (const std::optional<std::string> validator = if_range_value()) {
        request.headers.emplace_back("Range", "bytes=" + std::to_string(state_.offset) + "-");
        request.headers.emplace_back("If-Range", *validator);
      }
    }

    std::optional<HttpResponse> response = http_get(request);
    if (!response) {
      return false;
    }
    const int status = response->status();
    if (status == 416) {
      // The server has less than we hold: what we hold is not a prefix of its file.
      discard();
      return false;
    }
    if (status >= 400) {
      return false;
    }
    const bool partial = status == 206;
    if (partial && !range_starts_at_offset(*response)) {
      // Appending bytes from another position would corrupt the installer silently.
      discard();
      return false;
    }
    if (!partial) {
      state_.offset = 0;
    }

    // The file is opened (and for a whole answer emptied) before the sidecar takes the new
    // validators: the other order, interrupted in between, would leave the old version's bytes
    // under the new version's validators, and the next run would append to them.
    using Mode = platform::WritableFile::Mode;
    std::optional<platform::WritableFile> file =
        platform::WritableFile::open(installer_path_, partial ? Mode::keep_content : Mode::truncate);
    if (!file || (partial && !file->seek(state_.offset))) {
      return false;
    }

    take_validators(*response);
    if (!state_.validators.empty()) {
      // Written before the body, so an interruption leaves the validators of the bytes on disk.
      platform::write_whole_file(sidecar_path_, format_sidecar(state_.validators));
    }

    const std::uint64_t length = parse_content_length(response->header("Content-Length"));
    const std::uint64_t total = partial ? saturating_add(state_.offset, length) : length;
    return receive_body(*response, *file, length != 0 ? total : 0, total);
  }

 private:
  // The If-Range validator for a resume, or nothing when the partial file cannot be resumed.
  // A weak ETag never matches a range request (servers answer 200 with the whole file), so
  // the date is used instead; with only a weak ETag the download simply starts again.
  std::optional<std::string> if_range_value() const {
    const Validators& v = state_.validators;
    if (!v.etag.empty() && !is_weak_etag(v.etag)) {
      return v.etag;
    }
    if (!v.last_modified.empty()) {
      return v.last_modified;
    }
    return std::nullopt;
  }

  bool range_starts_at_offset(const HttpResponse& response) const {
    const std::optional<std::string> header = response.header("Content-Range");
    const std::optional<ContentRange> range = header ? parse_content_range(*header) : std::nullopt;
    // The range must continue our file and run to the end of the server's file.
    return range && range->first == state_.offset &&
           (!range->complete || range->last + 1 == *range->complete);
  }

  void take_validators(const HttpResponse& response) {
    const auto take = [&](std::string_view name, std::string& stored) {
      std::optional<std::string> value = response.header(name);
      if (value && !value->empty() && is_header_safe(*value)) {
        stored = std::move(*value);
      }
    };
    take("ETag", state_.validators.etag);
    take("Last-Modified", state_.validators.last_modified);
  }

  // Streams the body into the installer file. `expected_end` is where the file must end when
  // the length was announced (0 otherwise); `total` is what progress is measured against.
  bool receive_body(HttpResponse& response, platform::WritableFile& file, std::uint64_t expected_end,
                    std::uint64_t total) {
    const auto buffer = std::make_unique<char[]>(kBufferSize);
    const std::span<char> chunk(buffer.get(), kBufferSize);
    Clock::time_point last_report = Clock::now();
    for (;;) {
      const std::optional<std::size_t> got = response.read(chunk);
      if (!got) {
        return false;
      }
      if (*got == 0) {
        break;
      }
      if (!file.write_all(chunk.first(*got))) {
        return false;
      }
      state_.offset += *got;
      if (total != 0) {
        const Clock::time_point now = Clock::now();
        if (now - last_report >= kProgressInterval || state_.offset >= total) {
          last_report = now;
          reporter_.set_progress(std::min(static_cast<double>(state_.offset) / static_cast<double>(total), 1.0));
        }
      }
    }

    if (expected_end != 0 && state_.offset != expected_end) {
      // The client already fails a short body; this keeps a miscounted one from passing as whole.
      return false;
    }
    if (!file.close()) {
      // The system may have dropped written bytes: the file can no longer be trusted as a prefix.
      discard();
      return false;
    }
    reporter_.set_progress(1.0);
    return true;
  }

  // Forgets the partial download so the next attempt starts from byte 0.
  void discard() {
    platform::delete_file(installer_path_);
    platform::delete_file(sidecar_path_);
    state_ = ResumeState{};
  }

  const std::string& url_;
  const std::string installer_path_;
  const std::string sidecar_path_;
  StageReporter& reporter_;
  const DownloadOptions& options_;
  ResumeState state_;
};

}  // namespace

StepResult<std::string> download_installer(const std::string& url, StageReporter& reporter,
                                           const DownloadOptions& options) {
  std::string folder = options.folder;
  if (folder.empty()) {
    std::optional<std::string> temp = platform::temp_folder();
    if (!temp) {
      return step_failure(tr(keys::kErrorNetwork));
    }
    folder = std::move(*temp);
  }

  Download download(url, platform::join_path(folder, installer_file_name(url)), reporter, options);
  download.load();
  for (int attempt = 1; attempt <= kAttempts; ++attempt) {
    if (attempt > 1) {
      const milliseconds pause = kFirstPause * (1 << (attempt - 2));
      if (options.pause) {
        options.pause(pause);
      } else {
        std::this_thread::sleep_for(pause);
      }
    }
    if (download.attempt()) {
      platform::delete_file(download.sidecar());
      return download.installer_path();
    }
  }
  return step_failure(tr(keys::kErrorNetwork));
}

}  // namespace ombrel
