// Download throughput of the installer's downloader against a plain libcurl loop (the same
// libcurl, a 64 KiB buffer, each callback's bytes written as they come) and the curl
// command-line tool, all fetching the same large file from nginx over HTTPS on loopback, in
// interleaved rounds (the order rotates every round); every output is compared with the served
// file. Each round gives ratios against the other two, and the medians of those per-round ratios
// are the result, so a slow spell of the machine weighs on one round only. Also measures how
// often progress is reported and how many bytes a killed-and-resumed download receives twice.
// Linux only; needs nginx, curl and openssl (tools/testhost/nginx.sh).
//
//   download_bench [--size-mib N] [--runs N]
//
// Each download runs in a child process so its CPU time and peak memory come from wait4().
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/build_config.h"
#include "pipeline/downloader.h"
#include "pipeline/installer_file.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kMB = 1e6;

// Stops the host when the benchmark has to give up half-way.
std::function<void()> stop_host = [] {};

[[noreturn]] void die(const std::string& message) {
  std::cerr << "download_bench: " << message << '\n';
  std::exchange(stop_host, [] {})();
  std::exit(2);
}

// ---------------------------------------------------------------- child processes

struct ChildResult {
  int status = 0;
  double seconds = 0;
  double cpu_seconds = 0;
  double peak_rss_mb = 0;
  std::string output;  // the child's standard output
};

// Starts a program; its standard output goes to `stdout_fd` when given, or with `discard` both
// its output streams go nowhere.
pid_t spawn(const std::vector<std::string>& args, int stdout_fd = -1, bool discard = false) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (stdout_fd >= 0) posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
  if (discard) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int error = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) die("cannot start " + args[0] + ": " + std::strerror(error));
  return pid;
}

ChildResult wait_child(pid_t pid, Clock::time_point started, int output_fd = -1) {
  ChildResult result;
  if (output_fd >= 0) {
    char chunk[4096];
    ssize_t got = 0;
    while ((got = read(output_fd, chunk, sizeof chunk)) > 0) result.output.append(chunk, static_cast<std::size_t>(got));
    close(output_fd);
  }
  struct rusage usage {};
  if (wait4(pid, &result.status, 0, &usage) != pid) die("wait4 failed");
  result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const auto seconds = [](const timeval& t) {
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
  };
  result.cpu_seconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
  result.peak_rss_mb = static_cast<double>(usage.ru_maxrss) * 1024 / kMB;
  return result;
}

ChildResult run(const std::vector<std::string>& args) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) die("pipe failed");
  const auto started = Clock::now();
  const pid_t pid = spawn(args, pipe_fds[1]);
  close(pipe_fds[1]);
  return wait_child(pid, started, pipe_fds[0]);
}

// ---------------------------------------------------------------- the downloader's side

// Counts the progress reports the download sends.
struct CountingReporter final : ombrel::StageReporter {
  void send_stage(ombrel::InstallStage) override { ++reports; }
  long reports = 0;
};

// Child mode: one download as the installer does it, counting the progress reports.
int child_download(const std::string& url, const std::string& folder) {
  CountingReporter counter;
  ombrel::DownloadOptions options;
  options.folder = folder;
  const auto started = Clock::now();
  ombrel::RunRecord record;
  const auto result = ombrel::download_installer(url, counter, record, options);
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  std::cout << "reports " << counter.reports << " seconds " << seconds << std::endl;
  return result.has_value() ? 0 : 1;
}

// ---------------------------------------------------------------- the plain libcurl loop

// Child mode: the simplest full-speed use of the same libcurl, as a yardstick: one easy
// transfer with the same roots and HTTP/1.1, a 64 KiB receive buffer, and every callback's
// bytes written to the file at once.
int child_plain(const std::string& url, const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  CURL* easy = curl_easy_init();
  const std::string_view roots = ombrel::built_in_ca_pem();
  curl_blob ca_blob{const_cast<char*>(roots.data()), roots.size(), CURL_BLOB_NOCOPY};
  const auto write_all = +[](char* data, std::size_t size, std::size_t count, void* out) -> std::size_t {
    const std::size_t bytes = size * count;
    for (std::size_t done = 0; done < bytes;) {
      const ssize_t wrote = write(*static_cast<int*>(out), data + done, bytes - done);
      if (wrote <= 0) return 0;
      done += static_cast<std::size_t>(wrote);
    }
    return bytes;
  };
  int out = fd;
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_CAINFO, static_cast<const char*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_CAPATH, static_cast<const char*>(nullptr));
  curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &ca_blob);
  curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, 65536L);
  curl_easy_setopt(easy, CURLOPT_FAILONERROR, 1L);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, write_all);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, static_cast<void*>(&out));
  const CURLcode result = curl_easy_perform(easy);
  curl_easy_cleanup(easy);
  return close(fd) == 0 && result == CURLE_OK ? 0 : 1;
}

// ---------------------------------------------------------------- the host

bool port_open(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return open;
}

void write_text(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

// The served file: pseudo-random bytes, so nothing on the way can compress it.
void make_payload(const fs::path& path, std::uint64_t size) {
  std::ofstream out(path, std::ios::binary);
  std::vector<std::uint64_t> chunk(1 << 17);
  std::mt19937_64 random(42);
  for (std::uint64_t written = 0; written < size;) {
    for (auto& word : chunk) word = random();
    const std::uint64_t n = std::min<std::uint64_t>(chunk.size() * 8, size - written);
    out.write(reinterpret_cast<const char*>(chunk.data()), static_cast<std::streamsize>(n));
    written += n;
  }
  if (!out) die("cannot write the payload");
}

// Debian's nginx through the project's starter script, with a "localhost" certificate from the
// build's test CA (which test builds trust).
class Nginx {
 public:
  Nginx(const fs::path& state, const fs::path& www) : state_(state) {
    const std::string ca_dir = OMBREL_TEST_CA_DIR;
    // Not run(): the daemon would keep the output pipe open. The script leaves the port in a file.
    const pid_t script =
        spawn({"bash", OMBREL_NGINX_SCRIPT, "start", "--state-dir", state.string(), "--root", www.string(), "--ca-cert",
               ca_dir + "/ca.pem", "--ca-key", ca_dir + "/ca.key", "--no-gzip"},
              -1, true);
    const ChildResult started = wait_child(script, Clock::now());
    if (!WIFEXITED(started.status) || WEXITSTATUS(started.status) != 0) die("nginx did not start");
    stop_host = [state] {
      wait_child(spawn({"bash", OMBREL_NGINX_SCRIPT, "stop", "--state-dir", state.string()}, -1, true), Clock::now());
    };
    std::ifstream(state / "port") >> port_;
    const auto deadline = Clock::now() + 10s;
    while (!port_open(port_)) {
      if (Clock::now() > deadline) die("nginx does not listen; see " + (state / "error.log").string());
      std::this_thread::sleep_for(20ms);
    }
  }
  ~Nginx() {
    std::exchange(stop_host, [] {})();
  }

  int port() const { return port_; }

  // Body bytes nginx sent for GET requests of `uri` (combined log format).
  std::uint64_t bytes_sent(const std::string& uri) const {
    std::ifstream log(state_ / "access.log");
    const std::string request = "\"GET " + uri + " HTTP/1.1\" ";
    std::uint64_t total = 0;
    for (std::string line; std::getline(log, line);) {
      const std::size_t at = line.find(request);
      if (at == std::string::npos) continue;
      std::istringstream rest(line.substr(at + request.size()));
      int status = 0;
      std::uint64_t sent = 0;
      if (rest >> status >> sent) total += sent;
    }
    return total;
  }

 private:
  fs::path state_;
  int port_ = 0;
};

// ---------------------------------------------------------------- measurements

bool same_content(const fs::path& a, const fs::path& b) {
  std::ifstream x(a, std::ios::binary);
  std::ifstream y(b, std::ios::binary);
  std::vector<char> bx(1 << 20);
  std::vector<char> by(1 << 20);
  while (x && y) {
    x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
    y.read(by.data(), static_cast<std::streamsize>(by.size()));
    if (x.gcount() != y.gcount() || !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin())) return false;
  }
  return x.eof() && y.eof();
}

struct Sample {
  double mb_per_s = 0;
  double cpu_seconds = 0;
  double peak_rss_mb = 0;
  double reports_per_s = 0;
};

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Median and quartiles of per-round ratios, as "1.02 (IQR 0.98-1.05)".
std::string spread(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  char text[64];
  std::snprintf(text, sizeof text, "%.2f (IQR %.2f-%.2f)", values[values.size() / 2], values[values.size() / 4],
                values[(values.size() * 3) / 4]);
  return text;
}

Sample median_of(const std::vector<Sample>& samples) {
  const auto pick = [&](double Sample::*field) {
    std::vector<double> values;
    values.reserve(samples.size());
    for (const Sample& s : samples) values.push_back(s.*field);
    return median(values);
  };
  return {pick(&Sample::mb_per_s), pick(&Sample::cpu_seconds), pick(&Sample::peak_rss_mb),
          pick(&Sample::reports_per_s)};
}

Sample sample_of(const ChildResult& result, std::uint64_t size) {
  if (!WIFEXITED(result.status) || WEXITSTATUS(result.status) != 0) die("a download failed");
  Sample sample{static_cast<double>(size) / kMB / result.seconds, result.cpu_seconds, result.peak_rss_mb, 0};
  long reports = 0;
  double seconds = 0;
  std::string word;
  std::istringstream output(result.output);
  if (output >> word >> reports >> word >> seconds && seconds > 0)
    sample.reports_per_s = static_cast<double>(reports) / seconds;
  return sample;
}

void print(const char* name, const Sample& s) {
  std::printf("%-6s %8.1f MB/s  cpu %5.2f s  peak rss %6.1f MB", name, s.mb_per_s, s.cpu_seconds, s.peak_rss_mb);
  if (s.reports_per_s > 0) std::printf("  %4.1f reports/s", s.reports_per_s);
  std::printf("\n");
  std::fflush(stdout);
}

// One run's settings from the command line.
struct Options {
  std::uint64_t size_mib = 1024;
  int runs = 5;
};

Options parse_options(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--size-mib") {
      options.size_mib = std::stoull(argv[i + 1]);
    } else if (option == "--runs") {
      options.runs = std::stoi(argv[i + 1]);
    } else {
      die("unknown option " + option);
    }
  }
  return options;
}

// Every client's samples, and per round our throughput and CPU time over the plain loop's and curl's.
struct Rounds {
  std::vector<Sample> ours;
  std::vector<Sample> plain;
  std::vector<Sample> curl;
  std::vector<double> speed_vs_plain;
  std::vector<double> speed_vs_curl;
  std::vector<double> cpu_vs_plain;
  std::vector<double> cpu_vs_curl;
};

// What every round shares: this program, the work folder, the served file's URL and size, curl's roots.
struct Setup {
  std::string self;
  fs::path work;
  std::string url;
  std::string ca;
  std::uint64_t size = 0;
};

// The three clients in turn, the order rotating from round to round; every output is compared
// with the served file.
Rounds measure_rounds(const Setup& setup, int runs) {
  const fs::path& work = setup.work;
  const fs::path our_file = work / "out" / ombrel::installer_file_name(setup.url);
  const fs::path plain_file = work / "out/plain.bin";
  const fs::path curl_file = work / "out/curl.bin";
  const auto measure = [&](const std::vector<std::string>& command, const fs::path& output) {
    fs::remove(output);
    const Sample sample = sample_of(run(command), setup.size);
    if (!same_content(output, work / "www/payload.bin")) die(output.string() + " differs from the served file");
    fs::remove(output);
    return sample;
  };
  Rounds r;
  for (int i = 0; i < runs; ++i) {
    for (int k = 0; k < 3; ++k) {
      switch ((i + k) % 3) {
        case 0:
          r.ours.push_back(measure({setup.self, "--child-download", setup.url, (work / "out").string()}, our_file));
          print("ours", r.ours.back());
          break;
        case 1:
          r.plain.push_back(measure({setup.self, "--child-plain", setup.url, plain_file.string()}, plain_file));
          print("plain", r.plain.back());
          break;
        default:
          r.curl.push_back(measure(
              {"curl", "--http1.1", "--cacert", setup.ca, "-s", "-f", "-o", curl_file.string(), setup.url}, curl_file));
          print("curl", r.curl.back());
      }
    }
    r.speed_vs_plain.push_back(r.ours.back().mb_per_s / r.plain.back().mb_per_s);
    r.speed_vs_curl.push_back(r.ours.back().mb_per_s / r.curl.back().mb_per_s);
    r.cpu_vs_plain.push_back(r.ours.back().cpu_seconds / r.plain.back().cpu_seconds);
    r.cpu_vs_curl.push_back(r.ours.back().cpu_seconds / r.curl.back().cpu_seconds);
    std::printf("round %d: ours/plain speed %.2f cpu %.2f, ours/curl speed %.2f cpu %.2f\n", i + 1,
                r.speed_vs_plain.back(), r.cpu_vs_plain.back(), r.speed_vs_curl.back(), r.cpu_vs_curl.back());
  }
  return r;
}

// Kills a download at a random point of a typical one, then resumes it in a new process; gives
// the bytes nginx sent twice.
std::uint64_t measure_resume(const Setup& setup, const std::string& origin, const Nginx& nginx,
                             double typical_seconds) {
  const fs::path& work = setup.work;
  const std::string resume_url = origin + "/payload.bin?resume";
  const fs::path resume_file = work / "out" / ombrel::installer_file_name(resume_url);
  std::mt19937 random(std::random_device{}());
  const auto kill_after =
      std::chrono::duration<double>(std::uniform_real_distribution<>(0.1, 0.8)(random) * typical_seconds);
  const auto started = Clock::now();
  const pid_t victim = spawn({setup.self, "--child-download", resume_url, (work / "out").string()});
  std::this_thread::sleep_for(kill_after);
  kill(victim, SIGKILL);
  wait_child(victim, started);
  std::error_code missing;
  const std::uint64_t kept = fs::file_size(resume_file, missing);
  sample_of(run({setup.self, "--child-download", resume_url, (work / "out").string()}), setup.size);
  if (!same_content(resume_file, work / "www/payload.bin")) die("the resumed file differs from the served one");
  std::this_thread::sleep_for(200ms);  // nginx logs a request once it has seen the connection end
  const std::uint64_t sent = nginx.bytes_sent("/payload.bin?resume");
  const std::uint64_t twice = sent > setup.size ? sent - setup.size : 0;
  std::printf("resume: killed after %.2f s with %.1f MB on disk; nginx sent %llu bytes for %llu, %llu twice\n",
              kill_after.count(), static_cast<double>(missing ? 0 : kept) / kMB, static_cast<unsigned long long>(sent),
              static_cast<unsigned long long>(setup.size), static_cast<unsigned long long>(twice));
  return twice;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child-download") return child_download(argv[2], argv[3]);
  if (argc == 4 && std::string(argv[1]) == "--child-plain") return child_plain(argv[2], argv[3]);

  const Options options = parse_options(argc, argv);
  Setup setup;
  setup.size = options.size_mib << 20;
  setup.self = fs::read_symlink("/proc/self/exe").string();
  setup.work = fs::temp_directory_path() / ("ombrel-download-bench-" + std::to_string(getpid()));
  const fs::path& work = setup.work;
  fs::create_directories(work / "www");
  fs::create_directories(work / "out");
  make_payload(work / "www/payload.bin", setup.size);
  std::optional<Nginx> nginx;
  nginx.emplace(work / "nginx", work / "www");
  const std::string origin = "https://localhost:" + std::to_string(nginx->port());
  setup.url = origin + "/payload.bin";
  // curl gets the same roots the product trusts (the Mozilla list plus the test CA): loading
  // them is part of each client's start-up cost and memory.
  setup.ca = (work / "roots.pem").string();
  write_text(setup.ca, std::string(ombrel::built_in_ca_pem()));
  std::printf(
      "payload %llu MiB over HTTPS (nginx, loopback), %d rounds of ours, plain libcurl and curl, "
      "the order rotating\n",
      static_cast<unsigned long long>(options.size_mib), options.runs);

  const Rounds rounds = measure_rounds(setup, options.runs);
  const Sample our_median = median_of(rounds.ours);
  const Sample plain_median = median_of(rounds.plain);
  const Sample curl_median = median_of(rounds.curl);
  const std::uint64_t twice =
      measure_resume(setup, origin, *nginx, static_cast<double>(setup.size) / kMB / our_median.mb_per_s);
  nginx.reset();
  fs::remove_all(work);

  std::printf(
      "median ours: %.1f MB/s, cpu %.2f s, rss %.1f MB | plain libcurl: %.1f MB/s, cpu %.2f s, rss %.1f MB | "
      "curl: %.1f MB/s, cpu %.2f s, rss %.1f MB\n",
      our_median.mb_per_s, our_median.cpu_seconds, our_median.peak_rss_mb, plain_median.mb_per_s,
      plain_median.cpu_seconds, plain_median.peak_rss_mb, curl_median.mb_per_s, curl_median.cpu_seconds,
      curl_median.peak_rss_mb);
  std::printf(
      "SUMMARY download (median of %d per-round ratios) vs plain libcurl: speed %s, cpu %s; vs curl: speed %s, "
      "cpu %s; %.0f MB/s, rss %.1f MB, %.1f progress reports/s, resume re-sent %llu bytes\n",
      options.runs, spread(rounds.speed_vs_plain).c_str(), spread(rounds.cpu_vs_plain).c_str(),
      spread(rounds.speed_vs_curl).c_str(), spread(rounds.cpu_vs_curl).c_str(), our_median.mb_per_s,
      our_median.peak_rss_mb, our_median.reports_per_s, static_cast<unsigned long long>(twice));
  return 0;
}
