// vyn view: the inputs served to a browser until Ctrl-C.
#if defined(_WIN32)
#include <windows.h>
// windows.h first
#include <shellapi.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <CLI/CLI.hpp>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "host/cli/command_support.h"
#include "host/cli/commands.h"
#include "host/cli/text_output.h"
#include "host/host_error.h"
#include "host/view/view_server.h"

#if !defined(_WIN32)
extern char** environ;
#endif

namespace {

#if defined(_WIN32)

// The default browser, through the shell's association for the forwarding
// page (an .html file).
bool OpenInBrowser(const std::filesystem::path& page) {
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", page.c_str(), nullptr, nullptr, SW_SHOWNORMAL));
  return result > 32;
}

// A directory of our own in the user's temporary directory, which only the
// user may read; false when none can be made.
bool MakePrivateDirectory(std::filesystem::path& made) {
  std::error_code failed;
  const std::filesystem::path base = std::filesystem::temp_directory_path(failed);
  if (failed) return false;
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::filesystem::path candidate = base / ("vyn-view-" + MakeAccessToken().substr(0, 12));
    if (CreateDirectoryW(candidate.c_str(), nullptr)) {
      made = candidate;
      return true;
    }
  }
  return false;
}

// The file, made anew (never one that is there already).
bool WriteNewFile(const std::filesystem::path& path, const std::string& text) {
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool whole =
      WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
      written == text.size();
  CloseHandle(file);
  return whole;
}

// Ctrl-C, Ctrl-Break and the closing of the console, taken from the console
// handler (which runs on a thread of its own) before the one that ends vyn.
class StopRequest {
 public:
  StopRequest() {
    instance_ = this;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  }
  ~StopRequest() {
    SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
    instance_ = nullptr;
  }
  void Wait() {
    std::unique_lock lock(mutex_);
    asked_.wait(lock, [this] { return stop_; });
  }

 private:
  static BOOL WINAPI OnConsoleEvent(DWORD) {
    StopRequest* request = instance_;
    if (request == nullptr) return FALSE;
    {
      const std::lock_guard lock(request->mutex_);
      request->stop_ = true;
    }
    request->asked_.notify_all();
    return TRUE;
  }

  static inline StopRequest* instance_ = nullptr;
  std::mutex mutex_;
  std::condition_variable asked_;
  bool stop_ = false;
};

#else

// Hands the forwarding page to xdg-open when there is a desktop to open it
// on. The opener runs on its own (a browser started by it may stay for as
// long as it is open), with the signals this process holds back unblocked
// again.
bool OpenInBrowser(const std::filesystem::path& page) {
  const char* display = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0'))
    return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
  std::string program = "xdg-open";
  std::string argument = page.string();
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t child = 0;
  const int failed = posix_spawnp(&child, "xdg-open", &actions, &attributes, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) return false;
  std::thread([child] {
    int status = 0;
    waitpid(child, &status, 0);
  }).detach();
  return true;
}

// A directory of our own (mode 0700) in the user's runtime directory, or
// else the temporary one; false when none can be made.
bool MakePrivateDirectory(std::filesystem::path& made) {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code failed;
  std::filesystem::path base = runtime != nullptr && *runtime == '/' ? runtime : "";
  if (base.empty() || !std::filesystem::is_directory(base, failed))
    base = std::filesystem::temp_directory_path(failed);
  if (failed) return false;
  std::string name = (base / "vyn-view-XXXXXX").string();
  if (mkdtemp(name.data()) == nullptr) return false;
  made = name;
  return true;
}

// The file, made anew (never one that is there already, nor through a
// link), readable by the user alone.
bool WriteNewFile(const std::filesystem::path& path, const std::string& text) {
  const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (file < 0) return false;
  const bool whole = write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  return close(file) == 0 && whole;
}

// Ctrl-C and termination, taken by the waiting thread alone through
// sigwait, so that the server is stopped cleanly from outside a signal
// handler. Made before any other thread, which then holds them back too.
class StopRequest {
 public:
  StopRequest() {
    sigemptyset(&stopping_);
    sigaddset(&stopping_, SIGINT);
    sigaddset(&stopping_, SIGTERM);
    sigaddset(&stopping_, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopping_, nullptr);
  }
  void Wait() {
    int signal_number = 0;
    sigwait(&stopping_, &signal_number);
  }

 private:
  sigset_t stopping_;
};

#endif

void SayOnError(const std::string& message) { Complain(message); }

// A page that sends the browser on to the tokened address, in a directory
// only the user can read, so that the address never stands on a command
// line (where every user of the machine could read it). Removed when vyn
// view ends.
class ForwardingPage {
 public:
  explicit ForwardingPage(const std::string& address) {
    if (!MakePrivateDirectory(directory_)) return;
    const std::filesystem::path page = directory_ / "open-vyn-view.html";
    const std::string text =
        "<!doctype html>\n<meta charset=\"utf-8\">\n<title>vyn view</title>\n"
        "<meta http-equiv=\"refresh\" content=\"0;url=" +
        address +
        "\">\n"
        "<p><a href=\"" +
        address + "\">Open vyn view</a></p>\n";
    if (WriteNewFile(page, text)) path_ = page;
  }
  ~ForwardingPage() {
    std::error_code ignored;
    if (!directory_.empty()) std::filesystem::remove_all(directory_, ignored);
  }
  ForwardingPage(const ForwardingPage&) = delete;
  ForwardingPage& operator=(const ForwardingPage&) = delete;

  // Empty when it could not be made.
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path directory_;
  std::filesystem::path path_;
};

}  // namespace

CommandRun DeclareView(CLI::App& command) {
  auto request = std::make_shared<ViewRequest>();
  command.add_option("PATH", request->paths, "Archives, pictures and directories of them")
      ->required();
  command.add_flag("-r,--recursive", request->recursive, "Look into subdirectories too");
  command.add_option("--port", request->port, "Port on 127.0.0.1 to serve on (0: a free one)")
      ->type_name("N")
      ->capture_default_str();
  command.add_flag("!--no-open", request->open_browser,
                   "Only print the address; do not open a browser");
  command
      .add_option("--max-pixels", request->max_pixels,
                  "Largest pixel block to decode; larger pictures are refused")
      ->type_name("N")
      ->capture_default_str();
  command.footer(
      R"(Directories are searched for files that a plug-in recognises by their content. The address
printed holds a random access token; requests without it are refused, and nothing but the
inputs is served. Pictures in archives are decoded in memory; nothing is written. Ctrl-C stops.)");
  return [request](const CommandContext& context) { return RunView(context, *request); };
}

int RunView(const CommandContext& context, const ViewRequest& request) {
  if (request.port < 0 || request.port > 65535)
    throw UsageError("--port must be a port number from 1 to 65535, or 0 for a free one");
  if (request.max_pixels == 0) throw UsageError("--max-pixels must be at least 1");
  const PluginSet plugins = PluginsFor(context);
  RequireKind(plugins, PluginKind::kArchive);
  RequireKind(plugins, PluginKind::kImage);

  std::vector<ViewInput> inputs =
      GatherInputs(plugins, request.paths, request.recursive, SayOnError);
  if (inputs.empty()) throw HostError("nothing to view: no archive or picture among the inputs");
  const std::size_t count = inputs.size();

  StopRequest stop;

  ViewOptions options;
  options.max_pixels = request.max_pixels;
  const std::string token = MakeAccessToken();
  ViewServer server(plugins, std::move(inputs), options, token);
  const int port = server.Bind(request.port);
  const std::string address = "http://127.0.0.1:" + std::to_string(port) + "/?t=" + token;
  std::thread serving([&server] { server.Serve(); });

  std::cout << "Viewing " << Counted(count, "input") << " at\n  " << address << '\n';
  std::unique_ptr<ForwardingPage> forwarding;
  if (request.open_browser) forwarding = std::make_unique<ForwardingPage>(address);
  if (forwarding != nullptr && !forwarding->path().empty() && OpenInBrowser(forwarding->path())) {
    std::cout << "Opening it in the default browser.";
  } else {
    std::cout << "Open that address in a browser.";
  }
  std::cout << " Press Ctrl-C to stop." << std::endl;

  stop.Wait();
  server.Stop();
  serving.join();
  std::cout << "Stopped." << std::endl;
  return 0;
}
