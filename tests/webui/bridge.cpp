// A stand-in for a root manager, for testing the module's WebUI in a real
// browser: in the device sandbox it installs the module from its zip, starts
// both daemons with some load, and serves on 127.0.0.1 the module's webroot
// and what a manager's bridge does, running each command with the sandbox's
// /system/bin/sh as root:
//   GET  /<file>   a file of the installed webroot
//   POST /exec     the body is the command; answers {"errno":N,"stdout":...,"stderr":...}
//   GET  /log      the commands run so far, one a line (JSON-escaped)
//   POST /spawn    the body is "NICE\nNAME": an idle process of that name (any
//                  bytes) at that nice value, as a hostile app would start it
//   POST /focus    the body is the focused window's title, for the fake dumpsys
//   POST /quit     ends the sandbox
// It prints "port N token T" once it listens, and ends by itself after
// --seconds. Any program of the machine, and any page in a browser, can reach
// a port of 127.0.0.1: /exec, /log and /quit answer only a request with the
// header "X-Bridge-Token: T" (a page elsewhere cannot send one unasked).
// How a manager hands the reply to the page is the browser test's stand-in
// (tests/webui/webui_test.mjs): this only runs the command.
//   vmk_webui_bridge [--seconds 300]
#include <netinet/in.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json_text.h"
#include "sandbox.h"

namespace {

using namespace sandbox;

// A JSON string with its quotes, written as the status command writes its texts.
std::string json_quoted(const std::string& text) {
  std::string out = "\"";
  json_string_body(text.data(), text.size(), [&out](const char* part, size_t size) { out.append(part, size); });
  return out + "\"";
}

const std::string module = "/data/adb/modules/vmk";

bool set_up() {
  if (!install_module(VMK_MODULE_ZIP, module)) return false;
  run_command("mkdir", {"mkdir", "-p", "/data/media/0/vmk_params"});
  write_file("/data/media/0/vmk_params/cur_profile", "0\n");
  set_focused_app("com.example.app");
  spawn({"com.example.app", {"com.example.app"}});
  spawn({"com.example.syn", {"com.example.sync"}, true, "", false, "", 2});
  // A name that would be markup, were the page to take it as such.
  spawn({"<b>x</b><i>", {"<script>alert(1)</script>"}, true});
  // As a manager runs a module's commands; the kernel log is the sandbox's.
  setenv("VMK_KERNEL_LOG", (std::string(control_dir) + "/kmsg.log").c_str(), 1);
  for (const char* daemon : {"vmkd", "calmd"})
    run_command("/system/bin/sh", {"sh", module + "/control.sh", "start", daemon}, 30000);
  return true;
}

std::string content_type(const std::string& path) {
  if (path.size() > 5 && path.compare(path.size() - 5, 5, ".html") == 0) return "text/html; charset=utf-8";
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".css") == 0) return "text/css; charset=utf-8";
  if (path.size() > 3 && path.compare(path.size() - 3, 3, ".js") == 0) return "text/javascript; charset=utf-8";
  return "application/octet-stream";
}

void answer(int fd, int code, const std::string& type, const std::string& body) {
  std::string head = "HTTP/1.1 " + std::to_string(code) +
                     (code == 200   ? " OK"
                      : code == 403 ? " Forbidden"
                                    : " Not Found") +
                     "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
                     "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
  head += body;
  for (size_t at = 0; at < head.size();) {
    const ssize_t n = write(fd, head.data() + at, head.size() - at);
    if (n <= 0) return;
    at += static_cast<size_t>(n);
  }
}

// A header's value from the lowercased head; "" when absent.
std::string header(const std::string& head, const char* name) {
  const std::string key = std::string("\r\n") + name + ":";
  size_t at = head.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  while (at < head.size() && head[at] == ' ') ++at;
  return head.substr(at, head.find("\r\n", at) - at);
}

// One request, whole: its line and headers, and a body of Content-Length bytes.
bool read_request(int fd, std::string* method, std::string* path, std::string* token, std::string* body) {
  std::string text;
  char buffer[4096];
  size_t head_end = std::string::npos;
  long length = 0;
  for (;;) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 5000) <= 0) return false;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return false;
    text.append(buffer, static_cast<size_t>(n));
    if (text.size() > (1 << 20)) return false;
    if (head_end == std::string::npos && (head_end = text.find("\r\n\r\n")) != std::string::npos) {
      // Header names are not case-sensitive.
      std::string head = text.substr(0, head_end);
      for (char& c : head) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      length = atol(header(head, "content-length").c_str());
      *token = header(head, "x-bridge-token");
      if (length < 0) return false;
    }
    if (head_end != std::string::npos && text.size() >= head_end + 4 + static_cast<size_t>(length)) break;
  }
  const size_t space = text.find(' '), second = text.find(' ', space + 1);
  if (space == std::string::npos || second == std::string::npos) return false;
  *method = text.substr(0, space);
  *path = text.substr(space + 1, second - space - 1);
  *body = text.substr(head_end + 4, static_cast<size_t>(length));
  return true;
}

std::string random_token() {
  unsigned char bytes[16];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return "";
  std::string token;
  for (unsigned char b : bytes) {
    token += "0123456789abcdef"[b >> 4];
    token += "0123456789abcdef"[b & 15];
  }
  return token;
}

int serve(int seconds) {
  const std::string secret = random_token();
  if (secret.empty()) return 1;
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener, 16) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
    return 1;
  printf("port %i token %s\n", ntohs(address.sin_port), secret.c_str());
  fflush(stdout);
  std::string log;
  const long long end = monotonic_ms() + seconds * 1000LL;
  while (monotonic_ms() < end) {
    pollfd p = {listener, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::string method, path, token, body;
    if (read_request(fd, &method, &path, &token, &body)) {
      const bool trusted = token == secret;
      if (!trusted && path != "/" && path.find('.') == std::string::npos) {
        answer(fd, 403, "text/plain", "no\n");
      } else if (method == "POST" && path == "/exec") {
        log += json_quoted(body) + "\n";
        const command_result r = run_command("/system/bin/sh", {"sh", "-c", body}, 60000);
        answer(fd, 200, "application/json",
               "{\"errno\":" + std::to_string(r.status) + ",\"stdout\":" + json_quoted(r.out) +
                   ",\"stderr\":" + json_quoted(r.err) + "}");
      } else if (method == "POST" && path == "/spawn") {
        const size_t line = body.find('\n');
        spawn_spec app{line == std::string::npos ? "" : body.substr(line + 1)};
        app.main_nice = line == std::string::npos ? 0 : atoi(body.substr(0, line).c_str());
        // Set after the start, the value would race calmd's pass: seen at 0 first, the process is left at 0 unlogged.
        const pid_t pid = line == std::string::npos ? -1 : spawn(app);
        answer(fd, 200, "text/plain", std::to_string(pid) + "\n");
      } else if (method == "POST" && path == "/focus") {
        set_focused_windows({body});
        answer(fd, 200, "text/plain", "ok\n");
      } else if (method == "GET" && path == "/log") {
        answer(fd, 200, "text/plain; charset=utf-8", log);
      } else if (method == "POST" && path == "/quit") {
        answer(fd, 200, "text/plain", "bye\n");
        close(fd);
        break;
      } else if (method == "GET" && path.find("..") == std::string::npos) {
        const std::string file = module + "/webroot" + (path == "/" ? "/index.html" : path);
        if (exists(file))
          answer(fd, 200, content_type(file), read_file(file));
        else
          answer(fd, 404, "text/plain", "not found\n");
      } else {
        answer(fd, 404, "text/plain", "not found\n");
      }
    }
    close(fd);
  }
  close(listener);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int seconds = 300;
  if (argc == 3 && strcmp(argv[1], "--seconds") == 0) seconds = atoi(argv[2]);
  if (seconds <= 0) {
    fputs("usage: vmk_webui_bridge [--seconds 300]\n", stderr);
    return 2;
  }
  set_standin_program(SB_PROC_BINARY);
  options o;
  o.read_only_binds = {VMK_BUILD_DIR};
  o.timeout_seconds = seconds + 60;
  return run(o, [&] { return set_up() ? serve(seconds) : 3; });
}
