#include "pipeline/downloader.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <span>
#include <thread>
#include <utility>

#include "pipeline/file_faults.h"
#include "pipeline/http_client.h"
#include "pipeline/http_headers.h"
#include "pipeline/installer_file.h"
#include "platform/files.h"

namespace ombrel {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr int kAttempts = 5;
constexpr std::size_t kBufferSize = 65536;
constexpr milliseconds kProgressInterval{50};
// A sidecar holds two header values; anything this large is not one of ours.
constexpr std::size_t kMaxSidecarBytes = std::size_t{64} * 1024;

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

// A write that failed for want of space is told as such: no further attempt can succeed.
Unexpected<PipelineError> write_failure(FailureReason reason, std::uint32_t code) {
  return step_failure(is_disk_full(code) ? FailureReason::kDiskFull : reason, code);
}

// One call of download_installer: the paths, what is known about the partial file, and the
// attempts that move it forward.
class Download {
 public:
  Download(const std::string& url, std::string installer_path, StageReporter& reporter, const DownloadOptions& options)
      : url_(url),
        installer_path_(std::move(installer_path)),
        sidecar_path_(sidecar_path(installer_path_)),
        reporter_(reporter),
        options_(options) {}

  const std::string& installer_path() const { return installer_path_; }

  // Picks up a partial file of an earlier run, or removes one whose validators are lost:
  // without them a resume could splice two different versions of the installer.
  void load() {
    const std::optional<std::uint64_t> size = platform::file_size(installer_path_);
    if (!size || *size == 0) {
      return;
    }
    const platform::FileResult<std::string> text =
        held_data_retry(sidecar_path_, [this] { return platform::read_whole_file(sidecar_path_, kMaxSidecarBytes); });
    std::optional<Validators> validators = text ? parse_sidecar(*text) : std::nullopt;
    if (!validators) {
      remove(installer_path_);
      return;
    }
    state_ = ResumeState{*size, std::move(*validators)};
  }

  // Removes the sidecar of a finished download; whatever stays is rewritten by the next one.
  void remove_sidecar() { remove(sidecar_path_); }

  // One request, told in `record`; Done when the whole installer is on disk.
  StepResult<Done> attempt(AttemptRecord& record) {
    auto response = http_get(next_request(record));
    if (!response) {
      return unexpected(std::move(response).error());
    }
    record.http_status = response->status();
    const std::uint64_t length = parse_content_length(response->header("Content-Length"));
    if (StepResult<Done> accepted = accept_answer(*response, length, record); !accepted) {
      return unexpected(std::move(accepted).error());
    }
    const bool partial = response->status() == 206;
    StepResult<platform::WritableFile> file = open_file(partial);
    if (!file) {
      return unexpected(std::move(file).error());
    }
    if (StepResult<Done> recorded = record_validators(*response, partial); !recorded) {
      return unexpected(std::move(recorded).error());
    }

    const std::uint64_t total = partial ? saturating_add(state_.offset, length) : length;
    // A range must be received to its end even when no length was announced: a chunked body
    // that ends early would otherwise pass as the whole installer.
    const std::uint64_t expected_end = partial ? *full_size_ : length;
    const std::uint64_t limit = expected_end != 0 ? expected_end : options_.body_ceiling;
    return receive_body(*response, *file, Bounds{expected_end, limit, total}, record);
  }

 private:
  // The next attempt's request: a range from the end of the partial file when its validators
  // allow one.
  HttpRequest next_request(AttemptRecord& record) const {
    HttpRequest request{url_, {}, options_.read_timeout};
    if (state_.offset > 0) {
      if (const std::optional<std::string> validator = if_range_value(state_.validators)) {
        request.headers.emplace_back("Range", "bytes=" + std::to_string(state_.offset) + "-");
        request.headers.emplace_back("If-Range", *validator);
        record.range_start = state_.offset;
      }
    }
    return request;
  }

  // Done when the answer carries the installer (whole or a range that continues the file);
  // learns where the server's file ends, and drops the partial file an answer shows is wrong.
  StepResult<Done> accept_answer(const HttpResponse& response, std::uint64_t length, const AttemptRecord& record) {
    const int status = response.status();
    const auto code = static_cast<std::uint32_t>(status);
    if (status == 416) {
      // The server has less than we hold: what we hold is not a prefix of its file.
      discard();
      return step_failure(FailureReason::kRangeRejected, code);
    }
    if (status >= 400) {
      // A host (or a proxy) that refuses every range with a 4xx would fail every attempt of
      // every run; a 5xx is transient and must not cost the user their progress.
      const bool ranged = record.range_start > 0;
      if (ranged && status < 500) discard();
      return step_failure(FailureReason::kHttpStatus, code);
    }
    if (status != 200 && status != 206) {
      // Only these two carry the installer (a 204 or 304 has no body, a 203 or an unfollowed
      // 3xx some other text); what is held stays for the next attempt.
      return step_failure(FailureReason::kUnexpectedStatus, code);
    }
    if (status == 206) {
      const std::optional<std::uint64_t> end = appendable_range_end(response);
      if (!end) {
        // Appending bytes from another position or version would corrupt the installer silently.
        discard();
        return step_failure(FailureReason::kRangeMismatch, code);
      }
      full_size_ = end;
    } else {
      state_.offset = 0;
      full_size_ = length != 0 ? std::optional(length) : std::nullopt;
    }
    if (full_size_ && *full_size_ > options_.body_ceiling) {
      // Refused before a byte is written: a host announcing a terabyte would fill the disk.
      return step_failure(FailureReason::kBodyTooLong, code);
    }
    return Done{};
  }

  // The file is opened (and for a whole answer emptied) before the sidecar takes the new
  // validators: the other order, interrupted in between, would leave the old version's bytes
  // under the new version's validators, and the next run would append to them.
  StepResult<platform::WritableFile> open_file(bool partial) const {
    using Mode = platform::WritableFile::Mode;
    platform::FileResult<platform::WritableFile> file = held_data_retry(installer_path_, [&] {
      return platform::WritableFile::open(installer_path_, partial ? Mode::kKeepContent : Mode::kTruncate);
    });
    if (!file) return write_failure(FailureReason::kFileOpen, file.error());
    if (partial) {
      if (const platform::FileResult<Done> moved = file->seek(state_.offset); !moved) {
        return step_failure(FailureReason::kFileSeek, moved.error());
      }
    }
    return std::move(*file);
  }

  // Written before the body, so an interruption leaves the validators of the bytes on disk.
  // Stale validators left in place would later confirm a resume of another version onto
  // these bytes: then no body byte is written (a whole answer's file is empty by now).
  StepResult<Done> record_validators(const HttpResponse& response, bool partial) {
    state_.validators =
        next_validators(state_.validators, partial, response.header("ETag"), response.header("Last-Modified"));
    const platform::FileResult<Done> recorded = held_data_retry(sidecar_path_, [this] {
      return !state_.validators.empty()
                 ? platform::write_whole_file(sidecar_path_, format_sidecar(state_.validators))
                 // Nothing could confirm these bytes later: an interrupted body starts again from 0.
                 : platform::delete_file_if_present(sidecar_path_);
    });
    if (!recorded) return write_failure(FailureReason::kSidecarWrite, recorded.error());
    return Done{};
  }

  // Where the server's file ends, when a 206 may be appended: its range continues our file and
  // runs to the end of the server's file, that end is where this call last learnt the file ends,
  // and the answer names the version we asked for. Nothing otherwise.
  std::optional<std::uint64_t> appendable_range_end(const HttpResponse& response) const {
    const std::optional<std::string> header = response.header("Content-Range");
    const std::optional<ContentRange> range = header ? parse_content_range(*header) : std::nullopt;
    if (!range || range->first != state_.offset || range->last == std::numeric_limits<std::uint64_t>::max()) {
      return std::nullopt;
    }
    const std::uint64_t end = range->last + 1;
    if ((range->complete && end != *range->complete) || (full_size_ && end != *full_size_) ||
        contradicts_if_range(state_.validators, response.header("ETag"), response.header("Last-Modified"))) {
      return std::nullopt;
    }
    return end;
  }

  // Where the body of one answer may take the file.
  struct Bounds {
    std::uint64_t expected_end;  // where the file must end; 0 when unknown
    std::uint64_t limit;         // no byte is written at or beyond this offset
    std::uint64_t total;         // what progress is measured against; 0: nothing until the end
  };

  // Streams the body into the installer file, failing before a read that would pass the limit
  // is written.
  StepResult<Done> receive_body(HttpResponse& response, platform::WritableFile& file, const Bounds& bounds,
                                AttemptRecord& record) {
    const std::uint64_t total = bounds.total;
    const auto buffer = std::make_unique<char[]>(kBufferSize);
    const std::span<char> chunk(buffer.get(), kBufferSize);
    const auto now = [this] { return options_.clock ? options_.clock() : Clock::now(); };
    Clock::time_point last_report = now();
    // A 206 without a length has its total from the start: that is reported once, not on
    // every read.
    bool total_reported = false;
    for (;;) {
      auto got = response.read(chunk);
      if (!got) {
        return unexpected(std::move(got).error());
      }
      if (*got == 0) {
        break;
      }
      if (*got > bounds.limit - state_.offset) {
        return step_failure(FailureReason::kBodyTooLong, static_cast<std::uint32_t>(record.http_status));
      }
      if (const platform::FileResult<Done> written = file.write_all(chunk.first(*got)); !written) {
        // The bytes written before the failure continue the file correctly: they stay for a resume.
        return write_failure(FailureReason::kFileWrite, written.error());
      }
      state_.offset += *got;
      record.bytes_received += *got;
      if (total != 0) {
        const Clock::time_point time = now();
        const bool reached = state_.offset >= total;
        if (time - last_report >= kProgressInterval || (reached && !total_reported)) {
          last_report = time;
          total_reported = reached;
          reporter_.set_progress(std::min(static_cast<double>(state_.offset) / static_cast<double>(total), 1.0));
        }
      }
    }

    if (state_.offset < bounds.expected_end) {
      // The client already fails a short body; this keeps a miscounted one from passing as whole.
      const std::uint64_t missing = bounds.expected_end - state_.offset;
      return step_failure(FailureReason::kBodyTooShort,
                          static_cast<std::uint32_t>(std::min<std::uint64_t>(missing, UINT32_MAX)));
    }
    if (const platform::FileResult<Done> closed = file.close(); !closed) {
      // The system may have dropped written bytes: the file can no longer be trusted as a prefix.
      discard();
      return write_failure(FailureReason::kFileClose, closed.error());
    }
    reporter_.set_progress(1.0);
    return Done{};
  }

  // Forgets the partial download so the next attempt starts from byte 0.
  void discard() {
    remove(installer_path_);
    remove(sidecar_path_);
    state_ = ResumeState{};
    full_size_.reset();
  }

  // A scanner may hold the partial file or the sidecar for a moment after we wrote it.
  template <class Operation>
  auto held_data_retry(const std::string& path, Operation operation) const -> decltype(operation()) {
    return retry_while_held<typename decltype(operation())::value_type>(path, FileRole::kDownloadData,
                                                                        options_.hold_wait, operation);
  }

  // A file that cannot be removed is overwritten or refused later: its failure fails nothing here.
  void remove(const std::string& path) const {
    (void)held_data_retry(path, [&] { return platform::delete_file_if_present(path); });
  }

  const std::string& url_;
  const std::string installer_path_;
  const std::string sidecar_path_;
  StageReporter& reporter_;
  const DownloadOptions& options_;
  ResumeState state_;
  // The server's file size as this call learnt it from a whole answer's length or a range's end.
  std::optional<std::uint64_t> full_size_;
};

}  // namespace

StepResult<std::string> download_installer(const std::string& url, StageReporter& reporter, RunRecord& record,
                                           const DownloadOptions& options) {
  std::string folder = options.folder;
  if (folder.empty()) {
    platform::FileResult<std::string> temp = platform::temp_folder();
    if (!temp) return step_failure(FailureReason::kTempFolder, temp.error());
    // Cleaning tools delete the folder the system still names; only the folder itself is made.
    if (const platform::FileResult<Done> made = platform::create_folder(*temp); !made) {
      return step_failure(FailureReason::kTempFolder, made.error());
    }
    folder = std::move(*temp);
  }

  Download download(url, platform::join_path(folder, installer_file_name(url)), reporter, options);
  download.load();
  for (int attempt = 1;; ++attempt) {
    if (attempt > 1) {
      const milliseconds pause = options.first_pause * (1 << (attempt - 2));
      if (options.pause) {
        options.pause(pause);
      } else {
        std::this_thread::sleep_for(pause);
      }
    }
    AttemptRecord& told = record.attempts.emplace_back();
    const Clock::time_point started = Clock::now();
    StepResult<Done> outcome = download.attempt(told);
    told.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    if (outcome) {
      download.remove_sidecar();
      return download.installer_path();
    }
    told.failure = outcome.error();
    // The last attempt's reason is the step's: the earlier ones are in the record. A full disk
    // stays full for every further attempt; what is written stays for a run with space again.
    if (attempt == kAttempts || outcome.error().reason == FailureReason::kDiskFull) {
      return unexpected(std::move(outcome).error());
    }
  }
}

}  // namespace ombrel
