#include "pipeline/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include "common/ascii_text.h"
#include "common/build_config.h"
#include "pipeline/certificate_text.h"
#include "pipeline/http_headers.h"

namespace ombrel {
namespace {

using Clock = std::chrono::steady_clock;

constexpr long kConnectTimeoutMs = 30'000;
constexpr long kMaxRedirects = 5;
constexpr long kReceiveBufferSize = 65'536;
// Longest single wait for socket activity, so the stall check runs at least this often.
constexpr std::chrono::milliseconds kMaxWaitSlice{500};
// Room for body bytes that arrive beyond the caller's buffer (the rest of a chunk that ran past
// its end, or a chunk that came with the head), allocated once per request; anything more stays
// with libcurl, paused. libcurl hands over at most the receive buffer per call, so one call
// always fits an empty spill.
constexpr std::size_t kSpillCapacity = kReceiveBufferSize;
static_assert(kSpillCapacity >= CURL_MAX_WRITE_SIZE);

void global_init_once() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

// What a connection is for. A refused server certificate is looked at again over handshakes
// that end there (CONNECT_ONLY): no request ever goes to that host.
enum class Connection {
  kRequest,          // a request, the server's certificate checked in full
  kReadCertificate,  // a handshake without checks that keeps the certificate's texts
  kCheckChain,       // a handshake checking chain and dates, not the name
};

}  // namespace

// One transfer: the easy handle inside its own multi handle, driven from the caller's thread
// so the body can be pulled in the caller's buffer without a thread or a copy in between.
class HttpResponse::Impl {
 public:
  ~Impl() {
    if (multi_ && easy_) curl_multi_remove_handle(multi_.get(), easy_.get());
  }

  // The transfer under way, or nothing with libcurl's reason in `failure`. A handshake-only
  // connection is driven to its end first: `failure` is then CURLE_OK when the handshake
  // completed.
  static std::unique_ptr<Impl> start(const HttpRequest& request, CURLcode& failure,
                                     Connection connection = Connection::kRequest);

  // Drives the transfer until the head of the final answer is in. False on a transport failure.
  bool wait_for_head() {
    pump(&Impl::head_received);
    return head_complete_;
  }

  // libcurl's reason for the end of a failed transfer; a stall is its time-out.
  CURLcode failure() const {
    if (stalled_) return stall_reason_;
    // An answer that ended before its head was complete.
    return result_ != CURLE_OK ? result_ : CURLE_GOT_NOTHING;
  }

  int status() const { return status_; }

  // What the back end read from the server's certificates (Connection::kReadCertificate).
  const curl_certinfo* certificates() const {
    curl_certinfo* info = nullptr;
    return curl_easy_getinfo(easy_.get(), CURLINFO_CERTINFO, &info) == CURLE_OK ? info : nullptr;
  }

  // The URL of the last request libcurl began, redirects followed: the one whose host answered.
  const char* effective_url() const {
    char* url = nullptr;
    return curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &url) == CURLE_OK && url != nullptr ? url : "";
  }

  std::optional<std::string> header(std::string_view name) const {
    // The decoded body is longer than the encoded length the server announced.
    if (decoding_ && equals_ignore_ascii_case(name, "Content-Length") && is_content_encoded()) return std::nullopt;
    for (const auto& [key, value] : headers_) {
      if (equals_ignore_ascii_case(key, name)) return value;
    }
    return std::nullopt;
  }

  Expected<std::size_t, PipelineError> read(std::span<char> buffer) {
    if (buffer.empty()) return std::size_t{0};
    // Bytes held over from the last read come first; the rest of the buffer is filled from the
    // transfer, so the caller gets whole buffers until the end of the body.
    const std::size_t held = take_spill(buffer);
    if (held == buffer.size()) return held;
    if (!stalled_ && !done_) {
      dest_ = buffer.data();
      dest_capacity_ = buffer.size();
      dest_filled_ = held;
      // Only time spent waiting inside read() counts against the stall limit.
      last_activity_ = Clock::now();
      if (paused_) {
        // libcurl hands the held bytes over again from inside this call, straight into dest_.
        paused_ = false;
        const CURLcode resumed = curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
        rethrow_callback_fault();
        if (resumed != CURLE_OK) {
          done_ = true;
          result_ = resumed;
        }
      }
      pump(&Impl::buffer_full);
    }
    const std::size_t count = std::max(held, dest_filled_);
    dest_ = nullptr;
    dest_capacity_ = dest_filled_ = 0;

    // Bytes that arrived before a failure are handed over; the failure comes with the next read.
    if (count > 0) return count;
    if (stalled_ || (done_ && result_ != CURLE_OK)) return read_failure();
    return std::size_t{0};
  }

 private:
  Impl() = default;

  // The caller's headers as libcurl's list; CURLE_OK, or why they cannot be sent.
  CURLcode add_request_headers(const HttpRequest& request);
  // Every option of the transfer; CURLE_OK, or the first option libcurl refused.
  CURLcode set_options(const HttpRequest& request, Connection connection);

  Unexpected<PipelineError> read_failure() const {
    return step_failure(FailureReason::kBodyRead, static_cast<std::uint32_t>(failure()));
  }

  void stall(CURLcode reason) {
    stalled_ = true;
    stall_reason_ = reason;
  }

  bool is_content_encoded() const {
    for (const auto& [key, value] : headers_) {
      if (equals_ignore_ascii_case(key, "Content-Encoding") && !equals_ignore_ascii_case(value, "identity"))
        return true;
    }
    return false;
  }

  // Moves held-over bytes to the front of `buffer`; gives their count.
  std::size_t take_spill(std::span<char> buffer) {
    const std::size_t count = std::min(buffer.size(), spill_.size() - spill_pos_);
    if (count == 0) return 0;
    std::memcpy(buffer.data(), spill_.data() + spill_pos_, count);
    spill_pos_ += count;
    if (spill_pos_ == spill_.size()) {
      spill_.clear();  // keeps the capacity
      spill_pos_ = 0;
    }
    return count;
  }

  bool head_received() const { return head_complete_; }
  bool buffer_full() const { return dest_filled_ == dest_capacity_; }

  // Drives the transfer until `ready` holds, it ends or stalls. (Not a template: one copy of
  // this loop serves every wait, which the exe would otherwise carry once per condition.)
  void pump(bool (Impl::*ready)() const) {
    while (!(this->*ready)() && !done_ && !stalled_) {
      int running = 0;
      const CURLMcode performed = curl_multi_perform(multi_.get(), &running);
      rethrow_callback_fault();
      if (performed != CURLM_OK) {
        stall(performed == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT);
        return;
      }
      collect_result();
      if ((this->*ready)() || done_) return;

      const auto now = Clock::now();
      auto wait = kMaxWaitSlice;
      // While a connection is being made, libcurl's own connect time-out is the limit.
      if (!connecting_) {
        const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(now - last_activity_);
        if (idle >= read_timeout_) {
          stall(CURLE_OPERATION_TIMEDOUT);
          return;
        }
        wait = std::min(wait, read_timeout_ - idle);
      }
      curl_multi_poll(multi_.get(), nullptr, 0, static_cast<int>(std::max<long long>(wait.count(), 1)), nullptr);
    }
  }

  void collect_result() {
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(multi_.get(), &queued)) {
      if (message->msg == CURLMSG_DONE) {
        done_ = true;
        result_ = message->data.result;
      }
    }
  }

  // libcurl is C code: no exception may unwind through it (the Windows build of it has no
  // unwind tables). A callback that throws keeps the exception and makes libcurl abort the
  // transfer; the exception continues from here once libcurl has returned.
  template <class Body>
  static std::size_t guarded(Impl* self, Body body) noexcept {
    try {
      return body();
    } catch (...) {
      self->callback_fault_ = std::current_exception();
      return CURL_WRITEFUNC_ERROR;
    }
  }

  void rethrow_callback_fault() {
    if (callback_fault_) {
      done_ = true;
      result_ = CURLE_WRITE_ERROR;
      std::rethrow_exception(std::exchange(callback_fault_, nullptr));
    }
  }

  // Called before each request of the redirect chain, once its connection is up or reused;
  // until the first call libcurl's connect time-out (which covers the TLS handshake) applies.
  static int on_request_ready(void* self_ptr, char*, char*, int, int) noexcept {
    auto* self = static_cast<Impl*>(self_ptr);
    self->connecting_ = false;
    self->last_activity_ = Clock::now();
    return CURL_PREREQFUNC_OK;
  }

  // libcurl passes every header line of every answer in the redirect chain; only the block of
  // the final answer is kept.
  static std::size_t on_header(char* data, std::size_t size, std::size_t count, void* self_ptr) noexcept {
    return guarded(static_cast<Impl*>(self_ptr), [&] { return take_header(data, size, count, self_ptr); });
  }

  static std::size_t take_header(char* data, std::size_t size, std::size_t count, void* self_ptr) {
    auto* self = static_cast<Impl*>(self_ptr);
    const std::size_t bytes = size * count;
    self->last_activity_ = Clock::now();
    if (self->head_complete_) return bytes;  // trailers of a chunked body
    const std::string_view line(data, bytes);

    if (line.starts_with("HTTP/")) {
      self->headers_.clear();
      self->block_status_ = parse_status_line(line);
      self->block_has_location_ = false;
    } else if (trim_header_space(line).empty()) {
      // End of one answer's head. libcurl follows every 3xx that carries a Location; anything
      // else at 200 or above is the final answer.
      const int status = self->block_status_;
      const bool redirect = status >= 300 && status < 400 && self->block_has_location_;
      // The stall limit stays on while libcurl reads the body of a redirect before following it.
      if (status >= 200 && !redirect) {
        self->status_ = status;
        self->head_complete_ = true;
      }
    } else if (const auto field = parse_header_field(line)) {
      const auto [name, value] = *field;
      if (equals_ignore_ascii_case(name, "Location") && !value.empty()) self->block_has_location_ = true;
      self->headers_.emplace_back(std::string(name), std::string(value));
    }
    return bytes;
  }

  static std::size_t on_body(char* data, std::size_t size, std::size_t count, void* self_ptr) noexcept {
    return guarded(static_cast<Impl*>(self_ptr), [&] { return take_body(data, size, count, self_ptr); });
  }

  static std::size_t take_body(char* data, std::size_t size, std::size_t count, void* self_ptr) {
    auto* self = static_cast<Impl*>(self_ptr);
    const std::size_t bytes = size * count;
    self->last_activity_ = Clock::now();
    self->head_complete_ = true;
    const std::size_t dest_room = self->dest_ != nullptr ? self->dest_capacity_ - self->dest_filled_ : 0;
    const std::size_t spill_room = kSpillCapacity - std::min(kSpillCapacity, self->spill_.size());
    // libcurl takes a chunk whole or not at all: one that does not fit waits, paused, until the
    // next read() has handed over what is already here. With nothing here it is always taken
    // (growing the spill, should libcurl ever pass more than it promises) so the transfer moves.
    // Once the caller's buffer is full the next chunk waits in libcurl too: setting whole chunks
    // aside here would copy a fast download's bytes twice.
    const bool pending = self->dest_filled_ > 0 || self->spill_pos_ < self->spill_.size();
    if (pending && (dest_room == 0 || bytes > dest_room + spill_room)) {
      self->paused_ = true;
      return CURL_WRITEFUNC_PAUSE;
    }
    const std::size_t taken = std::min(bytes, dest_room);
    if (taken > 0) {
      std::memcpy(self->dest_ + self->dest_filled_, data, taken);
      self->dest_filled_ += taken;
    }
    if (taken < bytes) self->spill_.insert(self->spill_.end(), data + taken, data + bytes);
    return bytes;
  }

  std::unique_ptr<curl_slist, SlistDeleter> request_headers_;
  std::unique_ptr<CURLM, MultiDeleter> multi_;
  std::unique_ptr<CURL, EasyDeleter> easy_;
  std::chrono::milliseconds read_timeout_{};
  Clock::time_point last_activity_{};
  bool connecting_ = true;
  // The request names no range or encoding of its own, so a gzip answer may be asked for.
  bool may_decode_ = true;
  bool decoding_ = false;

  // Head of the answer being received, then of the final answer.
  int block_status_ = 0;
  bool block_has_location_ = false;
  int status_ = 0;
  bool head_complete_ = false;
  std::vector<std::pair<std::string, std::string>> headers_;

  // End of the transfer: libcurl's result, or a stall detected here.
  bool done_ = false;
  CURLcode result_ = CURLE_OK;
  bool stalled_ = false;
  CURLcode stall_reason_ = CURLE_OK;
  // libcurl holds a chunk that did not fit; read() resumes the transfer.
  bool paused_ = false;
  // An exception a callback caught at libcurl's border, thrown again after libcurl returned.
  std::exception_ptr callback_fault_;

  // The caller's buffer during read(), and body bytes that did not fit in it.
  char* dest_ = nullptr;
  std::size_t dest_capacity_ = 0;
  std::size_t dest_filled_ = 0;
  std::vector<char> spill_;
  std::size_t spill_pos_ = 0;
};

std::unique_ptr<HttpResponse::Impl> HttpResponse::Impl::start(const HttpRequest& request, CURLcode& failure,
                                                              Connection connection) {
  global_init_once();
  failure = CURLE_FAILED_INIT;
  std::unique_ptr<Impl> self(new Impl());
  self->read_timeout_ = std::max(request.read_timeout, std::chrono::milliseconds(1));
  self->spill_.reserve(kSpillCapacity);
  self->multi_.reset(curl_multi_init());
  self->easy_.reset(curl_easy_init());
  if (!self->multi_ || !self->easy_) return nullptr;

  failure = self->add_request_headers(request);
  if (failure == CURLE_OK) failure = self->set_options(request, connection);
  if (failure != CURLE_OK) return nullptr;

  if (curl_multi_add_handle(self->multi_.get(), self->easy_.get()) != CURLM_OK) {
    // Nothing to remove in the destructor.
    self->easy_.reset();
    failure = CURLE_FAILED_INIT;
    return nullptr;
  }
  self->last_activity_ = Clock::now();
  if (connection != Connection::kRequest) {
    self->wait_for_head();  // no head ever comes: this waits for the end of the handshake
    failure = self->stalled_ ? self->stall_reason_ : self->result_;
  }
  return self;
}

CURLcode HttpResponse::Impl::add_request_headers(const HttpRequest& request) {
  for (const auto& [name, value] : request.headers) {
    if (name.empty() || name.find(':') != std::string::npos || !is_header_safe(name) || !is_header_safe(value)) {
      return CURLE_BAD_FUNCTION_ARGUMENT;
    }
    may_decode_ =
        may_decode_ && !equals_ignore_ascii_case(name, "Range") && !equals_ignore_ascii_case(name, "Accept-Encoding");
    std::string line = name;
    line.append(": ").append(value);
    // Appending returns the head of the list: the new node only when the list was empty.
    curl_slist* head = curl_slist_append(request_headers_.get(), line.c_str());
    if (head == nullptr) return CURLE_FAILED_INIT;
    if (!request_headers_) request_headers_.reset(head);
  }
  return CURLE_OK;
}

CURLcode HttpResponse::Impl::set_options(const HttpRequest& request, Connection connection) {
  CURL* easy = easy_.get();
  const std::string_view roots = built_in_ca_pem();
  curl_blob ca_blob{const_cast<char*>(roots.data()), roots.size(), CURL_BLOB_NOCOPY};

  // The first option libcurl refuses is the reason; none is set after it.
  CURLcode failure = CURLE_OK;
  auto set = [&](CURLoption option, auto value) {
    if (failure == CURLE_OK) failure = curl_easy_setopt(easy, option, value);
  };
  set(CURLOPT_URL, request.url.c_str());
  set(CURLOPT_USERAGENT, kUserAgent.data());  // a literal, so it ends with a NUL
  set(CURLOPT_NOSIGNAL, 1L);
  set(CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  set(CURLOPT_FOLLOWLOCATION, 1L);
  set(CURLOPT_MAXREDIRS, kMaxRedirects);
  set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
#ifndef OMBREL_CURL_WITHOUT_PROXY
  // An empty proxy overrides http_proxy/https_proxy/all_proxy from the environment.
  set(CURLOPT_PROXY, "");
#endif
  set(CURLOPT_PROTOCOLS_STR, "https");
  set(CURLOPT_REDIR_PROTOCOLS_STR, "https");
  set(CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
  set(CURLOPT_SSL_VERIFYPEER, connection == Connection::kReadCertificate ? 0L : 1L);
  set(CURLOPT_SSL_VERIFYHOST, connection == Connection::kRequest ? 2L : 0L);
  if (connection != Connection::kRequest) set(CURLOPT_CONNECT_ONLY, 1L);
  if (connection == Connection::kReadCertificate) set(CURLOPT_CERTINFO, 1L);
  // Left at their defaults, the file and folder of the system bundle would be trusted as well.
  set(CURLOPT_CAINFO, static_cast<const char*>(nullptr));
  // Schannel has no CA folder at all and says so; that is as good as clearing it.
  const CURLcode capath = curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  if (capath != CURLE_NOT_BUILT_IN && failure == CURLE_OK) failure = capath;
  set(CURLOPT_CAINFO_BLOB, &ca_blob);
#ifdef _WIN32
  // Our roots carry no revocation data Schannel could always reach; an unreachable CRL server
  // must not block the install.
  set(CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
#endif
  set(CURLOPT_BUFFERSIZE, kReceiveBufferSize);
  if (may_decode_) {
    // A compressed answer to a range request would mix encoded offsets with decoded bytes.
    set(CURLOPT_ACCEPT_ENCODING, "gzip");
    decoding_ = true;
  }
  if (request_headers_) set(CURLOPT_HTTPHEADER, request_headers_.get());
  set(CURLOPT_PREREQFUNCTION, &Impl::on_request_ready);
  set(CURLOPT_PREREQDATA, static_cast<void*>(this));
  set(CURLOPT_HEADERFUNCTION, &Impl::on_header);
  set(CURLOPT_HEADERDATA, static_cast<void*>(this));
  set(CURLOPT_WRITEFUNCTION, &Impl::on_body);
  set(CURLOPT_WRITEDATA, static_cast<void*>(this));
  return failure;
}

namespace {

// The value of a certificate's "Name:value" line in libcurl's list whose name begins with
// `start`, empty when it has none. (OpenSSL writes "Start date", libcurl's own reader "Start
// Date": the first word tells them apart from the other lines.)
std::string_view field(const curl_slist* line, const char* start) {
  for (; line != nullptr; line = line->next) {
    const char* colon = std::strchr(line->data, ':');
    if (colon != nullptr && std::strncmp(line->data, start, std::strlen(start)) == 0) return colon + 1;
  }
  return {};
}

// For a request to `url` that libcurl refused with CURLE_PEER_FAILED_VERIFICATION, `clock`
// being this machine's clock then: what the certificate said and which check refused it.
// libcurl keeps no certificate of a handshake its checks broke off (neither back end does), so
// it is read again from a handshake without checks. The dates are compared with the clock
// here, the same on both back ends; dates in order, a handshake that checks the chain but not
// the name tells a name mismatch (it completes) from an unknown issuer. Nothing when no
// handshake completes again or the certificate cannot be read. Filled in place: the facts are
// copied often enough as it is.
void examine_refused_certificate(const char* refused_url, std::chrono::sys_seconds clock, OptionalTlsRefusal& refusal) {
  const HttpRequest url{refused_url, {}};
  CURLcode result = CURLE_OK;
  const auto reading = HttpResponse::Impl::start(url, result, Connection::kReadCertificate);
  const curl_certinfo* info = result == CURLE_OK ? reading->certificates() : nullptr;
  if (info == nullptr || info->num_of_certs < 1) return;
  // The server's own certificate: the one that issued none of the others. Schannel lists them
  // in the order of its certificate store, not of the chain.
  const curl_slist* server = info->certinfo[0];
  for (int candidate = info->num_of_certs; candidate-- > 0;) {
    bool issued_another = false;
    for (int other = 0; other < info->num_of_certs; ++other) {
      issued_another |=
          other != candidate && field(info->certinfo[other], "Issuer:") == field(info->certinfo[candidate], "Subject:");
    }
    if (!issued_another) server = info->certinfo[candidate];
  }
  const auto valid_from = certificate_time(field(server, "Start "));
  const auto valid_to = certificate_time(field(server, "Expire "));
  if (!valid_from || !valid_to) return;

  TlsRefusal& facts = refusal.emplace();
  facts.subject = certificate_common_name(field(server, "Subject:"));
  facts.issuer = certificate_common_name(field(server, "Issuer:"));
  facts.valid_from = *valid_from;
  facts.valid_to = *valid_to;
  facts.clock = utc_time(clock);
  // The dates first: with a wrong clock every certificate fails, whatever else is wrong with it.
  if (std::memcmp(facts.clock.data(), facts.valid_from.data(), facts.clock.size()) < 0) {
    facts.check = CertificateCheck::kNotYetValid;
  } else if (std::memcmp(facts.clock.data(), facts.valid_to.data(), facts.clock.size()) > 0) {
    facts.check = CertificateCheck::kExpired;
  } else {
    HttpResponse::Impl::start(url, result, Connection::kCheckChain);
    if (result == CURLE_OK) {
      facts.check = CertificateCheck::kNameMismatch;
    } else if (result != CURLE_PEER_FAILED_VERIFICATION) {
      refusal.reset();  // the server went away in between
    }
  }
}

}  // namespace

HttpResponse::HttpResponse(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HttpResponse::HttpResponse(HttpResponse&&) noexcept = default;
HttpResponse& HttpResponse::operator=(HttpResponse&&) noexcept = default;
HttpResponse::~HttpResponse() = default;

int HttpResponse::status() const { return impl_->status(); }

std::optional<std::string> HttpResponse::header(std::string_view name) const { return impl_->header(name); }

Expected<std::size_t, PipelineError> HttpResponse::read(std::span<char> buffer) { return impl_->read(buffer); }

Expected<HttpResponse, PipelineError> http_get(const HttpRequest& request) {
  CURLcode failure = CURLE_OK;
  auto impl = HttpResponse::Impl::start(request, failure);
  if (!impl) return step_failure(FailureReason::kTransport, static_cast<std::uint32_t>(failure));
  if (impl->wait_for_head()) return HttpResponse(std::move(impl));

  const CURLcode code = impl->failure();
  auto transport_failure = step_failure(FailureReason::kTransport, static_cast<std::uint32_t>(code));
  // libcurl's one code for a server certificate refused by any check. (The other certificate
  // codes are about our own files or checks we never ask for: a client certificate (58), the
  // CA file (77), CURLOPT_ISSUERCERT (83), a pinned key (90), OCSP stapling (91); 51 is unused.)
  if (code == CURLE_PEER_FAILED_VERIFICATION) {
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    examine_refused_certificate(impl->effective_url(), now, transport_failure.error.tls_refusal);
  }
  return transport_failure;
}

}  // namespace ombrel
