// Child processes, padsim and controller lookup for the end-to-end tests.
#include "e2e_support.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace e2e {

std::string hexOf(const std::vector<unsigned char>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string s;
    for (unsigned char b : bytes) {
        s += digits[b >> 4];
        s += digits[b & 15];
    }
    return s;
}

std::string binDir() {
    const char* d = std::getenv("TAVIK_BIN_DIR");
    return d ? d : "";
}

std::string testsDir() {
    return std::filesystem::path(binDir()).parent_path().string() + "/tests";
}

std::string makeTempDir(const std::string& tag) {
    std::string pattern = (std::filesystem::temp_directory_path() / ("tavik-" + tag + "-XXXXXX")).string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back(0);
    if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    return buf.data();
}

void writeFile(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp);
        out << text;
    }
    std::filesystem::rename(tmp, path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Child::Child(const std::string& program, const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&fa, fromChild[1], 1);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        std::string kv = *e;
        bool replaced = false;
        for (auto& o : env)
            if (kv.substr(0, kv.find('=') + 1) == o.substr(0, o.find('=') + 1)) replaced = true;
        if (!replaced) envStore.push_back(kv);
    }
    for (auto& o : env) envStore.push_back(o);
    std::vector<char*> envp;
    for (auto& s : envStore) envp.push_back(s.data());
    envp.push_back(nullptr);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    ::close(toChild[0]);
    ::close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    if (rc != 0) throw std::runtime_error("cannot start " + program);
}

Child::~Child() {
    if (!reaped_) {
        ::kill(pid_, SIGKILL);
        int st = 0;
        ::waitpid(pid_, &st, 0);
    }
    ::close(in_);
    ::close(out_);
}

void Child::send(const std::string& line) {
    std::string l = line + "\n";
    ssize_t n = ::write(in_, l.data(), l.size());
    (void)n;
}

bool Child::readMore(std::chrono::milliseconds bound) {
    pollfd p{out_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(bound.count())) <= 0) return false;
    char buf[4096];
    ssize_t n = ::read(out_, buf, sizeof buf);
    if (n <= 0) return false;
    buffer_.append(buf, static_cast<std::size_t>(n));
    std::size_t nl;
    while ((nl = buffer_.find('\n')) != std::string::npos) {
        lines_.push_back(buffer_.substr(0, nl));
        buffer_.erase(0, nl + 1);
    }
    return true;
}

std::optional<std::string> Child::expect(const std::string& prefix, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        for (auto it = lines_.begin(); it != lines_.end(); ++it) {
            if (it->rfind(prefix, 0) == 0) {
                std::string l = *it;
                lines_.erase(it);
                return l;
            }
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        readMore(left);
    }
}

std::vector<std::string> Child::seen(const std::string& prefix) {
    while (readMore(0ms)) {
    }
    std::vector<std::string> out;
    for (auto& l : lines_)
        if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
}

std::string Child::call(const std::string& command) {
    send(command);
    const std::string verb = command.substr(0, command.find(' '));
    auto line = expect(verb + " ", 60s);
    return line ? *line : verb + " timeout";
}

int Child::result(const std::string& command) {
    std::istringstream in(call(command));
    std::string verb;
    int r = -999;
    in >> verb >> r;
    return r;
}

void Child::kill(int signal) { ::kill(pid_, signal); }

bool Child::waitExit(std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    while (std::chrono::steady_clock::now() < deadline) {
        int st = 0;
        if (::waitpid(pid_, &st, WNOHANG) == pid_) {
            reaped_ = true;
            return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

Padsim::Padsim(const std::string& dir, const std::vector<std::string>& extra) : dir_(dir) {
    std::vector<std::string> args = {"--quiet", "--link", link(), "--control", dir + "/ctl", "--state",
                                     dir + "/state", "--log", dir + "/log"};
    for (auto& e : extra) args.push_back(e);
    const std::string program = binDir() + "/padsim";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (dir + "/padsim.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = ::posix_spawn(&pid_, program.c_str(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) throw std::runtime_error("cannot start padsim");
    waitUntil([&] {
        struct stat st {};
        return ::stat(link().c_str(), &st) == 0 && ::stat((dir_ + "/ctl").c_str(), &st) == 0;
    });
}

Padsim::~Padsim() {
    ::kill(pid_, SIGTERM);
    int st = 0;
    for (int i = 0; i < 200 && ::waitpid(pid_, &st, WNOHANG) != pid_; ++i) std::this_thread::sleep_for(10ms);
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &st, WNOHANG);
}

void Padsim::command(const std::string& line) {
    int fd = ::open((dir_ + "/ctl").c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::string l = line + "\n";
    ssize_t n = ::write(fd, l.data(), l.size());
    (void)n;
    ::close(fd);
}

std::string Padsim::state() const { return readFile(dir_ + "/state"); }
std::string Padsim::log() const { return readFile(dir_ + "/log"); }

bool Padsim::waitState(const std::function<bool(const std::string&)>& pred, std::chrono::milliseconds bound) {
    return waitUntil([&] { return pred(state()); }, bound);
}

std::vector<std::string> Padsim::grid(const std::string& state, const std::string& name) {
    std::istringstream in(state);
    std::string line;
    std::vector<std::string> rows;
    bool inGrid = false;
    while (std::getline(in, line)) {
        if (line == name) {
            inGrid = true;
            continue;
        }
        if (inGrid) {
            if (line.empty() || (line[0] != '.' && line[0] != '#')) break;
            rows.push_back(line);
        }
    }
    return rows;
}

std::string Padsim::value(const std::string& state, const std::string& key) {
    std::istringstream in(state);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(key + " ", 0) == 0) return line.substr(key.size() + 1);
    return {};
}

std::vector<pid_t> controllerPids(const std::string& program, int portIndex) {
    std::vector<pid_t> out;
    DIR* d = ::opendir("/proc");
    if (!d) return out;
    const std::string want = std::filesystem::weakly_canonical(program).string();
    while (dirent* e = ::readdir(d)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) continue;
        std::error_code ec;
        auto exe = std::filesystem::read_symlink("/proc/" + std::string(e->d_name) + "/exe", ec);
        if (ec || exe.string() != want) continue;
        std::string cmd = readFile("/proc/" + std::string(e->d_name) + "/cmdline");
        for (auto& c : cmd)
            if (c == 0) c = ' ';
        std::string stat = readFile("/proc/" + std::string(e->d_name) + "/stat");
        auto close = stat.rfind(')');
        if (close != std::string::npos && close + 2 < stat.size() && stat[close + 2] == 'Z') continue;
        if (cmd.find("/Port:" + std::to_string(portIndex) + " ") != std::string::npos)
            out.push_back(pid);
    }
    ::closedir(d);
    return out;
}

bool waitUntil(const std::function<bool()>& pred, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    for (;;) {
        if (pred()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(20ms);
    }
}

}  // namespace e2e
